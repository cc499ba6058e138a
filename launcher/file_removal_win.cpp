#include "file_removal.h"

#include <windows.h>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "handle_holders_win.h"
#include "root_path.h"

namespace {

struct OpenedEntry {
    std::wstring finalPath;  // empty when the entry could not be opened
    DWORD attributes = 0;    // as its handle reports them
};

// Opens the entry itself, not what a reparse point names, and reads where the
// file system says the handle leads.
OpenedEntry openEntry(const std::wstring& path) {
    OpenedEntry entry;
    const UniqueHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!handle) return entry;
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle.get(), &information)) return entry;
    entry.attributes = information.dwFileAttributes;
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle.get(), &buffer[0], static_cast<DWORD>(buffer.size()), 0);
    if (length >= buffer.size()) {
        buffer.assign(length + 1, L'\0');
        length = GetFinalPathNameByHandleW(handle.get(), &buffer[0], static_cast<DWORD>(buffer.size()), 0);
    }
    if (length != 0 && length < buffer.size()) entry.finalPath = buffer.substr(0, length);
    return entry;
}

bool sameName(const std::wstring& left, const std::wstring& right) {
    return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                static_cast<int>(right.size()), /* ignore case */ TRUE) == CSTR_EQUAL;
}

std::wstring childPath(const std::wstring& directory, const std::wstring& name) {
    return !directory.empty() && directory.back() == L'\\' ? directory + name : directory + L"\\" + name;
}

// Windows shows a symbolic link or junction as a reparse point, which the
// removal deletes as itself. Wine shows a link to a file as a plain file and
// a link to a directory as a plain directory through its handle, and deleting
// it deletes its target; what gives it away there is its final path, which
// names the target instead of the place where the walk found it. A tree
// holding such an entry is left alone.
bool linksStayInside(const std::wstring& directory, const std::wstring& directoryFinalPath) {
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle search(FindFirstFileW(childPath(directory, L"*").c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = childPath(directory, name);
        const OpenedEntry entry = openEntry(path);
        if (entry.finalPath.empty() || !sameName(entry.finalPath, childPath(directoryFinalPath, name))) return false;
        const bool descend = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                             (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        if (descend && !linksStayInside(path, entry.finalPath)) return false;
    } while (FindNextFileW(search.get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

bool safeToRemove(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
    const OpenedEntry top = openEntry(path);
    if (top.finalPath.empty()) return false;
    // A link that its path shows but its handle does not was followed by the
    // handle, and the removal would follow it too.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return (top.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    return linksStayInside(path, top.finalPath);
}

std::wstring fullPathOf(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::wstring();
    std::wstring buffer(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &buffer[0], nullptr);
    return length != 0 && length < size ? buffer.substr(0, length) : std::wstring();
}

// Removing a root would empty a whole drive or share. It may be named
// directly, reached through "." and ".." or the current directory, or (under
// Wine, where a link looks like its target) be where the named entry leads.
bool isRoot(const std::wstring& path) {
    return namesRoot(path) || namesRoot(fullPathOf(path)) || namesRoot(openEntry(path).finalPath);
}

}  // namespace

bool removeTree(const std::wstring& path) {
    if (isRoot(path) || !safeToRemove(path)) return false;
    try {
        boost::filesystem::remove_all(boost::filesystem::path(path));
    } catch (const boost::filesystem::filesystem_error&) {
        return false;
    }
    return true;
}
