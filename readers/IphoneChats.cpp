// Chats, attachments, tapbacks, edits and "Recently Deleted" of an iPhone database.
#include "readers/IphoneChats.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>

#include "readers/ColumnSchema.h"
#include "readers/LiveOrder.h"
#include "store/AttributedText.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

bool HasTable(sqlite3* db, const char* table) { return !TableColumns(db, table).empty(); }

std::string TextOf(sqlite3_stmt* row, int column) { return Utf8ToAnsiString(ColumnText(row, column)); }

std::span<const std::uint8_t> BlobOf(sqlite3_stmt* row, int column)
{
    const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, column));
    return bytes == nullptr ? std::span<const std::uint8_t>() : std::span(bytes, static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
}

using RowIndex = std::unordered_map<std::int64_t, std::size_t>;

// Live messages by their row id.
RowIndex IndexOfRows()
{
    const MessageStore& store = g_store;
    RowIndex index;
    index.reserve(static_cast<std::size_t>(store.liveMessageCount));
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) index.emplace(store.liveMessages[m].rowId, static_cast<std::size_t>(m));
    return index;
}

// Runs `sql`, whose first column is a message's row id, and hands each row that belongs to a
// live message to `take` with that message.
template <typename Take>
void ForEachLiveRow(sqlite3* db, const std::string& sql, const RowIndex& index, Take take)
{
    Statement rows(db, sql.c_str());
    while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
        const auto message = index.find(sqlite3_column_int64(rows.handle, 0));
        if (message != index.end()) take(g_store.liveMessages[message->second], rows.handle);
    }
}

// The address of each handle (its key), as the handles' entries hold it.
std::unordered_map<std::string, std::string> AddressOfKeys()
{
    const MessageStore& store = g_store;
    std::unordered_map<std::string, std::string> address;
    for (std::int32_t i = 1; i < store.conversationCount; ++i) {
        if (store.conversations[i].isGroup == 0) address.try_emplace(store.conversations[i].key, store.conversations[i].address);
    }
    return address;
}


void AddAttachments(sqlite3* db, const RowIndex& index)
{
    const std::set<std::string> columns = TableColumns(db, "attachment");
    if (columns.empty() || !HasTable(db, "message_attachment_join")) return;
    const std::string sql = "SELECT j.message_id, " +
                            ColumnsOrNull(columns, {"transfer_name", "mime_type", "total_bytes", "filename"}, "a.") +
                            " FROM message_attachment_join j JOIN attachment a ON a.ROWID = j.attachment_id"
                            " ORDER BY j.message_id, j.attachment_id;";
    ForEachLiveRow(db, sql, index, [](MessageRecord& m, sqlite3_stmt* row) {
        Attachment attachment;
        attachment.name = TextOf(row, 1);
        attachment.mime = TextOf(row, 2);
        attachment.file = TextOf(row, 4);
        if (attachment.name.empty()) attachment.name = attachment.file.substr(attachment.file.find_last_of('/') + 1);
        const std::int64_t size = sqlite3_column_int64(row, 3);
        attachment.size = sqlite3_column_type(row, 3) == SQLITE_NULL || size < 0 ? -1 : size;
        m.details.Edit().attachments.push_back(std::move(attachment));
    });
}

// The guid a tapback names: "p:0/GUID" (a part of the message), "bp:GUID" or the guid alone.
std::string TargetGuid(std::string_view named)
{
    if (const auto slash = named.find('/'); slash != std::string_view::npos && named.starts_with("p:")) return std::string(named.substr(slash + 1));
    if (named.starts_with("bp:")) return std::string(named.substr(3));
    return std::string(named);
}

const char* ReactionWord(std::int64_t type)
{
    static constexpr const char* kWords[] = {"Loved", "Liked", "Disliked", "Laughed at", "Emphasized", "Questioned"};
    return kWords[(type % 1000) % 6];
}

// Moves tapbacks onto their messages; a tapback whose message is gone stays as a message.
void MoveReactions(sqlite3* db, const RowIndex& index,
                   const std::unordered_map<std::string, std::string>& addressOfKey)
{
    const std::set<std::string> columns = TableColumns(db, "message");
    if (!columns.contains("associated_message_type") || !columns.contains("associated_message_guid") || !columns.contains("guid")) return;
    Statement rows(db, "SELECT ROWID, associated_message_guid, associated_message_type FROM message "
                       "WHERE associated_message_type BETWEEN 2000 AND 2005 OR associated_message_type BETWEEN 3000 AND 3005 "
                       "ORDER BY date, ROWID;");
    Statement target(db, "SELECT ROWID FROM message WHERE guid = ?1;");
    MessageStore& store = g_store;
    std::vector<bool> taken(static_cast<std::size_t>(store.liveMessageCount), false);
    while (rows.Ok() && target.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
        const auto self = index.find(sqlite3_column_int64(rows.handle, 0));
        if (self == index.end()) continue;
        const std::string guid = TargetGuid(ColumnText(rows.handle, 1) ? ColumnText(rows.handle, 1) : "");
        sqlite3_reset(target.handle);
        sqlite3_bind_text(target.handle, 1, guid.c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(target.handle) != SQLITE_ROW) continue;
        const auto message = index.find(sqlite3_column_int64(target.handle, 0));
        if (message == index.end() || message->second == self->second) continue;
        const MessageRecord& tapback = store.liveMessages[self->second];
        const auto by = addressOfKey.find(tapback.address);
        Reaction reaction{ReactionWord(sqlite3_column_int64(rows.handle, 2)),
                          tapback.fromMe != 0 ? std::string() : by != addressOfKey.end() ? by->second : tapback.address};
        std::vector<Reaction>& on = store.liveMessages[message->second].details.Edit().reactions;
        if (sqlite3_column_int64(rows.handle, 2) >= 3000) {
            std::erase(on, reaction);  // a tapback taken back
        } else if (std::find(on.begin(), on.end(), reaction) == on.end()) {
            on.push_back(std::move(reaction));
        }
        taken[self->second] = true;
    }
    if (std::find(taken.begin(), taken.end(), true) == taken.end()) return;
    std::vector<MessageRecord>& folded = store.currentReader->m_foldedRows;
    std::size_t kept = 0;
    for (std::size_t m = 0; m < taken.size(); ++m) {
        if (taken[m]) {
            folded.push_back(std::move(store.liveMessages[m]));
            continue;
        }
        if (kept != m) store.liveMessages[kept] = std::move(store.liveMessages[m]);
        ++kept;
    }
    store.liveMessages.resize(kept);
    store.liveMessageCount = static_cast<std::int32_t>(kept);
}

void MarkEdits(sqlite3* db, const RowIndex& index)
{
    const std::set<std::string> columns = TableColumns(db, "message");
    if (!columns.contains("date_edited") || !columns.contains("date_retracted")) return;
    const std::string sql = "SELECT ROWID, date_edited, date_retracted, " + ColumnsOrNull(columns, {"message_summary_info"}) +
                            " FROM message WHERE date_edited != 0 OR date_retracted != 0;";
    ForEachLiveRow(db, sql, index, [](MessageRecord& m, sqlite3_stmt* row) {
        m.edited = sqlite3_column_int64(row, 1) != 0 ? 1 : 0;
        m.unsent = sqlite3_column_int64(row, 2) != 0 ? 1 : 0;
        for (std::string& version : EditedVersions(BlobOf(row, 3))) {
            if (version != m.body) m.details.Edit().earlierVersions.push_back(std::move(version));
        }
    });
}

// The handle key of a chat with exactly one handle; "" otherwise.
std::string OnlyHandleOfChat(sqlite3* db, std::int64_t chat)
{
    Statement handles(db, "SELECT count(*), min(handle_id) FROM chat_handle_join WHERE chat_id = ?1;");
    if (!handles.Ok()) return "";
    sqlite3_bind_int64(handles.handle, 1, chat);
    if (sqlite3_step(handles.handle) != SQLITE_ROW || sqlite3_column_int64(handles.handle, 0) != 1) return "";
    const std::string key = std::to_string(sqlite3_column_int64(handles.handle, 1));
    const auto& alias = g_store.currentReader->m_keyAlias;
    const auto merged = alias.find(key);
    return merged != alias.end() ? merged->second : key;
}

// Messages in "Recently Deleted": marked, their delete time kept, their text taken from the
// parts the phone set aside when the message row has none; parts whose row is gone become
// messages of their own (no time, their chat's partner).
void MarkRecentlyDeleted(sqlite3* db, const RowIndex& index)
{
    if (!HasTable(db, "chat_recoverable_message_join")) return;
    MessageStore& store = g_store;
    ForEachLiveRow(db, "SELECT message_id, max(delete_date) FROM chat_recoverable_message_join GROUP BY message_id;", index,
                   [](MessageRecord& m, sqlite3_stmt* row) {
                       m.recentlyDeleted = 1;
                       m.details.Edit().deletedTime = IphoneSecondsSince2001(sqlite3_column_int64(row, 1));
                   });
    struct SetAside {
        std::string text;
        std::int64_t chat = 0, deleted = 0;
    };
    std::map<std::int64_t, SetAside> parts;  // message -> its set-aside text
    Statement rows(db, "SELECT message_id, part_text, chat_id, delete_date FROM recoverable_message_part "
                       "ORDER BY message_id, part_index;");
    while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
        SetAside& aside = parts[sqlite3_column_int64(rows.handle, 0)];
        const std::string part = AttributedBodyText(BlobOf(rows.handle, 1));
        aside.text += part;  // the parts make the text as the phone wrote it, nothing between them
        aside.chat = sqlite3_column_int64(rows.handle, 2);
        aside.deleted = std::max<std::int64_t>(aside.deleted, sqlite3_column_int64(rows.handle, 3));
    }
    std::vector<MessageRecord> rowless;  // parts whose message row is gone
    for (auto& [id, aside] : parts) {
        const auto message = index.find(id);
        if (message != index.end()) {
            MessageRecord& m = store.liveMessages[message->second];
            if (m.body.empty()) m.body = Utf8ToAnsiString(aside.text);
            continue;
        }
        if (aside.text.empty()) continue;
        MessageRecord& m = rowless.emplace_back();
        m.rowId = id;
        m.body = Utf8ToAnsiString(aside.text);
        m.kind = MessageKind::Other;  // the row that said how it went is gone
        m.address = OnlyHandleOfChat(db, aside.chat);
        m.recentlyDeleted = 1;
        m.details.Edit().deletedTime = IphoneSecondsSince2001(aside.deleted);
    }
    if (rowless.empty()) return;
    // Their times are gone with their rows: they come first, as the list is in time order.
    store.liveMessages.resize(static_cast<std::size_t>(store.liveMessageCount));
    store.liveMessages.insert(store.liveMessages.begin(), std::make_move_iterator(rowless.begin()),
                              std::make_move_iterator(rowless.end()));
    store.liveMessageCount = static_cast<std::int32_t>(store.liveMessages.size());
}

// Sent messages whose is_sent is unset count as not sent only where the database marks its
// sent ones: a file that leaves is_sent unset everywhere keeps its messages as they were.
void KeepUnsentWhereMarked()
{
    MessageStore& store = g_store;
    const auto begin = store.liveMessages.begin();
    const auto end = begin + store.liveMessageCount;
    if (std::any_of(begin, end, [](const MessageRecord& m) { return m.fromMe != 0 && m.status == MessageStatus::Ok; })) return;
    for (auto m = begin; m != end; ++m) {
        if (m->status == MessageStatus::NotSent) m->status = MessageStatus::Ok;
    }
}

}  // namespace

const std::unordered_map<std::int64_t, std::int64_t>& MessageChats::Get()
{
    if (m_chats) return *m_chats;
    m_chats.emplace();
    for (const char* sql : {"SELECT message_id, min(chat_id) FROM chat_message_join GROUP BY message_id;",
                            "SELECT message_id, min(chat_id) FROM chat_recoverable_message_join GROUP BY message_id;"}) {
        Statement rows(m_db, sql);
        while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
            m_chats->try_emplace(sqlite3_column_int64(rows.handle, 0), sqlite3_column_int64(rows.handle, 1));
        }
    }
    return *m_chats;
}

std::unordered_map<std::int64_t, std::int32_t> EntryOfChats(sqlite3* db)
{
    const MessageStore& store = g_store;
    std::unordered_map<std::string, std::int32_t> entryOfKey;
    for (std::int32_t i = 1; i < store.conversationCount; ++i) entryOfKey.try_emplace(store.conversations[i].key, i);
    std::unordered_map<std::int64_t, std::int32_t> entries;
    const auto& alias = store.currentReader->m_keyAlias;
    Statement rows(db, "SELECT chat_id, count(*), min(handle_id) FROM chat_handle_join GROUP BY chat_id;");
    while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
        const std::int64_t chat = sqlite3_column_int64(rows.handle, 0);
        const char* handle = ColumnText(rows.handle, 2);
        std::string key = handle != nullptr ? handle : "";
        if (const auto merged = alias.find(key); merged != alias.end()) key = merged->second;
        // A chat of several handles is a group, unless they are one person's (then no group
        // entry was made: the chat is that person's).
        auto entry = sqlite3_column_int64(rows.handle, 1) > 1 ? entryOfKey.find("chat:" + std::to_string(chat)) : entryOfKey.end();
        if (entry == entryOfKey.end()) entry = entryOfKey.find(key);
        if (entry != entryOfKey.end()) entries.emplace(chat, store.conversations[entry->second].entryId);
    }
    return entries;
}

IphoneChats AddIphoneGroups(sqlite3* db, MessageChats& messageChats)
{
    MessageStore& store = g_store;
    IphoneChats chats;
    chats.groupEntry.assign(static_cast<std::size_t>(store.liveMessageCount), -1);
    const std::set<std::string> chatColumns = TableColumns(db, "chat");
    if (chatColumns.empty() || !HasTable(db, "chat_handle_join")) return chats;

    const std::unordered_map<std::string, std::string> addressOfKey = AddressOfKeys();
    std::unordered_map<std::string, std::string> storedOf;  // a member as shown -> as stored
    for (std::int32_t i = 1; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        if (c.isGroup == 0) storedOf.try_emplace(c.address, c.storedAddress);
    }
    std::map<std::int64_t, std::set<std::string>> membersOfChat;
    {
        Statement rows(db, "SELECT chat_id, handle_id FROM chat_handle_join;");
        while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
            const char* key = ColumnText(rows.handle, 1);
            const auto address = addressOfKey.find(key != nullptr ? key : "");
            if (address != addressOfKey.end()) membersOfChat[sqlite3_column_int64(rows.handle, 0)].insert(address->second);
        }
    }
    std::unordered_map<std::int64_t, std::string> names;
    if (chatColumns.contains("display_name")) {
        Statement rows(db, "SELECT ROWID, display_name FROM chat WHERE display_name IS NOT NULL AND display_name != '';");
        while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) names.emplace(sqlite3_column_int64(rows.handle, 0), TextOf(rows.handle, 1));
    }
    std::unordered_map<std::int64_t, std::int32_t> entryOfChat;
    for (const auto& [chat, members] : membersOfChat) {
        if (members.size() < 2 || store.conversationCount >= kConversationLimit) continue;
        const std::int32_t index = store.conversationCount++;
        ContactRecord& entry = store.conversations[index];
        entry = ContactRecord{};
        entry.entryId = index;
        entry.isGroup = 1;
        entry.key = "chat:" + std::to_string(chat);
        entry.members.assign(members.begin(), members.end());
        for (const std::string& member : entry.members) entry.storedMembers.push_back(storedOf[member]);
        entry.memberNames.assign(members.size(), std::string());
        const auto name = names.find(chat);
        entry.title = name != names.end() ? name->second : std::string();
        entry.address = GroupTitle(entry.title, entry.members);
        entryOfChat.emplace(chat, index);
    }
    if (entryOfChat.empty()) return chats;
    const auto& chatOf = messageChats.Get();
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        MessageRecord& message = store.liveMessages[m];
        const auto chat = chatOf.find(message.rowId);
        if (chat == chatOf.end()) continue;
        const auto entry = entryOfChat.find(chat->second);
        if (entry == entryOfChat.end()) continue;
        chats.groupEntry[static_cast<std::size_t>(m)] = entry->second;
        message.inGroup = 1;
    }
    return chats;
}

void AddIphoneMessageDetails(sqlite3* db)
{
    KeepUnsentWhereMarked();
    if (db == nullptr) return;
    const auto index = IndexOfRows();
    AddAttachments(db, index);
    MarkEdits(db, index);
    MarkRecentlyDeleted(db, index);  // may put messages before the others: the index is made again
    MoveReactions(db, IndexOfRows(), AddressOfKeys());
}

std::vector<std::string> EditedVersions(std::span<const std::uint8_t> summary)
{
    // The property list keeps each version's archive as raw data, in the order of the list:
    // each archive is found by its own signature and read by the bounds-checked reader. (The
    // system's property-list library aborts on lists whose keys are not strings, which a
    // damaged or crafted row can hold.)
    std::vector<std::string> versions;
    static constexpr std::string_view kSignature = "\x04\x0bstreamtyped";
    const std::string_view bytes(reinterpret_cast<const char*>(summary.data()), summary.size());
    if (!bytes.starts_with("bplist00")) return versions;
    for (std::size_t at = bytes.find(kSignature); at != std::string_view::npos; at = bytes.find(kSignature, at + 1)) {
        const std::string text = AttributedBodyText(summary.subspan(at));
        if (!text.empty()) versions.push_back(Utf8ToAnsiString(text));
    }
    return versions;
}
