#include <gtest/gtest.h>

#include "log_timestamp.h"

namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second) {
    std::tm time = {};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

TEST(LogTimestamp, DateThenTimeOnTheTwentyFourHourClock) {
    EXPECT_EQ(formatLogTimestamp(at(2025, 3, 7, 14, 5, 9)), "2025-03-07.14:05:09");
    EXPECT_EQ(formatLogTimestamp(at(2024, 12, 31, 0, 0, 0)), "2024-12-31.00:00:00");
    EXPECT_EQ(formatLogTimestamp(at(2026, 1, 1, 23, 59, 59)), "2026-01-01.23:59:59");
}

TEST(LogTimestamp, AlwaysNineteenCharacters) {
    for (int hour = 0; hour < 24; hour += 5) {
        EXPECT_EQ(formatLogTimestamp(at(2025, 1 + hour % 12, 1 + hour, hour, hour, hour)).size(), 19u);
    }
}

}  // namespace
