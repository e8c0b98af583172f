// Recognising message records of the sms (Android) and message (iPhone) tables at a byte
// position of a raw file image, guided by the column schema of the live table and what each
// column means (PhoneColumns.h).
//
// A table row is stored as an SQLite record:
//   offset  size  field
//   0       1..9  header size H (varint), counting itself
//   ...           one serial-type varint per column, in column order
//   H             the column contents, in column order (lengths from the serial types)
// A row of either table starts its serial types with 0: column 0 is the integer primary key,
// whose value lives in the cell header and is stored in the record as NULL. So a deleted row
// whose cell header was overwritten can still be found by its serial-type list.
//
// Example (Android, 3-column schema _id, address TEXT, type INTEGER): the bytes
//   04 | 00 25 09 | "13812345678"  decode as H=4, serial types 0 (NULL), 37 (text of 12 bytes),
//   9 (constant 1). The default carvers take the position of the 00 byte; the header-size
//   variant takes the position of the 04 byte.
//
// All carvers read nothing outside [position, end], where `end` points at the zero byte that the
// scans append after the file; a candidate with a negative content length, a serial-type list
// that runs past `end` or a record that does not fit is rejected.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "recovery/PhoneColumns.h"
#include "store/MessageRecords.h"
#include "store/MessageStore.h"

// The fields of a carved record as views into the image: nothing is converted or copied until
// FillRecord. A field whose column the schema does not have stays unset.
struct CarvedFields {
    std::string_view body;      // the body or text column, up to its first zero byte
    std::string_view address;   // Android: the address as stored, up to its first zero byte
    std::string_view archived;  // iPhone: the attributedBody blob
    std::int64_t time = 0;
    std::int32_t fromMe = 0;
    std::int32_t handle = 0;  // iPhone: handle_id (its low 32 bits)
    std::int64_t thread = 0;  // Android: thread_id
    bool hasBody = false, hasAddress = false, hasTime = false, hasFromMe = false, hasHandle = false;
    // The oldest iPhones' table: an iMessage's partner and the flags that tell direction and
    // kind; `address` is then kept as stored (it is the conversation's key).
    std::string_view madridHandle;
    std::int64_t flags = 0, madridFlags = 0;
    bool madrid = false, legacy = false;

    // The message text as the record gets it: the body, or when that is empty the text
    // archived in attributedBody (bytes as stored up to the first zero byte, not yet checked
    // as UTF-8).
    std::string_view BodyText() const;
    // Whether a phone could have written this: a time within the phone's years (Android
    // 1990-01-01 to 2100-01-01 in ms; iPhone 2007-01-01 to 2100-01-01 in s since 2001) and a
    // text of well-formed UTF-8 without control characters other than tab, line feed and
    // carriage return. Fragments that fail are left out of a recovery's finds.
    bool Plausible(bool iphone) const;
    // Sets the record's body, address, time and fromMe as the carvers always have: texts
    // checked as UTF-8, a leading "+86" removed from an Android address, a handle written in
    // decimal. Fields not set leave the record as it was.
    void FillRecord(MessageRecord& record) const;
};

// A schema turned into per-column rules, built once per scan.
class RecordCarver {
public:
    enum class Kind { Android, AndroidWithHeader, Iphone };

    // Plans the carver of `kind` from the store's column schema.
    RecordCarver(Kind kind, const MessageStore& store);

    // Whether the bytes at `position` (position <= end) begin a record. On acceptance stores
    // its length in `recordLength` and, when `record` is not null, fills the record's body,
    // fromMe, time and address. A rejected candidate leaves both outputs unchanged. The
    // verdict and the length do not depend on `record`.
    bool Carve(std::int32_t& recordLength, const std::uint8_t* position, MessageRecord* record,
               const std::uint8_t* end) const;
    // The same, with the fields as views into the image (when `fields` is not null).
    bool CarveFields(std::int32_t& recordLength, const std::uint8_t* position, CarvedFields* fields,
                     const std::uint8_t* end) const;

    Kind GetKind() const { return m_kind; }
    std::int32_t ColumnCount() const { return m_columnCount; }
    // Default variants: a candidate followed by at least this many zero bytes (itself
    // included) is always rejected; 0 when no run of zeros is ever rejected early.
    std::size_t ZeroRunRejected() const { return m_zeroRunRejected; }
    // Whether a byte can be the first byte of a candidate.
    bool CanStart(std::uint8_t byte) const { return m_canStart[byte]; }

private:
    bool CarveDefault(std::int32_t& recordLength, const std::uint8_t* position,
                      CarvedFields* record, const std::uint8_t* end) const;
    bool CarveWithHeader(std::int32_t& recordLength, const std::uint8_t* position,
                         CarvedFields* record, const std::uint8_t* end) const;
    void Extract(const std::uint8_t* body, const std::int32_t* serialTypes,
                 const std::int32_t* contentLengths, std::size_t available,
                 CarvedFields& record) const;
    // The oldest iPhones' record: partner, direction and time by whether it is an iMessage.
    static void CompleteLegacy(CarvedFields& record);

    Kind m_kind;
    std::int32_t m_columnCount = 0;
    // Whether column i accepts serial type s: bit s of m_accepts[i] for s < 64, else the rule.
    bool ColumnAccepts(std::int32_t i, std::int32_t s) const;

    std::array<ColumnRule, kColumnCapacity> m_rules{};
    std::array<std::uint64_t, kColumnCapacity> m_accepts{};
    std::array<ColumnField, kColumnCapacity> m_fields{};
    std::array<bool, 256> m_canStart{};
    std::size_t m_zeroRunRejected = 0;
    bool m_legacy = false;  // the message table of iOS 5 and earlier
};

// The carvers as single calls on the store's current schema (planned on every call: for
// tests and one-off use; the scans keep one RecordCarver for the whole file).
// CarveAndroidRecord hands over to CarveAndroidRecordWithHeader while alternateCarving is set.
bool CarveAndroidRecord(std::int32_t& recordLength, const std::uint8_t* position,
                        MessageRecord* record, const std::uint8_t* end);
bool CarveAndroidRecordWithHeader(std::int32_t& recordLength, const std::uint8_t* position,
                                  MessageRecord* record, const std::uint8_t* end);
bool CarveIphoneRecord(MessageRecord* record, const std::uint8_t* position,
                       std::int32_t& recordLength, const std::uint8_t* end);
