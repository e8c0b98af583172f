// Selecting and naming the messages of conversations: one, or all of them in one pass.
#include "presentation/ConversationView.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

// Walks the live and recovered lists merged by time (a live message first on equal times).
template <typename Visit>
void ForEachInTimeOrder(const MessageStore& store, const CSms& reader, Visit visit)
{
    std::int32_t i = 0;  // next recovered message
    std::int32_t j = 0;  // next live message
    while (i < reader.m_recoveredCount || j < store.liveMessageCount) {
        bool recovered;
        if (i >= reader.m_recoveredCount) {
            recovered = false;
        } else if (j >= store.liveMessageCount) {
            recovered = true;
        } else {
            recovered = store.liveMessages[j].time > reader.m_recovered[i].time;
        }
        const MessageRecord& m = recovered ? reader.m_recovered[i++] : store.liveMessages[j++];
        visit(m, recovered);
    }
}

std::string SenderName(const MessageRecord& m, std::int32_t c, const ContactRecord& entry, bool iphone)
{
    if (m.fromMe != 0) return (c == 0 && !iphone) ? "Me -> " + m.address : "Me";
    return PartnerTitle(entry.name, iphone ? entry.address : m.address);
}

ShownMessage Shown(const MessageRecord& m, bool recovered, std::int32_t c, const ContactRecord& entry, bool iphone)
{
    std::string name = SenderName(m, c, entry, iphone);
    std::string heading = name + " " + FormatHeadingTime(m.time);
    return {&m, recovered, std::move(heading), std::move(name), m.fromMe != 0 ? std::string() : entry.name};
}

}  // namespace

bool MessageFilter::Shows(const MessageRecord& m, bool recovered) const
{
    if (recoveredOnly && !recovered) return false;
    if (direction == Direction::Sent && m.fromMe == 0) return false;
    if (direction == Direction::Received && m.fromMe != 0) return false;
    if (!since && !until) return true;
    const std::optional<std::int64_t> seconds = UnixSeconds(m.time);
    return seconds && (!since || *seconds >= *since) && (!until || *seconds <= *until);
}

std::vector<ShownMessage> Filtered(std::vector<ShownMessage> shown, const MessageFilter& filter)
{
    if (filter.ShowsAll()) return shown;
    std::erase_if(shown, [&](const ShownMessage& s) { return !filter.Shows(*s.message, s.recovered); });
    return shown;
}

std::string PartnerTitle(const std::string& name, const std::string& address)
{
    return name.empty() ? address : name + " (" + address + ")";
}

std::vector<ShownMessage> CollectConversation(std::int32_t c)
{
    std::vector<ShownMessage> shown;
    const MessageStore& store = g_store;
    const CSms* reader = store.currentReader.get();
    if (reader == nullptr || c < 0 || c >= store.conversationCount) return shown;

    const bool iphone = reader->m_deviceKind == kDeviceIphone;
    const ContactRecord& entry = store.conversations[c];
    ForEachInTimeOrder(store, *reader, [&](const MessageRecord& m, bool recovered) {
        const bool sameText = iphone ? m.address == entry.key : m.address == entry.address;
        // A live message shows where it is counted (and wherever its text matches, as entries
        // of the same name have always shown the same messages); a recovered message, and a
        // live one no reader attributed, by the texts and the catch-all rule.
        const bool belongs = m.countedIn >= 0
                                 ? m.countedIn == entry.entryId || sameText
                                 : sameText || (c == 0 && (m.unassignedFlag == 1 || m.address.empty()));
        if (belongs) shown.push_back(Shown(m, recovered, c, entry, iphone));
    });
    return shown;
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
        if (const auto found = rowsOfText.find(m.address); found != rowsOfText.end()) rows = found->second;
        if (m.countedIn >= 0) {
            if (m.countedIn < store.conversationCount && rowOfEntry[static_cast<std::size_t>(m.countedIn)] >= 0) {
                rows.push_back(rowOfEntry[static_cast<std::size_t>(m.countedIn)]);
            }
        } else if (m.unassignedFlag == 1 || m.address.empty()) {
            rows.push_back(0);
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        visit(m, recovered, rows);
    });
}

std::vector<std::vector<ShownMessage>> CollectAllConversations(bool recoveredOnly)
{
    const MessageStore& store = g_store;
    std::vector<std::vector<ShownMessage>> all(static_cast<std::size_t>(store.conversationCount));
    const bool iphone = store.currentReader != nullptr && store.currentReader->m_deviceKind == kDeviceIphone;
    VisitMessagesWithRows(recoveredOnly, [&](const MessageRecord& m, bool recovered, const std::vector<std::int32_t>& rows) {
        for (const std::int32_t row : rows) {
            all[static_cast<std::size_t>(row)].push_back(Shown(m, recovered, row, store.conversations[row], iphone));
        }
    });
    return all;
}
