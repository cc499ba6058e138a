#include "system_random_win.h"

#include <string>

namespace {

using ProcessPrngFunction = BOOL(WINAPI*)(PBYTE data, SIZE_T size);
using RtlGenRandomFunction = BOOLEAN(WINAPI*)(PVOID buffer, ULONG size);

struct RandomSource {
    ProcessPrngFunction processPrng = nullptr;
    RtlGenRandomFunction rtlGenRandom = nullptr;
    DWORD error = ERROR_SUCCESS;
};

template <typename Function>
Function exported(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// ProcessPrng is the generator that Windows' other random calls lead to
// (Windows 10 and later), and its bcryptprimitives.dll is as a rule loaded
// already. bcrypt.dll is never loaded: it adds nothing to the bits, and
// under Wine it brings in GnuTLS and eight more Unix libraries, some 3 MB for
// the life of the service. The full path in the system directory keeps a DLL
// of that name planted anywhere else out, and what the DLL needs comes from
// there too.
ProcessPrngFunction processPrng() {
    wchar_t directory[MAX_PATH + 1] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return nullptr;
    const std::wstring path = std::wstring(directory, length) + L"\\bcryptprimitives.dll";
    const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module != nullptr ? exported<ProcessPrngFunction>(module, "ProcessPrng") : nullptr;
}

// Where ProcessPrng is missing (older Windows, Wine 8), ADVAPI32's RtlGenRandom
// (SystemFunction036) takes its place. It is looked up here, never imported:
// current Windows forwards it to cryptbase.dll, which is no known DLL, and an
// import is resolved before main, where the loader looks beside the program
// first. By now main has limited that search to the system directory.
RandomSource findRandomSource() {
    RandomSource source;
    source.processPrng = processPrng();
    if (source.processPrng != nullptr) return source;
    source.rtlGenRandom = exported<RtlGenRandomFunction>(GetModuleHandleW(L"advapi32.dll"), "SystemFunction036");
    if (source.rtlGenRandom == nullptr) source.error = GetLastError();
    return source;
}

}  // namespace

DWORD systemRandomBytes(void* buffer, std::size_t size) {
    static const RandomSource source = findRandomSource();
    if (source.processPrng != nullptr) {
        source.processPrng(static_cast<PBYTE>(buffer), size);  // documented to return TRUE always
        return ERROR_SUCCESS;
    }
    // RtlGenRandom says no more than that it failed.
    if (source.rtlGenRandom == nullptr) return source.error;
    return source.rtlGenRandom(buffer, static_cast<ULONG>(size)) ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
}
