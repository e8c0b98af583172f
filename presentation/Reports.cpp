// The HTML, CSV and JSON reports of an export.
#include "presentation/Reports.h"

#include <openssl/evp.h>

#include <fstream>
#include <optional>

#include <filesystem>

#include "presentation/CliReport.h"
#include "presentation/JsonWriter.h"
#include "presentation/Texts.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

// Every text from the database passes through here: valid UTF-8, markup characters escaped,
// and control characters (which HTML does not allow) shown as replacement characters.
std::string HtmlEscape(std::string_view text)
{
    const std::string checked = Utf8ToAnsiString(text);
    std::string out;
    out.reserve(checked.size());
    for (const char c : checked) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t' && c != '\r') || byte == 0x7F) {
            out += "\xEF\xBF\xBD";
            continue;
        }
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

namespace {

const char* const kStyle = R"(
:root { color-scheme: light; }
body { font-family: "Noto Sans", "DejaVu Sans", "WenQuanYi Micro Hei", sans-serif; margin: 0 auto; max-width: 46rem;
       padding: 0.75rem; color: #141414; background: #f4f4f4; }
h1 { font-size: 1.25rem; margin: 0.5rem 0; }
h2 { font-size: 1.1rem; margin: 1.5rem 0 0.5rem; padding-bottom: 0.25rem; border-bottom: 1px solid #ccc; }
h2 small { font-weight: normal; color: #555; }
.facts { background: #fff; border: 1px solid #ddd; border-radius: 6px; padding: 0.5rem 0.75rem; font-size: 0.85rem; }
.facts dt { font-weight: bold; margin-top: 0.35rem; }
.facts dd { margin: 0; overflow-wrap: anywhere; }
.warning { color: #b00000; font-weight: bold; }
.thread { display: flex; flex-direction: column; gap: 0.5rem; }
.message { max-width: 80%; padding: 0.45rem 0.65rem; border-radius: 12px; background: #fff; border: 1px solid #ddd; }
.message.received { align-self: flex-start; border-bottom-left-radius: 3px; }
.message.sent { align-self: flex-end; background: #e3f4dd; border-bottom-right-radius: 3px; }
.message.recovered { border: 2px solid #ff0000; color: #c00000; }
.meta { font-size: 0.75rem; color: #26811b; margin-bottom: 0.2rem; }
.recovered .meta { color: #ff0000; }
.tag { display: inline-block; font-weight: bold; text-transform: uppercase; font-size: 0.65rem; border: 1px solid #ff0000;
       border-radius: 3px; padding: 0 0.25rem; margin-left: 0.3rem; }
.text { white-space: pre-wrap; overflow-wrap: anywhere; }
.places { font-size: 0.7rem; color: #7a0000; margin-top: 0.25rem; overflow-wrap: anywhere; }
@media print {
  body { background: #fff; max-width: none; }
  .message { break-inside: avoid; border-color: #999; }
  .message.sent { background: #fff; }
  h2 { break-after: avoid; }
}
)";

// "Manifest.db (/path/Manifest.db), 12345 bytes, SHA-256 …".
std::string SourceFileLine(const SourceFacts::File& file)
{
    const std::string name = file.inside.empty() ? file.path : file.inside + " (" + file.path + ")";
    if (file.size < 0) return name + ": could not be read";
    return name + ", " + std::to_string(file.size) + " bytes, SHA-256 " + file.sha256;
}

void WriteSourceJson(JsonWriter& json, const SourceFacts& source)
{
    json.Key("source");
    json.BeginObject();
    json.Member("path", source.path);
    json.Member("type", source.type);
    json.Member("encrypted", source.encrypted);
    json.Member("database", source.database);
    json.Key("contacts");
    if (source.contacts.empty()) {
        json.Null();
    } else {
        json.String(source.contacts);
    }
    json.Key("files");
    json.BeginArray();
    for (const SourceFacts::File& file : source.files) {
        json.BeginObject();
        json.Member("file", file.path);
        json.Member("inside", file.inside);
        json.Member("size", file.size);
        json.Member("sha256", file.sha256);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

void FactsHtml(std::string& out, const ReportFacts& facts, const std::string& title)
{
    out += "<header class=\"facts\">\n<h1>" + HtmlEscape(title) + "</h1>\n<dl>\n";
    auto fact = [&](const std::string& name, const std::string& value) {
        out += "<dt>" + HtmlEscape(name) + "</dt><dd>" + value + "</dd>\n";
    };
    fact("Written by", HtmlEscape(facts.program + " " + facts.version) + " at " + HtmlEscape(facts.writtenAt));
    fact("Database", HtmlEscape(facts.atOpen.databasePath) + " (" + HtmlEscape(facts.atOpen.kind) + ")");
    const SourceFacts& source = facts.atOpen.source;
    if (source.type != "database") {
        fact("Source", HtmlEscape(source.path) + " (" + HtmlEscape(source.type) + (source.encrypted ? ", encrypted" : "") +
                           "), the database " + HtmlEscape(source.database));
        for (const SourceFacts::File& file : source.files) fact("Source file", HtmlEscape(SourceFileLine(file)));
    }
    if (!source.contacts.empty()) fact("Names from", HtmlEscape(source.contacts));
    for (const FileFacts& file : facts.atReport.files) {
        fact("File " + std::filesystem::path(file.path).filename().string(), HtmlEscape(FileFactsLine(file, FileUnchanged(facts, file))));
    }
    if (!facts.unchanged) fact("Evidence", "<span class=\"warning\">" + HtmlEscape(facts.warning) + "</span>");
    else fact("Evidence", "unchanged since it was opened at " + HtmlEscape(facts.atOpen.takenAt));
    fact("Times shown in", HtmlEscape(facts.timeZone));
    fact("Recovery", facts.recovery == "none" ? std::string("none")
                                                : HtmlEscape(facts.recovery) + ", " + std::to_string(facts.recoveredCount) +
                                                      " messages recovered");
    out += "</dl>\n</header>\n";
}

// A file's bytes as base64 for a data address; nothing when it cannot be read or is larger
// than `limit`.
std::optional<std::string> Base64OfFile(const std::string& path, std::int64_t limit)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (error || static_cast<std::int64_t>(size) > limit) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    std::string bytes(size, '\0');
    if (!in.read(bytes.data(), static_cast<std::streamsize>(size))) return std::nullopt;
    std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                       reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    encoded.resize(static_cast<std::size_t>(std::max(length, 0)));
    return encoded;
}

constexpr std::int64_t kLargestEmbedded = 5 * 1024 * 1024;

}  // namespace

bool AttachmentInPage(const Attachment& a)
{
    std::error_code error;
    if (!a.present || a.at.empty() || !a.mime.starts_with("image/")) return false;
    const auto size = std::filesystem::file_size(a.at, error);
    return !error && static_cast<std::int64_t>(size) <= kLargestEmbedded;
}

namespace {

// An attachment as a figure: a picture at hand shown in the page itself; another file at hand
// linked to its copy beside the page, so that the page stays whole offline; one not at hand
// (or not copied) named with where the phone kept it.
void AttachmentHtml(std::string& out, const Attachment& a, const AttachmentLinks& links)
{
    out += "<figure class=\"attachment\">";
    const std::string mime = a.mime.empty() ? "application/octet-stream" : a.mime;
    const std::optional<std::string> data = AttachmentInPage(a) ? Base64OfFile(a.at, kLargestEmbedded) : std::nullopt;
    const auto link = a.present && !a.at.empty() ? links.find(a.at) : links.end();
    if (data) {
        out += "<img src=\"data:" + HtmlEscape(mime) + ";base64," + *data + "\" alt=\"" + HtmlEscape(a.name) + "\">";
    } else if (link != links.end()) {
        const std::string name = HtmlEscape(a.name.empty() ? "file" : a.name);
        out += mime.starts_with("image/") ? "<a href=\"" + HtmlEscape(link->second) + "\"><img src=\"" +
                                                HtmlEscape(link->second) + "\" alt=\"" + name + "\"></a>"
                                          : "<a href=\"" + HtmlEscape(link->second) + "\">" + name + "</a>";
    }
    out += "<figcaption>" + HtmlEscape(AttachmentLine(a));
    if (!data && link == links.end()) out += a.present ? " — kept in the source as " + HtmlEscape(a.file) : " — missing";
    out += "</figcaption></figure>\n";
}

void ConversationHtml(std::string& out, const ReportConversation& c, const AttachmentLinks& links)
{
    out += "<section>\n<h2><bdi>" + HtmlEscape(PartnerTitle(c.entry->name, c.entry->address)) + "</bdi> <small>(" + std::to_string(c.messages) + " messages, " +
           std::to_string(c.recovered) + " recovered)</small></h2>\n<div class=\"thread\">\n";
    for (const ShownMessage& shown : *c.shown) {
        const MessageRecord& m = *shown.message;
        out += "<div class=\"message ";
        out += m.fromMe != 0 ? "sent" : "received";
        if (shown.recovered) out += " recovered";
        // Names and texts are isolated: a right-to-left one never turns the time around.
        out += "\">\n<div class=\"meta\"><bdi>" + HtmlEscape(shown.name) + "</bdi> · " + HtmlEscape(FormatMessageTimeWithOffset(m.time));
        if (shown.recovered) out += "<span class=\"tag\">recovered</span>";
        if (m.truncated != 0) out += "<span class=\"tag\">truncated</span>";
        if (m.kind != MessageKind::Sms) out += "<span class=\"tag\">" + std::string(MessageKindText(m.kind)) + "</span>";
        if (const std::string marks = HeadingMarks(m); !marks.empty()) out += "<span class=\"tag\">" + HtmlEscape(marks.substr(1)) + "</span>";
        out += "</div>\n";
        if (!m.details->subject.empty()) out += "<div class=\"subject\" dir=\"auto\">" + HtmlEscape(m.details->subject) + "</div>\n";
        out += "<div class=\"text\" dir=\"auto\">" + HtmlEscape(m.body) + "</div>\n";
        for (const Attachment& a : m.details->attachments) AttachmentHtml(out, a, links);
        for (const Reaction& r : m.details->reactions) out += "<div class=\"reaction\">" + HtmlEscape(r.what + " by " + (r.by.empty() ? "Me" : r.by)) + "</div>\n";
        for (const std::string& earlier : m.details->earlierVersions) out += "<div class=\"earlier\" dir=\"auto\">Before the edit: " + HtmlEscape(earlier) + "</div>\n";
        if (shown.recovered && !m.places.empty()) out += "<div class=\"places\">Found in " + HtmlEscape(PlacesList(m.places, true)) + "</div>\n";
        out += "</div>\n";
    }
    out += "</div>\n</section>\n";
}


}  // namespace

// A CSV field: quoted, quotes doubled; a text a spreadsheet would run as a formula (it begins
// with = + - or @) gets a single quote before it.
std::string CsvField(std::string_view text, bool guardFormula)
{
    std::string checked = Utf8ToAnsiString(text);
    if (guardFormula && !checked.empty() && (checked[0] == '=' || checked[0] == '+' || checked[0] == '-' || checked[0] == '@')) {
        checked.insert(0, "'");
    }
    std::string out = "\"";
    for (const char c : checked) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

std::string HtmlReport(const ReportFacts& facts, const std::vector<ReportConversation>& conversations,
                       const std::string& title, const AttachmentLinks& links)
{
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                      "<title>" + HtmlEscape(title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
    FactsHtml(out, facts, title);
    for (const ReportConversation& c : conversations) ConversationHtml(out, c, links);
    out += "</body>\n</html>\n";
    return out;
}

std::string CsvReport(const ReportFacts& facts, const std::vector<ReportConversation>& conversations)
{
    std::string out = "\xEF\xBB\xBF";  // UTF-8 byte-order mark: spreadsheets read non-Latin text right
    // One comment line with the report's facts, before the header.
    std::string comment = "# " + facts.program + " " + facts.version + " report written " + facts.writtenAt + "; database " +
                          facts.atOpen.databasePath + " (" + facts.atOpen.kind + ")";
    const SourceFacts& source = facts.atOpen.source;
    if (source.type != "database") {
        comment += "; source " + source.path + " (" + source.type + (source.encrypted ? ", encrypted" : "") + ")";
        for (const SourceFacts::File& file : source.files) comment += "; source file " + SourceFileLine(file);
    }
    if (!source.contacts.empty()) comment += "; names from " + source.contacts;
    for (const FileFacts& file : facts.atReport.files) comment += "; " + FileFactsLine(file, FileUnchanged(facts, file));
    comment += facts.unchanged ? "; evidence unchanged since opened" : "; " + facts.warning;
    comment += "; times in " + facts.timeZone + "; recovery " + facts.recovery;
    if (facts.recovery != "none") comment += " (" + std::to_string(facts.recoveredCount) + " recovered)";
    for (char& c : comment) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    out += Utf8ToAnsiString(comment) + "\r\n";
    out += "conversation row,partner address,direction,time,raw time,body,recovered,places,row id,partner name,"
           "sender,kind,status,attachments,truncated,subject\r\n";
    const SenderNames names;
    for (const ReportConversation& c : conversations) {
        for (const ShownMessage& shown : *c.shown) {
            const MessageRecord& m = *shown.message;
            std::string attachments;
            for (const Attachment& a : m.details->attachments) {
                attachments += (attachments.empty() ? "" : "; ") + a.name + " (" + a.mime +
                               (a.size >= 0 ? ", " + std::to_string(a.size) + " bytes" : "") + (a.present ? "" : ", missing") + ")";
            }
            const std::string sender = m.fromMe != 0 ? std::string() : names.Address(m);
            out += std::to_string(c.row) + "," + CsvField(c.entry->address, true) + "," + (m.fromMe != 0 ? "sent" : "received") +
                   "," + CsvField(FormatIsoTime(m.time), false) + "," + std::to_string(m.time) + "," + CsvField(m.body, true) + "," +
                   (shown.recovered ? "yes" : "no") + "," + CsvField(PlacesList(m.places, true), false) + "," +
                   (m.rowId != 0 ? std::to_string(m.rowId) : std::string()) + "," + CsvField(c.entry->name, true) + "," +
                   CsvField(sender, true) + "," + MessageKindText(m.kind) + "," + CsvField(MessageStatusText(m.status), false) + "," +
                   CsvField(attachments, true) + "," + (m.truncated != 0 ? "yes" : "no") + "," + CsvField(m.details->subject, true) + "\r\n";
        }
    }
    return out;
}

std::string JsonReport(const ReportFacts& facts, const std::vector<ReportConversation>& conversations)
{
    JsonWriter json;
    json.BeginObject();
    json.Key("report");
    json.BeginObject();
    json.Member("program", facts.program);
    json.Member("version", facts.version);
    json.Member("database", facts.atOpen.databasePath);
    json.Member("kind", facts.atOpen.kind);
    json.Key("files");
    json.BeginArray();
    for (const FileFacts& file : facts.atReport.files) {
        json.BeginObject();
        json.Member("file", file.path);
        json.Member("role", FileRoleText(file.role));
        json.Member("size", file.size);
        json.Member("modified", file.modified);
        json.Member("sha256", file.sha256);
        std::string atOpen;
        for (const FileFacts& before : facts.atOpen.files) {
            if (before.path == file.path) atOpen = before.sha256;
        }
        json.Member("sha256_when_opened", atOpen);
        json.Member("unchanged", FileUnchanged(facts, file));
        json.EndObject();
    }
    json.EndArray();
    WriteSourceJson(json, facts.atOpen.source);
    json.Member("opened", facts.atOpen.takenAt);
    json.Member("unchanged", facts.unchanged);
    if (!facts.unchanged) json.Member("warning", facts.warning);
    json.Member("time_zone", facts.timeZone);
    json.Member("written", facts.writtenAt);
    json.Member("recovery", facts.recovery);
    json.Member("recovered_count", facts.recoveredCount);
    json.EndObject();
    json.Key("conversations");
    json.BeginArray();
    const SenderNames names;
    for (const ReportConversation& c : conversations) {
        json.BeginObject();
        WriteConversationFields(json, c.row, *c.entry);
        json.Key("messages");
        json.BeginArray();
        for (const ShownMessage& shown : *c.shown) {
            const MessageRecord& m = *shown.message;
            json.BeginObject();
            WriteMessageFields(json, m, shown.senderName, names);
            json.Member("time_iso", FormatIsoTime(m.time));
            json.Member("recovered", shown.recovered);
            json.Member("heading", shown.heading);
            if (shown.recovered && facts.recovery == "deep") WriteDeepFindFields(json, m);
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    json.Finish();
    return json.Text();
}
