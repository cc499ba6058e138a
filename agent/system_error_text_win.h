#pragma once
#include <windows.h>

#include <string>

// The system's own text for an error code, in the default language, exactly
// as the system gives it (usually ending in "\r\n"). When the system has no
// text for the code: "Unknown error <code> (0x<code in hex>)." without a
// line end.
std::wstring systemErrorText(DWORD code);
