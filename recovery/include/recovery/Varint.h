// SQLite's variable-length integers and the content length that a serial type announces.
//
// A varint is big-endian base 128: each byte gives its low 7 bits, a byte of 0x80 or more is
// followed by another, the first byte below 0x80 ends it. Unlike SQLite's own reader there is
// no nine-byte limit: a ninth byte is an ordinary 7-bit group. The value is accumulated modulo
// 2^64. Examples: 00 -> 0 (1 byte); 81 55 -> 213 (2 bytes); 80 80 01 -> 1 (3 bytes).
//
// Serial type -> content length (computed from the whole 64-bit value):
//   0 NULL -> 0 | 1..4 -> 1..4 | 5 -> 6 | 6, 7 -> 8 | 8, 9 (constants 0, 1) -> 0 |
//   10, 11 (reserved) -> -1 | even >= 12 (BLOB) -> (v-12)/2 | odd >= 13 (TEXT) -> (v-13)/2,
//   the last two kept to their low 32 bits as a signed number.
#pragma once

#include <cstddef>
#include <cstdint>

struct Varint {
    std::uint64_t value = 0;
    std::size_t length = 0;  // bytes occupied
};

// Reads the varint at `p` (same guarantee as below), with its length in full width.
inline Varint DecodeVarint(const std::uint8_t* p)
{
    if (p[0] < 0x80) return {p[0], 1};
    // Shifting the running value left by 7 for each further byte is the same, modulo 2^64, as
    // shifting each group by 7 x (bytes after it): groups pushed past bit 63 vanish.
    Varint v;
    for (;;) {
        const std::uint8_t byte = p[v.length++];
        v.value = (v.value << 7) | (byte & 0x7F);
        if (byte < 0x80) return v;
    }
}

// Reads the varint at `p`. The caller guarantees that a byte below 0x80 occurs at or before
// the end of its buffer (the scans append a zero byte after the file). Writes the varint's
// byte count to `*length` and the content length of the value taken as a serial type to
// `*contentLength`, each only when the pointer is not null. Returns the value.
std::uint64_t ReadVarint(const std::uint8_t* p, std::int32_t* length = nullptr,
                         std::int32_t* contentLength = nullptr);

// The content length of a serial type, as ReadVarint reports it.
inline std::int32_t SerialContentLength(std::uint64_t v)
{
    if (v >= 12) {
        // BLOB (even) or TEXT (odd), kept to the low 32 bits of the 64-bit quotient.
        return static_cast<std::int32_t>(static_cast<std::uint32_t>((v - 12 - (v & 1)) / 2));
    }
    static constexpr std::int8_t kSmall[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, -1, -1};
    return kSmall[v];
}
