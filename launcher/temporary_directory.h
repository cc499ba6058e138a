#pragma once

#include <string>

// The user's temporary directory as GetTempPathW gives it (ending in a
// backslash), or empty when Windows cannot say. A path longer than the first
// buffer is asked for again with the size that Windows names.
std::wstring temporaryDirectory(unsigned long firstBufferSize = 260);
