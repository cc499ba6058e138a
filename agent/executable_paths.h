#pragma once
// What lies beside the agent's executable, derived from its full path (UTF-8,
// as AgentSettings.modulePath holds it): the worker program, how it is
// started, and the event message library; and whether others could change
// what the service runs, or the service could not reach it at boot.
#include <cstdint>
#include <string>
#include <vector>

#include "security_descriptor_text.h"

// The executable's directory: the path up to its last '\' or '/'. A path
// without either (or an empty one) is used whole.
std::string moduleDirectory(const std::string& modulePath);

// "<directory>\keldraworker.exe".
std::string workerPath(const std::string& modulePath);

// "<directory>\keldraworker.exe" in double quotes, one space, then the
// arguments unchanged. Without the quotes a directory holding a blank would
// make CreateProcessW try "C:\Program.exe" and the like first, in a process
// that has the service account's rights.
std::string workerCommandLine(const std::string& modulePath, const std::string& workerArguments);

// "DEBUG --pid " and the agent's process identifier in full decimal: the
// worker's whole argument text.
std::string workerArgumentsFor(std::uint32_t processId);

// The event message library beside the executable, as the event source
// registers it.
std::wstring eventMessageFilePath(const std::string& modulePath);

// What the service runs with its account's rights: the executable's
// directory (a drive's root with its backslash), the executable, the worker
// and the event message library beside them.
std::vector<std::string> serviceProgramPaths(const std::string& modulePath);

// Someone besides SYSTEM, Administrators, TrustedInstaller and the account
// running INSTALL (an administrator already) who could change a folder or
// file that the service runs: its owner, who may always rewrite its access
// list, or an account or group that an allow entry lets write or append to
// it, delete it or what it holds, change its permissions or take its
// ownership.
struct ProgramChanger {
    std::wstring sid;
    bool owns;
};

// Entries that apply to the object itself count; for a folder, so do those
// that files created in it later inherit, inherit-only or not. CREATOR
// OWNER belongs in inherit-only entries alone (it stands for whoever creates
// a file, who is judged as a writer of the folder), and counts anywhere
// else. Deny entries are not weighed: whether one takes a right away depends
// on groups that the text does not show, and leaving them out can only add
// a warning, never hide one. Each account once, the owner first, then in
// the order of the entries.
std::vector<ProgramChanger> whoElseCanChange(const SecurityDescriptorText& descriptor, bool folder,
                                             const std::wstring& runningAccount);

// name: the account as Windows names it ("BUILTIN\Users", "Everyone").
std::wstring changeableProgramMessage(const std::wstring& name, const std::wstring& path);
std::wstring ownedProgramMessage(const std::wstring& name, const std::wstring& path);

// Where the executable lies, as far as the service manager is concerned: it
// starts services at boot, in logon sessions of their own, where no network
// drive is mapped and no drive made with subst exists (both belong to the
// logon session that made them); a network path may be unreachable then, or
// unreadable for the service's account.
enum class ExecutableLocation { local, networkDrive, networkPath, substitutedDrive };

// The drive letter and colon that a path begins with ("\\?\" or "\\.\"
// ahead of it allowed); empty for a network path or a relative one.
std::wstring driveOf(const std::wstring& path);

// driveIsRemote: what the system says of the path's drive; driveTarget: the
// device that the drive letter names, "\??\<path>" for a drive made with
// subst.
ExecutableLocation executableLocation(const std::wstring& path, bool driveIsRemote,
                                      const std::wstring& driveTarget);

// Empty for a local executable.
std::wstring executableLocationMessage(ExecutableLocation location);
