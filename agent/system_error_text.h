#pragma once
#include <windows.h>

#include <string>

// The system's own text for an error code, in the default language, as the
// system gives it (usually ending in a line break); "Unknown error <code>"
// when the system has no text for it.
std::wstring systemErrorText(DWORD code);
