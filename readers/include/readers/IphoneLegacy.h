// The message tables of iPhones up to iOS 5, which have no handle table: a message row carries
// its partner itself (address for an SMS, madrid_handle for an iMessage), conversations are
// msg_group rows with their group_member addresses, an MMS keeps its parts in msg_pieces and an
// iMessage its files in madrid_attachment.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

struct sqlite3;

// Whether the open database has that layout: a message table with flags and no handle table.
bool HasLegacyIphoneTables(sqlite3* db);

// Adds one conversation per partner address (its key is the address as stored) and one per
// group of several members, then the live messages in time order: an SMS's date (seconds since
// 1970) and an iMessage's (since 2001) both as seconds since 2001, sent by the owner where
// flags bit 0 (SMS) or madrid_flags bit 2 (iMessage) is set, the text of an MMS from its text
// pieces and its other pieces as attachments. Returns per live message the conversation index
// its group counts it in (-1: by its address), and fills `entryOfGroup` (group_id → entry id)
// for the recovered messages that still name their group.
std::vector<std::int32_t> ReadLegacyIphone(sqlite3* db, std::unordered_map<std::int64_t, std::int32_t>& entryOfGroup);
