// Where a deleted iPhone message belonged, as earlier states of the file still tell it: the
// rows of chat_message_join (chat_id, message_id[, message_date]) on that table's pages in the
// database, every frame of its log and its journal. A deleted row's join row goes with it, but
// the page versions from before the deletion keep it.
#pragma once

#include <cstdint>
#include <span>
#include <unordered_map>

#include "recovery/SqliteFiles.h"
#include "store/Sms.h"

// A file to read join rows from, by its role.
struct JoinSource {
    ByteView bytes;
    FileRole role;
};

// The chat of each message row id that a join row names on a page of the join table. A page
// counts as one when every cell on it is a row of two or three integers whose first is a chat
// the file knows (`knownChats`), and the live messages it names (`liveEntryOfRow`: a live
// row id → the conversation entry it is counted in) are counted in those chats' conversations
// more often than not, at least once; `entryOfChat` gives each chat's conversation entry.
std::unordered_map<std::int64_t, std::int64_t> EarlierMessageChats(
    std::span<const JoinSource> files, std::uint32_t pageSize, std::uint32_t usable,
    const std::unordered_map<std::int64_t, std::int32_t>& entryOfChat,
    const std::unordered_map<std::int64_t, std::int32_t>& liveEntryOfRow);

// Gives each recovered message of `reader` that has a row id and names no conversation the chat
// that an earlier join row ties it to (as its threadId), so that it is counted there.
void PlaceByEarlierJoins(std::span<const JoinSource> files, std::uint32_t pageSize, std::uint32_t usable, CSms& reader);
