// Reading the conversations and messages of iPhones up to iOS 5.
#include "readers/IphoneLegacy.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "readers/ColumnSchema.h"
#include "recovery/PhoneColumns.h"
#include "store/AttributedText.h"
#include "store/MessageStore.h"
#include "store/SqliteKit.h"
#include "store/TimeText.h"

namespace {

// A live row with what places it: its group and its iMessage room.
struct LegacyRow {
    MessageRecord message;
    std::int64_t group = 0;
    std::string room;
};

// The members of each conversation, in the order the phone added them.
std::map<std::int64_t, std::vector<std::string>> GroupMembers(sqlite3* db)
{
    std::map<std::int64_t, std::vector<std::string>> members;
    Statement rows(db, "SELECT group_id, address FROM group_member WHERE address IS NOT NULL AND address != '' "
                       "ORDER BY group_id, ROWID;");
    while (rows.Step()) {
        std::vector<std::string>& of = members[rows.Int(0)];
        std::string address = Utf8ToAnsiString(rows.Text(1));
        if (std::find(of.begin(), of.end(), address) == of.end()) of.push_back(std::move(address));
    }
    return members;
}

std::vector<LegacyRow> ReadRows(sqlite3* db)
{
    const std::set<std::string> columns = TableColumns(db, "message");
    const std::string sql = "SELECT ROWID, " +
                            ColumnsOrNull(columns, {"address", "date", "text", "flags", "group_id", "is_madrid", "madrid_handle",
                                                    "madrid_flags", "madrid_attributedbody", "madrid_error", "madrid_roomname"}) +
                            " FROM message ORDER BY ROWID;";
    std::vector<LegacyRow> rows;
    Statement row(db, sql);
    while (row.Step()) {
        LegacyRow& r = rows.emplace_back();
        MessageRecord& m = r.message;
        const bool madrid = row.Int(6) == 1;
        m.rowId = row.Int(0);
        m.address = Utf8ToAnsiString(row.Text(madrid ? 7 : 1));
        const std::int64_t date = row.Int(2);
        m.time = madrid ? IphoneSecondsSince2001(date) : LegacySmsSecondsSince2001(date);
        m.body = Utf8ToAnsiString(row.Text(3));
        if (m.body.empty() && madrid) m.body = Utf8ToAnsiString(AttributedBodyText(row.Blob(9)));
        m.fromMe = madrid ? ((row.Int(8) & 4) != 0 ? 1 : 0) : ((row.Int(4) & 1) != 0 ? 1 : 0);
        m.kind = madrid ? MessageKind::IMessage : MessageKind::Sms;
        if (madrid && row.Int(10) != 0) m.status = MessageStatus::Failed;
        r.group = row.Int(5);
        if (madrid) r.room = row.Text(11);
    }
    return rows;
}

// MMS texts and files from msg_pieces, iMessage files from madrid_attachment.
void AddPieces(sqlite3* db, std::vector<LegacyRow>& rows)
{
    std::map<std::int64_t, std::size_t> indexOf;
    for (std::size_t i = 0; i < rows.size(); ++i) indexOf.emplace(rows[i].message.rowId, i);
    const std::set<std::string> pieces = TableColumns(db, "msg_pieces");
    std::map<std::int64_t, std::string> texts;
    if (pieces.contains("message_id")) {
        Statement piece(db, "SELECT message_id, " + ColumnsOrNull(pieces, {"content_type", "data", "content_loc", "part_id"}) +
                                " FROM msg_pieces ORDER BY message_id, 5, ROWID;");
        while (piece.Step()) {
            const auto at = indexOf.find(piece.Int(0));
            if (at == indexOf.end()) continue;
            MessageRecord& m = rows[at->second].message;
            m.kind = MessageKind::Mms;
            const std::string type = AsciiLower(piece.Text(1));
            const std::span<const std::uint8_t> data = piece.Blob(2);
            if (type == "application/smil") continue;  // the layout, not content
            if (type.starts_with("text/plain")) {
                std::string& text = texts[m.rowId];
                text += (text.empty() ? "" : "\n") + Utf8ToAnsiString(std::string(data.begin(), data.end()));
                continue;
            }
            Attachment file;
            file.name = Utf8ToAnsiString(piece.Text(3));
            file.mime = piece.Text(1);
            file.size = piece.IsNull(2) ? -1 : static_cast<std::int64_t>(data.size());
            m.details.Edit().attachments.push_back(std::move(file));
        }
    }
    for (auto& [id, text] : texts) {
        MessageRecord& m = rows[indexOf.at(id)].message;
        if (m.body.empty()) m.body = std::move(text);
    }
    const std::set<std::string> files = TableColumns(db, "madrid_attachment");
    if (!files.contains("message_id")) return;
    Statement file(db, "SELECT message_id, " + ColumnsOrNull(files, {"filename", "mime_type"}) +
                           " FROM madrid_attachment ORDER BY message_id, ROWID;");
    while (file.Step()) {
        const auto at = indexOf.find(file.Int(0));
        if (at == indexOf.end()) continue;
        Attachment attachment;
        attachment.file = Utf8ToAnsiString(file.Text(1));
        attachment.name = attachment.file.substr(attachment.file.find_last_of('/') + 1);
        attachment.mime = file.Text(2);
        rows[at->second].message.details.Edit().attachments.push_back(std::move(attachment));
    }
}

// The conversation entries: one per partner address, one per group of several members.
class Entries {
public:
    std::int32_t Person(const std::string& stored)
    {
        const auto found = m_person.find(stored);
        if (found != m_person.end()) return found->second;
        ContactRecord* entry = Add();
        if (entry == nullptr) return 0;
        entry->key = stored;
        entry->storedAddress = stored;
        entry->address = stored;
        StripChinaPrefix(entry->address);
        m_person.emplace(stored, entry->entryId);
        return entry->entryId;
    }

    std::int32_t Group(const std::string& key, const std::vector<std::string>& stored)
    {
        const auto found = m_group.find(key);
        if (found != m_group.end()) return found->second;
        ContactRecord* entry = Add();
        if (entry == nullptr) return 0;
        entry->isGroup = 1;
        entry->key = key;
        std::vector<std::pair<std::string, std::string>> members;  // as shown, as stored
        for (const std::string& s : stored) {
            std::string shown = s;
            StripChinaPrefix(shown);
            members.emplace_back(std::move(shown), s);
        }
        std::sort(members.begin(), members.end());
        for (auto& [shown, as] : members) {
            entry->members.push_back(shown);
            entry->storedMembers.push_back(as);
        }
        entry->memberNames.assign(members.size(), std::string());
        entry->address = GroupTitle("", entry->members);
        m_group.emplace(key, entry->entryId);
        return entry->entryId;
    }

private:
    static ContactRecord* Add()
    {
        MessageStore& store = g_store;
        if (store.conversationCount >= kConversationLimit) return nullptr;
        const std::int32_t index = store.conversationCount++;
        ContactRecord& entry = store.conversations[index];
        entry = ContactRecord{};
        entry.entryId = index;
        return &entry;
    }

    std::map<std::string, std::int32_t> m_person, m_group;
};

// The entry each row is counted in by its group or room (-1: by its address alone); marks
// the messages of groups of several members.
std::vector<std::int32_t> PlaceRows(std::vector<LegacyRow>& rows, const std::map<std::int64_t, std::vector<std::string>>& members,
                                    std::unordered_map<std::int64_t, std::int32_t>& entryOfGroup)
{
    Entries entries;
    for (const auto& [group, of] : members) {
        entryOfGroup[group] = of.size() == 1 ? entries.Person(of.front()) : entries.Group("group:" + std::to_string(group), of);
    }
    std::map<std::string, std::vector<std::string>> roomMembers;
    for (const LegacyRow& r : rows) {
        if (r.room.empty() || r.message.address.empty()) continue;
        std::vector<std::string>& of = roomMembers[r.room];
        if (std::find(of.begin(), of.end(), r.message.address) == of.end()) of.push_back(r.message.address);
    }
    std::vector<std::int32_t> fallback(rows.size(), -1);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        LegacyRow& r = rows[i];
        const auto room = roomMembers.find(r.room);
        if (!r.room.empty() && room != roomMembers.end() && room->second.size() > 1) {
            fallback[i] = entries.Group("room:" + r.room, room->second);
            r.message.inGroup = 1;
            continue;
        }
        const auto group = members.find(r.group);
        if (group == members.end()) {
            if (!r.message.address.empty()) entries.Person(r.message.address);
            continue;
        }
        fallback[i] = entryOfGroup[r.group];
        if (group->second.size() > 1) r.message.inGroup = 1;
    }
    return fallback;
}

}  // namespace

bool HasLegacyIphoneTables(sqlite3* db)
{
    return TableColumns(db, "handle").empty() && TableColumns(db, "message").contains("flags");
}

std::vector<std::int32_t> ReadLegacyIphone(sqlite3* db, std::unordered_map<std::int64_t, std::int32_t>& entryOfGroup)
{
    std::vector<LegacyRow> rows = ReadRows(db);
    AddPieces(db, rows);
    std::stable_sort(rows.begin(), rows.end(), [](const LegacyRow& a, const LegacyRow& b) { return a.message.time < b.message.time; });
    std::vector<std::int32_t> fallback = PlaceRows(rows, GroupMembers(db), entryOfGroup);
    MessageStore& store = g_store;
    store.liveMessages.clear();
    store.liveMessages.reserve(rows.size());
    for (LegacyRow& r : rows) store.liveMessages.push_back(std::move(r.message));
    store.liveMessageCount = static_cast<std::int32_t>(store.liveMessages.size());
    return fallback;
}
