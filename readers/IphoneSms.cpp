// Loading an iPhone message database through SQLite.
#include "IphoneSms.h"

#include <sqlite3.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "ColumnSchema.h"
#include "DatabaseOpen.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

CIphoneSms::CIphoneSms() : CSms(kDeviceIphone) {}

std::int32_t CIphoneSms::LoadDatabase(std::string path)
{
    MessageStore& store = g_store;
    store.conversationCount = 1;
    ContactRecord& catchAll = store.conversations[0];
    catchAll.address = "Unknown";
    catchAll.recentTime = 0;
    catchAll.isCatchAll = 1;
    store.liveMessageCount = 0;
    store.liveMessages = {};

    ConnectionCloser closer(m_db);
    if (OpenDatabaseForReading(path, LogUse::IncludeCommittedLog, &m_db) == SQLITE_OK) {
        store.columnCount = 0;
        sqlite3_exec(m_db, "PRAGMA table_info(message)", OnColumnRow, nullptr, nullptr);
        sqlite3_exec(m_db, "SELECT ROWID, id FROM handle;", OnHandleRow, nullptr, nullptr);
        sqlite3_exec(m_db,
                     "SELECT text, handle_id ,date, is_from_me, (select count(1) from message) as "
                     "c FROM message order by date asc;",
                     OnMessageRow, nullptr, nullptr);
    }
    CountConversationMessages();
    SortConversations();
    return 1;
}

int CIphoneSms::OnHandleRow(void* /*unused*/, int /*columnCount*/, char** values, char** /*names*/)
{
    MessageStore& store = g_store;
    if (store.conversationCount >= kConversationLimit) return 0;
    ContactRecord& entry = store.conversations[store.conversationCount];
    // Key and address are kept as delivered, without the UTF-8 check: the key must compare
    // byte for byte with the messages' handle_id text.
    entry.key = values[0] ? values[0] : "";
    entry.address = values[1] ? values[1] : "";
    StripChinaPrefix(entry.address);
    ++store.conversationCount;
    return 0;
}

int CIphoneSms::OnMessageRow(void* /*unused*/, int /*columnCount*/, char** values, char** /*names*/)
{
    MessageStore& store = g_store;
    if (store.liveMessages.empty()) {
        store.liveMessages.resize(static_cast<std::size_t>(std::max(0, ReadDecimal32(values[4]))));
    }
    if (store.liveMessageCount >= static_cast<std::int32_t>(store.liveMessages.size())) return 0;
    MessageRecord& message = store.liveMessages[store.liveMessageCount];
    message.body = Utf8ToAnsiString(values[0]);
    message.address = values[1] ? values[1] : "";
    message.time = ReadDecimal32(values[2]);  // saturates: nanosecond dates become 2147483647
    message.fromMe = ReadDecimal32(values[3]);
    message.unassignedFlag = 0;
    ++store.liveMessageCount;
    return 0;
}

void CIphoneSms::CountConversationMessages()
{
    MessageStore& store = g_store;
    struct Tally {
        std::int32_t count = 0;
        std::int64_t newest = 0;
    };
    std::unordered_map<std::string_view, Tally> byKey;
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        const MessageRecord& message = store.liveMessages[m];
        Tally& tally = byKey[message.address];
        ++tally.count;
        tally.newest = std::max(tally.newest, message.time);
    }
    for (std::int32_t j = 0; j < store.conversationCount; ++j) {
        ContactRecord& entry = store.conversations[j];
        const auto found = byKey.find(entry.key);
        entry.messageCount = found == byKey.end() ? 0 : found->second.count;
        entry.recentTime = found == byKey.end() ? 0 : found->second.newest;
    }
}
