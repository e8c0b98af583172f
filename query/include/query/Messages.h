// The messages of the open database as a query sees them: live and recovered merged in time
// order, the rows of the conversation list that show each one (the rules of
// store/Attribution.h), and which messages a view, an export or a search lets through.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "store/MessageRecords.h"
#include "store/MessageStore.h"

// Which messages a view or an export shows: a time range (both ends included), sent or
// received ones, recovered ones only, those of one kind. The default shows every message.
struct MessageFilter {
    enum class Direction { Both, Sent, Received };
    std::optional<std::int64_t> since{}, until{};  // seconds since 1970
    Direction direction = Direction::Both;
    bool recoveredOnly = false;
    std::optional<MessageKind> kind{};  // only messages that went this way (SMS, MMS, iMessage, ...)
    bool ShowsAll() const { return !since && !until && direction == Direction::Both && !recoveredOnly && !kind; }
    bool Shows(const MessageRecord& m, bool recovered) const;
};

// Visits the live and recovered lists merged by time (a live message first on equal times).
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

// Visits every message in time order with the rows that show it (ascending; none for a message
// no conversation shows), as CollectAllConversations places them.
using MessageVisitor = std::function<void(const MessageRecord& m, bool recovered, const std::vector<std::int32_t>& rows)>;
void VisitMessagesWithRows(bool recoveredOnly, const MessageVisitor& visit);

