// The page walk shared by the Android and iPhone scans.
#include "recovery/RecoveryScan.h"

#include <algorithm>
#include <numeric>
#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "recovery/LiveCopies.h"
#include "recovery/Merge.h"
#include "recovery/SqliteFiles.h"
#include "store/MessageStore.h"
#include "store/ProgressChannel.h"

namespace {

constexpr std::int32_t kDefaultPageSize = 4096;
constexpr std::int32_t kSpillAllowance = 35;  // a leaf page holds records up to pageSize - 35
constexpr std::size_t kPageSizeOffset = 16;   // big-endian 16-bit field of the database header

// The find at `offset` of the page read as a whole record by the table's structure, where its
// bytes form one: the header-size byte before the carver's first serial type (the form with a
// header starts at it). Nothing without a decoder or where the bytes form no whole record.
std::optional<DecodedRecord> WholeRecordAt(const DeepDecoder* structure, const RecordCarver& carver, const std::uint8_t* page,
                                           std::int64_t pageSize, std::int64_t offset)
{
    const bool headerFirst = carver.GetKind() == RecordCarver::Kind::AndroidWithHeader;
    if (structure == nullptr || (!headerFirst && offset == 0)) return std::nullopt;
    const auto size = static_cast<std::uint32_t>(pageSize);
    const DeepDecoder::Area area{ByteView(page, size), size, size, nullptr};
    return structure->TryRecord(area, static_cast<std::uint32_t>(headerFirst ? offset : offset - 1));
}

// A whole record's columns instead of the carver's fixed readings (the text stays the carver's
// where the record's continuation is not at hand).
void TakeWholeRecord(DecodedRecord&& whole, MessageRecord& out)
{
    out.time = whole.time;
    out.fromMe = whole.fromMe;
    out.address = std::move(whole.address);
    out.chinaPrefix = whole.chinaPrefix ? 1 : 0;
    out.kind = whole.kind;
    if (!whole.truncated) out.body = std::move(whole.body);
}

}  // namespace

PageSizeChoice ChoosePageSize(const FileImage& image)
{
    if (image.Size() < kPageSizeOffset + 2) {
        return {kDefaultPageSize, "the file is shorter than a database header, so 4096-byte pages were used", -1};
    }
    const std::int32_t field = (image.Data()[kPageSizeOffset] << 8) | image.Data()[kPageSizeOffset + 1];
    if (field == 1) return {65536, ""};
    if (field >= 512 && field <= 32768 && (field & (field - 1)) == 0) return {field, ""};
    return {kDefaultPageSize,
            "the header's page size field holds " + std::to_string(field) +
                ", which is not a page size, so 4096-byte pages were used",
            field};
}

std::uint64_t LiveCellKey(std::int64_t time, std::string_view body)
{
    return TimeBodyHash(TextHash(body), time);
}

LiveCells::LiveCells(const FileImage& image, std::int32_t pageSize)
    : m_image(&image), m_pageSize(pageSize), m_usable(static_cast<std::uint32_t>(pageSize))
{
    const ByteView file(image.Data(), image.Size());
    if (const std::optional<DatabaseHeader> header = ReadDatabaseHeader(file); header && header->pageSize == static_cast<std::uint32_t>(pageSize)) {
        m_usable = header->usableSize;
        std::vector<std::uint32_t> trunks;
        for (const std::uint32_t page : FreelistPages(file, *header, trunks)) {
            if (page >= m_free.size()) m_free.resize(page + 1, false);
            m_free[page] = true;
        }
    }
}

bool LiveCells::Contains(std::int64_t offset) const
{
    const std::int64_t p = offset / m_pageSize;
    if (p != m_page) {
        m_page = p;
        m_cells.clear();
        const auto number = static_cast<std::uint32_t>(p + 1);
        const auto start = static_cast<std::uint64_t>(p) * static_cast<std::uint64_t>(m_pageSize);
        const ByteView file(m_image->Data(), m_image->Size());
        if ((number >= m_free.size() || !m_free[number]) && file.Has(start, static_cast<std::uint64_t>(m_pageSize))) {
            const std::optional<BtreePage> page = ReadBtreePage(file.Sub(start, static_cast<std::uint64_t>(m_pageSize)), number, m_usable);
            if (page && page->type == kLeafTablePage) {
                // Every boundary a cell stops at: the other cells, the freeblocks, the usable end.
                std::vector<std::uint32_t> stops(page->cells.begin(), page->cells.end());
                for (const BtreePage::Range& block : page->freeblocks) stops.push_back(block.begin);
                stops.push_back(m_usable);
                std::sort(stops.begin(), stops.end());
                for (const std::uint32_t cell : page->cells) {
                    const auto next = std::upper_bound(stops.begin(), stops.end(), cell);
                    if (next != stops.end()) m_cells.emplace_back(cell, *next);
                }
                std::sort(m_cells.begin(), m_cells.end());
            }
        }
    }
    const auto within = static_cast<std::uint32_t>(offset - p * m_pageSize);
    auto after = std::upper_bound(m_cells.begin(), m_cells.end(), std::pair{within, UINT32_MAX});
    return after != m_cells.begin() && within < std::prev(after)->second;
}

std::int32_t WalkPages(const FileImage& image, const PageLayout& layout, const RecordCarver& carver, FindSink* sink)
{
    const auto pageCount = static_cast<std::int32_t>(image.Size() / static_cast<std::size_t>(layout.pageSize));
    return WalkPageRange(image, layout, carver, sink, {0, pageCount, true});
}

std::int32_t WalkPageRange(const FileImage& image, const PageLayout& layout, const RecordCarver& carver, FindSink* sink,
                           PageRange range)
{
    const std::uint8_t* const data = image.Data();
    const std::uint8_t* const end = image.End();
    const std::int64_t pageSize = layout.pageSize;
    const auto pageCount = static_cast<std::int32_t>(image.Size() / static_cast<std::size_t>(pageSize));
    const bool filling = sink != nullptr;
    const LiveCopies* live = sink != nullptr ? sink->live : nullptr;
    const bool zeroFirst = carver.GetKind() != RecordCarver::Kind::AndroidWithHeader;
    const std::size_t zeroRun = carver.ZeroRunRejected();
    const std::uint8_t* zeroRunEnd = data + range.first * pageSize;  // bytes from an earlier candidate up to here are 0
    std::int32_t found = 0;
    const double share = std::max(1, range.end - range.first);

    for (std::int32_t p = range.first; p < range.end && p < pageCount && !RecoveryCancelled(); ++p) {
        const std::int64_t margin = p == pageCount - 1 ? layout.marginLast : layout.marginOther;
        const std::int64_t limit = pageSize - margin;
        const std::uint8_t* const page = data + p * pageSize;
        std::int64_t offset = 0;
        while (offset < limit) {
            const std::uint8_t* position = page + offset;
            if (zeroFirst) {
                // Only a zero byte can start a record: jump to the next one.
                if (*position != 0) {
                    const void* zero = std::memchr(position, 0, static_cast<std::size_t>(limit - offset));
                    if (zero == nullptr) break;
                    offset = static_cast<const std::uint8_t*>(zero) - page;
                    continue;
                }
                // Inside a run of zeros every candidate with zeroRun zeros ahead is rejected
                // by the column rules, so only the run's last positions need the carver.
                if (zeroRun != 0) {
                    if (position >= zeroRunEnd) {
                        zeroRunEnd = position;
                        while (zeroRunEnd <= end && *zeroRunEnd == 0) ++zeroRunEnd;
                    }
                    if (static_cast<std::size_t>(zeroRunEnd - position) >= zeroRun) {
                        offset = (zeroRunEnd - static_cast<std::ptrdiff_t>(zeroRun) + 1) - page;
                        continue;
                    }
                }
            } else if (!carver.CanStart(*position)) {
                ++offset;
                continue;
            }
            const bool storing = filling && sink->records.size() < sink->limit;
            std::int32_t length = 0;
            CarvedFields fields;
            if (carver.CarveFields(length, position, storing ? &fields : nullptr, end)) {
                // A live row's own cell is never a find, whatever its text holds: only its key
                // is taken, so its text is not checked as a fragment's would be.
                const bool inLiveCell = storing && sink->cells != nullptr && sink->cells->Contains(position - data);
                if (storing && !inLiveCell && sink->leaveOutFragments && !fields.Plausible(sink->iphone)) {
                    ++sink->discarded;
                } else if (storing && inLiveCell && live != nullptr && fields.hasTime &&
                           live->Contains(length > layout.pageSize - kSpillAllowance, fields.time, fields.BodyText())) {
                    // A live row's cell holding a loaded live message's time and text: its
                    // copies elsewhere are that message's copies, which the live index drops.
                } else if (storing) {
                    std::optional<DecodedRecord> whole = WholeRecordAt(sink->structure, carver, page, pageSize, offset);
                    const int spill = length > layout.pageSize - kSpillAllowance ? 1 : 0;
                    // A copy of a live row is what the merge drops first: not storing it saves
                    // copying its texts. Bytes equal to a live body are valid UTF-8 already.
                    const std::int64_t time = whole ? whole->time : fields.hasTime ? fields.time : 0;
                    const std::string_view body = whole && !whole->truncated ? std::string_view(whole->body) : fields.BodyText();
                    // A live row as the file stands: its copies elsewhere (an old root page
                    // split into children keeps them) are live too.
                    if (inLiveCell) sink->liveCellKeys.push_back(LiveCellKey(time, body));
                    const bool liveCopy = inLiveCell || (live != nullptr && live->Contains(spill != 0, time, body));
                    if (!liveCopy) {
                        MessageRecord& out = sink->records.emplace_back();
                        // A whole record's text replaces the carver's: it is not copied twice.
                        if (whole && !whole->truncated) fields.hasBody = false, fields.archived = {};
                        fields.FillRecord(out);
                        if (whole) TakeWholeRecord(std::move(*whole), out);
                        out.spillFlag = spill;
                        out.truncated = spill;  // its carved end is not its own: the text may be cut
                    }
                }
                ++found;
                offset += layout.skip;
            } else {
                ++offset;
            }
        }
        if (p % 10 == 5 && range.reports) {
            const double done = (p - range.first) / share;
            ReportProgress(filling ? done * 50 + 40 : done * 40);
        }
    }
    return found;
}

std::int32_t CountOnEveryCore(const FileImage& image, const PageLayout& layout, const RecordCarver& carver)
{
    const auto pages = static_cast<std::int32_t>(image.Size() / static_cast<std::size_t>(layout.pageSize));
    const auto workers = static_cast<std::int32_t>(pages >= 256 ? std::clamp(std::thread::hardware_concurrency(), 1u, 8u) : 1u);
    // Counting is even work per page: one stretch of pages per worker; the first reports.
    auto range = [&](std::int32_t w) {
        const auto share = [&](std::int32_t k) { return static_cast<std::int32_t>(std::int64_t{pages} * k / workers); };
        return PageRange{share(w), share(w + 1), w == 0};
    };
    std::vector<std::int32_t> counts(static_cast<std::size_t>(workers), 0);
    std::vector<std::thread> threads;
    for (std::int32_t w = 1; w < workers; ++w) {
        threads.emplace_back([&, w] { counts[static_cast<std::size_t>(w)] = WalkPageRange(image, layout, carver, nullptr, range(w)); });
    }
    counts[0] = WalkPageRange(image, layout, carver, nullptr, range(0));
    for (std::thread& thread : threads) thread.join();
    return std::accumulate(counts.begin(), counts.end(), 0);
}

std::int32_t WalkPagesOnEveryCore(FileImage& image, const PageLayout& layout, const RecordCarver& carver, FindSink& sink,
                                  bool handBack)
{
    const auto pages = static_cast<std::int32_t>(image.Size() / static_cast<std::size_t>(layout.pageSize));
    const auto workers = static_cast<std::int32_t>(pages >= 256 ? std::clamp(std::thread::hardware_concurrency(), 1u, 8u) : 1u);
    // Runs of 2 MiB taken in file order by whichever worker is free, each with its own finds,
    // joined in page order at the end.
    const std::int32_t chunk = std::max<std::int32_t>(1, (2 << 20) / layout.pageSize);
    const std::int32_t chunks = (pages + chunk - 1) / chunk;
    struct Chunk {
        std::vector<MessageRecord> records;
        std::vector<std::uint64_t> liveCellKeys;
        std::int32_t found = 0, discarded = 0;
    };
    std::vector<Chunk> results(static_cast<std::size_t>(chunks));
    std::atomic<std::int32_t> next{0};
    // The run each worker is on; every run below the lowest is done, and as the carvers only
    // read forward from where they are, the image before it is never read again.
    std::vector<std::atomic<std::int32_t>> current(static_cast<std::size_t>(workers));
    for (auto& c : current) c = 0;
    std::mutex handing;
    std::size_t handedBack = 0;
    auto work = [&](std::int32_t w) {
        // The sink's live index, copied: its lookups remember where the last one matched.
        std::optional<LiveCopies> live;
        if (sink.live != nullptr) live.emplace(*sink.live);
        std::optional<LiveCells> cells;
        if (sink.cells != nullptr) cells.emplace(*sink.cells);
        for (std::int32_t c; (c = next.fetch_add(1)) < chunks && !RecoveryCancelled();) {
            current[static_cast<std::size_t>(w)] = c;
            Chunk& result = results[static_cast<std::size_t>(c)];
            FindSink part{result.records, sink.limit, live ? &*live : nullptr, cells ? &*cells : nullptr, sink.iphone,
                          sink.leaveOutFragments};
            part.structure = sink.structure;
            result.found = WalkPageRange(image, layout, carver, &part, {c * chunk, std::min(pages, (c + 1) * chunk), false});
            result.discarded = part.discarded;
            result.liveCellKeys = std::move(part.liveCellKeys);
            if (w == 0) ReportProgress(static_cast<double>(c + 1) / chunks * 50 + 40);
            if (!handBack) continue;
            std::int32_t lowest = INT32_MAX;
            for (const auto& at : current) lowest = std::min(lowest, at.load());
            const std::lock_guard<std::mutex> lock(handing);
            const std::size_t before = static_cast<std::size_t>(lowest) * static_cast<std::size_t>(chunk) *
                                       static_cast<std::size_t>(layout.pageSize);
            if (before > handedBack) image.HandBackBefore(handedBack = before);
        }
        current[static_cast<std::size_t>(w)] = INT32_MAX;
    };
    std::vector<std::thread> threads;
    for (std::int32_t w = 1; w < workers; ++w) threads.emplace_back(work, w);
    work(0);
    for (std::thread& thread : threads) thread.join();
    std::int32_t found = 0;
    std::size_t records = sink.records.size();
    for (const Chunk& result : results) records += result.records.size();
    sink.records.reserve(records);
    for (Chunk& result : results) {
        found += result.found;
        sink.discarded += result.discarded;
        sink.records.insert(sink.records.end(), std::make_move_iterator(result.records.begin()),
                            std::make_move_iterator(result.records.end()));
        sink.liveCellKeys.insert(sink.liveCellKeys.end(), result.liveCellKeys.begin(), result.liveCellKeys.end());
        result = Chunk{};  // each run's memory goes as soon as it is moved
    }
    return found;
}

std::shared_ptr<ScanCache> ReadScanImage(const std::string& path)
{
    const FileIdentity identity = FileIdentity::Of(path);
    return std::make_shared<ScanCache>(ScanCache{path, identity, FileImage(path)});
}

void RunRecoveryPass(CSms& reader, const RecoveryPassPlan& plan, std::int32_t& count)
{
    const std::int32_t wanted = count;  // 0: counting pass
    ScanReport& report = reader.m_lastScan;
    report = ScanReport{};
    report.scannedPath = plan.file;
    report.logMode = plan.logMode;
    count = 0;

    std::vector<MessageRecord> records;
    std::optional<LiveCopies> copies;
    std::int32_t found = 0;
    if (g_store.columnCount == 0) {
        report.noSchema = true;
    } else {
        // The filling pass reuses the counting pass's bytes when the file has not changed since.
        std::shared_ptr<ScanCache> cache = std::move(reader.m_scanCache);
        const FileIdentity identity = FileIdentity::Of(plan.file);
        if (!cache || cache->path != plan.file || !identity.known || !(cache->identity == identity)) {
            cache = ReadScanImage(plan.file);
        }
        FileImage& image = cache->image;
        if (wanted == 0 && image.Loaded() && identity.known) reader.m_scanCache = cache;
        if (!image.Loaded()) {
            report.error = image.Error();
        } else {
            PageSizeChoice pageSize{kDefaultPageSize, ""};
            if (!plan.logMode) pageSize = ChoosePageSize(image);
            report.pageSize = pageSize.pageSize;
            report.pageSizeNote = pageSize.note;
            report.pageSizeField = pageSize.field;
            const PageLayout layout = plan.layoutFor(pageSize.pageSize, plan.logMode, g_store.columnCount);
            const RecordCarver carver(plan.carverKind, g_store);
            if (wanted > 0) {
                copies.emplace(g_store);
                // A database's cells in use are its live rows; a log's pages are versions of them.
                std::optional<LiveCells> cells;
                if (!plan.logMode) cells.emplace(image, pageSize.pageSize);
                const DeepDecoder structure(g_store);
                FindSink sink{records, static_cast<std::size_t>(wanted), &*copies,
                              cells ? &*cells : nullptr, plan.carverKind == RecordCarver::Kind::Iphone};
                sink.structure = &structure;
                // The filling pass is the image's last reader when nothing else holds it.
                found = WalkPagesOnEveryCore(image, layout, carver, sink, cache.use_count() == 1);
                report.discarded = sink.discarded;
                std::vector<std::uint64_t>& keys = sink.liveCellKeys;
                std::sort(keys.begin(), keys.end());
                std::erase_if(records, [&keys](const MessageRecord& m) {
                    return std::binary_search(keys.begin(), keys.end(), LiveCellKey(m.time, m.body));
                });
            } else {
                found = CountOnEveryCore(image, layout, carver);
            }
        }
    }
    if (wanted != 0) {
        // Only the records actually filled are finds: copies of live rows were not stored, and
        // a file that changed since the counting pass may give fewer.
        report.filled = static_cast<std::int32_t>(records.size());
        if (!copies) copies.emplace(g_store);
        MergeRecovered(reader, std::move(records), *copies);
        SortRecoveredByTime(reader);
    }
    count = found;
    report.noCandidates = found == 0 && !report.noSchema && report.error.empty();
}
