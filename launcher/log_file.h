#pragma once

#include <string>

#include "log_line.h"

// Appends the message, with the local time in front, as one line to the file
// at logFilePath; when the file cannot be opened, says so on standard error
// and the message is lost.
void writeLog(const std::wstring& message);
