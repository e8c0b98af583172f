// Which finds are copies of live messages: an index over the live list, shared by the scans
// (which skip copies of live rows before they copy any text) and the merge.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "store/MessageStore.h"

// A fast 64-bit hash of bytes, eight at a time (for tables, not against adversaries).
inline std::uint64_t TextHash(std::string_view text)
{
    constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ULL;
    std::uint64_t h = (text.size() + 1) * kMultiplier;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        h = (h ^ word) * kMultiplier;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, text.data() + i, text.size() - i);
    h = (h ^ tail) * kMultiplier;
    return h ^ (h >> 32);
}

inline std::uint64_t MixHash(std::uint64_t seed, std::uint64_t value)
{
    seed ^= value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
    return seed * 0xFF51AFD7ED558CCDULL;
}

inline std::uint64_t TimeBodyHash(std::uint64_t bodyHash, std::int64_t time)
{
    return MixHash(bodyHash, static_cast<std::uint64_t>(time));
}

// An open-addressing set of indexes keyed by a 64-bit hash; equality is decided by the caller,
// so one table serves "same time and body", "same body" and "same record".
class IndexSet {
public:
    explicit IndexSet(std::size_t capacity)
    {
        std::size_t size = 16;
        while (size < capacity * 2) size *= 2;
        m_slots.assign(size, Slot{});
        m_mask = size - 1;
    }

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

// The live messages ordered by time, to answer "is this find a copy of a live message?"
// without a table over all of them: a lookup is a binary search on the times (a small array
// that stays in cache), and most lookups do not even need that, because finds come in file
// order, which follows the list's order closely: the entries right after the last match are
// tried first.
class LiveCopies {
public:
    explicit LiveCopies(const MessageStore& store);

    // Whether a live message has this time and body; for a spilled find (whose carved end is
    // not its own) whether one has this body. Exact byte comparisons.
    bool Contains(bool spilled, std::int64_t time, std::string_view body) const;

    // Whether `match` holds for one of the live messages with this time.
    template <typename Match>
    bool AnyAtTime(std::int64_t time, Match match) const
    {
        auto p = static_cast<std::size_t>(std::lower_bound(m_times.begin(), m_times.end(), time) - m_times.begin());
        for (; p < m_times.size() && m_times[p] == time; ++p) {
            if (match(m_live[m_order[p]])) return true;
        }
        return false;
    }
    const MessageRecord& Live(std::uint32_t index) const { return m_live[index]; }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(m_times.size()); }  // live messages

private:
    bool SameAt(std::size_t position, std::int64_t time, std::string_view body) const
    {
        return m_times[position] == time && m_live[m_order[position]].body == body;
    }

    const std::vector<MessageRecord>& m_live;
    std::vector<std::int64_t> m_times;    // ascending
    std::vector<std::uint32_t> m_order;   // the live index at each position
    mutable std::size_t m_cursor = 0;     // the position after the last match
    mutable IndexSet m_body{0};           // by body alone, built on first use: spilled finds are rare
    mutable bool m_bodyBuilt = false;
};
