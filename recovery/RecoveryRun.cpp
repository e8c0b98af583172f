// A recovery run on the current reader, shared by every face: which file is scanned, how its
// pages are walked, and the reader calls that follow.
#include "recovery/RecoveryRun.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string_view>
#include <unordered_set>

#include "recovery/DeepScan.h"
#include "recovery/RecoveryScan.h"
#include "store/MessageStore.h"

namespace {

// Android: no candidate in the last n + 5 bytes of a database page (none at all is reserved in
// a log block) nor in the last n + 20 bytes of the last page; an accepted candidate hides the
// next n positions.
PageLayout AndroidLayout(std::int32_t pageSize, bool logMode, std::int32_t columnCount)
{
    return {pageSize, logMode ? 0 : columnCount + 5, columnCount + 20, columnCount + 1};
}

// iPhone: fixed margins of 48 and 69 bytes and a skip of 52.
PageLayout IphoneLayout(std::int32_t pageSize, bool /*logMode*/, std::int32_t /*columnCount*/)
{
    return {pageSize, 48, 69, 52};
}

// Leaves out the finds that are live rows a reader folded into other messages (tapbacks): the
// same row id, or the same time and text.
void DropFoldedRows(CSms& reader)
{
    if (reader.m_foldedRows.empty()) return;
    std::unordered_set<std::int64_t> rowIds;
    std::unordered_set<std::string_view> texts;
    for (const MessageRecord& row : reader.m_foldedRows) {
        rowIds.insert(row.rowId);
        texts.insert(row.body);
    }
    auto folded = [&](const MessageRecord& find) {
        if (find.rowId != 0 && rowIds.contains(find.rowId)) return true;
        if (!texts.contains(find.body)) return false;
        return std::any_of(reader.m_foldedRows.begin(), reader.m_foldedRows.end(),
                           [&find](const MessageRecord& row) { return find.time == row.time && find.body == row.body; });
    };
    std::erase_if(reader.m_recovered, folded);
    reader.m_recoveredCount = static_cast<std::int32_t>(reader.m_recovered.size());
}

// Leaves out the finds dated outside the file's own span: after the newest time the file holds
// plus a day, or before the first phones of its kind (2008 for Android, 2007 for the iPhone)
// unless its live rows go back further (a history restored from an older phone). No phone wrote
// them: a field read from another column gives such dates. The newest time is its live rows'
// and, after a deep recovery, that of the records found in its log and journal, which the deep
// decoder read by their whole structure. Finds without a time stay.
void DropFindsPastTheFile(CSms& reader, bool deep)
{
    const MessageStore& store = g_store;
    const bool iphone = reader.m_deviceKind == kDeviceIphone;
    const std::int64_t day = iphone ? 86'400 : 86'400'000;
    std::int64_t newest = INT64_MIN, oldest = iphone ? 189'302'400 : 1'199'145'600'000;
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        const std::int64_t time = store.liveMessages[m].time;
        if (time == 0) continue;
        newest = std::max(newest, time);
        oldest = std::min(oldest, time - day);
    }
    for (const MessageRecord& find : reader.m_recovered) {
        const bool logged = std::any_of(find.places.begin(), find.places.end(), [](const FindPlace& p) {
            return p.where == PlaceKind::OlderLogVersion || p.where == PlaceKind::JournalPage;
        });
        if (deep && logged && find.time != 0) newest = std::max(newest, find.time);
    }
    // With nothing dated, only the first phones bound the times.
    const std::int64_t latest = newest == INT64_MIN ? INT64_MAX : newest + day;
    const std::size_t before = reader.m_recovered.size();
    std::erase_if(reader.m_recovered,
                  [&](const MessageRecord& find) { return find.time != 0 && (find.time > latest || find.time < oldest); });
    reader.m_lastScan.discarded += static_cast<std::int32_t>(before - reader.m_recovered.size());
    reader.m_recoveredCount = static_cast<std::int32_t>(reader.m_recovered.size());
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::string DefaultScanTarget(const std::string& path, bool& logMode)
{
    logMode = true;
    // A log that an earlier program renamed out of SQLite's way holds the older bytes.
    if (const std::string setAside = path + "-wal-undelete"; Exists(setAside)) return setAside;
    if (const std::string log = path + "-wal"; Exists(log)) return log;
    logMode = false;
    return path;
}

void RecoverDeletedPass(CSms& reader, const std::string& path, std::int32_t& count)
{
    RecoveryPassPlan plan;
    if (reader.m_deviceKind == kDeviceIphone) {
        plan.file = path;
        plan.carverKind = RecordCarver::Kind::Iphone;
        plan.layoutFor = IphoneLayout;
    } else {
        plan.file = DefaultScanTarget(path, plan.logMode);
        plan.carverKind = g_store.alternateCarving != 0 ? RecordCarver::Kind::AndroidWithHeader : RecordCarver::Kind::Android;
        plan.layoutFor = AndroidLayout;
    }
    RunRecoveryPass(reader, plan, count);
}

RecoveryRunCounts RunRecoverySteps(const std::string& path)
{
    CSms& reader = *g_store.currentReader;
    RecoveryRunCounts counts;
    std::int32_t n = 0;
    reader.m_recoveredCount = 0;
    RecoverDeletedPass(reader, path, n);
    counts.countingFound = n;
    RecoverDeletedPass(reader, path, n);
    counts.fillingFound = n;
    DropFoldedRows(reader);
    DropFindsPastTheFile(reader, false);
    reader.AssignRecovered();
    reader.SortConversations();
    reader.m_lastRecovery = g_store.alternateCarving != 0 ? RecoveryMode::Alternate : RecoveryMode::Default;
    return counts;
}

void RunDeepRecoverySteps(const std::string& path)
{
    CSms& reader = *g_store.currentReader;
    reader.m_recoveredCount = 0;
    RunDeepRecovery(reader, path);
    DropFoldedRows(reader);
    DropFindsPastTheFile(reader, true);
    reader.AssignRecovered();
    reader.SortConversations();
    reader.m_lastRecovery = RecoveryMode::Deep;
}

RecoveryUndo::RecoveryUndo()
{
    const CSms& reader = *g_store.currentReader;
    m_recovered = reader.m_recovered;
    m_recoveredCount = reader.m_recoveredCount;
    m_lastScan = reader.m_lastScan;
    m_lastRecovery = reader.m_lastRecovery;
    m_conversations.assign(g_store.conversations.begin(), g_store.conversations.begin() + g_store.conversationCount);
}

void RecoveryUndo::Restore()
{
    CSms& reader = *g_store.currentReader;
    reader.m_recovered = std::move(m_recovered);
    reader.m_recoveredCount = m_recoveredCount;
    reader.m_lastScan = std::move(m_lastScan);
    reader.m_lastRecovery = m_lastRecovery;
    std::copy(m_conversations.begin(), m_conversations.end(), g_store.conversations.begin());
    g_store.conversationCount = static_cast<std::int32_t>(m_conversations.size());
}
