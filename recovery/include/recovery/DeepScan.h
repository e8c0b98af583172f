// The deep recovery: every file that can hold old message bytes (the database, its log or a
// log set aside by an older program, its rollback journal), each parsed by its structure and
// every page carved for message records of every shape; finds that are live rows are dropped,
// and a message found in several places is reported once, with all of them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recovery/DeepRecords.h"
#include "recovery/LiveCopies.h"
#include "recovery/Merge.h"
#include "recovery/SqliteFiles.h"
#include "store/MessageRecords.h"
#include "store/Sms.h"


// The decoders of the tables a scan looks for, tried in turn at each byte (the message
// table's first).
using Decoders = std::span<const DeepDecoder* const>;

// The finds in a database file image (`file` names it in the places).
void ScanDatabaseImage(ByteView image, const std::string& file, Decoders decoders, std::vector<RawFind>& finds);
// The finds in a write-ahead log image, its pages `pageSize` bytes of which `usable` are used.
void ScanLogImage(ByteView image, const std::string& file, std::uint32_t pageSize, std::uint32_t usable,
                  Decoders decoders, std::vector<RawFind>& finds);
// The finds in a rollback journal image.
void ScanJournalImage(ByteView image, const std::string& file, std::uint32_t pageSize, std::uint32_t usable,
                      std::uint32_t maxPage, Decoders decoders, std::vector<RawFind>& finds);
// The same for the message table alone.
inline void ScanDatabaseImage(ByteView image, const std::string& file, const DeepDecoder& decoder,
                              std::vector<RawFind>& finds)
{
    const DeepDecoder* one = &decoder;
    ScanDatabaseImage(image, file, Decoders(&one, 1), finds);
}

// The deep recovery of the database at `path` for the current store: reads `path`, its
// "-wal-undelete" and "-wal" logs and its "-journal" when they exist (never writing any),
// and leaves the recovered list and a ScanReport with deep set and every source listed in the
// reader. Progress 0 to 90 while reading and carving, 90 to 100 while merging.
void RunDeepRecovery(CSms& reader, const std::string& path);
