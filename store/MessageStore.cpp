// The message store, the reset between files and the shared operations of the reader base.
#include "store/MessageStore.h"

#include <algorithm>
#include <span>
#include <string_view>
#include <unordered_map>

#include "store/Attribution.h"
#include "store/SelectionOrder.h"

MessageStore g_store;

void MessageStore::RestoreProgramStart()
{
    currentReader.reset();
    liveMessages = {};
    liveMessageCount = 0;
    conversations.fill(ContactRecord{});
    conversationCount = 1;
    columnNames.fill({});
    columnTypes.fill({});
    columnCount = 0;
    alternateCarving = 0;
    iphoneNanosecondDates = 0;
}

void ResetStore()
{
    MessageStore& store = g_store;
    if (!store.liveMessages.empty()) {
        store.liveMessageCount = 0;
        store.liveMessages = {};
    }
    if (store.currentReader && !store.currentReader->m_recovered.empty()) {
        store.currentReader->m_recoveredCount = 0;
        store.currentReader->m_recovered = {};
    }
    store.conversationCount = 1;
    store.conversations.fill(ContactRecord{});
}

const char* PlaceText(PlaceKind kind)
{
    switch (kind) {
    case PlaceKind::CellInUse: return "cell in use";
    case PlaceKind::Freeblock: return "freeblock";
    case PlaceKind::Unallocated: return "unallocated space";
    case PlaceKind::FreelistPage: return "freelist page";
    case PlaceKind::OlderLogVersion: return "older page version in the log";
    case PlaceKind::JournalPage: return "journal page";
    case PlaceKind::Unstructured: return "outside any page";
    }
    return "";
}

std::string GroupTitle(const std::string& name, const std::vector<std::string>& members)
{
    if (!name.empty()) return name;
    std::string title;
    for (const std::string& member : members) title += (title.empty() ? "" : ", ") + member;
    return title;
}

const char* MessageKindText(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Sms: return "sms";
    case MessageKind::Mms: return "mms";
    case MessageKind::IMessage: return "imessage";
    case MessageKind::Rcs: return "rcs";
    case MessageKind::Other: return "other";
    }
    return "";
}

MessageKind ServiceKindNamed(std::string_view service)
{
    auto is = [service](std::string_view name) {
        return service.size() == name.size() &&
               std::equal(service.begin(), service.end(), name.begin(), [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a) == b;
               });
    };
    if (is("sms")) return MessageKind::Sms;
    if (is("imessage")) return MessageKind::IMessage;
    if (is("rcs")) return MessageKind::Rcs;
    return MessageKind::Other;
}

const char* MessageStatusText(MessageStatus status)
{
    switch (status) {
    case MessageStatus::Ok: return "ok";
    case MessageStatus::Draft: return "draft";
    case MessageStatus::Outbox: return "outbox";
    case MessageStatus::Failed: return "failed";
    case MessageStatus::Queued: return "queued";
    case MessageStatus::NotSent: return "not sent";
    case MessageStatus::NotDownloaded: return "not downloaded";
    }
    return "";
}

const char* FileRoleText(FileRole role)
{
    switch (role) {
    case FileRole::Database: return "database";
    case FileRole::Log: return "log";
    case FileRole::Journal: return "journal";
    }
    return "";
}

MessageStatus MmsStatus(std::int64_t box, std::int64_t type)
{
    if (type == 130) return MessageStatus::NotDownloaded;
    switch (box) {
    case 3: return MessageStatus::Draft;
    case 4: return MessageStatus::Outbox;
    case 5: return MessageStatus::Failed;
    default: return MessageStatus::Ok;
    }
}

CSms::CSms(DeviceKind kind) : m_deviceKind(kind)
{
    // A new reader starts with no live list; the reset has already released the old one.
    g_store.liveMessages = {};
    g_store.liveMessageCount = 0;
}

CSms::~CSms() = default;

std::int32_t CSms::LoadDatabase(std::string /*path*/) { return 1; }

void CSms::AssignRecovered()
{
    MessageStore& store = g_store;
    const std::int32_t count = store.conversationCount;
    for (std::int32_t i = 0; i < count; ++i) store.conversations[i].recoveredCount = 0;

    // First entry whose key or address equals a text; testing key then address per entry in
    // table order is the same as taking the smaller of the two first indexes.
    std::unordered_map<std::string_view, std::int32_t> firstMatch;
    firstMatch.reserve(static_cast<std::size_t>(count) * 2);
    for (std::int32_t i = 0; i < count; ++i) {
        firstMatch.try_emplace(store.conversations[i].key, i);
        firstMatch.try_emplace(store.conversations[i].address, i);
    }

    // A find whose address matches nothing goes to its thread's (or chat's) conversation
    // (Android spells one partner's number several ways); see Attribution.h.
    std::unordered_map<std::int32_t, std::int32_t> indexOfEntry;
    if (!m_entryOfThread.empty()) {
        for (std::int32_t i = 0; i < count; ++i) indexOfEntry.try_emplace(store.conversations[i].entryId, i);
    }
    for (std::int32_t r = 0; r < m_recoveredCount; ++r) {
        MessageRecord& message = m_recovered[r];
        if (const auto alias = m_keyAlias.find(message.address); alias != m_keyAlias.end()) message.address = alias->second;
        const auto found = firstMatch.find(message.address);
        std::int32_t ofThread = -1, threadEntry = -1;
        if (const auto thread = message.threadId != 0 ? m_entryOfThread.find(message.threadId) : m_entryOfThread.end();
            thread != m_entryOfThread.end()) {
            if (const auto index = indexOfEntry.find(thread->second); index != indexOfEntry.end()) {
                ofThread = index->second;
                threadEntry = thread->second;
            }
        }
        const RecoveredPlace place =
            RecoveredConversationIndex(message, found == firstMatch.end() ? -1 : found->second, ofThread);
        message.countedIn = place.byThread ? threadEntry : -1;
        message.unassignedFlag = place.index < 0 ? 1 : 0;
        ContactRecord& entry = store.conversations[std::max(place.index, 0)];
        if (entry.recentTime < message.time) entry.recentTime = message.time;
        ++entry.recoveredCount;
    }
}

void CSms::SortConversations()
{
    // Newest first, in the exact (unstable) order of a selection sort; entry 0 stays put.
    MessageStore& store = g_store;
    const std::int32_t count = store.conversationCount;
    if (count <= 2) return;
    SelectionOrder(std::span(store.conversations).subspan(1, static_cast<std::size_t>(count - 1)),
                   [](const ContactRecord& c) { return c.recentTime; },
                   [](std::int64_t a, std::int64_t b) { return a > b; });
}
