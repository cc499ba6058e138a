#pragma once
#include <windows.h>

#include <string>

// The account this process runs as, in its text form ("S-1-5-18");
// ERROR_SUCCESS, or the error of the call that could not read it.
DWORD ownAccountSid(std::wstring& sid);
