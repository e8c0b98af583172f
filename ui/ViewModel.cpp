// Rows, runs and texts of the main window.
#include "ViewModel.h"

#include "store/ConversationView.h"
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
