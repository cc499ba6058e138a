#include "own_account_win.h"

#include <sddl.h>

#include <vector>

#include "handle_holders_win.h"

DWORD ownAccountSid(std::wstring& sid) {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return GetLastError();
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) return GetLastError();
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) return GetLastError();
    const UniqueLocalMemory<wchar_t> held(text);
    sid = text;
    return ERROR_SUCCESS;
}
