// Which messages a conversation shows, in which order and under which heading: the content of
// the message view, without its colours.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/MessageRecords.h"

struct ShownMessage {
    const MessageRecord* message = nullptr;
    bool recovered = false;
    std::string heading;  // sender name, a space, the formatted time
    std::string name;     // the sender name alone ("Me", "Me -> number", a number, "Name (number)")
    std::string senderName;  // the sender's name in the contacts; empty when none or sent
};

// A partner as headings show it: "Name (number)" when the contacts name it, else the number.
std::string PartnerTitle(const std::string& name, const std::string& address);

// Which messages a view or an export shows: a time range (both ends included), sent or
// received ones, recovered ones only. The default shows every message.
struct MessageFilter {
    enum class Direction { Both, Sent, Received };
    std::optional<std::int64_t> since{}, until{};  // seconds since 1970
    Direction direction = Direction::Both;
    bool recoveredOnly = false;
    bool ShowsAll() const { return !since && !until && direction == Direction::Both && !recoveredOnly; }
    bool Shows(const MessageRecord& m, bool recovered) const;
};

// The messages that `filter` lets through.
std::vector<ShownMessage> Filtered(std::vector<ShownMessage> shown, const MessageFilter& filter);

// The messages of conversation `c` (0 <= c < conversationCount) of the current reader: live
// and recovered lists merged by time (a live message first on equal times), keeping those
// that belong to the conversation. A live message belongs where the reader counted it; iPhone
// messages also belong by key, Android ones by address; the catch-all entry 0 also shows
// unassigned recovered messages and recovered (or unattributed live) messages with an empty
// address. Empty when no reader is current or `c` is out of range.
std::vector<ShownMessage> CollectConversation(std::int32_t c);

// Visits every message in time order with the rows that show it (ascending; none for a message
// no conversation shows), as CollectAllConversations places them.
using MessageVisitor = std::function<void(const MessageRecord& m, bool recovered, const std::vector<std::int32_t>& rows)>;
void VisitMessagesWithRows(bool recoveredOnly, const MessageVisitor& visit);

// Every conversation's messages, as CollectConversation gives them, indexed by row: one pass
// over the lists however many conversations there are. With `recoveredOnly`, only the
// recovered messages.
std::vector<std::vector<ShownMessage>> CollectAllConversations(bool recoveredOnly = false);
