// Turning finds into the reader's recovered list: the finds of a filling pass, and the raw
// finds of a deep recovery.
#pragma once

#include <span>

#include "recovery/DeepRecords.h"
#include "recovery/LiveCopies.h"
#include "store/MessageRecords.h"
#include "store/Sms.h"

// Drops the finds that equal a live message (time and body; body alone for a spilled find,
// whose carved end is not its own), then exact repeats of an earlier kept find (all six
// fields), and makes the rest, in scan order, the reader's recovered list. Reports progress
// 90 to 100 after each find whose index ends in 5. No finds: the list becomes empty.
void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds);
// The same with the live list's index already built.
void MergeRecovered(CSms& reader, std::vector<MessageRecord>&& finds, const LiveCopies& copies);

// Orders the recovered list by time, oldest first, exactly as a selection sort does (equal
// times may change places).
void SortRecoveredByTime(CSms& reader);

// A record found somewhere, before live rows and repeats are dropped.
struct RawFind {
    DecodedRecord record;
    FindPlace place;
};

// The recovered list from raw finds: drops those equal to a live message (the same row id and
// the same time or text, where the row id is known; otherwise the same time, body and
// address), joins repeats (same time, body, address and direction) into one message with
// every place, joins a truncated find to the whole one (or the live message) it begins, and
// orders by time. `rows` and `live` index the same live list.
std::vector<MessageRecord> MergeDeepFinds(std::vector<RawFind> finds, const LiveRows& rows, const LiveCopies& live);
