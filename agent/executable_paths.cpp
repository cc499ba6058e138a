#include "executable_paths.h"

#include "text_conversion.h"

namespace {

// FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_DELETE_CHILD, DELETE, WRITE_DAC,
// WRITE_OWNER, GENERIC_ALL and GENERIC_WRITE.
constexpr std::uint32_t changeRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
const wchar_t* const everyone = L"S-1-1-0";
const wchar_t* const creatorOwner = L"S-1-3-0";

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool mayChangeWhatTheServiceRuns(const std::wstring& sid, const std::wstring& runningAccount) {
    static const wchar_t* const trusted[] = {
        L"S-1-5-18", L"S-1-5-32-544", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
    for (const wchar_t* account : trusted) {
        if (sid == account) return true;
    }
    return !runningAccount.empty() && sid == runningAccount;
}

bool letsWrite(const AccessEntry& entry, bool folder) {
    const bool inheritOnly = (entry.flags & inheritOnlyFlag) != 0;
    const bool reachesNewFiles = folder && (entry.flags & objectInheritFlag) != 0;
    if (!entry.allows || (entry.mask & changeRights) == 0 || (inheritOnly && !reachesNewFiles)) return false;
    return entry.sid != creatorOwner || !inheritOnly;
}

void addOnce(std::vector<ProgramChanger>& changers, const std::wstring& sid, bool owns) {
    for (const ProgramChanger& changer : changers) {
        if (changer.sid == sid) return;
    }
    changers.push_back({sid, owns});
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

std::vector<ProgramChanger> whoElseCanChange(const SecurityDescriptorText& descriptor, bool folder,
                                             const std::wstring& runningAccount) {
    std::vector<ProgramChanger> changers;
    if (!descriptor.owner.empty() && !mayChangeWhatTheServiceRuns(descriptor.owner, runningAccount)) {
        addOnce(changers, descriptor.owner, /* owns */ true);
    }
    if (descriptor.unrestricted) addOnce(changers, everyone, /* owns */ false);
    for (const AccessEntry& entry : descriptor.entries) {
        if (letsWrite(entry, folder) && !mayChangeWhatTheServiceRuns(entry.sid, runningAccount)) {
            addOnce(changers, entry.sid, /* owns */ false);
        }
    }
    return changers;
}

std::wstring changeableProgramMessage(const std::wstring& name, const std::wstring& path) {
    return name + L" can change " + path +
           L", which the service runs with its account's rights; install the agent in a folder under Program Files";
}

std::wstring ownedProgramMessage(const std::wstring& name, const std::wstring& path) {
    return name + L" owns " + path +
           L", which the service runs with its account's rights, and so can change its access list; install the "
           L"agent in a folder under Program Files";
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
    // A share that the service's account can read is there at boot, once the
    // network is: only a drive letter is sure to be missing.
    const bool drive = location != ExecutableLocation::networkPath;
    return std::wstring(L"keldraagent.exe lies on ") + where + L", which Windows " +
           (drive ? L"cannot" : L"may not") + L" reach when it starts services at boot; the service " +
           (drive ? L"will" : L"may") + L" fail to start then: install the agent on a local drive";
}
