#pragma once
// Windows reads "/" as "\" and ASCII letters in either case alike in paths.
#include <cstdint>
#include <string>

// The text with each slash turned the other way and each ASCII letter's case
// flipped where the mask's bit (the position modulo 32) is set.
inline std::wstring respelled(std::wstring text, uint32_t mask) {
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t& c = text[i];
        if (!((mask >> (i % 32)) & 1)) continue;
        if (c == L'\\' || c == L'/') c = c == L'\\' ? L'/' : L'\\';
        if ((c | 0x20) >= L'a' && (c | 0x20) <= L'z') c ^= 0x20;
    }
    return text;
}
