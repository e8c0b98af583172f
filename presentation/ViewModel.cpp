// Rows, runs and texts of the main window.
#include "presentation/ViewModel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "presentation/ConversationView.h"
#include "presentation/Texts.h"
#include "query/Search.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

// Whether UTF-8 `text` holds a right-to-left letter (Hebrew, Arabic, Syriac, Thaana, N'Ko and
// the like, their presentation forms) or a direction control (marks, embeddings, overrides,
// isolates).
bool HasRightToLeft(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t c = byte;
        std::size_t length = 1;
        if (byte >= 0xF0 && i + 3 < text.size()) {
            c = ((byte & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) | ((text[i + 2] & 0x3Fu) << 6) | (text[i + 3] & 0x3Fu);
            length = 4;
        } else if (byte >= 0xE0 && i + 2 < text.size()) {
            c = ((byte & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3Fu);
            length = 3;
        } else if (byte >= 0xC0 && i + 1 < text.size()) {
            c = ((byte & 0x1Fu) << 6) | (text[i + 1] & 0x3Fu);
            length = 2;
        }
        if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF) ||
            (c >= 0x10800 && c <= 0x10FFF) || (c >= 0x1E800 && c <= 0x1EFFF) || c == 0x200E || c == 0x200F ||
            (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
            return true;
        }
        i += length;
    }
    return false;
}

}  // namespace

std::string IsolatedForLayout(const std::string& text)
{
    if (!HasRightToLeft(text)) return text;
    static constexpr const char* kIsolate = "\u2068";
    static constexpr const char* kPop = "\u2069";
    std::string out = kIsolate;
    for (const char c : text) {
        if (c == '\n') {
            out += kPop;
            out += '\n';
            out += kIsolate;
        } else {
            out += c;
        }
    }
    return out + kPop;
}

std::string FoundInText(const MessageRecord& m)
{
    if (m.places.empty()) return "";
    const FindPlace& place = m.places.front();
    std::string text = "found in " + std::filesystem::path(place.file).filename().string();
    if (place.page != 0) text += ", page " + std::to_string(place.page);
    text += std::string(", ") + PlaceText(place.where);
    if (m.places.size() > 1) text += " and " + std::to_string(m.places.size() - 1) + (m.places.size() == 2 ? " more place" : " more places");
    return text;
}

std::vector<TextRun> ConversationRuns(std::int32_t c, const MessageFilter& filter)
{
    std::vector<TextRun> runs;
    for (const ShownMessage& shown : Filtered(CollectConversation(c), filter)) {
        const Rgb heading = shown.recovered ? kRecoveredColour : kLiveHeadingColour;
        const Rgb body = shown.recovered ? kRecoveredColour : kLiveBodyColour;
        const bool cut = shown.recovered && shown.message->truncated != 0;
        const std::string found = shown.recovered ? FoundInText(*shown.message) : "";
        // The heading is the sender's name and the time: only the name can turn it around.
        const std::string line = IsolatedForLayout(shown.name) + shown.heading.substr(shown.name.size()) +
                                 (found.empty() ? "" : " — " + found) + (cut ? " [truncated]" : "") + "\n";
        // Malformed UTF-8 (an address as the phone stored it, bytes of a damaged record) would
        // make the toolkit drop the whole text: it shows as U+FFFD instead.
        const std::string& subject = shown.message->details->subject;
        runs.push_back({Utf8ToAnsiString(line + (subject.empty() ? "" : "Subject: " + IsolatedForLayout(subject) + "\n")), heading});
        // Attachments and the like go after the text, so that places in the text stay where a
        // search counts them.
        const std::string details = shown.details.empty() ? "" : "\n" + IsolatedForLayout(shown.details);
        runs.push_back({Utf8ToAnsiString(IsolatedForLayout(shown.message->body) + details + "\n\n"), body});
    }
    return runs;
}

std::string StatusText(const std::string& databasePath, const Translator& tr, const MessageFilter& filter)
{
    static constexpr std::string_view kTimesIn = "Times in ";
    const std::string zone = Fill(tr("Times in %s"), {TimesInText().substr(kTimesIn.size())});
    const MessageStore& store = g_store;
    if (databasePath.empty() || store.currentReader == nullptr) return zone;
    std::string text = Fill(tr("%s — %d conversations, %d messages, %d recovered — %s"),
                            {std::filesystem::path(databasePath).filename().string(), std::to_string(store.conversationCount - 1),
                             std::to_string(store.liveMessageCount), std::to_string(store.currentReader->m_recoveredCount), zone});
    if (filter.ShowsAll()) return text;
    const char* shown = filter.kind == MessageKind::Sms                              ? "showing SMS only"
                        : filter.kind == MessageKind::Mms                            ? "showing MMS only"
                        : filter.kind == MessageKind::IMessage                       ? "showing iMessages only"
                        : filter.recoveredOnly                                       ? "showing recovered messages only"
                        : filter.direction == MessageFilter::Direction::Sent     ? "showing sent messages only"
                        : filter.direction == MessageFilter::Direction::Received ? "showing received messages only"
                                                                                 : "showing a time range";
    return text + " — " + tr(shown);
}

std::vector<SearchRow> SearchRows(const std::vector<SearchHit>& hits, const Translator& tr)
{
    std::vector<SearchRow> rows;
    rows.reserve(hits.size());
    for (const SearchHit& hit : hits) {
        const ContactRecord& c = g_store.conversations[hit.row];
        rows.push_back({Utf8ToAnsiString(PartnerTitle(c.name, c.isCatchAll != 0 ? tr(c.address.c_str()) : c.address)),
                        FormatHeadingTime(hit.message->time), HitContext(hit), hit.recovered ? tr("recovered") : ""});
    }
    return rows;
}

namespace {

// Characters as the view counts them: bytes that do not continue a UTF-8 sequence.
long CountCharacters(std::string_view text)
{
    long count = 0;
    for (const char byte : text) count += (static_cast<unsigned char>(byte) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// Characters of `part` of a body as the view shows it: an isolated body has an isolate
// before its first line and a pop and an isolate around each line break.
long ShownCharacters(std::string_view part, bool isolated, bool atStart)
{
    const long breaks = static_cast<long>(std::count(part.begin(), part.end(), '\n'));
    return CountCharacters(part) + (isolated ? 2 * breaks + (atStart ? 1 : 0) : 0);
}

}  // namespace

std::optional<HitPlace> PlaceOfHit(const std::vector<TextRun>& runs, const SearchHit& hit, const MessageFilter& filter)
{
    const std::vector<ShownMessage> shown = Filtered(CollectConversation(hit.row), filter);
    for (std::size_t k = 0; k < shown.size() && 2 * k + 1 < runs.size(); ++k) {
        if (shown[k].message != hit.message) continue;
        long before = 0;
        for (std::size_t i = 0; i <= 2 * k; ++i) before += CountCharacters(runs[i].text);
        const std::string& body = hit.message->body;
        const bool isolated = IsolatedForLayout(body) != body;
        if (hit.at == std::string::npos || hit.at > body.size()) {
            return HitPlace{2 * k, before, before + ShownCharacters(body, isolated, true) + (isolated ? 1 : 0)};
        }
        const long from = before + ShownCharacters(std::string_view(body).substr(0, hit.at), isolated, true);
        const long length = ShownCharacters(std::string_view(body).substr(hit.at, hit.length), isolated, false);
        return HitPlace{2 * k, from, from + length};
    }
    return std::nullopt;
}

std::optional<std::size_t> MessageAtCharacter(const std::vector<TextRun>& runs, long offset)
{
    long end = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        end += CountCharacters(runs[i].text);
        if (offset < end) return i / 2;
    }
    return std::nullopt;
}

std::string MessageCopyText(const ShownMessage& shown, bool withHeading)
{
    return withHeading ? shown.heading + "\n" + ShownBody(shown) : ShownBody(shown);
}

std::size_t FirstRunToShow(const std::vector<TextRun>& runs)
{
    for (std::size_t i = 0; i < runs.size(); i += 2) {
        if (runs[i].colour == kRecoveredColour) return i;
    }
    return 0;
}

std::vector<ListRow> ConversationRows(const Translator& tr)
{
    const MessageStore& store = g_store;
    std::vector<ListRow> rows;
    rows.reserve(static_cast<std::size_t>(store.conversationCount));
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        rows.push_back({Utf8ToAnsiString(c.isCatchAll != 0 ? tr(c.address.c_str()) : c.address), FormatMessageTime(c.recentTime), QuantityText(c.messageCount, c.recoveredCount + c.keptDeletedCount),
                        c.recoveredCount + c.keptDeletedCount != 0, Utf8ToAnsiString(c.name)});
    }
    return rows;
}

std::string UsagePageAddress() { return std::string("http://") + kVendorHost + "/kestrow.htm"; }

std::string IntroductionText(const Translator& tr)
{
    return tr("This software can view and recover all messages in iPhone and Android phones. ") +
           tr("First you should copy the message database file in the mobile phone to the computer, ") +
           tr("and then use this software for view and recovery. ") +
           tr("For the detailed use method of software, visit ") + kVendorHost + "/kestrow.htm.";
}

std::string WrongFileText(const Translator& tr)
{
    return tr("The file in select is incorrect, the SMS database of iPhone mobile phone is sms.db and that of "
              "Android mobile phone is mmssms.db.") +
           tr(" On how to use this software, you can visit ") + UsagePageAddress() + ".";
}

std::string OpenFileFilter(const Translator& tr)
{
    return tr("SMS database file (*.db)") + "|*.[dD][bB]|" + tr("Android extraction (*.tar, *.tgz, *.zip)") +
           "|*.[tT][aA][rR];*.[tT][gG][zZ];*.[gG][zZ];*.[zZ][iI][pP]|" + tr("All files") + "|*";
}

std::string ContactsFileFilter(const Translator& tr)
{
    return tr("Contacts (*.db, *.sqlitedb)") + "|*.[dD][bB];*.[sS][qQ][lL][iI][tT][eE][dD][bB]|" + tr("All files") + "|*";
}

LinkUse LinkUseOf(const std::string& address)
{
    std::string scheme = address.substr(0, address.find(':'));
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme == "http" || scheme == "https" || scheme == "mailto" ? LinkUse::OpenAfterConfirming : LinkUse::Refuse;
}

std::string OpenLinkQuestion(const std::string& address, const Translator& tr)
{
    return Fill(tr("This link comes from the evidence. Open it?\n\n%s"), {Utf8ToAnsiString(address)});
}

std::string OpenAttachmentItem(const Attachment& a, const Translator& tr)
{
    return Fill(tr("Open \u201C%s\u201D\u2026"), {Utf8ToAnsiString(a.name.empty() ? a.file : a.name)});
}

std::string OpenAttachmentQuestion(const Attachment& a, const Translator& tr)
{
    return Fill(tr("This file comes from the evidence and may be harmful. Open it with the desktop's program?\n\n%s (%s)"),
                {Utf8ToAnsiString(a.name), Utf8ToAnsiString(a.mime)});
}

std::string MissingAttachmentText(const Attachment& a, const Translator& tr)
{
    return Fill(tr("The file of this attachment is not at hand (the phone kept it as %s)."), {Utf8ToAnsiString(a.file)});
}

std::string EscapedPath(const std::string& path)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x80 && std::isalnum(byte)) || std::string_view("/-._~").find(c) != std::string_view::npos) {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        }
    }
    return escaped;
}

std::string FileAddress(const std::string& path) { return "file://" + EscapedPath(path); }

std::string RefusedLinkText(const std::string& address, const Translator& tr)
{
    return Fill(tr("Links of this kind are never opened from a message:\n\n%s"), {Utf8ToAnsiString(address)});
}

std::string LinkAddress(const std::string& linkText)
{
    // A scheme is a letter followed by letters, digits, "+", "-" or ".", then ":" (RFC 3986).
    const std::size_t colon = linkText.find(':');
    bool hasScheme = colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(linkText[0]));
    for (std::size_t i = 1; hasScheme && i < colon; ++i) {
        const auto c = static_cast<unsigned char>(linkText[i]);
        hasScheme = std::isalnum(c) || c == '+' || c == '-' || c == '.';
    }
    // "www.example.org:8080/x" has a port, not a scheme: a scheme is followed by "//" or is
    // one of the schemes written without it.
    if (hasScheme) {
        const std::string scheme = linkText.substr(0, colon);
        const bool slashes = linkText.compare(colon + 1, 2, "//") == 0;
        hasScheme = slashes || scheme == "mailto" || scheme == "tel" || scheme == "sms";
    }
    return hasScheme ? linkText : "http://" + linkText;
}

std::string ElapsedText(std::uint32_t elapsedMilliseconds, const Translator& tr)
{
    const std::uint32_t tenths = elapsedMilliseconds / 100;
    return Fill(tr("%d.%d s elapsed"), {std::to_string(tenths / 10), std::to_string(tenths % 10)});
}

std::vector<ListRow> ExportRows(const Translator& tr)
{
    std::vector<ListRow> rows = ConversationRows(tr);
    const MessageStore& store = g_store;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ContactRecord& c = store.conversations[i];
        rows[i].quantity = ExportQuantityText(c.messageCount, c.recoveredCount + c.keptDeletedCount);
    }
    return rows;
}
