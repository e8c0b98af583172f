// Reading live rows from the leaf pages of a damaged table.
#include "readers/UnreachedRows.h"

#include <unordered_set>

#include "recovery/DeepRecords.h"
#include "recovery/FileImage.h"
#include "recovery/SqliteFiles.h"

std::vector<MessageRecord> UnreachedRows(const DatabaseReading& reading, const MessageStore& store, DeviceKind kind,
                                         std::span<const MessageRecord> read)
{
    std::vector<MessageRecord> rows;
    if (!reading.Damaged() || store.columnCount == 0) return rows;
    std::optional<FileImage> file;
    ByteView image = reading.Image();
    if (image.Size() == 0 && reading.How() == OpenedAs::MainFileOnly) {
        file.emplace(reading.Path());
        if (file->Loaded()) image = ByteView(file->Data(), file->Size());
    }
    const std::optional<DatabaseHeader> header = ReadDatabaseHeader(image);
    if (!header) return rows;
    const auto columns = static_cast<std::size_t>(std::min(store.columnCount, kColumnCapacity));
    std::unordered_set<std::int64_t> known;
    for (const MessageRecord& m : read) known.insert(m.rowId);
    const DeepDecoder decoder(kind, std::span(store.columnNames).first(columns), std::span(store.columnTypes).first(columns));
    const std::uint64_t pages = image.Size() / header->pageSize;
    for (std::uint64_t p = 1; p <= pages; ++p) {
        const ByteView page = image.Sub((p - 1) * header->pageSize, header->pageSize);
        const std::optional<BtreePage> btree = ReadBtreePage(page, static_cast<std::uint32_t>(p), header->usableSize);
        if (!btree || btree->type != kLeafTablePage) continue;
        const DeepDecoder::Area area{page, std::min<std::uint32_t>(header->usableSize, static_cast<std::uint32_t>(page.Size())),
                                     header->usableSize, nullptr};
        for (const std::uint32_t cell : btree->cells) {
            std::optional<DecodedRecord> record = decoder.TryCell(area, cell);
            if (!record || record->rowId == 0 || !known.insert(record->rowId).second) continue;
            MessageRecord& m = rows.emplace_back();
            m.body = std::move(record->body);
            m.time = record->time;
            m.address = std::move(record->address);
            m.fromMe = record->fromMe;
            m.rowId = record->rowId;
            m.threadId = record->threadId;
            m.truncated = record->truncated ? 1 : 0;
        }
    }
    return rows;
}
