#pragma once
#include <windows.h>

#include <string>

// Set once, in a service run, before any second thread exists; while it is
// set every message goes to the event log instead of the console.
extern HANDLE eventSourceHandle;

void logMessage(const std::wstring& message);
// UTF-8 text; reported exactly as its wide form would be.
void logMessage(const std::string& message);
