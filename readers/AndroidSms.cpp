// Loading an Android message database through SQLite.
#include "readers/AndroidSms.h"

#include <sqlite3.h>

#include <algorithm>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "readers/AndroidMms.h"
#include "readers/ColumnSchema.h"
#include "readers/DamagedTable.h"
#include "readers/DatabaseOpen.h"
#include "readers/LiveOrder.h"
#include "readers/UnreachedRows.h"
#include "recovery/PhoneColumns.h"
#include "store/Attribution.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

// What one load gathers beside the store, to attribute messages whose address no
// conversation spells the same way.
struct AndroidLoad {
    std::unordered_map<std::int64_t, std::int32_t> entryOfAddressId;  // canonical _id -> entry index
    std::unordered_map<std::int64_t, std::int32_t> entryOfThread;     // threads._id -> entry index
    std::vector<std::int64_t> threadOfMessage;                        // per live message, 0 if NULL
    std::unordered_map<std::int64_t, std::string> addressOfId;        // canonical _id -> address
    std::unordered_map<std::int64_t, std::string> storedOfId;         // canonical _id -> address as stored
    // Threads of several recipients: thread id and the recipients' canonical ids, in table order.
    std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> groupThreads;
};

// Rows of sms as read, in table order.
struct SmsBatch {
    std::vector<MessageRecord> messages;
    ColumnKeys dates;
    std::vector<std::int64_t> threads;  // empty when the table has no thread_id
};

namespace {

// The ids of a recipient list ("3 12"); empty when it holds anything but ids and spaces.
std::vector<std::int64_t> RecipientIds(const char* ids)
{
    std::vector<std::int64_t> out;
    if (ids == nullptr) return out;
    const std::string_view text(ids);
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || (c >= '0' && c <= '9'); })) return out;
    for (std::size_t at = 0; at < text.size();) {
        const auto start = text.find_first_not_of(' ', at);
        if (start == std::string_view::npos) break;
        const auto end = std::min(text.find(' ', start), text.size());
        out.push_back(ReadDecimal64(std::string(text.substr(start, end - start)).c_str()));
        at = end;
    }
    return out;
}

// The table's own row id comes last: reading in its order lets a damaged b-tree be noticed.
constexpr const char* kSmsColumns = "SELECT address, date, type, body, thread_id, _id, rowid FROM sms";
constexpr int kRowIdColumn = 6;
constexpr const char* kSmsColumnsWithoutIds = "SELECT address, date, type, body FROM sms";
constexpr std::int64_t kParallelRows = 20'000;  // fewer rows are read faster on one thread

// Reads the rows the statement gives into the batch (as many as it gives before an error)
// and returns the statement's last result; `last` becomes the row id of the last row read.
int ReadSmsRows(sqlite3* db, const std::string& sql, SmsBatch& batch, std::int64_t& last)
{
    Statement rows(db, sql.c_str());
    if (!rows.Ok()) return sqlite3_errcode(db);
    int rc = SQLITE_ROW;
    if (sqlite3_column_count(rows.handle) <= kRowIdColumn) {
        while ((rc = sqlite3_step(rows.handle)) == SQLITE_ROW) CAndroidSms::OnSmsRow(rows.handle, batch);
        return rc;
    }
    while ((rc = StepInIdOrder(rows.handle, kRowIdColumn, last)) == SQLITE_ROW) CAndroidSms::OnSmsRow(rows.handle, batch);
    return rc;
}

// Reads the sms rows in table order: two halves of the row ids at once on two connections
// when the reading can open a second one on the same state, else on the load's connection.
SmsBatch ReadAllSms(sqlite3* db, DatabaseReading& reading)
{
    SmsBatch batch;
    Statement probe(db, kSmsColumns);
    if (!probe.Ok()) {
        // A table without these columns still gives its messages, without the thread rule.
        std::int64_t last = INT64_MIN;
        reading.NoteReadResult(ReadSmsRows(db, kSmsColumnsWithoutIds, batch, last));
        return batch;
    }
    std::int64_t low = 0, high = 0, count = 0;
    {
        Statement range(db, "SELECT min(rowid), max(rowid), count(*) FROM sms;");
        if (range.Ok() && sqlite3_step(range.handle) == SQLITE_ROW) {
            low = sqlite3_column_int64(range.handle, 0);
            high = sqlite3_column_int64(range.handle, 1);
            count = sqlite3_column_int64(range.handle, 2);
        }
    }
    batch.messages.reserve(static_cast<std::size_t>(count));
    if (!reading.CanOpenAnother() || count < kParallelRows || high <= low) {
        std::int64_t last = INT64_MIN;
        const int rc = ReadSmsRows(db, kSmsColumns, batch, last);
        if (rc != SQLITE_DONE) {
            // A damaged table: the rows after the bad pages, as far as they can be reached.
            ReadOnPastDamage(db, kSmsColumns, "sms", "rowid", kRowIdColumn, last,
                             [&batch](sqlite3_stmt* row) { CAndroidSms::OnSmsRow(row, batch); });
        }
        reading.NoteReadResult(rc);
        return batch;
    }
    const std::int64_t middle = low + (high - low) / 2;
    SmsBatch upper;
    // Room for every row: the halves of the row ids seldom hold half the rows each (deleted
    // runs), and room never written takes no memory, while growing would copy the half.
    upper.messages.reserve(static_cast<std::size_t>(count));
    int upperResult = SQLITE_DONE;
    std::thread second([&] {
        SqliteHandle other;
        if (reading.OpenAnother(other.Out()) == SQLITE_OK) {
            std::int64_t last = middle;
            upperResult = ReadSmsRows(
                other.Get(), std::string(kSmsColumns) + " WHERE rowid > " + std::to_string(middle) + " ORDER BY rowid;", upper,
                last);
        }
    });
    std::int64_t lowerLast = INT64_MIN;
    reading.NoteReadResult(
        ReadSmsRows(db, std::string(kSmsColumns) + " WHERE rowid <= " + std::to_string(middle) + " ORDER BY rowid;",
                    batch, lowerLast));
    second.join();
    reading.NoteReadResult(upperResult);
    batch.messages.insert(batch.messages.end(), std::make_move_iterator(upper.messages.begin()),
                          std::make_move_iterator(upper.messages.end()));
    batch.dates.Append(upper.dates);
    batch.threads.insert(batch.threads.end(), upper.threads.begin(), upper.threads.end());
    return batch;
}

// Reads the sms and MMS rows, then puts them (and their thread ids) in date order in the store.
void ReadMessages(sqlite3* db, DatabaseReading& reading, AndroidLoad& load)
{
    SmsBatch batch = ReadAllSms(db, reading);
    // Rows of a damaged table that SQLite could not reach: live all the same.
    for (MessageRecord& m : UnreachedRows(reading, g_store, kDeviceAndroid, batch.messages)) {
        batch.dates.Add(OrderKey{1, true, m.time, static_cast<long double>(m.time), {}});
        if (batch.threads.size() == batch.messages.size()) batch.threads.push_back(m.threadId);
        batch.messages.push_back(std::move(m));
    }
    std::vector<MmsMessage> mms = ReadMmsMessages(db);
    if (!mms.empty()) {
        batch.messages.reserve(batch.messages.size() + mms.size());
        batch.threads.resize(batch.messages.size(), 0);  // a table without thread ids: none known
        for (MmsMessage& m : mms) {
            batch.dates.Add(OrderKey{1, true, m.record.time, static_cast<long double>(m.record.time), {}});
            batch.threads.push_back(m.threadId);
            batch.messages.push_back(std::move(m.record));
        }
    }
    MessageStore& store = g_store;
    const std::vector<std::size_t> order = AscendingOrder(batch.dates, nullptr);
    ApplyOrder(batch.messages, order);
    if (batch.threads.size() == order.size()) ApplyOrder(batch.threads, order);
    store.liveMessages = std::move(batch.messages);
    store.liveMessageCount = static_cast<std::int32_t>(store.liveMessages.size());
    load.threadOfMessage = std::move(batch.threads);
}

// What an sms row's type says of its sending: 3 draft, 4 outbox, 5 failed, 6 queued.
MessageStatus SmsStatus(std::int64_t type)
{
    switch (type) {
    case 3: return MessageStatus::Draft;
    case 4: return MessageStatus::Outbox;
    case 5: return MessageStatus::Failed;
    case 6: return MessageStatus::Queued;
    default: return MessageStatus::Ok;
    }
}

}  // namespace

CAndroidSms::CAndroidSms() : CSms(kDeviceAndroid) {}

std::int32_t CAndroidSms::LoadDatabase(std::string path)
{
    MessageStore& store = g_store;
    store.conversationCount = 1;
    ContactRecord& catchAll = store.conversations[0];
    catchAll.address = "Ungrouped";
    catchAll.recentTime = 0;
    catchAll.isCatchAll = 1;
    catchAll.entryId = 0;
    store.liveMessageCount = 0;
    store.liveMessages = {};

    m_partTables.clear();
    AndroidLoad load;
    {
        DatabaseReading reading(path, m_db);
        if (reading.Opened()) {
            store.columnCount = 0;
            sqlite3_exec(m_db, "PRAGMA table_info(sms)", OnColumnRow, nullptr, nullptr);
            m_partTables = ReadPartTableSchemas(m_db, kDeviceAndroid);
            if (sqlite3_exec(m_db, "SELECT address, _id FROM canonical_addresses;", OnAddressRow, &load, nullptr) !=
                    SQLITE_OK &&
                store.conversationCount == 1) {
                // A table without _id still gives its partners; only the thread rule needs the ids.
                sqlite3_exec(m_db, "SELECT address FROM canonical_addresses;", OnAddressRow, &load, nullptr);
            }
            ReadMessages(m_db, reading, load);
            sqlite3_exec(m_db, "SELECT _id, recipient_ids FROM threads;", OnThreadRow, &load, nullptr);
            AddGroupConversations(load);
        }
        m_loadWarnings = reading.Warnings();
        // A file too damaged to give its own schema is read with the newest known layout.
        if (store.columnCount == 0 && reading.Damaged()) {
            UsePhoneLayout(store, kDeviceAndroid);
            m_partTables = PartTableLayouts(kDeviceAndroid);
        }
    }
    m_entryOfThread.clear();
    for (const auto& [thread, entry] : load.entryOfThread) {
        if (entry != 0) m_entryOfThread.emplace(thread, store.conversations[entry].entryId);
    }
    std::vector<std::int32_t> fallback;
    if (!load.entryOfThread.empty()) {
        fallback.assign(static_cast<std::size_t>(store.liveMessageCount), -1);
        for (std::size_t m = 0; m < fallback.size() && m < load.threadOfMessage.size(); ++m) {
            const auto found = load.entryOfThread.find(load.threadOfMessage[m]);
            if (found == load.entryOfThread.end()) continue;
            fallback[m] = found->second;
            store.liveMessages[m].inGroup = store.conversations[found->second].isGroup;
        }
    }
    TallyMessages(fallback);
    SortConversations();
    return 1;
}

int CAndroidSms::OnAddressRow(void* load, int columnCount, char** values, char** /*names*/)
{
    MessageStore& store = g_store;
    if (store.conversationCount >= kConversationLimit) return 0;
    const std::int32_t index = store.conversationCount;
    ContactRecord& entry = store.conversations[index];
    entry.address = Utf8ToAnsiString(values[0]);
    entry.storedAddress = entry.address;
    StripChinaPrefix(entry.address);
    entry.recentTime = 0;
    entry.messageCount = 0;
    entry.entryId = index;
    if (load != nullptr && columnCount > 1 && values[1] != nullptr) {
        auto& context = *static_cast<AndroidLoad*>(load);
        context.entryOfAddressId.try_emplace(ReadDecimal64(values[1]), index);
        context.addressOfId.try_emplace(ReadDecimal64(values[1]), entry.address);
        context.storedOfId.try_emplace(ReadDecimal64(values[1]), entry.storedAddress);
    }
    ++store.conversationCount;
    return 0;
}

void CAndroidSms::OnSmsRow(sqlite3_stmt* row, SmsBatch& batch)
{
    batch.dates.Add(row, 1);
    MessageRecord& message = batch.messages.emplace_back();
    message.address = Utf8ToAnsiString(ColumnText(row, 0));
    message.chinaPrefix = StripChinaPrefix(message.address) ? 1 : 0;
    // Integers as they are; other values read from their text (NULL and "0" both give 0).
    const bool integerDate = sqlite3_column_type(row, 1) == SQLITE_INTEGER;
    message.time = AndroidMilliseconds(integerDate ? sqlite3_column_int64(row, 1) : ReadDecimal64(ColumnText(row, 1)));
    // Only the value 1 (or the text "1") marks a received message.
    if (sqlite3_column_type(row, 2) == SQLITE_INTEGER) {
        message.fromMe = sqlite3_column_int64(row, 2) == 1 ? 0 : 1;
        message.status = SmsStatus(sqlite3_column_int64(row, 2));
    } else {
        const char* type = ColumnText(row, 2);
        message.fromMe = (type != nullptr && std::string_view(type) == "1") ? 0 : 1;
    }
    message.body = Utf8ToAnsiString(ColumnText(row, 3));
    message.unassignedFlag = 0;
    if (sqlite3_column_count(row) > 5) {
        message.rowId = sqlite3_column_int64(row, 5);
        batch.threads.push_back(sqlite3_column_int64(row, 4));
    }
}

int CAndroidSms::OnThreadRow(void* load, int /*columnCount*/, char** values, char** /*names*/)
{
    auto& context = *static_cast<AndroidLoad*>(load);
    if (values[0] == nullptr) return 0;
    const std::int64_t thread = ReadDecimal64(values[0]);
    std::vector<std::int64_t> ids = RecipientIds(values[1]);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (ids.size() > 1) {
        context.groupThreads.emplace_back(thread, std::move(ids));  // its entry comes with the groups
        return 0;
    }
    // A thread of one partner belongs to that partner's entry; one of none to the catch-all entry.
    const auto partner = ids.empty() ? context.entryOfAddressId.end() : context.entryOfAddressId.find(ids.front());
    context.entryOfThread.try_emplace(thread, partner == context.entryOfAddressId.end() ? 0 : partner->second);
    return 0;
}

void CAndroidSms::AddGroupConversations(AndroidLoad& load)
{
    MessageStore& store = g_store;
    for (auto& [thread, ids] : load.groupThreads) {
        if (store.conversationCount >= kConversationLimit) break;
        const std::int32_t index = store.conversationCount++;
        ContactRecord& entry = store.conversations[index];
        entry = ContactRecord{};
        entry.entryId = index;
        entry.isGroup = 1;
        std::vector<std::pair<std::string, std::string>> members;  // as shown, as stored
        for (const std::int64_t id : ids) {
            const auto address = load.addressOfId.find(id);
            if (address != load.addressOfId.end()) members.emplace_back(address->second, load.storedOfId[id]);
        }
        std::sort(members.begin(), members.end());
        for (auto& [shown, stored] : members) {
            entry.members.push_back(std::move(shown));
            entry.storedMembers.push_back(std::move(stored));
        }
        entry.memberNames.assign(entry.members.size(), std::string());
        entry.address = GroupTitle({}, entry.members);
        // Recipients whose addresses are gone are said, so that the title is never a partner's own.
        if (const std::size_t missing = ids.size() - entry.members.size(); missing > 0) {
            entry.address += (entry.address.empty() ? "(" : ", (") + std::to_string(missing) + " unknown)";
        }
        load.entryOfThread.try_emplace(thread, index);
    }
}

void CAndroidSms::TallyMessages(std::span<const std::int32_t> fallback)
{
    MessageStore& store = g_store;
    std::unordered_map<std::string_view, std::int32_t> firstEntry;
    firstEntry.reserve(static_cast<std::size_t>(store.conversationCount));
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        firstEntry.try_emplace(store.conversations[i].address, i);
    }
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        MessageRecord& message = store.liveMessages[m];
        const auto found = firstEntry.find(message.address);
        const bool threadKnown = static_cast<std::size_t>(m) < fallback.size() && fallback[m] < store.conversationCount;
        const std::int32_t target = LiveConversationIndex(message.inGroup != 0, found == firstEntry.end() ? -1 : found->second,
                                                          threadKnown ? fallback[m] : -1);
        ContactRecord& entry = store.conversations[target];
        ++entry.messageCount;
        entry.recentTime = message.time;
        message.countedIn = entry.entryId;
    }
}
