// The iPhone reader: live rows of sms.db (tables handle, message and the chat joins).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "store/Sms.h"

class DatabaseReading;

struct sqlite3_stmt;

class CIphoneSms : public CSms {
public:
    CIphoneSms();

    // Conversations from handle (key = ROWID, address = id without a leading "+86"), live
    // messages from message in ascending time order, the schema of message. Dates are kept
    // as seconds since 2001 whatever their stored unit; a message without text takes the one
    // archived in its attributedBody. Rows committed to a "-wal" log are read too. Always
    // returns 1.
    std::int32_t LoadDatabase(std::string path) override;

    // Row callback for sqlite3_exec over (ROWID, id) of handle; returns 0.
    static int OnHandleRow(void* unused, int columnCount, char** values, char** names);
    // Stores the message row the statement is on: (text, handle_id, date, is_from_me, count,
    // ROWID[, attributedBody]).
    static void OnMessageRow(sqlite3_stmt* row);

    // For every conversation: the number of live messages whose address equals its key, and
    // the largest of their times (starting from 0) as recentTime. `fallback[m]` (an entry
    // index, when given and not negative) is the message's chat or group: a group counts it;
    // a one-to-one chat counts it before its key does (a sent message then takes the chat's
    // key as its address); a message that equals no key and has none counts in the catch-all
    // entry 0. Each message's countedIn names the first entry that counts it.
    static void CountConversationMessages(std::span<const std::int32_t> fallback = {});

private:
    // Reads the message rows of the open database into the live list, in time order (rows a
    // damaged table hides included, as far as they can be reached).
    void ReadMessageRows(DatabaseReading& reading);
    // Adds what the messages carry beyond their rows (attachments, reactions, edits) and the
    // chats (group conversations, each chat's entry); returns each message's chat entry (its
    // group's when it is in one), the fallback of CountConversationMessages.
    std::vector<std::int32_t> ReadChats();
};
