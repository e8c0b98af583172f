// Building SQLite record bytes and column schemas for the carver and scan tests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "store/MessageStore.h"

namespace records {

using Bytes = std::vector<std::uint8_t>;

// A varint in SQLite's big-endian base-128 form (values below 2^56 need no ninth-byte rule).
inline Bytes Varint(std::uint64_t value)
{
    Bytes groups;
    do {
        groups.insert(groups.begin(), static_cast<std::uint8_t>(value & 0x7F));
        value >>= 7;
    } while (value != 0);
    for (std::size_t i = 0; i + 1 < groups.size(); ++i) groups[i] |= 0x80;
    return groups;
}

struct Column {
    std::uint64_t serialType;
    Bytes content;
};

inline Column Null() { return {0, {}}; }
inline Column Zero() { return {8, {}}; }
inline Column One() { return {9, {}}; }
inline Column Text(const std::string& text)
{
    return {13 + 2 * text.size(), Bytes(text.begin(), text.end())};
}
inline Column Blob(const Bytes& bytes) { return {12 + 2 * bytes.size(), bytes}; }
// A big-endian integer of `width` bytes (1, 2, 3, 4, 6 or 8) with the serial type for it.
inline Column Int(std::uint64_t value, int width)
{
    const std::uint64_t serial = width <= 4 ? width : width == 6 ? 5 : 6;
    Bytes content;
    for (int i = width - 1; i >= 0; --i) content.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return {serial, content};
}

// Header-size varint, serial types, contents. `headerSize` overrides the computed size.
inline Bytes Record(const std::vector<Column>& columns, long headerSize = -1)
{
    Bytes types;
    for (const Column& c : columns) {
        const Bytes v = Varint(c.serialType);
        types.insert(types.end(), v.begin(), v.end());
    }
    Bytes out = Varint(headerSize >= 0 ? static_cast<std::uint64_t>(headerSize) : types.size() + 1);
    out.insert(out.end(), types.begin(), types.end());
    for (const Column& c : columns) out.insert(out.end(), c.content.begin(), c.content.end());
    return out;
}

// Replaces the store's column schema.
inline void SetSchema(const std::vector<std::pair<std::string, std::string>>& columns)
{
    g_store.columnCount = 0;
    for (const auto& [name, type] : columns) {
        g_store.columnNames[g_store.columnCount] = name;
        g_store.columnTypes[g_store.columnCount] = type;
        ++g_store.columnCount;
    }
}

}  // namespace records
