// Reading the rows of a table whose b-tree is damaged (a page missing or unreadable): SQLite
// stops at the first bad page, although the rows of the pages after it can still be reached.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>

// sqlite3_step for a statement that reads a table in row-id order (row id in column `idIndex`),
// with `last` the id of the row before: a row whose id is not above it means the b-tree is
// damaged (a page of another version, a cycle) and gives SQLITE_CORRUPT instead, so that no
// reading goes round for ever. On a row, `last` becomes its id.
int StepInIdOrder(sqlite3_stmt* statement, int idIndex, std::int64_t& last);

// Reads the rows of `table` with row ids above `after`, in row-id order, through `select` (a
// "SELECT … FROM table" without WHERE, whose column `idIndex` is the row id `idColumn`),
// calling `onRow` for each. Where a read fails, the next row id that can be reached is looked
// for (the gap doubled until a seek succeeds, then halved back to the smallest one that does)
// and the reading goes on from there, so that only the rows of the unreadable pages are lost.
// Returns the first failure's result code, or SQLITE_DONE when nothing failed.
int ReadOnPastDamage(sqlite3* db, const std::string& select, const std::string& table, const std::string& idColumn,
                     int idIndex, std::int64_t after, const std::function<void(sqlite3_stmt*)>& onRow);
