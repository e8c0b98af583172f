// The structure of the three files a database can leave behind (the database itself, its
// write-ahead log and its rollback journal), read from untrusted bytes through one
// bounds-checked view. All multi-byte integers are big-endian.
//
// Database file: pages of `pageSize` bytes, numbered from 1. Page 1 starts with the header:
//   offset size  field
//   0      16    "SQLite format 3\0"
//   16     2     page size (1 means 65536)
//   20     1     bytes reserved at the end of every page (usable size = page size - this)
//   28     4     pages in the database
//   32     4     first freelist trunk page (0: none)
//   36     4     freelist pages in all
// Freelist trunk page: [next trunk 4][leaf count 4][leaf page numbers, 4 each]; leaf pages
// keep whatever they held before they were freed.
//
// B-tree page (its header at offset 100 on page 1, else 0):
//   0  1  type: 2 interior index, 5 interior table, 10 leaf index, 13 leaf table
//   1  2  first freeblock (0: none)      3  2  cells
//   5  2  start of the cell content area (0 means 65536)
//   7  1  fragmented free bytes          8  4  right child (interior pages only)
//   then a 2-byte offset per cell. Between the offsets and the content area lies unallocated
//   space; a freeblock is [next freeblock 2][size 2][...] inside the content area. Both keep
//   the bytes of deleted cells, the freeblock's first four bytes overwritten.
// Table leaf cell: [payload size varint][row id varint][payload][first overflow page 4, when
//   the payload does not fit]; the payload is the record. Overflow page: [next page 4][bytes].
// Example: cell 2F 8A 12 0C 00 … is a payload of 47 bytes for row 1298 whose record header is
//   12 bytes long and starts with the serial type 0.
//
// Write-ahead log: a 32-byte header ([magic 0x377F0682 or 0x377F0683 4][version 4][page size
//   4][checkpoint 4][salt-1 4][salt-2 4][checksum 8]), then frames of a 24-byte header ([page
//   number 4][database size after a commit, else 0 4][salt-1 4][salt-2 4][checksum 8]) and one
//   page. Frames whose salts differ from the header's belong to an earlier log.
//
// A log frame is valid only while the checksums chain: the header's checksum (bytes 24-31)
//   covers its first 24 bytes; each frame's (its bytes 16-23) continues from the previous one
//   over the frame header's first 8 bytes and the page. Checksums sum 32-bit words, big-endian
//   when the magic ends in 3, little-endian when it ends in 2: s0 += w[i] + s1; s1 += w[i+1] + s0.
//   The first frame that breaks the chain (or carries other salts) ends the log; a reader sees
//   the pages of the frames up to the last commit frame before that point.
//
// Rollback journal: a header ([magic D9 D5 05 F9 20 A1 63 D7 8][records 4][nonce 4][pages
//   before 4][sector size 4][page size 4]) padded to the sector size, then records of [page
//   number 4][the page as it was][checksum 4]. A persisted journal has its header zeroed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <string_view>
#include <vector>

// A bounds-checked view of untrusted bytes. Reads outside the view give 0 (or nothing); the
// callers check ranges once with Has() where they need the bytes whole.
class ByteView {
public:
    ByteView() = default;
    ByteView(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    const std::uint8_t* Data() const { return m_data; }
    std::size_t Size() const { return m_size; }
    bool Has(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }
    std::uint8_t U8(std::uint64_t offset) const { return offset < m_size ? m_data[offset] : 0; }
    std::uint32_t U16(std::uint64_t offset) const
    {
        return Has(offset, 2) ? (std::uint32_t{m_data[offset]} << 8) | m_data[offset + 1] : 0;
    }
    std::uint32_t U32(std::uint64_t offset) const
    {
        if (!Has(offset, 4)) return 0;
        return (std::uint32_t{m_data[offset]} << 24) | (std::uint32_t{m_data[offset + 1]} << 16) |
               (std::uint32_t{m_data[offset + 2]} << 8) | m_data[offset + 3];
    }
    // The view of `length` bytes at `offset`, cut to what exists.
    ByteView Sub(std::uint64_t offset, std::uint64_t length) const
    {
        if (offset >= m_size) return {};
        return {m_data + offset, static_cast<std::size_t>(length < m_size - offset ? length : m_size - offset)};
    }
    std::string_view Text(std::uint64_t offset, std::uint64_t length) const
    {
        const ByteView part = Sub(offset, length);
        return {reinterpret_cast<const char*>(part.m_data), part.m_size};
    }

    struct Varint {
        std::uint64_t value = 0;
        std::uint32_t length = 0;  // 0: it runs off the end of the view
    };
    // SQLite's varint: 1 to 9 bytes, the ninth contributing all eight bits.
    Varint VarintAt(std::uint64_t offset) const
    {
        Varint v;
        for (std::uint32_t i = 0; i < 9; ++i) {
            if (offset + i >= m_size) return {};
            const std::uint8_t byte = m_data[offset + i];
            if (i == 8) return {(v.value << 8) | byte, 9};
            v.value = (v.value << 7) | (byte & 0x7F);
            if (byte < 0x80) return {v.value, i + 1};
        }
        return {};
    }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

// How many bytes of a table leaf cell's payload stay on its page (usable size U): all of it
// up to U - 35 bytes; beyond, K = M + (P - M) mod (U - 4) with M = (U - 12) x 32 / 255 - 23,
// or M when K exceeds U - 35. The rest continues on overflow pages.
inline std::uint64_t LocalPayloadSize(std::uint64_t payloadSize, std::uint32_t usable)
{
    const std::uint64_t maxLocal = usable - 35;
    if (payloadSize <= maxLocal) return payloadSize;
    const std::uint64_t minLocal = (std::uint64_t{usable} - 12) * 32 / 255 - 23;
    const std::uint64_t k = minLocal + (payloadSize - minLocal) % (usable - 4);
    return k <= maxLocal ? k : minLocal;
}

constexpr std::uint8_t kLeafTablePage = 13;
constexpr std::uint8_t kInteriorTablePage = 5;
constexpr std::uint8_t kLeafIndexPage = 10;
constexpr std::uint8_t kInteriorIndexPage = 2;

struct DatabaseHeader {
    std::uint32_t pageSize = 4096;
    std::uint32_t usableSize = 4096;
    std::uint32_t pageCount = 0;
    std::uint32_t firstTrunk = 0;
    std::uint32_t freelistPages = 0;
};

// The header of a database file; nothing when the bytes do not start with one.
std::optional<DatabaseHeader> ReadDatabaseHeader(ByteView file);

// The page numbers of the freelist (trunk and leaf pages), following the trunk chain while it
// stays in range and without loops. `trunks` receives the trunk pages.
std::vector<std::uint32_t> FreelistPages(ByteView file, const DatabaseHeader& header, std::vector<std::uint32_t>& trunks);

// A b-tree page's layout, checked for consistency.
struct BtreePage {
    std::uint8_t type = 0;
    std::uint32_t headerOffset = 0;  // 100 on page 1
    std::vector<std::uint32_t> cells;  // cell offsets, in pointer order
    std::uint32_t pointersEnd = 0;     // the end of the cell pointer array
    std::uint32_t contentStart = 0;    // the start of the cell content area
    struct Range {
        std::uint32_t begin, end;
    };
    std::vector<Range> freeblocks;  // in chain order
};

// The b-tree layout of `page` (one page, `usableSize` bytes of it in use), or nothing when its
// header does not describe a consistent b-tree page.
std::optional<BtreePage> ReadBtreePage(ByteView page, std::uint32_t pageNumber, std::uint32_t usableSize);

// One version of a page found in a log or a journal.
struct PageRecord {
    std::uint32_t pageNumber = 0;
    std::uint64_t offset = 0;  // of the page's first byte in its file
    std::uint32_t frame = 0;   // position among the file's page records
    bool latest = false;       // log only: the newest committed version of its page
};

struct LogLayout {
    std::uint32_t pageSize = 0;
    std::vector<PageRecord> pages;
    std::uint64_t parsedEnd = 0;  // bytes after this are not part of a whole frame
};

// The frames of a write-ahead log. Every frame is listed, whatever its salts; `latest` marks,
// for each page, the last frame of the log's current salts up to its last commit.
// `fallbackPageSize` is used when the header is unreadable.
LogLayout ReadLog(ByteView log, std::uint32_t fallbackPageSize);

// What a write-ahead log commits, as SQLite itself would read it.
struct CommittedLog {
    std::uint32_t pageSize = 0;       // from the log's header; 0 when the header is unusable
    std::uint32_t databasePages = 0;  // the database's size after the last valid commit; 0: none
    std::uint32_t validFrames = 0;    // frames up to and with the last valid commit
    // The newest committed version of each page: page number and the offset of its bytes in
    // the log, in ascending page order.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> pages;
};

// Reads the log's header and frames with their salts and chained checksums. A log whose header
// is damaged, or that holds no valid commit, commits nothing (databasePages 0).
CommittedLog ReadCommittedLog(ByteView log);

// The bytes of the database as a reader sees it with `committed` applied: `image` (of
// `committed.databasePages` x pageSize bytes, filled beforehand with the main file's bytes and
// zeros past its end) gets each committed page laid over it. Then the header is made to suit
// an image read from memory: read/write versions 1 (no log to look for) and the page count of
// the image. Pages beyond the image are ignored.
void LayCommittedPages(std::span<std::uint8_t> image, ByteView log, const CommittedLog& committed);

// Makes page 1 of an in-memory image describe the image: legacy (non-log) file format, page
// count and its "valid for" number set so that SQLite trusts the count. Does nothing to an
// image shorter than a header.
void PrepareHeaderForMemory(std::span<std::uint8_t> image, std::uint32_t pageSize);

struct JournalLayout {
    std::uint32_t pageSize = 0;
    std::vector<PageRecord> pages;
    struct Range {
        std::uint64_t begin, end;
    };
    std::vector<Range> unparsed;  // bytes that belong to no header and no page record
};

// The page records of a rollback journal, header by header. A zeroed (persisted) header is
// read with `databasePageSize` and the usual sector sizes; a page number is plausible up to
// `maxPage`.
JournalLayout ReadJournal(ByteView journal, std::uint32_t databasePageSize, std::uint32_t maxPage);
