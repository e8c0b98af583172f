// The Android reader: live rows of mmssms.db (tables canonical_addresses, sms and threads).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "store/Sms.h"

struct AndroidLoad;
struct SmsBatch;
struct sqlite3_stmt;

class CAndroidSms : public CSms {
public:
    CAndroidSms();

    // Conversations from canonical_addresses (a leading "+86" removed), live messages from
    // sms in ascending date order, the schema of sms. Reads the database as it stands: rows
    // committed to a "-wal" log beside it count, without anything on disk changing. Always
    // returns 1.
    std::int32_t LoadDatabase(std::string path) override;

    // Counts each live message in list order in its conversation and records it in the
    // message's countedIn: the first entry whose address equals the message's, else
    // `fallback[m]` (an entry index, used for message m when it is not negative), else the
    // catch-all entry 0. The entry's recentTime becomes the time of its last message in list
    // order. An empty `fallback` sends every unmatched message to entry 0.
    static void TallyMessages(std::span<const std::int32_t> fallback = {});

    // Row callbacks for sqlite3_exec, each given the load's AndroidLoad; each returns 0.
    static int OnAddressRow(void* load, int columnCount, char** values, char** names);
    // Appends the sms row the statement is on, (address, date, type, body[, thread_id, _id]),
    // to the batch; touches nothing else, so two batches can be read at once.
    static void OnSmsRow(sqlite3_stmt* row, SmsBatch& batch);
    // A thread of one recipient gives its messages to that partner's entry; a thread of
    // several is kept for AddGroupConversations.
    static int OnThreadRow(void* load, int columnCount, char** values, char** names);
    // An entry per thread of several recipients, after the partners' entries: a group whose
    // members are the recipients' addresses, titled by them.
    static void AddGroupConversations(AndroidLoad& load);
};
