// Fuzz target for the log-image builder: a main file and a write-ahead log of arbitrary bytes
// (the first two bytes say where the log starts), the committed frames laid over the file and
// the image opened as SQLite would read it. Checks that every committed page lies inside the
// log and the image, and that reading the image never fails badly.
#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "FuzzTargets.h"
#include "recovery/SqliteFiles.h"

namespace fuzz {

int FuzzWal(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const std::size_t split = std::min<std::size_t>(size - 2, (std::size_t{data[0]} << 8 | data[1]) * 16);
    const std::vector<std::uint8_t> main(data + 2, data + 2 + split);
    const std::vector<std::uint8_t> log(data + 2 + split, data + size);
    const ByteView logBytes(log.data(), log.size());
    const CommittedLog committed = ReadCommittedLog(logBytes);
    Check(committed.validFrames * (std::uint64_t{committed.pageSize} + 24) + 32 <= log.size() || committed.validFrames == 0,
          "valid frames lie inside the log");
    for (const auto& [page, offset] : committed.pages) {
        Check(page != 0 && logBytes.Has(offset, committed.pageSize), "a committed page lies inside the log");
    }
    // Small images only: the builder's arithmetic, not the memory, is under test.
    const std::uint64_t imageSize = std::uint64_t{committed.databasePages} * committed.pageSize;
    if (committed.databasePages == 0 || imageSize > (std::uint64_t{1} << 22)) return 0;
    std::vector<std::uint8_t> image(static_cast<std::size_t>(imageSize), 0);
    std::copy_n(main.begin(), std::min(main.size(), image.size()), image.begin());  // main may be empty
    LayCommittedPages(image, logBytes, committed);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_deserialize(db, "main", image.data(), static_cast<sqlite3_int64>(image.size()),
                            static_cast<sqlite3_int64>(image.size()), SQLITE_DESERIALIZE_READONLY) == SQLITE_OK) {
        sqlite3_exec(db, "PRAGMA writable_schema=ON; SELECT count(*) FROM sqlite_schema;", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    return 0;
}

}  // namespace fuzz
