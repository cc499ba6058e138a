#include <gtest/gtest.h>

#include "text_conversion.h"

namespace {

std::wstring units(std::initializer_list<unsigned> list) {
    std::wstring text;
    for (unsigned unit : list) text += static_cast<wchar_t>(unit);
    return text;
}

TEST(TextConversion, EncodesEachRangeWithItsLength) {
    EXPECT_EQ(wideToUtf8(units({0x41})), "A");
    EXPECT_EQ(wideToUtf8(units({0xE9})), "\xC3\xA9");
    EXPECT_EQ(wideToUtf8(units({0x20AC})), "\xE2\x82\xAC");
    EXPECT_EQ(utf8ToWide("\xE2\x82\xAC"), units({0x20AC}));
    EXPECT_EQ(utf8ToWide("\xC3\xA9"), units({0xE9}));
}

TEST(TextConversion, SurrogatePairBecomesOneFourByteSequence) {
    const std::wstring pair = units({0xD83D, 0xDE00});  // U+1F600
    EXPECT_EQ(wideToUtf8(pair), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8ToWide("\xF0\x9F\x98\x80"), pair);
}

TEST(TextConversion, LoneSurrogatesSurviveTheRoundTrip) {
    const std::wstring samples[] = {
        units({0xD800}), units({0xDC00}), units({0x61, 0xDBFF}), units({0xDFFF, 0xD800}),
        units({0xDC00, 0xD800, 0x62}), units({0xD83D, 0xD83D, 0xDE00}),
    };
    for (const std::wstring& sample : samples) {
        const std::string narrow = wideToUtf8(sample);
        EXPECT_TRUE(isValidUtf8(narrow));
        EXPECT_EQ(utf8ToWide(narrow), sample);
    }
}

TEST(TextConversion, NulUnitsAndEmptyTextPassThrough) {
    EXPECT_EQ(wideToUtf8(L""), "");
    EXPECT_EQ(utf8ToWide(""), L"");
    EXPECT_EQ(utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(TextConversion, RefusesMalformedBytes) {
    const char* malformed[] = {
        "\x80",              // stray continuation byte
        "\xC3",              // truncated
        "\xE2\x82",          // truncated
        "\xC0\xAF",          // overlong slash
        "\xE0\x80\xAF",      // overlong slash
        "\xF0\x82\x82\xAC",  // overlong euro sign
        "\xF4\x90\x80\x80",  // above U+10FFFF
        "\xFF",
        "ok\xC3(",
    };
    for (const char* bytes : malformed) {
        EXPECT_FALSE(isValidUtf8(bytes)) << bytes;
        // Converting anyway never reads past the end and marks the damage.
        EXPECT_NE(utf8ToWide(bytes).find(static_cast<wchar_t>(0xFFFD)), std::wstring::npos);
    }
    // A pair spelt as two three-byte surrogates is not the form wideToUtf8
    // writes, so two texts could name the same thing.
    EXPECT_FALSE(isValidUtf8("\xED\xA0\xBD\xED\xB8\x80"));
    EXPECT_TRUE(isValidUtf8("plain \xC3\xA9 \xF4\x8F\xBF\xBF"));
}

}  // namespace
