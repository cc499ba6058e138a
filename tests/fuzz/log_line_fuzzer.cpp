// A logged message never holds a control character, and its escapes read
// back to exactly the message.
#include <string>

#include "log_line.h"

namespace {

// The escaping undone: "<U+" always starts an escape, and a code point above
// U+FFFF comes back as its surrogate pair.
std::wstring readBack(const std::string& bytes) {
    std::wstring text;
    for (size_t i = 0; i < bytes.size();) {
        if (bytes.compare(i, 3, "<U+") != 0) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i++]));
            continue;
        }
        const size_t end = bytes.find_first_not_of("0123456789ABCDEF", i + 3);
        if (end == std::string::npos || bytes[end] != '>' || end - i < 7 || end - i > 9) __builtin_trap();
        const unsigned long c = std::stoul(bytes.substr(i + 3, end - i - 3), nullptr, 16);
        text += c > 0xFFFF ? std::wstring{wchar_t(0xD800 + ((c - 0x10000) >> 10)), wchar_t(0xDC00 + (c & 0x3FF))}
                           : std::wstring(1, wchar_t(c));
        i = end + 1;
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // UTF-16 units as Windows hands them over; an odd first byte takes one
    // byte per character, which reaches a "<U+" of the message far sooner.
    std::wstring message;
    const size_t width = data[0] % 2 + 1;
    for (size_t i = 1; i + width <= size; i += width) {
        message += static_cast<wchar_t>(width == 1 ? data[i] : data[i] | (data[i + 1] << 8));
    }
    const std::string line = logLine(boost::none, message);
    const std::string start = logTimestamp(boost::none) + " ";
    if (line.compare(0, start.size(), start) != 0 || line.compare(line.size() - 2, 2, "\r\n") != 0) __builtin_trap();
    const std::string text = line.substr(start.size(), line.size() - start.size() - 2);
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) __builtin_trap();
    }
    if (readBack(text) != message) __builtin_trap();
    return 0;
}
