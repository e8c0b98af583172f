// Fuzz target for the deep recovery's parsers: a database image, a log and a journal made of
// arbitrary bytes, under an Android or an iPhone schema with the phone's part tables. The sanitizers catch any read outside
// the bytes; the target checks that every find lies inside its image and has valid texts.
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "FuzzTargets.h"
#include "readers/CreateReader.h"
#include "recovery/DeepParts.h"
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
    std::vector<const DeepDecoder*> decoders{&decoder};
    std::vector<std::unique_ptr<DeepDecoder>> parts;
    const DeviceKind kind = iphone ? kDeviceIphone : kDeviceAndroid;
    for (const CarvedTable table : PartTables(kind)) {
        std::vector<std::string> names, types;
        for (const PhoneColumn& column : PhoneLayout(kind, table)) {
            names.emplace_back(column.name);
            types.emplace_back(column.type);
        }
        parts.push_back(std::make_unique<DeepDecoder>(kind, table, names, types, table != CarvedTable::RecoverableParts));
        decoders.push_back(parts.back().get());
    }
    std::vector<RawFind> finds;
    ScanDatabaseImage(image, "database", decoders, finds);
    const std::uint32_t pageSize = 512u << (data[0] >> 1 & 3);  // small pages: short inputs span several
    ScanLogImage(image, "log", pageSize, pageSize, decoders, finds);
    ScanJournalImage(image, "journal", pageSize, pageSize, 64, decoders, finds);
    for (const RawFind& find : finds) {
        Check(find.place.offset >= 0 && static_cast<std::size_t>(find.place.offset) < bytes.size(), "a find lies inside");
        Check(IsValidUtf8(find.record.body) && IsValidUtf8(find.record.address) && IsValidUtf8(find.record.texts->name) &&
                  IsValidUtf8(find.record.texts->file) && IsValidUtf8(find.record.texts->subject),
              "texts are valid UTF-8");
    }
    std::vector<RawFind> messageFinds, partFinds;
    for (const RawFind& find : finds) (find.record.table == CarvedTable::Messages ? messageFinds : partFinds).push_back(find);
    std::vector<MessageRecord> merged = MergeDeepFinds(messageFinds, LiveRows(g_store), LiveCopies(g_store));
    MergePartFinds(partFinds, g_store, merged);
    Check(merged.size() <= finds.size(), "merging never adds messages");
    return 0;
}

}  // namespace fuzz
