// Selecting and naming the messages of conversations: one, or all of them in one pass.
#include "presentation/ConversationView.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <unordered_map>

#include "query/Messages.h"
#include "store/Attribution.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

// The contacts' name of a group member; empty when none.
const std::string& MemberName(const ContactRecord& group, const std::string& address)
{
    static const std::string kNone;
    const auto found = std::find(group.members.begin(), group.members.end(), address);
    const auto at = static_cast<std::size_t>(found - group.members.begin());
    return found != group.members.end() && at < group.memberNames.size() ? group.memberNames[at] : kNone;
}

std::string SenderName(const MessageRecord& m, std::int32_t c, const ContactRecord& entry, const SenderAddresses& senders)
{
    if (m.fromMe != 0) return (c == 0 && !senders.iphone) ? "Me -> " + m.address : "Me";
    if (entry.isGroup != 0) {
        const std::string& sender = senders.Address(m);
        return PartnerTitle(MemberName(entry, sender), sender);
    }
    return PartnerTitle(entry.name, senders.iphone ? entry.address : m.address);
}

ShownMessage Shown(const MessageRecord& m, bool recovered, std::int32_t c, const ContactRecord& entry, const SenderAddresses& senders)
{
    std::string name = SenderName(m, c, entry, senders);
    std::string heading = name + " " + FormatHeadingTime(m.time) + HeadingMarks(m);
    std::string senderName = m.fromMe != 0         ? std::string()
                             : entry.isGroup != 0 ? MemberName(entry, senders.Address(m))
                                                  : entry.name;
    return {&m, recovered, std::move(heading), std::move(name), std::move(senderName), DetailLines(m, entry)};
}

}  // namespace

SenderAddresses::SenderAddresses()
{
    const MessageStore& store = g_store;
    iphone = store.currentReader != nullptr && store.currentReader->m_deviceKind == kDeviceIphone;
    if (!iphone) return;
    for (std::int32_t i = 1; i < store.conversationCount; ++i) {
        const ContactRecord& c = store.conversations[i];
        if (c.isGroup != 0) continue;
        m_ofKey.try_emplace(c.key, &c);
        for (const std::string& key : c.keys) m_ofKey.try_emplace(key, &c);
        m_handleKeys = m_handleKeys || c.key != c.storedAddress;
    }
    if (store.conversationCount > 0) m_unknown = store.conversations[0].address;
}

const std::string& SenderAddresses::Address(const MessageRecord& m) const
{
    if (!iphone) return m.address;
    const auto found = m_ofKey.find(m.address);
    if (found != m_ofKey.end()) return found->second->address;
    return m_handleKeys && !m.address.empty() ? m_unknown : m.address;
}

std::string SenderAddresses::StoredAddress(const MessageRecord& m) const
{
    if (!iphone) return ::StoredAddress(m.address, m.chinaPrefix != 0);
    const auto found = m_ofKey.find(m.address);
    if (found != m_ofKey.end()) return found->second->storedAddress;
    return m_handleKeys ? std::string() : m.address;
}

std::string HeadingMarks(const MessageRecord& m)
{
    std::string marks;
    switch (m.status) {
    case MessageStatus::Ok: break;
    case MessageStatus::Draft: marks += " [draft]"; break;
    case MessageStatus::Failed: marks += " [failed]"; break;
    case MessageStatus::NotDownloaded: marks += " [not downloaded]"; break;
    case MessageStatus::Outbox:
    case MessageStatus::Queued:
    case MessageStatus::NotSent: marks += " [not sent]"; break;
    }
    if (m.unsent != 0) {
        marks += " (unsent)";
    } else if (m.edited != 0) {
        marks += " (edited)";
    }
    // In "Recently Deleted", or purged from there and recovered: when it was deleted.
    if (m.recentlyDeleted != 0 || m.details->deletedTime != 0) marks += " — deleted on " + FormatMessageTime(m.details->deletedTime);
    return marks;
}

std::string SizeText(std::int64_t bytes)
{
    if (bytes < 0) return "";
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string AttachmentLine(const Attachment& a)
{
    std::string line = "\U0001F4CE " + (a.name.empty() ? std::string("(no name)") : a.name);
    std::string about = a.mime;
    const std::string size = SizeText(a.size);
    if (!size.empty()) about += (about.empty() ? "" : ", ") + size;
    if (!about.empty()) line += " — " + about;
    if (!a.present) line += " (file not at hand)";
    return line;
}

std::string DetailLines(const MessageRecord& m, const ContactRecord& entry)
{
    std::string lines;
    auto add = [&lines](const std::string& line) { lines += (lines.empty() ? "" : "\n") + line; };
    for (const Attachment& a : m.details->attachments) add(AttachmentLine(a));
    for (const Reaction& r : m.details->reactions) {
        const std::string& name = r.by.empty() ? std::string() : entry.isGroup != 0 ? MemberName(entry, r.by) : entry.name;
        add(r.what + " by " + (r.by.empty() ? std::string("Me") : PartnerTitle(name, r.by)));
    }
    for (const std::string& earlier : m.details->earlierVersions) add("Before the edit: " + earlier);
    return lines;
}

std::string ShownBody(const ShownMessage& shown)
{
    const MessageRecord& m = *shown.message;
    std::string text = m.details->subject.empty() ? m.body : "Subject: " + m.details->subject + (m.body.empty() ? "" : "\n" + m.body);
    if (!shown.details.empty()) text += (text.empty() ? "" : "\n") + shown.details;
    return text;
}

std::vector<ShownMessage> Filtered(std::vector<ShownMessage> shown, const MessageFilter& filter)
{
    if (filter.ShowsAll()) return shown;
    std::erase_if(shown, [&](const ShownMessage& s) { return !filter.Shows(*s.message, s.recovered); });
    return shown;
}

std::string PartnerTitle(const std::string& name, const std::string& address)
{
    return name.empty() ? address : name + " (" + address + ")";
}

std::vector<ShownMessage> CollectConversation(std::int32_t c)
{
    std::vector<ShownMessage> shown;
    const MessageStore& store = g_store;
    const CSms* reader = store.currentReader.get();
    if (reader == nullptr || c < 0 || c >= store.conversationCount) return shown;

    const bool iphone = reader->m_deviceKind == kDeviceIphone;
    const SenderAddresses senders;
    const ContactRecord& entry = store.conversations[c];
    ForEachInTimeOrder(store, *reader, [&](const MessageRecord& m, bool recovered) {
        const bool named = iphone ? m.address == entry.key : m.address == entry.address;
        const bool belongs = ShowsIn(m, entry.entryId, named, c == 0);
        if (belongs) shown.push_back(Shown(m, recovered, c, entry, senders));
    });
    return shown;
}

std::vector<std::vector<ShownMessage>> CollectAllConversations(bool recoveredOnly)
{
    const MessageStore& store = g_store;
    std::vector<std::vector<ShownMessage>> all(static_cast<std::size_t>(store.conversationCount));
    const SenderAddresses senders;
    VisitMessagesWithRows(recoveredOnly, [&](const MessageRecord& m, bool recovered, const std::vector<std::int32_t>& rows) {
        for (const std::int32_t row : rows) {
            all[static_cast<std::size_t>(row)].push_back(Shown(m, recovered, row, store.conversations[row], senders));
        }
    });
    return all;
}
