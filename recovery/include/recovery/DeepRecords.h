// Recognising message records by their whole structure, for the deep recovery: every column
// decoded and checked against what the column can hold, rows of the table's earlier, shorter
// form, two-byte header sizes, and bodies continued on overflow pages.
//
// A record may be met in four shapes:
//   a whole cell      [payload size][row id][header size][serial types][contents]
//   a record          [header size][serial types][contents]  (the cell's first bytes lost)
//   serial types only [serial types][contents]               (the header size lost too)
//   a freed small cell [freeblock header 4][serial types from column 1][contents]
// When a cell is freed, SQLite writes the freeblock header over its first four bytes. With a
// payload size, a row id and a header size of one byte each, that takes the first serial type
// too; it is always 0 (column 0 is the row id's alias, stored as NULL), so the record is read
// from its second serial type on. The first two shapes know how many columns the record has
// (the header size says where the serial types end), so a row written before columns were
// added is read with the missing trailing columns NULL. The last two try the column counts
// the table is known to have had and those its own records show, and keep a record only when
// exactly one count gives one that passes every check; they are never shifted.
#pragma once

#include <cstdint>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "recovery/PhoneColumns.h"
#include "recovery/SqliteFiles.h"
#include "store/MessageStore.h"

// Finds the pages an overflow chain names, within the file image the record came from.
class OverflowPages {
public:
    virtual ~OverflowPages() = default;
    // The bytes of page `number` (empty when the image holds no such page). They may be read
    // into `scratch`, which the view then points into, until the next call with it.
    virtual ByteView Page(std::uint32_t number, std::vector<std::uint8_t>& scratch) const = 0;
};

// The texts only part-table records have: a file's type, name and stored path, an MMS's
// subject.
struct PartTexts {
    std::string mime, name, file, subject;
    bool operator==(const PartTexts&) const = default;
};

struct DecodedRecord {
    CarvedTable table = CarvedTable::Messages;  // the table whose record this is
    std::int64_t rowId = 0;  // 0 when the cell's row id was not readable
    std::int64_t time = 0;   // Android: ms since 1970; iPhone: seconds since 2001 (0: none)
    std::int64_t threadId = 0;  // Android: thread_id; 0 when unknown
    std::string body;        // checked UTF-8
    std::string address;     // Android: the number ("+86" removed); iPhone: the handle id
    bool chinaPrefix = false;  // Android: the stored number began with "+86"
    MessageKind kind = MessageKind::Sms;  // iPhone: by its service
    std::int32_t fromMe = 0;
    bool truncated = false;  // the overflow chain broke: `body` is the part that was read
    std::uint32_t payloadOffset = 0;  // the record's header-size byte, from the page start
    std::uint32_t localLength = 0;    // record bytes on the page (with an overflow pointer)
    // Records of the part tables: the message a part belongs to, its chat (a set-aside text),
    // its place among the message's parts; an MMS's type and box codes; a file's type, name,
    // stored path and size; an MMS's subject.
    std::int64_t messageId = 0, chatId = 0, sequence = 0;
    std::int32_t mmsType = 0, box = 0;
    Boxed<PartTexts> texts;  // (none for a message-table record: its find stays small)
    std::int64_t size = -1;  // -1: not stated
};

// The live rows by row id, to tell quickly that a cell is a live row as it stands.
class LiveRows {
public:
    // The live messages of every kind; or, with `mms`, only (true) or all but (false) the
    // Android MMS, whose row ids are those of another table.
    explicit LiveRows(const MessageStore& store, std::optional<bool> mms = std::nullopt);

    struct Row {
        std::int64_t rowId;
        std::int64_t time;
        std::uint32_t index;  // in the store's live list
        auto operator<=>(const Row&) const = default;
    };
    // Whether the live row `rowId` has the time `time`.
    bool Same(std::int64_t rowId, std::int64_t time) const;
    // The live rows with this row id (more than one only in a table without unique ids).
    std::span<const Row> WithRowId(std::int64_t rowId) const;

private:
    std::vector<Row> m_rows;  // by row id, then time
};

// Tells the finds of a table that the live rows already hold (copies of them included).
class HeldByLive {
public:
    virtual ~HeldByLive() = default;
    virtual bool Holds(const DecodedRecord& record) const = 0;
};

class DeepDecoder {
public:
    // Plans the columns of the store's message table (schema, device kind). With `live`,
    // cells that are live rows as they stand (their row id and time those of a live message)
    // are passed over without decoding their texts.
    explicit DeepDecoder(const MessageStore& store, const LiveRows* live = nullptr);
    // The same for a schema given as names (lower-case) and declared types (upper-case).
    DeepDecoder(DeviceKind kind, std::span<const std::string> names, std::span<const std::string> types,
                const LiveRows* live = nullptr);
    // For another table of the phone; `rowIdAlias` when its column 0 is the row id (stored as
    // NULL in every record).
    DeepDecoder(DeviceKind kind, CarvedTable table, std::span<const std::string> names,
                std::span<const std::string> types, bool rowIdAlias, const LiveRows* live = nullptr);
    CarvedTable Table() const { return m_table; }
    // Finds that `held` says the live rows hold are left out where they are found.
    void LeaveOutHeld(const HeldByLive* held) { m_held = held; }
    bool Held(const DecodedRecord& record) const { return m_held != nullptr && m_held->Holds(record); }

    bool Usable() const { return m_columns > 0; }
    std::int32_t Columns() const { return m_columns; }
    // Adds column counts that records of this table were seen with (counts outside what a
    // message record can have are ignored); the header-less shapes try them too.
    void AddColumnCounts(std::span<const std::int32_t> counts);
    // The smallest number of columns a message record has (its essential columns).
    std::int32_t MinColumns() const { return m_minColumns; }

    // Where a record may lie: the bytes of its page (or of a stretch of a file outside any
    // page), the end its local part must not pass, and the usable size of the database's
    // pages, which decides how much of a long payload stays local.
    struct Area {
        ByteView bytes;
        std::uint32_t limit = 0;
        std::uint32_t usable = 4096;
        const OverflowPages* overflow = nullptr;
    };

    // The three shapes at byte `offset` of the area. Each returns the record when the bytes
    // form one that passes every column's rules and value checks, else nothing. Nothing
    // outside the area's bytes (and the overflow pages) is read.
    std::optional<DecodedRecord> TryCell(const Area& area, std::uint32_t offset) const;
    std::optional<DecodedRecord> TryRecord(const Area& area, std::uint32_t offset) const;
    std::optional<DecodedRecord> TryTypes(const Area& area, std::uint32_t offset) const;
    // A freed cell whose freeblock header (the four bytes before `offset`) took its first
    // serial type: the serial types at `offset` start with column 1.
    std::optional<DecodedRecord> TryFreedCell(const Area& area, std::uint32_t offset) const;

    // Whether the byte can start a record header (a header size this table's records have).
    bool CanBeHeaderSize(std::uint8_t byte) const { return m_headerStart[byte]; }

private:
    using Field = ColumnField;
    using Check = ValueCheck;
    struct Column {
        std::uint64_t accepts = 0;  // bit s: serial type s (s < 64) is allowed
        bool largeText = false;     // odd serial types from 13 up (a text)
        bool largeBlob = false;     // even serial types from 12 up (a blob)
        bool text = false;          // declared TEXT: its bytes are checked as UTF-8
        Field field = Field::None;
        Check check = Check::None;
    };

    bool Accepts(const Column& column, std::uint64_t serialType) const;
    // Where a record's serial types are when its header size is lost: `count` of them, from
    // column 1 when `firstLost` (column 0's 0 was overwritten), else from column 0.
    struct Headerless {
        std::int32_t count;
        bool firstLost;
        std::uint8_t firstType = 0;  // the lost serial type taken for column 0
    };
    // Reads the record whose header-size byte is at `payloadStart` (when `headerSize` is 0 the
    // header size is unknown and the serial types start at `typesStart`, as `headerless` says).
    std::optional<DecodedRecord> Decode(const Area& area, std::int64_t payloadStart, std::uint64_t typesStart,
                                        std::uint64_t headerSize, std::uint64_t expectedPayload, std::int64_t rowId,
                                        Headerless headerless = {0, false, 0}) const;
    // A record's serial types and where its payload lies.
    struct Layout {
        std::array<std::uint64_t, kColumnCapacity> types;
        std::int32_t count = 0;
        std::uint64_t headerSize = 0, start = 0, payloadSize = 0, local = 0;
    };
    // The texts a record's columns gave, as views into its payload.
    struct Fields {
        std::string_view body, address, archived, guid, mime, name, fallbackName, file, subject, service;
        bool bodyPlain = false;  // the body column checked as plain UTF-8 text whole: copied as it is
        std::int64_t subjectCharset = 106;
        bool hasDate = false;
        // The oldest iPhones' table: an iMessage's partner, the SMS and iMessage flags.
        std::string_view madridHandle;
        std::int64_t flags = 0, madridFlags = 0;
        bool madrid = false;
    };
    // Reads the serial types (every one accepted by its column) into `layout` and places the
    // payload, whose local part must lie within the area; false when the bytes are no such
    // header. (An out-parameter: the layout is large, and most candidates fail here.)
    bool ReadLayout(const Area& area, std::int64_t payloadStart, std::uint64_t typesStart, std::uint64_t headerSize,
                    Headerless headerless, Layout& layout) const;
    // The whole payload: its local part, joined with its overflow pages into `joined` when it
    // spills; `truncated` when the chain broke (the part read is returned).
    static std::string_view JoinPayload(const Area& area, const Layout& layout, std::string& joined, bool& truncated);
    // Follows the overflow chain of a payload that spills, appending its pieces to `joined`
    // when given; false when the chain breaks before the payload's end.
    static bool FollowOverflow(const Area& area, const Layout& layout, std::string* joined);
    // Whether the cell is a live row as it stands (its row id and date those of a live one).
    bool LiveAsItStands(const Layout& layout, std::string_view payload, std::int64_t rowId) const;
    // Whether a column's value passes its check.
    bool Plausible(const Column& column, std::uint64_t serialType, std::int64_t value) const;
    // A date column's value as the store keeps times.
    std::int64_t TimeOf(Field field, std::int64_t value) const;
    // Keeps the numbers and texts of an integer or text column that the message does not take.
    static void ReadPartField(Field field, std::uint64_t serialType, std::string_view content, std::int64_t value,
                              Fields& fields, DecodedRecord& record);
    // A record of the oldest iPhones' table: its partner, direction, kind and time by whether
    // it is an iMessage; false when it names neither a text nor a partner.
    static bool CompleteLegacy(const Fields& fields, DecodedRecord& record);
    // The checks on a whole record of a part table, and its texts; false when it is none.
    bool CompletePart(const Fields& fields, bool truncated, DecodedRecord& record) const;
    // Checks every column and fills the record's numbers and the texts' views; false when a
    // column holds what it cannot, or a text more than `badAllowed` bytes no text has.
    bool ReadColumns(const Layout& layout, std::string_view payload, bool truncated, int badAllowed, Fields& fields,
                     DecodedRecord& record) const;
    // The header-less shapes at `offset`: the one column count that gives a record.
    // With `firstLost`, column 0's serial type is taken as `firstType`.
    std::optional<DecodedRecord> TryCounts(const Area& area, std::uint32_t offset, bool firstLost,
                                           std::uint8_t firstType = 0) const;
    // The same, once `reach` (AcceptedTypes) leaves a count that may fit.
    std::optional<DecodedRecord> TryCountsWithin(const Area& area, std::uint32_t offset, bool firstLost,
                                                 std::uint8_t firstType, std::int32_t reach) const;
    // How many serial types from `offset` on (after a lost first one) the columns accept in a
    // row, up to the widest count: a layout of more columns cannot be read there.
    std::int32_t AcceptedTypes(const Area& area, std::uint32_t offset, bool firstLost) const;
    void Plan(std::span<const std::string> names, std::span<const std::string> types);

    const LiveRows* m_live = nullptr;
    const HeldByLive* m_held = nullptr;
    DeviceKind m_kind = kDeviceAndroid;
    CarvedTable m_table = CarvedTable::Messages;
    CarvedTable m_layout = CarvedTable::Messages;  // whose column meanings apply (the oldest iPhones' for theirs)
    bool m_rowIdAlias = true;
    std::int32_t m_columns = 0;
    std::int32_t m_minColumns = 1;
    std::int32_t m_dateColumn = -1;
    std::vector<Column> m_plan;
    std::vector<std::int32_t> m_counts;  // column counts the header-less shapes try, ascending
    std::array<bool, 256> m_headerStart{};
};
