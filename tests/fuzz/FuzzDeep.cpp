// Fuzz target for the deep recovery's parsers: a database image, a log and a journal made of
// arbitrary bytes, under an Android or an iPhone schema. The sanitizers catch any read outside
// the bytes; the target checks that every find lies inside its image and has valid texts.
#include <span>
#include <vector>

#include "FuzzTargets.h"
#include "readers/CreateReader.h"
#include "recovery/DeepScan.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

// The columns the deep decoder knows by name, in the phones' order, with their types.
const std::pair<const char*, const char*> kAndroid[] = {
    {"_id", "INTEGER"}, {"thread_id", "INTEGER"}, {"address", "TEXT"}, {"date", "INTEGER"},
    {"date_sent", "INTEGER"}, {"read", "INTEGER"}, {"type", "INTEGER"}, {"body", "TEXT"}, {"seen", "INTEGER"}};
const std::pair<const char*, const char*> kIphone[] = {
    {"ROWID", "INTEGER"}, {"guid", "TEXT"}, {"text", "TEXT"}, {"handle_id", "INTEGER"}, {"attributedbody", "BLOB"},
    {"version", "INTEGER"}, {"date", "INTEGER"}, {"date_read", "INTEGER"}, {"is_from_me", "INTEGER"}};

}  // namespace

namespace fuzz {

int FuzzDeep(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) return 0;
    const bool iphone = (data[0] & 1) != 0;
    g_store.RestoreProgramStart();
    g_store.currentReader = CreateReader(iphone ? DatabaseName::Iphone : DatabaseName::Android);
    g_store.columnCount = 0;
    for (const auto& [name, type] : iphone ? std::span(kIphone) : std::span(kAndroid)) {
        g_store.columnNames[g_store.columnCount] = name;
        g_store.columnTypes[g_store.columnCount] = type;
        ++g_store.columnCount;
    }
    // The bytes in a buffer of their own size, so that the sanitizers see any read past them.
    const std::vector<std::uint8_t> bytes(data + 1, data + size);
    const ByteView image(bytes.data(), bytes.size());
    const DeepDecoder decoder(g_store);
    std::vector<RawFind> finds;
    ScanDatabaseImage(image, "database", decoder, finds);
    const std::uint32_t pageSize = 512u << (data[0] >> 1 & 3);  // small pages: short inputs span several
    ScanLogImage(image, "log", pageSize, pageSize, decoder, finds);
    ScanJournalImage(image, "journal", pageSize, pageSize, 64, decoder, finds);
    for (const RawFind& find : finds) {
        Check(find.place.offset >= 0 && static_cast<std::size_t>(find.place.offset) < bytes.size(), "a find lies inside");
        Check(IsValidUtf8(find.record.body) && IsValidUtf8(find.record.address), "texts are valid UTF-8");
    }
    const std::vector<MessageRecord> merged = MergeDeepFinds(finds, LiveRows(g_store), LiveCopies(g_store));
    Check(merged.size() <= finds.size(), "merging never adds messages");
    return 0;
}

}  // namespace fuzz
