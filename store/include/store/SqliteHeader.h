// The fields of an SQLite database header that its own pages can contradict, and their mending
// in an in-memory image, for every database Kestrow reads (messages, manifests, address books).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// What a header's pages say against it.
struct HeaderMends {
    // The page size the pages tell where the field holds none (0, or no power of two from 512
    // to 65536): the one whose multiple by the header's page count is the file's size.
    std::optional<std::uint32_t> pageSize;
    std::uint32_t pageSizeField = 0;
    // The reserved-space field (byte 20) while page 1 has a cell in the space it reserves.
    bool reservedContradicted = false;
    std::uint32_t reservedField = 0;
    bool Any() const { return pageSize.has_value() || reservedContradicted; }
    // "its page size field holds 0; its 7 pages are of 4096 bytes", "its reserved space field
    // holds 32; …", both joined by "; "; empty when nothing is mended.
    std::string Note(std::uint64_t fileSize) const;
};

// The mends the first bytes of a database file (up to 65536 of them; fewer where the file is
// shorter) and its size call for; none for bytes that are no database header.
HeaderMends FindHeaderMends(std::span<const std::uint8_t> start, std::uint64_t fileSize);

// Writes the mends into the image's header, and makes the header a rollback one (read and
// write versions 1): an image in memory has no log beside it. Bytes that are no database are
// left as they are.
void ApplyHeaderMends(std::span<std::uint8_t> image, const HeaderMends& mends);
