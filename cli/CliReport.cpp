// Text and JSON renderings of the store for kestrow-cli.
#include "CliReport.h"

#include <array>
#include <cwchar>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/ConversationView.h"
#include "store/MessageStore.h"
#include "store/RecoveryRun.h"
#include "store/TimeText.h"

using nlohmann::ordered_json;

namespace {

// JSON strings must be valid UTF-8; iPhone keys and addresses are kept as delivered.
std::string JsonText(const std::string& text) { return Utf8ToAnsiString(std::string_view(text)); }

// The fields every message object shares.
ordered_json MessageFields(const MessageRecord& m)
{
    ordered_json item;
    item["body"] = JsonText(m.body);
    item["from_me"] = m.fromMe != 0;
    item["time"] = m.time;
    item["time_text"] = FormatMessageTime(m.time);
    item["address"] = JsonText(m.address);
    return item;
}

ordered_json MessageJson(const MessageRecord& m, bool recovered)
{
    ordered_json item = MessageFields(m);
    item["recovered"] = recovered;
    return item;
}

ordered_json Envelope(const std::string& databasePath)
{
    ordered_json out;
    out["database"] = JsonText(databasePath);
    out["kind"] = KindName();
    return out;
}

// The sender shown for a received live message outside any conversation: Android stores the
// number itself; an iPhone message holds a handle key, shown as that handle's number.
std::string SenderName(const MessageRecord& m)
{
    if (m.fromMe != 0) return "Me";
    const MessageStore& store = g_store;
    if (!store.currentReader || store.currentReader->m_deviceKind != kDeviceIphone) {
        return m.address;
    }
    for (std::int32_t i = 1; i < store.conversationCount; ++i) {
        if (store.conversations[i].key == m.address) return store.conversations[i].address;
    }
    return m.address;
}

void AppendMessage(std::string& out, const std::string& heading, const std::string& body)
{
    out += heading;
    out += '\n';
    out += body;
    out += "\n\n";
}

}  // namespace

std::string KindName()
{
    const CSms* reader = g_store.currentReader.get();
    if (reader == nullptr) return "";
    return reader->m_deviceKind == kDeviceIphone ? "iphone" : "android";
}

std::string QuantityText(int messageCount, int recoveredCount)
{
    if (recoveredCount == 0) return std::to_string(messageCount);
    return std::to_string(messageCount) + "(" + std::to_string(recoveredCount) + ")";
}

std::size_t DisplayWidth(const std::string& text)
{
    std::size_t width = 0;
    std::mbstate_t state{};
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        wchar_t wc = 0;
        const std::size_t used = std::mbrtowc(&wc, p, static_cast<std::size_t>(end - p), &state);
        if (used == 0 || used > static_cast<std::size_t>(end - p)) {
            // Not decodable in the current locale: count bytes that do not continue a character.
            if ((static_cast<unsigned char>(*p) & 0xC0) != 0x80) ++width;
            ++p;
            state = {};
            continue;
        }
        const int columns = ::wcwidth(wc);
        width += columns < 0 ? 1 : static_cast<std::size_t>(columns);
        p += used;
    }
    return width;
}

std::string ConversationsText()
{
    const MessageStore& store = g_store;
    std::vector<std::array<std::string, 3>> rows;
    rows.push_back({"Phone Number", "Recent Time", "Quantity"});
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        rows.push_back({JsonText(c.address), FormatMessageTime(c.recentTime),
                        QuantityText(c.messageCount, c.recoveredCount)});
    }
    std::array<std::size_t, 3> widths{};
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < row.size(); ++k) {
            widths[k] = std::max(widths[k], DisplayWidth(row[k]));
        }
    }
    std::string out;
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < row.size(); ++k) {
            out += row[k];
            if (k + 1 < row.size()) out.append(widths[k] - DisplayWidth(row[k]) + 2, ' ');
        }
        out += '\n';
    }
    return out;
}

ordered_json ConversationsJson(const std::string& databasePath)
{
    const MessageStore& store = g_store;
    ordered_json out = Envelope(databasePath);
    ordered_json list = ordered_json::array();
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        ordered_json item;
        item["row"] = i;
        item["address"] = JsonText(c.address);
        item["key"] = JsonText(c.key);
        item["recent_time"] = c.recentTime;
        item["recent_time_text"] = FormatMessageTime(c.recentTime);
        item["message_count"] = c.messageCount;
        item["recovered_count"] = c.recoveredCount;
        item["catch_all"] = c.isCatchAll != 0;
        list.push_back(std::move(item));
    }
    out["conversations"] = std::move(list);
    return out;
}

std::string MessagesText()
{
    const MessageStore& store = g_store;
    std::string out;
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        AppendMessage(out, JsonText(SenderName(m)) + " " + FormatMessageTime(m.time), m.body);
    }
    return out;
}

ordered_json MessagesJson(const std::string& databasePath)
{
    const MessageStore& store = g_store;
    ordered_json out = Envelope(databasePath);
    ordered_json list = ordered_json::array();
    // Entry ids are the entries' indexes at load time; sorting moved them to other rows.
    std::vector<std::int32_t> rowOfEntry(static_cast<std::size_t>(store.conversationCount), -1);
    for (std::int32_t row = 0; row < store.conversationCount; ++row) {
        const std::int32_t id = store.conversations[row].entryId;
        if (id >= 0 && id < store.conversationCount) rowOfEntry[static_cast<std::size_t>(id)] = row;
    }
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        ordered_json item = MessageJson(m, false);
        const bool known = m.countedIn >= 0 && m.countedIn < store.conversationCount;
        item["row"] = known ? ordered_json(rowOfEntry[static_cast<std::size_t>(m.countedIn)]) : ordered_json(nullptr);
        list.push_back(std::move(item));
    }
    out["messages"] = std::move(list);
    return out;
}

std::string ConversationText(int row)
{
    std::string out;
    for (const ShownMessage& shown : CollectConversation(row)) {
        AppendMessage(out, JsonText(shown.heading), shown.message->body);
    }
    return out;
}

ordered_json ConversationJson(const std::string& databasePath, int row)
{
    ordered_json out = Envelope(databasePath);
    out["row"] = row;
    ordered_json list = ordered_json::array();
    for (const ShownMessage& shown : CollectConversation(row)) {
        ordered_json item = MessageJson(*shown.message, shown.recovered);
        item["heading"] = JsonText(shown.heading);
        list.push_back(std::move(item));
    }
    out["messages"] = std::move(list);
    return out;
}

std::string ScanDescription()
{
    const CSms* reader = g_store.currentReader.get();
    if (reader == nullptr || reader->m_lastScan.scannedPath.empty() || reader->m_lastScan.pageSize == 0) {
        return "";
    }
    const ScanReport& scan = reader->m_lastScan;
    std::string text = "Scanned " + JsonText(scan.scannedPath);
    text += scan.logMode ? " (a write-ahead log) in 4096-byte blocks." :
                           " in " + std::to_string(scan.pageSize) + "-byte pages.";
    if (!scan.pageSizeNote.empty()) text += " Note: " + scan.pageSizeNote + ".";
    return text;
}

std::string RecoveryText()
{
    const MessageStore& store = g_store;
    const CSms& reader = *store.currentReader;
    std::string out;
    if (const std::string scanned = ScanDescription(); !scanned.empty()) out += scanned + "\n";
    out += "Totally " + std::to_string(reader.m_recoveredCount) +
           " short messages are successfully recovered.\n\n";
    out += ConversationsText();
    for (std::int32_t row = 0; row < store.conversationCount; ++row) {
        std::string messages;
        for (const ShownMessage& shown : CollectConversation(row)) {
            if (shown.recovered) AppendMessage(messages, JsonText(shown.heading), shown.message->body);
        }
        if (messages.empty()) continue;
        out += "\n== " + JsonText(store.conversations[row].address) + " (row " + std::to_string(row) +
               ", " + std::to_string(store.conversations[row].recoveredCount) + " recovered)\n\n";
        out += messages;
    }
    return out;
}

ordered_json RecoveryJson(const std::string& databasePath, std::int32_t countingFound,
                          std::int32_t fillingFound)
{
    const CSms& reader = *g_store.currentReader;
    const ScanReport& scan = reader.m_lastScan;
    ordered_json out = Envelope(databasePath);
    out["scanned"] = JsonText(scan.scannedPath);
    out["page_size"] = scan.pageSize;
    out["counting_found"] = countingFound;
    out["filling_found"] = fillingFound;
    out["recovered_count"] = reader.m_recoveredCount;
    out["conversations"] = ConversationsJson(databasePath)["conversations"];
    ordered_json list = ordered_json::array();
    for (std::int32_t i = 0; i < reader.m_recoveredCount; ++i) {
        const MessageRecord& m = reader.m_recovered[i];
        ordered_json item = MessageFields(m);
        item["spill"] = m.spillFlag != 0;
        item["unassigned"] = m.unassignedFlag != 0;
        list.push_back(std::move(item));
    }
    out["recovered"] = std::move(list);
    if (const std::string problem = ScanFailureSentence(scan); !problem.empty()) out["problem"] = problem;
    if (!scan.pageSizeNote.empty()) out["page_size_note"] = scan.pageSizeNote;
    return out;
}
