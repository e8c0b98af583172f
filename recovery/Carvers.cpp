// The Android and iPhone record carvers.
#include "recovery/Carvers.h"

#include <climits>
#include <string>
#include <string_view>

#include "recovery/Varint.h"
#include "store/AttributedText.h"
#include "store/TimeText.h"

namespace {

bool Accepts(ColumnRule rule, std::int32_t s)
{
    switch (rule) {
    case ColumnRule::Unchecked: return true;
    case ColumnRule::AnyInteger: return s <= 9;
    case ColumnRule::Text: return s == 0 || (s >= 13 && (s & 1) != 0);
    case ColumnRule::Blob: return s == 0 || (s >= 12 && (s & 1) == 0);
    case ColumnRule::AndroidDate: return s == 5 || s == 8;
    case ColumnRule::ThreadId: return s == 1 || s == 2 || s == 3 || s == 9;
    case ColumnRule::IphoneDate: return s == 4;
    case ColumnRule::IphoneDateOrNanoseconds: return s == 4 || s == 6;
    case ColumnRule::Version: return s != 0 && s <= 4;
    }
    return false;
}

// The default carvers' rule for a column: by its declared type, refined by what the phone's
// table says of an INTEGER column of that name.
ColumnRule RuleOf(const std::string& type, const PhoneColumn* meaning, bool iphone, bool nanosecondDates)
{
    if (type == "INTEGER") {
        const ColumnRule rule = meaning != nullptr ? meaning->rule : ColumnRule::AnyInteger;
        return rule == ColumnRule::IphoneDate && nanosecondDates ? ColumnRule::IphoneDateOrNanoseconds : rule;
    }
    if (type == "TEXT") return ColumnRule::Text;
    return iphone && type == "BLOB" ? ColumnRule::Blob : ColumnRule::Unchecked;
}

std::int32_t SerialTypeOf(std::uint64_t value)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// Content bytes as text: they end at their first zero byte (checked as UTF-8 when copied).
std::string_view ContentText(const std::uint8_t* content, std::int32_t length)
{
    std::string_view text(reinterpret_cast<const char*>(content), static_cast<std::size_t>(length));
    return text.substr(0, text.find('\0'));
}

// An integer column's value (NULL, texts and blobs read as 0).
std::int64_t ContentInteger(const std::uint8_t* content, std::int32_t serialType, std::int32_t length)
{
    if (serialType == 9) return 1;
    if (serialType < 1 || serialType > 6) return 0;
    std::uint64_t value = (content[0] & 0x80) != 0 ? ~std::uint64_t{0} : 0;
    for (std::int32_t b = 0; b < length; ++b) value = (value << 8) | content[b];
    return static_cast<std::int64_t>(value);
}

}  // namespace

RecordCarver::RecordCarver(Kind kind, const MessageStore& store) : m_kind(kind)
{
    m_columnCount = std::min(store.columnCount, kColumnCapacity);
    const bool iphone = kind == Kind::Iphone;
    const DeviceKind device = iphone ? kDeviceIphone : kDeviceAndroid;
    const CarvedTable table = iphone ? MessageTableOf(kDeviceIphone, std::span(store.columnNames).first(static_cast<std::size_t>(m_columnCount)))
                                     : CarvedTable::Messages;
    m_legacy = table == CarvedTable::LegacyMessages;
    for (std::int32_t i = 0; i < m_columnCount; ++i) {
        const PhoneColumn* meaning = PhoneColumnNamed(device, store.columnNames[i], table);
        m_rules[i] = RuleOf(store.columnTypes[i], meaning, iphone, store.iphoneNanosecondDates != 0);
        m_fields[i] = meaning != nullptr ? meaning->field : ColumnField::None;
        for (std::int32_t serialType = 0; serialType < 64; ++serialType) {
            if (Accepts(m_rules[i], serialType)) m_accepts[i] |= std::uint64_t{1} << serialType;
        }
    }
    if (kind == Kind::AndroidWithHeader) {
        for (int b = m_columnCount; b <= m_columnCount + 10 && b < 256; ++b) m_canStart[b] = true;
    } else {
        m_canStart[0] = true;
        for (std::int32_t i = 1; i < m_columnCount; ++i) {
            if (!Accepts(m_rules[i], 0)) {
                m_zeroRunRejected = static_cast<std::size_t>(i) + 1;
                break;
            }
        }
    }
}

inline bool RecordCarver::ColumnAccepts(std::int32_t i, std::int32_t s) const
{
    if (static_cast<std::uint32_t>(s) < 64) return (m_accepts[i] >> s) & 1;
    return Accepts(m_rules[i], s);
}

bool RecordCarver::Carve(std::int32_t& recordLength, const std::uint8_t* position,
                         MessageRecord* record, const std::uint8_t* end) const
{
    if (record == nullptr) return CarveFields(recordLength, position, nullptr, end);
    CarvedFields fields;
    if (!CarveFields(recordLength, position, &fields, end)) return false;
    fields.FillRecord(*record);
    return true;
}

bool RecordCarver::CarveFields(std::int32_t& recordLength, const std::uint8_t* position, CarvedFields* fields,
                               const std::uint8_t* end) const
{
    if (m_kind == Kind::AndroidWithHeader) return CarveWithHeader(recordLength, position, fields, end);
    return CarveDefault(recordLength, position, fields, end);
}

std::string_view CarvedFields::BodyText() const
{
    if (!body.empty() || archived.empty()) return body;
    const std::string_view text =
        AttributedBodyView({reinterpret_cast<const std::uint8_t*>(archived.data()), archived.size()});
    return text.substr(0, text.find('\0'));
}

bool CarvedFields::Plausible(bool iphone) const
{
    if (!hasTime || !WithinPhoneYears(iphone ? kDeviceIphone : kDeviceAndroid, time)) return false;
    return IsPlainUtf8Text(BodyText());
}

void CarvedFields::FillRecord(MessageRecord& record) const
{
    if (hasBody) record.body = Utf8ToAnsiString(BodyText());
    if (hasAddress) {
        record.address = Utf8ToAnsiString(address);
        if (!legacy) record.chinaPrefix = StripChinaPrefix(record.address) ? 1 : 0;
    }
    if (legacy) record.kind = madrid ? MessageKind::IMessage : MessageKind::Sms;
    if (hasHandle) record.address = std::to_string(handle);
    if (hasTime) record.time = time;
    if (hasFromMe) record.fromMe = fromMe;
    record.threadId = thread;
}

bool RecordCarver::CarveDefault(std::int32_t& recordLength, const std::uint8_t* position,
                                CarvedFields* record, const std::uint8_t* end) const
{
    if (*position != 0) return false;
    // Offsets from `position`; `available` is the offset of the appended zero byte.
    const std::size_t available = static_cast<std::size_t>(end - position);
    std::array<std::int32_t, kColumnCapacity> serialTypes;
    std::array<std::int32_t, kColumnCapacity> contentLengths;
    std::size_t cursor = 0;
    std::int64_t total = 1;  // the header-size byte assumed before the position
    for (std::int32_t i = 0; i < m_columnCount; ++i) {
        if (cursor > available) return false;  // the serial types run past the image
        const Varint v = DecodeVarint(position + cursor);
        const std::int32_t serialType = SerialTypeOf(v.value);
        const std::int32_t contentLength = SerialContentLength(v.value);
        if (i > 0 && !ColumnAccepts(i, serialType)) return false;
        if (contentLength < 0) return false;
        serialTypes[i] = serialType;
        contentLengths[i] = contentLength;
        cursor += v.length;
        total += static_cast<std::int64_t>(v.length) + contentLength;
    }
    // Counted from the assumed header-size byte, the record may end on the appended zero byte.
    if (total > static_cast<std::int64_t>(available) + 2 || total > INT32_MAX) return false;
    recordLength = static_cast<std::int32_t>(total);
    if (record != nullptr) {
        Extract(position + cursor, serialTypes.data(), contentLengths.data(), available + 1 - cursor,
                *record);
    }
    return true;
}

bool RecordCarver::CarveWithHeader(std::int32_t& recordLength, const std::uint8_t* position,
                                   CarvedFields* record, const std::uint8_t* end) const
{
    if (!m_canStart[*position]) return false;
    const std::size_t available = static_cast<std::size_t>(end - position);
    const Varint header = DecodeVarint(position);
    const std::int32_t headerSize = SerialTypeOf(header.value);
    if (headerSize < 0) return false;  // the body would start before the position
    std::array<std::int32_t, kColumnCapacity> serialTypes;
    std::array<std::int32_t, kColumnCapacity> contentLengths;
    std::size_t cursor = header.length;
    std::int64_t typeBytes = 0;  // bytes of the serial-type varints read so far
    std::int64_t contentTotal = 0;
    for (std::int32_t i = 0; i < m_columnCount; ++i) {
        // A header one column short (the last column added after the row was written): the
        // column reads as NULL, which its rule must still accept.
        if (i == m_columnCount - 1 && headerSize == 1 + typeBytes) {
            if (i > 0 && !ColumnAccepts(i, 0)) return false;
            serialTypes[i] = 0;
            contentLengths[i] = 0;
            break;
        }
        if (cursor > available) return false;
        const Varint v = DecodeVarint(position + cursor);
        const std::int32_t serialType = SerialTypeOf(v.value);
        const std::int32_t contentLength = SerialContentLength(v.value);
        if (i == 0 ? serialType != 0 : !ColumnAccepts(i, serialType)) return false;
        if (contentLength < 0) return false;
        serialTypes[i] = serialType;
        contentLengths[i] = contentLength;
        cursor += v.length;
        typeBytes += static_cast<std::int64_t>(v.length);
        contentTotal += contentLength;
    }
    // The record must lie wholly within the file's bytes.
    const std::int64_t total = headerSize + contentTotal;
    if (total > static_cast<std::int64_t>(available) || total > INT32_MAX) return false;
    recordLength = static_cast<std::int32_t>(total);
    if (record != nullptr) {
        const std::size_t bodyStart = static_cast<std::size_t>(headerSize);
        Extract(position + bodyStart, serialTypes.data(), contentLengths.data(),
                available + 1 - bodyStart, *record);
    }
    return true;
}

void RecordCarver::Extract(const std::uint8_t* body, const std::int32_t* serialTypes,
                           const std::int32_t* contentLengths, std::size_t available,
                           CarvedFields& record) const
{
    // The fit test guarantees that every column's content lies within `available` bytes.
    std::size_t offset = 0;
    for (std::int32_t k = 0; k < m_columnCount; ++k) {
        const std::uint8_t* content = body + offset;
        const std::int32_t serialType = serialTypes[k];
        const std::int32_t length = contentLengths[k];
        switch (m_fields[k]) {
        case ColumnField::None:
        case ColumnField::Guid: break;
        case ColumnField::Address:
            record.address = ContentText(content, length);
            record.hasAddress = true;
            record.hasHandle = false;
            break;
        case ColumnField::Body:
            record.body = ContentText(content, length);
            record.hasBody = true;
            break;
        case ColumnField::Type:
            record.fromMe = serialType == 9 ? 0 : 1;
            record.hasFromMe = true;
            break;
        case ColumnField::IsFromMe:
            record.fromMe = serialType == 8 ? 0 : 1;
            record.hasFromMe = true;
            break;
        case ColumnField::Date:
            if (m_kind == Kind::Iphone && serialType == 6 && m_rules[k] == ColumnRule::IphoneDateOrNanoseconds) {
                // Nanoseconds since 2001 (iOS 11 and later), kept as seconds like a live date.
                std::uint64_t value = 0;
                for (int b = 0; b < 8; ++b) value = (value << 8) | content[b];
                record.time = IphoneSecondsSince2001(static_cast<std::int64_t>(value));
                record.hasTime = true;
            } else if (m_kind == Kind::Iphone) {
                // Four bytes whatever the serial type; bytes past the image read as zero.
                std::uint32_t value = 0;
                for (std::size_t b = 0; b < 4; ++b) {
                    value = (value << 8) | (offset + b < available ? content[b] : 0u);
                }
                record.time = value;
                record.hasTime = true;
            } else if (serialType == 5) {
                std::uint64_t value = 0;
                for (int b = 0; b < 6; ++b) value = (value << 8) | content[b];
                record.time = static_cast<std::int64_t>(value);
                record.hasTime = true;
            } else if (serialType == 8) {
                record.time = 0;
                record.hasTime = true;
            }
            break;
        case ColumnField::ThreadId:
            if (serialType == 9) {
                record.thread = 1;
            } else if (serialType >= 1 && serialType <= 6) {
                std::uint64_t value = 0;
                for (std::int32_t b = 0; b < length; ++b) value = (value << 8) | content[b];
                record.thread = static_cast<std::int64_t>(value);
            }
            break;
        case ColumnField::HandleId: {
            std::uint32_t value = 1;
            if (serialType != 9) {
                value = 0;
                for (std::int32_t b = 0; b < length; ++b) value = (value << 8) | content[b];
            }
            record.handle = static_cast<std::int32_t>(value);
            record.hasHandle = true;
            record.hasAddress = false;
            break;
        }
        case ColumnField::AttributedBody:
            // Since iOS 16 many messages keep their text only in the archived attributed string.
            if (serialType >= 12 && (serialType & 1) == 0) {
                record.archived = {reinterpret_cast<const char*>(content), static_cast<std::size_t>(length)};
                record.hasBody = true;
            }
            break;
        case ColumnField::MadridHandle: record.madridHandle = ContentText(content, length); break;
        case ColumnField::LegacyFlags: record.flags = ContentInteger(content, serialType, length); break;
        case ColumnField::MadridFlags: record.madridFlags = ContentInteger(content, serialType, length); break;
        case ColumnField::IsMadrid: record.madrid = ContentInteger(content, serialType, length) == 1; break;
        default: break;  // the fields of the part tables, which these carvers do not read
        }
        offset += static_cast<std::size_t>(length);
    }
    if (m_legacy) CompleteLegacy(record);
}

void RecordCarver::CompleteLegacy(CarvedFields& record)
{
    record.legacy = true;
    if (record.madrid) record.address = record.madridHandle;
    record.hasAddress = !record.address.empty();
    record.fromMe = record.madrid ? ((record.madridFlags & 4) != 0 ? 1 : 0) : ((record.flags & 1) != 0 ? 1 : 0);
    record.hasFromMe = true;
    if (!record.madrid && record.hasTime) record.time = LegacySmsSecondsSince2001(record.time);
}

bool CarveAndroidRecord(std::int32_t& recordLength, const std::uint8_t* position,
                        MessageRecord* record, const std::uint8_t* end)
{
    if (g_store.alternateCarving != 0) {
        return CarveAndroidRecordWithHeader(recordLength, position, record, end);
    }
    return RecordCarver(RecordCarver::Kind::Android, g_store).Carve(recordLength, position, record, end);
}

bool CarveAndroidRecordWithHeader(std::int32_t& recordLength, const std::uint8_t* position,
                                  MessageRecord* record, const std::uint8_t* end)
{
    return RecordCarver(RecordCarver::Kind::AndroidWithHeader, g_store)
        .Carve(recordLength, position, record, end);
}

bool CarveIphoneRecord(MessageRecord* record, const std::uint8_t* position,
                       std::int32_t& recordLength, const std::uint8_t* end)
{
    return RecordCarver(RecordCarver::Kind::Iphone, g_store).Carve(recordLength, position, record, end);
}
