// Filling the store's column schema from the table_info pragma.
#include "readers/ColumnSchema.h"

#include <sqlite3.h>

#include "readers/LiveOrder.h"
#include "recovery/PhoneColumns.h"
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

std::vector<CSms::TableSchema> ReadPartTableSchemas(sqlite3* db, DeviceKind kind)
{
    std::vector<CSms::TableSchema> schemas;
    for (const CarvedTable table : PartTables(kind)) {
        CSms::TableSchema schema;
        schema.table = std::string(CarvedTableName(table));
        std::int32_t keys = 0;
        bool firstIsIntegerKey = false;
        Statement rows(db, ("PRAGMA table_info(\"" + schema.table + "\")").c_str());
        while (rows.Ok() && sqlite3_step(rows.handle) == SQLITE_ROW) {
            const char* name = reinterpret_cast<const char*>(sqlite3_column_text(rows.handle, 1));
            const char* type = reinterpret_cast<const char*>(sqlite3_column_text(rows.handle, 2));
            schema.names.push_back(AsciiLower(name != nullptr ? name : ""));
            schema.types.push_back(AsciiUpper(type != nullptr ? type : ""));
            if (sqlite3_column_int(rows.handle, 5) == 0) continue;
            ++keys;
            firstIsIntegerKey = schema.names.size() == 1 && schema.types.back() == "INTEGER";
        }
        if (schema.names.empty() || schema.names.size() > static_cast<std::size_t>(kColumnCapacity)) continue;
        // A single INTEGER PRIMARY KEY is the row id itself; any other key is a column of its own.
        schema.rowIdAlias = keys == 1 && firstIsIntegerKey;
        schemas.push_back(std::move(schema));
    }
    return schemas;
}

std::vector<CSms::TableSchema> PartTableLayouts(DeviceKind kind)
{
    std::vector<CSms::TableSchema> schemas;
    for (const CarvedTable table : PartTables(kind)) {
        CSms::TableSchema& schema = schemas.emplace_back();
        schema.table = std::string(CarvedTableName(table));
        for (const PhoneColumn& column : PhoneLayout(kind, table)) {
            schema.names.emplace_back(column.name);
            schema.types.emplace_back(column.type);
        }
        schema.rowIdAlias = table != CarvedTable::RecoverableParts;
    }
    return schemas;
}
