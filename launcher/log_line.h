#pragma once

#include <ctime>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>
#include <boost/optional.hpp>

// The log file's name, and its full path once the workflow has set it from
// the user's temporary directory; writeLog reads it for every line.
extern const std::wstring logFileName;
extern std::wstring logFilePath;

// The temporary directory as Windows gives it already ends in a backslash;
// the path keeps the doubled one, which names the same file. Without a
// directory there is no log path (empty), not one at the root of the current
// drive, where the lines would land unseen in somebody else's place.
std::wstring logFilePathIn(const std::wstring& temporaryDirectory);

// Local date and time at the given moment, or nothing when the system cannot
// convert it (a clock outside the range that the conversion handles).
boost::optional<boost::posix_time::ptime> localTimeAt(std::time_t moment);

// "Thu Dec 5 09:05:07 2024", or a placeholder of the same five fields when
// the local time is unknown.
std::string logTimestamp(const boost::optional<boost::posix_time::ptime>& localTime);

// One byte per character up to U+00FF; a character above it, and a control
// character (U+0000 to U+001F, U+007F: CR and LF among them), as <U+XXXX>
// (its code point in hexadecimal), and a "<U+" of the message itself as
// <U+003C>U+. So a message is always one line, and reads back unchanged.
std::string singleByteText(const std::wstring& text);

// Time stamp, one space, the message and CR LF, as bytes for the file.
std::string logLine(const boost::optional<boost::posix_time::ptime>& localTime, const std::wstring& message);
