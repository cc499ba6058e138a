#include "temporary_directory.h"

#include <windows.h>

namespace {

using TemporaryPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W gives a process running as SYSTEM C:\Windows\SystemTemp,
// which is closed to every process that is not SYSTEM, where GetTempPathW
// gives C:\Windows\Temp, in which every user may create files (a mirelt.log
// of their own among them); for any other account the two agree. Only newer
// systems have it: Windows 11 and Server 2022 from the start, Windows 10 22H2
// since its update of February 2025, Server 2016 and 2019 since theirs of
// March 2025.
TemporaryPathFunction temporaryPathFunction() {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const FARPROC newer = kernel32 != nullptr ? GetProcAddress(kernel32, "GetTempPath2W") : nullptr;
    return newer != nullptr ? reinterpret_cast<TemporaryPathFunction>(reinterpret_cast<void*>(newer)) : GetTempPathW;
}

}  // namespace

std::wstring temporaryDirectory(DWORD firstBufferSize) {
    const TemporaryPathFunction temporaryPath = temporaryPathFunction();
    std::wstring buffer(firstBufferSize, L'\0');
    // The directory can change between two calls; a few rounds settle it.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD length = temporaryPath(static_cast<DWORD>(buffer.size()), &buffer[0]);
        if (length == 0) return std::wstring();
        if (length < buffer.size()) return buffer.substr(0, length);
        // Too small: the answer is the size needed, the terminating NUL included.
        buffer.assign(length + 1, L'\0');
    }
    return std::wstring();
}
