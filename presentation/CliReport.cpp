// Text and JSON renderings of the store for kestrow-cli.
#include "presentation/CliReport.h"

#include <array>
#include <cwchar>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "presentation/ConversationView.h"
#include "presentation/JsonWriter.h"
#include "presentation/Texts.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

// Texts for a terminal must be valid UTF-8; iPhone keys and addresses are kept as delivered.
std::string JsonText(const std::string& text) { return Utf8ToAnsiString(std::string_view(text)); }

void WriteEnvelope(JsonWriter& json, const std::string& databasePath)
{
    json.Member("database", databasePath);
    json.Member("kind", KindName());
}

void WriteConversationList(JsonWriter& json)
{
    const MessageStore& store = g_store;
    json.Key("conversations");
    json.BeginArray();
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        json.BeginObject();
        WriteConversationFields(json, i, store.conversations[i]);
        json.EndObject();
    }
    json.EndArray();
}

// The sender shown for a message outside any conversation: Android stores the number itself;
// an iPhone message holds a handle key, shown as that handle's number (a key that names no
// handle is no number: the catch-all's name).
std::string SenderName(const MessageRecord& m, const SenderNames& names)
{
    return m.fromMe != 0 ? std::string("Me") : names.Address(m);
}

void AppendMessage(std::string& out, const std::string& heading, const std::string& body)
{
    out += heading;
    out += '\n';
    out += body;
    out += "\n\n";
}

}  // namespace

namespace {

void StringOrNull(JsonWriter& json, const char* key, const std::string& text)
{
    json.Key(key);
    if (text.empty()) {
        json.Null();
    } else {
        json.String(text);
    }
}

void WriteAttachments(JsonWriter& json, const std::vector<Attachment>& attachments)
{
    json.Key("attachments");
    json.BeginArray();
    for (const Attachment& a : attachments) {
        json.BeginObject();
        json.Member("name", a.name);
        json.Member("mime", a.mime);
        json.Key("size");
        if (a.size >= 0) {
            json.Int(a.size);
        } else {
            json.Null();
        }
        json.Member("file", a.file);
        json.Member("present", a.present);
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace

void WriteMessageFields(JsonWriter& json, const MessageRecord& m, const std::string& senderName, const SenderNames& names)
{
    const bool iphone = g_store.currentReader != nullptr && g_store.currentReader->m_deviceKind == kDeviceIphone;
    json.Member("body", m.body);
    json.Member("from_me", m.fromMe != 0);
    json.Member("time", m.time);
    json.Member("time_text", FormatMessageTime(m.time));
    json.Member("address", names.Address(m));
    if (iphone) json.Member("handle_id", ReadDecimal64(m.address.c_str()));
    StringOrNull(json, "sender_name", senderName);
    json.Member("kind", MessageKindText(m.kind));
    json.Member("sender", m.fromMe != 0 ? std::string() : names.StoredAddress(m));
    json.Member("subject", m.details->subject);
    json.Member("status", MessageStatusText(m.status));
    WriteAttachments(json, m.details->attachments);
    json.Member("recently_deleted", m.recentlyDeleted != 0);
    json.Member("truncated", m.truncated != 0);
    // What few messages have is written only where it is.
    if (m.recentlyDeleted != 0 || m.details->deletedTime != 0) json.Member("deleted_time_text", FormatMessageTime(m.details->deletedTime));
    if (m.edited != 0) json.Member("edited", true);
    if (m.unsent != 0) json.Member("unsent", true);
    if (!m.details->earlierVersions.empty()) {
        json.Key("earlier_versions");
        json.BeginArray();
        for (const std::string& text : m.details->earlierVersions) json.String(text);
        json.EndArray();
    }
    if (!m.details->reactions.empty()) {
        json.Key("reactions");
        json.BeginArray();
        for (const Reaction& r : m.details->reactions) {
            json.BeginObject();
            json.Member("reaction", r.what);
            json.Member("by", r.by);
            json.EndObject();
        }
        json.EndArray();
    }
}

SenderNames::SenderNames()
{
    const MessageStore& store = g_store;
    for (std::int32_t i = 1; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        m_ofEntry.emplace(c.entryId, &c);
        if (!c.name.empty() && c.isGroup == 0) m_ofAddress.emplace(m_addresses.iphone ? c.key : c.address, &c.name);
    }
}

const std::string& SenderNames::Of(const MessageRecord& m) const
{
    static const std::string kNone;
    if (m.fromMe != 0) return kNone;
    if (m.countedIn >= 0) {
        const auto entry = m_ofEntry.find(m.countedIn);
        if (entry == m_ofEntry.end()) return kNone;
        const ContactRecord& c = *entry->second;
        if (c.isGroup == 0) return c.name;
        const std::string& sender = Address(m);
        for (std::size_t k = 0; k < c.members.size() && k < c.memberNames.size(); ++k) {
            if (c.members[k] == sender) return c.memberNames[k];
        }
        return kNone;
    }
    const auto address = m_ofAddress.find(m.address);
    return address != m_ofAddress.end() ? *address->second : kNone;
}

const std::string& SenderNames::Address(const MessageRecord& m) const { return m_addresses.Address(m); }

void WriteConversationFields(JsonWriter& json, std::int32_t row, const ContactRecord& c)
{
    json.Member("row", row);
    json.Member("address", c.address);
    json.Member("key", c.key);
    json.Member("recent_time", c.recentTime);
    json.Member("recent_time_text", FormatMessageTime(c.recentTime));
    json.Member("message_count", c.messageCount);
    json.Member("recovered_count", c.recoveredCount);
    json.Member("recently_deleted_count", c.keptDeletedCount);
    json.Member("catch_all", c.isCatchAll != 0);
    json.Member("group", c.isGroup != 0);
    json.Member("title", c.title);
    if (!c.keys.empty()) {  // an iPhone person: every handle key, one per service
        json.Key("handles");
        json.BeginArray();
        for (const std::string& key : c.keys) json.String(key);
        json.EndArray();
    }
    json.Key("members");
    json.BeginArray();
    if (c.isGroup != 0) {
        for (const std::string& member : c.storedMembers) json.String(member);
    } else if (c.isCatchAll == 0) {
        json.String(c.storedAddress.empty() ? c.address : c.storedAddress);
    }
    json.EndArray();
    json.Key("names");
    json.BeginArray();
    auto name = [&json](const std::string& text) {
        if (text.empty()) {
            json.Null();
        } else {
            json.String(text);
        }
    };
    if (c.isGroup != 0) {
        for (std::size_t k = 0; k < c.members.size(); ++k) name(k < c.memberNames.size() ? c.memberNames[k] : std::string());
    } else if (c.isCatchAll == 0) {
        name(c.name);
    }
    json.EndArray();
}

namespace {

void WritePlace(JsonWriter& json, const FindPlace& place)
{
    json.BeginObject();
    json.Member("file", place.file);
    json.Member("offset", place.offset);
    json.Member("page", place.page);
    json.Member("where", PlaceText(place.where));
    json.EndObject();
}

// The row's other versions: each with its place and the columns in which it differs from
// what the message shows.
void WriteVersions(JsonWriter& json, const MessageRecord& m)
{
    json.Key("versions");
    json.BeginArray();
    for (const RowVersion& version : m.details->versions) {
        json.BeginObject();
        json.Key("place");
        WritePlace(json, version.place);
        if (version.time != m.time) json.Member("time", version.time);
        if (version.address != m.address) json.Member("address", version.address);
        if (version.body != m.body) json.Member("body", version.body);
        if ((version.fromMe != 0) != (m.fromMe != 0)) json.Member("from_me", version.fromMe != 0);
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace

void WriteDeepFindFields(JsonWriter& json, const MessageRecord& m)
{
    json.Key("places");
    json.BeginArray();
    for (const FindPlace& place : m.places) WritePlace(json, place);
    json.EndArray();
    WriteVersions(json, m);
    json.Key("row_id");
    if (m.rowId != 0) {
        json.Int(m.rowId);
    } else {
        json.Null();
    }
}

std::string KindName()
{
    const CSms* reader = g_store.currentReader.get();
    if (reader == nullptr) return "";
    return reader->m_deviceKind == kDeviceIphone ? "iphone" : "android";
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
    // The row number first: it is what --conversation and --rows take. Names, when contacts
    // gave any, come last.
    std::vector<std::array<std::string, 5>> rows;
    rows.push_back({"Row", "Phone Number", "Recent Time", "Quantity", "Name"});
    bool named = false;
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        rows.push_back({std::to_string(i), JsonText(c.address), FormatMessageTime(c.recentTime),
                        QuantityText(c.messageCount, c.recoveredCount + c.keptDeletedCount), JsonText(c.name)});
        named = named || !c.name.empty();
    }
    const std::size_t columns = named ? 5 : 4;
    std::array<std::size_t, 5> widths{};
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < columns; ++k) {
            widths[k] = std::max(widths[k], DisplayWidth(row[k]));
        }
    }
    std::string out;
    for (const auto& row : rows) {
        for (std::size_t k = 0; k < columns; ++k) {
            out += row[k];
            if (k + 1 < columns) out.append(widths[k] - DisplayWidth(row[k]) + 2, ' ');
        }
        while (out.ends_with(' ')) out.pop_back();  // a row without a name
        out += '\n';
    }
    return out;
}

void WriteConversationsJson(JsonWriter& json, const std::string& databasePath)
{
    json.BeginObject();
    WriteEnvelope(json, databasePath);
    WriteConversationList(json);
    json.EndObject();
}

std::string MessagesText()
{
    const MessageStore& store = g_store;
    const SenderNames names;
    std::string out;
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        AppendMessage(out, JsonText(PartnerTitle(names.Of(m), SenderName(m, names))) + " " + FormatHeadingTime(m.time) + HeadingMarks(m),
                      ShownBody({&m, false, {}, {}, {}, DetailLines(m, ContactRecord{})}));
    }
    return out;
}

void WriteMessagesJson(JsonWriter& json, const std::string& databasePath)
{
    const MessageStore& store = g_store;
    json.BeginObject();
    WriteEnvelope(json, databasePath);
    // Entry ids are the entries' indexes at load time; sorting moved them to other rows.
    std::vector<std::int32_t> rowOfEntry(static_cast<std::size_t>(store.conversationCount), -1);
    for (std::int32_t row = 0; row < store.conversationCount; ++row) {
        const std::int32_t id = store.conversations[row].entryId;
        if (id >= 0 && id < store.conversationCount) rowOfEntry[static_cast<std::size_t>(id)] = row;
    }
    const SenderNames names;
    json.Key("messages");
    json.BeginArray();
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        json.BeginObject();
        WriteMessageFields(json, m, names.Of(m), names);
        json.Member("recovered", false);
        json.Key("row");
        if (m.countedIn >= 0 && m.countedIn < store.conversationCount) {
            json.Int(rowOfEntry[static_cast<std::size_t>(m.countedIn)]);
        } else {
            json.Null();
        }
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

std::string ConversationText(int row)
{
    std::string out;
    for (const ShownMessage& shown : CollectConversation(row)) {
        AppendMessage(out, JsonText(shown.heading), ShownBody(shown));
    }
    return out;
}

void WriteConversationJson(JsonWriter& json, const std::string& databasePath, int row)
{
    json.BeginObject();
    WriteEnvelope(json, databasePath);
    json.Member("row", row);
    const SenderNames names;
    json.Key("messages");
    json.BeginArray();
    for (const ShownMessage& shown : CollectConversation(row)) {
        json.BeginObject();
        WriteMessageFields(json, *shown.message, shown.senderName, names);
        json.Member("recovered", shown.recovered);
        json.Member("heading", shown.heading);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

// "Found in …" and whether the text is cut short, for the text report.
static std::string PlacesText(const MessageRecord& m)
{
    std::string text = m.places.empty() ? "" : "Found in " + PlacesList(m.places, false);
    if (m.truncated != 0) text += text.empty() ? "Truncated" : "; truncated: the rest of the text is gone";
    return text;
}

std::string ScanDescription()
{
    const CSms* reader = g_store.currentReader.get();
    if (reader != nullptr && reader->m_lastScan.deep) {
        std::string text = "Read";
        for (const ScannedSource& source : reader->m_lastScan.sources) {
            text += text == "Read" ? " " : ", ";
            text += JsonText(source.path) + " (" + FileRoleText(source.kind);
            if (source.note.empty()) {
                text += ", " + std::to_string(source.size) + " bytes, " + std::to_string(source.pages) +
                        (source.kind == FileRole::Database ? " pages" : " page versions") + ")";
            } else {
                text += ": " + source.note + ")";
            }
        }
        return text + ".";
    }
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
           " short messages are successfully recovered.\n";
    if (const std::string left = DiscardedSentence(reader.m_lastScan); !left.empty()) out += left + "\n";
    out += "\n";
    out += ConversationsText();
    if (reader.m_recoveredCount == 0) return out;
    const std::vector<std::vector<ShownMessage>> all = CollectAllConversations(true);
    for (std::int32_t row = 0; row < store.conversationCount; ++row) {
        std::string messages;
        for (const ShownMessage& shown : all[static_cast<std::size_t>(row)]) {
            if (!shown.recovered) continue;
            const std::string places = PlacesText(*shown.message);
            AppendMessage(messages, JsonText(shown.heading) + (places.empty() ? "" : "\n" + places), ShownBody(shown));
        }
        if (messages.empty()) continue;
        out += "\n== " + JsonText(PartnerTitle(store.conversations[row].name, store.conversations[row].address)) + " (row " + std::to_string(row) +
               ", " + std::to_string(store.conversations[row].recoveredCount) + " recovered)\n\n";
        out += messages;
    }
    return out;
}

void WriteRecoveryJson(JsonWriter& json, const std::string& databasePath, std::int32_t countingFound,
                       std::int32_t fillingFound)
{
    const CSms& reader = *g_store.currentReader;
    const ScanReport& scan = reader.m_lastScan;
    json.BeginObject();
    WriteEnvelope(json, databasePath);
    json.Member("deep", scan.deep);
    if (scan.deep) {
        json.Key("sources");
        json.BeginArray();
        for (const ScannedSource& source : scan.sources) {
            json.BeginObject();
            json.Member("file", source.path);
            json.Member("kind", FileRoleText(source.kind));
            json.Member("size", source.size);
            json.Member("pages", source.pages);
            if (!source.note.empty()) json.Member("note", source.note);
            json.EndObject();
        }
        json.EndArray();
    }
    json.Member("scanned", scan.scannedPath);
    json.Member("page_size", scan.pageSize);
    json.Member("counting_found", countingFound);
    json.Member("discarded", scan.discarded);
    json.Member("filling_found", fillingFound);
    json.Member("recovered_count", reader.m_recoveredCount);
    WriteConversationList(json);
    const SenderNames names;
    json.Key("recovered");
    json.BeginArray();
    for (std::int32_t i = 0; i < reader.m_recoveredCount; ++i) {
        const MessageRecord& m = reader.m_recovered[i];
        json.BeginObject();
        WriteMessageFields(json, m, names.Of(m), names);
        json.Member("spill", m.spillFlag != 0);
        json.Member("unassigned", m.unassignedFlag != 0);
        if (scan.deep) WriteDeepFindFields(json, m);
        json.EndObject();
    }
    json.EndArray();
    if (const std::string problem = ScanFailureSentence(scan); !problem.empty()) json.Member("problem", problem);
    if (!scan.pageSizeNote.empty()) json.Member("page_size_note", scan.pageSizeNote);
    json.EndObject();
}
