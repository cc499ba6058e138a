#pragma once

#include <string>

// Removes a file, or a directory with everything below it, without following
// a link out of the tree. True when the path is gone (or never existed);
// false when it could not be removed or holds a link that leads elsewhere.
bool removeTree(const std::wstring& path);
