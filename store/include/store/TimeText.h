// Conversions shared by the whole program: raw message times to display text, database text
// to the store's narrow text (UTF-8), decimal text to integers, and ASCII case rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::int64_t kSecondsFrom1970To2001 = 978'307'200;
// iPhone dates whose absolute value reaches this are nanoseconds since 2001, smaller ones seconds.
inline constexpr std::int64_t kIphoneNanosecondThreshold = 100'000'000'000;

// Display text of a raw message time, "YYYY-MM-DD hh:mm:ss" in the local time zone. Values of
// 1e11 and more are milliseconds since 1970 (seconds above 1e10 clamp to 0); 0 is "None";
// anything else is seconds since 2001, shown as that exact instant. An instant before 1970 or
// after 3000-12-31 23:59:59 UTC gives "1960-01-01 00:00:00".
std::string FormatMessageTime(std::int64_t t);

// The instant a raw message time stands for, in seconds since 1970 (the same unit rule as
// FormatMessageTime); nothing for 0 and for instants before 1970 or after the year 3000.
std::optional<std::int64_t> UnixSeconds(std::int64_t t);

// ISO 8601 local date and time with the offset from UTC: "2015-08-14T14:00:00+08:00"; empty
// when the raw time stands for no instant.
std::string FormatIsoTime(std::int64_t t);
// The same for seconds since 1970.
std::string FormatIsoUnixTime(std::int64_t seconds);
// The same as FormatMessageTime with the offset after it: "2015-08-14 14:00:00 +08:00".
std::string FormatMessageTimeWithOffset(std::int64_t t);

// The time zone used for local times: its name and offset now, as "CST, UTC+08:00".
std::string TimeZoneText();
// The zone's IANA name ("Europe/Berlin", "UTC") where it is known, else its abbreviation.
std::string TimeZoneName();
// "Times in Europe/Berlin, UTC+01:00": the zone of every local time shown, and its offset now.
std::string TimesInText();
// Shows local times in the zone `name` (an IANA name such as "UTC" or "America/New_York"),
// or in the computer's own zone for an empty name. False, with nothing changed, for a name the
// system's zone data does not hold. The zone is the process's (TZ).
bool UseTimeZone(const std::string& name);
// Every zone name of the system's zone data (zone1970.tab), sorted, with "UTC" first.
std::vector<std::string> KnownTimeZones();
// FormatMessageTime with the offset after it when that local time occurs twice (the hour the
// clocks go back): "2024-11-03 01:30:00 -04:00"; as FormatMessageTime otherwise.
std::string FormatHeadingTime(std::int64_t t);

// An iPhone `date` as the store keeps it: seconds since 2001. A stored value whose absolute
// value is 1e11 or more is nanoseconds (iOS 11 and later) and is divided by 1e9, rounding
// toward zero; smaller values are seconds already.
std::int64_t IphoneSecondsSince2001(std::int64_t stored);
// An Android SMS `date` as the store keeps it: milliseconds since 1970. Some phones and apps
// wrote seconds: a value from 1e8 up to 1e11 (before 1973-03-04 as milliseconds, 1973 to 5138
// as seconds) is seconds and multiplied by 1000; others stand as they are.
std::int64_t AndroidMilliseconds(std::int64_t stored);
// An Android MMS date (seconds since 1970) as milliseconds, like the SMS dates; a value already
// too large for seconds is taken as milliseconds.
std::int64_t MmsDateMilliseconds(std::int64_t stored);

// Database text (meant to be UTF-8) as the store's narrow text: valid UTF-8 in which each
// malformed sequence is replaced by U+FFFD, one per maximal subpart (Unicode's recommended
// practice). Null gives the empty string.
std::string Utf8ToAnsiString(const char* text);
std::string Utf8ToAnsiString(std::string_view text);

// Whether `text` is well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view text);
// Whether `text` is well-formed UTF-8 with no control byte but tab, line feed and carriage
// return (and no DEL): what a message's text holds. One pass checks both.
bool IsPlainUtf8Text(std::string_view text);

// Reads a decimal integer as the C library's strtol family does: leading white space and a
// sign accepted, digits up to the first other character; no digits give 0; values beyond the
// type's range give the nearest end. Null gives 0.
std::int64_t ReadDecimal64(const char* text);
std::int32_t ReadDecimal32(const char* text);

std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// Removes a leading "+86" (China's country code) as the readers and carvers do for the
// addresses they show; true when there was one (the address as stored had it).
bool StripChinaPrefix(std::string& address);
// The address as the phone stored it: `shown` with the "+86" StripChinaPrefix removed.
inline std::string StoredAddress(const std::string& shown, bool hadChinaPrefix) { return hadChinaPrefix ? "+86" + shown : shown; }
