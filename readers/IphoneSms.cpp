// Loading an iPhone message database through SQLite.
#include "readers/IphoneSms.h"

#include <sqlite3.h>

#include <strings.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "readers/ColumnSchema.h"
#include "readers/DamagedTable.h"
#include "readers/DatabaseOpen.h"
#include "readers/IphoneChats.h"
#include "readers/IphoneLegacy.h"
#include "readers/LiveOrder.h"
#include "readers/UnreachedRows.h"
#include "recovery/PhoneColumns.h"
#include "store/AttributedText.h"
#include "store/Attribution.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

const char* Text(sqlite3_stmt* row, int column) { return ColumnText(row, column); }

// The instant a stored date stands for, for ordering: seconds since 2001 whatever its unit.
void ToInstant(OrderKey& key)
{
    if (key.isInteger) {
        key.integer = IphoneSecondsSince2001(key.integer);
        key.number = static_cast<long double>(key.integer);
    } else if (key.storageClass == 1 && (key.number >= 1e11L || key.number <= -1e11L)) {
        key.number /= 1e9L;
    }
}

// The country most handles name (older databases have no such column): the phone's region.
std::string MostCommonCountry(sqlite3* db)
{
    Statement countries(db, "SELECT country FROM handle WHERE country IS NOT NULL AND country != '' "
                            "GROUP BY country ORDER BY count(*) DESC, country LIMIT 1;");
    const char* country = countries.Ok() && sqlite3_step(countries.handle) == SQLITE_ROW ? Text(countries.handle, 0) : nullptr;
    return country != nullptr ? country : "";
}

bool SchemaHasColumn(std::string_view name)
{
    const MessageStore& store = g_store;
    for (std::int32_t i = 0; i < store.columnCount; ++i) {
        if (store.columnNames[i] == name) return true;
    }
    return false;
}

// The entry index of each live message's chat (as `messageChats` gives it) by that chat's
// entry (`entryOfChat`, as EntryOfChats gives it, before the entries are sorted); -1 for a
// message without a chat that has one.
std::vector<std::int32_t> ChatEntries(const std::unordered_map<std::int64_t, std::int32_t>& entryOfChat,
                                      MessageChats& messageChats)
{
    const MessageStore& store = g_store;
    std::vector<std::int32_t> entries(static_cast<std::size_t>(store.liveMessageCount), -1);
    if (entryOfChat.empty()) return entries;
    const auto& chatOfMessage = messageChats.Get();
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        const auto chat = chatOfMessage.find(store.liveMessages[m].rowId);
        if (chat == chatOfMessage.end()) continue;
        const auto entry = entryOfChat.find(chat->second);
        if (entry != entryOfChat.end()) entries[static_cast<std::size_t>(m)] = entry->second;
    }
    return entries;
}

// The service a message went by: "SMS", "iMessage", "RCS"; a file without the column is of
// the phones that knew only SMS.
MessageKind ServiceKind(sqlite3_stmt* row, int column)
{
    const char* selected = sqlite3_column_name(row, column);
    if (selected != nullptr && std::string_view(selected) == "NULL") return MessageKind::Sms;
    // Compared in place: this runs for every row of the table.
    const char* service = Text(row, column);
    return service == nullptr ? MessageKind::Other : ServiceKindNamed(service);
}

// One conversation per person: a handle whose address an earlier handle has already (the same
// number or e-mail address used with SMS and with iMessage) is merged into that handle's entry,
// which lists both keys. Returns each merged key → the key it was merged into. Runs right after
// the handles are read, before anything refers to the entries.
std::unordered_map<std::string, std::string> MergeHandlesOfOneAddress()
{
    MessageStore& store = g_store;
    std::unordered_map<std::string, std::string> alias;
    std::unordered_map<std::string, std::int32_t> first;  // stored address → kept entry
    std::int32_t kept = 1;
    for (std::int32_t i = 1; i < store.conversationCount; ++i) {
        ContactRecord& entry = store.conversations[i];
        const auto [at, added] = first.try_emplace(entry.storedAddress, kept);
        if (!added) {
            ContactRecord& into = store.conversations[at->second];
            alias.emplace(entry.key, into.key);
            into.keys.push_back(entry.key);
            continue;
        }
        entry.keys = {entry.key};
        entry.entryId = kept;
        if (kept != i) store.conversations[kept] = std::move(entry);
        ++kept;
    }
    for (std::int32_t i = kept; i < store.conversationCount; ++i) store.conversations[i] = ContactRecord{};
    store.conversationCount = kept;
    return alias;
}

}  // namespace

CIphoneSms::CIphoneSms() : CSms(kDeviceIphone) {}

void CIphoneSms::ReadMessageRows(DatabaseReading& reading)
{
    MessageStore& store = g_store;
    // The row count sizes the list; a damaged table that cannot be counted gives 0 and
    // the list grows with the rows that can still be read.
    std::int64_t rows = 0;
    {
        Statement count(m_db, "SELECT count(1) FROM message;");
        if (count.Ok() && sqlite3_step(count.handle) == SQLITE_ROW) rows = sqlite3_column_int64(count.handle, 0);
    }
    auto optional = [](const char* column) { return std::string(", ") + (SchemaHasColumn(column) ? column : "NULL"); };
    const std::string query = "SELECT text, handle_id, date, is_from_me, " + std::to_string(rows) + " as c, ROWID" +
                              optional("attributedbody") + optional("service") + optional("error") +
                              optional("is_sent") + " FROM message;";
    store.iphoneNanosecondDates = 0;
    Statement messages(m_db, query.c_str());
    ColumnKeys stored;
    std::int64_t lastRow = INT64_MIN;
    auto take = [&](sqlite3_stmt* row) {
        const std::int32_t before = store.liveMessageCount;
        OnMessageRow(row);
        if (store.liveMessageCount > before) stored.Add(row, 2);
        if (stored.Size() == 1) stored.Reserve(store.liveMessages.size());
    };
    int rc = messages.Ok() ? SQLITE_ROW : sqlite3_errcode(m_db);
    while (messages.Ok() && (rc = StepInIdOrder(messages.handle, 5, lastRow)) == SQLITE_ROW) take(messages.handle);
    if (messages.Ok() && rc != SQLITE_DONE) {
        // A damaged table: the rows after the bad pages, as far as they can be reached.
        ReadOnPastDamage(m_db, query.substr(0, query.size() - 1), "message", "ROWID", 5, lastRow, take);
    }
    reading.NoteReadResult(rc);
    // Rows of a damaged table that SQLite could not reach: live all the same.
    store.liveMessages.resize(static_cast<std::size_t>(store.liveMessageCount));
    for (MessageRecord& m : UnreachedRows(reading, store, kDeviceIphone, store.liveMessages)) {
        stored.Add(OrderKey{1, true, m.time, static_cast<long double>(m.time), {}});
        store.liveMessages.push_back(std::move(m));
        ++store.liveMessageCount;
    }
    // Nanosecond and second dates sort together by the instant they stand for, then by
    // the stored value.
    stored.Resize(static_cast<std::size_t>(store.liveMessageCount));
    ColumnKeys instants = stored;
    instants.Transform([](std::int64_t date) { return IphoneSecondsSince2001(date); }, ToInstant);
    store.liveMessages.resize(stored.Size());
    ApplyOrder(store.liveMessages, AscendingOrder(instants, &stored));
}

std::vector<std::int32_t> CIphoneSms::ReadChats()
{
    AddIphoneMessageDetails(m_db);
    MessageChats messageChats(m_db);
    const IphoneChats chats = AddIphoneGroups(m_db, messageChats);
    m_entryOfThread = EntryOfChats(m_db);
    std::vector<std::int32_t> fallback = ChatEntries(m_entryOfThread, messageChats);
    for (std::size_t m = 0; m < fallback.size() && m < chats.groupEntry.size(); ++m) {
        if (chats.groupEntry[m] > 0) fallback[m] = chats.groupEntry[m];
    }
    return fallback;
}

std::int32_t CIphoneSms::LoadDatabase(std::string path)
{
    MessageStore& store = g_store;
    store.conversationCount = 1;
    ContactRecord& catchAll = store.conversations[0];
    catchAll.address = "Unknown";
    catchAll.recentTime = 0;
    catchAll.isCatchAll = 1;
    catchAll.entryId = 0;
    store.liveMessageCount = 0;
    store.liveMessages = {};

    m_partTables.clear();
    m_entryOfThread.clear();
    m_foldedRows.clear();
    m_keyAlias.clear();
    std::vector<std::int32_t> fallback;
    {
        DatabaseReading reading(path, m_db);
        if (reading.Opened()) {
            store.columnCount = 0;
            sqlite3_exec(m_db, "PRAGMA table_info(message)", OnColumnRow, nullptr, nullptr);
            m_partTables = ReadPartTableSchemas(m_db, kDeviceIphone);
            if (HasLegacyIphoneTables(m_db)) {
                store.iphoneNanosecondDates = 0;
                fallback = ReadLegacyIphone(m_db, m_entryOfThread);
            } else {
                sqlite3_exec(m_db, "SELECT ROWID, id FROM handle;", OnHandleRow, nullptr, nullptr);
                m_keyAlias = MergeHandlesOfOneAddress();
                m_regionHint = MostCommonCountry(m_db);
                ReadMessageRows(reading);
                for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
                    MessageRecord& message = store.liveMessages[m];
                    if (const auto alias = m_keyAlias.find(message.address); alias != m_keyAlias.end()) message.address = alias->second;
                }
                fallback = ReadChats();
            }
        }
        m_loadWarnings = reading.Warnings();
        // A file too damaged to give its own schema is read with the newest known layout.
        if (store.columnCount == 0 && reading.Damaged()) {
            UsePhoneLayout(store, kDeviceIphone);
            m_partTables = PartTableLayouts(kDeviceIphone);
        }
    }
    // A table without live rows could be of either era: its deleted rows may hold either unit.
    if (store.liveMessageCount == 0) store.iphoneNanosecondDates = 1;
    CountConversationMessages(fallback);
    // Messages of "Recently Deleted" count with the recovered ones.
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        const MessageRecord& message = store.liveMessages[m];
        if (message.recentlyDeleted == 0 || message.countedIn < 0 || message.countedIn >= store.conversationCount) continue;
        ContactRecord& entry = store.conversations[message.countedIn];  // entry ids are indexes until the sort
        --entry.messageCount;
        ++entry.keptDeletedCount;
    }
    SortConversations();
    return 1;
}

int CIphoneSms::OnHandleRow(void* /*unused*/, int /*columnCount*/, char** values, char** /*names*/)
{
    MessageStore& store = g_store;
    if (store.conversationCount >= kConversationLimit) return 0;
    const std::int32_t index = store.conversationCount;
    ContactRecord& entry = store.conversations[index];
    // Key and address are kept as delivered, without the UTF-8 check: the key must compare
    // byte for byte with the messages' handle_id text.
    entry.key = values[0] ? values[0] : "";
    entry.address = values[1] ? values[1] : "";
    entry.storedAddress = entry.address;
    StripChinaPrefix(entry.address);
    entry.entryId = index;
    ++store.conversationCount;
    return 0;
}

void CIphoneSms::OnMessageRow(sqlite3_stmt* row)
{
    MessageStore& store = g_store;
    if (store.liveMessages.empty()) {
        store.liveMessages.resize(static_cast<std::size_t>(std::max(0, ReadDecimal32(Text(row, 4)))));
    }
    if (store.liveMessageCount >= static_cast<std::int32_t>(store.liveMessages.size())) {
        store.liveMessages.emplace_back();  // more rows than counted (a table that could not be counted)
    }
    MessageRecord& message = store.liveMessages[store.liveMessageCount];
    const char* text = Text(row, 0);
    message.body = Utf8ToAnsiString(text);
    if (message.body.empty() && sqlite3_column_count(row) > 6 && sqlite3_column_type(row, 6) == SQLITE_BLOB) {
        const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, 6));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(row, 6));
        message.body = Utf8ToAnsiString(AttributedBodyText({blob, size}));
    }
    const char* handle = Text(row, 1);
    message.address = handle ? handle : "";
    const std::int64_t stored = ReadDecimal64(Text(row, 2));
    if (stored >= kIphoneNanosecondThreshold || stored <= -kIphoneNanosecondThreshold) store.iphoneNanosecondDates = 1;
    message.time = IphoneSecondsSince2001(stored);
    message.fromMe = ReadDecimal32(Text(row, 3));
    message.rowId = sqlite3_column_int64(row, 5);
    message.unassignedFlag = 0;
    if (sqlite3_column_count(row) > 9) {
        message.kind = ServiceKind(row, 7);
        if (sqlite3_column_int64(row, 8) != 0) {
            message.status = MessageStatus::Failed;
        } else if (message.fromMe != 0 && sqlite3_column_type(row, 9) != SQLITE_NULL && sqlite3_column_int64(row, 9) == 0) {
            message.status = MessageStatus::NotSent;  // kept only where the file marks its sent ones
        }
    }
    ++store.liveMessageCount;
}

void CIphoneSms::CountConversationMessages(std::span<const std::int32_t> fallback)
{
    MessageStore& store = g_store;
    struct Tally {
        std::int32_t count = 0;
        std::int64_t newest = 0;
    };
    std::unordered_map<std::string_view, std::int32_t> firstEntryOfKey;
    for (std::int32_t j = 0; j < store.conversationCount; ++j) firstEntryOfKey.try_emplace(store.conversations[j].key, j);
    std::unordered_map<std::string_view, Tally> keyTally;           // messages matched by key
    std::vector<Tally> byEntry(static_cast<std::size_t>(store.conversationCount));  // the others
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        MessageRecord& message = store.liveMessages[m];
        const auto found = firstEntryOfKey.find(message.address);
        const bool chatKnown = static_cast<std::size_t>(m) < fallback.size() && fallback[m] < store.conversationCount;
        std::int32_t byKey = found == firstEntryOfKey.end() ? -1 : found->second;
        const std::int32_t chat = chatKnown ? fallback[m] : -1;
        // A message is its chat's: a one-to-one chat places it even where its handle names
        // someone else. A sent message's handle is then the chat's partner, as the phone shows.
        if (message.inGroup == 0 && chat > 0 && chat != byKey && store.conversations[chat].isGroup == 0) {
            if (message.fromMe != 0) {
                message.address = store.conversations[chat].key;
                byKey = chat;
            } else {
                byKey = -1;
            }
        }
        const std::int32_t target = LiveConversationIndex(message.inGroup != 0, byKey, chat);
        // Messages counted by their key are tallied per key: entries of one handle share them.
        const bool inItsGroup = message.inGroup != 0 && chat > 0;
        Tally* tally = byKey >= 0 && !inItsGroup ? &keyTally[message.address] : &byEntry[static_cast<std::size_t>(target)];
        ++tally->count;
        tally->newest = std::max(tally->newest, message.time);
        message.countedIn = store.conversations[target].entryId;
    }
    for (std::int32_t j = 0; j < store.conversationCount; ++j) {
        ContactRecord& entry = store.conversations[j];
        const auto found = keyTally.find(entry.key);
        const Tally& other = byEntry[static_cast<std::size_t>(j)];
        entry.messageCount = (found == keyTally.end() ? 0 : found->second.count) + other.count;
        entry.recentTime = std::max(found == keyTally.end() ? 0 : found->second.newest, other.newest);
    }
}
