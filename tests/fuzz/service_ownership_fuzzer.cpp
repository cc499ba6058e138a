// A registered program is judged by what it is, not by how its path is
// written: quoted or not, in either letter case, with either slash.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "respelling.h"
#include "service_registration.h"

namespace {

std::wstring widened(const std::string& bytes) { return std::wstring(bytes.begin(), bytes.end()); }

// Unquoted, a path with blanks runs up to the first blank that follows a
// keldraagent.exe (and Windows too may take a shorter program): the two
// spellings name one program only when no such blank comes before its end.
bool programEndsAt(const std::wstring& line, size_t end) {
    std::wstring folded = line;
    for (wchar_t& c : folded) c = c >= L'A' && c <= L'Z' ? c + 32 : c;
    for (size_t at = folded.find(L"keldraagent.exe"); at != std::wstring::npos;
         at = folded.find(L"keldraagent.exe", at + 1)) {
        const size_t after = at + 15;
        if (after < line.size() && (line[after] == L' ' || line[after] == L'\t') && after != end) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::wstring path = widened(in.ConsumeRandomLengthString(40));
    path += in.ConsumeBool() ? L"\\keldraagent.exe" : widened(in.ConsumeRandomLengthString(20));
    if (path.find(L'"') != std::wstring::npos) return 0;  // a quote cannot be quoted
    // Arguments that began with no blank would run on into the program's name.
    const std::wstring arguments = in.PickValueInArray({L"", L" ", L" RUN", L"\tRUN", L" \tRUN"}) +
                                   widened(in.ConsumeRandomLengthString(30));
    const std::wstring same = respelled(path, in.ConsumeIntegral<uint32_t>());
    if (programEndsAt(same + arguments, same.size()) &&
        isAgentServiceCommandLine(L"\"" + path + L"\"" + arguments) != isAgentServiceCommandLine(same + arguments)) {
        __builtin_trap();
    }
    if (isAgentEventMessageFile(path) != isAgentEventMessageFile(same)) __builtin_trap();
    return 0;
}
