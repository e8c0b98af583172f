// Varint decoding for the record carvers.
#include "recovery/Varint.h"

#include <cstdint>

std::uint64_t ReadVarint(const std::uint8_t* p, std::int32_t* length, std::int32_t* contentLength)
{
    const Varint v = DecodeVarint(p);
    if (length != nullptr) {
        *length = v.length > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(v.length);
    }
    if (contentLength != nullptr) *contentLength = SerialContentLength(v.value);
    return v.value;
}
