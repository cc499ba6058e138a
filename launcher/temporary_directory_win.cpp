#include "temporary_directory.h"

#include <windows.h>

std::wstring temporaryDirectory(DWORD firstBufferSize) {
    std::wstring buffer(firstBufferSize, L'\0');
    // The directory can change between two calls; a few rounds settle it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), &buffer[0]);
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return buffer.substr(0, length);
        // Too small: the answer is the size needed, the terminating NUL included.
        buffer.assign(length + 1, L'\0');
    }
    return std::wstring();
}
