// Time display, UTF-8 checking, decimal parsing and the database file-name rule.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>

#include "store/HugePageHeap.h"
#include "store/OpenRules.h"
#include "store/TimeText.h"

namespace {

struct TimeCase {
    std::int64_t raw;
    const char* text;
};

TEST(FormatMessageTime, MillisecondsSecondsSince2001AndTheirLimitsInUtc)
{
    const TimeCase cases[] = {
        {0, "None"},
        {1'439'532'000'123, "2015-08-14 06:00:00"},
        {100'000'000'000, "1973-03-03 09:46:40"},          // the millisecond threshold itself
        {99'999'999'999, "1960-01-01 00:00:00"},           // just below: seconds since 2001, too late
        {10'000'000'000'000, "2286-11-20 17:46:40"},       // 1e10 seconds is not clamped
        {20'000'000'000'000, "1970-01-01 00:00:00"},       // above it: clamped to 0, not "None"
        {1, "2001-01-01 00:00:01"},                        // seconds since 2001: the exact instant
        {461'234'567, "2015-08-14 08:42:47"},
        {99'748'800, "2004-02-29 12:00:00"},               // a real leap day
        {730'943'999, "2024-02-29 23:59:59"},
        {-978'307'200, "1970-01-01 00:00:00"},             // the earliest convertible instant
        {-978'307'201, "1960-01-01 00:00:00"},             // before 1970
        {-1'000'000'000, "1960-01-01 00:00:00"},
        {31'556'908'799, "3000-12-31 23:59:59"},           // the latest convertible instant
        {31'556'908'800, "1960-01-01 00:00:00"},           // one second later
        {60'000'000'000, "1960-01-01 00:00:00"},
        {std::numeric_limits<std::int64_t>::min(), "1960-01-01 00:00:00"},
        {std::numeric_limits<std::int64_t>::max(), "1970-01-01 00:00:00"},
    };
    for (const TimeCase& c : cases) EXPECT_EQ(FormatMessageTime(c.raw), c.text) << c.raw;
}

TEST(FormatMessageTime, UsesTheProcessTimeZone)
{
    const std::string saved = std::getenv("TZ") ? std::getenv("TZ") : "";
    ::setenv("TZ", "CST-8", 1);  // UTC+8 without daylight saving, no zone files needed
    ::tzset();
    EXPECT_EQ(FormatMessageTime(1'439'532'000'123), "2015-08-14 14:00:00");
    EXPECT_EQ(FormatMessageTime(1), "2001-01-01 08:00:01");
    EXPECT_EQ(FormatMessageTime(20'000'000'000'000), "1970-01-01 08:00:00");
    ::setenv("TZ", saved.c_str(), 1);
    ::tzset();
}

TEST(FormatHeadingTime, ATimeThatOccursTwiceCarriesItsOffsetAndZonesAreChosenByName)
{
    ASSERT_TRUE(UseTimeZone("America/New_York"));
    EXPECT_EQ(TimeZoneName(), "America/New_York");
    // 01:30 on 3 November 2024 came twice: first under EDT (05:30 UTC), then under EST.
    EXPECT_EQ(FormatHeadingTime(1'730'611'800'000), "2024-11-03 01:30:00 -04:00");
    EXPECT_EQ(FormatHeadingTime(1'730'615'400'000), "2024-11-03 01:30:00 -05:00");
    EXPECT_EQ(FormatHeadingTime(1'730'622'600'000), "2024-11-03 03:30:00");  // once only
    EXPECT_EQ(FormatHeadingTime(0), "None");
    for (const char* unknown : {"Nowhere/Place", "../../etc/passwd", "/etc/localtime", "zone1970.tab"}) {
        EXPECT_FALSE(UseTimeZone(unknown)) << unknown;
    }
    EXPECT_EQ(TimeZoneName(), "America/New_York");  // unchanged by a refused name
    const std::vector<std::string> zones = KnownTimeZones();
    EXPECT_EQ(zones.front(), "UTC");
    EXPECT_NE(std::find(zones.begin(), zones.end(), "Europe/Berlin"), zones.end());
    ASSERT_TRUE(UseTimeZone(""));  // back to the zone the tests started in
    EXPECT_EQ(TimeZoneName(), "UTC");
}

struct Utf8Case {
    std::string input;
    std::string expected;
};

TEST(IphoneSecondsSince2001, TheUnitIsDecidedPerValue)
{
    const std::pair<std::int64_t, std::int64_t> cases[] = {
        {0, 0},
        {461'234'567, 461'234'567},                      // seconds (iOS 10 and earlier)
        {99'999'999'999, 99'999'999'999},                // below 1e11: still seconds
        {100'000'000'000, 100},                          // 1e11 and more: nanoseconds
        {461'234'567'891'234'567, 461'234'567},          // iOS 11 and later
        {-100'000'000'000, -100},
        {-1'999'999'999'999, -1'999},                    // rounds toward zero
        {-5, -5},
        {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::min() / 1'000'000'000},
    };
    for (const auto& [stored, seconds] : cases) EXPECT_EQ(IphoneSecondsSince2001(stored), seconds) << stored;
    // Android keeps milliseconds; a date written in seconds (1e8 up to 1e11) is made so.
    const std::pair<std::int64_t, std::int64_t> android[] = {
        {0, 0}, {99'999'999, 99'999'999}, {1'357'005'600, 1'357'005'600'000}, {99'999'999'999, 99'999'999'999'000},
        {100'000'000'000, 100'000'000'000}, {1'439'560'800'000, 1'439'560'800'000}, {-5, -5}};
    for (const auto& [stored, milliseconds] : android) EXPECT_EQ(AndroidMilliseconds(stored), milliseconds) << stored;
}

TEST(Utf8ToAnsiString, ReplacesEachMaximalSubpartOfMalformedInput)
{
    const std::string r = "\xEF\xBF\xBD";
    const Utf8Case cases[] = {
        {"", ""},
        {"plain ASCII", "plain ASCII"},
        {"中文 😀 café", "中文 😀 café"},
        {"\xC3", r},                                   // truncated two-byte sequence
        {"\xE4\xB8", r},                               // truncated three-byte sequence: one subpart
        {"\xE4\xB8" "A", r + "A"},
        {"\xF0\x9F\x98", r},
        {"\xF0\x9F\x98\x80\x80", "😀" + r},            // stray continuation after a whole character
        {"\xC0\xAF", r + r},                           // overlong: C0 is never a lead byte
        {"\xE0\x80\x80", r + r + r},                   // overlong three-byte form
        {"\xED\xA0\x80", r + r + r},                   // surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},           // above U+10FFFF
        {"\xFF\xFE", r + r},
        {"a\xF1\x80\x80\xE1\x80\xC2" "b", "a" + r + r + r + "b"},
        {"eight ascii bytes first\xC3", "eight ascii bytes first" + r},  // after the 8-byte steps
        {"0123456789abcdef\xE4\xB8\xAD", "0123456789abcdef中"},
    };
    for (const Utf8Case& c : cases) {
        EXPECT_EQ(Utf8ToAnsiString(std::string_view(c.input)), c.expected);
        EXPECT_EQ(IsValidUtf8(c.input), c.input == c.expected) << c.expected;
    }
    EXPECT_EQ(Utf8ToAnsiString(static_cast<const char*>(nullptr)), "");
    // A message's text: also no control byte but tab, line feed and carriage return, nor DEL,
    // whether it falls in a run of eight ASCII bytes or among other characters.
    const std::pair<std::string, bool> texts[] = {
        {"tab\tline\nreturn\r and more", true}, {"中文 😀 café", true},   {"eight ok\x07 then", false},
        {"abcdefg\x7f", false},                    {"中\x01", false},          {"\x1f", false},
        {"0123456789abcdef\xE4\xB8", false},     {"", true},
    };
    for (const auto& [text, plain] : texts) EXPECT_EQ(IsPlainUtf8Text(text), plain) << text;
}

// A check of UTF-8 by code points, unlike the byte tables of the program's own.
bool ValidByCodePoints(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            point = point << 6 | (next & 0x3F);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

TEST(Utf8Check, AgreesWithACheckByCodePointsAcrossEveryBlockBoundary)
{
    const std::string pieces[] = {"a", "abcdefgh", "\t\r\n", std::string(1, '\0'), "\x01", "\x7f", "\xC3\xA9", "\xE4\xB8\xAD",
                                  "\xF0\x9F\x98\x80", "\xEF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\x80", "\xBF", "\xC0\x80", "\xC1",
                                  "\xC2", "\xE0", "\xE0\x80\x80", "\xE0\xA0", "\xED\xA0\x80", "\xED\x9F\xBF", "\xF0",
                                  "\xF0\x80\x80\x80", "\xF0\x90\x80", "\xF4\x90\x80\x80", "\xF5\x80", "\xFF"};
    std::srand(27);
    for (int round = 0; round < 40000; ++round) {
        std::string text;
        const int count = std::rand() % 24;
        for (int k = 0; k < count; ++k) text += pieces[static_cast<std::size_t>(std::rand()) % std::size(pieces)];
        const bool valid = ValidByCodePoints(text);
        const bool controls = std::any_of(text.begin(), text.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F;
        });
        ASSERT_EQ(IsValidUtf8(text), valid) << ::testing::PrintToString(text);
        ASSERT_EQ(IsPlainUtf8Text(text), valid && !controls) << ::testing::PrintToString(text);
    }
}

TEST(ReadDecimal, AcceptsSpaceAndSignStopsAtTheFirstNonDigitAndSaturates)
{
    EXPECT_EQ(ReadDecimal64(nullptr), 0);
    EXPECT_EQ(ReadDecimal64(""), 0);
    EXPECT_EQ(ReadDecimal64(" \t\n42"), 42);
    EXPECT_EQ(ReadDecimal64("+7"), 7);
    EXPECT_EQ(ReadDecimal64("-12abc"), -12);
    EXPECT_EQ(ReadDecimal64("1.5e3"), 1);
    EXPECT_EQ(ReadDecimal64("- 5"), 0);
    EXPECT_EQ(ReadDecimal64("abc"), 0);
    EXPECT_EQ(ReadDecimal64("1439532000123"), 1'439'532'000'123);
    EXPECT_EQ(ReadDecimal64("99999999999999999999"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(ReadDecimal64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ReadDecimal64("-9223372036854775809"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ReadDecimal32("2147483647"), 2147483647);
    EXPECT_EQ(ReadDecimal32("2147483648"), 2147483647);
    EXPECT_EQ(ReadDecimal32("473000000000000000"), 2147483647);  // an iOS 11 nanosecond date
    EXPECT_EQ(ReadDecimal32("-2147483648"), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(ReadDecimal32("-2147483649"), std::numeric_limits<std::int32_t>::min());
}

TEST(ClassifyDatabasePath, TheNameAfterASeparatorDecidesTheKind)
{
    const std::pair<const char*, DatabaseName> cases[] = {
        {"/home/me/mmssms.db", DatabaseName::Android},
        {"/home/me/MMSSMS.DB", DatabaseName::Android},
        {"C:\\phone\\MmsSms.db", DatabaseName::Android},
        {"/home/me/sms.db", DatabaseName::Iphone},
        {"D:\\backup\\SMS.DB", DatabaseName::Iphone},
        {"/home/me/old_mmssms.db", DatabaseName::Other},
        {"/home/me/my.sms.db", DatabaseName::Other},
        {"mmssms.db", DatabaseName::Other},  // no separator before the name
        {"sms.db", DatabaseName::Other},
        {"/home/me/mmssms.db-wal", DatabaseName::Other},
        {"/home/me/sms2", DatabaseName::Other},
        {"/home/me/chat.db", DatabaseName::Other},
        {"", DatabaseName::Other},
    };
    for (const auto& [path, kind] : cases) EXPECT_EQ(ClassifyDatabasePath(path), kind) << path;
}

}  // namespace

// The restart with huge pages adds its tunable once, after the user's, and never overrides a
// choice already made (nor restarts again).
TEST(HugePageHeap, TheTunableIsAddedOnceAfterTheUsersOwn)
{
    EXPECT_EQ(TunablesWithHugePages(nullptr), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(TunablesWithHugePages(""), "glibc.malloc.hugetlb=1");
    EXPECT_EQ(TunablesWithHugePages("glibc.malloc.check=3"), "glibc.malloc.check=3:glibc.malloc.hugetlb=1");
    EXPECT_EQ(TunablesWithHugePages("glibc.malloc.hugetlb=0"), std::nullopt);
    EXPECT_EQ(TunablesWithHugePages("glibc.malloc.check=3:glibc.malloc.hugetlb=1"), std::nullopt);
}
