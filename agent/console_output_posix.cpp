#include <cstdio>

#include "console_output.h"
#include "text_conversion.h"

void writeConsoleText(const std::wstring& text) {
    const std::string narrow = wideToUtf8(text);
    std::fwrite(narrow.data(), 1, narrow.size(), stdout);
    std::fflush(stdout);
}
