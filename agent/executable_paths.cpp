#include "executable_paths.h"

#include "text_conversion.h"

std::string moduleDirectory(const std::string& modulePath) {
    const std::string::size_type separator = modulePath.find_last_of("\\/");
    if (separator == std::string::npos) return modulePath;
    return modulePath.substr(0, separator);
}

std::string workerCommandLine(const std::string& modulePath, const std::string& workerArguments) {
    return "\"" + moduleDirectory(modulePath) + "\\keldraworker.exe\" " + workerArguments;
}

std::string workerArgumentsFor(std::uint32_t processId) {
    return "DEBUG --pid " + std::to_string(processId);
}

std::wstring eventMessageFilePath(const std::string& modulePath) {
    return utf8ToWide(moduleDirectory(modulePath) + "\\vossevent.dll");
}
