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

// What a path is to the service: its folder, a program it runs (the
// executable, the worker), the event message library, or a folder above its
// folder, up to the root of the drive or share.
enum class ProgramPart { folder, program, messageLibrary, folderAbove };

struct ProgramPath {
    std::string path;
    ProgramPart part;
};

// The executable's directory (a drive's root with its backslash), the
// executable, the worker and the event message library beside them, then
// each folder above, nearest first.
std::vector<ProgramPath> serviceProgramPaths(const std::string& modulePath);

// Someone besides SYSTEM, Administrators, TrustedInstaller and the account
// running INSTALL (an administrator already) who could change a folder or
// file that the service runs, or swap it for another: its owner, who may
// rewrite its access list, or an account or group that an allow entry lets
// do so. For the folder and the files: write or append to it, delete it or
// what it holds, change its permissions or take its ownership. For a folder
// above: delete or rename it or what it holds (and so put another folder in
// place of the agent's), change its permissions or take its ownership;
// creating files there takes nothing from anyone.
struct ProgramChanger {
    std::wstring sid;
    bool owns;
};

// Entries that apply to the object itself count; for the agent's folder, so
// do those that files created in it later inherit, inherit-only or not.
// CREATOR OWNER is never named: no token holds it, and in an inheritable
// entry it stands for whoever creates a file, who is judged as a writer of
// the folder. OWNER RIGHTS is never named either: an entry for it that
// applies to the object takes the owner's own right to rewrite the access
// list away, so the owner is named only when no such entry applies, or as a
// writer when one grants a right counted here. Deny entries are not weighed:
// whether one takes a right away depends on groups that the text does not
// show, and leaving them out can only add a warning, never hide one. Each
// account once, the owner first, then in the order of the entries.
std::vector<ProgramChanger> whoElseCanChange(const SecurityDescriptorText& descriptor, ProgramPart part,
                                             const std::wstring& runningAccount);

// name: the account as Windows names it ("BUILTIN\Users", "Everyone");
// folder: the agent's folder, which a folder above holds.
std::wstring changerMessage(const std::wstring& name, bool owns, const ProgramPath& path, const std::string& folder);

// What cannot be read is said, since it may hide any of the above; only a
// file not placed yet is passed over. reason: the system's text, or what
// the access list said when it could not be understood.
std::wstring unreadableSecurityMessage(const std::string& path, const std::wstring& reason);

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
