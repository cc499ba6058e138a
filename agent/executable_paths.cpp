#include "executable_paths.h"

#include "text_conversion.h"

namespace {

// FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_DELETE_CHILD, DELETE, WRITE_DAC,
// WRITE_OWNER, GENERIC_ALL and GENERIC_WRITE.
constexpr std::uint32_t changeRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
// On a folder above: FILE_DELETE_CHILD, DELETE, WRITE_DAC, WRITE_OWNER and
// GENERIC_ALL. Renaming a folder takes DELETE on it or FILE_DELETE_CHILD on
// its parent; writing or appending there only adds files and folders beside
// the agent's, and GENERIC_WRITE maps to no more than that.
constexpr std::uint32_t swapRights = 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000;
const wchar_t* const everyone = L"S-1-1-0";
const wchar_t* const creatorOwner = L"S-1-3-0";
const wchar_t* const ownerRights = L"S-1-3-4";

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

std::uint32_t countedRights(ProgramPart part) {
    return part == ProgramPart::folderAbove ? swapRights : changeRights;
}

bool appliesToObject(const AccessEntry& entry) { return (entry.flags & inheritOnlyFlag) == 0; }

bool letsChange(const AccessEntry& entry, ProgramPart part) {
    const bool reachesNewFiles = part == ProgramPart::folder && (entry.flags & objectInheritFlag) != 0;
    return entry.allows && (entry.mask & countedRights(part)) != 0 && (appliesToObject(entry) || reachesNewFiles);
}

// Without an OWNER RIGHTS entry that applies to the object, the owner may
// always rewrite its access list; with one, the owner has what such entries
// grant (deny entries again not weighed).
bool ownerRightsApply(const SecurityDescriptorText& descriptor, std::uint32_t& granted) {
    bool apply = false;
    granted = 0;
    for (const AccessEntry& entry : descriptor.entries) {
        if (entry.sid != ownerRights || !appliesToObject(entry)) continue;
        apply = true;
        if (entry.allows) granted |= entry.mask;
    }
    return apply;
}

void addOnce(std::vector<ProgramChanger>& changers, const std::wstring& sid, bool owns) {
    for (const ProgramChanger& changer : changers) {
        if (changer.sid == sid) return;
    }
    changers.push_back({sid, owns});
}

// The root of a path's drive or share without its last backslash ("C:",
// "\\server\share", "\\?\C:"); empty for a relative path.
std::string rootOf(const std::string& path) {
    std::string::size_type start = 0;
    if (path.compare(0, 4, "\\\\?\\") == 0 || path.compare(0, 4, "\\\\.\\") == 0) {
        if (path.compare(4, 4, "UNC\\") != 0) return path.size() >= 6 && path[5] == ':' ? path.substr(0, 6) : "";
        start = 8;
    } else if (path.compare(0, 2, "\\\\") == 0) {
        start = 2;
    } else {
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "";
    }
    // server, then share
    const std::string::size_type server = path.find_first_of("\\/", start);
    if (server == std::string::npos) return "";
    const std::string::size_type share = path.find_first_of("\\/", server + 1);
    return path.substr(0, share);
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

std::vector<ProgramPath> serviceProgramPaths(const std::string& modulePath) {
    const std::string directory = moduleDirectory(modulePath);
    const std::string root = rootOf(directory);
    const bool atRoot = !root.empty() && directory == root;
    std::vector<ProgramPath> paths = {{atRoot ? directory + "\\" : directory, ProgramPart::folder},
                                      {modulePath, ProgramPart::program},
                                      {workerPath(modulePath), ProgramPart::program},
                                      {directory + "\\vossevent.dll", ProgramPart::messageLibrary}};
    for (std::string above = directory; !root.empty() && above.size() > root.size();) {
        const std::string::size_type separator = above.find_last_of("\\/");
        if (separator == std::string::npos || separator < root.size()) break;
        above.resize(separator);
        paths.push_back({above.size() > root.size() ? above : root + "\\", ProgramPart::folderAbove});
    }
    return paths;
}

std::vector<ProgramChanger> whoElseCanChange(const SecurityDescriptorText& descriptor, ProgramPart part,
                                             const std::wstring& runningAccount) {
    std::vector<ProgramChanger> changers;
    std::uint32_t ownerGranted = 0;
    const bool ownerRestricted = ownerRightsApply(descriptor, ownerGranted);
    if (!descriptor.owner.empty() && !mayChangeWhatTheServiceRuns(descriptor.owner, runningAccount) &&
        (!ownerRestricted || (ownerGranted & countedRights(part)) != 0)) {
        addOnce(changers, descriptor.owner, /* owns */ !ownerRestricted);
    }
    if (descriptor.unrestricted) addOnce(changers, everyone, /* owns */ false);
    for (const AccessEntry& entry : descriptor.entries) {
        if (entry.sid == creatorOwner || entry.sid == ownerRights) continue;
        if (letsChange(entry, part) && !mayChangeWhatTheServiceRuns(entry.sid, runningAccount)) {
            addOnce(changers, entry.sid, /* owns */ false);
        }
    }
    return changers;
}

std::wstring changerMessage(const std::wstring& name, bool owns, const ProgramPath& path, const std::string& folder) {
    const std::wstring where = utf8ToWide(path.path);
    const std::wstring advice = L"; install the agent in a folder under Program Files";
    const std::wstring verb = owns ? L" owns " : L" can change ";
    const std::wstring ownerAlso = owns ? L", and so can change its access list" : L"";
    switch (path.part) {
    case ProgramPart::folderAbove:
        return name + verb + where + L", which holds " + utf8ToWide(folder) + ownerAlso +
               L": it can move that folder away and put one of its own in its place, whose programs the service "
               L"would run with its account's rights" + advice;
    case ProgramPart::messageLibrary:
        // The Event Viewer maps a message library as data: no code of it runs.
        return name + verb + where + L", from which the Event Viewer reads the text of the service's events" +
               ownerAlso + L": it can make them say what it likes, though not run code as the service's account" +
               advice;
    case ProgramPart::folder:
    case ProgramPart::program:
        break;
    }
    return owns ? name + L" owns " + where + L", which the service runs with its account's rights, and so can "
                  L"change its access list" + advice
                : name + L" can change " + where + L", which the service runs with its account's rights" + advice;
}

std::wstring unreadableSecurityMessage(const std::string& path, const std::wstring& reason) {
    return L"INSTALL could not read who may change " + utf8ToWide(path) +
           L", so it cannot say whether others could take the service over through it: " + reason;
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
