// Turning the deep recovery's finds in the part tables into messages: Android MMS (a message
// record with the text and file parts found for it) and the iPhone's files and set-aside texts.
#pragma once

#include <memory>
#include <vector>

#include "recovery/DeepRecords.h"
#include "recovery/Merge.h"
#include "store/MessageStore.h"

// The decoders of the reader's part tables (those its last load found in the file), each
// passing over the cells that are live rows of its table as they stand.
std::vector<std::unique_ptr<DeepDecoder>> PartTableDecoders(const CSms& reader, const LiveRows& liveMms);

// Adds to `messages` (the message-table finds, merged) the messages the part-table finds make:
// - Android: each MMS record not live, with the text parts (joined by line feeds in seq order)
//   and file parts of its id; parts whose MMS record was not found make a message of their own
//   with what they have (no time, no conversation). Parts of a live MMS are that message's.
// - iPhone: set-aside texts of messages that are neither live nor in "Recently Deleted" join
//   the carved message of their id, or make a message of their own in their chat (no time,
//   their delete time kept); file records that no live message has make a message each.
// Repeats (the same record in several places) are one, with every place. The result is in
// time order.
void MergePartFinds(std::vector<RawFind> finds, const MessageStore& store, std::vector<MessageRecord>& messages);
