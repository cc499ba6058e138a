#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "agent_settings.h"
#include "command_line.h"
#include "executable_paths.h"
#include "message_log_win.h"
#include "service_control_win.h"
#include "service_installation.h"
#include "service_registration.h"
#include "service_removal.h"
#include "system_error_text_win.h"
#include "text_conversion.h"
#include "version_output.h"

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

// Empty when the variable does not exist. The value is fetched straight
// into the result, leaving no second copy of it (the one variable read is a
// password). _wgetenv_s, not _wdupenv_s: the system's msvcrt.dll, which
// this program links against, has only the former.
std::wstring readEnvironmentVariable(const std::string& name) {
    const std::wstring wideName = utf8ToWide(name);
    std::wstring value;
    size_t required = 0;
    // Asked for the size alone, the runtime answers ERANGE or 0 depending on
    // its version; the size it fills in is what counts.
    _wgetenv_s(&required, nullptr, 0, wideName.c_str());
    if (required == 0) return value;
    value.resize(required);
    if (_wgetenv_s(&required, &value[0], value.size(), wideName.c_str()) != 0) {
        SecureZeroMemory(&value[0], value.size() * sizeof(wchar_t));
        value.clear();
        return value;
    }
    value.resize(std::wcslen(value.c_str()));
    return value;
}

// A DLL that the system loads for the agent at run time is looked for in
// the system directory alone, never in the current directory or beside the
// executable, where whoever may write there could plant one. Windows 7
// without KB2533623 lacks the call and keeps its default search.
void searchDllsInSystemDirectoryOnly() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The exit codes of INSTALL and REMOVE are the system's error code of the
// step that failed (as sc.exe gives them), so that whatever ran the command
// can tell success from failure, and "already installed" or "not installed"
// from the rest, without reading the messages.
int runInstall() {
    // Read even for an account that takes none, so that it is wiped all the same.
    std::wstring password = readEnvironmentVariable("KELDRA_AGENT_SERVICE_ACCOUNT_PASSWORD");
    DWORD result = 1;
    if (isOtherServicesVirtualAccount(AgentSettings.accountUser, AgentSettings.serviceName)) {
        logMessage(otherServicesVirtualAccountMessage(AgentSettings.accountUser, AgentSettings.serviceName));
    } else if (password.empty() && serviceAccount(AgentSettings.accountUser).needsPassword) {
        logMessage(missingPasswordMessage);
    } else {
        const std::wstring startArguments = serviceStartArguments(AgentSettings.serviceName);
        result = installService(AgentSettings.serviceName, startArguments, AgentSettings.displayName,
                                AgentSettings.accountUser, password);
    }
    if (!password.empty()) SecureZeroMemory(&password[0], password.size() * sizeof(wchar_t));
    return static_cast<int>(result);
}

// Typed at a console, RUN has no Service Control Manager to answer: that is
// said on the console (an event would reach only the event log) with how to
// start the service. Any other failure of the dispatcher is the system's
// text, in the event log when the source is registered.
int reportDispatcherFailure(DWORD error) {
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        if (eventSourceHandle != nullptr) DeregisterEventSource(eventSourceHandle);
        eventSourceHandle = nullptr;
        logMessage(runFromConsoleMessage(AgentSettings.serviceName));
    } else {
        logMessage(systemErrorText(error));
    }
    return static_cast<int>(error);
}

// The process becomes the service: the dispatcher keeps the main thread
// until the service has stopped, or fails at once when the process was not
// started by the Service Control Manager.
int runService() {
    AgentSettings.workerArguments = workerArgumentsFor(GetCurrentProcessId());
    static wchar_t serviceTableName[] = L"Keldra Agent";
    const SERVICE_TABLE_ENTRYW serviceTable[] = {{serviceTableName, serviceMain}, {nullptr, nullptr}};
    eventSourceHandle = RegisterEventSourceW(/* local computer */ nullptr, AgentSettings.serviceName.c_str());
    if (eventSourceHandle == nullptr) logMessage(L"failed to register event handle");
    // After a stop the supervision may still be running while the process
    // ends; what it reads is never destroyed (see AgentSettings and the
    // records of the service run).
    if (StartServiceCtrlDispatcherW(serviceTable)) return 0;
    return reportDispatcherFailure(GetLastError());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    searchDllsInSystemDirectoryOnly();
    AgentSettings.modulePath = wideToUtf8(currentModulePath());

    if (!parseCommandLine(utf8Arguments(argc, argv))) {
        logMessage(L"Invalid argument provided.");
        printUsage(AgentSettings.modulePath);
        return 1;
    }
    if (AgentSettings.command == L"INSTALL") return runInstall();
    if (AgentSettings.command == L"REMOVE") return static_cast<int>(removeService(AgentSettings.serviceName));
    if (AgentSettings.command == L"RUN") return runService();
    return 0;
}
