// Turning the deep recovery's finds in the part tables into messages: Android MMS (a message
// record with the text and file parts found for it) and the iPhone's files and set-aside texts.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "recovery/DeepRecords.h"
#include "recovery/Merge.h"
#include "store/MessageStore.h"

// The parts that live Android MMS hold: a part record of a live MMS whose text or file the
// message already has is that message's, wherever it is found.
class LiveMmsParts : public HeldByLive {
public:
    explicit LiveMmsParts(const MessageStore& store);
    bool Holds(const DecodedRecord& part) const override;

private:
    std::unordered_map<std::int64_t, const MessageRecord*> m_mms;  // by row id
};

// The decoders of the reader's part tables (those its last load found in the file), each
// passing over the cells that are live rows of its table as they stand; the MMS part table's
// leaves out the parts `heldParts` says live messages hold.
std::vector<std::unique_ptr<DeepDecoder>> PartTableDecoders(const CSms& reader, const LiveRows& liveMms,
                                                            const HeldByLive* heldParts = nullptr);

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
