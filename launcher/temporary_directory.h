#pragma once

#include <string>

// The account's temporary directory as GetTempPath2W gives it, or GetTempPathW
// where the system lacks that (ending in a backslash), or empty when Windows
// cannot say. For SYSTEM that is C:\Windows\SystemTemp, which administrators
// cannot list: they reach mirelt.log there by its full path alone, which the
// log's own access list lets them open. A path longer than the first buffer is
// asked for again with the size that Windows names.
std::wstring temporaryDirectory(unsigned long firstBufferSize = 260);
