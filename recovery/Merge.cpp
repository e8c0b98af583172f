// Merging recovered messages with hash sets instead of pairwise comparisons.
#include "Merge.h"

#include <functional>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "store/MessageStore.h"
#include "store/ProgressChannel.h"
#include "store/SelectionOrder.h"

namespace {

std::size_t Mix(std::size_t seed, std::size_t value)
{
    return seed ^ (value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2));
}

struct TimeBody {
    std::int64_t time;
    std::string_view body;
    bool operator==(const TimeBody&) const = default;
};

struct TimeBodyHash {
    std::size_t operator()(const TimeBody& k) const
    {
        return Mix(std::hash<std::string_view>{}(k.body), std::hash<std::int64_t>{}(k.time));
    }
};

struct RecordHash {
    std::size_t operator()(const MessageRecord* m) const
    {
        std::size_t h = std::hash<std::string_view>{}(m->body);
        h = Mix(h, std::hash<std::string_view>{}(m->address));
        h = Mix(h, std::hash<std::int64_t>{}(m->time));
        h = Mix(h, static_cast<std::size_t>(m->fromMe) * 31 + static_cast<std::size_t>(m->spillFlag) * 7 +
                       static_cast<std::size_t>(m->unassignedFlag));
        return h;
    }
};

struct RecordEqual {
    bool operator()(const MessageRecord* a, const MessageRecord* b) const { return *a == *b; }
};

}  // namespace

void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds)
{
    const MessageStore& store = g_store;
    std::unordered_set<TimeBody, TimeBodyHash> liveTimeBody;
    std::unordered_set<std::string_view> liveBody;
    liveTimeBody.reserve(static_cast<std::size_t>(store.liveMessageCount));
    liveBody.reserve(static_cast<std::size_t>(store.liveMessageCount));
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        liveTimeBody.insert({store.liveMessages[i].time, store.liveMessages[i].body});
        liveBody.insert(store.liveMessages[i].body);
    }

    std::vector<const MessageRecord*> notLive;
    notLive.reserve(finds.size());
    const double n = static_cast<double>(finds.size());
    for (std::size_t i = 0; i < finds.size(); ++i) {
        const MessageRecord& find = finds[i];
        const bool live = find.spillFlag == 0 ? liveTimeBody.contains({find.time, find.body})
                                              : liveBody.contains(find.body);
        if (!live) notLive.push_back(&find);
        if (i % 10 == 5) ReportProgress(static_cast<double>(i) / n * 10 + 90);
    }

    std::unordered_set<const MessageRecord*, RecordHash, RecordEqual> kept;
    kept.reserve(notLive.size());
    std::vector<MessageRecord> recovered;
    recovered.reserve(notLive.size());
    for (const MessageRecord* find : notLive) {
        if (kept.insert(find).second) recovered.push_back(*find);
    }
    reader.m_recovered = std::move(recovered);
    reader.m_recoveredCount = static_cast<std::int32_t>(reader.m_recovered.size());
}

void SortRecoveredByTime(CSms& reader)
{
    SelectionOrder(std::span(reader.m_recovered).first(static_cast<std::size_t>(reader.m_recoveredCount)),
                   [](const MessageRecord& m) { return m.time; },
                   [](std::int64_t a, std::int64_t b) { return a < b; });
}
