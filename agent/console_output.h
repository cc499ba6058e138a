#pragma once
#include <string>

// Writes text to standard output at once; each "\n" ends a line. A console
// window receives the UTF-16 text as it is, so no character can fail there;
// redirected output receives UTF-8 with the platform's line ends. Errors of
// the output are not looked at.
void writeConsoleText(const std::wstring& text);
