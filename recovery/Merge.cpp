// Merging recovered messages with hash sets instead of pairwise comparisons.
#include "recovery/Merge.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "recovery/LiveCopies.h"
#include "store/MessageStore.h"
#include "store/ProgressChannel.h"
#include "store/SelectionOrder.h"

namespace {

std::uint64_t RecordHash(std::uint64_t timeBodyHash, const MessageRecord& m)
{
    std::uint64_t h = timeBodyHash;
    h = MixHash(h, TextHash(m.address));
    return MixHash(h, static_cast<std::uint64_t>(m.fromMe) * 31 + static_cast<std::uint64_t>(m.spillFlag) * 7 +
                          static_cast<std::uint64_t>(m.unassignedFlag));
}

}  // namespace

void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds)
{
    MergeRecovered(reader, finds, LiveCopies(g_store));
}

void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds, const LiveCopies& copies)
{
    struct Kept {
        const MessageRecord* find;
        std::uint64_t timeBodyHash;
    };
    std::vector<Kept> notLive;
    notLive.reserve(finds.size());
    const double n = static_cast<double>(finds.size());
    for (std::size_t i = 0; i < finds.size(); ++i) {
        const MessageRecord& find = finds[i];
        // A spilled record's carved end is not its own, so only its text is compared.
        if (!copies.Contains(find.spillFlag != 0, find.time, find.body)) {
            notLive.push_back({&find, TimeBodyHash(TextHash(find.body), find.time)});
        }
        if (i % 10 == 5) ReportProgress(static_cast<double>(i) / n * 10 + 90);
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
