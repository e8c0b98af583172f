// Fuzz target for the text conversions that every database value passes through.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "readers/IphoneChats.h"
#include "store/AttributedText.h"
#include "store/Charsets.h"

#include "FuzzTargets.h"
#include "store/TimeText.h"

namespace fuzz {

int FuzzText(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The result is valid UTF-8: checking it again changes nothing.
    const std::string checked = Utf8ToAnsiString(bytes);
    Check(Utf8ToAnsiString(std::string_view(checked)) == checked, "UTF-8 check is idempotent");
    Check(checked.size() <= size * 3, "at most one replacement per byte");
    Check(IsValidUtf8(bytes) == (checked == bytes), "the fast validity check agrees with the conversion");

    // Decimal parsing agrees with the C library on the text up to the first zero byte.
    const std::string text(bytes.substr(0, bytes.find('\0')));
    const long long expected = std::strtoll(text.c_str(), nullptr, 10);
    Check(ReadDecimal64(text.c_str()) == expected, "64-bit parse matches strtoll");
    const long long clamped = expected > INT32_MAX ? INT32_MAX : expected < INT32_MIN ? INT32_MIN : expected;
    Check(ReadDecimal32(text.c_str()) == clamped, "32-bit parse saturates");

    // Every raw time has a display text of the fixed shape or one of the fixed words.
    std::int64_t raw = 0;
    std::memcpy(&raw, data, size < sizeof raw ? size : sizeof raw);
    const std::string shown = FormatMessageTime(raw);
    Check(shown == "None" || shown.size() >= 19, "time text shape");
    return 0;
}

int FuzzAttributed(const std::uint8_t* data, std::size_t size)
{
    // The input in a buffer of its own size, so that the sanitizers catch any read past it.
    const std::vector<std::uint8_t> blob(data, data + size);
    const std::string text = AttributedBodyText(blob);
    const std::string_view bytes(reinterpret_cast<const char*>(blob.data()), blob.size());
    Check(text.size() <= size, "the text is no longer than the blob");
    Check(text.empty() || bytes.find(text) != std::string_view::npos, "the text is bytes of the blob");
    Check(text.empty() || bytes.find("NSString") != std::string_view::npos, "a text needs the class name");
    return 0;
}

int FuzzMms(const std::uint8_t* data, std::size_t size)
{
    static constexpr std::int64_t kSets[] = {0, 3, 4, 17, 18, 38, 39, 106, 113, 114, 1000, 1013, 1014, 1015, 1017, 2025, 2026, 2084, 2252, 99999};
    if (size == 0) return 0;
    const std::int64_t mib = kSets[data[0] % std::size(kSets)];
    const std::vector<std::uint8_t> rest(data + 1, data + size);
    const std::string_view bytes(reinterpret_cast<const char*>(rest.data()), rest.size());
    Check(IsValidUtf8(DecodeCharset(bytes, mib)), "a decoded text is valid UTF-8");
    Check(IsValidUtf8(DecodeWidenedHeader(bytes, mib)), "a decoded header is valid UTF-8");
    for (const std::string& version : EditedVersions(rest)) Check(IsValidUtf8(version), "an earlier version is valid UTF-8");
    return 0;
}

}  // namespace fuzz
