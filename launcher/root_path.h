#pragma once

#include <string>

// True when the path names the root of a drive or share, however it is
// written: "X:\", "X:" (the drive's current directory, usually its root),
// "\" (the current drive's root), "\\server\share", the same behind "\\?\",
// "\\.\" or "\??\", with "/" for "\", doubled separators and "." or ".."
// parts. A volume named by its device ("\\?\Volume{...}\") counts too. A
// relative path is judged by its full form, which the caller supplies.
bool namesRoot(const std::wstring& path);
