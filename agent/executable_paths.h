#pragma once
#include <cstdint>
#include <string>

// The worker program lives beside the agent's executable and is always given
// the same argument text; both are built here, apart from the Windows calls
// that use them.

// "<directory>\keldraworker.exe" in double quotes, one space, then the
// arguments unchanged. Without the quotes a directory holding a blank would
// make CreateProcessW try "C:\Program.exe" and the like first, in a process
// that has the service account's rights.
std::string workerCommandLine(const std::string& modulePath, const std::string& workerArguments);

// "DEBUG --pid " and the agent's process identifier in full decimal.
std::string workerArgumentsFor(std::uint32_t processId);
