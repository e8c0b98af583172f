// The live list's index.
#include "recovery/LiveCopies.h"

#include <algorithm>
#include <numeric>

LiveCopies::LiveCopies(const MessageStore& store) : m_live(store.liveMessages)
{
    const auto count = static_cast<std::size_t>(store.liveMessageCount);
    m_order.resize(count);
    std::iota(m_order.begin(), m_order.end(), std::uint32_t{0});
    // The readers leave the list in time order; anything else is sorted here.
    const auto byTime = [&](std::uint32_t a, std::uint32_t b) { return m_live[a].time < m_live[b].time; };
    if (!std::is_sorted(m_order.begin(), m_order.end(), byTime)) std::stable_sort(m_order.begin(), m_order.end(), byTime);
    m_times.reserve(count);
    for (const std::uint32_t i : m_order) m_times.push_back(m_live[i].time);
}

bool LiveCopies::Contains(bool spilled, std::int64_t time, std::string_view body) const
{
    if (spilled) {
        if (!m_bodyBuilt) {
            m_body = IndexSet(m_order.size());
            for (std::size_t i = 0; i < m_order.size(); ++i) m_body.Insert(TextHash(m_live[i].body), static_cast<std::uint32_t>(i));
            m_bodyBuilt = true;
        }
        return m_body.Contains(TextHash(body), [&](std::uint32_t k) { return m_live[k].body == body; });
    }
    constexpr std::size_t kNearby = 4;
    for (std::size_t p = m_cursor; p < m_cursor + kNearby && p < m_times.size(); ++p) {
        if (SameAt(p, time, body)) {
            m_cursor = p + 1;
            return true;
        }
    }
    auto p = static_cast<std::size_t>(std::lower_bound(m_times.begin(), m_times.end(), time) - m_times.begin());
    for (; p < m_times.size() && m_times[p] == time; ++p) {
        if (SameAt(p, time, body)) {
            m_cursor = p + 1;
            return true;
        }
    }
    return false;
}
