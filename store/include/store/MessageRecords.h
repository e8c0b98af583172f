// The two record types of the message store: one conversation partner and one message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
    std::string name{};  // the partner's name in the phone's contacts; empty when none is known

    bool operator==(const ContactRecord&) const = default;
};

// Where in the files a recovered message's bytes were found (deep recovery).
enum class PlaceKind : std::uint8_t {
    CellInUse,        // a cell of a table page (an older version, or a row deleted since)
    Freeblock,        // a freed cell on its page's chain of free blocks
    Unallocated,      // the gap between a page's cell pointers and its cells
    FreelistPage,     // a page on the database's list of free pages
    OlderLogVersion,  // a version of a page in the write-ahead log older than its latest
    JournalPage,      // a page image kept by the rollback journal
    Unstructured,     // bytes outside any whole page (the end of a file)
};

// The words reports use for a place: "cell in use", "freeblock", "unallocated space",
// "freelist page", "older page version in the log", "journal page", "outside any page".
const char* PlaceText(PlaceKind kind);

struct FindPlace {
    std::string file;          // the file that holds the bytes
    std::int64_t offset = 0;   // of the record (its header-size byte) in that file
    std::int64_t page = 0;     // page number in the database (for a log frame or a journal
                               // record, the page it holds); 0 when outside any page
    PlaceKind where = PlaceKind::Unstructured;
    bool operator==(const FindPlace&) const = default;
};

// One message, live or recovered.
struct MessageRecord {
    std::string body;
    std::int32_t fromMe = 0;     // 1 when the phone's owner sent it
    std::int64_t time = 0;       // Android: ms since 1970 UTC; iPhone: s since 2001 UTC; 0 = none
    std::string address;         // Android: partner's number; iPhone: handle key as decimal text
    std::int32_t spillFlag = 0;  // recovered only: carved record longer than page size - 35
    std::int32_t unassignedFlag = 0;  // recovered only: attributed to the catch-all entry
    // The entryId of the conversation that counts the message: for live messages the reader's
    // choice; for recovered ones only where their thread named it (Android finds whose address
    // matches no conversation); -1 otherwise.
    std::int32_t countedIn = -1;
    std::int64_t rowId = 0;  // the row's id in its table (_id, ROWID); 0 when unknown
    std::int64_t threadId = 0;  // Android: the row's thread_id; 0 when unknown
    // Deep recovery only: every place the message was found, and whether its text was cut
    // short (the rest of a long message lay on overflow pages that are gone).
    std::vector<FindPlace> places;
    std::int32_t truncated = 0;

    bool operator==(const MessageRecord&) const = default;
};
