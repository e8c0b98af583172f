// What an iPhone database keeps around its messages beyond handle and text: chats (groups
// with their names and members), attachments, tapbacks, edits and the "Recently Deleted"
// messages of iOS 16 and later. Each step reads only tables and columns the file has.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <string>
#include <vector>

struct sqlite3;

// The chat of each message by its row id: the smallest chat naming it, else the chat that keeps
// it in "Recently Deleted". Read from the file once, when first asked for.
class MessageChats {
public:
    explicit MessageChats(sqlite3* db) : m_db(db) {}
    const std::unordered_map<std::int64_t, std::int64_t>& Get();

private:
    sqlite3* m_db;
    std::optional<std::unordered_map<std::int64_t, std::int64_t>> m_chats;
};

// The chat each live message belongs to (the smallest chat id naming it, a message of
// "Recently Deleted" by its recoverable join), for the messages the store holds now.
struct IphoneChats {
    // Per live message (store order): the group entry index it is counted in, or -1.
    std::vector<std::int32_t> groupEntry;
};

// Adds an entry per chat of several handles (a group: title, members) after the handles'
// entries and marks each live message of such a chat: its group entry and inGroup.
IphoneChats AddIphoneGroups(sqlite3* db, MessageChats& chats);

// The conversation entry of each chat: a chat of one handle is that handle's entry, a group
// chat its group entry. Call after AddIphoneGroups, before the entries are sorted.
std::unordered_map<std::int64_t, std::int32_t> EntryOfChats(sqlite3* db);

// Fills what the message rows alone do not give: attachments, tapbacks (moved onto the message they react to, their own
// rows taken out of the list), earlier versions of edited messages, and the texts and delete
// times of messages in "Recently Deleted". Call after the list is in its final order and
// before counting.
void AddIphoneMessageDetails(sqlite3* db);

// The texts of an edit history as the phone keeps it in message_summary_info (a property
// list whose "ec" maps each part to its versions, each an archived string under "t"),
// oldest first; empty when the blob holds none.
std::vector<std::string> EditedVersions(std::span<const std::uint8_t> summary);
