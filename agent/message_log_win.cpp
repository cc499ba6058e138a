#include "message_log_win.h"

#include <ctime>

#include "console_output.h"
#include "log_timestamp.h"
#include "text_conversion.h"

HANDLE eventSourceHandle = nullptr;

namespace {

std::wstring currentTimestamp() {
    std::tm localTime = {};
    const __time64_t now = _time64(nullptr);
    if (_localtime64_s(&localTime, &now) != 0) localTime = std::tm{};
    return utf8ToWide(formatLogTimestamp(localTime));
}

void report(const std::wstring& message, WORD type, DWORD eventId) {
    if (eventSourceHandle != nullptr) {
        const wchar_t* strings[] = {message.c_str()};
        ReportEventW(eventSourceHandle, type, /* category */ 0, eventId, /* user sid */ nullptr, 1,
                     /* raw size */ 0, strings, /* raw data */ nullptr);
        return;
    }
    writeConsoleText(currentTimestamp() + L" " + message + L"\n");
}

}  // namespace

void logMessage(const std::wstring& message) {
    report(message, EVENTLOG_INFORMATION_TYPE, /* event id */ 0);
}

void logMessage(const std::string& message) {
    logMessage(utf8ToWide(message));
}

void logWarning(const std::wstring& message, DWORD eventId) {
    report(message, EVENTLOG_WARNING_TYPE, eventId);
}
