// Filling the store's column schema from the table_info pragma.
#include "readers/ColumnSchema.h"

#include <sqlite3.h>

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

namespace {

// Calls `row` with the values of each row "PRAGMA table_info" gives for `table`: cid, name,
// type, notnull, dflt_value, pk.
template <typename Row>
void ForEachDeclaredColumn(sqlite3* db, const std::string& table, Row row)
{
    sqlite3_exec(
        db, ("PRAGMA table_info(\"" + table + "\")").c_str(),
        [](void* visit, int, char** values, char**) {
            (*static_cast<Row*>(visit))(values);
            return 0;
        },
        &row, nullptr);
}

std::string Lower(const char* text) { return AsciiLower(text != nullptr ? text : ""); }

}  // namespace

std::set<std::string> TableColumns(sqlite3* db, const std::string& table)
{
    std::set<std::string> columns;
    ForEachDeclaredColumn(db, table, [&](char** values) { columns.insert(Lower(values[1])); });
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
        ForEachDeclaredColumn(db, schema.table, [&](char** values) {
            schema.names.push_back(Lower(values[1]));
            schema.types.push_back(AsciiUpper(values[2] != nullptr ? values[2] : ""));
            if (values[5] == nullptr || std::string_view(values[5]) == "0") return;
            ++keys;
            firstIsIntegerKey = schema.names.size() == 1 && schema.types.back() == "INTEGER";
        });
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
