// Merging recovered messages with hash sets instead of pairwise comparisons.
#include "Merge.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include "store/MessageStore.h"
#include "store/ProgressChannel.h"
#include "store/SelectionOrder.h"

namespace {

std::uint64_t Mix(std::uint64_t seed, std::uint64_t value)
{
    seed ^= value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
    return seed * 0xFF51AFD7ED558CCDULL;
}

std::uint64_t BodyHash(const MessageRecord& m) { return std::hash<std::string_view>{}(m.body); }

std::uint64_t TimeBodyHash(std::uint64_t bodyHash, const MessageRecord& m)
{
    return Mix(bodyHash, static_cast<std::uint64_t>(m.time));
}

std::uint64_t RecordHash(std::uint64_t timeBodyHash, const MessageRecord& m)
{
    std::uint64_t h = timeBodyHash;
    h = Mix(h, std::hash<std::string_view>{}(m.address));
    return Mix(h, static_cast<std::uint64_t>(m.fromMe) * 31 + static_cast<std::uint64_t>(m.spillFlag) * 7 +
                      static_cast<std::uint64_t>(m.unassignedFlag));
}

// An open-addressing set of record indexes keyed by a 64-bit hash; equality is decided by the
// caller, so one table serves "same time and body", "same body" and "same record".
class IndexSet {
public:
    explicit IndexSet(std::size_t capacity)
    {
        std::size_t size = 16;
        while (size < capacity * 2) size *= 2;
        m_slots.assign(size, Slot{});
        m_mask = size - 1;
    }

    // The first entry whose tag matches `hash`, or kEmpty; for prefetching what equality reads.
    std::uint32_t FirstCandidate(std::uint64_t hash) const
    {
        for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.index == kEmpty || slot.tag == Tag(hash)) return slot.index;
        }
    }
    const void* SlotAddress(std::uint64_t hash) const { return &m_slots[hash & m_mask]; }

    template <typename Equal>
    bool Contains(std::uint64_t hash, Equal equal) const
    {
        for (std::size_t i = hash & m_mask;; i = (i + 1) & m_mask) {
            const Slot& slot = m_slots[i];
            if (slot.index == kEmpty) return false;
            if (slot.tag == Tag(hash) && equal(slot.index)) return true;
        }
    }

    void Insert(std::uint64_t hash, std::uint32_t index)
    {
        std::size_t i = hash & m_mask;
        while (m_slots[i].index != kEmpty) i = (i + 1) & m_mask;
        m_slots[i] = {Tag(hash), index};
    }

    static constexpr std::uint32_t kEmpty = UINT32_MAX;

private:
    // The slot is chosen by the hash's low bits; its high half is kept to skip most unequal
    // entries without touching the records.
    static std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t index = kEmpty;
    };
    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
};

}  // namespace

void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds)
{
    const MessageStore& store = g_store;
    const auto liveCount = static_cast<std::size_t>(store.liveMessageCount);
    const std::vector<MessageRecord>& live = store.liveMessages;
    IndexSet liveTimeBody(liveCount);
    IndexSet liveBody(liveCount);
    for (std::size_t i = 0; i < liveCount; ++i) {
        const std::uint64_t bodyHash = BodyHash(live[i]);
        liveTimeBody.Insert(TimeBodyHash(bodyHash, live[i]), static_cast<std::uint32_t>(i));
        liveBody.Insert(bodyHash, static_cast<std::uint32_t>(i));
    }

    struct Kept {
        const MessageRecord* find;
        std::uint64_t timeBodyHash;
    };
    std::vector<Kept> notLive;
    notLive.reserve(finds.size());
    const double n = static_cast<double>(finds.size());
    // Finds are checked in batches whose table slots, live records and live texts are fetched
    // ahead: with large lists nearly every lookup would otherwise wait on memory three times.
    constexpr std::size_t kBatch = 16;
    std::array<std::uint64_t, kBatch> bodyHash{};
    std::array<std::uint64_t, kBatch> timeBodyHash{};
    std::array<std::uint32_t, kBatch> candidate{};
    for (std::size_t first = 0; first < finds.size(); first += kBatch) {
        const std::size_t count = std::min(kBatch, finds.size() - first);
        auto table = [&](std::size_t j) -> const IndexSet& {
            return finds[first + j].spillFlag == 0 ? liveTimeBody : liveBody;
        };
        auto key = [&](std::size_t j) { return finds[first + j].spillFlag == 0 ? timeBodyHash[j] : bodyHash[j]; };
        for (std::size_t j = 0; j < count; ++j) {
            bodyHash[j] = BodyHash(finds[first + j]);
            timeBodyHash[j] = TimeBodyHash(bodyHash[j], finds[first + j]);
            __builtin_prefetch(table(j).SlotAddress(key(j)));
        }
        for (std::size_t j = 0; j < count; ++j) {
            candidate[j] = table(j).FirstCandidate(key(j));
            if (candidate[j] != IndexSet::kEmpty) __builtin_prefetch(&live[candidate[j]]);
        }
        for (std::size_t j = 0; j < count; ++j) {
            if (candidate[j] != IndexSet::kEmpty) __builtin_prefetch(live[candidate[j]].body.data());
        }
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t i = first + j;
            const MessageRecord& find = finds[i];
            // A spilled record's carved end is not its own, so only its text is compared.
            const bool isLive =
                candidate[j] != IndexSet::kEmpty &&
                (find.spillFlag == 0
                     ? liveTimeBody.Contains(timeBodyHash[j], [&](std::uint32_t k) {
                           return live[k].time == find.time && live[k].body == find.body;
                       })
                     : liveBody.Contains(bodyHash[j], [&](std::uint32_t k) { return live[k].body == find.body; }));
            if (!isLive) notLive.push_back({&find, timeBodyHash[j]});
            if (i % 10 == 5) ReportProgress(static_cast<double>(i) / n * 10 + 90);
        }
    }

    std::vector<MessageRecord> recovered;
    recovered.reserve(notLive.size());
    IndexSet kept(notLive.size());
    for (const Kept& candidate : notLive) {
        const MessageRecord& find = *candidate.find;
        const std::uint64_t hash = RecordHash(candidate.timeBodyHash, find);
        if (kept.Contains(hash, [&](std::uint32_t k) { return recovered[k] == find; })) continue;
        kept.Insert(hash, static_cast<std::uint32_t>(recovered.size()));
        recovered.push_back(find);
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
