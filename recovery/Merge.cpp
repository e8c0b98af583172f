// Merging recovered messages with hash sets instead of pairwise comparisons.
#include "recovery/Merge.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
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

// The live messages by partner, time and text, to tell a cut-off copy of one: a find of the
// same partner and time whose text begins a live text (the rest of the copy was overwritten or
// lay past the carved end).
class LiveTexts {
public:
    explicit LiveTexts(const MessageStore& store)
    {
        m_texts.reserve(static_cast<std::size_t>(store.liveMessageCount));
        for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
            const MessageRecord& m = store.liveMessages[i];
            m_texts.push_back({m.time, m.address, m.body});
        }
        std::sort(m_texts.begin(), m_texts.end());
    }
    bool BeginsOne(const MessageRecord& find) const
    {
        if (find.body.empty()) return false;
        const auto next = std::lower_bound(m_texts.begin(), m_texts.end(), Text{find.time, find.address, find.body});
        return next != m_texts.end() && next->address == find.address && next->time == find.time &&
               next->body.starts_with(find.body);
    }

private:
    // Time first: most comparisons end at an integer, not in the texts.
    struct Text {
        std::int64_t time;
        std::string_view address;
        std::string_view body;
        auto operator<=>(const Text&) const = default;
    };
    std::vector<Text> m_texts;
};

// Android finds of one partner, direction and millisecond are versions of one row (the log
// keeps a page before and after an edit): the one found last, in the later frame, is its
// newest, and stands for the row. Finds without a time or a partner are left as they are.
void KeepNewestVersions(std::vector<MessageRecord>& finds)
{
    // The finds by the hash of their instant, each group in scan order: one sort, no table of
    // lists (a million finds would make a million small allocations).
    std::vector<std::pair<std::uint64_t, std::size_t>> ofInstant;
    ofInstant.reserve(finds.size());
    for (std::size_t i = 0; i < finds.size(); ++i) {
        const MessageRecord& m = finds[i];
        if (m.time != 0 && !m.address.empty()) {
            ofInstant.emplace_back(MixHash(TextHash(m.address), static_cast<std::uint64_t>(m.time) * 2 + (m.fromMe != 0)), i);
        }
    }
    std::sort(ofInstant.begin(), ofInstant.end());
    std::vector<bool> older(finds.size(), false);
    for (std::size_t first = 0, last = 0; first < ofInstant.size(); first = last) {
        while (last < ofInstant.size() && ofInstant[last].first == ofInstant[first].first) ++last;
        for (std::size_t a = first; a < last; ++a) {
            const MessageRecord& m = finds[ofInstant[a].second];
            for (std::size_t b = a + 1; b < last; ++b) {
                const MessageRecord& later = finds[ofInstant[b].second];
                if (later.time == m.time && later.address == m.address && (later.fromMe != 0) == (m.fromMe != 0)) {
                    older[ofInstant[a].second] = true;
                    break;
                }
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < finds.size(); ++i) {
        if (older[i]) continue;
        if (kept != i) finds[kept] = std::move(finds[i]);
        ++kept;
    }
    finds.resize(kept);
}

}  // namespace

void MergeRecovered(CSms& reader, std::span<const MessageRecord> finds)
{
    MergeRecovered(reader, std::vector<MessageRecord>(finds.begin(), finds.end()), LiveCopies(g_store));
}

void MergeRecovered(CSms& reader, std::vector<MessageRecord>&& finds, const LiveCopies& copies)
{
    struct Kept {
        MessageRecord* find;
        std::uint64_t timeBodyHash;
    };
    std::vector<Kept> notLive;
    notLive.reserve(finds.size());
    const double n = static_cast<double>(finds.size());
    std::optional<LiveTexts> liveTexts;
    for (std::size_t i = 0; i < finds.size(); ++i) {
        MessageRecord& find = finds[i];
        // A spilled record's carved end is not its own, so only its text is compared.
        bool live = copies.Contains(find.spillFlag != 0, find.time, find.body);
        if (!live) {
            if (!liveTexts) liveTexts.emplace(g_store);
            live = liveTexts->BeginsOne(find);
        }
        if (!live) notLive.push_back({&find, TimeBodyHash(TextHash(find.body), find.time)});
        if (i % 10 == 5) ReportProgress(static_cast<double>(i) / n * 10 + 90);
    }

    std::vector<MessageRecord> recovered;
    recovered.reserve(notLive.size());
    IndexSet kept(notLive.size());
    for (const Kept& candidate : notLive) {
        MessageRecord& find = *candidate.find;
        const std::uint64_t hash = RecordHash(candidate.timeBodyHash, find);
        if (kept.Contains(hash, [&](std::uint32_t k) { return recovered[k] == find; })) continue;
        kept.Insert(hash, static_cast<std::uint32_t>(recovered.size()));
        recovered.push_back(std::move(find));  // the finds are the merge's to consume
    }
    if (reader.m_deviceKind == kDeviceAndroid) KeepNewestVersions(recovered);
    reader.m_recovered = std::move(recovered);
    reader.m_recoveredCount = static_cast<std::int32_t>(reader.m_recovered.size());
}

void SortRecoveredByTime(CSms& reader)
{
    SelectionOrder(std::span(reader.m_recovered).first(static_cast<std::size_t>(reader.m_recoveredCount)),
                   [](const MessageRecord& m) { return m.time; },
                   [](std::int64_t a, std::int64_t b) { return a < b; });
}

namespace {

// Whether a decoded record is a live row: the same row id with its time or text, or (without a
// row id) a live message of the same time and text whose partner is the record's or which the
// record does not name (an earlier version of the row, written before its handle was known).
bool IsLiveRow(const DecodedRecord& r, const LiveRows& rows, const LiveCopies& live)
{
    if (r.rowId != 0) {
        // A row id that a live row has now: the same row, unless both its time and its text
        // differ (the id was given again to a newer message).
        const std::span<const LiveRows::Row> same = rows.WithRowId(r.rowId);
        for (const LiveRows::Row& row : same) {
            const MessageRecord& m = live.Live(row.index);
            if (m.time == r.time || m.body == r.body) return true;
        }
        if (!same.empty()) return false;
    }
    const bool noPartner = r.address.empty() || r.address == "0";
    return live.AnyAtTime(r.time, [&](const MessageRecord& m) { return m.body == r.body && (noPartner || m.address == r.address); });
}

// Adds another find of the row `kept` shows: its place, and where its columns differ, its
// values as a version. The log's frames come after the database's pages and are newer, a
// journal's older: a newer version's values become the shown ones.
void AddVersion(MessageRecord& kept, MessageRecord& found, FindPlace place)
{
    const bool differs = found.time != kept.time || found.address != kept.address || found.body != kept.body ||
                         (found.fromMe != 0) != (kept.fromMe != 0);
    const bool newer = place.where != PlaceKind::JournalPage;
    if (differs) {
        MessageRecord& older = newer ? kept : found;
        RowVersion version{newer ? kept.places.front() : place, older.time, older.address, older.body, older.fromMe};
        if (newer) {
            kept.time = found.time;
            kept.address = std::move(found.address);
            kept.body = std::move(found.body);
            kept.fromMe = found.fromMe;
            kept.threadId = found.threadId != 0 ? found.threadId : kept.threadId;
            kept.chinaPrefix = found.chinaPrefix;
            kept.truncated = found.truncated;
        }
        kept.details.Edit().versions.push_back(std::move(version));
    } else {
        kept.truncated = kept.truncated != 0 && found.truncated != 0 ? 1 : 0;
    }
    if (newer) kept.kind = found.kind;
    if (std::find(kept.places.begin(), kept.places.end(), place) == kept.places.end()) kept.places.push_back(std::move(place));
    if (kept.rowId == 0) kept.rowId = found.rowId;
}

// Finds without a row id (a freed cell lost it) whose text and time are those of a find with
// one are that row: their places join it.
void FoldRowlessCopies(std::vector<MessageRecord>& messages)
{
    std::unordered_multimap<std::uint64_t, std::uint32_t> withRowId;
    for (std::uint32_t i = 0; i < messages.size(); ++i) {
        if (messages[i].rowId != 0) withRowId.emplace(TimeBodyHash(TextHash(messages[i].body), messages[i].time), i);
    }
    std::vector<bool> folded(messages.size(), false);
    for (std::uint32_t i = 0; i < messages.size(); ++i) {
        MessageRecord& copy = messages[i];
        if (copy.rowId != 0) continue;
        const auto [from, to] = withRowId.equal_range(TimeBodyHash(TextHash(copy.body), copy.time));
        for (auto at = from; at != to; ++at) {
            MessageRecord& row = messages[at->second];
            if (row.body != copy.body || row.time != copy.time) continue;
            for (FindPlace& place : copy.places) {
                if (std::find(row.places.begin(), row.places.end(), place) == row.places.end()) row.places.push_back(std::move(place));
            }
            folded[i] = true;
            break;
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (folded[i]) continue;
        if (kept != i) messages[kept] = std::move(messages[i]);
        ++kept;
    }
    messages.resize(kept);
}

// The finds that are no live row, each deleted row once: versions of one row (its id is never
// given again) and repeats (same time, direction, address and text) become one message with
// every place, the versions whose columns differ listed; finds that lost their row id join the
// row whose text and time they have.
std::vector<MessageRecord> MergeRepeats(std::vector<RawFind>& finds, const LiveRows& rows, const LiveCopies& live)
{
    std::vector<MessageRecord> messages;
    messages.reserve(finds.size());  // never moved while they grow: room not written is not memory taken
    IndexSet byKey(finds.size());
    std::unordered_map<std::int64_t, std::uint32_t> byRowId;
    auto keyHash = [](const MessageRecord& m) {
        return MixHash(MixHash(TimeBodyHash(TextHash(m.body), m.time), TextHash(m.address)),
                       static_cast<std::uint64_t>(m.fromMe != 0));
    };
    for (RawFind& find : finds) {
        if (IsLiveRow(find.record, rows, live)) continue;
        MessageRecord m;
        m.body = std::move(find.record.body);
        m.time = find.record.time;
        m.address = std::move(find.record.address);
        m.fromMe = find.record.fromMe;
        m.rowId = find.record.rowId;
        m.threadId = find.record.threadId;
        m.chinaPrefix = find.record.chinaPrefix ? 1 : 0;
        m.kind = find.record.kind;
        m.truncated = find.record.truncated ? 1 : 0;
        std::uint32_t same = IndexSet::kEmpty;
        // Another version of a row: its time or its text is still the row's (an edit keeps the
        // time, a filled-in handle both).
        if (const auto row = m.rowId != 0 ? byRowId.find(m.rowId) : byRowId.end(); row != byRowId.end()) {
            const MessageRecord& other = messages[row->second];
            if (other.time == m.time || other.body == m.body) same = row->second;
        }
        const std::uint64_t hash = keyHash(m);
        if (same == IndexSet::kEmpty) {
            byKey.Contains(hash, [&](std::uint32_t k) {
                const MessageRecord& other = messages[k];
                if (other.time != m.time || (other.fromMe != 0) != (m.fromMe != 0) || other.address != m.address ||
                    other.body != m.body) {
                    return false;
                }
                same = k;
                return true;
            });
        }
        if (same == IndexSet::kEmpty) {
            byKey.Insert(hash, static_cast<std::uint32_t>(messages.size()));
            if (m.rowId != 0) byRowId.try_emplace(m.rowId, static_cast<std::uint32_t>(messages.size()));
            m.places.push_back(std::move(find.place));
            messages.push_back(std::move(m));
            continue;
        }
        const std::int64_t rowId = m.rowId;
        AddVersion(messages[same], m, std::move(find.place));
        if (rowId != 0) byRowId.try_emplace(rowId, same);
        byKey.Insert(keyHash(messages[same]), same);
    }
    FoldRowlessCopies(messages);
    return messages;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD: bytes that were no text

// A find that lost its row id is asked about below: one that is whole, with a text, and that
// names no partner or has a text long enough not to repeat.
constexpr std::size_t kRepeatingText = 16;
bool MayBeRowlessVersion(const MessageRecord& find)
{
    if (find.rowId != 0 || find.truncated != 0 || find.body.empty()) return false;
    const bool partnerless = find.address.empty() || find.address == "0";
    return partnerless || find.body.size() >= kRepeatingText;
}

// The finds with their row id and the live messages whose texts some find without its row id
// has: made when such a find first asks (most runs have none), and holding only those texts,
// as flat indexes of the lists' positions.
class ByText {
public:
    ByText(const std::vector<MessageRecord>& messages, const LiveCopies& live) : m_messages(messages), m_live(live) {}

    // The first find with a row id (in list order) whose text is `body` and that `fits`.
    template <typename Fits>
    std::optional<std::uint32_t> Rowed(std::string_view body, Fits fits)
    {
        Build();
        std::optional<std::uint32_t> found;
        m_rowed->Contains(TextHash(body), [&](std::uint32_t k) {
            if (m_messages[k].body != body || !fits(m_messages[k])) return false;
            found = k;
            return true;
        });
        return found;
    }
    template <typename Fits>
    bool Live(std::string_view body, Fits fits)
    {
        Build();
        return m_liveTexts->Contains(TextHash(body), [&](std::uint32_t k) {
            return m_live.Live(k).body == body && fits(m_live.Live(k));
        });
    }

private:
    void Build()
    {
        if (m_rowed) return;
        // The texts asked about: a text of another length is not looked at further.
        std::vector<std::uint32_t> asking;
        std::vector<bool> lengths;
        for (std::size_t i = 0; i < m_messages.size(); ++i) {
            if (!MayBeRowlessVersion(m_messages[i])) continue;
            asking.push_back(static_cast<std::uint32_t>(i));
            const std::size_t length = m_messages[i].body.size();
            if (length >= lengths.size()) lengths.resize(length + 1, false);
            lengths[length] = true;
        }
        IndexSet asked(asking.size());
        for (const std::uint32_t i : asking) asked.Insert(TextHash(m_messages[i].body), i);
        const auto isAsked = [&](std::string_view text, std::uint64_t& hash) {
            if (text.size() >= lengths.size() || !lengths[text.size()]) return false;
            hash = TextHash(text);
            return asked.Contains(hash, [&](std::uint32_t k) { return m_messages[k].body == text; });
        };
        // (Any number of rows may share an asked text: the indexes are sized by what they hold.)
        std::vector<std::pair<std::uint64_t, std::uint32_t>> rowed, live;
        std::uint64_t hash = 0;
        for (std::size_t i = 0; i < m_messages.size(); ++i) {
            if (m_messages[i].rowId != 0 && !m_messages[i].body.empty() && isAsked(m_messages[i].body, hash)) {
                rowed.emplace_back(hash, static_cast<std::uint32_t>(i));
            }
        }
        for (std::uint32_t k = 0; k < m_live.Count(); ++k) {
            if (isAsked(m_live.Live(k).body, hash)) live.emplace_back(hash, k);
        }
        m_rowed.emplace(rowed.size());
        for (const auto& [h, i] : rowed) m_rowed->Insert(h, i);
        m_liveTexts.emplace(live.size());
        for (const auto& [h, k] : live) m_liveTexts->Insert(h, k);
    }

    const std::vector<MessageRecord>& m_messages;
    const LiveCopies& m_live;
    std::optional<IndexSet> m_rowed, m_liveTexts;
};

// Whether `find` is a version of a row that lost its row id (a freed cell that later writes
// partly covered, so that its time may read wrong): its whole text is a live message's or a
// find's with its row id (which gains its places), and it names the same partner or none (a
// row the phone wrote before it knew the handle). A short text that names a partner is left
// alone: such texts repeat.
bool RowlessVersion(const MessageRecord& find, std::vector<MessageRecord>& messages, ByText& byText)
{
    if (!MayBeRowlessVersion(find)) return false;
    const bool partnerless = find.address.empty() || find.address == "0";
    const auto samePartner = [&](const MessageRecord& other) { return partnerless || other.address == find.address; };
    if (byText.Live(find.body, samePartner)) return true;
    const std::optional<std::uint32_t> rowed = byText.Rowed(find.body, samePartner);
    if (!rowed) return false;
    MessageRecord& row = messages[*rowed];
    for (const FindPlace& place : find.places) {
        if (std::find(row.places.begin(), row.places.end(), place) == row.places.end()) row.places.push_back(place);
    }
    return true;
}

// Marks the cut finds that are the beginning of a whole one (which gains their places) or of a
// live message: they are no messages of their own.
std::vector<bool> CutCopies(std::vector<MessageRecord>& messages, const LiveRows& rows, const LiveCopies& live)
{
    // A truncated find is the beginning of a whole one found elsewhere, or of a live message:
    // it is not a message of its own. The whole finds by time, to look among those alone.
    std::vector<std::uint32_t> wholeByTime;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (messages[i].truncated == 0) wholeByTime.push_back(static_cast<std::uint32_t>(i));
    }
    const auto earlier = [&](std::uint32_t a, std::uint32_t b) { return messages[a].time < messages[b].time; };
    std::sort(wholeByTime.begin(), wholeByTime.end(), earlier);
    std::vector<bool> drop(messages.size(), false);
    // The live texts in order, to tell whether a cut text begins one of them.
    std::vector<std::string_view> liveTexts;
    auto beginsALiveText = [&](const std::string& cut, bool whole = false) {
        if (liveTexts.empty()) {
            for (std::uint32_t k = 0; k < live.Count(); ++k) liveTexts.push_back(live.Live(k).body);
            std::sort(liveTexts.begin(), liveTexts.end());
        }
        const auto next = std::lower_bound(liveTexts.begin(), liveTexts.end(), std::string_view(cut));
        return next != liveTexts.end() && (whole ? *next == cut : next->starts_with(cut));
    };
    // The finds with their row id and the live messages by text, for the versions below that
    // lost their row id.
    ByText byText(messages, live);
    // The texts of the sound finds in order, for the damaged ones below.
    std::vector<std::string_view> soundTexts;
    for (const MessageRecord& m : messages) {
        if (m.body.find(kReplacement) == std::string::npos) soundTexts.push_back(m.body);
    }
    std::sort(soundTexts.begin(), soundTexts.end());
    auto beginsASoundFind = [&](std::string_view clean) {
        const auto next = std::lower_bound(soundTexts.begin(), soundTexts.end(), clean);
        return next != soundTexts.end() && next->starts_with(clean);
    };
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const MessageRecord& cut = messages[i];
        // A record without its row id whose text was partly written over (bytes no text has)
        // while its beginning is a live message's, or a sound find's, is a damaged copy of that
        // message: its other columns cannot be trusted either.
        if (RowlessVersion(cut, messages, byText)) {
            drop[i] = true;
            continue;
        }
        if (const std::size_t bad = cut.rowId == 0 ? cut.body.find(kReplacement) : std::string::npos; bad != std::string::npos) {
            const std::string clean = cut.body.substr(0, bad);
            if (!clean.empty() && (beginsALiveText(clean) || beginsASoundFind(clean))) {
                drop[i] = true;
                continue;
            }
        }
        if (cut.truncated == 0) continue;
        // A record cut short by a lost overflow chain that begins a live message (its row,
        // or its text) is that live message, whatever of its time was lost.
        if ((cut.rowId != 0 && !rows.WithRowId(cut.rowId).empty()) || (!cut.body.empty() && beginsALiveText(cut.body))) {
            drop[i] = true;
            continue;
        }
        auto begins = [&](const MessageRecord& whole) {
            return whole.time == cut.time && whole.address == cut.address && whole.body.starts_with(cut.body);
        };
        auto at = std::lower_bound(wholeByTime.begin(), wholeByTime.end(), static_cast<std::uint32_t>(i), earlier);
        for (; at != wholeByTime.end() && messages[*at].time == cut.time; ++at) {
            MessageRecord& whole = messages[*at];
            if (!begins(whole)) continue;
            for (const FindPlace& place : cut.places) {
                if (std::find(whole.places.begin(), whole.places.end(), place) == whole.places.end()) {
                    whole.places.push_back(place);
                }
            }
            drop[i] = true;
            break;
        }
        if (!drop[i]) drop[i] = live.AnyAtTime(cut.time, begins);
    }
    return drop;
}

}  // namespace

std::vector<MessageRecord> MergeDeepFinds(std::vector<RawFind> finds, const LiveRows& rows, const LiveCopies& live)
{
    std::vector<MessageRecord> messages = MergeRepeats(finds, rows, live);
    std::vector<RawFind>().swap(finds);  // their texts are the messages' now: the rest goes
    const std::vector<bool> drop = CutCopies(messages, rows, live);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        if (drop[i]) continue;
        if (kept != i) messages[kept] = std::move(messages[i]);
        ++kept;
    }
    messages.erase(messages.begin() + static_cast<std::ptrdiff_t>(kept), messages.end());
    std::stable_sort(messages.begin(), messages.end(),
                     [](const MessageRecord& a, const MessageRecord& b) { return a.time < b.time; });
    return messages;
}
