// Recording the message table's declared columns, the template the record carvers follow.
#pragma once

// Row callback for "PRAGMA table_info(...)": values are (cid, name, type, notnull, dflt_value,
// pk). Appends the name lower-cased and the type upper-cased (ASCII rules, NULL as empty) to
// the store's schema. Columns beyond the schema's 300 are dropped. Returns 0.
int OnColumnRow(void* unused, int columnCount, char** values, char** names);

#include <initializer_list>
#include <set>
#include <string_view>
#include <string>

#include "store/Sms.h"

struct sqlite3;

// The lower-cased column names of `table` (empty when there is no such table).
std::set<std::string> TableColumns(sqlite3* db, const std::string& table);
// A select list of `names` joined by ", ": each column `prefix` + name where the table has it,
// NULL in its place where it does not, so that the result columns keep their positions.
std::string ColumnsOrNull(const std::set<std::string>& columns, std::initializer_list<const char*> names,
                          std::string_view prefix = {});

// The declared columns of the tables a deep recovery carves besides the message table, for a
// database of that kind (tables the file lacks are left out).
std::vector<CSms::TableSchema> ReadPartTableSchemas(sqlite3* db, DeviceKind kind);
// The same tables in the newest layouts known, for a file too damaged to give its schema.
std::vector<CSms::TableSchema> PartTableLayouts(DeviceKind kind);
