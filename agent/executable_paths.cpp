#include "executable_paths.h"

#include "agent_settings.h"

std::string workerCommandLine(const std::string& modulePath, const std::string& workerArguments) {
    return "\"" + moduleDirectory(modulePath) + "\\keldraworker.exe\" " + workerArguments;
}

std::string workerArgumentsFor(std::uint32_t processId) {
    return "DEBUG --pid " + std::to_string(processId);
}
