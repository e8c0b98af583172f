// Fuzz targets for the record carvers and the page walk: arbitrary bytes under an arbitrary
// schema taken from the input. The sanitizers catch any read outside the image; the targets
// also check that the verdict and length do not depend on the output record.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzTargets.h"
#include "recovery/Carvers.h"
#include "recovery/FileImage.h"
#include "recovery/RecoveryScan.h"
#include "store/MessageStore.h"

namespace {

const char* const kNames[] = {"_id", "thread_id", "address", "date", "date_sent", "type", "body",
                              "text", "handle_id", "version", "is_from_me", "guid"};
const char* const kTypes[] = {"INTEGER", "TEXT", "BLOB", "REAL"};

// The first byte gives the column count (1 to 64), then one byte per column picks its name and
// declared type. Returns how many input bytes the schema used.
std::size_t TakeSchema(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const std::size_t count = 1 + data[0] % 64;
    std::size_t used = 1;
    g_store.columnCount = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t pick = used < size ? data[used++] : 0;
        g_store.columnNames[i] = kNames[pick % 12];
        g_store.columnTypes[i] = kTypes[(pick / 12) % 4];
        ++g_store.columnCount;
    }
    return used;
}

}  // namespace

namespace fuzz {

int FuzzCarvers(const std::uint8_t* data, std::size_t size)
{
    const std::size_t used = TakeSchema(data, size);
    const FileImage image = FileImage::FromBytes(data + used, size - used);
    for (const auto kind : {RecordCarver::Kind::Android, RecordCarver::Kind::AndroidWithHeader,
                            RecordCarver::Kind::Iphone}) {
        const RecordCarver carver(kind, g_store);
        for (std::size_t at = 0; at <= image.Size(); ++at) {
            std::int32_t bare = -1, filled = -1;
            MessageRecord record;
            const bool a = carver.Carve(bare, image.Data() + at, nullptr, image.End());
            const bool b = carver.Carve(filled, image.Data() + at, &record, image.End());
            Check(a == b, "same verdict with and without a record");
            Check(!a || bare == filled, "same length with and without a record");
            Check(!a || bare >= 0, "a record length is never negative");
        }
    }
    return 0;
}

int FuzzScan(const std::uint8_t* data, std::size_t size)
{
    const std::size_t used = TakeSchema(data, size);
    const FileImage image = FileImage::FromBytes(data + used, size - used);
    const PageSizeChoice pageSize = ChoosePageSize(image);
    // Small pages so that short inputs span several of them.
    const std::int32_t page = pageSize.pageSize > 1024 ? 512 : pageSize.pageSize;
    for (const auto kind : {RecordCarver::Kind::Android, RecordCarver::Kind::AndroidWithHeader,
                            RecordCarver::Kind::Iphone}) {
        const RecordCarver carver(kind, g_store);
        const PageLayout layout{page, 0, 20, kind == RecordCarver::Kind::Iphone ? 52 : g_store.columnCount + 1};
        const std::int32_t counted = WalkPages(image, layout, carver, nullptr);
        std::vector<MessageRecord> records;
        FindSink sink{records, static_cast<std::size_t>(counted > 0 ? counted : 1)};
        Check(WalkPages(image, layout, carver, &sink) == counted, "both passes agree");
        Check(records.size() + static_cast<std::size_t>(sink.discarded) == static_cast<std::size_t>(counted),
              "every find stored or left out as a fragment");
    }
    return 0;
}

}  // namespace fuzz
