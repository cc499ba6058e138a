// Any text reads without fault, and whoever the access rule names is the
// owner or an entry's account, once; a folder, whose new files inherit more,
// never has fewer named than a file with the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "executable_paths.h"
#include "security_descriptor_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SecurityDescriptorText descriptor;
    if (!readSecurityDescriptorText(std::wstring(data, data + size), descriptor)) return 0;
    const std::vector<ProgramChanger> file = whoElseCanChange(descriptor, /* folder */ false, L"S-1-5-21-1-2-3-500");
    const std::vector<ProgramChanger> folder = whoElseCanChange(descriptor, /* folder */ true, L"S-1-5-21-1-2-3-500");
    for (size_t index = 0; index < folder.size(); ++index) {
        const ProgramChanger& changer = folder[index];
        bool listed = changer.owns ? index == 0 && changer.sid == descriptor.owner
                                   : descriptor.unrestricted && changer.sid == L"S-1-1-0";
        for (const AccessEntry& entry : descriptor.entries) {
            listed = listed || (!changer.owns && entry.sid == changer.sid);
        }
        for (size_t earlier = 0; earlier < index; ++earlier) listed = listed && folder[earlier].sid != changer.sid;
        if (!listed) __builtin_trap();
    }
    for (const ProgramChanger& changer : file) {
        bool inFolder = false;
        for (const ProgramChanger& other : folder) inFolder = inFolder || other.sid == changer.sid;
        if (!inFolder) __builtin_trap();
    }
    return 0;
}
