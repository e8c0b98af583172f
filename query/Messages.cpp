// Walking the store's messages with the rows that show them, and the filter of a view.
#include "query/Messages.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "store/Attribution.h"
#include "store/TimeText.h"

bool MessageFilter::Shows(const MessageRecord& m, bool recovered) const
{
    if (recoveredOnly && !recovered) return false;
    if (kind && m.kind != *kind) return false;
    if (direction == Direction::Sent && m.fromMe == 0) return false;
    if (direction == Direction::Received && m.fromMe != 0) return false;
    if (!since && !until) return true;
    const std::optional<std::int64_t> seconds = UnixSeconds(m.time);
    return seconds && (!since || *seconds >= *since) && (!until || *seconds <= *until);
}

void VisitMessagesWithRows(bool recoveredOnly, const MessageVisitor& visit)
{
    const MessageStore& store = g_store;
    const CSms* reader = store.currentReader.get();
    if (reader == nullptr) return;

    const bool iphone = reader->m_deviceKind == kDeviceIphone;
    // The rows each text names (entries of the same name share their messages), and the row
    // of each entry id.
    std::unordered_map<std::string_view, std::vector<std::int32_t>> rowsOfText;
    std::vector<std::int32_t> rowOfEntry(static_cast<std::size_t>(store.conversationCount), -1);
    for (std::int32_t row = 0; row < store.conversationCount; ++row) {
        const ContactRecord& entry = store.conversations[row];
        rowsOfText[iphone ? std::string_view(entry.key) : std::string_view(entry.address)].push_back(row);
        if (entry.entryId >= 0 && entry.entryId < store.conversationCount) rowOfEntry[static_cast<std::size_t>(entry.entryId)] = row;
    }
    std::vector<std::int32_t> rows;
    ForEachInTimeOrder(store, *reader, [&](const MessageRecord& m, bool recovered) {
        if (recoveredOnly && !recovered) return;
        rows.clear();
        // The rules of Attribution.h, for every row at once.
        if (const auto found = rowsOfText.find(m.address); found != rowsOfText.end() && ShowsIn(m, -1, true, false)) {
            rows = found->second;
        }
        if (m.countedIn >= 0) {
            if (m.countedIn < store.conversationCount && rowOfEntry[static_cast<std::size_t>(m.countedIn)] >= 0) {
                rows.push_back(rowOfEntry[static_cast<std::size_t>(m.countedIn)]);
            }
        } else if (ShowsIn(m, -1, false, true)) {
            rows.push_back(0);
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        visit(m, recovered, rows);
    });
}

