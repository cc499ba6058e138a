// Any bytes convert without fault; valid text and any UTF-16 survive the
// round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#include "text_conversion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::wstring wide = utf8ToWide(bytes);
    if (isValidUtf8(bytes) && wideToUtf8(wide) != bytes) __builtin_trap();

    std::wstring units;
    for (size_t i = 0; i + 1 < size; i += 2) units += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    const std::string narrow = wideToUtf8(units);
    if (!isValidUtf8(narrow) || utf8ToWide(narrow) != units) __builtin_trap();
    return 0;
}
