#pragma once

#include <string>

// Removes a file, or a directory with everything below it. True when the
// path is gone (or never existed); false when it could not be removed, when
// it is itself a symbolic link or junction or a directory that holds one at
// any depth (whether it leads in or out), or when it is the root of a drive
// or share: none of those is ever removed.
bool removeTree(const std::wstring& path);
