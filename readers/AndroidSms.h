// The Android reader: live rows of mmssms.db (tables canonical_addresses and sms).
#pragma once

#include "store/Sms.h"

class CAndroidSms : public CSms {
public:
    CAndroidSms();

    // Conversations from canonical_addresses (a leading "+86" removed), live messages from
    // sms in ascending date order, the schema of sms. Reads the main file alone: a "-wal"
    // beside it is ignored. Always returns 1.
    std::int32_t LoadDatabase(std::string path) override;

    // Row callbacks for sqlite3_exec; each returns 0.
    static int OnAddressRow(void* unused, int columnCount, char** values, char** names);
    static int OnSmsRow(void* unused, int columnCount, char** values, char** names);

    // Counts each live message in the first conversation whose address equals its own and
    // sets that conversation's recentTime to the time of its last message in list order.
    static void TallyMessages();
};
