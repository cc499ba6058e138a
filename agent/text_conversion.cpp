#include "text_conversion.h"

#include <cstdint>

namespace {

const wchar_t replacementCharacter = 0xFFFD;

bool isLeadSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isTrailSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void appendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Decodes one character at `pos`. Returns the number of bytes it takes, or 0
// when the bytes there do not form a well-formed character.
size_t decodeOne(const std::string& text, size_t pos, uint32_t& codePoint) {
    const auto byteAt = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    size_t length;
    uint32_t minimum;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2; minimum = 0x80; codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3; minimum = 0x800; codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4; minimum = 0x10000; codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = byteAt(pos + i);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF) return 0;
    return length;
}

}  // namespace

std::wstring utf8ToWide(const std::string& narrow) {
    std::wstring wide;
    wide.reserve(narrow.size());
    size_t pos = 0;
    while (pos < narrow.size()) {
        uint32_t codePoint = 0;
        const size_t length = decodeOne(narrow, pos, codePoint);
        if (length == 0) {
            wide += replacementCharacter;
            ++pos;
            continue;
        }
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            wide += static_cast<wchar_t>(0xD800 + (codePoint >> 10));
            wide += static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            wide += static_cast<wchar_t>(codePoint);
        }
        pos += length;
    }
    return wide;
}

std::string wideToUtf8(const std::wstring& wide) {
    std::string narrow;
    narrow.reserve(wide.size() * 3);
    for (size_t i = 0; i < wide.size(); ++i) {
        // Only the low 16 bits carry a unit; natively wchar_t is wider.
        const uint32_t unit = static_cast<uint32_t>(wide[i]) & 0xFFFF;
        if (isLeadSurrogate(unit) && i + 1 < wide.size()) {
            const uint32_t next = static_cast<uint32_t>(wide[i + 1]) & 0xFFFF;
            if (isTrailSurrogate(next)) {
                appendUtf8(narrow, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(narrow, unit);
    }
    return narrow;
}

bool isValidUtf8(const std::string& narrow) {
    bool previousWasLeadSurrogate = false;
    size_t pos = 0;
    while (pos < narrow.size()) {
        uint32_t codePoint = 0;
        const size_t length = decodeOne(narrow, pos, codePoint);
        if (length == 0) return false;
        if (previousWasLeadSurrogate && isTrailSurrogate(codePoint)) return false;
        previousWasLeadSurrogate = isLeadSurrogate(codePoint);
        pos += length;
    }
    return true;
}
