// One pass of a recovery scan: read a file whole, offer nearly every byte offset of every page
// to a record carver, and (in the filling pass) merge the finds into the reader.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "recovery/Carvers.h"
#include "recovery/DeepRecords.h"
#include "recovery/FileImage.h"
#include "store/MessageRecords.h"
#include "store/Sms.h"

// How a file is cut into pages and walked.
struct PageLayout {
    std::int32_t pageSize = 4096;
    std::int32_t marginOther = 0;  // bytes at the end of a page where no candidate starts
    std::int32_t marginLast = 0;   // the same for the last whole page
    std::int32_t skip = 1;         // offset step after an accepted candidate
};

struct PageSizeChoice {
    std::int32_t pageSize = 4096;
    std::string note;  // why the header's field was not used; empty when it was
    std::int32_t field = 0;  // with a note: the field's value, or -1 when the file is too short
};

// The page size of a database image from bytes 16-17 of its header: 1 means 65536, powers of
// two from 512 to 32768 stand as they are; anything else, or a file shorter than 18 bytes,
// gives 4096 with a note saying why.
PageSizeChoice ChoosePageSize(const FileImage& image);

class LiveCopies;

// What identifies a carved record for comparison with the records of the cells in use: its
// time and its text.
std::uint64_t LiveCellKey(std::int64_t time, std::string_view body);

// The bytes of a database image that the cells in use of its table leaf pages occupy: rows
// that are live as the file stands, whatever a reader could make of them (a table without the
// expected columns, a file SQLite cannot open). A cell's bytes run from its offset to the next
// cell, freeblock or the end of the usable area; the freelist's pages are left out, whose old
// cells are deleted ones.
// A page's cells are read when a byte of it is first asked about, and kept until another
// page is: each thread asks its own copy.
class LiveCells {
public:
    LiveCells(const FileImage& image, std::int32_t pageSize);
    // Whether the byte at `offset` of the image lies in a cell in use.
    bool Contains(std::int64_t offset) const;

private:
    const FileImage* m_image;
    std::int32_t m_pageSize;
    std::uint32_t m_usable;
    std::vector<bool> m_free;  // by page number: the freelist's pages
    mutable std::int64_t m_page = -1;  // the page whose cells m_cells holds (0-based)
    mutable std::vector<std::pair<std::uint32_t, std::uint32_t>> m_cells;  // [begin, end) within it, ascending
};

// Where a filling pass puts its finds: appended to `records`, at most `limit` of them. With
// `live`, a find that equals a live message as the merge compares them is counted but not
// stored (the merge would drop it first).
struct FindSink {
    std::vector<MessageRecord>& records;
    std::size_t limit = 0;
    const LiveCopies* live = nullptr;
    const LiveCells* cells = nullptr;  // a database image: candidates in a cell in use are live
    bool iphone = false;          // which phone's years a find's time must lie in
    bool leaveOutFragments = true;  // false: store every find, as the carvers give them
    std::int32_t discarded = 0;   // finds left out as fragments no phone wrote (CarvedFields::Plausible)
    std::vector<std::uint64_t> liveCellKeys{};  // LiveCellKey of each candidate in a cell in use
    // Reads a find's bytes as a whole record of the table where they form one: its columns
    // (time, partner, direction, kind) then stand instead of the carver's fixed readings.
    const DeepDecoder* structure = nullptr;
};

// Pages [first, end) of an image; the run that reports progress reports its own share.
struct PageRange {
    std::int32_t first = 0, end = 0;
    bool reports = true;
};

// Walks the whole pages of `image`. Offsets 0 to pageSize - margin - 1 of each page are offered
// to `carver`; after an accepted candidate the offset advances by layout.skip, otherwise by 1.
// A counting pass has no sink; a filling pass stores its finds in the sink, in order, with
// their spill flag set when the record is longer than pageSize - 35. After each page whose
// index ends in 5 the progress is reported: the share of the pages walked x 40 in a counting
// pass, x 50 + 40 in a filling pass. Returns the number of accepted candidates.
std::int32_t WalkPages(const FileImage& image, const PageLayout& layout, const RecordCarver& carver, FindSink* sink);
std::int32_t WalkPageRange(const FileImage& image, const PageLayout& layout, const RecordCarver& carver, FindSink* sink,
                           PageRange range);
// The filling walk over the whole image on every core (one for a small file): the same finds,
// in the same order, as WalkPages with `sink`. With `handBack`, the memory of the pages every
// worker has passed is handed back as the walk goes (the image is not read again).
// The candidates of every page counted (a counting pass, storing nothing) by every core, each
// over its own stretch of pages: the count one walk gives.
std::int32_t CountOnEveryCore(const FileImage& image, const PageLayout& layout, const RecordCarver& carver);
std::int32_t WalkPagesOnEveryCore(FileImage& image, const PageLayout& layout, const RecordCarver& carver, FindSink& sink,
                                  bool handBack);

// A file image kept for a later pass, with what identifies the file's state when it was read.
struct ScanCache {
    std::string path;
    FileIdentity identity;
    FileImage image;
};

// Reads `path` for a scan. Put into a reader's m_scanCache, the next pass on the same path uses
// these bytes instead of reading the file again, as long as the file has not changed since.
std::shared_ptr<ScanCache> ReadScanImage(const std::string& path);

// What a reader's RecoverDeleted decides before the common work.
struct RecoveryPassPlan {
    std::string file;    // the file to scan
    bool logMode = false;  // a write-ahead log: 4096-byte blocks, no header read
    RecordCarver::Kind carverKind = RecordCarver::Kind::Android;
    // Margins and skip for the page size chosen; called once the page size is known.
    PageLayout (*layoutFor)(std::int32_t pageSize, bool logMode, std::int32_t columnCount) = nullptr;
};

// One pass of RecoverDeleted. `count` in: 0 for the counting pass, else the counting pass's
// result; out: the number of candidates accepted. A filling pass merges the records it stored
// (only those) into the reader and sorts them by time. Fills reader.m_lastScan. With no
// column schema, or a file that cannot be read, nothing is scanned and 0 is found (a filling
// pass then leaves an empty recovered list).
void RunRecoveryPass(CSms& reader, const RecoveryPassPlan& plan, std::int32_t& count);
