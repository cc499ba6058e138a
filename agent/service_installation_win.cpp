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
    const bool serviceForeign = manager != nullptr && serviceOwnership(manager, serviceName) == Ownership::foreign;
    const bool sourceForeign = eventSourceOwnership(serviceName) == Ownership::foreign;
    if (serviceForeign) logMessage(foreignServiceMessage);
    if (sourceForeign) logMessage(foreignEventSourceMessage);
    return !serviceForeign && !sourceForeign;
}

bool createService(SC_HANDLE manager, const std::wstring& serviceName, const std::wstring& commandLine,
                   const std::wstring& displayName, const std::wstring& account,
                   const std::wstring& password) {
    // Without administrator rights the manager cannot be opened; the event
    // source step that follows reports the lack of rights.
    if (manager == nullptr) return false;
    const ServiceAccount registered = serviceAccount(account);
    const UniqueServiceHandle service(CreateServiceW(
        manager, serviceName.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
        /* load order group */ nullptr, /* tag */ nullptr, /* dependencies */ nullptr,
        registered.startName.c_str(), registered.needsPassword ? password.c_str() : nullptr));
    if (!service) {
        const DWORD error = GetLastError();
        logMessage(systemErrorText(error));
        return false;
    }
    if (!isStartablePath(utf8ToWide(AgentSettings.modulePath))) {
        logMessage(unstartablePathMessage);
    } else if (!isStartablePath(utf8ToWide(workerPath(AgentSettings.modulePath)))) {
        logMessage(unstartableWorkerPathMessage);
    }
    reportExecutableExposure(AgentSettings.modulePath);
    return true;
}

void registerEventSource(const std::wstring& serviceName) {
    HKEY opened = nullptr;
    const LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, eventSourceKeyPath(serviceName).c_str(),
                                        0, /* class */ nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_SET_VALUE, /* security */ nullptr, &opened,
                                        /* disposition */ nullptr);
    if (status != ERROR_SUCCESS) {
        logMessage(eventSourceKeyOpenFailedMessage);
        return;
    }
    const UniqueRegistryKey key(opened);

    const std::wstring messageFile = eventMessageFilePath(AgentSettings.modulePath);
    const DWORD messageFileBytes = static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t));
    bool written = RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_SZ,
                                  reinterpret_cast<const BYTE*>(messageFile.c_str()),
                                  messageFileBytes) == ERROR_SUCCESS;
    if (written) {
        const DWORD types = eventTypesSupported;
        written = RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&types), sizeof types) == ERROR_SUCCESS;
    }
    if (!written) logMessage(eventMessageFileFailedMessage);
}

}  // namespace

bool installService(const std::wstring& serviceName, const std::wstring& startArguments,
                    const std::wstring& displayName, const std::wstring& account,
                    const std::wstring& password) {
    const std::wstring commandLine = serviceCommandLine(utf8ToWide(AgentSettings.modulePath), startArguments);
    if (!survivesExpansion(commandLine)) {
        logMessage(expandablePathMessage);
        return false;
    }
    const UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!nameIsFree(manager.get(), serviceName)) return false;
    const bool created = createService(manager.get(), serviceName, commandLine, displayName, account, password);
    registerEventSource(serviceName);
    return created;
}
