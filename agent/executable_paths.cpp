#include "executable_paths.h"

#include <algorithm>

#include "text_conversion.h"

namespace {

// Allow entries: the plain one and the conditional one.
constexpr std::uint8_t accessAllowedType = 0;
constexpr std::uint8_t accessAllowedCallbackType = 9;
constexpr std::uint8_t inheritOnlyFlag = 0x08;
// FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_DELETE_CHILD, DELETE, WRITE_DAC,
// WRITE_OWNER, GENERIC_ALL and GENERIC_WRITE.
constexpr std::uint32_t changeRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// S-1-5-21-<three numbers>-513, whatever the domain.
bool isDomainUsers(const std::wstring& sid) {
    const std::wstring prefix = L"S-1-5-21-";
    if (!startsWith(sid, prefix) || sid.size() < 4 || sid.compare(sid.size() - 4, 4, L"-513") != 0) return false;
    const std::wstring middle = sid.substr(prefix.size(), sid.size() - 4 - prefix.size());
    return std::count(middle.begin(), middle.end(), L'-') == 2;
}

std::wstring broadGroupName(const std::wstring& sid) {
    static const struct {
        const wchar_t* sid;
        const wchar_t* name;
    } groups[] = {
        {L"S-1-1-0", L"Everyone"},          {L"S-1-5-11", L"Authenticated Users"}, {L"S-1-5-32-545", L"Users"},
        {L"S-1-5-4", L"Interactive"},       {L"S-1-5-32-546", L"Guests"},          {L"S-1-5-7", L"Anonymous Logon"},
    };
    for (const auto& group : groups) {
        if (sid == group.sid) return group.name;
    }
    return isDomainUsers(sid) ? L"Domain Users" : L"";
}

}  // namespace

std::string moduleDirectory(const std::string& modulePath) {
    const std::string::size_type separator = modulePath.find_last_of("\\/");
    if (separator == std::string::npos) return modulePath;
    return modulePath.substr(0, separator);
}

std::string workerPath(const std::string& modulePath) {
    return moduleDirectory(modulePath) + "\\keldraworker.exe";
}

std::string workerCommandLine(const std::string& modulePath, const std::string& workerArguments) {
    return "\"" + workerPath(modulePath) + "\" " + workerArguments;
}

std::string workerArgumentsFor(std::uint32_t processId) {
    return "DEBUG --pid " + std::to_string(processId);
}

std::wstring eventMessageFilePath(const std::string& modulePath) {
    return utf8ToWide(moduleDirectory(modulePath) + "\\vossevent.dll");
}

std::vector<std::string> serviceProgramPaths(const std::string& modulePath) {
    std::string directory = moduleDirectory(modulePath);
    if (!directory.empty() && directory.back() == ':') directory += "\\";
    return {directory, modulePath, workerPath(modulePath), moduleDirectory(modulePath) + "\\vossevent.dll"};
}

std::vector<std::wstring> groupsThatCanChange(const std::vector<AccessEntry>& entries) {
    std::vector<std::wstring> found;
    for (const AccessEntry& entry : entries) {
        const bool allows = entry.type == accessAllowedType || entry.type == accessAllowedCallbackType;
        if (!allows || (entry.flags & inheritOnlyFlag) != 0 || (entry.mask & changeRights) == 0) continue;
        const std::wstring group = broadGroupName(entry.sid);
        if (!group.empty() && std::find(found.begin(), found.end(), group) == found.end()) found.push_back(group);
    }
    return found;
}

std::wstring changeableProgramMessage(const std::wstring& group, const std::wstring& path) {
    return group + L" can change " + path +
           L", which the service runs with its account's rights; install the agent in a folder under Program Files";
}

std::wstring driveOf(const std::wstring& path) {
    const bool prefixed = startsWith(path, L"\\\\?\\") || startsWith(path, L"\\\\.\\");
    const std::wstring local = prefixed ? path.substr(4) : path;
    if (local.size() < 2 || local[1] != L':') return L"";
    return local.substr(0, 2);
}

ExecutableLocation executableLocation(const std::wstring& path, bool driveIsRemote,
                                      const std::wstring& driveTarget) {
    if (startsWith(path, L"\\\\?\\UNC\\")) return ExecutableLocation::networkPath;
    if (startsWith(path, L"\\\\") && !startsWith(path, L"\\\\?\\") && !startsWith(path, L"\\\\.\\")) {
        return ExecutableLocation::networkPath;
    }
    if (driveIsRemote) return ExecutableLocation::networkDrive;
    if (startsWith(driveTarget, L"\\??\\")) return ExecutableLocation::substitutedDrive;
    return ExecutableLocation::local;
}

std::wstring executableLocationMessage(ExecutableLocation location) {
    const wchar_t* where = nullptr;
    switch (location) {
    case ExecutableLocation::local: return L"";
    case ExecutableLocation::networkDrive: where = L"a network drive"; break;
    case ExecutableLocation::networkPath: where = L"a network path"; break;
    case ExecutableLocation::substitutedDrive: where = L"a drive made with subst"; break;
    }
    return std::wstring(L"keldraagent.exe lies on ") + where +
           L", which Windows cannot reach when it starts services at boot; the service will fail to start "
           L"then: install the agent on a local drive";
}
