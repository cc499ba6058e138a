// Every spelling of a path that the root rule calls the same (documented in
// root_path.h) gets the same verdict: a root in one spelling and not in
// another is how a stage directory at a drive's root would slip through.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "root_path.h"

namespace {

// Spellings of one start, each the same place as the first.
const std::vector<std::vector<std::wstring>> starts = {
    {L"X:", L"\\\\?\\X:", L"\\\\.\\X:", L"\\??\\X:"},
    {L"\\\\server\\share", L"\\\\?\\UNC\\server\\share", L"\\\\.\\UNC\\server\\share"},
    {L"\\\\?\\Volume{0b1b2c3d-0000-0000-0000-100000000000}", L"\\\\.\\Volume{0b1b2c3d-0000-0000-0000-100000000000}"},
    {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1", L"\\\\.\\GLOBALROOT\\Device\\HarddiskVolume1"},
    {L"stage"},
    {L""},  // the current drive's root: its first separator must stay single
};

// Ways to write one separator; the doubled ones come last.
const wchar_t* const separators[] = {L"\\", L"/", L"\\.\\", L"/./", L"\\x\\..\\", L"\\x/../", L"\\\\", L"/\\"};

std::wstring widened(const std::string& bytes) {
    std::wstring text;
    // No separator, and no '?', which is not part of a name but can make
    // "\??\" of the parts after the current drive's root.
    for (unsigned char c : bytes) {
        if (c != '\\' && c != '/' && c != '?') text += static_cast<wchar_t>(c);
    }
    return text.empty() ? L"n" : text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t startIndex = in.ConsumeIntegralInRange<size_t>(0, starts.size());
    std::wstring path;
    std::wstring same;
    if (startIndex == starts.size()) {  // any text: only letter case and slashes change below
        for (unsigned char c : in.ConsumeRandomLengthString(64)) path += static_cast<wchar_t>(c);
        same = path;
    } else {
        const std::vector<std::wstring>& start = starts[startIndex];
        path = start[0];
        same = start[in.ConsumeIntegralInRange<size_t>(0, start.size() - 1)];
        const bool singleFirst = start[0].empty();
        for (int parts = 0; in.remaining_bytes() > 8 && parts < 8; ++parts) {
            const size_t separator = in.ConsumeIntegralInRange<size_t>(0, parts == 0 && singleFirst ? 5 : 7);
            const std::wstring name = widened(in.ConsumeRandomLengthString(12));
            path += L"\\" + name;
            same += separators[separator] + name;
        }
        if (path != start[0]) same += in.PickValueInArray({L"", L"\\", L"/.", L"\\x\\.."});
    }
    const uint32_t slashes = in.ConsumeIntegral<uint32_t>();
    const uint32_t cases = in.ConsumeIntegral<uint32_t>();
    for (size_t i = 0; i < same.size(); ++i) {
        wchar_t& c = same[i];
        if ((slashes >> (i % 32)) & 1 && (c == L'\\' || c == L'/')) c = c == L'\\' ? L'/' : L'\\';
        if ((cases >> (i % 32)) & 1 && ((c | 0x20) >= L'a' && (c | 0x20) <= L'z')) c ^= 0x20;
    }
    if (namesRoot(path) != namesRoot(same)) __builtin_trap();
    return 0;
}
