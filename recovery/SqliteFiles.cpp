// Reading the structure of database files, logs and journals.
#include "recovery/SqliteFiles.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace {

constexpr std::size_t kDatabaseHeaderSize = 100;
constexpr std::uint8_t kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', 0};
constexpr std::uint32_t kLogMagic = 0x377F0682;  // the low bit tells the checksum byte order
constexpr std::size_t kLogHeaderSize = 32;
constexpr std::size_t kFrameHeaderSize = 24;
constexpr std::uint8_t kJournalMagic[8] = {0xD9, 0xD5, 0x05, 0xF9, 0x20, 0xA1, 0x63, 0xD7};
constexpr std::uint32_t kDefaultSector = 512;  // the smallest sector a journal header is padded to

bool ValidPageSize(std::uint32_t size) { return size >= 512 && size <= 65536 && (size & (size - 1)) == 0; }

bool JournalMagicAt(ByteView journal, std::uint64_t offset)
{
    return journal.Has(offset, 8) && std::memcmp(journal.Data() + offset, kJournalMagic, 8) == 0;
}

}  // namespace

std::optional<DatabaseHeader> ReadDatabaseHeader(ByteView file)
{
    if (!file.Has(0, kDatabaseHeaderSize) || std::memcmp(file.Data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
    DatabaseHeader header;
    const std::uint32_t field = file.U16(16);
    header.pageSize = field == 1 ? 65536 : field;
    if (!ValidPageSize(header.pageSize)) return std::nullopt;
    const std::uint32_t reserved = file.U8(20);
    if (reserved >= header.pageSize / 2) return std::nullopt;
    header.usableSize = header.pageSize - reserved;
    header.pageCount = file.U32(28);
    header.firstTrunk = file.U32(32);
    header.freelistPages = file.U32(36);
    return header;
}

std::vector<std::uint32_t> FreelistPages(ByteView file, const DatabaseHeader& header, std::vector<std::uint32_t>& trunks)
{
    std::vector<std::uint32_t> pages;
    trunks.clear();
    const std::uint64_t pagesInFile = file.Size() / header.pageSize;
    std::set<std::uint32_t> seen;
    std::uint32_t trunk = header.firstTrunk;
    while (trunk != 0 && trunk <= pagesInFile && seen.insert(trunk).second) {
        trunks.push_back(trunk);
        pages.push_back(trunk);
        const std::uint64_t at = std::uint64_t{trunk - 1} * header.pageSize;
        const std::uint32_t count = file.U32(at + 4);
        const std::uint32_t fits = (header.usableSize - 8) / 4;
        for (std::uint32_t i = 0; i < count && i < fits; ++i) {
            const std::uint32_t leaf = file.U32(at + 8 + 4 * std::uint64_t{i});
            if (leaf != 0 && leaf <= pagesInFile) pages.push_back(leaf);
        }
        trunk = file.U32(at);
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    return pages;
}

std::optional<BtreePage> ReadBtreePage(ByteView page, std::uint32_t pageNumber, std::uint32_t usableSize)
{
    BtreePage result;
    result.headerOffset = pageNumber == 1 ? kDatabaseHeaderSize : 0;
    const std::uint32_t h = result.headerOffset;
    usableSize = std::min<std::uint32_t>(usableSize, static_cast<std::uint32_t>(page.Size()));
    if (h + 8 > usableSize) return std::nullopt;
    result.type = page.U8(h);
    if (result.type != kLeafTablePage && result.type != kInteriorTablePage && result.type != kLeafIndexPage &&
        result.type != kInteriorIndexPage) {
        return std::nullopt;
    }
    const bool interior = result.type == kInteriorTablePage || result.type == kInteriorIndexPage;
    const std::uint32_t cellCount = page.U16(h + 3);
    std::uint32_t contentStart = page.U16(h + 5);
    if (contentStart == 0) contentStart = 65536;
    result.pointersEnd = h + (interior ? 12 : 8) + 2 * cellCount;
    if (result.pointersEnd > contentStart || contentStart > usableSize) return std::nullopt;
    result.contentStart = contentStart;
    result.cells.reserve(cellCount);
    for (std::uint32_t i = 0; i < cellCount; ++i) {
        const std::uint32_t cell = page.U16(result.pointersEnd - 2 * cellCount + 2 * i);
        if (cell < contentStart || cell >= usableSize) return std::nullopt;
        result.cells.push_back(cell);
    }
    // The freeblock chain: ascending offsets inside the content area, each at least 4 bytes.
    std::uint32_t block = page.U16(h + 1);
    std::uint32_t previousEnd = contentStart;
    while (block != 0) {
        const std::uint32_t size = page.U16(block + 2);
        if (block < previousEnd || size < 4 || block + size > usableSize) break;  // a damaged chain ends here
        result.freeblocks.push_back({block, block + size});
        previousEnd = block + size;
        block = page.U16(block);
    }
    return result;
}

LogLayout ReadLog(ByteView log, std::uint32_t fallbackPageSize)
{
    LogLayout layout;
    const bool headerOk = log.Has(0, kLogHeaderSize) && (log.U32(0) & ~1u) == kLogMagic && ValidPageSize(log.U32(8));
    layout.pageSize = headerOk ? log.U32(8) : fallbackPageSize;
    if (!ValidPageSize(layout.pageSize)) return layout;
    const std::uint32_t salt1 = log.U32(16), salt2 = log.U32(20);
    const std::uint64_t frameSize = kFrameHeaderSize + std::uint64_t{layout.pageSize};
    std::uint64_t lastCommit = 0;  // frames up to this one (exclusive) are committed
    for (std::uint64_t at = kLogHeaderSize; log.Has(at, frameSize); at += frameSize) {
        PageRecord record;
        record.pageNumber = log.U32(at);
        record.offset = at + kFrameHeaderSize;
        record.frame = static_cast<std::uint32_t>(layout.pages.size());
        const bool current = headerOk && log.U32(at + 8) == salt1 && log.U32(at + 12) == salt2;
        if (current && log.U32(at + 4) != 0) lastCommit = layout.pages.size() + 1;
        layout.pages.push_back(record);
        layout.parsedEnd = at + frameSize;
    }
    if (layout.parsedEnd == 0) layout.parsedEnd = std::min<std::uint64_t>(log.Size(), kLogHeaderSize);
    // The newest committed frame of each page is that page's current version.
    std::map<std::uint32_t, std::size_t> newest;
    for (std::size_t i = 0; i < lastCommit; ++i) {
        const std::uint64_t at = layout.pages[i].offset - kFrameHeaderSize;
        if (log.U32(at + 8) == salt1 && log.U32(at + 12) == salt2) newest[layout.pages[i].pageNumber] = i;
    }
    for (const auto& [page, index] : newest) layout.pages[index].latest = true;
    return layout;
}

namespace {

// SQLite's log checksum over `bytes` (a multiple of 8 long), continuing from `s`.
void LogChecksum(ByteView bytes, bool bigEndian, std::uint32_t s[2])
{
    const std::uint8_t* p = bytes.Data();
    auto word = [bigEndian](const std::uint8_t* w) {
        return bigEndian ? (std::uint32_t{w[0]} << 24) | (std::uint32_t{w[1]} << 16) | (std::uint32_t{w[2]} << 8) | w[3]
                         : (std::uint32_t{w[3]} << 24) | (std::uint32_t{w[2]} << 16) | (std::uint32_t{w[1]} << 8) | w[0];
    };
    for (std::size_t i = 0; i + 8 <= bytes.Size(); i += 8) {
        s[0] += word(p + i) + s[1];
        s[1] += word(p + i + 4) + s[0];
    }
}

constexpr std::uint32_t kLogVersion = 3007000;

}  // namespace

CommittedLog ReadCommittedLog(ByteView log)
{
    CommittedLog result;
    if (!log.Has(0, kLogHeaderSize) || (log.U32(0) & ~1u) != kLogMagic || log.U32(4) != kLogVersion) return result;
    const std::uint32_t pageSize = log.U32(8);
    if (!ValidPageSize(pageSize)) return result;
    const bool bigEndian = (log.U32(0) & 1) != 0;
    std::uint32_t sum[2] = {0, 0};
    LogChecksum(log.Sub(0, 24), bigEndian, sum);
    if (sum[0] != log.U32(24) || sum[1] != log.U32(28)) return result;
    result.pageSize = pageSize;
    const std::uint32_t salt1 = log.U32(16), salt2 = log.U32(20);
    const std::uint64_t frameSize = kFrameHeaderSize + std::uint64_t{pageSize};
    std::map<std::uint32_t, std::uint64_t> pending;  // pages of the frames since the last commit
    std::map<std::uint32_t, std::uint64_t> committed;
    std::uint32_t frames = 0;
    for (std::uint64_t at = kLogHeaderSize; log.Has(at, frameSize); at += frameSize) {
        const std::uint32_t page = log.U32(at);
        if (page == 0 || log.U32(at + 8) != salt1 || log.U32(at + 12) != salt2) break;
        LogChecksum(log.Sub(at, 8), bigEndian, sum);
        LogChecksum(log.Sub(at + kFrameHeaderSize, pageSize), bigEndian, sum);
        if (sum[0] != log.U32(at + 16) || sum[1] != log.U32(at + 20)) break;
        ++frames;
        pending[page] = at + kFrameHeaderSize;
        if (const std::uint32_t size = log.U32(at + 4); size != 0) {
            for (const auto& [number, offset] : pending) committed[number] = offset;
            pending.clear();
            result.databasePages = size;
            result.validFrames = frames;
        }
    }
    result.pages.assign(committed.begin(), committed.end());
    return result;
}

void LayCommittedPages(std::span<std::uint8_t> image, ByteView log, const CommittedLog& committed)
{
    const std::uint64_t pageSize = committed.pageSize;
    if (pageSize == 0) return;
    for (const auto& [number, offset] : committed.pages) {
        const std::uint64_t at = std::uint64_t{number - 1} * pageSize;
        if (at + pageSize > image.size() || !log.Has(offset, pageSize)) continue;
        std::memcpy(image.data() + at, log.Data() + offset, pageSize);
    }
    PrepareHeaderForMemory(image, committed.pageSize);
}

void PrepareHeaderForMemory(std::span<std::uint8_t> image, std::uint32_t pageSize)
{
    if (image.size() < kDatabaseHeaderSize || pageSize == 0) return;
    image[18] = 1;
    image[19] = 1;
    const auto pages = static_cast<std::uint32_t>(image.size() / pageSize);
    for (int b = 0; b < 4; ++b) {
        image[28 + b] = static_cast<std::uint8_t>(pages >> (24 - 8 * b));
        image[92 + b] = image[24 + b];  // "valid for" the current change counter
    }
}

JournalLayout ReadJournal(ByteView journal, std::uint32_t databasePageSize, std::uint32_t maxPage)
{
    JournalLayout layout;
    layout.pageSize = databasePageSize;
    auto plausible = [&](std::uint64_t at, std::uint32_t pageSize) {
        const std::uint32_t number = journal.U32(at);
        return journal.Has(at, std::uint64_t{pageSize} + 8) && number != 0 && number <= maxPage;
    };
    std::uint64_t unparsedFrom = 0;
    std::uint64_t at = 0;
    std::uint32_t sector = kDefaultSector;
    while (at < journal.Size()) {
        std::uint32_t pageSize = layout.pageSize;
        std::uint64_t limit = 0;  // records the header announces; 0: as many as are plausible
        std::uint64_t first = 0;
        if (JournalMagicAt(journal, at)) {
            const std::uint32_t headerSector = journal.U32(at + 20);
            const std::uint32_t headerPage = journal.U32(at + 24);
            if (ValidPageSize(headerPage)) pageSize = headerPage;
            if (headerSector >= 32 && headerSector <= 65536 && (headerSector & (headerSector - 1)) == 0) {
                sector = headerSector;
            }
            const std::uint32_t count = journal.U32(at + 8);
            limit = count == 0xFFFFFFFF ? 0 : count;
            first = at + sector;
        } else if (journal.U32(at) == 0 && journal.U32(at + 4) == 0) {
            // A zeroed header (journal_mode=PERSIST): the sector size is the one after which
            // a plausible page record follows.
            for (const std::uint32_t candidate : {512u, 1024u, 2048u, 4096u, 8192u, 16384u, 32768u, 65536u}) {
                if (plausible(at + candidate, pageSize)) {
                    first = at + candidate;
                    sector = candidate;
                    break;
                }
            }
        }
        std::uint64_t cursor = first;
        std::uint64_t read = 0;
        while (first != 0 && (limit == 0 || read < limit) && plausible(cursor, pageSize)) {
            PageRecord record;
            record.pageNumber = journal.U32(cursor);
            record.offset = cursor + 4;
            record.frame = static_cast<std::uint32_t>(layout.pages.size());
            layout.pages.push_back(record);
            cursor += std::uint64_t{pageSize} + 8;
            ++read;
        }
        if (read == 0) {
            at += kDefaultSector;  // nothing here: look at the next sector
            continue;
        }
        layout.pageSize = pageSize;
        // The header's padding is offered as unparsed bytes too: it may keep older bytes.
        if (first > unparsedFrom) layout.unparsed.push_back({unparsedFrom, first});
        unparsedFrom = cursor;
        // The next header, if any, starts on a sector boundary.
        at = (cursor + sector - 1) / sector * sector;
    }
    if (journal.Size() > unparsedFrom) layout.unparsed.push_back({unparsedFrom, journal.Size()});
    return layout;
}
