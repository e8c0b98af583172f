// The iPhone reader: live rows of sms.db (tables handle and message).
#pragma once

#include "store/Sms.h"

class CIphoneSms : public CSms {
public:
    CIphoneSms();

    // Conversations from handle (key = ROWID, address = id without a leading "+86"), live
    // messages from message in ascending date order, the schema of message. Rows committed
    // to a "-wal" log are read too. Always returns 1.
    std::int32_t LoadDatabase(std::string path) override;

    // Scans the database file itself in its own page size; see RunRecoveryPass.
    void RecoverDeleted(std::string path, std::int32_t& count) override;

    // Row callbacks for sqlite3_exec; each returns 0.
    static int OnHandleRow(void* unused, int columnCount, char** values, char** names);
    static int OnMessageRow(void* unused, int columnCount, char** values, char** names);

    // For every conversation: the number of live messages whose address equals its key, and
    // the largest of their times (starting from 0) as recentTime.
    static void CountConversationMessages();
};
