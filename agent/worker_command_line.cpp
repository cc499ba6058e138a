#include "worker_command_line.h"

std::string workerDirectory(const std::string& modulePath) {
    const std::string::size_type separator = modulePath.find_last_of("\\/");
    if (separator == std::string::npos) return modulePath;
    return modulePath.substr(0, separator);
}

std::string workerCommandLine(const std::string& modulePath, const std::string& workerArguments) {
    return "\"" + workerDirectory(modulePath) + "\\keldraworker.exe\" " + workerArguments;
}

std::string workerArgumentsFor(std::uint32_t processId) {
    return "DEBUG --pid " + std::to_string(processId);
}
