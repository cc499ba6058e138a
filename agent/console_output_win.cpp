#include <windows.h>

#include "console_output.h"
#include "text_conversion.h"

namespace {

// A line end that is CR LF already (the system's error texts end in one)
// stays as it is; only a bare LF gets its CR.
std::wstring withWindowsLineEnds(const std::wstring& text) {
    std::wstring converted;
    converted.reserve(text.size() + 16);
    wchar_t previous = L'\0';
    for (wchar_t c : text) {
        if (c == L'\n' && previous != L'\r') converted += L'\r';
        converted += c;
        previous = c;
    }
    return converted;
}

}  // namespace

void writeConsoleText(const std::wstring& text) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    const std::wstring lines = withWindowsLineEnds(text);
    DWORD mode = 0;
    DWORD written = 0;
    // The C runtime's wide output converts through the console code page and
    // stops writing for good at the first character it lacks; WriteConsoleW
    // takes every character.
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
        return;
    }
    const std::string narrow = wideToUtf8(lines);
    WriteFile(output, narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
}
