// The text of an iPhone `attributedBody`: an NSAttributedString archived in Apple's
// typedstream format, where many messages of iOS 16 and later keep their only copy of the text.
//
// The part of the archive that holds the text:
//   ... 08 "NSString" 01 94 84 01 2B <length> <UTF-8 bytes> 86 84 02 "iI" ...
//   after the class name "NSString": a few bytes of class data, then '+' (0x2B, a string
//   item), then the length in bytes: one byte below 0x80 is the length itself; 0x81 is
//   followed by a 16-bit and 0x82 by a 32-bit little-endian length; then the UTF-8 bytes.
// Example: ... "NSString" 01 94 84 01 2B 05 "Hello" 86 ... holds the text "Hello". The end
// marker 86 is never searched for: the bytes 86 84 also occur inside UTF-8 text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The UTF-8 bytes of the first string archived after the class name "NSString", exactly as
// stored (not checked as UTF-8); empty when the blob holds no such string or is cut short.
// Reads nothing outside `blob`.
std::string AttributedBodyText(std::span<const std::uint8_t> blob);
// The same bytes as a view into `blob`.
std::string_view AttributedBodyView(std::span<const std::uint8_t> blob);
