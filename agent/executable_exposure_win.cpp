#include "executable_exposure.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "executable_paths.h"
#include "handle_holders_win.h"
#include "message_log_win.h"
#include "own_account_win.h"
#include "system_error_text_win.h"
#include "text_conversion.h"

namespace {

constexpr SECURITY_INFORMATION ownerAndAccessList = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return L"";
    const UniqueLocalMemory<wchar_t> held(text);
    return text;
}

// The owner and the access list, read in one call: ERROR_SUCCESS, or the
// error of the call that failed; `text` keeps what could not be understood.
DWORD readSecurity(const std::wstring& path, SecurityDescriptorText& descriptor, std::wstring& text) {
    PSECURITY_DESCRIPTOR binary = nullptr;
    const DWORD error = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, ownerAndAccessList, /* owner */ nullptr,
                                              /* group */ nullptr, /* access list */ nullptr,
                                              /* audit list */ nullptr, &binary);
    if (error != ERROR_SUCCESS) return error;
    const UniqueLocalMemory<void> heldBinary(binary);
    wchar_t* converted = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(binary, SDDL_REVISION_1, ownerAndAccessList, &converted,
                                                              /* length */ nullptr)) {
        return GetLastError();
    }
    const UniqueLocalMemory<wchar_t> heldText(converted);
    text = converted;
    return readSecurityDescriptorText(text, descriptor) ? ERROR_SUCCESS : ERROR_INVALID_SECURITY_DESCR;
}

// The text names an account of this machine or domain by an alias ("LA"
// for the built-in Administrator); spelt out, it compares with the token's.
std::wstring spelledOut(const std::wstring& sid) {
    PSID binary = nullptr;
    if (sid.empty() || sid.compare(0, 2, L"S-") == 0 || !ConvertStringSidToSidW(sid.c_str(), &binary)) return sid;
    const UniqueLocalMemory<void> held(binary);
    const std::wstring text = sidText(binary);
    return text.empty() ? sid : text;
}

// As icacls names an account: "DOMAIN\name", the name alone when the
// domain is empty ("Everyone"), the SID when the account has no name here.
std::wstring accountName(const std::wstring& sid) {
    PSID binary = nullptr;
    if (!ConvertStringSidToSidW(sid.c_str(), &binary)) return sid;
    const UniqueLocalMemory<void> held(binary);
    DWORD nameSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use;
    if (LookupAccountSidW(/* this computer */ nullptr, binary, nullptr, &nameSize, nullptr, &domainSize, &use) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return sid;
    }
    std::wstring name(nameSize, L'\0');
    std::wstring domain(domainSize, L'\0');
    if (!LookupAccountSidW(nullptr, binary, name.data(), &nameSize, domain.data(), &domainSize, &use)) return sid;
    name.resize(wcslen(name.c_str()));
    domain.resize(wcslen(domain.c_str()));
    return domain.empty() ? name : domain + L"\\" + name;
}

// GetNamedSecurityInfoW needs READ_CONTROL, which being an administrator
// does not grant: a folder's owner can refuse it to Administrators and still
// let everyone write there. So every failure is said, but for a file not
// placed yet (the worker or the library).
void reportChangers(const ProgramPath& path, const std::string& folder, const std::wstring& account) {
    SecurityDescriptorText descriptor;
    std::wstring text;
    const DWORD error = readSecurity(utf8ToWide(path.path), descriptor, text);
    if (error == ERROR_FILE_NOT_FOUND && path.part != ProgramPart::folder) return;
    if (error != ERROR_SUCCESS) {
        const std::wstring reason = text.empty() ? systemErrorText(error) : L"it reads " + text + L", in a form "
                                                                             L"INSTALL does not know";
        logMessage(unreadableSecurityMessage(path.path, reason));
        return;
    }
    descriptor.owner = spelledOut(descriptor.owner);
    for (AccessEntry& entry : descriptor.entries) entry.sid = spelledOut(entry.sid);
    for (const ProgramChanger& changer : whoElseCanChange(descriptor, path.part, account)) {
        logMessage(changerMessage(accountName(changer.sid), changer.owns, path, folder));
    }
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
    std::wstring account;  // stays empty when it cannot be read: then nobody counts as the running account
    ownAccountSid(account);
    const std::vector<ProgramPath> paths = serviceProgramPaths(modulePath);
    for (const ProgramPath& path : paths) reportChangers(path, paths.front().path, account);
    const std::wstring location = executableLocationMessage(locationOf(utf8ToWide(modulePath)));
    if (!location.empty()) logMessage(location);
}
