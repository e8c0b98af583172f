// Varint decoding for the record carvers.
#include "Varint.h"

#include <cstdint>

std::int32_t SerialContentLength(std::uint64_t v)
{
    if (v == 0 || v == 8 || v == 9) return 0;
    if (v <= 4) return static_cast<std::int32_t>(v);
    if (v == 5) return 6;
    if (v == 6 || v == 7) return 8;
    if (v >= 13 && (v & 1) != 0) return static_cast<std::int32_t>(static_cast<std::uint32_t>((v - 13) / 2));
    if (v >= 12 && (v & 1) == 0) return static_cast<std::int32_t>(static_cast<std::uint32_t>((v - 12) / 2));
    return -1;  // 10 and 11 are reserved
}

std::uint64_t ReadVarint(const std::uint8_t* p, std::int32_t* length, std::int32_t* contentLength)
{
    const Varint v = DecodeVarint(p);
    if (length != nullptr) {
        *length = v.length > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(v.length);
    }
    if (contentLength != nullptr) *contentLength = SerialContentLength(v.value);
    return v.value;
}
