// Deep record recognition: shapes, column rules, value checks and overflow chains.
#include "recovery/DeepRecords.h"

#include <algorithm>
#include <array>
#include <set>
#include <string_view>

#include "store/AttributedText.h"
#include "store/Charsets.h"
#include "store/TimeText.h"

namespace {

constexpr int kBadTextBytes = 3;  // a text may have this many bytes that no text has

// Content bytes of a serial type in full width (the carvers' SerialContentLength keeps 32 bits,
// as their rules ask); 10 and 11 are reserved and no column accepts them.
std::uint64_t ContentLength(std::uint64_t serialType)
{
    static constexpr std::uint8_t kSmall[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, 0, 0};
    if (serialType < 12) return kSmall[serialType];
    return (serialType - 12) / 2;
}

// The integer a serial type and its content stand for (0 for NULL, texts and blobs).
std::int64_t IntegerValue(std::uint64_t serialType, const std::uint8_t* content)
{
    if (serialType == 8) return 0;
    if (serialType == 9) return 1;
    if (serialType < 1 || serialType > 6) return 0;
    const std::uint64_t length = ContentLength(serialType);
    std::uint64_t value = content[0] & 0x80 ? ~std::uint64_t{0} : 0;  // sign extension
    for (std::uint64_t b = 0; b < length; ++b) value = (value << 8) | content[b];
    return static_cast<std::int64_t>(value);
}

// Bytes that no message text holds: malformed UTF-8 and control characters other than tab,
// line feed and carriage return. A text cut short by a broken overflow chain is first trimmed
// to its last whole character.
int BadTextBytes(std::string_view& text, bool cut)
{
    if (cut) {
        std::size_t end = text.size();
        std::size_t back = 0;
        while (end > 0 && back < 4 && (static_cast<unsigned char>(text[end - 1]) & 0xC0) == 0x80) --end, ++back;
        if (end > 0 && static_cast<unsigned char>(text[end - 1]) >= 0xC0) {
            const auto lead = static_cast<unsigned char>(text[end - 1]);
            const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            if (back + 1 < need) text = text.substr(0, end - 1);
        }
    }
    if (IsPlainUtf8Text(text)) return 0;  // nearly every text: one pass
    int bad = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') ++bad;
    }
    if (!IsValidUtf8(text)) {
        // Each replacement character stands for at least one malformed byte (a text that held
        // U+FFFD itself counts it too: it is rare enough not to matter).
        const std::string checked = Utf8ToAnsiString(text);
        std::size_t at = 0;
        while ((at = checked.find("\xEF\xBF\xBD", at)) != std::string::npos) ++bad, at += 3;
    }
    return bad;
}

}  // namespace

LiveRows::LiveRows(const MessageStore& store, std::optional<bool> mms)
{
    const bool android = store.currentReader == nullptr || store.currentReader->m_deviceKind != kDeviceIphone;
    m_rows.reserve(static_cast<std::size_t>(store.liveMessageCount));
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        if (mms && android && (m.kind == MessageKind::Mms) != *mms) continue;
        if (m.rowId != 0) m_rows.push_back({m.rowId, m.time, static_cast<std::uint32_t>(i)});
    }
    std::sort(m_rows.begin(), m_rows.end());
}

bool LiveRows::Same(std::int64_t rowId, std::int64_t time) const
{
    const auto found = std::lower_bound(m_rows.begin(), m_rows.end(), Row{rowId, time, 0});
    return found != m_rows.end() && found->rowId == rowId && found->time == time;
}

std::span<const LiveRows::Row> LiveRows::WithRowId(std::int64_t rowId) const
{
    const auto [first, last] = std::equal_range(m_rows.begin(), m_rows.end(), Row{rowId, 0, 0},
                                                [](const Row& a, const Row& b) { return a.rowId < b.rowId; });
    return {first, last};
}

DeepDecoder::DeepDecoder(const MessageStore& store, const LiveRows* live) : m_live(live)
{
    m_kind = store.currentReader && store.currentReader->m_deviceKind == kDeviceIphone ? kDeviceIphone : kDeviceAndroid;
    const auto columns = static_cast<std::size_t>(std::min(store.columnCount, kColumnCapacity));
    Plan(std::span(store.columnNames).first(columns), std::span(store.columnTypes).first(columns));
}

DeepDecoder::DeepDecoder(DeviceKind kind, std::span<const std::string> names, std::span<const std::string> types,
                         const LiveRows* live)
    : m_live(live), m_kind(kind)
{
    Plan(names, types);
}

DeepDecoder::DeepDecoder(DeviceKind kind, CarvedTable table, std::span<const std::string> names,
                         std::span<const std::string> types, bool rowIdAlias, const LiveRows* live)
    : m_live(live), m_kind(kind), m_table(table), m_rowIdAlias(rowIdAlias)
{
    Plan(names, types);
}

void DeepDecoder::Plan(std::span<const std::string> names, std::span<const std::string> types)
{
    m_columns = static_cast<std::int32_t>(std::min(names.size(), types.size()));
    m_layout = m_table == CarvedTable::Messages ? MessageTableOf(m_kind, names) : m_table;
    m_plan.assign(static_cast<std::size_t>(m_columns), Column{});
    std::int32_t lastEssential = 0;
    for (std::int32_t i = 0; i < m_columns; ++i) {
        const std::string& type = types[static_cast<std::size_t>(i)];
        Column& c = m_plan[static_cast<std::size_t>(i)];
        if (type == "INTEGER") {
            for (int s = 0; s <= 9; ++s) c.accepts |= std::uint64_t{1} << s;
        } else if (type == "TEXT") {
            c.accepts = 1;  // NULL
            c.largeText = true;
            c.text = true;
        } else if (type == "BLOB") {
            c.accepts = 1;
            c.largeBlob = true;
        } else {
            for (int s = 0; s <= 9; ++s) c.accepts |= std::uint64_t{1} << s;
            c.largeText = c.largeBlob = true;
        }
        const PhoneColumn* meaning = PhoneColumnNamed(m_kind, names[static_cast<std::size_t>(i)], m_layout);
        if (meaning == nullptr) continue;
        const bool integer = type == "INTEGER";
        // Integer meanings hold only for a column declared INTEGER; texts by their name alone.
        const Field f = meaning->field;
        const bool integerField = f == Field::Date || f == Field::Type || f == Field::IsFromMe ||
                                  f == Field::HandleId || f == Field::ThreadId || f == Field::DateSeconds ||
                                  f == Field::MessageId || f == Field::ChatId || f == Field::Sequence ||
                                  f == Field::Box || f == Field::MmsType || f == Field::SubjectCharset ||
                                  f == Field::Size || f == Field::LegacyFlags || f == Field::MadridFlags ||
                                  f == Field::IsMadrid;
        if (!integerField || integer) {
            c.field = f;
            if (meaning->essential) lastEssential = std::max(lastEssential, i);
        }
        // A value the row always has: NULL is no such row.
        if (meaning->check == Check::NotNull) c.accepts &= ~std::uint64_t{1};
        if (integer) {
            if (meaning->deepTypes != 0) c.accepts = meaning->deepTypes;
            c.check = meaning->check;
            if (f == Field::Date || f == Field::DateSeconds) m_dateColumn = i;
        }
    }
    m_minColumns = std::max(2, lastEssential + 1);
    // A header size counts itself and one byte at least per serial type.
    for (int b = 0; b < 256; ++b) {
        m_headerStart[b] = b >= 0x80 || (b >= m_minColumns + 1 && b <= m_columns * 9 + 1);
    }
    const std::span<const std::int32_t> known = KnownColumnCounts(m_kind, m_layout);
    m_counts.clear();
    AddColumnCounts(known);
    if (m_columns > 0) AddColumnCounts(std::span<const std::int32_t>(&m_columns, 1));
}

void DeepDecoder::AddColumnCounts(std::span<const std::int32_t> counts)
{
    for (const std::int32_t count : counts) {
        if (count < m_minColumns || count > m_columns) continue;
        if (std::find(m_counts.begin(), m_counts.end(), count) == m_counts.end()) m_counts.push_back(count);
    }
    std::sort(m_counts.begin(), m_counts.end());
}

bool DeepDecoder::Accepts(const Column& column, std::uint64_t serialType) const
{
    if (serialType < 64 && ((column.accepts >> serialType) & 1) != 0) return true;
    if (serialType < 12) return false;
    return (serialType & 1) != 0 ? column.largeText : column.largeBlob;
}

std::optional<DecodedRecord> DeepDecoder::TryCell(const Area& area, std::uint32_t offset) const
{
    const ByteView page = area.bytes;
    const ByteView::Varint payload = page.VarintAt(offset);
    if (payload.length == 0 || payload.value < 2 || payload.value > (1u << 30)) return std::nullopt;
    const ByteView::Varint rowId = page.VarintAt(offset + payload.length);
    if (rowId.length == 0 || rowId.value == 0 || rowId.value > (std::uint64_t{1} << 62)) return std::nullopt;
    const std::uint64_t start = std::uint64_t{offset} + payload.length + rowId.length;
    if (!CanBeHeaderSize(page.U8(start))) return std::nullopt;
    const ByteView::Varint header = page.VarintAt(start);
    // Column 0 (the row id's alias) is stored as NULL: the first serial type is 0.
    if (header.length == 0 || header.length > 2 || (m_rowIdAlias && page.U8(start + header.length) != 0)) {
        return std::nullopt;
    }
    return Decode(area, static_cast<std::int64_t>(start), start + header.length, header.value, payload.value,
                  static_cast<std::int64_t>(rowId.value));
}

std::optional<DecodedRecord> DeepDecoder::TryRecord(const Area& area, std::uint32_t offset) const
{
    if (!CanBeHeaderSize(area.bytes.U8(offset))) return std::nullopt;
    const ByteView::Varint header = area.bytes.VarintAt(offset);
    if (header.length == 0 || header.length > 2 || (m_rowIdAlias && area.bytes.U8(offset + header.length) != 0)) {
        return std::nullopt;
    }
    return Decode(area, offset, std::uint64_t{offset} + header.length, header.value, 0, 0);
}

std::optional<DecodedRecord> DeepDecoder::TryTypes(const Area& area, std::uint32_t offset) const
{
    if (m_rowIdAlias && area.bytes.U8(offset) != 0) return std::nullopt;
    return TryCounts(area, offset, false);
}

std::optional<DecodedRecord> DeepDecoder::TryFreedCell(const Area& area, std::uint32_t offset) const
{
    // The four bytes before are a freeblock header: [next freeblock 2][size 2], the block
    // within the page and the next one (if any) on the page too.
    if (offset < 4) return std::nullopt;
    const std::uint32_t block = offset - 4;
    const std::uint32_t next = area.bytes.U16(block), size = area.bytes.U16(block + 2);
    if (size < 4 || block + size > area.limit || (next != 0 && (next <= block || next >= area.limit))) {
        return std::nullopt;
    }
    // A row id's NULL stood in the overwritten byte; a key column's type is any it can have,
    // when exactly one of them gives a record.
    if (m_rowIdAlias) return TryCounts(area, offset, true);
    std::optional<DecodedRecord> found;
    for (std::uint8_t s = 1; s <= 9; ++s) {
        if (((m_plan[0].accepts >> s) & 1) == 0) continue;
        std::optional<DecodedRecord> record = TryCounts(area, offset, true, s);
        if (!record) continue;
        if (found) return std::nullopt;
        found = std::move(record);
    }
    return found;
}

std::optional<DecodedRecord> DeepDecoder::TryCounts(const Area& area, std::uint32_t offset, bool firstLost,
                                                    std::uint8_t firstType) const
{
    const std::int32_t reach = AcceptedTypes(area, offset, firstLost);
    // Nearly every start: no count's serial types are all accepted. Said before any room for
    // a record is made, which costs more than the reading.
    if (m_counts.empty() || std::min(m_counts.front(), m_columns) > reach) return std::nullopt;
    return TryCountsWithin(area, offset, firstLost, firstType, reach);
}

std::optional<DecodedRecord> DeepDecoder::TryCountsWithin(const Area& area, std::uint32_t offset, bool firstLost,
                                                          std::uint8_t firstType, std::int32_t reach) const
{
    // A record that two counts read alike is not one this table can vouch for.
    std::optional<DecodedRecord> found;
    for (const std::int32_t count : m_counts) {
        if (std::min(count, m_columns) > reach) break;  // the counts are ascending
        std::optional<DecodedRecord> record = Decode(area, -1, offset, 0, 0, 0, {count, firstLost, firstType});
        if (!record) continue;
        if (found) return std::nullopt;
        found = std::move(record);
    }
    return found;
}

std::int32_t DeepDecoder::AcceptedTypes(const Area& area, std::uint32_t offset, bool firstLost) const
{
    // The headerless reading of ReadLayout, once for every count: each reads a prefix of these.
    const ByteView page = area.bytes;
    const std::uint32_t limit = std::min<std::uint32_t>(area.limit, static_cast<std::uint32_t>(page.Size()));
    std::int32_t count = firstLost ? 1 : 0;
    for (std::uint64_t cursor = offset; count < m_columns; ++count) {
        const ByteView::Varint v = page.VarintAt(cursor);
        if (v.length == 0 || cursor + v.length > limit) break;
        const bool rowIdNull = count == 0 && m_rowIdAlias;
        if (rowIdNull ? v.value != 0 : !Accepts(m_plan[static_cast<std::size_t>(count)], v.value)) break;
        cursor += v.length;
    }
    return count;
}

bool DeepDecoder::ReadLayout(const Area& area, std::int64_t payloadStart, std::uint64_t typesStart,
                             std::uint64_t headerSize, Headerless headerless, Layout& layout) const
{
    const ByteView page = area.bytes;
    const std::uint32_t limit = std::min<std::uint32_t>(area.limit, static_cast<std::uint32_t>(page.Size()));
    layout.count = 0;
    if (headerSize == 0 && headerless.firstLost) layout.types[static_cast<std::size_t>(layout.count++)] = headerless.firstType;
    const std::int32_t wanted = headerSize != 0 ? m_columns : std::min(headerless.count, m_columns);
    std::uint64_t cursor = typesStart;
    const std::uint64_t headerEnd = headerSize != 0 ? static_cast<std::uint64_t>(payloadStart) + headerSize : 0;
    while (headerSize != 0 ? cursor < headerEnd : layout.count < wanted) {
        if (layout.count >= m_columns) return false;  // more serial types than columns
        const ByteView::Varint v = page.VarintAt(cursor);
        if (v.length == 0 || cursor + v.length > limit) return false;
        const std::uint64_t s = v.value;
        const bool rowIdNull = layout.count == 0 && m_rowIdAlias;
        if (rowIdNull ? s != 0 : !Accepts(m_plan[static_cast<std::size_t>(layout.count)], s)) return false;
        layout.types[static_cast<std::size_t>(layout.count++)] = s;
        cursor += v.length;
    }
    if (headerSize != 0 && (cursor != headerEnd || layout.count < m_minColumns)) return false;
    if (headerSize == 0) {
        // The header size is lost: it counted itself (one byte, or two past 127), and the
        // serial types (with column 0's one byte when it was overwritten too).
        const std::uint64_t read = cursor - typesStart;
        const std::uint64_t typeBytes = read + (headerless.firstLost ? 1 : 0);
        headerSize = typeBytes + (typeBytes + 1 <= 127 ? 1 : 2);
        payloadStart = static_cast<std::int64_t>(typesStart) - static_cast<std::int64_t>(headerSize - read);
        if (payloadStart < 0) return false;
    }
    layout.headerSize = headerSize;
    layout.start = static_cast<std::uint64_t>(payloadStart);
    layout.payloadSize = headerSize;
    for (std::int32_t i = 0; i < layout.count; ++i) layout.payloadSize += ContentLength(layout.types[static_cast<std::size_t>(i)]);
    if (layout.payloadSize > (1u << 30)) return false;
    layout.local = LocalPayloadSize(layout.payloadSize, area.usable);
    const bool spills = layout.local != layout.payloadSize;
    if (layout.start + layout.local + (spills ? 4 : 0) > limit) return false;
    return true;
}

std::string_view DeepDecoder::JoinPayload(const Area& area, const Layout& layout, std::string& joined, bool& truncated)
{
    const std::string_view payload = area.bytes.Text(layout.start, layout.local);
    truncated = false;
    if (layout.local == layout.payloadSize) return payload;
    joined.assign(payload);
    truncated = !FollowOverflow(area, layout, &joined);
    return joined;
}

bool DeepDecoder::FollowOverflow(const Area& area, const Layout& layout, std::string* joined)
{
    std::uint32_t next = area.bytes.U32(layout.start + layout.local);
    std::uint64_t remaining = layout.payloadSize - layout.local;
    std::set<std::uint32_t> visited;
    std::vector<std::uint8_t> scratch;
    while (remaining > 0) {
        const ByteView overflowPage = area.overflow != nullptr && next != 0 ? area.overflow->Page(next, scratch) : ByteView{};
        if (overflowPage.Size() < 8 || !visited.insert(next).second) return false;
        const std::uint64_t take =
            std::min<std::uint64_t>(remaining, std::min<std::uint64_t>(area.usable, overflowPage.Size()) - 4);
        const std::uint32_t following = overflowPage.U32(0);
        if (joined != nullptr) joined->append(overflowPage.Text(4, take));
        // A page with more to come must name the next one; the last names none.
        if (remaining > take && following == 0) return false;
        remaining -= take;
        next = following;
    }
    return true;
}

bool DeepDecoder::LiveAsItStands(const Layout& layout, std::string_view payload, std::int64_t rowId) const
{
    if (m_live == nullptr || rowId == 0 || m_dateColumn < 0 || m_dateColumn >= layout.count) return false;
    std::uint64_t at = layout.headerSize;
    for (std::int32_t i = 0; i < m_dateColumn; ++i) at += ContentLength(layout.types[static_cast<std::size_t>(i)]);
    const std::uint64_t s = layout.types[static_cast<std::size_t>(m_dateColumn)];
    if (at + ContentLength(s) > payload.size() || s < 1 || s > 6) return false;
    const std::int64_t value = IntegerValue(s, reinterpret_cast<const std::uint8_t*>(payload.data() + at));
    const std::int64_t time = TimeOf(m_plan[static_cast<std::size_t>(m_dateColumn)].field, value);
    // The oldest iPhones keep an SMS's date since 1970.
    if (m_layout == CarvedTable::LegacyMessages && m_live->Same(rowId, LegacySmsSecondsSince2001(time))) return true;
    return m_live->Same(rowId, time);
}

std::int64_t DeepDecoder::TimeOf(Field field, std::int64_t value) const
{
    if (m_kind == kDeviceIphone) return IphoneSecondsSince2001(value);
    return field == Field::DateSeconds ? MmsDateMilliseconds(value) : AndroidMilliseconds(value);
}

bool DeepDecoder::Plausible(const Column& column, std::uint64_t s, std::int64_t value) const
{
    const bool integer = s >= 1 && s <= 9 && s != 7;
    const Check check = column.check;
    switch (check) {
    case Check::None: return true;
    case Check::DateRequired:
    case Check::DateOrZero: {
        if (!integer) return check == Check::DateOrZero && s == 0;
        if (check == Check::DateOrZero && value == 0) return true;
        return WithinPhoneYears(m_kind, TimeOf(column.field, value));
    }
    case Check::Positive: return integer && value > 0;
    case Check::NonNegative: return s == 0 || (integer && value >= 0);
    case Check::ZeroOrOne: return s == 0 || (integer && (value == 0 || value == 1));
    case Check::SmallCode: return s == 0 || (integer && value >= 0 && value <= 10);
    case Check::MmsCode: return integer && value >= 128 && value <= 151;
    case Check::PartSeq: return s == 0 || (integer && value >= -1 && value <= 999);
    case Check::FileSize: return s == 0 || (integer && value >= 0 && value <= (std::int64_t{16} << 30));
    case Check::NotNull: return s != 0;
    }
    return true;
}

bool DeepDecoder::ReadColumns(const Layout& layout, std::string_view payload, bool truncated, int badAllowed, Fields& fields,
                              DecodedRecord& record) const
{
    std::uint64_t offset = layout.headerSize;
    for (std::int32_t i = 0; i < layout.count; ++i) {
        const Column& column = m_plan[static_cast<std::size_t>(i)];
        const std::uint64_t s = layout.types[static_cast<std::size_t>(i)];
        const std::uint64_t length = ContentLength(s);
        const bool whole = offset + length <= payload.size();
        const std::string_view content = offset < payload.size() ? payload.substr(offset, length) : std::string_view{};
        offset += length;
        if (!whole && !truncated) return false;
        const bool isText = s >= 13 && (s & 1) != 0;
        if (isText && column.text) {
            std::string_view text = content;
            const int bad = BadTextBytes(text, !whole);
            if (bad > badAllowed) return false;
            if (column.field == Field::Body) fields.bodyPlain = bad == 0 && whole && text.size() == content.size();
        }
        if (!whole) {
            // The rest of the record was on the lost pages: keep what the body has.
            if (column.field == Field::Body && isText) fields.body = content;
            continue;
        }
        const std::int64_t value =
            isText || (s >= 12 && (s & 1) == 0) ? 0 : IntegerValue(s, reinterpret_cast<const std::uint8_t*>(content.data()));
        if (!Plausible(column, s, value)) return false;
        switch (column.field) {
        case Field::None: break;
        case Field::Body:
            if (isText) fields.body = content.substr(0, content.find('\0'));
            break;
        case Field::Address:
            if (isText) fields.address = content.substr(0, content.find('\0'));
            break;
        case Field::AttributedBody:
            if (s >= 12 && (s & 1) == 0) fields.archived = content;
            break;
        case Field::Guid:
            if (isText) fields.guid = content;
            break;
        case Field::Service:
            if (isText) fields.service = content.substr(0, content.find('\0'));
            break;
        case Field::Date:
        case Field::DateSeconds:
            record.time = TimeOf(column.field, value);
            fields.hasDate = fields.hasDate || s != 0;
            break;
        case Field::Type: record.fromMe = value == 1 ? 0 : 1; break;
        case Field::ThreadId: record.threadId = value; break;
        case Field::IsFromMe: record.fromMe = value != 0 ? 1 : 0; break;
        case Field::HandleId: record.address = s == 0 ? "" : std::to_string(value); break;
        case Field::MadridHandle:
            if (isText) fields.madridHandle = content.substr(0, content.find('\0'));
            break;
        case Field::LegacyFlags: fields.flags = value; break;
        case Field::MadridFlags: fields.madridFlags = value; break;
        case Field::IsMadrid: fields.madrid = value == 1; break;
        default: ReadPartField(column.field, s, isText ? content : std::string_view{}, value, fields, record); break;
        }
    }
    return true;
}

void DeepDecoder::ReadPartField(Field field, std::uint64_t s, std::string_view content, std::int64_t value,
                                Fields& fields, DecodedRecord& record)
{
    const std::string_view text = content.substr(0, content.find('\0'));
    switch (field) {
    case Field::MessageId: record.messageId = value; break;
    case Field::ChatId: record.chatId = value; break;
    case Field::Sequence: record.sequence = value; break;
    case Field::Box: record.box = static_cast<std::int32_t>(value); break;
    case Field::MmsType: record.mmsType = static_cast<std::int32_t>(value); break;
    case Field::Size: record.size = s == 0 ? -1 : value; break;
    case Field::SubjectCharset:
        if (s != 0) fields.subjectCharset = value;
        break;
    case Field::ContentType: fields.mime = text; break;
    case Field::Name:
        if (fields.name.empty()) fields.name = text;
        break;
    case Field::FallbackName: fields.fallbackName = text; break;
    case Field::StoredPath: fields.file = text; break;
    case Field::Subject: fields.subject = content; break;
    default: break;
    }
}

namespace {

// A MIME type as parts and files carry it: "type/subtype", printable ASCII without spaces.
bool LooksLikeMimeType(std::string_view type)
{
    const std::size_t slash = type.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash + 1 == type.size() || type.size() > 127) return false;
    return std::all_of(type.begin(), type.end(), [](char c) { return c > ' ' && c < 0x7F; });
}

}  // namespace

bool DeepDecoder::CompletePart(const Fields& fields, bool truncated, DecodedRecord& record) const
{
    const std::string_view name = fields.name.empty() ? fields.fallbackName : fields.name;
    if (!fields.mime.empty() || !name.empty() || !fields.file.empty()) {
        PartTexts& texts = record.texts.Edit();
        texts.mime = Utf8ToAnsiString(fields.mime);
        texts.name = Utf8ToAnsiString(name);
        texts.file = Utf8ToAnsiString(fields.file);
    }
    const PartTexts& texts = *record.texts;
    switch (m_table) {
    case CarvedTable::Messages:
    case CarvedTable::LegacyMessages: break;
    case CarvedTable::MmsMessages:
        // Sent, received and not yet downloaded messages; reports are no messages.
        if (!fields.hasDate || (record.mmsType != 128 && record.mmsType != 130 && record.mmsType != 132)) return false;
        record.fromMe = record.mmsType == 128 ? 1 : 0;
        if (!fields.subject.empty()) record.texts.Edit().subject = DecodeWidenedHeader(fields.subject, fields.subjectCharset);
        return true;
    case CarvedTable::MmsParts: {
        // The layout part is not content; a text part's text is its content.
        if (record.messageId <= 0 || !LooksLikeMimeType(fields.mime) || AsciiLower(texts.mime) == "application/smil") {
            return false;
        }
        std::string_view text = fields.body;
        if (truncated) BadTextBytes(text, true);
        record.body = Utf8ToAnsiString(text);
        return !record.body.empty() || !texts.name.empty() || !texts.file.empty();
    }
    case CarvedTable::Attachments:
        // Without the name it was sent under, the file's own (as the live list names it).
        if (texts.name.empty() && !texts.file.empty()) {
            record.texts.Edit().name = texts.file.substr(texts.file.find_last_of('/') + 1);
        }
        return !fields.guid.empty() && (!record.texts->name.empty() || !record.texts->file.empty()) &&
               (fields.mime.empty() || LooksLikeMimeType(fields.mime));
    case CarvedTable::RecoverableParts: {
        if (record.messageId <= 0 || !fields.hasDate || fields.archived.empty()) return false;
        const std::string_view text =
            AttributedBodyView({reinterpret_cast<const std::uint8_t*>(fields.archived.data()), fields.archived.size()});
        record.body = Utf8ToAnsiString(text);
        return !record.body.empty();
    }
    }
    return false;
}

bool DeepDecoder::CompleteLegacy(const Fields& fields, DecodedRecord& record)
{
    record.kind = fields.madrid ? MessageKind::IMessage : MessageKind::Sms;
    record.address = Utf8ToAnsiString(fields.madrid ? fields.madridHandle : fields.address);
    record.fromMe = fields.madrid ? ((fields.madridFlags & 4) != 0 ? 1 : 0) : ((fields.flags & 1) != 0 ? 1 : 0);
    if (!fields.madrid && fields.hasDate) record.time = LegacySmsSecondsSince2001(record.time);
    return !record.body.empty() || !record.address.empty();
}

std::optional<DecodedRecord> DeepDecoder::Decode(const Area& area, std::int64_t payloadStart, std::uint64_t typesStart,
                                                 std::uint64_t headerSize, std::uint64_t expectedPayload,
                                                 std::int64_t rowId, Headerless headerless) const
{
    if (m_columns == 0 || area.usable < 512) return std::nullopt;
    Layout layout;
    if (!ReadLayout(area, payloadStart, typesStart, headerSize, headerless, layout)) return std::nullopt;
    if (expectedPayload != 0 && layout.payloadSize != expectedPayload) return std::nullopt;
    // A live row as it stands is nearly always told by its local bytes: its overflow pages
    // are then followed, to know the chain whole, but not copied.
    if (layout.local != layout.payloadSize && LiveAsItStands(layout, area.bytes.Text(layout.start, layout.local), rowId) &&
        FollowOverflow(area, layout, nullptr)) {
        return std::nullopt;
    }
    std::string joined;  // the payload, when overflow pages continue it
    bool truncated = false;
    const std::string_view payload = JoinPayload(area, layout, joined, truncated);
    // A cell that is a live row as it stands: its texts need not be read.
    if (!truncated && LiveAsItStands(layout, payload, rowId)) return std::nullopt;

    DecodedRecord record;
    record.rowId = rowId;
    record.truncated = truncated;
    record.payloadOffset = static_cast<std::uint32_t>(layout.start);
    record.localLength = static_cast<std::uint32_t>(layout.local + (layout.local != layout.payloadSize ? 4 : 0));
    record.table = m_table;
    Fields fields;
    // Bytes whose record header is lost are a record only when every text is whole text: the
    // bytes of a cell partly written over may pass every column's rule otherwise.
    const int badAllowed = headerless.count != 0 ? 0 : kBadTextBytes;
    if (!ReadColumns(layout, payload, truncated, badAllowed, fields, record)) return std::nullopt;
    if (m_table != CarvedTable::Messages) {
        if (!CompletePart(fields, truncated, record)) return std::nullopt;
        return record;
    }
    if (!fields.hasDate && !truncated) return std::nullopt;
    // The first part of a long record with neither its time nor any text tells nothing.
    if (!fields.hasDate && fields.body.empty() && fields.archived.empty()) return std::nullopt;
    std::string_view body = fields.body;
    if (body.empty() && !fields.archived.empty()) {
        body = AttributedBodyView({reinterpret_cast<const std::uint8_t*>(fields.archived.data()), fields.archived.size()});
    }
    if (truncated && !body.empty()) BadTextBytes(body, true);  // trims a character cut in half
    const bool checked = fields.bodyPlain && body.data() == fields.body.data() && body.size() == fields.body.size();
    record.body = checked ? std::string(body) : Utf8ToAnsiString(body);
    if (m_layout == CarvedTable::LegacyMessages) {
        if (!CompleteLegacy(fields, record)) return std::nullopt;
    } else if (m_kind == kDeviceIphone) {
        // Every row has its globally unique id; a record without one is not a row.
        if (fields.guid.empty() && !truncated) return std::nullopt;
        if (!fields.service.empty()) record.kind = ServiceKindNamed(fields.service);
    } else {
        record.address = Utf8ToAnsiString(fields.address);
        record.chinaPrefix = StripChinaPrefix(record.address);
        if (record.body.empty() && record.address.empty()) return std::nullopt;
    }
    return record;
}
