#include "log_line.h"
#include "log_owner.h"

#include <ctime>
#include <limits>
#include <utility>

#include <gtest/gtest.h>

using boost::posix_time::ptime;
using boost::posix_time::time_duration;

namespace {

ptime at(int year, int month, int day, int hours, int minutes, int seconds) {
    return ptime(boost::gregorian::date(year, month, day), time_duration(hours, minutes, seconds));
}

}  // namespace

TEST(LogTimestamp, WeekdayMonthDayTimeAndYearInTheEnglishShortForm) {
    const struct {
        ptime when;
        const char* expected;
    } cases[] = {
        {at(2024, 12, 5, 9, 5, 7), "Thu Dec 5 09:05:07 2024"},
        {at(2023, 1, 1, 0, 0, 0), "Sun Jan 1 00:00:00 2023"},
        {at(2000, 2, 29, 12, 30, 59), "Tue Feb 29 12:30:59 2000"},
        {at(2024, 10, 31, 23, 59, 59), "Thu Oct 31 23:59:59 2024"},
        {at(2025, 6, 14, 7, 0, 9), "Sat Jun 14 07:00:09 2025"},
    };
    for (const auto& c : cases) EXPECT_EQ(logTimestamp(c.when), c.expected);
}

TEST(LogTimestamp, AnUnknownTimeKeepsTheFiveFields) {
    EXPECT_EQ(logTimestamp(boost::none), "??? ??? ?? ??:??:?? ????");
}

TEST(LocalTime, APresentMomentIsConverted) {
    const auto converted = localTimeAt(1733389507);  // early December 2024 in every time zone
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->date().year(), 2024);
    EXPECT_EQ(converted->date().month(), 12);
}

TEST(LocalTime, AMomentOutsideTheRangeGivesNoTimeInsteadOfEndingTheProgram) {
    for (const std::time_t moment : {std::numeric_limits<std::time_t>::max(), std::time_t(100000000000000LL),
                                     std::time_t(-100000000000000LL)}) {
        EXPECT_FALSE(localTimeAt(moment)) << moment;
    }
}

TEST(SingleByteText, OneBytePerCharacterUpToU00FF) {
    EXPECT_EQ(singleByteText(L"Ready to install \"C:\\x.msi\" /qn"), "Ready to install \"C:\\x.msi\" /qn");
    EXPECT_EQ(singleByteText(L"caf\u00e9 \u00ff\u0080"), "caf\xe9 \xff\x80");
    EXPECT_EQ(singleByteText(L"nbsp\u00a0~ \u0080\u009f"), "nbsp\xa0~ \x80\x9f");
    EXPECT_EQ(singleByteText(L""), "");
}

TEST(SingleByteText, ControlCharactersAreWrittenAsTheirCodePointSoAMessageStaysOneLine) {
    const struct {
        std::wstring text;
        const char* expected;
    } cases[] = {
        {L"/q\r\nThu Dec 5 09:05:07 2024 The installation of C:\\Other\\x.exe returned an error.",
         "/q<U+000D><U+000A>Thu Dec 5 09:05:07 2024 The installation of C:\\Other\\x.exe returned an error."},
        {L"a\nb", "a<U+000A>b"},
        {L"a\rb", "a<U+000D>b"},
        {std::wstring(L"a\0b", 3), "a<U+0000>b"},
        {L"\t\x0b\x0c\x1b[2J\x1f", "<U+0009><U+000B><U+000C><U+001B>[2J<U+001F>"},
        {L"del\x7f", "del<U+007F>"},
        {L" ~", " ~"},
    };
    for (const auto& c : cases) EXPECT_EQ(singleByteText(c.text), c.expected);
}

TEST(SingleByteText, CharactersAboveU00FFAreWrittenAsTheirCodePoint) {
    const struct {
        std::wstring text;
        const char* expected;
    } cases[] = {
        {L"\u0100", "<U+0100>"},
        {L"C:\\\u263a\\\u4e2d\u6587.msi", "C:\\<U+263A>\\<U+4E2D><U+6587>.msi"},
        {L"x\U0001F600y", "x<U+1F600>y"},
        {std::wstring(1, wchar_t(0xD83D)) + L"z", "<U+D83D>z"},
        {L"\uffff", "<U+FFFF>"},
    };
    for (const auto& c : cases) EXPECT_EQ(singleByteText(c.text), c.expected);
}

TEST(SingleByteText, AMessageThatLooksLikeAnEscapeIsEscapedItself) {
    EXPECT_EQ(singleByteText(L"<U+263A>"), "<U+003C>U+263A>");
    EXPECT_EQ(singleByteText(L"<U+\u263a"), "<U+003C>U+<U+263A>");
    EXPECT_EQ(singleByteText(L"a<b <U <u+ <"), "a<b <U <u+ <");
}

TEST(LogLine, TimeStampSpaceMessageAndCrLf) {
    EXPECT_EQ(logLine(at(2024, 12, 5, 9, 5, 7), L"Ready to install x"),
              "Thu Dec 5 09:05:07 2024 Ready to install x\r\n");
    EXPECT_EQ(logLine(at(2024, 12, 5, 9, 5, 7), L""), "Thu Dec 5 09:05:07 2024 \r\n");
    EXPECT_EQ(logLine(boost::none, L"\u0416"), "??? ??? ?? ??:??:?? ???? <U+0416>\r\n");
    EXPECT_EQ(logLine(at(2024, 12, 5, 9, 5, 7), L"x\r\n"), "Thu Dec 5 09:05:07 2024 x<U+000D><U+000A>\r\n");
}

TEST(LogFilePath, TheTemporaryDirectoryABackslashAndTheName) {
    EXPECT_EQ(logFileName, L"mirelt.log");
    EXPECT_EQ(logFilePathIn(L"C:\\Temp\\"), L"C:\\Temp\\\\mirelt.log");
    // No directory is no log, rather than one at the root of the current drive.
    EXPECT_EQ(logFilePathIn(L""), L"");
}

TEST(LogAccount, OnlyTheLaunchersOwnAccountSystemAndAdministratorsAreWrittenTo) {
    const std::pair<LogAccount, bool> cases[] = {{LogAccount::runningAccount, true},
                                                 {LogAccount::system, true},
                                                 {LogAccount::administrators, true},
                                                 {LogAccount::other, false}};
    for (const auto& c : cases) EXPECT_EQ(mayAppendToLogOwnedBy(c.first), c.second) << static_cast<int>(c.first);
}

TEST(LogAccount, AnExistingLogGetsItsOwnAccessListWhenItLetsAnyoneElseIn) {
    const LogAccessEntry system{true, LogAccount::system}, administrators{true, LogAccount::administrators},
        own{true, LogAccount::runningAccount}, other{true, LogAccount::other}, otherDenied{false, LogAccount::other};
    const std::pair<LogFileSecurity, bool> cases[] = {
        {{LogAccount::system, false, {system, administrators, own}}, false},
        {{LogAccount::system, false, {own, otherDenied}}, false},
        {{LogAccount::system, false, {}}, false},  // an empty list lets no one in
        {{LogAccount::system, false, {system, other, own}}, true},
        {{LogAccount::system, true, {}}, true}};
    for (const auto& c : cases) EXPECT_EQ(logNeedsOwnAccessList(c.first), c.second) << &c - cases;
}
