// The streaming JSON writer.
#include "presentation/JsonWriter.h"

#include <cstdint>
#include <cstring>

#include "store/TimeText.h"

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

}  // namespace

void JsonWriter::Indent() { m_buffer.append(m_levels.size() * 2, ' '); }

void JsonWriter::BeforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_levels.empty()) return;
    Level& level = m_levels.back();
    m_buffer += level.members++ == 0 ? "\n" : ",\n";
    Indent();
}

void JsonWriter::Key(std::string_view key)
{
    Level& level = m_levels.back();
    m_buffer += level.members++ == 0 ? "\n" : ",\n";
    Indent();
    WriteQuoted(key);
    m_buffer += ": ";
    m_afterKey = true;
}

void JsonWriter::Open(char bracket)
{
    BeforeValue();
    m_buffer += bracket;
    m_levels.push_back({bracket == '{'});
}

void JsonWriter::Close(char bracket)
{
    const bool empty = m_levels.back().members == 0;
    m_levels.pop_back();
    if (!empty) {
        m_buffer += '\n';
        Indent();
    }
    m_buffer += bracket;
    if (m_buffer.size() >= kFlushAt) Flush();
}

void JsonWriter::String(std::string_view text)
{
    BeforeValue();
    WriteQuoted(text);
    if (m_buffer.size() >= kFlushAt) Flush();
}

namespace {

// Whether any of the eight bytes at `p` is a control byte, a quote or a backslash (the tests
// of one bit per byte are exact for "any").
bool NeedsEscapeIn(const char* p)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    const auto zeroIn = [](std::uint64_t w) { return ((w - kOnes) & ~w & kHigh) != 0; };
    return ((word - kOnes * 0x20) & ~word & kHigh) != 0 || zeroIn(word ^ (kOnes * '"')) || zeroIn(word ^ (kOnes * '\\'));
}

}  // namespace

void JsonWriter::WriteQuoted(std::string_view text)
{
    if (!IsValidUtf8(text)) {
        WriteQuoted(Utf8ToAnsiString(text));
        return;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    m_buffer += '"';
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Eight bytes at a time while none of them needs an escape.
        while (i + 8 <= text.size() && !NeedsEscapeIn(text.data() + i)) i += 8;
        if (i >= text.size()) break;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        m_buffer.append(text.substr(start, i - start));
        start = i + 1;
        switch (c) {
        case '"': m_buffer += "\\\""; break;
        case '\\': m_buffer += "\\\\"; break;
        case '\b': m_buffer += "\\b"; break;
        case '\f': m_buffer += "\\f"; break;
        case '\n': m_buffer += "\\n"; break;
        case '\r': m_buffer += "\\r"; break;
        case '\t': m_buffer += "\\t"; break;
        default:
            m_buffer += "\\u00";
            m_buffer += kHex[c >> 4];
            m_buffer += kHex[c & 15];
        }
    }
    m_buffer.append(text.substr(start));
    m_buffer += '"';
}

void JsonWriter::Int(std::int64_t value)
{
    BeforeValue();
    m_buffer += std::to_string(value);
}

void JsonWriter::Bool(bool value)
{
    BeforeValue();
    m_buffer += value ? "true" : "false";
}

void JsonWriter::Null()
{
    BeforeValue();
    m_buffer += "null";
}

void JsonWriter::Finish()
{
    m_buffer += '\n';
    Flush();
}

void JsonWriter::Flush()
{
    if (m_out == nullptr || m_buffer.empty()) return;
    std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_out);
    m_buffer.clear();
}
