#include "service_installation.h"

#include <windows.h>

#include <vector>

#include "agent_settings.h"
#include "handle_holders.h"
#include "message_log.h"
#include "service_registration.h"
#include "system_error_text.h"
#include "text_conversion.h"

namespace {

// A registry value as text, empty when the value is absent; false when it is
// there but holds no text or cannot be read.
bool readTextValue(HKEY key, const wchar_t* name, std::wstring& text) {
    text.clear();
    DWORD type = 0;
    DWORD size = 0;
    const LONG status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
    text.assign(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&text[0]), &size) != ERROR_SUCCESS) {
        return false;
    }
    text.resize(size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return true;
}

// The command line registered for a service; false when it cannot be read.
bool readServiceCommandLine(SC_HANDLE service, std::wstring& commandLine) {
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return false;
    std::vector<unsigned char> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, needed, &needed)) return false;
    commandLine = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
    return true;
}

}  // namespace

Ownership serviceOwnership(SC_HANDLE manager, const std::wstring& serviceName) {
    const UniqueServiceHandle service(OpenServiceW(manager, serviceName.c_str(), SERVICE_QUERY_CONFIG));
    if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? Ownership::absent : Ownership::foreign;
    // What cannot be read cannot be shown to be ours.
    std::wstring commandLine;
    if (!readServiceCommandLine(service.get(), commandLine)) return Ownership::foreign;
    return isAgentServiceCommandLine(commandLine) ? Ownership::ours : Ownership::foreign;
}

Ownership eventSourceOwnership(const std::wstring& serviceName) {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, eventSourceKeyPath(serviceName).c_str(), 0,
                                      KEY_QUERY_VALUE, &opened);
    if (status == ERROR_FILE_NOT_FOUND) return Ownership::absent;
    if (status != ERROR_SUCCESS) return Ownership::foreign;
    const UniqueRegistryKey key(opened);
    std::wstring messageFile;
    if (!readTextValue(key.get(), L"EventMessageFile", messageFile)) return Ownership::foreign;
    return isAgentEventMessageFile(messageFile) ? Ownership::ours : Ownership::foreign;
}

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
    const std::wstring startName = serviceStartName(account);
    const UniqueServiceHandle service(CreateServiceW(
        manager, serviceName.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine.c_str(),
        /* load order group */ nullptr, /* tag */ nullptr, /* dependencies */ nullptr,
        startName.c_str(), password.c_str()));
    if (!service) {
        const DWORD error = GetLastError();
        logMessage(systemErrorText(error));
        return false;
    }
    if (!isStartablePath(utf8ToWide(AgentSettings.modulePath))) logMessage(unstartablePathMessage);
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
