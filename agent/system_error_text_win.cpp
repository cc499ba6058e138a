#include "system_error_text_win.h"

#include <cwchar>

#include "handle_holders_win.h"

namespace {

std::wstring unknownErrorText(DWORD code) {
    wchar_t text[64] = {};
    std::swprintf(text, sizeof text / sizeof text[0], L"Unknown error %lu (0x%08lX).", code, code);
    return text;
}

}  // namespace

std::wstring systemErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    // Without FORMAT_MESSAGE_IGNORE_INSERTS a text holding "%1" would make
    // FormatMessageW read insert arguments that were never passed.
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        /* source */ nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, /* arguments */ nullptr);
    const UniqueLocalMemory<wchar_t> text(buffer);
    if (length == 0 || !text) return unknownErrorText(code);
    return std::wstring(text.get(), length);
}
