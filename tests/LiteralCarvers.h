// The carvers, the page walk and the sorts written out step by step in the order the recovery
// rules describe them, with no shortcut: the reference that the fast code must agree with.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "store/MessageRecords.h"

namespace literal {

enum class Variant { Android, AndroidWithHeader, Iphone };

// Same contract as RecordCarver::Carve, on the store's schema.
bool Carve(Variant variant, std::int32_t& recordLength, const std::uint8_t* position,
           MessageRecord* record, const std::uint8_t* end);

struct WalkResult {
    std::int32_t found = 0;
    std::vector<std::int64_t> positions;  // offsets of accepted candidates
    std::vector<MessageRecord> records;    // what the filling pass stores
};

// Every offset of every whole page, one carver call per offset.
WalkResult Walk(Variant variant, const std::uint8_t* image, std::size_t size, std::int32_t pageSize,
                std::int32_t marginOther, std::int32_t marginLast, std::int32_t skip);

// Selection sorts as written: the first strictly better key in the rest replaces the best.
void SelectionSortByTime(std::vector<MessageRecord>& records);

}  // namespace literal
