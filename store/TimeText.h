// Conversions shared by the whole program: raw message times to display text, database text
// to the store's narrow text (UTF-8), decimal text to integers, and ASCII case rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Display text of a raw message time. Values of 1e11 and more are milliseconds since 1970
// (seconds above 1e10 clamp to 0); 0 is "None"; anything else is seconds since 2001, shown by
// taking t + 86400 as seconds since 1970 and adding 31 to the year. A shifted value that is
// negative or after 3000-12-31 23:59:59 UTC gives "1960-01-01 00:00:00". Local time zone.
std::string FormatMessageTime(std::int64_t t);

// Database text (meant to be UTF-8) as the store's narrow text: valid UTF-8 in which each
// malformed sequence is replaced by U+FFFD, one per maximal subpart (Unicode's recommended
// practice). Null gives the empty string.
std::string Utf8ToAnsiString(const char* text);
std::string Utf8ToAnsiString(std::string_view text);

// Reads a decimal integer as the C library's strtol family does: leading white space and a
// sign accepted, digits up to the first other character; no digits give 0; values beyond the
// type's range give the nearest end. Null gives 0.
std::int64_t ReadDecimal64(const char* text);
std::int32_t ReadDecimal32(const char* text);

std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// Removes a leading "+86" (China's country code) as the readers and carvers do for addresses.
void StripChinaPrefix(std::string& address);
