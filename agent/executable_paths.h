#pragma once
// What lies beside the agent's executable, derived from its full path (UTF-8,
// as AgentSettings.modulePath holds it): the worker program, how it is
// started, and the event message library.
#include <cstdint>
#include <string>

// The executable's directory: the path up to its last '\' or '/'. A path
// without either (or an empty one) is used whole.
std::string moduleDirectory(const std::string& modulePath);

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
