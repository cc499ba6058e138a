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

}  // namespace

void logMessage(const std::wstring& message) {
    if (eventSourceHandle != nullptr) {
        const std::wstring insertion = message;
        const wchar_t* strings[] = {insertion.c_str()};
        ReportEventW(eventSourceHandle, EVENTLOG_INFORMATION_TYPE, /* category */ 0,
                     /* event id */ 0, /* user sid */ nullptr, 1, /* raw size */ 0, strings,
                     /* raw data */ nullptr);
        return;
    }
    writeConsoleText(currentTimestamp() + L" " + message + L"\n");
}

void logMessage(const std::string& message) {
    logMessage(utf8ToWide(message));
}
