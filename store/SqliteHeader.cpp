// Mending a database header that its pages contradict.
#include "store/SqliteHeader.h"

#include <cstring>
#include <utility>

namespace {

std::uint32_t U16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return at + 2 <= bytes.size() ? (std::uint32_t{bytes[at]} << 8) | bytes[at + 1] : 0;
}

std::uint32_t U32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return at + 4 <= bytes.size() ? (U16(bytes, at) << 16) | U16(bytes, at + 2) : 0;
}

// An SQLite varint at `at`: its value and length (0 when it runs off the bytes).
std::pair<std::uint64_t, std::size_t> Varint(std::span<const std::uint8_t> bytes, std::size_t at)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 9; ++i) {
        if (at + i >= bytes.size()) return {0, 0};
        const std::uint8_t byte = bytes[at + i];
        if (i == 8) return {(value << 8) | byte, 9};
        value = (value << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) return {value, i + 1};
    }
    return {0, 0};
}

// The page size field's value as a size (1 stands for 65536); 0 when it is none.
std::uint32_t FieldPageSize(std::uint32_t field)
{
    if (field == 1) return 65536;
    return field >= 512 && field <= 32768 && (field & (field - 1)) == 0 ? field : 0;
}

// Whether a cell of page 1 (`pageSize` bytes, whole in `page`) lies in the reserved space.
bool CellInReservedSpace(std::span<const std::uint8_t> page, std::uint32_t pageSize, std::uint32_t reserved)
{
    const std::uint8_t type = page[100];
    if (type != 0x0D && type != 0x05) return false;
    const std::uint32_t usable = pageSize - reserved;
    const std::size_t pointers = 100 + (type == 0x05 ? 12 : 8);
    const std::uint32_t cells = U16(page, 103);
    for (std::uint32_t i = 0; i < cells && pointers + 2 * i + 2 <= pageSize; ++i) {
        const std::uint32_t cell = U16(page, pointers + 2 * i);
        if (cell >= pageSize) continue;
        if (type == 0x05) {
            if (cell + 4 > usable) return true;
            continue;
        }
        // A leaf cell: payload size, row id, then the payload (whole when it is this small).
        const auto [payload, payloadLength] = Varint(page, cell);
        const auto [rowId, rowIdLength] = Varint(page, cell + payloadLength);
        if (payloadLength == 0 || rowIdLength == 0 || payload > pageSize - 35) continue;
        const std::uint64_t end = std::uint64_t{cell} + payloadLength + rowIdLength + payload;
        if (end > usable && end <= pageSize) return true;
    }
    return false;
}

}  // namespace

std::string HeaderMends::Note(std::uint64_t fileSize) const
{
    std::string note;
    if (pageSize) {
        note = "its page size field holds " + std::to_string(pageSizeField) + "; its " + std::to_string(fileSize / *pageSize) +
               " pages are of " + std::to_string(*pageSize) + " bytes";
    }
    if (reservedContradicted) {
        note += (note.empty() ? "" : "; ") + std::string("its reserved space field holds ") + std::to_string(reservedField) +
                "; its first page has cells in that space, so none is reserved";
    }
    return note;
}

HeaderMends FindHeaderMends(std::span<const std::uint8_t> start, std::uint64_t fileSize)
{
    HeaderMends mends;
    if (start.size() < 100 || std::memcmp(start.data(), "SQLite format 3", 16) != 0) return mends;
    mends.pageSizeField = U16(start, 16);
    std::uint32_t pageSize = FieldPageSize(mends.pageSizeField);
    if (pageSize == 0) {
        const std::uint32_t pageCount = U32(start, 28);
        for (std::uint32_t size = 512; size <= 65536 && pageCount != 0; size *= 2) {
            if (std::uint64_t{pageCount} * size == fileSize) mends.pageSize = pageSize = size;
        }
    }
    mends.reservedField = start[20];
    mends.reservedContradicted = pageSize != 0 && mends.reservedField != 0 && start.size() >= pageSize &&
                                 CellInReservedSpace(start.first(pageSize), pageSize, mends.reservedField);
    return mends;
}

void ApplyHeaderMends(std::span<std::uint8_t> image, const HeaderMends& mends)
{
    if (image.size() < 100 || std::memcmp(image.data(), "SQLite format 3", 16) != 0) return;
    if (mends.pageSize) {
        // 65536 is written as 1.
        image[16] = static_cast<std::uint8_t>(*mends.pageSize == 65536 ? 0 : *mends.pageSize >> 8);
        image[17] = static_cast<std::uint8_t>(*mends.pageSize == 65536 ? 1 : *mends.pageSize & 0xFF);
    }
    if (mends.reservedContradicted) image[20] = 0;
    image[18] = image[19] = 1;
}
