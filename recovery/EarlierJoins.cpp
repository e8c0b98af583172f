// Chats of deleted iPhone messages from the join rows of earlier page versions.
#include "recovery/EarlierJoins.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "store/MessageStore.h"

namespace {

struct JoinRow {
    std::int64_t chat = 0, message = 0;
};

// An integer of serial type 1 to 6, 8 or 9 at `offset`.
std::optional<std::int64_t> IntegerAt(ByteView page, std::uint64_t serialType, std::uint64_t offset)
{
    if (serialType == 8) return 0;
    if (serialType == 9) return 1;
    static constexpr std::uint8_t kLength[] = {0, 1, 2, 3, 4, 6, 8};
    if (serialType < 1 || serialType > 6 || !page.Has(offset, kLength[serialType])) return std::nullopt;
    std::uint64_t value = (page.U8(offset) & 0x80) != 0 ? ~std::uint64_t{0} : 0;
    for (std::uint32_t b = 0; b < kLength[serialType]; ++b) value = (value << 8) | page.U8(offset + b);
    return static_cast<std::int64_t>(value);
}

// The cell at `at` as a join row: two or three integer columns, all on the page.
std::optional<JoinRow> JoinRowAt(ByteView page, std::uint32_t at)
{
    const ByteView::Varint payload = page.VarintAt(at);
    if (payload.length == 0 || payload.value > 64) return std::nullopt;
    const ByteView::Varint rowId = page.VarintAt(at + payload.length);
    if (rowId.length == 0) return std::nullopt;
    const std::uint64_t start = std::uint64_t{at} + payload.length + rowId.length;
    const std::uint8_t headerSize = page.U8(start);
    if (headerSize != 3 && headerSize != 4) return std::nullopt;
    std::uint64_t content = start + headerSize;
    std::int64_t values[3] = {};
    for (std::uint8_t c = 0; c + 1 < headerSize; ++c) {
        const std::uint8_t type = page.U8(start + 1 + c);
        const bool integer = (type >= 1 && type <= 6) || type == 8 || type == 9 || (c == 2 && type == 0);
        if (!integer) return std::nullopt;
        const std::optional<std::int64_t> value = type == 0 ? std::optional<std::int64_t>(0) : IntegerAt(page, type, content);
        if (!value) return std::nullopt;
        values[c] = *value;
        static constexpr std::uint8_t kLength[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
        content += kLength[type];
    }
    if (content - start != payload.value || values[0] <= 0 || values[1] <= 0) return std::nullopt;
    return JoinRow{values[0], values[1]};
}

// Every page version of the files: the database's pages, the log's frames, the journal's records.
std::vector<std::pair<ByteView, std::uint32_t>> PageVersions(std::span<const JoinSource> files, std::uint32_t pageSize)
{
    std::vector<std::pair<ByteView, std::uint32_t>> pages;
    for (const JoinSource& file : files) {
        if (file.role == FileRole::Database) {
            for (std::uint64_t p = 0; (p + 1) * pageSize <= file.bytes.Size(); ++p) {
                pages.emplace_back(file.bytes.Sub(p * pageSize, pageSize), static_cast<std::uint32_t>(p + 1));
            }
            continue;
        }
        const std::vector<PageRecord> records = file.role == FileRole::Log ? ReadLog(file.bytes, pageSize).pages
                                                                           : ReadJournal(file.bytes, pageSize, 1u << 24).pages;
        for (const PageRecord& r : records) pages.emplace_back(file.bytes.Sub(r.offset, pageSize), r.pageNumber);
    }
    return pages;
}

}  // namespace

std::unordered_map<std::int64_t, std::int64_t> EarlierMessageChats(
    std::span<const JoinSource> files, std::uint32_t pageSize, std::uint32_t usable,
    const std::unordered_map<std::int64_t, std::int32_t>& entryOfChat,
    const std::unordered_map<std::int64_t, std::int32_t>& liveEntryOfRow)
{
    std::unordered_map<std::int64_t, std::int64_t> chatOf;
    std::vector<JoinRow> rows;
    for (const auto& [page, number] : PageVersions(files, pageSize)) {
        const std::optional<BtreePage> btree = ReadBtreePage(page, number, usable);
        if (!btree || btree->type != 0x0D || btree->cells.empty()) continue;
        rows.clear();
        int agree = 0, disagree = 0;
        for (const std::uint32_t cell : btree->cells) {
            const std::optional<JoinRow> row = JoinRowAt(page, cell);
            const auto chat = row ? entryOfChat.find(row->chat) : entryOfChat.end();
            if (chat == entryOfChat.end()) break;
            rows.push_back(*row);
            if (const auto live = liveEntryOfRow.find(row->message); live != liveEntryOfRow.end()) {
                ++(live->second == chat->second ? agree : disagree);
            }
        }
        if (rows.size() != btree->cells.size() || agree == 0 || agree <= disagree) continue;
        for (const JoinRow& row : rows) chatOf.try_emplace(row.message, row.chat);
    }
    return chatOf;
}

void PlaceByEarlierJoins(std::span<const JoinSource> files, std::uint32_t pageSize, std::uint32_t usable, CSms& reader)
{
    const MessageStore& store = g_store;
    if (reader.m_entryOfThread.empty()) return;
    std::unordered_set<std::string_view> keys;
    for (std::int32_t i = 0; i < store.conversationCount; ++i) keys.insert(store.conversations[i].key);
    for (const auto& [alias, key] : reader.m_keyAlias) keys.insert(alias);
    auto unplaced = [&](const MessageRecord& m) { return m.rowId != 0 && m.threadId == 0 && !keys.contains(m.address); };
    if (std::none_of(reader.m_recovered.begin(), reader.m_recovered.end(), unplaced)) return;
    std::unordered_map<std::int64_t, std::int32_t> liveEntryOfRow;
    liveEntryOfRow.reserve(static_cast<std::size_t>(store.liveMessageCount));
    for (std::int32_t m = 0; m < store.liveMessageCount; ++m) {
        if (store.liveMessages[m].rowId != 0) liveEntryOfRow.emplace(store.liveMessages[m].rowId, store.liveMessages[m].countedIn);
    }
    const auto chatOf = EarlierMessageChats(files, pageSize, usable, reader.m_entryOfThread, liveEntryOfRow);
    for (MessageRecord& m : reader.m_recovered) {
        if (!unplaced(m)) continue;
        if (const auto chat = chatOf.find(m.rowId); chat != chatOf.end()) m.threadId = chat->second;
    }
}
