// The process-wide message store: what was read from the database opened last.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/MessageRecords.h"
#include "store/Sms.h"

constexpr std::int32_t kConversationCapacity = 5000;  // slots in the conversation table
constexpr std::int32_t kConversationLimit = 4999;     // readers never fill the last slot
constexpr std::int32_t kColumnCapacity = 300;         // columns the schema can describe

struct MessageStore {
    std::array<ContactRecord, kConversationCapacity> conversations;
    std::int32_t conversationCount = 1;  // entry 0 included

    std::vector<MessageRecord> liveMessages;  // created at its final size; empty = none
    std::int32_t liveMessageCount = 0;

    std::unique_ptr<CSms> currentReader;

    // The column schema of the message table of the file opened last: names lower-cased,
    // declared types upper-cased, in table column order. The carvers use it as their template.
    std::array<std::string, kColumnCapacity> columnNames;
    std::array<std::string, kColumnCapacity> columnTypes;
    std::int32_t columnCount = 0;

    std::int32_t alternateCarving = 0;

    // iPhone only: 1 when the message table keeps nanosecond dates (a live date of 1e11 or
    // more in absolute value, or no live row at all), so that the carver also accepts 8-byte
    // dates. Set by each iPhone load.
    std::int32_t iphoneNanosecondDates = 0;

    // Returns every member to its state at program start (no reader, empty schema). The
    // program itself never calls this; tests use it to begin each case from a fresh store.
    void RestoreProgramStart();
};

// The one store of the process.
extern MessageStore g_store;

// Sets the alternate carving mode for a scope and clears it however the scope is left.
class AlternateCarvingScope {
public:
    explicit AlternateCarvingScope(bool on) { g_store.alternateCarving = on ? 1 : 0; }
    ~AlternateCarvingScope() { g_store.alternateCarving = 0; }
    AlternateCarvingScope(const AlternateCarvingScope&) = delete;
    AlternateCarvingScope& operator=(const AlternateCarvingScope&) = delete;
};

// Empties the store before a new reader replaces the current one: releases the live list and
// the current reader's recovered list, sets conversationCount to 1 and clears all 5000
// entries. The column schema is left for the next load to refill.
void ResetStore();
