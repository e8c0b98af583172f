// Turning the finds of a filling pass into the reader's recovered list.
#pragma once

#include <span>

#include "store/MessageRecords.h"
#include "store/Sms.h"

// Drops the finds that equal a live message (time and body; body alone for a spilled find,
// whose carved end is not its own), then exact repeats of an earlier kept find (all six
// fields), and makes the rest, in scan order, the reader's recovered list. Reports progress
// 90 to 100 after each find whose index ends in 5. No finds: the list becomes empty.
void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds);
// The same with the live list's index already built.
class LiveCopies;
void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds, const LiveCopies& copies);

// Orders the recovered list by time, oldest first, exactly as a selection sort does (equal
// times may change places).
void SortRecoveredByTime(CSms& reader);
