// Reference carvers: read every serial type first, then check the rules, then the fit.
#include "LiteralCarvers.h"

#include <string>
#include <string_view>

#include "recovery/Varint.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace literal {

namespace {

bool RuleAccepts(Variant variant, const std::string& type, const std::string& name, std::int32_t s)
{
    const bool iphone = variant == Variant::Iphone;
    if (type == "INTEGER") {
        if (!iphone && (name == "date" || name == "date_sent")) return s == 5 || s == 8;
        if (!iphone && name == "thread_id") return s == 1 || s == 2 || s == 3 || s == 9;
        if (iphone && name == "date") return s == 4;
        if (iphone && name == "version") return s != 0 && s <= 4;
        return s <= 9;
    }
    if (type == "TEXT") return s == 0 || (s >= 13 && s % 2 != 0);
    if (iphone && type == "BLOB") return s == 0 || (s >= 12 && s % 2 == 0);
    return true;
}

std::string TextOf(const std::uint8_t* p, std::int64_t length)
{
    std::string copy(reinterpret_cast<const char*>(p), static_cast<std::size_t>(length));
    return Utf8ToAnsiString(copy.c_str());  // ends at the first zero byte
}

}  // namespace

bool Carve(Variant variant, std::int32_t& recordLength, const std::uint8_t* position,
           MessageRecord* record, const std::uint8_t* end)
{
    const MessageStore& s = g_store;
    const int n = s.columnCount;
    std::vector<std::int32_t> serial(n), bytes(n), content(n);
    std::int64_t length = 0;
    std::int64_t bodyStart = 0;
    const std::int64_t available = end - position;  // offset of the appended zero

    if (variant == Variant::AndroidWithHeader) {
        const int b = position[0];
        if (b < n || b > n + 10) return false;
        std::int32_t hb = 0;
        const auto h = static_cast<std::int32_t>(static_cast<std::uint32_t>(ReadVarint(position, &hb)));
        if (h < 0) return false;
        std::int64_t cursor = hb;
        std::int64_t typeBytes = 0;
        for (int i = 0; i < n; ++i) {
            if (i == n - 1 && h == 1 + typeBytes) {
                serial[i] = 0, content[i] = 0;
                break;
            }
            if (cursor > available) return false;
            serial[i] = static_cast<std::int32_t>(ReadVarint(position + cursor, &bytes[i], &content[i]));
            cursor += bytes[i];
            typeBytes += bytes[i];
        }
        if (serial[0] != 0) return false;
        for (int i = 1; i < n; ++i) {
            if (!RuleAccepts(variant, s.columnTypes[i], s.columnNames[i], serial[i])) return false;
        }
        for (int i = 0; i < n; ++i) {
            if (content[i] < 0) return false;
        }
        length = h;
        for (int i = 0; i < n; ++i) length += content[i];
        if (length > available) return false;
        bodyStart = h;
    } else {
        if (position[0] != 0) return false;
        length = 1;
        std::int64_t cursor = 0;
        for (int i = 0; i < n; ++i) {
            if (cursor > available) return false;
            serial[i] = static_cast<std::int32_t>(ReadVarint(position + cursor, &bytes[i], &content[i]));
            cursor += bytes[i];
            length += bytes[i];
        }
        for (int i = 1; i < n; ++i) {
            if (!RuleAccepts(variant, s.columnTypes[i], s.columnNames[i], serial[i])) return false;
        }
        for (int i = 0; i < n; ++i) {
            if (content[i] < 0) return false;
            length += content[i];
        }
        if (length - 1 > available + 1) return false;
        bodyStart = cursor;
    }
    if (length > INT32_MAX) return false;
    recordLength = static_cast<std::int32_t>(length);
    if (record == nullptr) return true;

    std::int64_t offset = bodyStart;
    for (int k = 0; k < n; ++k) {
        const std::uint8_t* c = position + offset;
        const std::string& name = s.columnNames[k];
        if (variant == Variant::Iphone) {
            if (name == "text") record->body = TextOf(c, content[k]);
            if (name == "date") {
                std::uint32_t v = 0;
                for (int b = 0; b < 4; ++b) v = v * 256 + (offset + b <= available ? c[b] : 0);
                record->time = v;
            }
            if (name == "handle_id") {
                std::uint32_t v = 0;
                if (serial[k] == 9) {
                    v = 1;
                } else {
                    for (int b = 0; b < content[k]; ++b) v = v * 256 + c[b];
                }
                record->address = std::to_string(static_cast<std::int32_t>(v));
            }
            if (name == "is_from_me") record->fromMe = serial[k] == 8 ? 0 : 1;
        } else {
            if (name == "address") {
                record->address = TextOf(c, content[k]);
                if (record->address.rfind("+86", 0) == 0) {
                    record->address = record->address.substr(3);
                    record->chinaPrefix = 1;
                }
            }
            if (name == "date" && serial[k] == 5) {
                std::uint64_t v = 0;
                for (int b = 0; b < 6; ++b) v = v * 256 + c[b];
                record->time = static_cast<std::int64_t>(v);
            }
            if (name == "date" && serial[k] == 8) record->time = 0;
            if (name == "type") record->fromMe = serial[k] == 9 ? 0 : 1;
            if (name == "body") record->body = TextOf(c, content[k]);
        }
        offset += content[k];
    }
    return true;
}

WalkResult Walk(Variant variant, const std::uint8_t* image, std::size_t size, std::int32_t pageSize,
                std::int32_t marginOther, std::int32_t marginLast, std::int32_t skip)
{
    WalkResult result;
    const std::uint8_t* end = image + size;
    const std::int64_t pages = static_cast<std::int64_t>(size) / pageSize;
    for (std::int64_t p = 0; p < pages; ++p) {
        const std::int64_t margin = p == pages - 1 ? marginLast : marginOther;
        std::int64_t offset = 0;
        while (offset < pageSize - margin) {
            const std::int64_t at = p * pageSize + offset;
            MessageRecord record;
            std::int32_t length = 0;
            if (Carve(variant, length, image + at, &record, end)) {
                record.spillFlag = length > pageSize - 35 ? 1 : 0;
                result.records.push_back(record);
                result.positions.push_back(at);
                ++result.found;
                offset += skip;
            } else {
                ++offset;
            }
        }
    }
    return result;
}

void SelectionSortByTime(std::vector<MessageRecord>& records)
{
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::size_t best = i;
        for (std::size_t j = i + 1; j < records.size(); ++j) {
            if (records[j].time < records[best].time) best = j;
        }
        if (best != i) std::swap(records[i], records[best]);
    }
}

}  // namespace literal
