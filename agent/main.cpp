#include <windows.h>

#include <string>
#include <vector>

#include "agent_settings.h"
#include "message_log.h"
#include "service_control.h"
#include "text_conversion.h"
#include "version_output.h"
#include "worker_command_line.h"

namespace {

// GetModuleFileNameW cuts the path short, without an error, when the buffer
// is too small; grow it until the whole path fits.
std::wstring currentModulePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return buffer.substr(0, length);
        buffer.resize(buffer.size() * 2);
    }
}

// The wide arguments, as UTF-8: the narrow vector would be in the ANSI code
// page and lose every character that it lacks.
std::vector<std::string> utf8Arguments(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(wideToUtf8(argv[i]));
    return arguments;
}

// The process becomes the service: the dispatcher keeps the main thread
// until the service has stopped, or fails at once when the process was not
// started by the Service Control Manager (nothing is said then).
int runService() {
    AgentSettings.workerArguments = workerArgumentsFor(GetCurrentProcessId());
    static wchar_t serviceTableName[] = L"Keldra Agent";
    const SERVICE_TABLE_ENTRYW serviceTable[] = {{serviceTableName, serviceMain}, {nullptr, nullptr}};
    eventSourceHandle = RegisterEventSourceW(/* local computer */ nullptr, AgentSettings.serviceName.c_str());
    if (eventSourceHandle == nullptr) logMessage(std::wstring(L"failed to register event handle"));
    // A failed start (RUN from a console) has no one to report to.
    StartServiceCtrlDispatcherW(serviceTable);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    AgentSettings.modulePath = wideToUtf8(currentModulePath());

    const std::vector<std::string> arguments = utf8Arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());

    if (!parseCommandLine(static_cast<int>(pointers.size()), pointers.data())) {
        logMessage(std::wstring(L"Invalid argument provided."));
        printUsage();
        return 1;
    }
    if (AgentSettings.command == L"RUN") return runService();
    return 0;
}
