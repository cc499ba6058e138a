#include "system_error_text.h"

std::wstring systemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    // Inserts are ignored: a text with "%1" in it would otherwise read
    // arguments that nobody passed.
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        /* source */ nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, /* arguments */ nullptr);
    if (length == 0 || buffer == nullptr) {
        if (buffer != nullptr) LocalFree(buffer);
        return L"Unknown error " + std::to_wstring(code);
    }
    std::wstring text(buffer, length);
    LocalFree(buffer);
    return text;
}
