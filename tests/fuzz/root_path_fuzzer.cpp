// Every spelling of a path that the root rule calls the same (root_path.h)
// gets the same verdict: a root in one spelling and not in another is how a
// stage directory at a drive's root would slip through.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "respelling.h"
#include "root_path.h"

namespace {

// Spellings of one start, each the same place as the first; "" is the
// current drive's root, whose first separator must stay single.
const std::vector<std::vector<std::wstring>> starts = {
    {L"X:", L"\\\\?\\X:", L"\\\\.\\X:", L"\\??\\X:"},
    {L"\\\\server\\share", L"\\\\?\\UNC\\server\\share", L"\\\\.\\UNC\\server\\share"},
    {L"\\\\?\\Volume{0b1b2c3d-0000-0000-0000-100000000000}", L"\\\\.\\Volume{0b1b2c3d-0000-0000-0000-100000000000}"},
    {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1", L"\\\\.\\GLOBALROOT\\Device\\HarddiskVolume1"},
    {L"stage"},
    {L""},
};

// Ways to write one separator; the doubled ones come last.
const wchar_t* const separators[] = {L"\\", L"/", L"\\.\\", L"/./", L"\\x\\..\\", L"\\x/../", L"\\\\", L"/\\"};

// A name holds no separator, and no '?', which names never hold and which
// could make "\??\" after the current drive's root.
std::wstring name(const std::string& bytes) {
    std::wstring text;
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
    if (startIndex == starts.size()) {  // any text, respelled below only
        const std::string bytes = in.ConsumeRandomLengthString(64);
        path = same = std::wstring(bytes.begin(), bytes.end());
    } else {
        const std::vector<std::wstring>& start = starts[startIndex];
        path = start[0];
        same = start[in.ConsumeIntegralInRange<size_t>(0, start.size() - 1)];
        for (int parts = 0; in.remaining_bytes() > 4 && parts < 8; ++parts) {
            const size_t separator = in.ConsumeIntegralInRange<size_t>(0, parts == 0 && path.empty() ? 5 : 7);
            const std::wstring part = name(in.ConsumeRandomLengthString(12));
            path += L"\\" + part;
            same += separators[separator] + part;
        }
        if (path != start[0]) same += in.PickValueInArray({L"", L"\\", L"/.", L"\\x\\.."});
    }
    if (namesRoot(path) != namesRoot(respelled(same, in.ConsumeIntegral<uint32_t>()))) __builtin_trap();
    return 0;
}
