#include "log_line.h"

#include <exception>

#include <boost/date_time/c_time.hpp>
#include <boost/date_time/posix_time/conversion.hpp>
#include <boost/lexical_cast.hpp>

const std::wstring logFileName = L"mirelt.log";
std::wstring logFilePath;

namespace {

// The unknown time keeps the field count, so a reader that splits a line at
// its first five spaces still finds the message.
const char unknownTimestamp[] = "??? ??? ?? ??:??:?? ????";

std::string twoDigits(int number) {
    const std::string digits = boost::lexical_cast<std::string>(number);
    return digits.size() < 2 ? "0" + digits : digits;
}

// A line end or another control character in a message (an option text or a
// path can hold any) would let the message end its line and start one of its
// own that looks like the launcher's; a control character is not text.
bool isControlCharacter(unsigned long unit) { return unit < 0x20 || unit == 0x7F; }

bool isHighSurrogate(unsigned long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(unsigned long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::string codePointEscape(unsigned long codePoint) {
    static const char hexDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (; codePoint != 0 || hex.size() < 4; codePoint >>= 4) hex.insert(hex.begin(), hexDigits[codePoint & 0xF]);
    return "<U+" + hex + ">";
}

}  // namespace

std::wstring logFilePathIn(const std::wstring& temporaryDirectory) {
    if (temporaryDirectory.empty()) return std::wstring();
    return temporaryDirectory + L"\\" + logFileName;
}

boost::optional<boost::posix_time::ptime> localTimeAt(std::time_t moment) {
    // Both the conversion and the date range of Boost.DateTime report a
    // moment that they cannot represent by throwing; a log line must not end
    // the launcher for that.
    try {
        // Where the runtime has no reentrant form, the result is the
        // runtime's own record, not the one passed in.
        std::tm parts{};
        const std::tm* converted = boost::date_time::c_time::localtime(&moment, &parts);
        return boost::posix_time::ptime_from_tm(*converted);
    } catch (const std::exception&) {
        return boost::none;
    }
}

std::string logTimestamp(const boost::optional<boost::posix_time::ptime>& localTime) {
    if (!localTime || localTime->is_special()) return unknownTimestamp;
    const boost::gregorian::date day = localTime->date();
    const boost::posix_time::time_duration time = localTime->time_of_day();
    return std::string(day.day_of_week().as_short_string()) + " " + day.month().as_short_string() + " " +
           boost::lexical_cast<std::string>(day.day().as_number()) + " " + twoDigits(time.hours()) + ":" +
           twoDigits(time.minutes()) + ":" + twoDigits(time.seconds()) + " " +
           boost::lexical_cast<std::string>(static_cast<int>(day.year()));
}

std::string singleByteText(const std::wstring& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned long unit = static_cast<unsigned long>(text[i]);
        if ((unit == L'<' && text.compare(i + 1, 2, L"U+") == 0) || isControlCharacter(unit)) {
            bytes += codePointEscape(unit);
        } else if (unit <= 0xFF) {
            bytes += static_cast<char>(unit);
        } else {
            if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (static_cast<unsigned long>(text[i + 1]) - 0xDC00);
                ++i;
            }
            bytes += codePointEscape(unit);
        }
    }
    return bytes;
}

std::string logLine(const boost::optional<boost::posix_time::ptime>& localTime, const std::wstring& message) {
    return logTimestamp(localTime) + " " + singleByteText(message) + "\r\n";
}
