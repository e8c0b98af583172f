// MIBenum character sets through iconv, with every undecodable byte made visible.
#include "store/Charsets.h"

#include <iconv.h>

#include <cerrno>
#include <utility>

#include "store/TimeText.h"

namespace {

// The iconv name of the MIBenum numbers phones use; nullptr for an unknown number.
const char* IconvName(std::int64_t mib)
{
    static constexpr std::pair<std::int64_t, const char*> kNames[] = {
        {3, "US-ASCII"},      {4, "ISO-8859-1"},    {5, "ISO-8859-2"},   {6, "ISO-8859-3"},   {7, "ISO-8859-4"},
        {8, "ISO-8859-5"},    {9, "ISO-8859-6"},    {10, "ISO-8859-7"},  {11, "ISO-8859-8"},  {12, "ISO-8859-9"},
        {13, "ISO-8859-10"},  {17, "SHIFT_JIS"},    {18, "EUC-JP"},      {38, "EUC-KR"},      {39, "ISO-2022-JP"},
        {109, "ISO-8859-13"}, {111, "ISO-8859-15"}, {113, "GBK"},        {114, "GB18030"},    {1000, "UCS-2BE"},
        {1013, "UTF-16BE"},   {1014, "UTF-16LE"},   {1015, "UTF-16"},    {1017, "UTF-32"},    {2025, "GB2312"},
        {2026, "BIG5"},       {2084, "KOI8-R"},     {2250, "CP1250"},    {2251, "CP1251"},    {2252, "CP1252"},
        {2253, "CP1253"},     {2254, "CP1254"},     {2255, "CP1255"},    {2256, "CP1256"},    {2257, "CP1257"},
    };
    for (const auto& [number, name] : kNames) {
        if (number == mib) return name;
    }
    return nullptr;
}

class Converter {
public:
    explicit Converter(const char* from) : m_handle(iconv_open("UTF-8", from)) {}
    ~Converter()
    {
        if (Ok()) iconv_close(m_handle);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Ok() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `bytes`; a byte that starts no valid sequence becomes U+FFFD and is skipped.
    std::string Convert(std::string_view bytes)
    {
        std::string out;
        out.reserve(bytes.size() * 2);
        char buffer[1024];
        char* in = const_cast<char*>(bytes.data());
        std::size_t left = bytes.size();
        while (left > 0) {
            char* to = buffer;
            std::size_t room = sizeof buffer;
            const std::size_t result = iconv(m_handle, &in, &left, &to, &room);
            out.append(buffer, static_cast<std::size_t>(to - buffer));
            if (result != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            out += "\xEF\xBF\xBD";  // EILSEQ, or EINVAL for a sequence cut off at the end
            ++in;
            --left;
            iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t m_handle;
};

}  // namespace

std::string DecodeCharset(std::string_view bytes, std::int64_t mib)
{
    if (mib == 0 || mib == 106) return Utf8ToAnsiString(bytes);
    const char* name = IconvName(mib);
    if (name == nullptr) return Utf8ToAnsiString(bytes);  // the most common set when the number is unknown
    Converter converter(name);
    if (!converter.Ok()) return Utf8ToAnsiString(bytes);
    return Utf8ToAnsiString(converter.Convert(bytes));
}

std::string DecodeWidenedHeader(std::string_view stored, std::int64_t mib)
{
    std::string bytes;
    bytes.reserve(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const auto lead = static_cast<unsigned char>(stored[i]);
        if (lead < 0x80) {
            bytes += static_cast<char>(lead);
        } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < stored.size() &&
                   (static_cast<unsigned char>(stored[i + 1]) & 0xC0) == 0x80) {
            bytes += static_cast<char>(((lead & 0x03) << 6) | (static_cast<unsigned char>(stored[i + 1]) & 0x3F));
            ++i;
        } else {
            return Utf8ToAnsiString(stored);  // a character above U+00FF: text as it is
        }
    }
    return DecodeCharset(bytes, mib);
}
