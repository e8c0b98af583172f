// Filling the store's column schema from the table_info pragma.
#include "readers/ColumnSchema.h"

#include <sqlite3.h>

#include "store/MessageStore.h"
#include "store/TimeText.h"

int OnColumnRow(void* /*unused*/, int /*columnCount*/, char** values, char** /*names*/)
{
    MessageStore& store = g_store;
    if (store.columnCount >= kColumnCapacity) return 0;
    store.columnNames[store.columnCount] = AsciiLower(values[1] ? values[1] : "");
    store.columnTypes[store.columnCount] = AsciiUpper(values[2] ? values[2] : "");
    ++store.columnCount;
    return 0;
}

std::set<std::string> TableColumns(sqlite3* db, const std::string& table)
{
    std::set<std::string> columns;
    sqlite3_exec(
        db, ("PRAGMA table_info(\"" + table + "\")").c_str(),
        [](void* out, int, char** values, char**) {
            static_cast<std::set<std::string>*>(out)->insert(AsciiLower(values[1] ? values[1] : ""));
            return 0;
        },
        &columns, nullptr);
    return columns;
}

std::string ColumnsOrNull(const std::set<std::string>& columns, std::initializer_list<const char*> names, std::string_view prefix)
{
    std::string list;
    for (const char* name : names) {
        if (!list.empty()) list += ", ";
        list += columns.contains(name) ? std::string(prefix) + name : std::string("NULL");
    }
    return list;
}
