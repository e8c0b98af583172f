// Selecting and naming the messages of one conversation.
#include "ConversationView.h"

#include "MessageStore.h"
#include "TimeText.h"

std::vector<ShownMessage> CollectConversation(std::int32_t c)
{
    std::vector<ShownMessage> shown;
    const MessageStore& store = g_store;
    const CSms* reader = store.currentReader.get();
    if (reader == nullptr || c < 0 || c >= store.conversationCount) return shown;

    const bool iphone = reader->m_deviceKind == kDeviceIphone;
    const ContactRecord& entry = store.conversations[c];
    std::int32_t i = 0;  // next recovered message
    std::int32_t j = 0;  // next live message
    while (i < reader->m_recoveredCount || j < store.liveMessageCount) {
        bool recovered;
        if (i >= reader->m_recoveredCount) {
            recovered = false;
        } else if (j >= store.liveMessageCount) {
            recovered = true;
        } else {
            recovered = store.liveMessages[j].time > reader->m_recovered[i].time;
        }
        const MessageRecord& m = recovered ? reader->m_recovered[i++] : store.liveMessages[j++];

        const bool sameText = iphone ? m.address == entry.key : m.address == entry.address;
        // A live message shows where it is counted (and wherever its text matches, as entries
        // of the same name have always shown the same messages); a recovered message, and a
        // live one no reader attributed, by the texts and the catch-all rule.
        const bool belongs = !recovered && m.countedIn >= 0
                                 ? m.countedIn == entry.entryId || sameText
                                 : sameText || (c == 0 && (m.unassignedFlag == 1 || m.address.empty()));
        if (!belongs) continue;

        std::string name;
        if (m.fromMe != 0) {
            name = (c == 0 && !iphone) ? "Me -> " + m.address : "Me";
        } else {
            name = iphone ? entry.address : m.address;
        }
        shown.push_back({&m, recovered, name + " " + FormatMessageTime(m.time)});
    }
    return shown;
}
