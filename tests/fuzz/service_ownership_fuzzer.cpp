// A registered program is judged by what it is, not by how its path is
// written: quoted or not, in any letter case, with either slash.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "service_registration.h"

namespace {

std::wstring widened(const std::string& bytes) { return std::wstring(bytes.begin(), bytes.end()); }

// Letter case and slashes flipped where the bits of the mask say.
std::wstring respelled(std::wstring path, uint32_t mask) {
    for (size_t i = 0; i < path.size(); ++i) {
        wchar_t& c = path[i];
        if (!((mask >> (i % 32)) & 1)) continue;
        if (c == L'\\' || c == L'/') c = c == L'\\' ? L'/' : L'\\';
        if ((c | 0x20) >= L'a' && (c | 0x20) <= L'z') c ^= 0x20;
    }
    return path;
}

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Unquoted, a path that holds a blank is read up to the first blank that
// follows a keldraagent.exe: the spellings are the same program only when
// no such blank comes before the path's end.
bool programEndsAtPath(const std::wstring& line, size_t pathEnd) {
    std::wstring lower = line;
    for (wchar_t& c : lower) c = c >= L'A' && c <= L'Z' ? c + 32 : c;
    const std::wstring name = L"keldraagent.exe";
    for (size_t at = lower.find(name); at != std::wstring::npos; at = lower.find(name, at + 1)) {
        const size_t end = at + name.size();
        if (end < line.size() && isBlank(line[end]) && end != pathEnd) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::wstring path = widened(in.ConsumeRandomLengthString(40));
    path += in.ConsumeBool() ? L"\\keldraagent.exe" : widened(in.ConsumeRandomLengthString(20));
    if (path.find(L'"') != std::wstring::npos) return 0;  // a quote cannot be quoted
    std::wstring arguments = in.PickValueInArray({L"", L" ", L" RUN", L"\tRUN", L" \tRUN"});
    arguments += widened(in.ConsumeRandomLengthString(30));
    const uint32_t mask = in.ConsumeIntegral<uint32_t>();

    // Arguments that do not begin with a blank run on into the program's name.
    const std::wstring same = respelled(path, mask);
    if ((arguments.empty() || isBlank(arguments[0])) && programEndsAtPath(same + arguments, same.size())) {
        if (isAgentServiceCommandLine(L"\"" + path + L"\"" + arguments) != isAgentServiceCommandLine(same + arguments)) {
            __builtin_trap();
        }
    }
    if (isAgentEventMessageFile(path) != isAgentEventMessageFile(same)) __builtin_trap();
    return 0;
}
