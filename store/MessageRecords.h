// The two record types of the message store: one conversation partner and one message.
#pragma once

#include <cstdint>
#include <string>

// One conversation (conversation partner). Entry 0 of the table is the catch-all entry.
struct ContactRecord {
    std::string address;        // partner's number or address as displayed; entry 0: catch-all name
    std::int64_t recentTime = 0;  // raw time of the newest message, unit of its database; 0 = none
    std::int32_t messageCount = 0;    // live messages of this conversation
    std::int32_t recoveredCount = 0;  // recovered messages attributed to it
    std::string key;            // iPhone: the handle's row id as decimal text; Android: empty
    std::int32_t isCatchAll = 0;  // 1 for entry 0 only
    // The entry's identity for the load that made it: its index at creation (0 for the
    // catch-all entry). Sorting moves it with the entry; live messages refer to it.
    std::int32_t entryId = 0;

    bool operator==(const ContactRecord&) const = default;
};

// One message, live or recovered.
struct MessageRecord {
    std::string body;
    std::int32_t fromMe = 0;     // 1 when the phone's owner sent it
    std::int64_t time = 0;       // Android: ms since 1970 UTC; iPhone: s since 2001 UTC; 0 = none
    std::string address;         // Android: partner's number; iPhone: handle key as decimal text
    std::int32_t spillFlag = 0;  // recovered only: carved record longer than page size - 35
    std::int32_t unassignedFlag = 0;  // recovered only: attributed to the catch-all entry
    // Live messages: the entryId of the conversation that counts the message; -1 for
    // recovered messages and for live ones that no reader has attributed.
    std::int32_t countedIn = -1;
    std::int64_t rowId = 0;  // the row's id in its table (_id, ROWID); 0 when unknown

    bool operator==(const MessageRecord&) const = default;
};
