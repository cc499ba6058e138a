#pragma once
// Narrow text in the agent is UTF-8; wide text is UTF-16, one code unit per
// wchar_t element (also natively, where wchar_t is wider).
//
// Windows names may hold lone surrogates, so both directions use the
// generalised form of UTF-8 that encodes a lone surrogate as its own
// three-byte sequence: any wide text survives the trip to narrow and back.
#include <string>

std::wstring utf8ToWide(const std::string& narrow);
std::string wideToUtf8(const std::wstring& wide);

// True when every byte sequence is a well-formed character: no stray or
// missing continuation bytes, no overlong forms, nothing above U+10FFFF, and
// no surrogate pair spelt as two three-byte sequences (the four-byte form is
// the only one that wideToUtf8 writes). Lone surrogates are accepted.
bool isValidUtf8(const std::string& narrow);
