// MMS, files and set-aside texts from the part tables' finds.
#include "recovery/DeepParts.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "store/TimeText.h"

namespace {

// Adds a find's place to a message once.
void AddPlace(MessageRecord& m, const FindPlace& place)
{
    if (std::find(m.places.begin(), m.places.end(), place) == m.places.end()) m.places.push_back(place);
}

// The finds of one record found in several places: one record with all of them.
struct Found {
    DecodedRecord record;
    std::vector<FindPlace> places;
};

// Joins finds of the same record (the same key) in their first one's place in the list.
template <typename Key, typename KeyOf>
std::vector<Found> JoinRepeats(std::vector<RawFind>& finds, CarvedTable table, KeyOf keyOf)
{
    std::vector<Found> found;
    std::map<Key, std::size_t> indexOf;
    for (RawFind& find : finds) {
        if (find.record.table != table) continue;
        const auto [at, added] = indexOf.try_emplace(keyOf(find.record), found.size());
        if (added) found.push_back({std::move(find.record), {}});
        Found& same = found[at->second];
        if (std::find(same.places.begin(), same.places.end(), find.place) == same.places.end()) {
            same.places.push_back(std::move(find.place));
        }
    }
    return found;
}

// A text part cut short whose whole text another find of the same part has is that part.
void DropCutRepeats(std::vector<const Found*>& parts)
{
    std::vector<const Found*> kept;
    for (const Found* cut : parts) {
        const bool repeat = cut->record.truncated && std::any_of(parts.begin(), parts.end(), [&](const Found* whole) {
            return whole != cut && whole->record.sequence == cut->record.sequence && whole->record.texts->mime == cut->record.texts->mime &&
                   whole->record.body.size() > cut->record.body.size() && whole->record.body.starts_with(cut->record.body);
        });
        if (!repeat) kept.push_back(cut);
    }
    parts = std::move(kept);
}

// Puts a part into its message: a text part's text after the texts before it, any other part
// as an attachment.
void AddPart(MessageRecord& m, const Found& part)
{
    if (AsciiLower(part.record.texts->mime) == "text/plain") {
        if (!m.body.empty() && !part.record.body.empty()) m.body += '\n';
        m.body += part.record.body;
        if (part.record.truncated) m.truncated = 1;
    } else {
        m.details.Edit().attachments.push_back(
            Attachment{part.record.texts->name, part.record.texts->mime, -1, part.record.texts->file, false, {}});
    }
    for (const FindPlace& place : part.places) AddPlace(m, place);
}

// A message record whose id is known, live or found: ids are given in the order messages
// are stored, so its neighbours by id are its neighbours in time.
struct Anchor {
    std::int64_t id, time;
    bool operator<(const Anchor& other) const { return id < other.id; }
};

// Gives the parts whose message record was found without its id (a freed cell's first bytes,
// which held the id, are overwritten) that record: where, between two neighbouring known
// records (by id), as many sets of such parts lie by id as such records lie by time, they are
// paired in order, the lowest id with the earliest time. A record is placed only where the
// known records around it are in time order and its time lies in that one gap.
void JoinByOrder(std::vector<MessageRecord>& out, std::size_t firstPdu, std::vector<Anchor> anchors,
                 const std::map<std::int64_t, std::vector<const Found*>>& partsOf,
                 std::unordered_map<std::int64_t, std::size_t>& indexOfId)
{
    std::sort(anchors.begin(), anchors.end());
    const std::size_t gaps = anchors.size() + 1;  // gap g lies between anchors g - 1 and g
    const auto lower = [&](std::size_t g) { return g == 0 ? INT64_MIN : anchors[g - 1].time; };
    const auto upper = [&](std::size_t g) { return g == anchors.size() ? INT64_MAX : anchors[g].time; };
    std::map<std::size_t, std::vector<std::int64_t>> orphansOfGap;
    for (const auto& [id, parts] : partsOf) {
        if (indexOfId.contains(id)) continue;
        const auto g = static_cast<std::size_t>(std::lower_bound(anchors.begin(), anchors.end(), Anchor{id, 0}) - anchors.begin());
        orphansOfGap[g].push_back(id);
    }
    if (orphansOfGap.empty()) return;
    std::map<std::size_t, std::vector<std::size_t>> recordsOfGap;
    for (std::size_t i = firstPdu; i < out.size(); ++i) {
        if (out[i].rowId != 0) continue;
        const std::int64_t t = out[i].time;
        // The first gap whose upper end is not before the time, were the times in order.
        const auto g = static_cast<std::size_t>(std::partition_point(anchors.begin(), anchors.end(),
                                                                     [&](const Anchor& a) { return a.time < t; }) -
                                                anchors.begin());
        const bool ordered = lower(g) <= t && t <= upper(g) && (g == 0 || lower(g - 1) <= lower(g)) &&
                             (g + 1 >= gaps || upper(g) <= upper(g + 1));
        const bool alone = (g == 0 || upper(g - 1) < t) && (g + 1 >= gaps || t < lower(g + 1));
        if (ordered && alone) recordsOfGap[g].push_back(i);
    }
    for (auto& [g, records] : recordsOfGap) {
        const auto orphans = orphansOfGap.find(g);
        if (orphans == orphansOfGap.end() || records.size() != orphans->second.size()) continue;
        std::stable_sort(records.begin(), records.end(), [&](std::size_t a, std::size_t b) { return out[a].time < out[b].time; });
        for (std::size_t k = 0; k < records.size(); ++k) {
            out[records[k]].rowId = orphans->second[k];  // ascending ids
            indexOfId.emplace(orphans->second[k], records[k]);
        }
    }
}

// The MMS records that are not live, as messages (with the places of their repeats); the
// index of each whose id is known in `indexOfId`.
void AddMmsRecords(const std::vector<Found>& pdus, const MessageStore& store, const std::unordered_set<std::int64_t>& liveIds,
                   std::vector<MessageRecord>& out, std::unordered_map<std::int64_t, std::size_t>& indexOfId)
{
    // A record whose id was lost (its cell's first bytes overwritten) is the live message or
    // the found one of the same time, type and thread.
    using Instant = std::tuple<std::int64_t, std::int32_t, std::int64_t>;
    std::map<Instant, std::ptrdiff_t> ofInstant;  // -1: a live message
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        if (m.kind == MessageKind::Mms) ofInstant.try_emplace(Instant{m.time, m.fromMe, m.threadId}, -1);
    }
    std::vector<const Found*> inOrder;
    for (const Found& pdu : pdus) inOrder.push_back(&pdu);
    std::stable_partition(inOrder.begin(), inOrder.end(), [](const Found* f) { return f->record.rowId != 0; });
    for (const Found* found : inOrder) {
        const DecodedRecord& r = found->record;
        if (r.rowId != 0 && liveIds.contains(r.rowId)) continue;
        const Instant instant{r.time, r.fromMe, r.threadId};
        // A repeat adds its places to the message kept (none for a live one).
        std::optional<std::ptrdiff_t> kept;
        if (r.rowId == 0) {
            if (const auto same = ofInstant.find(instant); same != ofInstant.end()) kept = same->second;
        } else if (const auto same = indexOfId.find(r.rowId); same != indexOfId.end()) {
            kept = static_cast<std::ptrdiff_t>(same->second);  // the same id: the first find stands
        }
        if (kept) {
            if (*kept >= 0) {
                for (const FindPlace& place : found->places) AddPlace(out[static_cast<std::size_t>(*kept)], place);
            }
            continue;
        }
        if (r.rowId != 0) indexOfId.emplace(r.rowId, out.size());
        ofInstant.try_emplace(instant, static_cast<std::ptrdiff_t>(out.size()));
        MessageRecord& m = out.emplace_back();
        m.kind = MessageKind::Mms;
        m.rowId = r.rowId;
        m.threadId = r.threadId;
        m.time = r.time;
        m.fromMe = r.fromMe;
        m.status = MmsStatus(r.box, r.mmsType);
        if (!r.texts->subject.empty()) m.details.Edit().subject = r.texts->subject;
        m.places = found->places;
    }
}

// Puts each set of parts into the message of its id, or makes a message of them.
void AddMmsParts(std::map<std::int64_t, std::vector<const Found*>>& partsOf, std::vector<MessageRecord>& out,
                 std::unordered_map<std::int64_t, std::size_t>& indexOfId)
{
    for (auto& [id, those] : partsOf) {
        DropCutRepeats(those);
        std::stable_sort(those.begin(), those.end(), [](const Found* a, const Found* b) {
            return std::tie(a->record.sequence, a->record.rowId) < std::tie(b->record.sequence, b->record.rowId);
        });
        auto pdu = indexOfId.find(id);
        if (pdu == indexOfId.end()) {
            // Parts whose message record is gone: what they have, in no conversation.
            MessageRecord& m = out.emplace_back();
            m.kind = MessageKind::Mms;
            m.rowId = id;
            pdu = indexOfId.emplace(id, out.size() - 1).first;
        }
        for (const Found* part : those) AddPart(out[pdu->second], *part);
    }
}

// Whether a live MMS holds the part: its text among the message's texts, or its file among
// the message's attachments.
bool LiveMmsHolds(const MessageRecord& live, const DecodedRecord& part)
{
    if (AsciiLower(part.texts->mime) == "text/plain") return live.body.find(part.body) != std::string::npos;
    const auto& files = live.details->attachments;
    return std::any_of(files.begin(), files.end(), [&](const Attachment& a) {
        const PartTexts& texts = *part.texts;
        return a.name == texts.name && a.mime == texts.mime && (a.file == texts.file || a.file.empty() || texts.file.empty());
    });
}

// Parts of a live MMS that it no longer holds (an earlier text of a draft, a removed file):
// a recovered message beside it, with its time, thread and direction.
void AddPartsOfLiveMms(std::map<std::int64_t, std::vector<const Found*>>& partsOf,
                       const std::unordered_map<std::int64_t, const MessageRecord*>& liveMms, std::vector<MessageRecord>& out)
{
    std::unordered_map<std::int64_t, std::size_t> indexOfId;
    for (const auto& [id, those] : partsOf) {
        const MessageRecord& live = *liveMms.at(id);
        MessageRecord& m = out.emplace_back();
        m.kind = MessageKind::Mms;
        m.rowId = id;
        m.time = live.time;
        m.threadId = live.threadId;
        m.fromMe = live.fromMe;
        m.status = live.status;
        indexOfId.emplace(id, out.size() - 1);
    }
    AddMmsParts(partsOf, out, indexOfId);
}

void MergeMmsFinds(std::vector<RawFind>& finds, const MessageStore& store, std::vector<MessageRecord>& out)
{
    // Ids of the pdu table are never given again: a find with a live message's id is of it.
    std::unordered_set<std::int64_t> liveIds;
    std::unordered_map<std::int64_t, const MessageRecord*> liveMms;
    std::vector<Anchor> anchors;
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        if (m.kind != MessageKind::Mms) continue;
        liveIds.insert(m.rowId);
        liveMms.emplace(m.rowId, &m);
        if (m.rowId != 0) anchors.push_back({m.rowId, m.time});
    }
    using PduKey = std::tuple<std::int64_t, std::int64_t, std::int32_t, std::string>;
    const std::vector<Found> pdus = JoinRepeats<PduKey>(finds, CarvedTable::MmsMessages, [](const DecodedRecord& r) {
        return PduKey{r.rowId, r.time, r.mmsType, r.texts->subject};
    });
    using PartKey = std::tuple<std::int64_t, std::int64_t, std::string, std::string, std::string, std::string, bool>;
    const std::vector<Found> parts = JoinRepeats<PartKey>(finds, CarvedTable::MmsParts, [](const DecodedRecord& r) {
        return PartKey{r.messageId, r.sequence, r.texts->mime, r.texts->name, r.texts->file, r.body, r.truncated};
    });

    std::unordered_map<std::int64_t, std::size_t> indexOfId;
    const std::size_t firstPdu = out.size();
    AddMmsRecords(pdus, store, liveIds, out, indexOfId);
    std::map<std::int64_t, std::vector<const Found*>> partsOf, partsOfLive;
    for (const Found& part : parts) {
        const auto live = liveMms.find(part.record.messageId);
        if (live == liveMms.end()) {
            partsOf[part.record.messageId].push_back(&part);
        } else if (!LiveMmsHolds(*live->second, part.record)) {
            partsOfLive[part.record.messageId].push_back(&part);
        }
    }
    for (const auto& [id, index] : indexOfId) anchors.push_back({id, out[index].time});
    JoinByOrder(out, firstPdu, std::move(anchors), partsOf, indexOfId);
    AddMmsParts(partsOf, out, indexOfId);
    AddPartsOfLiveMms(partsOfLive, liveMms, out);
}

// The live messages' files by name and type, with where each is stored.
using LiveFiles = std::multimap<std::pair<std::string, std::string>, std::string>;

// Whether a live message lists the file: the same name and type, and the same stored path
// unless one of them has none (an older version of a row may precede the file's download).
bool IsLiveFile(const LiveFiles& live, const DecodedRecord& r)
{
    const auto [first, last] = live.equal_range({r.texts->name, r.texts->mime});
    return std::any_of(first, last, [&](const auto& file) { return file.second.empty() || r.texts->file.empty() || file.second == r.texts->file; });
}

void MergeIphoneFinds(std::vector<RawFind>& finds, const MessageStore& store, std::vector<MessageRecord>& out)
{
    std::unordered_set<std::int64_t> liveIds;
    LiveFiles liveFiles;
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        liveIds.insert(m.rowId);
        for (const Attachment& a : m.details->attachments) liveFiles.emplace(std::pair(a.name, a.mime), a.file);
    }
    using TextKey = std::tuple<std::int64_t, std::int64_t, std::string>;
    const std::vector<Found> texts = JoinRepeats<TextKey>(finds, CarvedTable::RecoverableParts, [](const DecodedRecord& r) {
        return TextKey{r.messageId, r.sequence, r.body};
    });
    using FileKey = std::tuple<std::string, std::string, std::string, std::int64_t, std::int64_t>;
    const std::vector<Found> files = JoinRepeats<FileKey>(finds, CarvedTable::Attachments, [](const DecodedRecord& r) {
        return FileKey{r.texts->file, r.texts->name, r.texts->mime, r.size, r.time};
    });

    std::unordered_map<std::int64_t, std::size_t> carvedOfId;  // message-table finds by row id
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (out[i].rowId != 0) carvedOfId.try_emplace(out[i].rowId, i);
    }
    std::map<std::int64_t, std::vector<const Found*>> textsOf;
    for (const Found& text : texts) {
        if (!liveIds.contains(text.record.messageId)) textsOf[text.record.messageId].push_back(&text);
    }
    for (auto& [id, those] : textsOf) {
        std::stable_sort(those.begin(), those.end(),
                         [](const Found* a, const Found* b) { return a->record.sequence < b->record.sequence; });
        std::string body;
        std::int64_t deleted = 0;
        for (const Found* text : those) {
            body += text->record.body;  // the parts make the text as the phone wrote it
            deleted = std::max(deleted, text->record.time);
        }
        const auto carved = carvedOfId.find(id);
        MessageRecord& m = carved != carvedOfId.end() ? out[carved->second] : out.emplace_back();
        if (carved == carvedOfId.end()) {
            m.rowId = id;
            m.kind = MessageKind::Other;  // the row that said how it went is gone
            m.threadId = those.front()->record.chatId;
        }
        if (m.body.empty()) m.body = body;
        m.details.Edit().deletedTime = deleted;
        for (const Found* text : those) {
            for (const FindPlace& place : text->places) AddPlace(m, place);
        }
    }
    for (const Found& file : files) {
        const DecodedRecord& r = file.record;
        if (IsLiveFile(liveFiles, r)) continue;
        MessageRecord& m = out.emplace_back();
        m.kind = MessageKind::Other;
        m.time = r.time;
        m.fromMe = r.fromMe;
        m.details.Edit().attachments.push_back(Attachment{r.texts->name, r.texts->mime, r.size, r.texts->file, false, {}});
        m.places = file.places;
    }
}

}  // namespace

LiveMmsParts::LiveMmsParts(const MessageStore& store)
{
    for (std::int32_t i = 0; i < store.liveMessageCount; ++i) {
        const MessageRecord& m = store.liveMessages[i];
        if (m.kind == MessageKind::Mms) m_mms.emplace(m.rowId, &m);
    }
}

bool LiveMmsParts::Holds(const DecodedRecord& part) const
{
    if (part.table != CarvedTable::MmsParts) return false;
    const auto live = m_mms.find(part.messageId);
    return live != m_mms.end() && LiveMmsHolds(*live->second, part);
}

std::vector<std::unique_ptr<DeepDecoder>> PartTableDecoders(const CSms& reader, const LiveRows& liveMms,
                                                            const HeldByLive* heldParts)
{
    const auto kind = static_cast<DeviceKind>(reader.m_deviceKind);
    std::vector<std::unique_ptr<DeepDecoder>> decoders;
    for (const CSms::TableSchema& schema : reader.m_partTables) {
        for (const CarvedTable table : PartTables(kind)) {
            if (CarvedTableName(table) != schema.table) continue;
            auto decoder = std::make_unique<DeepDecoder>(kind, table, schema.names, schema.types, schema.rowIdAlias,
                                                         table == CarvedTable::MmsMessages ? &liveMms : nullptr);
            if (table == CarvedTable::MmsParts) decoder->LeaveOutHeld(heldParts);
            if (decoder->Usable()) decoders.push_back(std::move(decoder));
        }
    }
    return decoders;
}

void MergePartFinds(std::vector<RawFind> finds, const MessageStore& store, std::vector<MessageRecord>& messages)
{
    if (finds.empty()) return;
    const bool iphone = store.currentReader != nullptr && store.currentReader->m_deviceKind == kDeviceIphone;
    if (iphone) {
        MergeIphoneFinds(finds, store, messages);
    } else {
        MergeMmsFinds(finds, store, messages);
    }
    std::stable_sort(messages.begin(), messages.end(),
                     [](const MessageRecord& a, const MessageRecord& b) { return a.time < b.time; });
}
