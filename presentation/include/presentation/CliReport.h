// What the command-line companion prints about the store: aligned text and JSON.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "presentation/ConversationView.h"

class JsonWriter;
struct ContactRecord;
struct MessageRecord;

// The members every JSON object of a message or a conversation shares, wherever it is written
// (the companion's output, the JSON report): "body", "from_me", "time", "time_text", "address";
// "row", "address", "key", "recent_time", "recent_time_text", "message_count",
// "recovered_count", "catch_all"; and a deep recovery's "places", "row_id", "truncated".
// "sender_name" is the contact name of a received message's sender (null when none or sent);
// "names" has one item per member of the conversation, its contact name or null.
// Messages also carry "kind", "sender", "subject", "status", "attachments",
// "recently_deleted", "edited", "unsent", "earlier_versions", "reactions", "truncated"; an
// iPhone message's "address" is its handle's address and "handle_id" the handle's row.
// Conversations also carry "group", "title", "members" (addresses as stored, ascending).
class SenderNames;
void WriteMessageFields(JsonWriter& json, const MessageRecord& m, const std::string& senderName, const SenderNames& names);
void WriteConversationFields(JsonWriter& json, std::int32_t row, const ContactRecord& c);

// The contact names and addresses of the store's conversations, found for any message:
// through the conversation that counts it (a group: its member who sent it), else its address
// (the iPhone: its handle key).
class SenderNames {
public:
    SenderNames();
    // Empty for a sent message and a sender without a name.
    const std::string& Of(const MessageRecord& m) const;
    // The address a message names: Android's as stored, the iPhone handle's address.
    const std::string& Address(const MessageRecord& m) const;
    std::string StoredAddress(const MessageRecord& m) const { return m_addresses.StoredAddress(m); }

private:
    SenderAddresses m_addresses;
    std::unordered_map<std::int32_t, const ContactRecord*> m_ofEntry;
    std::unordered_map<std::string, const std::string*> m_ofAddress;
};
void WriteDeepFindFields(JsonWriter& json, const MessageRecord& m);

// "android" or "iphone" for the current reader; "" when none.
std::string KindName();

// The conversation table, entries 0..conversationCount-1, as the window's list shows them,
// after the row number: columns "Row", "Phone Number", "Recent Time", "Quantity", padded to
// line up.
std::string ConversationsText();
void WriteConversationsJson(JsonWriter& json, const std::string& databasePath);

// The live list in list order: a heading line ("Me" or the sender, a space, the time), the
// body and a blank line per message.
std::string MessagesText();
void WriteMessagesJson(JsonWriter& json, const std::string& databasePath);

// One conversation (a row of the list) as the message view shows it.
std::string ConversationText(int row);
void WriteConversationJson(JsonWriter& json, const std::string& databasePath, int row);

// After a recovery run: which file was scanned and how ("Scanned FILE in 4096-byte pages.").
std::string ScanDescription();
// The summary line, the conversation table and the recovered messages grouped by conversation
// under heading lines like the message view's.
std::string RecoveryText();
void WriteRecoveryJson(JsonWriter& json, const std::string& databasePath, std::int32_t countingFound,
                       std::int32_t fillingFound);

// Terminal columns that a UTF-8 text takes (wide East Asian characters count two).
std::size_t DisplayWidth(const std::string& text);
