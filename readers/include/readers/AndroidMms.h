// The MMS of an Android message database: tables pdu (one row per message), part (its text
// and files) and addr (who sent it and to whom).
#pragma once

#include <cstdint>
#include <vector>

#include "store/MessageRecords.h"

struct sqlite3;

struct MmsMessage {
    MessageRecord record;
    std::int64_t threadId = 0;
};

// Every MMS the phone shows as a message (sent, received, and notifications of messages not
// yet downloaded; delivery and read reports are not messages), in table order. Times are
// milliseconds like the sms table's (the pdu table keeps seconds). A received message's
// address is its FROM address; a sent one's address is its recipients joined by
// ", ". Empty when the database has no pdu table.
std::vector<MmsMessage> ReadMmsMessages(sqlite3* db);

