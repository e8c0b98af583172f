// The one SQLite kit every library that queries SQLite uses: an owner of a connection, closed
// however its scope is left, and a prepared statement, finalized however its scope is left,
// with bind, step and column helpers.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

// Owns a connection (or none). Out() hands SQLite's open functions the place to put one; the
// connection before, if any, is closed first.
class SqliteHandle {
public:
    SqliteHandle() = default;
    explicit SqliteHandle(sqlite3* db) : m_db(db) {}
    ~SqliteHandle() { sqlite3_close(m_db); }
    SqliteHandle(SqliteHandle&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}
    SqliteHandle& operator=(SqliteHandle&& other) noexcept
    {
        if (this != &other) {
            sqlite3_close(m_db);
            m_db = std::exchange(other.m_db, nullptr);
        }
        return *this;
    }
    SqliteHandle(const SqliteHandle&) = delete;
    SqliteHandle& operator=(const SqliteHandle&) = delete;

    sqlite3* Get() const { return m_db; }
    explicit operator bool() const { return m_db != nullptr; }
    sqlite3** Out()
    {
        Close();
        return &m_db;
    }
    void Close()
    {
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    // Gives the connection up to a caller that closes it.
    sqlite3* Release() { return std::exchange(m_db, nullptr); }

private:
    sqlite3* m_db = nullptr;
};

// A prepared statement; Ok() is false when the SQL could not be prepared (a missing table or
// column), and then Step() finds no row. `handle` is SQLite's own, for the column calls the
// helpers do not cover.
struct Statement {
    sqlite3_stmt* handle = nullptr;

    Statement() = default;
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &handle, nullptr); }
    Statement(sqlite3* db, const std::string& sql) : Statement(db, sql.c_str()) {}
    ~Statement() { sqlite3_finalize(handle); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return handle != nullptr; }
    // True while there is a row to read.
    bool Step() { return handle != nullptr && sqlite3_step(handle) == SQLITE_ROW; }
    // Binds parameter `index` (from 1); the text is copied.
    Statement& Bind(int index, std::int64_t value)
    {
        sqlite3_bind_int64(handle, index, value);
        return *this;
    }
    Statement& Bind(int index, std::string_view text)
    {
        sqlite3_bind_text(handle, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(handle, column); }
    bool IsNull(int column) const { return sqlite3_column_type(handle, column) == SQLITE_NULL; }
    // The value as text; "" for NULL.
    std::string Text(int column) const
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(handle, column));
        return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(handle, column))) : std::string();
    }
    // The value's bytes as SQLite holds them until the next step.
    std::span<const std::uint8_t> Blob(int column) const
    {
        const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(handle, column));
        return {bytes, bytes != nullptr ? static_cast<std::size_t>(sqlite3_column_bytes(handle, column)) : 0};
    }
};

// A column value as SQLite delivers it as text (NULL gives a null pointer).
inline const char* ColumnText(sqlite3_stmt* row, int column)
{
    return reinterpret_cast<const char*>(sqlite3_column_text(row, column));
}
