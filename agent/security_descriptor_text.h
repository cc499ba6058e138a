#pragma once
// A file's owner and access list in the text form that Windows writes them in
// (ConvertSecurityDescriptorToStringSecurityDescriptorW, the security
// descriptor definition language): "O:<owner>D:<flags>(<entry>)(<entry>)...".
// Read here without Windows types, so that the rules over it build natively.
#include <cstdint>
#include <string>
#include <vector>

// One entry of an access list: whether it allows (a plain, object or
// conditional allow entry) rather than denies or audits, its flags as
// ACE_HEADER.AceFlags holds them, its access mask and its account.
struct AccessEntry {
    bool allows;
    std::uint8_t flags;
    std::uint32_t mask;
    std::wstring sid;
};

struct SecurityDescriptorText {
    std::wstring owner;  // empty when the text names none
    // No access list at all, or a null one: the system lets everyone do
    // everything.
    bool unrestricted = false;
    std::vector<AccessEntry> entries;
};

constexpr std::uint8_t objectInheritFlag = 0x01;
constexpr std::uint8_t inheritOnlyFlag = 0x08;

// Accounts come back as "S-1-..."; an alias that names the same account on
// every machine ("SY", "BA", "WD", ...) is spelt out, one that stands for an
// account of this machine or of its domain ("LA", "DU", ...) is kept as
// written. False, with the descriptor unspecified, for text that is not
// such a descriptor.
bool readSecurityDescriptorText(const std::wstring& text, SecurityDescriptorText& descriptor);
