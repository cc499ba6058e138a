#include "root_path.h"

#include <cwchar>
#include <vector>

namespace {

wchar_t lowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool sameAsciiIgnoringCase(const std::wstring& text, const std::wstring& lowerWord) {
    if (text.size() != lowerWord.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (lowerAscii(text[i]) != lowerWord[i]) return false;
    }
    return true;
}

bool isDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool hasDrive(const std::wstring& text) { return text.size() >= 2 && isDriveLetter(text[0]) && text[1] == L':'; }

// Windows drops trailing dots and blanks from a name, so a part made of them
// alone is never a name; taking every such part but "." for a step up can
// only make more paths count as roots, which is the safe side.
bool isStepUp(const std::wstring& part) {
    if (part.empty() || part == L".") return false;
    return part.find_first_not_of(L". ") == std::wstring::npos;
}

// The named parts that remain once "." and ".." have done their work.
std::vector<std::wstring> namedParts(const std::wstring& text) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\\', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring part = text.substr(start, end - start);
        if (isStepUp(part)) {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    return parts;
}

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

}  // namespace

bool namesRoot(const std::wstring& path) {
    std::wstring text = path;
    for (wchar_t& c : text) {
        if (c == L'/') c = L'\\';
    }
    bool device = false;
    if (startsWith(text, L"\\\\?\\") || startsWith(text, L"\\\\.\\") || startsWith(text, L"\\??\\")) {
        text.erase(0, 4);
        device = true;
        const std::wstring first = text.substr(0, text.find(L'\\'));
        if (sameAsciiIgnoringCase(first, L"unc")) {
            text = L"\\\\" + (first.size() < text.size() ? text.substr(first.size() + 1) : std::wstring());
            device = false;
        }
    }
    if (hasDrive(text)) return namedParts(text.substr(2)).empty();
    if (startsWith(text, L"\\\\")) return namedParts(text.substr(2)).size() <= 2;  // server and share
    if (device) {
        const std::vector<std::wstring> parts = namedParts(text);
        if (!parts.empty() && sameAsciiIgnoringCase(parts[0], L"globalroot")) return parts.size() <= 3;
        return parts.size() <= 1;
    }
    if (startsWith(text, L"\\")) return namedParts(text).empty();
    return false;
}
