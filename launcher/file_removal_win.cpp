#include "file_removal.h"

#include <windows.h>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include "handle_holders_win.h"
#include "root_path.h"

namespace {

struct OpenedEntry {
    std::wstring finalPath;     // empty when the entry could not be opened
    bool reparsePoint = false;  // as its handle reports it
    bool link = false;          // a reparse point that names another place
};

// Opens the entry itself, not what a reparse point names (unless told to
// follow it), and reads what its handle shows and where it leads.
OpenedEntry openEntry(const std::wstring& path, bool followLinks = false) {
    OpenedEntry entry;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const UniqueHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, flags, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!handle || !GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag)) return entry;
    entry.reparsePoint = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // Symbolic links, junctions and mount points stand for another place;
    // other reparse points (deduplicated files, cloud placeholders) hold
    // their own data and go like any file or directory.
    entry.link = entry.reparsePoint && IsReparseTagNameSurrogate(tag.ReparseTag);
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

bool holdsNoLink(const std::wstring& directory, const std::wstring& directoryFinalPath);

// Whether an entry that a directory lists (found), whose final path is given,
// is no link and holds none. Windows shows a symbolic link or a junction as a
// reparse point that stands for another place. Wine shows neither: a link to
// a directory is a reparse point by its name but not through a handle, which
// follows it, and a link to a file is a plain file; what gives any link away
// there is its final path, which names the target instead of the place in the
// directory.
bool noLinkAt(const std::wstring& path, const WIN32_FIND_DATAW& found, const std::wstring& directoryFinalPath) {
    const OpenedEntry entry = openEntry(path);
    if (entry.finalPath.empty() || entry.link) return false;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && !entry.reparsePoint) return false;
    if (!sameName(entry.finalPath, childPath(directoryFinalPath, found.cFileName))) return false;
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || holdsNoLink(path, entry.finalPath);
}

bool holdsNoLink(const std::wstring& directory, const std::wstring& directoryFinalPath) {
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle search(FindFirstFileW(childPath(directory, L"*").c_str(), &found));
    if (search.get() == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        if (!noLinkAt(childPath(directory, name), found, directoryFinalPath)) return false;
    } while (FindNextFileW(search.get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

std::wstring fullPathOf(const std::wstring& path) {
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::wstring();
    std::wstring buffer(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, &buffer[0], nullptr);
    return length != 0 && length < size ? buffer.substr(0, length) : std::wstring();
}

// The path is judged as the directory that holds it lists it, that directory
// taken wherever it leads: a link at the path itself is refused as one below
// it would be.
bool safeToRemove(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;  // nothing to remove
    std::wstring full = fullPathOf(path);
    while (!full.empty() && full.back() == L'\\') full.pop_back();
    const size_t separator = full.find_last_of(L'\\');
    if (separator == std::wstring::npos) return false;
    WIN32_FIND_DATAW found{};
    const UniqueFindHandle search(FindFirstFileW(full.c_str(), &found));
    const OpenedEntry directory = openEntry(full.substr(0, separator + 1), /* follow links */ true);
    return search.get() != INVALID_HANDLE_VALUE && !directory.finalPath.empty() &&
           noLinkAt(full, found, directory.finalPath);
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
