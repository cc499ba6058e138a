#include "security_descriptor_text.h"

namespace {

struct Code {
    const wchar_t* text;
    std::uint32_t value;
};

// Entry types that allow; every other known type denies, audits or labels.
const wchar_t* const allowingTypes[] = {L"A", L"OA", L"XA", L"ZA"};
const wchar_t* const otherTypes[] = {L"D",  L"OD", L"XD", L"AU", L"AL", L"OU", L"OL",
                                     L"ML", L"XU", L"RA", L"SP", L"TL", L"FL"};

// SA (audit success) and TP (trust protected filter) share a bit, as in
// winnt.h; each belongs to entries of its own kind.
const Code flagCodes[] = {{L"OI", 0x01}, {L"CI", 0x02}, {L"NP", 0x04}, {L"IO", 0x08}, {L"ID", 0x10},
                          {L"CR", 0x20}, {L"SA", 0x40}, {L"TP", 0x40}, {L"FA", 0x80}};

const Code rightCodes[] = {
    {L"GA", 0x10000000}, {L"GR", 0x80000000}, {L"GW", 0x40000000}, {L"GX", 0x20000000}, {L"RC", 0x20000},
    {L"SD", 0x10000},    {L"WD", 0x40000},    {L"WO", 0x80000},    {L"RP", 0x10},       {L"WP", 0x20},
    {L"CC", 0x1},        {L"DC", 0x2},        {L"LC", 0x4},        {L"SW", 0x8},        {L"LO", 0x80},
    {L"DT", 0x40},       {L"CR", 0x100},      {L"FA", 0x1f01ff},   {L"FR", 0x120089},   {L"FW", 0x120116},
    {L"FX", 0x1200a0},   {L"KA", 0xf003f},    {L"KR", 0x20019},    {L"KW", 0x20006},    {L"KX", 0x20019},
    {L"NW", 0x1},        {L"NR", 0x2},        {L"NX", 0x4}};

// The aliases that name the same account on every machine.
const struct {
    const wchar_t* alias;
    const wchar_t* sid;
} wellKnownAccounts[] = {
    {L"WD", L"S-1-1-0"},      {L"CO", L"S-1-3-0"},      {L"CG", L"S-1-3-1"},      {L"OW", L"S-1-3-4"},
    {L"NU", L"S-1-5-2"},      {L"IU", L"S-1-5-4"},      {L"SU", L"S-1-5-6"},      {L"AN", L"S-1-5-7"},
    {L"ED", L"S-1-5-9"},      {L"PS", L"S-1-5-10"},     {L"AU", L"S-1-5-11"},     {L"RC", L"S-1-5-12"},
    {L"SY", L"S-1-5-18"},     {L"LS", L"S-1-5-19"},     {L"NS", L"S-1-5-20"},     {L"WR", L"S-1-5-33"},
    {L"BA", L"S-1-5-32-544"}, {L"BU", L"S-1-5-32-545"}, {L"BG", L"S-1-5-32-546"}, {L"PU", L"S-1-5-32-547"},
    {L"AO", L"S-1-5-32-548"}, {L"SO", L"S-1-5-32-549"}, {L"PO", L"S-1-5-32-550"}, {L"BO", L"S-1-5-32-551"},
    {L"RE", L"S-1-5-32-552"}, {L"RU", L"S-1-5-32-554"}, {L"RD", L"S-1-5-32-555"}, {L"NO", L"S-1-5-32-556"},
    {L"MU", L"S-1-5-32-558"}, {L"LU", L"S-1-5-32-559"}, {L"IS", L"S-1-5-32-568"}, {L"CY", L"S-1-5-32-569"},
    {L"ER", L"S-1-5-32-573"}, {L"CD", L"S-1-5-32-574"}, {L"RA", L"S-1-5-32-575"}, {L"ES", L"S-1-5-32-576"},
    {L"MS", L"S-1-5-32-577"}, {L"HA", L"S-1-5-32-578"}, {L"AA", L"S-1-5-32-579"}, {L"RM", L"S-1-5-32-580"},
    {L"UD", L"S-1-5-84-0-0-0-0-0"}, {L"AC", L"S-1-15-2-1"}, {L"LW", L"S-1-16-4096"}, {L"ME", L"S-1-16-8192"},
    {L"MP", L"S-1-16-8448"},  {L"HI", L"S-1-16-12288"}, {L"SI", L"S-1-16-16384"}, {L"AS", L"S-1-18-1"},
    {L"SS", L"S-1-18-2"}};

bool startsWith(const std::wstring& text, std::size_t at, const wchar_t* prefix) {
    return text.compare(at, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

// A concatenation of two-letter codes, each of which must be known.
template <std::size_t count>
bool readCodes(const std::wstring& field, const Code (&codes)[count], std::uint32_t& value) {
    if (field.size() % 2 != 0) return false;
    value = 0;
    for (std::size_t at = 0; at < field.size(); at += 2) {
        bool known = false;
        for (const Code& code : codes) {
            if (field.compare(at, 2, code.text) != 0) continue;
            value |= code.value;
            known = true;
        }
        if (!known) return false;
    }
    return true;
}

// "0x" and hexadecimal digits, as Windows writes a mask that has no codes,
// or the codes.
bool readRights(const std::wstring& field, std::uint32_t& mask) {
    if (!startsWith(field, 0, L"0x") && !startsWith(field, 0, L"0X")) return readCodes(field, rightCodes, mask);
    if (field.size() < 3 || field.size() > 10) return false;
    mask = 0;
    for (std::size_t at = 2; at < field.size(); ++at) {
        const wchar_t c = field[at];
        const int digit = c >= L'0' && c <= L'9' ? c - L'0'
                          : c >= L'a' && c <= L'f' ? c - L'a' + 10
                          : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                                   : -1;
        if (digit < 0) return false;
        mask = mask << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

bool readAccount(const std::wstring& field, std::wstring& sid) {
    if (startsWith(field, 0, L"S-1-")) {
        sid = field;
        return field.size() > 4 && field.find_first_not_of(L"0123456789-xXabcdefABCDEF", 4) == std::wstring::npos;
    }
    if (field.size() != 2 || field[0] < L'A' || field[0] > L'Z' || field[1] < L'A' || field[1] > L'Z') return false;
    sid = field;
    for (const auto& account : wellKnownAccounts) {
        if (field == account.alias) sid = account.sid;
    }
    return true;
}

bool readType(const std::wstring& field, bool& allows) {
    for (const wchar_t* type : allowingTypes) {
        if (field != type) continue;
        allows = true;
        return true;
    }
    allows = false;
    for (const wchar_t* type : otherTypes) {
        if (field == type) return true;
    }
    return false;
}

// type;flags;rights;object type;inherited object type;account, and for a
// conditional entry ";(condition)" after them: only the condition may hold
// ';' or parentheses.
bool readEntry(const std::wstring& body, AccessEntry& entry) {
    std::wstring fields[6];
    std::size_t start = 0;
    std::size_t end = 0;
    for (int index = 0; index < 6; ++index) {
        end = body.find(L';', start);
        if (end == std::wstring::npos && index < 5) return false;
        fields[index] = body.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        start = end + 1;
    }
    const bool conditional = end != std::wstring::npos;
    if (conditional && (body.size() - start < 2 || body[start] != L'(' || body.back() != L')')) return false;
    std::uint32_t flags = 0;
    if (!readType(fields[0], entry.allows) || !readCodes(fields[1], flagCodes, flags) ||
        !readRights(fields[2], entry.mask) || !readAccount(fields[5], entry.sid)) {
        return false;
    }
    entry.flags = static_cast<std::uint8_t>(flags);
    return true;
}

// Where the entry that opens at `at` closes, past the parentheses of a
// condition and the quoted strings in it; npos when it does not close.
std::size_t entryEnd(const std::wstring& text, std::size_t at) {
    int depth = 0;
    bool quoted = false;
    for (; at < text.size(); ++at) {
        if (text[at] == L'"') quoted = !quoted;
        if (quoted) continue;
        if (text[at] == L'(') ++depth;
        if (text[at] == L')' && --depth == 0) return at;
    }
    return std::wstring::npos;
}

bool readAccessList(const std::wstring& text, std::size_t& at, SecurityDescriptorText& descriptor) {
    for (;;) {
        if (startsWith(text, at, L"NO_ACCESS_CONTROL")) {
            descriptor.unrestricted = true;
            at += 17;
        } else if (startsWith(text, at, L"AI") || startsWith(text, at, L"AR")) {
            at += 2;
        } else if (startsWith(text, at, L"P")) {
            at += 1;
        } else {
            break;
        }
    }
    while (at < text.size() && text[at] == L'(') {
        const std::size_t end = entryEnd(text, at);
        AccessEntry entry{};
        if (end == std::wstring::npos || !readEntry(text.substr(at + 1, end - at - 1), entry)) return false;
        descriptor.entries.push_back(entry);
        at = end + 1;
    }
    return true;
}

// An owner or group runs up to the letter of the next part ("G:", "D:",
// "S:"): neither holds a colon, and neither comes after the access list.
bool readPart(const std::wstring& text, std::size_t& at, const wchar_t* tag, std::wstring* sid) {
    if (!startsWith(text, at, tag)) return true;
    const std::size_t colon = text.find(L':', at + 2);
    const std::size_t end = colon == std::wstring::npos ? text.size() : colon - 1;
    if (end <= at + 2) return false;
    std::wstring account;
    if (!readAccount(text.substr(at + 2, end - at - 2), account)) return false;
    if (sid != nullptr) *sid = account;
    at = end;
    return true;
}

}  // namespace

bool readSecurityDescriptorText(const std::wstring& text, SecurityDescriptorText& descriptor) {
    descriptor = SecurityDescriptorText{};
    std::size_t at = 0;
    if (!readPart(text, at, L"O:", &descriptor.owner) || !readPart(text, at, L"G:", nullptr)) return false;
    descriptor.unrestricted = !startsWith(text, at, L"D:");
    if (!descriptor.unrestricted) {
        at += 2;
        if (!readAccessList(text, at, descriptor)) return false;
    }
    // The audit list, when there is one, says nothing about who may write.
    return at == text.size() || startsWith(text, at, L"S:");
}
