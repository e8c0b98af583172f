// Where a message is counted and where it shows: the rules every reader's tally, the
// attribution of recovered messages and every view (window, companion, exports, search) ask.
//
// - A live message is counted by its reader: in its group when it belongs to a group
//   conversation (it shows there only); else in the first conversation whose address (Android)
//   or handle key (iPhone) is the message's; else in its thread's or chat's conversation; else
//   in the catch-all entry 0.
// - A recovered message is counted in the first conversation whose key or address is its
//   address; when none is, or it has no address, in the conversation of its thread (Android) or
//   chat (iPhone) where the file still tells it; else it is unassigned (catch-all row).
//   A deleted message of a group thread that names a one-to-one partner therefore shows with
//   that partner: the address is what the record itself says, the thread only a fallback.
// - A message shows where it is counted and, unless it is counted in a group, in every
//   conversation its address names (entries of the same address share their messages); an
//   unassigned message, and one without an address, also shows in the catch-all row 0.
#pragma once

#include <cstdint>

#include "store/MessageRecords.h"

// The conversation index that counts a live message. `byAddress`: the first conversation its
// address names (-1: none); `ofThread`: its thread's or chat's conversation (0 or less: none).
inline std::int32_t LiveConversationIndex(bool inGroup, std::int32_t byAddress, std::int32_t ofThread)
{
    if (inGroup && ofThread > 0) return ofThread;
    if (byAddress >= 0) return byAddress;
    return ofThread > 0 ? ofThread : 0;
}

// Where a recovered message is counted: the conversation index (-1: unassigned) and whether its
// thread placed it (then the message records that conversation's entry id as countedIn).
struct RecoveredPlace {
    std::int32_t index = -1;
    bool byThread = false;
};
// `byAddress`: the first conversation whose key or address is the message's address (-1:
// none); `ofThread`: the conversation of its thread or chat (-1: unknown).
inline RecoveredPlace RecoveredConversationIndex(const MessageRecord& m, std::int32_t byAddress, std::int32_t ofThread)
{
    if ((byAddress < 0 || m.address.empty()) && ofThread >= 0) return {ofThread, true};
    return {byAddress, false};
}

// Whether `m` shows in the conversation of entry id `entryId`. `named`: the conversation's
// address (Android) or key (iPhone) is the message's; `catchAll`: it is the catch-all row.
inline bool ShowsIn(const MessageRecord& m, std::int32_t entryId, bool named, bool catchAll)
{
    const bool byAddress = named && !m.address.empty() && m.inGroup == 0;
    if (m.countedIn >= 0) return m.countedIn == entryId || byAddress;
    return byAddress || (catchAll && (m.unassignedFlag == 1 || m.address.empty()));
}
