#include "service_installation.h"

#include <windows.h>

#include "agent_settings.h"
#include "executable_exposure.h"
#include "executable_paths.h"
#include "handle_holders_win.h"
#include "message_log_win.h"
#include "service_ownership_win.h"
#include "service_registration.h"
#include "system_error_text_win.h"
#include "text_conversion.h"

namespace {

// Nothing that belongs to another program is changed: a foreign service or
// event source under the name keeps both as they are.
bool nameIsFree(SC_HANDLE manager, const std::wstring& serviceName) {
    const bool serviceForeign = serviceOwnership(manager, serviceName) == Ownership::foreign;
    const bool sourceForeign = eventSourceOwnership(serviceName) == Ownership::foreign;
    if (serviceForeign) logMessage(foreignServiceMessage);
    if (sourceForeign) logMessage(foreignEventSourceMessage);
    return !serviceForeign && !sourceForeign;
}

// Windows restarts the agent's process when it dies (killed, or a crash)
// after one minute, twice, then every ten minutes; the count of failures
// starts over after a day without one. A setting that the system refuses
// is a warning: the service is installed all the same.
void setRecovery(SC_HANDLE service) {
    SC_ACTION actions[recoveryActionCount] = {};
    for (unsigned failure = 0; failure < recoveryActionCount; ++failure) {
        actions[failure] = {SC_ACTION_RESTART, recoveryRestartDelayMs(failure + 1)};
    }
    SERVICE_FAILURE_ACTIONSW failureActions = {};
    failureActions.dwResetPeriod = recoveryResetSeconds;
    failureActions.cActions = recoveryActionCount;
    failureActions.lpsaActions = actions;
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failureActions)) {
        const DWORD error = GetLastError();
        logMessage(recoveryNotSetMessage + systemErrorText(error));
    }
    std::wstring text = serviceDescription;
    SERVICE_DESCRIPTIONW description = {&text[0]};
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description)) {
        const DWORD error = GetLastError();
        logMessage(descriptionNotSetMessage + systemErrorText(error));
    }
}

// ERROR_SUCCESS, or the error of CreateServiceW, which is reported.
DWORD createService(SC_HANDLE manager, const std::wstring& serviceName, const std::wstring& commandLine,
                    const std::wstring& displayName, const std::wstring& account, const std::wstring& password) {
    const ServiceAccount registered = serviceAccount(account);
    const UniqueServiceHandle service(CreateServiceW(
        manager, serviceName.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
        /* load order group */ nullptr, /* tag */ nullptr, /* dependencies */ nullptr,
        registered.startName.c_str(), registered.needsPassword ? password.c_str() : nullptr));
    if (!service) {
        const DWORD error = GetLastError();
        logMessage(systemErrorText(error));
        return error;
    }
    setRecovery(service.get());
    if (!isStartablePath(utf8ToWide(workerPath(AgentSettings.modulePath)))) logMessage(unstartableWorkerPathMessage);
    reportExecutableExposure(AgentSettings.modulePath);
    return ERROR_SUCCESS;
}

// ERROR_SUCCESS, or the error of the registry step that failed, which is
// reported.
DWORD registerEventSource(const std::wstring& serviceName) {
    HKEY opened = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, eventSourceKeyPath(serviceName).c_str(), 0,
                                  /* class */ nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  /* security */ nullptr, &opened, /* disposition */ nullptr);
    if (status != ERROR_SUCCESS) {
        logMessage(eventSourceKeyOpenFailedMessage);
        return static_cast<DWORD>(status);
    }
    const UniqueRegistryKey key(opened);

    const std::wstring messageFile = eventMessageFilePath(AgentSettings.modulePath);
    const DWORD messageFileBytes = static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t));
    status = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(messageFile.c_str()), messageFileBytes);
    if (status == ERROR_SUCCESS) {
        const DWORD types = eventTypesSupported;
        status = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                sizeof types);
    }
    if (status != ERROR_SUCCESS) logMessage(eventMessageFileFailedMessage);
    return static_cast<DWORD>(status);
}

}  // namespace

unsigned long installService(const std::wstring& serviceName, const std::wstring& startArguments,
                             const std::wstring& displayName, const std::wstring& account,
                             const std::wstring& password) {
    const std::wstring commandLine = serviceCommandLine(utf8ToWide(AgentSettings.modulePath), startArguments);
    if (!survivesExpansion(commandLine)) {
        logMessage(expandablePathMessage);
        return expandablePathExitCode;
    }
    if (!isStartablePath(utf8ToWide(AgentSettings.modulePath))) {
        logMessage(unstartablePathMessage);
        return unstartablePathExitCode;
    }
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        // Without administrator rights: nothing can be registered.
        const DWORD error = GetLastError();
        logMessage(systemErrorText(error));
        return error;
    }
    if (!nameIsFree(manager.get(), serviceName)) return foreignNameExitCode;
    const DWORD failure = createService(manager.get(), serviceName, commandLine, displayName, account, password);
    // The event source goes with a service of ours, new or already there
    // (ERROR_SERVICE_EXISTS): after any other failure it would be left behind
    // alone, under a name that another program may then take.
    if (failure != ERROR_SUCCESS && failure != ERROR_SERVICE_EXISTS) return failure;
    const DWORD sourceFailure = registerEventSource(serviceName);
    return failure != ERROR_SUCCESS ? failure : sourceFailure;
}
