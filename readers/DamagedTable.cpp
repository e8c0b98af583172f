// Skipping over the unreadable pages of a table.
#include "readers/DamagedTable.h"

#include <cstdint>
#include <limits>
#include <optional>

#include "readers/LiveOrder.h"

namespace {

// What a seek to the first row id above `after` gives: an error, no row, or that row's id.
struct Seek {
    bool failed = false;
    std::optional<std::int64_t> id;
};

Seek SeekAbove(sqlite3_stmt* probe, std::int64_t after)
{
    sqlite3_reset(probe);
    sqlite3_bind_int64(probe, 1, after);
    const int rc = sqlite3_step(probe);
    if (rc == SQLITE_ROW) {
        // A row not above the start is a damaged page's, not one this seek may land on.
        const std::int64_t id = sqlite3_column_int64(probe, 0);
        if (id <= after) return {true, std::nullopt};
        return {false, id};
    }
    return {rc != SQLITE_DONE, std::nullopt};
}

// The first row id above `failing` that a seek reaches, searching ever larger gaps and then
// the smallest start that works; nothing when no row past the damage can be reached.
std::optional<std::int64_t> NextReachable(sqlite3_stmt* probe, std::int64_t failing)
{
    constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
    std::int64_t low = failing;  // a seek above `low` fails
    std::int64_t gap = 1;
    // Gaps and halves in unsigned arithmetic: the ids may span the whole signed range.
    auto distance = [](std::int64_t from, std::int64_t to) { return static_cast<std::uint64_t>(to) - static_cast<std::uint64_t>(from); };
    for (;;) {
        const std::int64_t at = low > kLargest - gap ? kLargest : low + gap;
        const Seek seek = SeekAbove(probe, at);
        if (!seek.failed) {
            // Between `low` (failing) and `at` (working): the smallest start that works.
            std::int64_t high = at;
            std::optional<std::int64_t> found = seek.id;
            while (distance(low, high) > 1) {
                const auto middle = static_cast<std::int64_t>(static_cast<std::uint64_t>(low) + distance(low, high) / 2);
                const Seek inner = SeekAbove(probe, middle);
                if (inner.failed) {
                    low = middle;
                } else {
                    high = middle;
                    found = inner.id;
                }
            }
            return found;
        }
        if (at == kLargest) return std::nullopt;
        low = at;
        gap = gap > kLargest / 2 ? kLargest : gap * 2;
    }
}

}  // namespace

int StepInIdOrder(sqlite3_stmt* statement, int idIndex, std::int64_t& last)
{
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW) return rc;
    const std::int64_t id = sqlite3_column_int64(statement, idIndex);
    if (id <= last) return SQLITE_CORRUPT;
    last = id;
    return rc;
}

int ReadOnPastDamage(sqlite3* db, const std::string& select, const std::string& table, const std::string& idColumn,
                     int idIndex, std::int64_t after, const std::function<void(sqlite3_stmt*)>& onRow)
{
    Statement rows(db, (select + " WHERE " + idColumn + " > ?1 ORDER BY " + idColumn + ";").c_str());
    Statement probe(db, ("SELECT " + idColumn + " FROM " + table + " WHERE " + idColumn + " > ?1 ORDER BY " +
                         idColumn + " LIMIT 1;").c_str());
    if (!rows.Ok() || !probe.Ok()) return sqlite3_errcode(db);
    int firstFailure = SQLITE_DONE;
    std::int64_t last = after;
    for (bool first = true;; first = false) {
        sqlite3_reset(rows.handle);
        sqlite3_bind_int64(rows.handle, 1, last);
        int rc;
        bool readAny = false;
        while ((rc = StepInIdOrder(rows.handle, idIndex, last)) == SQLITE_ROW) {
            readAny = true;
            onRow(rows.handle);
        }
        if (rc == SQLITE_DONE) return firstFailure;
        if (firstFailure == SQLITE_DONE) firstFailure = rc;
        const std::optional<std::int64_t> next = NextReachable(probe.handle, last);
        if (!next) return firstFailure;
        // A row that a seek reaches but that cannot be read itself (its overflow pages gone)
        // is passed over, or the reading would stop at it again and again.
        last = readAny || first ? *next - 1 : *next;
    }
}
