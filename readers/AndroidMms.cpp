// Reading Android MMS: a pdu row, its parts in seq order and its addresses, joined in memory
// (reading each table in its own order costs SQLite less than joins and sorts).
#include "readers/AndroidMms.h"

#include <sqlite3.h>

#include <algorithm>
#include <span>
#include <tuple>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "readers/ColumnSchema.h"
#include "readers/LiveOrder.h"
#include "store/Charsets.h"
#include "store/TimeText.h"

namespace {

// MMS message types (m_type) and boxes (msg_box).
constexpr std::int64_t kSendRequest = 128, kNotification = 130, kRetrieved = 132;
constexpr std::int64_t kBoxInbox = 1;
// addr.type: the header an address came from.
constexpr std::int64_t kFrom = 137, kTo = 151;
constexpr std::string_view kOwnerToken = "insert-address-token";

std::int64_t Int(sqlite3_stmt* row, int column) { return sqlite3_column_int64(row, column); }
std::string_view Bytes(sqlite3_stmt* row, int column)
{
    const char* text = static_cast<const char*>(sqlite3_column_blob(row, column));
    return text == nullptr ? std::string_view() : std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
}

struct PartRow {
    std::size_t pdu = 0;  // the message's place in the list
    std::int64_t seq = 0;
    std::int64_t id = 0;
    std::string text;  // a text part's content
    bool isText = false;
    Attachment attachment;
};

// A part's text: the provider keeps it decoded; a value that is not valid UTF-8 (a blob, or
// bytes another program wrote) is decoded in the part's own character set.
std::string PartText(sqlite3_stmt* row, int column, std::int64_t charset)
{
    const std::string_view bytes = Bytes(row, column);
    if (sqlite3_column_type(row, column) == SQLITE_TEXT && IsValidUtf8(bytes)) return std::string(bytes);
    return DecodeCharset(bytes, charset);
}

// The parts of the listed messages, in one list ordered by message, then seq: one block of
// memory that goes whole when the load is done, not one small list per message among the
// messages' own texts.
std::vector<PartRow> ReadParts(sqlite3* db, const std::unordered_map<std::int64_t, std::size_t>& indexOfPdu)
{
    std::vector<PartRow> parts;
    const std::set<std::string> columns = TableColumns(db, "part");
    if (!columns.contains("mid")) return parts;
    const std::string sql = "SELECT mid, " + ColumnsOrNull(columns, {"seq", "ct", "name", "chset", "cl", "fn", "_data", "text"}) +
                            ", rowid FROM part;";
    Statement rows(db, sql.c_str());
    while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
        const auto pdu = indexOfPdu.find(Int(rows.handle, 0));
        if (pdu == indexOfPdu.end()) continue;  // a part of no message shown (or of none at all)
        const std::string type = AsciiLower(ColumnText(rows.handle, 2) ? ColumnText(rows.handle, 2) : "");
        if (type == "application/smil") continue;  // the slide layout, not content
        PartRow& part = parts.emplace_back();
        part.pdu = pdu->second;
        part.seq = Int(rows.handle, 1);
        part.id = Int(rows.handle, 9);
        if (type == "text/plain") {
            part.isText = true;
            part.text = PartText(rows.handle, 8, Int(rows.handle, 4));
        } else {
            for (const int column : {3, 5, 6}) {
                if (part.attachment.name.empty()) part.attachment.name = Utf8ToAnsiString(ColumnText(rows.handle, column));
            }
            part.attachment.mime = Utf8ToAnsiString(ColumnText(rows.handle, 2));
            part.attachment.file = Utf8ToAnsiString(ColumnText(rows.handle, 7));
        }
    }
    std::sort(parts.begin(), parts.end(), [](const PartRow& a, const PartRow& b) {
        return std::tie(a.pdu, a.seq, a.id) < std::tie(b.pdu, b.seq, b.id);
    });
    return parts;
}

struct Addresses {
    std::string from;
    bool fromChinaPrefix = false;  // as stored, the sender's address began with "+86"
    std::string to;  // the recipients, joined by ", "
};

void ReadAddresses(sqlite3* db, const std::unordered_map<std::int64_t, std::size_t>& indexOfPdu,
                   std::vector<Addresses>& addresses)
{
    const std::set<std::string> columns = TableColumns(db, "addr");
    if (!columns.contains("msg_id") || !columns.contains("address")) return;
    const std::string sql = "SELECT msg_id, address, " + ColumnsOrNull(columns, {"type", "charset"}) + " FROM addr;";
    Statement rows(db, sql.c_str());
    while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
        const auto pdu = indexOfPdu.find(Int(rows.handle, 0));
        if (pdu == indexOfPdu.end()) continue;
        std::string address = DecodeWidenedHeader(Bytes(rows.handle, 1), Int(rows.handle, 3));
        const bool chinaPrefix = StripChinaPrefix(address);
        Addresses& those = addresses[pdu->second];
        const std::int64_t type = Int(rows.handle, 2);
        if (type == kFrom) {
            those.fromChinaPrefix = chinaPrefix;
            those.from = address == kOwnerToken ? std::string() : std::move(address);
        } else if (type == kTo && !address.empty()) {
            if (!those.to.empty()) those.to += ", ";
            those.to += address;
        }
    }
}

// Puts parts and addresses into the message: texts joined by line feeds in seq order, the
// other parts as attachments. What is taken is moved: the load keeps no copies behind.
void Complete(MessageRecord& m, std::span<PartRow> parts, Addresses& addresses)
{
    for (PartRow& part : parts) {
        if (!part.isText) {
            m.details.Edit().attachments.push_back(std::move(part.attachment));
        } else if (m.body.empty()) {
            m.body = std::move(part.text);
        } else {
            m.body += '\n';
            m.body += part.text;
        }
    }
    if (m.fromMe == 0) {
        m.address = std::move(addresses.from);
        m.chinaPrefix = addresses.fromChinaPrefix ? 1 : 0;
    } else {
        m.address = std::move(addresses.to);
    }
}

}  // namespace

std::vector<MmsMessage> ReadMmsMessages(sqlite3* db)
{
    std::vector<MmsMessage> out;
    const std::set<std::string> columns = TableColumns(db, "pdu");
    if (!columns.contains("_id") || !columns.contains("date")) return out;
    const std::string sql = "SELECT _id, " + ColumnsOrNull(columns, {"thread_id"}) + ", date, " +
                            ColumnsOrNull(columns, {"msg_box", "m_type", "sub", "sub_cs"}) + " FROM pdu;";
    Statement rows(db, sql.c_str());
    std::unordered_map<std::int64_t, std::size_t> indexOfPdu;
    while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
        const bool typed = sqlite3_column_type(rows.handle, 4) != SQLITE_NULL;
        const std::int64_t type = Int(rows.handle, 4);
        if (typed && type != kSendRequest && type != kNotification && type != kRetrieved) continue;  // reports
        const std::int64_t box = Int(rows.handle, 3);
        MmsMessage& mms = out.emplace_back();
        mms.threadId = Int(rows.handle, 1);
        MessageRecord& m = mms.record;
        m.kind = MessageKind::Mms;
        m.rowId = Int(rows.handle, 0);
        m.threadId = mms.threadId;
        m.time = MmsDateMilliseconds(Int(rows.handle, 2));
        m.fromMe = (typed ? type == kSendRequest : box != kBoxInbox) ? 1 : 0;
        m.status = MmsStatus(box, type);
        if (sqlite3_column_type(rows.handle, 5) != SQLITE_NULL) {
            m.details.Edit().subject = DecodeWidenedHeader(Bytes(rows.handle, 5), Int(rows.handle, 6));
        }
        indexOfPdu.emplace(m.rowId, out.size() - 1);
    }
    std::vector<PartRow> parts = ReadParts(db, indexOfPdu);
    std::vector<Addresses> addresses(out.size());
    ReadAddresses(db, indexOfPdu, addresses);
    auto part = parts.begin();
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto first = part;
        while (part != parts.end() && part->pdu == i) ++part;
        Complete(out[i].record, std::span<PartRow>(first, part), addresses[i]);
    }
    return out;
}
