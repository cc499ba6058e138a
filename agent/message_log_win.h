#pragma once
#include <windows.h>

#include <string>

// Set once, in a service run, before any second thread exists; while it is
// set every message goes to the event log instead of the console.
extern HANDLE eventSourceHandle;

// Every message is an information event with identifier 0.
void logMessage(const std::wstring& message);
// UTF-8 text; reported exactly as its wide form would be.
void logMessage(const std::string& message);

// The one event that monitoring is to pick out: a warning with an
// identifier of its own (one that vossevent.dll renders). On the console it
// is a line like any other.
constexpr DWORD restartSummaryEventId = 1;
void logWarning(const std::wstring& message, DWORD eventId);
