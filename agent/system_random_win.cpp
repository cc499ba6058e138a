#include "system_random_win.h"

#include <string>

namespace {

using GenRandomFunction = LONG(WINAPI*)(void* algorithm, UCHAR* buffer, ULONG size, ULONG flags);
using StatusToErrorFunction = ULONG(WINAPI*)(LONG status);
constexpr ULONG useSystemPreferredGenerator = 0x00000002;  // BCRYPT_USE_SYSTEM_PREFERRED_RNG

// bcrypt.dll is loaded by its full path in the system directory, and what
// it needs from there too, at the first use: a DLL that the program imports
// is resolved before main, where nothing can yet keep the loader from
// looking beside the program first. ADVAPI32's RtlGenRandom is such an
// import, and current Windows forwards it to cryptbase.dll, which is no
// known DLL: one planted beside the program would run with its rights.
GenRandomFunction generator(DWORD& error) {
    static GenRandomFunction loaded = nullptr;
    if (loaded != nullptr) return loaded;
    wchar_t directory[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) {
        error = length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW;
        return nullptr;
    }
    const std::wstring path = std::wstring(directory, length) + L"\\bcrypt.dll";
    const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error = GetLastError();
        return nullptr;
    }
    loaded = reinterpret_cast<GenRandomFunction>(reinterpret_cast<void*>(GetProcAddress(module, "BCryptGenRandom")));
    if (loaded == nullptr) error = GetLastError();
    return loaded;
}

// The status of a bcrypt call as a system error code, which has a text.
DWORD errorOfStatus(LONG status) {
    const auto convert = reinterpret_cast<StatusToErrorFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return convert != nullptr ? convert(status) : ERROR_GEN_FAILURE;
}

}  // namespace

DWORD systemRandomBytes(void* buffer, std::size_t size) {
    DWORD error = ERROR_SUCCESS;
    const GenRandomFunction generate = generator(error);
    if (generate == nullptr) return error;
    const LONG status = generate(nullptr, static_cast<UCHAR*>(buffer), static_cast<ULONG>(size),
                                 useSystemPreferredGenerator);
    return status >= 0 ? ERROR_SUCCESS : errorOfStatus(status);
}
