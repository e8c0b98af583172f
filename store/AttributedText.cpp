// Reading the text out of an archived attributed string.
#include "store/AttributedText.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kClassName = "NSString";
constexpr std::uint8_t kStringItem = 0x2B;      // '+'
constexpr std::size_t kClassDataWindow = 16;    // bytes after the class name that may precede '+'
constexpr std::uint8_t kLength16 = 0x81;
constexpr std::uint8_t kLength32 = 0x82;

}  // namespace

std::string AttributedBodyText(std::span<const std::uint8_t> blob) { return std::string(AttributedBodyView(blob)); }

std::string_view AttributedBodyView(std::span<const std::uint8_t> blob)
{
    const std::string_view bytes(reinterpret_cast<const char*>(blob.data()), blob.size());
    const std::size_t name = bytes.find(kClassName);
    if (name == std::string_view::npos) return {};
    std::size_t at = name + kClassName.size();
    const std::size_t windowEnd = std::min(bytes.size(), at + kClassDataWindow);
    while (at < windowEnd && blob[at] != kStringItem) ++at;
    if (at >= windowEnd) return {};
    ++at;  // past '+'
    if (at >= blob.size()) return {};
    std::uint64_t length = 0;
    const std::uint8_t lead = blob[at++];
    if (lead < 0x80) {
        length = lead;
    } else if (lead == kLength16 || lead == kLength32) {
        const std::size_t width = lead == kLength16 ? 2 : 4;
        if (blob.size() - at < width) return {};
        for (std::size_t k = 0; k < width; ++k) length |= std::uint64_t{blob[at + k]} << (8 * k);
        at += width;
    } else {
        return {};
    }
    if (length > blob.size() - at) return {};
    return bytes.substr(at, static_cast<std::size_t>(length));
}
