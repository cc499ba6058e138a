// Any text reads without fault, and whoever the access rule names is the
// owner or an entry's account, once, and never an entry's CREATOR OWNER or
// OWNER RIGHTS; a folder, whose new files inherit more, never has fewer named than
// a file with the same text, nor a file than a folder above.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "executable_paths.h"
#include "security_descriptor_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SecurityDescriptorText descriptor;
    if (!readSecurityDescriptorText(std::wstring(data, data + size), descriptor)) return 0;
    const wchar_t* const account = L"S-1-5-21-1-2-3-500";
    const std::vector<ProgramChanger> above = whoElseCanChange(descriptor, ProgramPart::folderAbove, account);
    const std::vector<ProgramChanger> file = whoElseCanChange(descriptor, ProgramPart::program, account);
    const std::vector<ProgramChanger> folder = whoElseCanChange(descriptor, ProgramPart::folder, account);
    for (size_t index = 0; index < folder.size(); ++index) {
        const ProgramChanger& changer = folder[index];
        const bool owner = index == 0 && changer.sid == descriptor.owner;
        bool listed = owner || (!changer.owns && descriptor.unrestricted && changer.sid == L"S-1-1-0");
        if (!owner && (changer.sid == L"S-1-3-0" || changer.sid == L"S-1-3-4")) __builtin_trap();
        for (const AccessEntry& entry : descriptor.entries) {
            listed = listed || (!changer.owns && entry.sid == changer.sid);
        }
        for (size_t earlier = 0; earlier < index; ++earlier) listed = listed && folder[earlier].sid != changer.sid;
        if (!listed) __builtin_trap();
    }
    for (const auto& [fewer, more] : {std::make_pair(&file, &folder), std::make_pair(&above, &file)}) {
        for (const ProgramChanger& changer : *fewer) {
            bool named = false;
            for (const ProgramChanger& other : *more) named = named || other.sid == changer.sid;
            if (!named) __builtin_trap();
        }
    }
    return 0;
}
