#pragma once

#include <string>

// Removes a file, or a directory with everything below it, without following
// a link out of the tree. True when the path is gone (or never existed);
// false when it could not be removed, holds a link that leads elsewhere, or
// is the root of a drive or share, which is never removed.
bool removeTree(const std::wstring& path);
