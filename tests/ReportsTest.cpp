// The reports an export writes (HTML, CSV, JSON): hostile texts stay text, the evidence's
// hashes and the warning when it changed, and the same messages in every format.
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>
#include <libxml/xmlerror.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <memory>

#include "StoreHelpers.h"
#include "fixtures/DeepCases.h"
#include "presentation/ExportWriter.h"
#include "presentation/ReportFacts.h"
#include "presentation/Reports.h"
#include "readers/OpenDatabase.h"
#include "recovery/RecoveryRun.h"

namespace {

using fixtures::PhoneDb;
using nlohmann::json;

std::string Read(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a browser would see of an HTML page: the parser's complaints, and the texts and classes
// of the elements.
struct ParsedHtml {
    std::vector<std::string> errors;      // other than HTML5 element names the parser does not know
    std::vector<std::string> elements;    // every element's name, in document order
    std::vector<std::string> messageClasses;  // class of each div.message
    std::vector<std::string> messageTexts;    // text of each div.text
    std::string header;                   // all text of the facts header
};

std::string Content(xmlNode* node)
{
    xmlChar* text = xmlNodeGetContent(node);
    std::string value = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    return value;
}

std::string Attribute(xmlNode* node, const char* name)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = value != nullptr ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
}

void Walk(xmlNode* node, ParsedHtml& parsed)
{
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        const std::string name = reinterpret_cast<const char*>(node->name);
        parsed.elements.push_back(name);
        const std::string cls = Attribute(node, "class");
        if (name == "div" && cls.starts_with("message")) parsed.messageClasses.push_back(cls);
        if (name == "div" && cls == "text") parsed.messageTexts.push_back(Content(node));
        if (name == "header") parsed.header = Content(node);
        Walk(node->children, parsed);
    }
}

void CollectError(void* context, const xmlError* error)
{
    if (error->code == XML_HTML_UNKNOWN_TAG) return;  // <header>, <section>: HTML5, older than this parser
    static_cast<ParsedHtml*>(context)->errors.push_back(error->message != nullptr ? error->message : "?");
}

ParsedHtml ParseHtml(const std::string& page)
{
    ParsedHtml parsed;
    xmlSetStructuredErrorFunc(&parsed, reinterpret_cast<xmlStructuredErrorFunc>(+[](void* c, xmlError* e) { CollectError(c, e); }));
    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        htmlReadMemory(page.data(), static_cast<int>(page.size()), "report.html", "UTF-8", HTML_PARSE_NONET), xmlFreeDoc);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    if (doc == nullptr) {
        parsed.errors.push_back("not parsed");
        return parsed;
    }
    Walk(xmlDocGetRootElement(doc.get()), parsed);
    return parsed;
}

// RFC 4180 rows: fields separated by commas, quoted fields may hold commas, quotes (doubled)
// and line breaks; records end with CRLF.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text, std::string& problem)
{
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, wasQuoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"' && field.empty() && !wasQuoted) {
            quoted = wasQuoted = true;
        } else if (c == ',') {
            row.push_back(std::move(field));
            field.clear();
            wasQuoted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            row.push_back(std::move(field));
            rows.push_back(std::move(row));
            field.clear();
            row.clear();
            wasQuoted = false;
            ++i;
        } else if (c == '\n' || c == '\r' || c == '"') {
            problem = "bare line break or quote at byte " + std::to_string(i);
            return rows;
        } else {
            field += c;
        }
    }
    if (quoted || !field.empty() || !row.empty()) problem = "the last record does not end with CRLF";
    return rows;
}

// The CSV's records without the byte-order mark and the facts line.
std::vector<std::vector<std::string>> CsvRecords(const std::string& file)
{
    EXPECT_TRUE(file.starts_with("\xEF\xBB\xBF# "));
    const std::size_t header = file.find("\r\n");
    std::string problem;
    auto rows = ParseCsv(std::string_view(file).substr(header + 2), problem);
    EXPECT_EQ(problem, "");
    return rows;
}

class ReportsTest : public FreshStore {
protected:
    // One partner whose messages are all hostile, one with plain ones, and a recovered message.
    void SetUp() override
    {
        FreshStore::SetUp();
        m_path = m_dir / "mmssms.db";
        {
            PhoneDb db = PhoneDb::Android(m_path);
            db.AddAndroidAddress("=HYPERLINK(\"http://x\")");
            db.AddAndroidAddress("10086");
            std::int64_t time = 1'439'532'000'000;
            for (const std::string& body : kHostile) {
                db.AddAndroidSms({.address = "=HYPERLINK(\"http://x\")", .date = time, .type = (time / 1000) % 2 + 1, .body = body});
                time += 1000;
            }
            db.AddAndroidSms({.address = "10086", .date = std::int64_t{1'439'000'000'000}, .type = 1, .body = "balance 你好"});
        }
        m_evidence = TakeEvidenceFacts(m_path.string(), kDeviceAndroid);
        Load(m_path);
        SetRecovered({MessageOf("10086", 1'439'000'030'000, 0, "deleted <b>")});
        m_out = m_dir / "out";
        std::filesystem::create_directory(m_out);
    }

    ExportResult Export(ExportFormat format, ExportMode mode = ExportMode::SingleFile)
    {
        m_facts = CompleteReportFacts(m_evidence, "3.1-test");
        ExportRequest request{{1, 2}, mode, m_out, m_path.string()};
        request.format = format;
        request.facts = &m_facts;
        return ExportConversations(request);
    }

    static inline const std::vector<std::string> kHostile = {
        "<script>alert(1)</script>", "&amp; stays &amp;", "\"quoted\", with 'commas', too",
        "two\nlines\r\nand\rthree",  "=1+2",                    "+33 6 12",
        "-2",                        "@SUM(A1)",                "bad \xFF\xFE bytes \x01 and a control",
        "</div></section><img src=http://x/y.png>"};
    std::filesystem::path m_path;
    std::filesystem::path m_out;
    EvidenceFacts m_evidence;
    ReportFacts m_facts;
};

TEST_F(ReportsTest, HostileTextsStayTextInHtmlAndCsv)
{
    const ExportResult html = Export(ExportFormat::Html);
    ASSERT_EQ(html.error, "");
    ASSERT_EQ(html.files.size(), 1u);
    EXPECT_EQ(html.files[0].extension(), ".html");
    const std::string raw = Read(html.files[0]);
    const ParsedHtml page = ParseHtml(raw);
    // Times carry their offset from UTC (the tests run in UTC); styles are inline.
    EXPECT_NE(raw.find("<bdi>10086</bdi> · 2015-08-08 02:13:20 +00:00"), std::string::npos);
    EXPECT_NE(raw.find("<style>"), std::string::npos);
    EXPECT_EQ(page.errors, std::vector<std::string>{});
    // No markup of the bodies became elements: no script, no image, nothing fetched.
    for (const std::string& name : page.elements) {
        EXPECT_TRUE(name != "script" && name != "img" && name != "link" && name != "iframe") << name;
    }
    // Row 1 (the latest conversation) first, then 10086 with its recovered message.
    std::vector<std::string> shown = kHostile;
    shown[8] = "bad \xEF\xBF\xBD\xEF\xBF\xBD bytes \xEF\xBF\xBD and a control";  // malformed UTF-8, a control character
    shown.insert(shown.end(), {"balance 你好", "deleted <b>"});
    EXPECT_EQ(page.messageTexts, shown);
    ASSERT_EQ(page.messageClasses.size(), shown.size());
    EXPECT_EQ(page.messageClasses.back(), "message received recovered");
    EXPECT_EQ(page.messageClasses[0], "message received");
    EXPECT_EQ(page.messageClasses[1], "message sent");

    const ExportResult csv = Export(ExportFormat::Csv);
    ASSERT_EQ(csv.error, "");
    const auto rows = CsvRecords(Read(csv.files[0]));
    ASSERT_EQ(rows.size(), kHostile.size() + 3);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"conversation row", "partner address", "direction", "time", "raw time", "body",
                                                 "recovered", "places", "row id", "partner name", "sender", "kind",
                                                 "status", "attachments", "truncated", "subject"}));
    for (const auto& row : rows) ASSERT_EQ(row.size(), 16u);
    const std::vector<std::string> guarded = {"<script>alert(1)</script>", "&amp; stays &amp;",
                                              "\"quoted\", with 'commas', too", "two\nlines\r\nand\rthree",
                                              "'=1+2", "'+33 6 12", "'-2", "'@SUM(A1)",
                                              "bad \xEF\xBF\xBD\xEF\xBF\xBD bytes \x01 and a control",
                                              "</div></section><img src=http://x/y.png>"};
    for (std::size_t i = 0; i < guarded.size(); ++i) {
        EXPECT_EQ(rows[i + 1][5], guarded[i]);
        EXPECT_EQ(rows[i + 1][1], "'=HYPERLINK(\"http://x\")");  // the address cannot run either
        if (rows[i + 1][2] == "received") {
            EXPECT_EQ(rows[i + 1][10], "'=HYPERLINK(\"http://x\")");  // nor the sender
        }
        EXPECT_EQ(rows[i + 1][0], "1");
    }
    const auto& balance = rows[guarded.size() + 1];
    const auto& deleted = rows[guarded.size() + 2];
    EXPECT_EQ(balance, (std::vector<std::string>{"2", "10086", "received", "2015-08-08T02:13:20+00:00", "1439000000000",
                                                 "balance 你好", "no", "", "11", "", "10086", "sms", "ok", "", "no", ""}));  // the tests run in UTC
    EXPECT_EQ(deleted[5], "deleted <b>");
    EXPECT_EQ(deleted[6], "yes");
    EXPECT_EQ(deleted[8], "");  // a default recovery knows no row
}

TEST_F(ReportsTest, HashesOfTheEvidenceAndAWarningWhenItChanged)
{
    // A known digest, from the standard's own example.
    const auto abc = m_dir / "abc";
    std::ofstream(abc) << "abc";
    EXPECT_EQ(Sha256OfFile(abc.string()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256OfFile((m_dir / "missing").string()), "");

    ASSERT_EQ(m_evidence.files.size(), 1u);  // a rollback-journal database closed cleanly: one file
    const FileFacts& database = m_evidence.files[0];
    EXPECT_EQ(database.role, FileRole::Database);
    EXPECT_EQ(database.size, static_cast<std::int64_t>(std::filesystem::file_size(m_path)));
    EXPECT_EQ(database.sha256, Sha256OfFile(m_path.string()));

    const ExportResult unchanged = Export(ExportFormat::Json);
    ASSERT_EQ(unchanged.error, "");
    const json report = json::parse(Read(unchanged.files[0]))["report"];
    EXPECT_EQ(report["unchanged"], true);
    EXPECT_FALSE(report.contains("warning"));
    EXPECT_EQ(report["files"][0]["sha256"], database.sha256);
    EXPECT_EQ(report["files"][0]["sha256_when_opened"], database.sha256);
    EXPECT_EQ(report["recovery"], "default");
    EXPECT_EQ(report["recovered_count"], 1);
    EXPECT_EQ(report["version"], "3.1-test");
    EXPECT_EQ(report["time_zone"], "UTC, UTC+00:00");

    // Something else wrote to the database after it was opened: every format says so.
    std::ofstream(m_path, std::ios::app | std::ios::binary) << "appended";
    const ExportResult changed = Export(ExportFormat::Json);
    const json after = json::parse(Read(changed.files[0]))["report"];
    EXPECT_EQ(after["unchanged"], false);
    EXPECT_EQ(after["files"][0]["unchanged"], false);
    EXPECT_NE(after["files"][0]["sha256"], after["files"][0]["sha256_when_opened"]);
    EXPECT_NE(after["warning"].get<std::string>().find("changed"), std::string::npos);

    const ParsedHtml page = ParseHtml(Read(Export(ExportFormat::Html).files[0]));
    EXPECT_NE(page.header.find(m_facts.warning), std::string::npos) << page.header;
    EXPECT_NE(page.header.find("CHANGED"), std::string::npos);
    const std::string csv = Read(Export(ExportFormat::Csv).files[0]);
    const std::string comment = csv.substr(0, csv.find("\r\n"));
    EXPECT_NE(comment.find(m_facts.warning), std::string::npos) << comment;
    EXPECT_NE(comment.find("SHA-256 " + Sha256OfFile(m_path.string()) + ", CHANGED"), std::string::npos);
    // A journal that appeared since counts as a change too.
    std::ofstream(m_path.string() + "-journal") << "journal";
    const ReportFacts withJournal = CompleteReportFacts(m_evidence, "3.1");
    ASSERT_EQ(withJournal.atReport.files.size(), 2u);
    EXPECT_FALSE(FileUnchanged(withJournal, withJournal.atReport.files[1]));
}

TEST_F(ReportsTest, EveryFormatWritesTheSameMessagesInTheViewsOrder)
{
    // The text export in the view's order: the bodies appear in it one after the other.
    const std::string text = Read(Export(ExportFormat::Text).files[0]);
    const ParsedHtml page = ParseHtml(Read(Export(ExportFormat::Html).files[0]));
    std::size_t at = 0;
    for (const std::string& body : page.messageTexts) {
        if (body.starts_with("bad ")) continue;  // the text file keeps the bytes as they are
        at = text.find(body, at);
        ASSERT_NE(at, std::string::npos) << body;
    }
    const auto rows = CsvRecords(Read(Export(ExportFormat::Csv).files[0]));
    const json document = json::parse(Read(Export(ExportFormat::Json).files[0]));
    std::vector<std::string> fromCsv, fromJson;
    for (std::size_t i = 1; i < rows.size(); ++i) fromCsv.push_back(rows[i][5]);
    for (const json& c : document["conversations"]) {
        for (const json& m : c["messages"]) fromJson.push_back(m["body"]);
    }
    ASSERT_EQ(page.messageTexts.size(), kHostile.size() + 2);
    ASSERT_EQ(fromCsv.size(), page.messageTexts.size());
    ASSERT_EQ(fromJson.size(), page.messageTexts.size());
    for (std::size_t i = 0; i < page.messageTexts.size(); ++i) {
        if (i == 8) continue;  // each format shows a control character its own way
        EXPECT_EQ(fromJson[i], page.messageTexts[i]);
        EXPECT_EQ(fromCsv[i].starts_with("'") ? fromCsv[i].substr(1) : fromCsv[i], page.messageTexts[i]);
    }
    // The companion's field names, conversation by conversation.
    ASSERT_EQ(document["conversations"].size(), 2u);
    const json& last = document["conversations"][1];
    EXPECT_EQ(last["row"], 2);
    EXPECT_EQ(last["address"], "10086");
    EXPECT_EQ(last["message_count"], 1);
    EXPECT_EQ(last["recovered_count"], 1);
    EXPECT_EQ(last["messages"][1]["recovered"], true);
    EXPECT_EQ(last["messages"][0]["time"], 1439000000000);
    EXPECT_EQ(last["messages"][0]["time_iso"], "2015-08-08T02:13:20+00:00");
    EXPECT_EQ(last["messages"][0]["from_me"], false);
}

TEST_F(ReportsTest, ReportsNeverReplaceAFileAndLeaveNothingBehind)
{
    std::ofstream(m_out / "10086.html") << "an older report";
    std::ofstream(m_out / "10086 (2).html") << "another";
    const ExportResult result = Export(ExportFormat::Html, ExportMode::FilePerConversation);
    ASSERT_EQ(result.error, "");
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0].filename(), "=HYPERLINK(_http___x_).html");
    EXPECT_EQ(result.files[1].filename(), "10086 (3).html");
    EXPECT_EQ(Read(m_out / "10086.html"), "an older report");
    const ExportResult csv = Export(ExportFormat::Csv, ExportMode::FilePerConversation);
    EXPECT_EQ(csv.files[1].filename(), "10086.csv");
    for (const auto& entry : std::filesystem::directory_iterator(m_out)) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
    }
    // Each conversation's report has only that conversation.
    const auto rows = CsvRecords(Read(csv.files[1]));
    EXPECT_EQ(rows.size(), 3u);
}

// After a deep recovery every format tells where each recovered message was found.
class DeepReportTest : public FreshStore {};

TEST_F(DeepReportTest, EveryFormatTellsWhereEachFindWas)
{
    const fixtures::DeepCase truth = fixtures::MakeDeepCase(fixtures::DeepCaseKind::AndroidRollback, m_dir / "case", 300, 5);
    const EvidenceFacts evidence = TakeEvidenceFacts(truth.database.string(), kDeviceAndroid);
    ASSERT_NE(OpenDatabaseFile(truth.database.string()).outcome, OpenOutcome::WrongFile);
    RunDeepRecoverySteps(truth.database.string());
    const std::int32_t recovered = g_store.currentReader->m_recoveredCount;
    ASSERT_GT(recovered, 0);
    const ReportFacts facts = CompleteReportFacts(evidence, "3.1-test");
    EXPECT_EQ(facts.recovery, "deep");
    EXPECT_TRUE(facts.unchanged);
    const auto out = m_dir / "out";
    std::filesystem::create_directory(out);
    ExportRequest request{{}, ExportMode::SingleFile, out, truth.database.string()};
    for (std::int32_t row = 0; row < g_store.conversationCount; ++row) request.rows.push_back(row);
    request.facts = &facts;
    std::map<ExportFormat, std::string> files;
    for (const ExportFormat format : {ExportFormat::Html, ExportFormat::Csv, ExportFormat::Json}) {
        request.format = format;
        const ExportResult result = ExportConversations(request);
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.recovered, recovered);
        files[format] = Read(result.files.at(0));
    }

    // HTML: each recovered message carries its places, each a page and a byte of mmssms.db.
    const std::string& page = files[ExportFormat::Html];
    EXPECT_TRUE(ParseHtml(page).errors.empty());
    std::size_t places = 0;
    for (std::size_t at = 0; (at = page.find("<div class=\"places\">Found in mmssms.db page ", at)) != std::string::npos; ++at) {
        ++places;
    }
    EXPECT_EQ(places, static_cast<std::size_t>(recovered));

    // CSV: the places column is filled for recovered rows only.
    for (const auto& row : CsvRecords(files[ExportFormat::Csv])) {
        if (row[6] == "yes") {
            EXPECT_TRUE(row[7].starts_with("mmssms.db page ")) << row[7];
        }
        if (row[6] == "no") {
            EXPECT_EQ(row[7], "");
        }
    }

    // JSON: places as `recover --deep --json` writes them, each inside the file.
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(truth.database));
    std::int32_t seen = 0;
    const json document = json::parse(files[ExportFormat::Json]);
    for (const json& c : document["conversations"]) {
        for (const json& m : c["messages"]) {
            if (!m["recovered"].get<bool>()) {
                EXPECT_FALSE(m.contains("places"));
                continue;
            }
            ++seen;
            ASSERT_FALSE(m["places"].empty());
            for (const json& place : m["places"]) {
                EXPECT_EQ(place["file"], truth.database.string());
                EXPECT_LT(place["offset"].get<std::int64_t>(), size);
                EXPECT_FALSE(place["where"].get<std::string>().empty());
            }
            EXPECT_TRUE(m.contains("row_id") && m.contains("truncated"));
        }
    }
    EXPECT_EQ(seen, recovered);
}

TEST(ReportTexts, EscapingOfSingleFields)
{
    EXPECT_EQ(HtmlEscape("<a href=\"x\">&'</a>"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(CsvField("a \"b\", c", false), "\"a \"\"b\"\", c\"");
    EXPECT_EQ(CsvField("=cmd", true), "\"'=cmd\"");
    EXPECT_EQ(CsvField("=cmd", false), "\"=cmd\"");
    EXPECT_EQ(CsvField("", true), "\"\"");
}

}  // namespace
