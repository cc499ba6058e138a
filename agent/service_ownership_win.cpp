#include "service_ownership_win.h"

#include <vector>

#include "handle_holders_win.h"

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

