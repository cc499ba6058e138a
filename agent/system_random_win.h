#pragma once
#include <windows.h>

#include <cstddef>

// Fills the buffer from the system's preferred random number generator;
// ERROR_SUCCESS, or the system error code of what failed.
DWORD systemRandomBytes(void* buffer, std::size_t size);
