// Rows, runs and texts of the main window.
#include "presentation/ViewModel.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "presentation/ConversationView.h"
#include "presentation/Texts.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

std::vector<TextRun> ConversationRuns(std::int32_t c)
{
    std::vector<TextRun> runs;
    for (const ShownMessage& shown : CollectConversation(c)) {
        const Rgb heading = shown.recovered ? kRecoveredColour : kLiveHeadingColour;
        const Rgb body = shown.recovered ? kRecoveredColour : kLiveBodyColour;
        const bool cut = shown.recovered && shown.message->truncated != 0;
        // Malformed UTF-8 (an address as the phone stored it, bytes of a damaged record) would
        // make the toolkit drop the whole text: it shows as U+FFFD instead.
        runs.push_back({Utf8ToAnsiString(shown.heading + (cut ? " [truncated]" : "") + "\n"), heading});
        runs.push_back({Utf8ToAnsiString(shown.message->body + "\n\n"), body});
    }
    return runs;
}

std::vector<ListRow> ConversationRows()
{
    const MessageStore& store = g_store;
    std::vector<ListRow> rows;
    rows.reserve(static_cast<std::size_t>(store.conversationCount));
    for (std::int32_t i = 0; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        rows.push_back({Utf8ToAnsiString(c.address), FormatMessageTime(c.recentTime), QuantityText(c.messageCount, c.recoveredCount),
                        c.recoveredCount != 0, Utf8ToAnsiString(c.name)});
    }
    return rows;
}

std::string HomePageAddress() { return std::string("http://") + kVendorHost + "/"; }

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

std::vector<ListRow> ExportRows()
{
    std::vector<ListRow> rows = ConversationRows();
    const MessageStore& store = g_store;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ContactRecord& c = store.conversations[i];
        rows[i].quantity = ExportQuantityText(c.messageCount, c.recoveredCount);
    }
    return rows;
}
