#include "executable_exposure.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "executable_paths.h"
#include "handle_holders_win.h"
#include "message_log_win.h"
#include "text_conversion.h"

namespace {

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"";
    const UniqueLocalMemory<wchar_t> held(text);
    return text;
}

// False when the access list cannot be read (a worker or library not yet
// placed beside the agent, for one).
bool readAccessList(const std::wstring& path, std::vector<AccessEntry>& entries) {
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, /* owner */ nullptr,
                              /* group */ nullptr, &list, /* audit list */ nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueLocalMemory<void> held(descriptor);
    // No access list at all grants everyone every right.
    if (list == nullptr) {
        entries.push_back({ACCESS_ALLOWED_ACE_TYPE, 0, GENERIC_ALL, L"S-1-1-0"});
        return true;
    }
    for (DWORD index = 0; index < list->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(list, index, &ace)) continue;
        const ACE_HEADER& header = *static_cast<const ACE_HEADER*>(ace);
        // The plain and the conditional entries share this layout; the
        // object entries of directory objects do not, and files have none.
        const bool plainLayout = header.AceType <= ACCESS_DENIED_ACE_TYPE ||
                                 header.AceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
                                 header.AceType == ACCESS_DENIED_CALLBACK_ACE_TYPE;
        if (!plainLayout) continue;
        const auto& entry = *static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        entries.push_back({header.AceType, header.AceFlags, entry.Mask,
                           sidText(const_cast<DWORD*>(&entry.SidStart))});
    }
    return true;
}

ExecutableLocation locationOf(const std::wstring& path) {
    const std::wstring drive = driveOf(path);
    bool remote = false;
    std::wstring target;
    if (!drive.empty()) {
        remote = GetDriveTypeW((drive + L"\\").c_str()) == DRIVE_REMOTE;
        std::vector<wchar_t> buffer(MAX_PATH * 4, L'\0');
        if (QueryDosDeviceW(drive.c_str(), buffer.data(), static_cast<DWORD>(buffer.size())) != 0) {
            target = buffer.data();
        }
    }
    return executableLocation(path, remote, target);
}

}  // namespace

void reportExecutableExposure(const std::string& modulePath) {
    for (const std::string& narrowPath : serviceProgramPaths(modulePath)) {
        const std::wstring path = utf8ToWide(narrowPath);
        std::vector<AccessEntry> entries;
        if (!readAccessList(path, entries)) continue;
        for (const std::wstring& group : groupsThatCanChange(entries)) {
            logMessage(changeableProgramMessage(group, path));
        }
    }
    const std::wstring location = executableLocationMessage(locationOf(utf8ToWide(modulePath)));
    if (!location.empty()) logMessage(location);
}
