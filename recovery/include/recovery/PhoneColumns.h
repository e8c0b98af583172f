// What each column of the phones' message tables means, written once for every carver: the
// serial types the default carvers accept, those the deep decoder accepts, which field of a
// message it gives and how its value is checked. Columns a phone's table has that this table
// does not name are read by their declared type alone.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "store/MessageStore.h"

// Serial types a column accepts in the default carvers.
enum class ColumnRule : std::uint8_t {
    Unchecked,    // a declared type the carvers do not know
    AnyInteger,   // INTEGER: at most 9 (NULL, integers, float, constants 0 and 1)
    Text,         // TEXT: NULL or an odd value of 13 or more
    Blob,         // BLOB (iPhone only): NULL or an even value of 12 or more
    AndroidDate,  // INTEGER date, date_sent: 5 (6-byte integer) or 8 (constant 0)
    ThreadId,     // INTEGER thread_id: 1, 2, 3 or 9 (constant 1)
    IphoneDate,   // INTEGER date: exactly 4
    IphoneDateOrNanoseconds,  // INTEGER date of a nanosecond table: 4, or 6 (an 8-byte integer)
    Version,      // INTEGER version: not 0 and at most 4
};

// What a column gives to the message (or to the part or file record it belongs with).
enum class ColumnField : std::uint8_t {
    None, Address, Body, AttributedBody, Date, Type, IsFromMe, HandleId, Guid, ThreadId,
    DateSeconds,   // Android MMS: seconds since 1970
    MessageId,     // the message a part or a set-aside text belongs to
    ChatId,        // the chat of a set-aside text
    Sequence,      // a part's place among its message's parts
    ContentType,   // a part's or a file's MIME type
    Name,          // a file's name (the first of several such columns that has one)
    FallbackName,  // a file's name when no Name column gives one
    StoredPath,    // where the file was kept
    Box,           // MMS: 1 received, 2 sent, 3 draft, 4 outbox, 5 failed
    MmsType,       // MMS: the message type code (128 sent, 130 not downloaded, 132 received)
    Subject,       // MMS: the subject as stored (widened bytes)
    SubjectCharset,
    Size,          // a file's size in bytes
    Service,       // iPhone: the service a message went by ("SMS", "iMessage", "RCS")
    // The message table of iPhones up to iOS 5, where a row carries its own address and an
    // iMessage its madrid_* columns.
    LegacyFlags,   // flags: bit 0 set on a sent SMS (2 received, 3 sent)
    MadridFlags,   // madrid_flags: bit 2 set on a sent iMessage
    IsMadrid,      // is_madrid: 1 for an iMessage (date in s since 2001, address in madrid_handle)
    MadridHandle,  // madrid_handle: an iMessage's partner
};

// The tables whose deleted records the deep recovery carves: the message table, and the
// tables that hold the rest of today's messages.
enum class CarvedTable : std::uint8_t {
    Messages,          // Android sms, iPhone message
    MmsMessages,       // Android pdu
    MmsParts,          // Android part
    Attachments,       // iPhone attachment
    RecoverableParts,  // iPhone recoverable_message_part ("Recently Deleted" texts)
    LegacyMessages,    // iPhone message of iOS 5 and earlier (no handle table)
};
// The table's name in the phone's database.
std::string_view CarvedTableName(CarvedTable table);

// How the deep decoder checks a column's value.
enum class ValueCheck : std::uint8_t {
    None, DateRequired, DateOrZero, Positive, NonNegative, ZeroOrOne, SmallCode,
    MmsCode,   // an MMS header code: 128 to 151
    PartSeq,   // a part's seq: -1 (the layout part) to 999
    FileSize,  // a file's size: 0 to 16 GB
    NotNull,   // any value but NULL (a text or blob the row always has)
};

struct PhoneColumn {
    std::string_view name;  // lower-case
    std::string_view type;  // declared type in the newest layout
    ColumnField field = ColumnField::None;
    bool essential = false;  // every form of the table has it (the oldest records too)
    // Default carvers, for a column declared INTEGER (other types go by their type).
    ColumnRule rule = ColumnRule::AnyInteger;
    // Deep decoder, for a column declared INTEGER: bit s set when serial type s (0 to 9) is
    // allowed; 0 allows every integer serial type.
    std::uint16_t deepTypes = 0;
    ValueCheck check = ValueCheck::None;
};

// The newest layout known of a table of the phone, in column order (empty for a table the
// phone does not have).
std::span<const PhoneColumn> PhoneLayout(DeviceKind kind, CarvedTable table = CarvedTable::Messages);
// The column of that name (lower-case), or null when the table does not name it.
const PhoneColumn* PhoneColumnNamed(DeviceKind kind, std::string_view name, CarvedTable table = CarvedTable::Messages);
// How many columns the phone's table has had in its releases (Android sms: 16, 17 and 19).
std::span<const std::int32_t> KnownColumnCounts(DeviceKind kind, CarvedTable table = CarvedTable::Messages);
// The tables besides the message table that the phone keeps messages' parts in.
std::span<const CarvedTable> PartTables(DeviceKind kind);
// Whether a message time (Android: ms since 1970; iPhone: s since 2001) lies within the years a
// phone of that kind can have written it: 1990-01-01 (Android) or 2007-01-01 (the first
// iPhone) to 2100-01-01. Every carver's check of a time uses it.
constexpr bool WithinPhoneYears(DeviceKind kind, std::int64_t time)
{
    if (kind == kDeviceIphone) return time >= 189'302'400 && time <= 3'124'137'600;
    return time >= 631'152'000'000 && time <= 4'102'444'800'000;
}

// Which layout a message table of these column names (lower-case) has: LegacyMessages for an
// iPhone table whose rows carry their own address (a flags column and no handle_id), else
// Messages. The second form reads the store's schema and its reader's kind.
CarvedTable MessageTableOf(DeviceKind kind, std::span<const std::string> names);
CarvedTable MessageTableOf(const MessageStore& store);

// An iOS 5 SMS row's date (seconds since 1970) as seconds since 2001, the unit iPhone times
// are kept in; an iMessage row's date is in that unit already.
constexpr std::int64_t LegacySmsSecondsSince2001(std::int64_t unixSeconds) { return unixSeconds - 978'307'200; }

// Makes the store's column schema the newest layout, for a file whose own schema cannot be read.
void UsePhoneLayout(MessageStore& store, DeviceKind kind);
