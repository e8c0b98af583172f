// Rows, runs and texts of the main window.
#include "ViewModel.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "store/ConversationView.h"
#include "store/RecoveryRun.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

std::vector<TextRun> ConversationRuns(std::int32_t c)
{
    std::vector<TextRun> runs;
    for (const ShownMessage& shown : CollectConversation(c)) {
        const Rgb heading = shown.recovered ? kRecoveredColour : kLiveHeadingColour;
        const Rgb body = shown.recovered ? kRecoveredColour : kLiveBodyColour;
        runs.push_back({shown.heading + "\n", heading});
        runs.push_back({shown.message->body + "\n\n", body});
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
        std::string quantity = std::to_string(c.messageCount);
        if (c.recoveredCount != 0) quantity += "(" + std::to_string(c.recoveredCount) + ")";
        rows.push_back({c.address, FormatMessageTime(c.recentTime), quantity, c.recoveredCount != 0});
    }
    return rows;
}

std::string HomePageAddress() { return std::string("http://") + kVendorHost + "/"; }

std::string UsagePageAddress() { return std::string("http://") + kVendorHost + "/kestrow.htm"; }

std::string IntroductionText()
{
    return std::string("This software can view and recover all messages in iPhone and Android phones. ") +
           "First you should copy the message database file in the mobile phone to the computer, " +
           "and then use this software for view and recovery. " +
           "For the detailed use method of software, visit " + kVendorHost + "/kestrow.htm.";
}

std::string WrongFileText()
{
    return "The file in select is incorrect, the SMS database of iPhone mobile phone is sms.db and "
           "that of Android mobile phone is mmssms.db. On how to use this software, you can visit " +
           UsagePageAddress() + ".";
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

std::string ElapsedText(std::uint32_t elapsedMilliseconds)
{
    const std::uint32_t tenths = elapsedMilliseconds / 100;
    char text[64];
    std::snprintf(text, sizeof text, "耗时%u.%u秒", tenths / 10, tenths % 10);
    return text;
}

std::string DeepSourcesSentence(const ScanReport& scan)
{
    std::string files;
    for (std::size_t i = 0; i < scan.sources.size(); ++i) {
        if (!scan.sources[i].note.empty()) continue;
        if (!files.empty()) files += ", ";
        files += std::filesystem::path(scan.sources[i].path).filename().string();
    }
    return files.empty() ? "" : "The deep recovery read " + files + ".";
}

std::string RecoverySummaryText(std::int32_t recoveredCount, const ScanReport& scan)
{
    const std::string note =
        std::string("Note: short message recovery is not 100% successful, and the new messages might cover the "
                    "deleted data blocks randomly, ") +
        "so the time and mobile phone number of the short message recovered might be incorrect, or it is unable "
        "to obtain the time and mobile phone number. " +
        "The red line means that the friend has deleted messages, the number of short message successfully "
        "recovered is displayed in the brackets, ";
    std::string text = "Totally " + std::to_string(recoveredCount) + " short messages are successfully recovered.";
    if (scan.deep) text += " " + DeepSourcesSentence(scan);
    if (const std::string problem = ScanProblemSentences(scan); !problem.empty()) text += " " + problem;
    return text + "\n" + note;
}

std::vector<ListRow> ExportRows()
{
    std::vector<ListRow> rows = ConversationRows();
    const MessageStore& store = g_store;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ContactRecord& c = store.conversations[i];
        if (c.recoveredCount > 0) {
            rows[i].quantity = std::to_string(c.messageCount) + " (" + std::to_string(c.recoveredCount) + ")";
        }
    }
    return rows;
}
