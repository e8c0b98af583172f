// SQLite's value order, for sorting live rows after reading them.
#include "readers/LiveOrder.h"

OrderKey OrderKey::Of(sqlite3_stmt* row, int column)
{
    OrderKey key;
    switch (sqlite3_column_type(row, column)) {
    case SQLITE_INTEGER:
        key.storageClass = 1;
        key.isInteger = true;
        key.integer = sqlite3_column_int64(row, column);
        key.number = static_cast<long double>(key.integer);
        break;
    case SQLITE_FLOAT:
        key.storageClass = 1;
        key.number = sqlite3_column_double(row, column);
        break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        key.storageClass = sqlite3_column_type(row, column) == SQLITE_TEXT ? 2 : 3;
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, column));
        key.bytes.assign(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
        break;
    }
    default: break;
    }
    return key;
}

bool OrderKey::operator<(const OrderKey& other) const
{
    if (storageClass != other.storageClass) return storageClass < other.storageClass;
    if (storageClass == 1) return isInteger && other.isInteger ? integer < other.integer : number < other.number;
    return bytes < other.bytes;  // BINARY collation: memcmp, then length
}

bool OrderKey::operator==(const OrderKey& other) const
{
    return storageClass == other.storageClass && number == other.number && bytes == other.bytes;
}

void ColumnKeys::Add(sqlite3_stmt* row, int column)
{
    if (sqlite3_column_type(row, column) == SQLITE_INTEGER) {
        m_integers.push_back(sqlite3_column_int64(row, column));
    } else {
        Add(OrderKey::Of(row, column));
    }
}

void ColumnKeys::Add(OrderKey key)
{
    if (key.isInteger) {
        m_integers.push_back(key.integer);
        return;
    }
    m_others.emplace_back(m_integers.size(), std::move(key));
    m_integers.push_back(0);
}

void ColumnKeys::Resize(std::size_t count)
{
    m_integers.resize(count);
    while (!m_others.empty() && m_others.back().first >= count) m_others.pop_back();
}

void ColumnKeys::Append(const ColumnKeys& other)
{
    const std::size_t base = m_integers.size();
    m_integers.insert(m_integers.end(), other.m_integers.begin(), other.m_integers.end());
    for (const auto& [row, key] : other.m_others) m_others.emplace_back(base + row, key);
}

bool ColumnKeys::IsOther(std::size_t i) const
{
    if (m_others.empty()) return false;
    const auto found = std::lower_bound(m_others.begin(), m_others.end(), i,
                                        [](const auto& entry, std::size_t row) { return entry.first < row; });
    return found != m_others.end() && found->first == i;
}

OrderKey ColumnKeys::Key(std::size_t i) const
{
    if (!m_others.empty()) {
        const auto found = std::lower_bound(m_others.begin(), m_others.end(), i,
                                            [](const auto& entry, std::size_t row) { return entry.first < row; });
        if (found != m_others.end() && found->first == i) return found->second;
    }
    OrderKey key;
    key.storageClass = 1;
    key.isInteger = true;
    key.integer = m_integers[i];
    key.number = static_cast<long double>(key.integer);
    return key;
}

std::vector<std::size_t> AscendingOrder(const ColumnKeys& primary, const ColumnKeys* secondary)
{
    const std::size_t n = primary.Size();
    const bool paired = secondary != nullptr && secondary->Size() == n;
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    if (primary.AllIntegers() && (!paired || secondary->AllIntegers())) {
        // Messages are mostly written in time order: then the table order is the order.
        bool sorted = true;
        for (std::size_t i = 1; i < n && sorted; ++i) {
            const std::int64_t a = primary.Integer(i - 1), b = primary.Integer(i);
            sorted = a < b || (a == b && (!paired || secondary->Integer(i - 1) <= secondary->Integer(i)));
        }
        if (sorted) return order;
        // Nearly always: plain integers, sorted as numbers with the position breaking ties.
        struct Entry {
            std::int64_t first, second;
            std::size_t position;
            bool operator<(const Entry& o) const
            {
                if (first != o.first) return first < o.first;
                if (second != o.second) return second < o.second;
                return position < o.position;
            }
        };
        std::vector<Entry> entries(n);
        for (std::size_t i = 0; i < n; ++i) entries[i] = {primary.Integer(i), paired ? secondary->Integer(i) : 0, i};
        std::sort(entries.begin(), entries.end());
        for (std::size_t i = 0; i < n; ++i) order[i] = entries[i].position;
        return order;
    }
    std::vector<OrderKey> first(n), second(paired ? n : 0);
    for (std::size_t i = 0; i < n; ++i) {
        first[i] = primary.Key(i);
        if (paired) second[i] = secondary->Key(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        if (first[a] < first[b]) return true;
        if (first[b] < first[a] || !paired) return false;
        return second[a] < second[b];
    });
    return order;
}
