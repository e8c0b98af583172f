// Texts of MMS messages in the character sets phones send them in, turned into UTF-8.
//
// An MMS names its character sets by IANA MIBenum number (106 UTF-8, 4 ISO-8859-1, 1000
// UCS-2, ...). The Android provider keeps part texts decoded, but header values (subject,
// addresses) as their raw bytes widened one byte per character (each byte as a Latin-1
// letter), with the real character set stored beside them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// `bytes` in the character set numbered `mib`, as valid UTF-8: bytes that do not decode (and
// a set iconv does not know) become U+FFFD. 0 (not stated) and 106 read the bytes as UTF-8.
std::string DecodeCharset(std::string_view bytes, std::int64_t mib);

// A header value as the provider keeps it: the stored text's characters are the header's
// bytes. Narrowed back to bytes and decoded in `mib`; a text holding a character above U+00FF
// was not widened that way and is returned as valid UTF-8 unchanged.
std::string DecodeWidenedHeader(std::string_view stored, std::int64_t mib);
