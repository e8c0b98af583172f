// Putting live messages in date order without asking SQLite to sort whole rows: a sort of
// rows that carry their texts costs SQLite more than the reading itself, so the readers read
// in table order and sort here, by the rules SQLite applies to ORDER BY.
#pragma once

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "store/SqliteKit.h"

// One value's place in SQLite's ascending order: NULL first, then numbers by value (integers
// and reals compared exactly), then texts byte by byte, then blobs.
struct OrderKey {
    int storageClass = 0;  // 0 NULL, 1 number, 2 text, 3 blob
    bool isInteger = false;  // a number stored as an integer: `integer` holds it exactly
    std::int64_t integer = 0;
    long double number = 0;
    std::string bytes;

    // Reads column `column` of the row; call before any text conversion of that column.
    static OrderKey Of(sqlite3_stmt* row, int column);
    bool operator<(const OrderKey& other) const;
    bool operator==(const OrderKey& other) const;
};

// The keys of a column, compact for the usual case of plain integers (a date in every row).
class ColumnKeys {
public:
    void Reserve(std::size_t count) { m_integers.reserve(count); }
    // Appends the key of column `column` of the row; call before any text conversion of it.
    void Add(sqlite3_stmt* row, int column);
    void Add(OrderKey key);
    std::size_t Size() const { return m_integers.size(); }
    void Resize(std::size_t count);
    // Appends the keys of `other` after these (its rows numbered on from Size()).
    void Append(const ColumnKeys& other);
    bool AllIntegers() const { return m_others.empty(); }
    std::int64_t Integer(std::size_t i) const { return m_integers[i]; }
    // The full key of row i.
    OrderKey Key(std::size_t i) const;
    // Replaces every integer key by `map(key)`; others by mapping their value with `mapOther`.
    template <typename MapInteger, typename MapOther>
    void Transform(MapInteger mapInteger, MapOther mapOther)
    {
        for (std::size_t i = 0; i < m_integers.size(); ++i) {
            if (!IsOther(i)) m_integers[i] = mapInteger(m_integers[i]);
        }
        for (auto& [row, key] : m_others) mapOther(key);
    }

private:
    bool IsOther(std::size_t i) const;

    std::vector<std::int64_t> m_integers;                 // per row; 0 for rows kept in m_others
    std::vector<std::pair<std::size_t, OrderKey>> m_others;  // rows whose value is not an integer, by row
};

// The rows in ascending order of (primary, secondary), secondary being optional (empty);
// equal keys keep their table order, as SQLite's sorter does.
std::vector<std::size_t> AscendingOrder(const ColumnKeys& primary, const ColumnKeys* secondary);

// Reorders `items` so that items[i] becomes the element formerly at order[i].
template <typename T>
void ApplyOrder(std::vector<T>& items, const std::vector<std::size_t>& order)
{
    bool identity = true;
    for (std::size_t i = 0; i < order.size() && identity; ++i) identity = order[i] == i;
    if (identity) return;
    if (order.size() == items.size()) {
        // A permutation: followed cycle by cycle in place, so that a list of a million
        // messages is never held twice.
        std::vector<bool> placed(items.size(), false);
        for (std::size_t start = 0; start < items.size(); ++start) {
            if (placed[start] || order[start] == start) continue;
            T held = std::move(items[start]);
            for (std::size_t at = start;;) {
                const std::size_t from = order[at];
                placed[at] = true;
                if (from == start) {
                    items[at] = std::move(held);
                    break;
                }
                items[at] = std::move(items[from]);
                at = from;
            }
        }
        return;
    }
    std::vector<T> sorted;
    sorted.reserve(order.size());
    for (const std::size_t from : order) sorted.push_back(std::move(items[from]));
    if (sorted.size() == items.size()) {
        items.swap(sorted);  // one pass of moves, not two
        return;
    }
    for (std::size_t i = 0; i < sorted.size(); ++i) items[i] = std::move(sorted[i]);
}
