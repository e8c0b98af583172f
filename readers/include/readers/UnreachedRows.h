// Rows of a damaged message table that SQLite cannot reach any more (the interior page that
// named their leaf page is lost) but whose cells are still in use on their leaf pages: they are
// live messages, read here from the pages themselves.
#pragma once

#include <span>
#include <vector>

#include "readers/DatabaseOpen.h"
#include "store/MessageStore.h"

// The live rows of the message table (the store's schema, device `kind`) on the table leaf
// pages of the database as `reading` reads it whose row ids are not among `read` (the rows
// SQLite gave), decoded with the deep recovery's checks. Nothing for a reading that found no
// damage or that reads a private copy.
std::vector<MessageRecord> UnreachedRows(const DatabaseReading& reading, const MessageStore& store, DeviceKind kind,
                                         std::span<const MessageRecord> read);
