// Reports people can hand on, from the conversations an export chose: one self-contained HTML
// page (styles inline, no script, readable on a phone and printable), CSV for spreadsheets
// (RFC 4180, UTF-8 with a byte-order mark) and one JSON document. Each states the report's
// facts first (ReportFacts).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <string_view>
#include <vector>

#include "presentation/ConversationView.h"
#include "presentation/ReportFacts.h"
#include "store/MessageRecords.h"

// One conversation of a report, its messages as the message view shows them.
struct ReportConversation {
    std::int32_t row = 0;
    const ContactRecord* entry = nullptr;
    const std::vector<ShownMessage>* shown = nullptr;
    std::int32_t messages = 0;
    std::int32_t recovered = 0;
};

// The page: the facts, then each conversation as a thread, sent messages on the right and
// received ones on the left, recovered ones in red, marked "recovered", with where they were
// found after a deep recovery; times with their offset from UTC.
// Attachment files at hand that the page links to rather than holds: the file's path here
// (Attachment::at) and the page's relative address of its copy.
using AttachmentLinks = std::unordered_map<std::string, std::string>;
// Whether the page holds the attachment itself: a picture at hand of at most 5 MB.
bool AttachmentInPage(const Attachment& a);
std::string HtmlReport(const ReportFacts& facts, const std::vector<ReportConversation>& conversations,
                       const std::string& title, const AttachmentLinks& links = {});
// A comment line with the facts, the header, then one row per message: conversation row,
// partner address, direction (sent/received), time (ISO 8601 with offset), raw time, body,
// recovered (yes/no), places, row id, partner name (from the contacts). CRLF line ends.
std::string CsvReport(const ReportFacts& facts, const std::vector<ReportConversation>& conversations);
// {"report": {facts}, "conversations": [{the fields of `conversations --json`, "messages": [{the
// fields of `messages --json`, "heading", and after a deep recovery "places", "row_id",
// "truncated"}]}]}
std::string JsonReport(const ReportFacts& facts, const std::vector<ReportConversation>& conversations);

// Text escaped for HTML (and made valid UTF-8).
std::string HtmlEscape(std::string_view text);
// One quoted CSV field; with `guardFormula`, a text beginning with = + - or @ gets a single
// quote before it.
std::string CsvField(std::string_view text, bool guardFormula);
