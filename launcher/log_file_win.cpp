#include "log_file.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <ctime>
#include <vector>

#include "handle_holders_win.h"
#include "log_owner.h"

namespace {

// The log lies in a temporary directory that, for an installation running as
// SYSTEM, other users can write; whatever they plant at its name must not
// make the launcher write into a file of their choosing. A reparse point
// (symbolic link, junction) is opened as itself and refused, and so is a file
// with a second name (a hard link to a file elsewhere).
bool isPlainLogFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information)) return false;
    const DWORD refused = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
    return (information.dwFileAttributes & refused) == 0 && information.nNumberOfLinks <= 1;
}

// The account the launcher runs as (TOKEN_USER), read once: every line
// opens the log anew. Empty when the token cannot be read.
const std::vector<unsigned char>& runningAccount() {
    static const std::vector<unsigned char> user = [] {
        std::vector<unsigned char> read;
        UniqueHandle token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return read;
        DWORD size = 0;
        GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
        read.resize(size);
        if (size == 0 || !GetTokenInformation(token.get(), TokenUser, read.data(), size, &size)) read.clear();
        return read;
    }();
    return user;
}

bool isRunningAccount(PSID sid) {
    const std::vector<unsigned char>& user = runningAccount();
    return !user.empty() && EqualSid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, sid) != FALSE;
}

// A new log gets an access list of its own, not the one of its folder: the
// lines carry option texts, and those may hold product keys and passwords,
// while a shared temporary folder (C:\Temp, made under C:\) lets
// Authenticated Users change what is created in it. Only the running
// account, SYSTEM and the Administrators may open it, and the list is
// protected from what the folder would hand down. Null (the folder's list)
// only when the account cannot be read, in which case the log is not
// written at all (see openLogFile).
PSECURITY_DESCRIPTOR ownLogSecurity() {
    static const UniqueLocalMemory<void> descriptor = [] {
        const std::vector<unsigned char>& user = runningAccount();
        wchar_t* account = nullptr;
        if (user.empty() || !ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid,
                                                    &account)) {
            return UniqueLocalMemory<void>();
        }
        const std::wstring text = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + std::wstring(account) + L")";
        LocalFree(account);
        PSECURITY_DESCRIPTOR made = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &made, nullptr);
        return UniqueLocalMemory<void>(made);
    }();
    return descriptor.get();
}

LogAccount accountOf(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) return LogAccount::other;
    if (IsWellKnownSid(sid, WinLocalSystemSid)) return LogAccount::system;
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return LogAccount::administrators;
    return isRunningAccount(sid) ? LogAccount::runningAccount : LogAccount::other;
}

// Plain and conditional allow entries hold their account in the same place;
// an allow entry of another kind names no account that the launcher tells
// apart, so it counts as someone else's.
LogAccessEntry entryOf(ACE_HEADER* header) {
    switch (header->AceType) {
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
        return {/* allows */ false, LogAccount::other};
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        return {true, accountOf(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart)};
    default:
        return {true, LogAccount::other};
    }
}

// A file system that keeps no owners, or a descriptor that cannot be read,
// gives the owner "other".
LogFileSecurity securityOf(HANDLE file) {
    LogFileSecurity security;
    PSID owner = nullptr;
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
        return security;
    }
    const UniqueLocalMemory<void> held(descriptor);
    security.unrestricted = list == nullptr;
    for (DWORD index = 0; list != nullptr && index < list->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(list, index, &entry)) return LogFileSecurity();
        security.entries.push_back(entryOf(static_cast<ACE_HEADER*>(entry)));
    }
    security.owner = accountOf(owner);
    return security;
}

// The owner of a file may always rewrite its access list, and the log's own
// list gives that right to every account it lets in; an account that an
// earlier list let write the lines but not the list is refused here, and so
// the log is. The right is asked for on a second handle, opened from the
// first so that it is the same file, and only when the list is rewritten.
// Wine's SetSecurityInfo reads the descriptor first and fails without
// READ_CONTROL.
bool giveOwnAccessList(HANDLE file) {
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(ownLogSecurity(), &present, &list, &defaulted) || !present) return false;
    const UniqueHandle rewriter(ReOpenFile(file, WRITE_DAC | READ_CONTROL,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           FILE_FLAG_OPEN_REPARSE_POINT));
    return rewriter && SetSecurityInfo(rewriter.get(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, list, nullptr) == ERROR_SUCCESS;
}

// A log that may be appended to: a plain file of a known owner, whose access
// list lets no one else in, or has been made to. The new list is read back:
// a file system may keep none, and Wine's SetSecurityInfo, which ignores
// PROTECTED_DACL_SECURITY_INFORMATION, adds what the folder hands down.
bool mayAppendTo(HANDLE file) {
    if (!isPlainLogFile(file)) return false;
    const LogFileSecurity security = securityOf(file);
    if (!mayAppendToLogOwnedBy(security.owner)) return false;
    if (!logNeedsOwnAccessList(security)) return true;
    return giveOwnAccessList(file) && !logNeedsOwnAccessList(securityOf(file));
}

// Append-only access puts every write at the current end of the file, also
// when other launcher processes write to it at the same time; full sharing
// lets them, and readers, open it meanwhile.
UniqueHandle openLogFile(const std::wstring& path) {
    // No temporary directory, no log: an empty path is a file that cannot be
    // opened, whatever the current directory is. Nor is a log written that
    // could not be given its own access list.
    SECURITY_ATTRIBUTES security = {sizeof security, ownLogSecurity(), /* inherit */ FALSE};
    if (path.empty() || security.lpSecurityDescriptor == nullptr) return UniqueHandle();
    // Read access only because Windows locks a byte range only for a handle
    // that may read or write data; the writes stay appends. READ_CONTROL
    // lets the owner and the access list be read.
    const DWORD access = FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL;
    UniqueHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &security, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
    if (file && !mayAppendTo(file.get())) file.reset();
    return file;
}

// Appends are atomic on Windows, but Wine writes an append at the end of the
// file as it last saw it, so two launchers logging at once can overwrite each
// other's line. Writers take a lock on one byte far beyond any real end of
// the file: it orders them without keeping anybody from reading the log. A
// lock that another program holds on to is waited for only so long; the line
// is written all the same.
constexpr DWORD writerLockOffsetHigh = 0x7FFFFFFF;
constexpr ULONGLONG writerLockWaitMs = 5000;

bool takeWriterLock(HANDLE file, OVERLAPPED& range) {
    range.OffsetHigh = writerLockOffsetHigh;
    const ULONGLONG deadline = GetTickCount64() + writerLockWaitMs;
    while (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(5);
    }
    return true;
}

}  // namespace

void writeLog(const std::wstring& message) {
    const UniqueHandle file = openLogFile(logFilePath);
    if (!file) {
        std::fputs("ERROR: Failed to open log file\n", stderr);
        return;
    }
    // The bytes are written here, in one call: a wide file stream converts
    // through the locale and, at the first character it cannot convert,
    // silently fails every later write.
    const std::string line = logLine(localTimeAt(std::time(nullptr)), message);
    OVERLAPPED range{};
    const bool locked = takeWriterLock(file.get(), range);
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (locked) UnlockFileEx(file.get(), 0, 1, 0, &range);
}
