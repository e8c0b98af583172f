// Loading an Android message database through SQLite.
#include "AndroidSms.h"

#include <sqlite3.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "ColumnSchema.h"
#include "DatabaseOpen.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

CAndroidSms::CAndroidSms() : CSms(kDeviceAndroid) {}

std::int32_t CAndroidSms::LoadDatabase(std::string path)
{
    MessageStore& store = g_store;
    store.conversationCount = 1;
    ContactRecord& catchAll = store.conversations[0];
    catchAll.address = "Ungrouped";
    catchAll.recentTime = 0;
    catchAll.isCatchAll = 1;
    store.liveMessageCount = 0;
    store.liveMessages = {};

    ConnectionCloser closer(m_db);
    if (OpenDatabaseForReading(path, LogUse::MainFileOnly, &m_db) == SQLITE_OK) {
        store.columnCount = 0;
        sqlite3_exec(m_db, "PRAGMA table_info(sms)", OnColumnRow, nullptr, nullptr);
        sqlite3_exec(m_db, "SELECT address FROM canonical_addresses;", OnAddressRow, nullptr,
                     nullptr);
        sqlite3_exec(m_db,
                     "SELECT address, date, type, body, (select count(1) from sms) as c FROM sms "
                     "order by date asc;",
                     OnSmsRow, nullptr, nullptr);
    }
    TallyMessages();
    SortConversations();
    return 1;
}

int CAndroidSms::OnAddressRow(void* /*unused*/, int /*columnCount*/, char** values, char** /*names*/)
{
    MessageStore& store = g_store;
    if (store.conversationCount >= kConversationLimit) return 0;
    ContactRecord& entry = store.conversations[store.conversationCount];
    entry.address = Utf8ToAnsiString(values[0]);
    StripChinaPrefix(entry.address);
    entry.recentTime = 0;
    entry.messageCount = 0;
    ++store.conversationCount;
    return 0;
}

int CAndroidSms::OnSmsRow(void* /*unused*/, int /*columnCount*/, char** values, char** /*names*/)
{
    MessageStore& store = g_store;
    if (store.liveMessages.empty()) {
        store.liveMessages.resize(static_cast<std::size_t>(std::max(0, ReadDecimal32(values[4]))));
    }
    // A row beyond the count that the first row reported has no place: it is dropped.
    if (store.liveMessageCount >= static_cast<std::int32_t>(store.liveMessages.size())) return 0;
    MessageRecord& message = store.liveMessages[store.liveMessageCount];
    message.address = Utf8ToAnsiString(values[0]);
    StripChinaPrefix(message.address);
    message.time = ReadDecimal64(values[1]);  // NULL and "0" both give 0
    message.fromMe = (values[2] != nullptr && std::string_view(values[2]) == "1") ? 0 : 1;
    message.body = Utf8ToAnsiString(values[3]);
    message.unassignedFlag = 0;
    ++store.liveMessageCount;
    return 0;
}

void CAndroidSms::TallyMessages()
{
    MessageStore& store = g_store;
    std::unordered_map<std::string_view, std::int32_t> firstEntry;
    firstEntry.reserve(static_cast<std::size_t>(store.conversationCount));
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        firstEntry.try_emplace(store.conversations[i].address, i);
    }
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        const MessageRecord& message = store.liveMessages[m];
        const auto found = firstEntry.find(message.address);
        if (found == firstEntry.end()) continue;
        ContactRecord& entry = store.conversations[found->second];
        ++entry.messageCount;
        entry.recentTime = message.time;
    }
}
