// Time display, UTF-8 checking and decimal parsing for the store.
#include "store/TimeText.h"

#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <array>
#include <initializer_list>
#include <utility>
#include <ctime>
#include <limits>
#include <optional>

namespace {

constexpr std::int64_t kMillisecondThreshold = 100'000'000'000;  // 1e11
constexpr std::int64_t kSecondsClamp = 10'000'000'000;            // 1e10
constexpr std::int64_t kLastConvertible = 32'535'215'999;  // 3000-12-31 23:59:59 UTC

std::string FormatLocal(std::int64_t secondsSince1970)
{
    const std::time_t value = static_cast<std::time_t>(secondsSince1970);
    std::tm local{};
    if (localtime_r(&value, &local) == nullptr) return "1960-01-01 00:00:00";
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

}  // namespace

std::string FormatMessageTime(std::int64_t t)
{
    if (t >= kMillisecondThreshold) {
        std::int64_t seconds = t / 1000;
        if (seconds > kSecondsClamp) seconds = 0;
        return FormatLocal(seconds);
    }
    if (t == 0) return "None";
    // Seconds since 2001: the exact instant.
    const std::int64_t unix = t + kSecondsFrom1970To2001;  // cannot overflow: t < 1e11
    if (unix < 0 || unix > kLastConvertible) return "1960-01-01 00:00:00";
    return FormatLocal(unix);
}

std::optional<std::int64_t> UnixSeconds(std::int64_t t)
{
    std::int64_t seconds;
    if (t >= kMillisecondThreshold) {
        seconds = t / 1000;
        if (seconds > kSecondsClamp) seconds = 0;
    } else if (t == 0) {
        return std::nullopt;
    } else {
        seconds = t + kSecondsFrom1970To2001;
    }
    if (seconds < 0 || seconds > kLastConvertible) return std::nullopt;
    return seconds;
}

namespace {

std::string Offset(long gmtoff, bool colon)
{
    const char sign = gmtoff < 0 ? '-' : '+';
    const long minutes = (gmtoff < 0 ? -gmtoff : gmtoff) / 60;
    char text[16];
    std::snprintf(text, sizeof text, colon ? "%c%02ld:%02ld" : "%c%02ld%02ld", sign, minutes / 60, minutes % 60);
    return text;
}

}  // namespace

std::string FormatIsoUnixTime(std::int64_t seconds)
{
    const std::time_t value = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&value, &local) == nullptr) return "";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text + Offset(local.tm_gmtoff, true);
}

std::string FormatIsoTime(std::int64_t t)
{
    const std::optional<std::int64_t> seconds = UnixSeconds(t);
    return seconds ? FormatIsoUnixTime(*seconds) : "";
}

std::string FormatMessageTimeWithOffset(std::int64_t t)
{
    const std::string text = FormatMessageTime(t);
    const std::optional<std::int64_t> seconds = UnixSeconds(t);
    if (!seconds) return text;
    const std::time_t value = static_cast<std::time_t>(*seconds);
    std::tm local{};
    if (localtime_r(&value, &local) == nullptr) return text;
    return text + " " + Offset(local.tm_gmtoff, true);
}

namespace {

// The TZ the program started with, so that "the computer's zone" can be restored.
const std::optional<std::string>& StartingZone()
{
    static const std::optional<std::string> zone = [] {
        const char* tz = std::getenv("TZ");
        return tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
    }();
    return zone;
}

constexpr const char* kZoneData = "/usr/share/zoneinfo/";

bool ZoneExists(const std::string& name)
{
    if (name == "UTC") return true;
    if (name.empty() || name.front() == '/' || name.find("..") != std::string::npos) return false;
    std::FILE* file = std::fopen((kZoneData + name).c_str(), "rb");
    if (file == nullptr) return false;
    char magic[4] = {};
    const bool zone = std::fread(magic, 1, 4, file) == 4 && std::memcmp(magic, "TZif", 4) == 0;
    std::fclose(file);
    return zone;
}

long OffsetAt(std::time_t t)
{
    std::tm local{};
    return localtime_r(&t, &local) != nullptr ? local.tm_gmtoff : 0;
}

}  // namespace

bool UseTimeZone(const std::string& name)
{
    StartingZone();
    if (!name.empty() && !ZoneExists(name)) return false;
    if (name.empty()) {
        if (StartingZone()) {
            ::setenv("TZ", StartingZone()->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
    } else {
        ::setenv("TZ", name.c_str(), 1);
    }
    ::tzset();
    return true;
}

std::string TimeZoneName()
{
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        std::string name = tz[0] == ':' ? tz + 1 : tz;
        if (name.starts_with(kZoneData)) name.erase(0, std::strlen(kZoneData));
        return name;
    }
    // The computer's zone: /etc/localtime links into the zone data.
    char target[512];
    const ssize_t length = ::readlink("/etc/localtime", target, sizeof target - 1);
    if (length > 0) {
        const std::string path(target, static_cast<std::size_t>(length));
        if (const std::size_t at = path.find("zoneinfo/"); at != std::string::npos) return path.substr(at + 9);
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_zone != nullptr ? local.tm_zone : "UTC";
}

std::string TimesInText()
{
    const std::string name = TimeZoneName();
    const long offset = OffsetAt(std::time(nullptr));
    return "Times in " + name + (name == "UTC" && offset == 0 ? "" : ", UTC" + Offset(offset, true));
}

std::vector<std::string> KnownTimeZones()
{
    std::vector<std::string> zones;
    std::FILE* table = std::fopen((std::string(kZoneData) + "zone1970.tab").c_str(), "r");
    char line[512];
    while (table != nullptr && std::fgets(line, sizeof line, table) != nullptr) {
        if (line[0] == '#') continue;
        // country codes, coordinates, the zone's name, comments: tab-separated.
        const char* field = line;
        for (int tabs = 0; tabs < 2 && field != nullptr; ++tabs) field = std::strchr(field, '\t') ? std::strchr(field, '\t') + 1 : nullptr;
        if (field == nullptr) continue;
        zones.emplace_back(field, std::strcspn(field, "\t\n"));
    }
    if (table != nullptr) std::fclose(table);
    std::sort(zones.begin(), zones.end());
    zones.erase(std::unique(zones.begin(), zones.end()), zones.end());
    zones.insert(zones.begin(), "UTC");
    return zones;
}

std::string FormatHeadingTime(std::int64_t t)
{
    const std::string text = FormatMessageTime(t);
    const std::optional<std::int64_t> seconds = UnixSeconds(t);
    if (!seconds) return text;
    const auto at = static_cast<std::time_t>(*seconds);
    const long offset = OffsetAt(at);
    // A clock change near the instant: the same wall-clock time may belong to another instant
    // under the other offset.
    for (const long other : {OffsetAt(at - 3 * 3600), OffsetAt(at + 3 * 3600)}) {
        if (other == offset) continue;
        const std::time_t twin = at + (offset - other);
        if (OffsetAt(twin) == other) return text + " " + Offset(offset, true);
    }
    return text;
}

std::string TimeZoneText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string name = local.tm_zone != nullptr ? local.tm_zone : "";
    return (name.empty() ? "" : name + ", ") + "UTC" + Offset(local.tm_gmtoff, true);
}

std::int64_t IphoneSecondsSince2001(std::int64_t stored)
{
    // Nanoseconds from iOS 11 on; the unit is told per value because an upgraded phone keeps
    // its older rows in seconds. Division truncates toward zero.
    if (stored >= kIphoneNanosecondThreshold || stored <= -kIphoneNanosecondThreshold) return stored / 1'000'000'000;
    return stored;
}

std::int64_t AndroidMilliseconds(std::int64_t stored)
{
    constexpr std::int64_t kSmallestSeconds = 100'000'000;  // 1973-03-03 in seconds
    return stored >= kSmallestSeconds && stored < kMillisecondThreshold ? stored * 1000 : stored;
}

std::int64_t MmsDateMilliseconds(std::int64_t stored)
{
    constexpr std::int64_t kLargestSeconds = 100'000'000'000;  // year 5138: larger ones are milliseconds
    return stored >= kLargestSeconds || stored <= -kLargestSeconds ? stored : stored * 1000;
}

std::string Utf8ToAnsiString(const char* text)
{
    if (text == nullptr) return {};
    return Utf8ToAnsiString(std::string_view(text));
}

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

bool Continues(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed character at `p` (Unicode table 3-7), 0 when malformed. The
// checks of one character do not wait on the previous one's, unlike a state machine's steps.
std::size_t CharacterLength(const unsigned char* p, std::size_t left)
{
    const unsigned lead = p[0];
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return left >= 2 && Continues(p[1]) ? 2 : 0;
    if (lead < 0xF0) {
        if (left < 3 || !Continues(p[1]) || !Continues(p[2])) return 0;
        if ((lead == 0xE0 && p[1] < 0xA0) || (lead == 0xED && p[1] > 0x9F)) return 0;
        return 3;
    }
    if (lead > 0xF4 || left < 4 || !Continues(p[1]) || !Continues(p[2]) || !Continues(p[3])) return 0;
    if ((lead == 0xF0 && p[1] < 0x90) || (lead == 0xF4 && p[1] > 0x8F)) return 0;
    return 4;
}

// Whether eight ASCII bytes hold a control byte other than tab, line feed and carriage return,
// or DEL: those the plain-text check looks at one by one.
bool HasControlByte(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    const std::uint64_t below = (word - kOnes * 0x20) & ~word & kHighBits;  // a byte < 0x20
    const std::uint64_t del = word ^ (kOnes * 0x7F);
    return below != 0 || ((del - kOnes) & ~del & kHighBits) != 0;
}

bool PlainByte(unsigned char byte) { return (byte >= 0x20 && byte != 0x7F) || byte == '\t' || byte == '\n' || byte == '\r'; }

// Walks `text` a character at a time, eight ASCII bytes at a time between characters; with
// `plain`, control bytes other than tab, line feed and carriage return (and DEL) fail it too.
bool CheckText(std::string_view text, bool plain)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if ((word & kHighBits) == 0 && (!plain || !HasControlByte(word))) {
                p += 8;
                continue;
            }
        }
        if (*p < 0x80) {
            if (plain && !PlainByte(*p)) return false;
            ++p;
            continue;
        }
        const std::size_t length = CharacterLength(p, static_cast<std::size_t>(end - p));
        if (length == 0) return false;
        p += length;
    }
    return true;
}

#if defined(__x86_64__)

// Sixteen bytes at a time, after the three-table method of Keiser and Lemire ("Validating UTF-8
// in less than one instruction per byte", 2021): each byte's error flags come from looking up
// the high and low half of the byte before it and the high half of its own; a flag survives
// the AND of the three only where that pair of bytes is malformed. The one case the pairs
// cannot see, a third or fourth byte of a character that is not a continuation (or one that
// should not be there), is told by whether the byte two or three back leads a long character.
namespace simd {

constexpr std::uint8_t kTooShort = 1 << 0;   // a lead byte, or ASCII, after a lead byte
constexpr std::uint8_t kTooLong = 1 << 1;    // a continuation after ASCII
constexpr std::uint8_t kOverlong3 = 1 << 2;  // E0 followed by 80..9F
constexpr std::uint8_t kTooLarge = 1 << 3;   // above U+10FFFF
constexpr std::uint8_t kSurrogate = 1 << 4;  // ED followed by A0..BF
constexpr std::uint8_t kOverlong2 = 1 << 5;  // C0 or C1
constexpr std::uint8_t kTooLarge1000 = 1 << 6;
constexpr std::uint8_t kOverlong4 = 1 << 6;  // F0 followed by 80..8F
constexpr std::uint8_t kTwoConts = 1 << 7;   // a continuation after a continuation
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

__attribute__((target("ssse3"))) inline __m128i Table(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                                                      std::uint8_t e, std::uint8_t f, std::uint8_t g, std::uint8_t h,
                                                      std::uint8_t i, std::uint8_t j, std::uint8_t k, std::uint8_t l,
                                                      std::uint8_t m, std::uint8_t n, std::uint8_t o, std::uint8_t p)
{
    return _mm_setr_epi8(static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d),
                         static_cast<char>(e), static_cast<char>(f), static_cast<char>(g), static_cast<char>(h),
                         static_cast<char>(i), static_cast<char>(j), static_cast<char>(k), static_cast<char>(l),
                         static_cast<char>(m), static_cast<char>(n), static_cast<char>(o), static_cast<char>(p));
}

struct State {
    __m128i previous = _mm_setzero_si128();
    __m128i error = _mm_setzero_si128();
    __m128i incomplete = _mm_setzero_si128();  // the previous block ended inside a character
};

// The error flags of one block whose bytes are not all ASCII.
__attribute__((target("ssse3"))) inline __m128i BlockErrors(__m128i input, __m128i previous)
{
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const __m128i prev1 = _mm_alignr_epi8(input, previous, 15);
    const __m128i firstHigh = Table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
                                    kTwoConts, kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
                                    kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4);
    constexpr std::uint8_t kLarge = kCarry | kTooLarge | kTooLarge1000;
    const __m128i firstLow = Table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
                                   kCarry | kTooLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge, kLarge,
                                   kLarge | kSurrogate, kLarge, kLarge);
    constexpr std::uint8_t kCont8 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
    constexpr std::uint8_t kCont9 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
    constexpr std::uint8_t kContAB = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
    const __m128i secondHigh = Table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
                                     kCont8, kCont9, kContAB, kContAB, kTooShort, kTooShort, kTooShort, kTooShort);
    const __m128i special =
        _mm_and_si128(_mm_and_si128(_mm_shuffle_epi8(firstHigh, _mm_and_si128(_mm_srli_epi16(prev1, 4), lowNibble)),
                                    _mm_shuffle_epi8(firstLow, _mm_and_si128(prev1, lowNibble))),
                      _mm_shuffle_epi8(secondHigh, _mm_and_si128(_mm_srli_epi16(input, 4), lowNibble)));
    // Bytes two back from E0..FF or three back from F0..FF must be continuations: their pair
    // flags show kTwoConts there, and must not elsewhere.
    const __m128i prev2 = _mm_alignr_epi8(input, previous, 14);
    const __m128i prev3 = _mm_alignr_epi8(input, previous, 13);
    const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xE0 - 1)));
    const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xF0 - 1)));
    const __m128i must = _mm_and_si128(_mm_cmpgt_epi8(_mm_or_si128(third, fourth), _mm_setzero_si128()),
                                       _mm_set1_epi8(static_cast<char>(0x80)));
    return _mm_xor_si128(must, special);
}

// Whether the block ends inside a character: a lead byte too near its end.
__attribute__((target("ssse3"))) inline __m128i EndsInside(__m128i input)
{
    const __m128i limits = Table(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0 - 1,
                                 0xE0 - 1, 0xC0 - 1);
    return _mm_subs_epu8(input, limits);
}

// The bytes a message's text must not hold: controls other than tab, line feed and carriage
// return, and DEL.
__attribute__((target("ssse3"))) inline int ControlMask(__m128i input)
{
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(input, _mm_set1_epi8(0x1F)), input);
    const __m128i allowed = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(input, _mm_set1_epi8('\t')),
                                                      _mm_cmpeq_epi8(input, _mm_set1_epi8('\n'))),
                                         _mm_cmpeq_epi8(input, _mm_set1_epi8('\r')));
    const __m128i bad = _mm_or_si128(_mm_andnot_si128(allowed, control), _mm_cmpeq_epi8(input, _mm_set1_epi8(0x7F)));
    return _mm_movemask_epi8(bad);
}

__attribute__((target("ssse3"))) inline void Step(State& state, __m128i input)
{
    if (_mm_movemask_epi8(input) == 0) {
        state.error = _mm_or_si128(state.error, state.incomplete);
    } else {
        state.error = _mm_or_si128(state.error, BlockErrors(input, state.previous));
    }
    state.incomplete = EndsInside(input);
    state.previous = input;
}

__attribute__((target("ssse3"))) bool Check(std::string_view text, bool plain)
{
    const char* p = text.data();
    std::size_t left = text.size();
    State state;
    for (; left >= 16; p += 16, left -= 16) {
        const __m128i input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (plain && ControlMask(input) != 0) return false;
        Step(state, input);
    }
    // The last bytes padded with zeros: ASCII, so a character cut at the end shows as too short.
    alignas(16) char last[16] = {};
    if (left > 0) std::memcpy(last, p, left);
    const __m128i input = _mm_load_si128(reinterpret_cast<const __m128i*>(last));
    if (plain && (ControlMask(input) & ((1 << left) - 1)) != 0) return false;
    Step(state, input);
    state.error = _mm_or_si128(state.error, state.incomplete);
    return _mm_movemask_epi8(_mm_cmpeq_epi8(state.error, _mm_setzero_si128())) == 0xFFFF;
}

}  // namespace simd

#endif

bool Checked(std::string_view text, bool plain)
{
#if defined(__x86_64__)
    static const bool blocks = __builtin_cpu_supports("ssse3") != 0;
    if (blocks && text.size() >= 16) return simd::Check(text, plain);
#endif
    return CheckText(text, plain);
}

}  // namespace

bool IsValidUtf8(std::string_view text) { return Checked(text, false); }

bool IsPlainUtf8Text(std::string_view text) { return Checked(text, true); }

std::string Utf8ToAnsiString(std::string_view text)
{
    // Well-formed sequences (Unicode table 3-7). A malformed sequence is replaced by one U+FFFD
    // per maximal subpart: the longest prefix of a well-formed sequence, or one lone byte.
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    // Nearly every text is valid: check it without writing, then copy it whole.
    if (IsValidUtf8(text)) return std::string(text);
    std::size_t ascii = 0;
    while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    out.append(text.substr(0, ascii));
    std::size_t i = ascii;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        int needed = 0;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            out += kReplacement;  // C0, C1, F5..FF and stray continuation bytes
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int got = 0;
        while (got < needed && j < size) {
            const unsigned char next = bytes[j];
            const bool ok = got == 0 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
            if (!ok) break;
            ++got;
            ++j;
        }
        if (got == needed) {
            out.append(text.substr(i, j - i));
        } else {
            out += kReplacement;
        }
        i = j;
    }
    return out;
}

namespace {

template <typename Int>
Int ReadDecimal(const char* text)
{
    if (text == nullptr) return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // Accumulate toward the sign so that the most negative value is reachable.
    Int value = 0;
    bool saturated = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (saturated) continue;
        const Int digit = static_cast<Int>(*p - '0');
        if (negative) {
            if (value < (std::numeric_limits<Int>::min() + digit) / 10) {
                value = std::numeric_limits<Int>::min();
                saturated = true;
            } else {
                value = static_cast<Int>(value * 10 - digit);
            }
        } else {
            if (value > (std::numeric_limits<Int>::max() - digit) / 10) {
                value = std::numeric_limits<Int>::max();
                saturated = true;
            } else {
                value = static_cast<Int>(value * 10 + digit);
            }
        }
    }
    return value;
}

}  // namespace

std::int64_t ReadDecimal64(const char* text) { return ReadDecimal<std::int64_t>(text); }

std::int32_t ReadDecimal32(const char* text) { return ReadDecimal<std::int32_t>(text); }

std::string AsciiLower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string AsciiUpper(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool StripChinaPrefix(std::string& address)
{
    if (!address.starts_with("+86")) return false;
    address.erase(0, 3);
    return true;
}
