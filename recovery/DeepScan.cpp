// Walking the pages of every source, carving them, and merging the finds.
#include "recovery/DeepScan.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <span>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "recovery/DeepParts.h"
#include "recovery/EarlierJoins.h"
#include "recovery/FileImage.h"
#include "recovery/LiveCopies.h"
#include "store/FileDescriptor.h"
#include "store/MessageStore.h"
#include "store/ProgressChannel.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kDefaultPageSize = 4096;

// Memory of a database image that the scan hands back to the system behind its slowest
// worker. Overflow chains may lead back there: those pages are then read from the file.
struct HandBack {
    HandBack(FileImage& memory, FileDescriptor reading) : image(memory), file(std::move(reading)) {}

    FileImage& image;
    FileDescriptor file;
    std::shared_mutex lock;  // shared while a page is copied out, exclusive while memory goes
    std::atomic<std::uint64_t> line{0};  // bytes before it are gone

    void Before(std::uint64_t bytes)
    {
        const std::unique_lock hold(lock);
        if (bytes <= line) return;
        image.HandBackBefore(static_cast<std::size_t>(bytes));
        line = bytes;
    }
};

// Overflow pages of a database file: page n is at (n - 1) x page size. A freed overflow page
// that became a freelist trunk had its first bytes overwritten: the chain ends there.
class DatabaseOverflow : public OverflowPages {
public:
    DatabaseOverflow(ByteView file, std::uint32_t pageSize, const std::set<std::uint32_t>& trunks)
        : m_file(file), m_pageSize(pageSize), m_trunks(trunks)
    {
    }
    void SetHandBack(HandBack* handBack) { m_handBack = handBack; }
    ByteView Page(std::uint32_t number, std::vector<std::uint8_t>& scratch) const override
    {
        const std::uint64_t at = std::uint64_t{number - 1} * m_pageSize;
        if (number == 0 || !m_file.Has(at, m_pageSize) || m_trunks.contains(number)) return {};
        if (m_handBack == nullptr) return m_file.Sub(at, m_pageSize);
        // The page is copied while its memory cannot go; from the file once it has gone.
        scratch.resize(m_pageSize);
        const std::shared_lock hold(m_handBack->lock);
        if (at >= m_handBack->line) {
            std::memcpy(scratch.data(), m_file.Data() + at, m_pageSize);
        } else if (std::string ignored; !ReadFully(m_handBack->file.Get(), scratch.data(), m_pageSize, at, ignored)) {
            return {};
        }
        return ByteView(scratch.data(), scratch.size());
    }

private:
    ByteView m_file;
    std::uint32_t m_pageSize;
    const std::set<std::uint32_t>& m_trunks;
    HandBack* m_handBack = nullptr;
};

// Overflow pages of a log or journal: the version of the page nearest to the record's own
// (pages written in one transaction lie together).
class RecordedOverflow : public OverflowPages {
public:
    RecordedOverflow(ByteView file, std::uint32_t pageSize, const std::vector<PageRecord>& pages)
        : m_file(file), m_pageSize(pageSize)
    {
        for (const PageRecord& page : pages) m_versions[page.pageNumber].push_back(&page);
    }
    void SetCurrent(std::uint32_t frame) { m_current = frame; }
    ByteView Page(std::uint32_t number, std::vector<std::uint8_t>& /*scratch*/) const override
    {
        const auto found = m_versions.find(number);
        if (found == m_versions.end()) return {};
        const PageRecord* best = nullptr;
        for (const PageRecord* page : found->second) {
            const auto distance = [&](const PageRecord* p) {
                return p->frame > m_current ? p->frame - m_current : m_current - p->frame;
            };
            if (best == nullptr || distance(page) < distance(best)) best = page;
        }
        return m_file.Sub(best->offset, m_pageSize);
    }

private:
    ByteView m_file;
    std::uint32_t m_pageSize;
    std::map<std::uint32_t, std::vector<const PageRecord*>> m_versions;
    std::uint32_t m_current = 0;
};

// The overflow pages that cells in use continue on, by the address of their bytes: how many
// bytes of each the cell's payload fills (a page that is full holds nothing else; the tail
// of a chain's last page may keep older bytes).
using OverflowUse = std::unordered_map<const std::uint8_t*, std::uint32_t>;

// Follows the overflow chain of every cell of a table leaf page and notes the pages it uses.
void NoteOverflowUse(ByteView page, std::uint32_t number, std::uint32_t usable, const OverflowPages& overflow,
                     OverflowUse& use)
{
    const std::optional<BtreePage> btree = ReadBtreePage(page, number, usable);
    if (!btree || btree->type != kLeafTablePage) return;
    for (const std::uint32_t cell : btree->cells) {
        const ByteView::Varint payload = page.VarintAt(cell);
        const ByteView::Varint rowId = page.VarintAt(cell + std::uint64_t{payload.length});
        const std::uint64_t local = LocalPayloadSize(payload.value, usable);
        if (payload.length == 0 || rowId.length == 0 || local == payload.value) continue;
        std::uint32_t next = page.U32(cell + std::uint64_t{payload.length} + rowId.length + local);
        std::uint64_t remaining = payload.value - local;
        std::vector<std::uint8_t> scratch;
        for (int guard = 0; remaining > 0 && next != 0 && guard < 1 << 16; ++guard) {
            const ByteView over = overflow.Page(next, scratch);
            if (over.Size() < 8) break;
            const std::uint64_t take = std::min<std::uint64_t>(remaining, usable - 4);
            use[over.Data()] = static_cast<std::uint32_t>(4 + take);
            remaining -= take;
            next = over.U32(0);
        }
    }
}

constexpr std::uint32_t kZeroSpan = 1024;  // far more zeros than any decoder reads from a start among them

// kZeroSpan when no decoder finds a record at a start with zeros all around it (every serial
// type NULL, no freeblock header), so that a run of zeros need not be tried byte by byte; 0
// when one does.
std::uint32_t BarrenZeroSpan(Decoders decoders)
{
    const std::vector<std::uint8_t> zeros(3 * kZeroSpan, 0);
    const DeepDecoder::Area area{ByteView(zeros.data(), zeros.size()), static_cast<std::uint32_t>(zeros.size()), 4096, nullptr};
    for (const DeepDecoder* decoder : decoders) {
        if (decoder->TryCell(area, kZeroSpan) || decoder->TryRecord(area, kZeroSpan) || decoder->TryTypes(area, kZeroSpan) ||
            decoder->TryFreedCell(area, kZeroSpan)) {
            return 0;
        }
    }
    return kZeroSpan;
}

// Collects finds of one file, with their places.
struct Carving {
    Decoders decoders;
    const std::string& file;
    std::vector<RawFind>& finds;
    const OverflowUse* overflowUse = nullptr;
    std::uint32_t zeroSpan = BarrenZeroSpan(decoders);

    void Add(DecodedRecord&& record, std::uint64_t areaOffset, std::uint32_t page, PlaceKind where)
    {
        for (const DeepDecoder* decoder : decoders) {
            if (decoder->Table() == record.table && decoder->Held(record)) return;
        }
        const auto offset = static_cast<std::int64_t>(areaOffset + record.payloadOffset);
        finds.push_back({std::move(record), {file, offset, page, where}});
    }

    // Tries every byte of [begin, end) of the area as the start of a record of any shape; an
    // accepted record's bytes are not tried again.
    void Carve(const DeepDecoder::Area& area, std::uint32_t begin, std::uint32_t end, std::uint64_t areaOffset,
               std::uint32_t page, PlaceKind where)
    {
        end = std::min<std::uint32_t>(end, area.limit);
        std::uint32_t zeroStart = begin, zeroEnd = begin;  // the run of zeros last measured
        for (std::uint32_t offset = begin; offset < end;) {
            if (zeroSpan != 0 && area.bytes.U8(offset) == 0) {
                if (offset >= zeroEnd) {
                    zeroStart = offset;
                    for (zeroEnd = offset; zeroEnd < end && area.bytes.U8(zeroEnd) == 0;) ++zeroEnd;
                }
                // With zeros four bytes behind and a span ahead, the start reads as the
                // decoders' test of zeros did: nothing. The run's last span is tried.
                if (offset >= zeroStart + 4 && zeroEnd - offset >= zeroSpan && area.limit - offset >= zeroSpan) {
                    offset = zeroEnd - zeroSpan + 1;
                    continue;
                }
            }
            std::optional<DecodedRecord> record = TryEveryShape(area, offset);
            if (!record) {
                ++offset;
                continue;
            }
            const std::uint32_t after = record->payloadOffset + record->localLength;
            Add(std::move(*record), areaOffset, page, where);
            offset = std::max(offset + 1, after);
        }
    }

    // A record of any table in any shape at `offset`. Apart from the loop above, so that the
    // loop does not prepare room for a record at every byte.
    __attribute__((noinline)) std::optional<DecodedRecord> TryEveryShape(const DeepDecoder::Area& area,
                                                                          std::uint32_t offset) const
    {
        for (const DeepDecoder* decoder : decoders) {
            if (auto record = decoder->TryCell(area, offset)) return record;
            if (auto record = decoder->TryRecord(area, offset)) return record;
            if (auto record = decoder->TryTypes(area, offset)) return record;
            if (auto record = decoder->TryFreedCell(area, offset)) return record;
        }
        return std::nullopt;
    }

    // One page (one version of it): its cells in use, then its free space; a page that is not
    // a b-tree page is carved whole. `special` (when not CellInUse) names every find's place.
    void Page(ByteView bytes, std::uint32_t number, std::uint64_t fileOffset, std::uint32_t usable,
              const OverflowPages* overflow, PlaceKind special, bool freelistTrunk)
    {
        const DeepDecoder::Area area{bytes, std::min<std::uint32_t>(usable, static_cast<std::uint32_t>(bytes.Size())),
                                     usable, overflow};
        auto place = [&](PlaceKind kind) { return special == PlaceKind::CellInUse ? kind : special; };
        if (overflowUse != nullptr) {
            // A page that a cell in use continues on holds that cell's bytes, then older ones.
            if (const auto used = overflowUse->find(bytes.Data()); used != overflowUse->end()) {
                Carve(area, used->second, area.limit, fileOffset, number, place(PlaceKind::Unallocated));
                return;
            }
        }
        if (freelistTrunk) {
            // [next trunk 4][count 4][leaf numbers]: the rest keeps what the page held before.
            const std::uint32_t listed = std::min<std::uint32_t>(bytes.U32(4), (usable - 8) / 4);
            Carve(area, 8 + 4 * listed, area.limit, fileOffset, number, place(PlaceKind::Unallocated));
            return;
        }
        const std::optional<BtreePage> btree = ReadBtreePage(bytes, number, usable);
        if (!btree) {
            Carve(area, number == 1 ? 100 : 0, area.limit, fileOffset, number, place(PlaceKind::Unallocated));
            return;
        }
        if (btree->type == kLeafTablePage) {
            for (const std::uint32_t cell : btree->cells) {
                for (const DeepDecoder* decoder : decoders) {
                    if (auto record = decoder->TryCell(area, cell)) {
                        Add(std::move(*record), fileOffset, number, place(PlaceKind::CellInUse));
                        break;
                    }
                }
            }
        }
        Carve(area, btree->pointersEnd, btree->contentStart, fileOffset, number, place(PlaceKind::Unallocated));
        for (const BtreePage::Range& block : btree->freeblocks) {
            Carve(area, block.begin, block.end, fileOffset, number, place(PlaceKind::Freeblock));
        }
    }

    // Bytes outside any whole page.
    void Stretch(ByteView file, std::uint64_t begin, std::uint64_t end, std::uint32_t usable, PlaceKind where)
    {
        // Cut into pieces the 32-bit offsets of an area can address, overlapping by a page so
        // that no record is cut in two.
        constexpr std::uint64_t kPiece = 1u << 24;
        for (std::uint64_t at = begin; at < end; at += kPiece) {
            const ByteView bytes = file.Sub(at, std::min<std::uint64_t>(end - at, kPiece + 65536));
            const DeepDecoder::Area area{bytes, static_cast<std::uint32_t>(bytes.Size()), usable, nullptr};
            Carve(area, 0, static_cast<std::uint32_t>(std::min<std::uint64_t>(end - at, kPiece)), at, 0, where);
        }
    }
};

// Reports scanning progress (0 to 90) as bytes are done, at each whole percent.
class ByteProgress {
public:
    explicit ByteProgress(std::uint64_t total) : m_total(total == 0 ? 1 : total) {}
    void Advance(std::uint64_t bytes)
    {
        m_done += bytes;
        const auto percent =
            std::min(90, static_cast<std::int32_t>(static_cast<double>(m_done) / static_cast<double>(m_total) * 90));
        if (percent != m_shown) {
            m_shown = percent;
            ReportProgress(percent);
        }
    }

private:
    std::uint64_t m_total;
    std::uint64_t m_done = 0;
    std::int32_t m_shown = -1;
};

// The column counts of the records in use on the table leaf pages of a database image (each
// record's header says how many serial types it has): the forms the file's own rows show.
std::vector<std::int32_t> ObservedColumnCounts(ByteView image)
{
    std::set<std::int32_t> counts;
    const std::optional<DatabaseHeader> header = ReadDatabaseHeader(image);
    if (!header) return {};
    const std::uint64_t pages = image.Size() / header->pageSize;
    for (std::uint64_t p = 1; p <= pages; ++p) {
        const ByteView page = image.Sub((p - 1) * header->pageSize, header->pageSize);
        const std::optional<BtreePage> btree = ReadBtreePage(page, static_cast<std::uint32_t>(p), header->usableSize);
        if (!btree || btree->type != kLeafTablePage) continue;
        for (const std::uint32_t cell : btree->cells) {
            const ByteView::Varint payload = page.VarintAt(cell);
            const ByteView::Varint rowId = page.VarintAt(cell + std::uint64_t{payload.length});
            const std::uint64_t start = std::uint64_t{cell} + payload.length + rowId.length;
            const ByteView::Varint size = page.VarintAt(start);
            if (payload.length == 0 || rowId.length == 0 || size.length == 0 || page.U8(start + size.length) != 0) continue;
            std::int32_t count = 0;
            std::uint64_t at = start + size.length;
            for (; at < start + size.value && count <= kColumnCapacity; ++count) {
                const ByteView::Varint type = page.VarintAt(at);
                if (type.length == 0) break;
                at += type.length;
            }
            if (at == start + size.value) counts.insert(count);
        }
    }
    return {counts.begin(), counts.end()};
}

// With `handBack`, the image's memory goes back to the system behind the slowest worker.
void ScanDatabase(ByteView image, const std::string& file, Decoders decoders, std::vector<RawFind>& finds,
                  ByteProgress* progress, FileImage* handBack = nullptr)
{
    Carving carving{decoders, file, finds};
    const std::optional<DatabaseHeader> header = ReadDatabaseHeader(image);
    if (!header) {
        // Not a database header: every byte is carved as it stands.
        carving.Stretch(image, 0, image.Size(), kDefaultPageSize, PlaceKind::Unstructured);
        if (progress) progress->Advance(image.Size());
        return;
    }
    std::vector<std::uint32_t> trunks;
    const std::vector<std::uint32_t> freelist = FreelistPages(image, *header, trunks);
    const std::set<std::uint32_t> freePages(freelist.begin(), freelist.end());
    const std::set<std::uint32_t> trunkPages(trunks.begin(), trunks.end());
    DatabaseOverflow overflow(image, header->pageSize, trunkPages);
    const std::uint64_t pages = image.Size() / header->pageSize;
    OverflowUse use;
    for (std::uint64_t p = 1; p <= pages; ++p) {
        if (freePages.contains(static_cast<std::uint32_t>(p))) continue;
        NoteOverflowUse(image.Sub((p - 1) * header->pageSize, header->pageSize), static_cast<std::uint32_t>(p),
                        header->usableSize, overflow, use);
    }
    carving.overflowUse = &use;
    std::optional<HandBack> giving;
    if (handBack != nullptr) {
        if (FileDescriptor again = FileDescriptor::OpenForReading(file); again.Valid()) {
            giving.emplace(*handBack, std::move(again));
            overflow.SetHandBack(&*giving);
        }
    }
    // Pages [first, last] into `into`; only the calling thread reports progress, for all.
    const unsigned workers = pages >= 256 ? std::clamp(std::thread::hardware_concurrency(), 1u, 8u) : 1u;
    auto carvePages = [&](std::uint64_t first, std::uint64_t last, std::vector<RawFind>& into, ByteProgress* report) {
        Carving part{decoders, file, into, &use};
        for (std::uint64_t p = first; p <= last && !RecoveryCancelled(); ++p) {
            const auto number = static_cast<std::uint32_t>(p);
            const std::uint64_t at = (p - 1) * header->pageSize;
            const bool free = freePages.contains(number);
            part.Page(image.Sub(at, header->pageSize), number, at, header->usableSize, &overflow,
                      free ? PlaceKind::FreelistPage : PlaceKind::CellInUse, trunkPages.contains(number));
            if (report) report->Advance(std::uint64_t{header->pageSize} * workers);
        }
    };
    // Runs of pages taken in file order by whichever worker is free (free pages gather in
    // places, so halves would leave one core idle); the finds kept in page order.
    const std::uint64_t run = std::max<std::uint64_t>(1, (std::uint64_t{2} << 20) / header->pageSize);
    std::vector<std::vector<RawFind>> parts((pages + run - 1) / run);
    std::atomic<std::size_t> next{0};
    // The run each worker is on: the pages of every run below the lowest are done.
    std::vector<std::atomic<std::size_t>> current(workers);
    for (auto& at : current) at = 0;
    auto work = [&](unsigned w, ByteProgress* report) {
        for (std::size_t r; (r = next.fetch_add(1)) < parts.size() && !RecoveryCancelled();) {
            current[w] = r;
            carvePages(1 + r * run, std::min(pages, (r + 1) * run), parts[r], report);
            parts[r].shrink_to_fit();  // the finds wait for the join: without the vector's slack
            if (!giving) continue;
            std::size_t lowest = SIZE_MAX;
            for (const auto& at : current) lowest = std::min(lowest, at.load());
            giving->Before(std::min<std::uint64_t>(lowest, parts.size()) * run * header->pageSize);
        }
        current[w] = SIZE_MAX;
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work, w, nullptr);
    work(0, progress);
    for (std::thread& thread : threads) thread.join();
    std::size_t total = finds.size();
    for (const std::vector<RawFind>& part : parts) total += part.size();
    finds.reserve(total);
    for (std::vector<RawFind>& part : parts) {
        finds.insert(finds.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
        std::vector<RawFind>().swap(part);  // each run's memory goes as soon as it is moved
    }
    carving.Stretch(image, pages * header->pageSize, image.Size(), header->usableSize, PlaceKind::Unstructured);
    if (progress) progress->Advance(image.Size() - pages * header->pageSize);
}

// The page versions a log or a journal holds; each page record's own header takes `overhead`
// bytes. Overflow chains are followed to the nearest version of each page.
template <typename PlaceOf>
void ScanPageVersions(ByteView image, const std::string& file, std::uint32_t pageSize, std::uint32_t usable,
                      const std::vector<PageRecord>& pages, std::uint32_t overhead, PlaceOf placeOf,
                      Decoders decoders, std::vector<RawFind>& finds, ByteProgress* progress)
{
    Carving carving{decoders, file, finds};
    RecordedOverflow overflow(image, pageSize, pages);
    OverflowUse use;
    for (const PageRecord& page : pages) {
        overflow.SetCurrent(page.frame);
        NoteOverflowUse(image.Sub(page.offset, pageSize), page.pageNumber, usable, overflow, use);
    }
    carving.overflowUse = &use;
    for (const PageRecord& page : pages) {
        if (RecoveryCancelled()) break;
        overflow.SetCurrent(page.frame);
        carving.Page(image.Sub(page.offset, pageSize), page.pageNumber, page.offset, usable, &overflow, placeOf(page),
                     false);
        if (progress) progress->Advance(pageSize + overhead);
    }
}

// Returns the number of frames.
std::size_t ScanLog(ByteView image, const std::string& file, std::uint32_t pageSize, std::uint32_t usable,
                    Decoders decoders, std::vector<RawFind>& finds, ByteProgress* progress)
{
    const LogLayout log = ReadLog(image, pageSize);
    if (log.pageSize != pageSize && log.pageSize != 0) usable = log.pageSize;
    ScanPageVersions(
        image, file, log.pageSize, usable, log.pages, 24,
        [](const PageRecord& frame) { return frame.latest ? PlaceKind::CellInUse : PlaceKind::OlderLogVersion; },
        decoders, finds, progress);
    Carving{decoders, file, finds}.Stretch(image, log.parsedEnd, image.Size(), usable, PlaceKind::Unstructured);
    if (progress) progress->Advance(image.Size() - std::min<std::uint64_t>(image.Size(), log.parsedEnd) + 32);
    return log.pages.size();
}

// Returns the number of page records.
std::size_t ScanJournal(ByteView image, const std::string& file, std::uint32_t pageSize, std::uint32_t usable,
                        std::uint32_t maxPage, Decoders decoders, std::vector<RawFind>& finds,
                        ByteProgress* progress)
{
    const JournalLayout journal = ReadJournal(image, pageSize, maxPage);
    if (journal.pageSize != pageSize) usable = journal.pageSize;
    ScanPageVersions(
        image, file, journal.pageSize, usable, journal.pages, 8, [](const PageRecord&) { return PlaceKind::JournalPage; },
        decoders, finds, progress);
    Carving carving{decoders, file, finds};
    for (const JournalLayout::Range& range : journal.unparsed) {
        carving.Stretch(image, range.begin, range.end, usable, PlaceKind::Unstructured);
        if (progress) progress->Advance(range.end - range.begin);
    }
    return journal.pages.size();
}

}  // namespace

void ScanDatabaseImage(ByteView image, const std::string& file, Decoders decoders, std::vector<RawFind>& finds)
{
    ScanDatabase(image, file, decoders, finds, nullptr);
}

void ScanLogImage(ByteView image, const std::string& file, std::uint32_t pageSize, std::uint32_t usable,
                  Decoders decoders, std::vector<RawFind>& finds)
{
    ScanLog(image, file, pageSize, usable, decoders, finds, nullptr);
}

void ScanJournalImage(ByteView image, const std::string& file, std::uint32_t pageSize, std::uint32_t usable,
                      std::uint32_t maxPage, Decoders decoders, std::vector<RawFind>& finds)
{
    ScanJournal(image, file, pageSize, usable, maxPage, decoders, finds, nullptr);
}

namespace {

// One file of the database, read whole.
struct DatabaseFile {
    std::string path;
    FileRole kind;
    FileImage image;
};

// The database at `path` (required: a failure is the report's error), then whichever of its
// logs and its journal exist, each listed in the report with its size or why it was not read.
std::vector<DatabaseFile> ReadDatabaseFiles(const std::string& path, ScanReport& report)
{
    std::vector<DatabaseFile> files;
    auto add = [&](const std::string& file, FileRole kind, bool required) {
        std::error_code error;
        if (!required && !fs::exists(file, error)) return;
        files.push_back({file, kind, FileImage(file)});
        ScannedSource listed{file, kind, 0, 0, ""};
        if (!files.back().image.Loaded()) {
            listed.note = files.back().image.Error();
            if (required) report.error = listed.note;
        } else {
            listed.size = static_cast<std::int64_t>(files.back().image.Size());
        }
        report.sources.push_back(listed);
    };
    add(path, FileRole::Database, true);
    add(path + "-wal-undelete", FileRole::Log, false);
    add(path + "-wal", FileRole::Log, false);
    add(path + "-journal", FileRole::Journal, false);
    return files;
}

// Every record the decoders find in the files, in file order; the report gets each file's
// pages. The database's own page size and usable size guide the log and the journal, and the
// column counts its pages show teach the message decoder the table's earlier forms.
std::vector<RawFind> ScanDatabaseFiles(std::vector<DatabaseFile>& files, DeepDecoder& decoder,
                                       std::span<const DeepDecoder* const> decoders, ScanReport& report, bool handBack)
{
    std::uint64_t total = 0;
    for (const DatabaseFile& file : files) total += file.image.Size();
    ByteProgress progress(total);
    ReportProgress(0);
    std::uint32_t pageSize = kDefaultPageSize, usable = kDefaultPageSize, pageCount = 0;
    if (files[0].image.Loaded()) {
        const ByteView database(files[0].image.Data(), files[0].image.Size());
        if (const auto header = ReadDatabaseHeader(database)) {
            pageSize = header->pageSize;
            usable = header->usableSize;
            pageCount = static_cast<std::uint32_t>(database.Size() / pageSize);
        }
        // (The part tables keep to the forms they are known to have had: a count seen in any
        // table of the file could read their short records two ways.)
        decoder.AddColumnCounts(ObservedColumnCounts(database));
    }
    std::vector<RawFind> finds;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const DatabaseFile& file = files[i];
        if (!file.image.Loaded()) continue;
        const ByteView bytes(file.image.Data(), file.image.Size());
        if (file.kind == FileRole::Database) {
            ScanDatabase(bytes, file.path, decoders, finds, &progress, handBack ? &files[i].image : nullptr);
            report.sources[i].pages = static_cast<std::int64_t>(bytes.Size() / pageSize);
        } else if (file.kind == FileRole::Log) {
            report.sources[i].pages =
                static_cast<std::int64_t>(ScanLog(bytes, file.path, pageSize, usable, decoders, finds, &progress));
        } else {
            // A journal may hold pages the database no longer has: allow for a shrunken file.
            const std::uint32_t maxPage = std::max<std::uint32_t>(pageCount * 2, 1u << 20);
            report.sources[i].pages = static_cast<std::int64_t>(
                ScanJournal(bytes, file.path, pageSize, usable, maxPage, decoders, finds, &progress));
        }
    }
    return finds;
}

// iPhone finds that name no conversation take the chat an earlier join row ties them to.
void PlaceByJoinsOfEveryVersion(const std::vector<DatabaseFile>& files, CSms& reader)
{
    if (files.empty() || !files[0].image.Loaded()) return;
    const auto header = ReadDatabaseHeader(ByteView(files[0].image.Data(), files[0].image.Size()));
    if (!header) return;
    std::vector<JoinSource> sources;
    for (const DatabaseFile& file : files) {
        if (file.image.Loaded()) sources.push_back({ByteView(file.image.Data(), file.image.Size()), file.kind});
    }
    PlaceByEarlierJoins(sources, header->pageSize, header->usableSize, reader);
}

}  // namespace

void RunDeepRecovery(CSms& reader, const std::string& path)
{
    const MessageStore& store = g_store;
    ScanReport& report = reader.m_lastScan;
    report = ScanReport{};
    report.deep = true;
    report.scannedPath = path;
    reader.m_recovered.clear();
    reader.m_recoveredCount = 0;
    reader.m_scanCache.reset();

    // Android keeps its MMS in a table of their own, whose row ids are counted apart.
    const LiveRows liveRows(store, false), liveMms(store, true);
    DeepDecoder decoder(store, &liveRows);
    if (!decoder.Usable()) {
        report.noSchema = true;
        return;
    }
    // Most part records are those of live MMS: they are left out as they are found.
    const LiveMmsParts heldParts(store);
    const std::vector<std::unique_ptr<DeepDecoder>> partDecoders = PartTableDecoders(reader, liveMms, &heldParts);
    std::vector<const DeepDecoder*> decoders{&decoder};
    for (const auto& part : partDecoders) decoders.push_back(part.get());

    std::vector<DatabaseFile> files = ReadDatabaseFiles(path, report);
    // Nothing after the scan reads an Android database's image again: its memory may go as
    // the scan passes (the iPhone's placement by join rows reads it once more).
    const bool iphone = reader.m_deviceKind == kDeviceIphone;
    std::vector<RawFind> finds = ScanDatabaseFiles(files, decoder, decoders, report, !iphone);
    ReportProgress(90);
    // The finds hold copies of what they need: only the iPhone's placement reads the files again.
    if (!iphone) std::vector<DatabaseFile>().swap(files);
    // The part tables' finds are put together after the messages they may belong to.
    const auto parts = std::stable_partition(finds.begin(), finds.end(),
                                             [](const RawFind& f) { return f.record.table == CarvedTable::Messages; });
    std::vector<RawFind> partFinds(std::make_move_iterator(parts), std::make_move_iterator(finds.end()));
    finds.erase(parts, finds.end());
    const LiveCopies liveCopies(store);  // made only now: the scan's memory is the most the run holds
    reader.m_recovered = MergeDeepFinds(std::move(finds), liveRows, liveCopies);
    MergePartFinds(std::move(partFinds), store, reader.m_recovered);
    if (iphone) PlaceByJoinsOfEveryVersion(files, reader);
    reader.m_recoveredCount = static_cast<std::int32_t>(reader.m_recovered.size());
    report.filled = reader.m_recoveredCount;
    ReportProgress(100);
}
