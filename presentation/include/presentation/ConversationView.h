// Which messages a conversation shows, in which order and under which heading: the content of
// the message view, without its colours.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "query/Messages.h"
#include "store/MessageRecords.h"

struct ShownMessage {
    const MessageRecord* message = nullptr;
    bool recovered = false;
    std::string heading;  // sender name, a space, the formatted time
    std::string name;     // the sender name alone ("Me", "Me -> number", a number, "Name (number)")
    std::string senderName;  // the sender's name in the contacts; empty when none or sent
    std::string details{};   // lines under the text: attachments, tapbacks, earlier versions
};

// The address a message names, as the store holds it: Android's own, the iPhone handle's behind
// its key (the key itself when no handle has it). Made from the store as it is now.
class SenderAddresses {
public:
    SenderAddresses();
    // A message's partner as shown. An iPhone handle key that names no handle of the file (a
    // row that is gone, a value read from a damaged record) is no address: the catch-all's name.
    const std::string& Address(const MessageRecord& m) const;
    // The address as the phone stored it ("+86" kept), for reports; empty for such a key.
    std::string StoredAddress(const MessageRecord& m) const;
    bool iphone = false;

private:
    std::unordered_map<std::string_view, const ContactRecord*> m_ofKey;
    // The messages name handles by their row ids (today's iPhones), not by their addresses
    // (the oldest ones, whose keys are the addresses).
    bool m_handleKeys = false;
    std::string m_unknown;
};

// What a heading says after the time: " [draft]", " [failed]", " [not sent]",
// " [not downloaded]", " (edited)", " (unsent)", " — deleted on TIME"; empty for most messages.
std::string HeadingMarks(const MessageRecord& m);
// "532 bytes", "1.2 MB"; empty for an unknown (negative) size.
std::string SizeText(std::int64_t bytes);
// "📎 IMG_0001.jpeg — image/jpeg, 1.2 MB", with " (file not at hand)" when the file is not.
std::string AttachmentLine(const Attachment& a);
// The lines shown under a message's text in conversation `entry`: its attachments, tapbacks
// ("Loved by Name (number)") and the texts before its edits; empty when it has none.
std::string DetailLines(const MessageRecord& m, const ContactRecord& entry);
// A shown message's text with its subject line before it and its detail lines after it.
std::string ShownBody(const ShownMessage& shown);

// A partner as headings show it: "Name (number)" when the contacts name it, else the number.
std::string PartnerTitle(const std::string& name, const std::string& address);

// The messages that `filter` lets through.
std::vector<ShownMessage> Filtered(std::vector<ShownMessage> shown, const MessageFilter& filter);

// The messages of conversation `c` (0 <= c < conversationCount) of the current reader: live
// and recovered lists merged by time (a live message first on equal times), keeping those
// that belong to the conversation. A live message belongs where the reader counted it; iPhone
// messages also belong by key, Android ones by address; the catch-all entry 0 also shows
// unassigned recovered messages and recovered (or unattributed live) messages with an empty
// address. Empty when no reader is current or `c` is out of range.
std::vector<ShownMessage> CollectConversation(std::int32_t c);

// Every conversation's messages, as CollectConversation gives them, indexed by row: one pass
// over the lists however many conversations there are. With `recoveredOnly`, only the
// recovered messages.
std::vector<std::vector<ShownMessage>> CollectAllConversations(bool recoveredOnly = false);
