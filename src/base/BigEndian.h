#pragma once

// Fixed-width big-endian (network order) integers over raw bytes, for the
// byte formats of the wire and the rows. Each width has one encoder and one
// decoder; neither checks bounds (the caller has room for the width) and
// neither cares about alignment or the host's byte order.
//
//   width   bytes at P          value
//   16      P[0] P[1]           P[0] << 8 | P[1]
//   32      P[0] .. P[3]        P[0] << 24 | ... | P[3]
//   64      P[0] .. P[7]        P[0] << 56 | ... | P[7]
//
// Pure functions; any thread.

#include <cstdint>

namespace kds {

constexpr void EncodeBigEndian16(uint8_t* P, uint16_t Value) {
    P[0] = static_cast<uint8_t>(Value >> 8);
    P[1] = static_cast<uint8_t>(Value);
}

constexpr void EncodeBigEndian32(uint8_t* P, uint32_t Value) {
    P[0] = static_cast<uint8_t>(Value >> 24);
    P[1] = static_cast<uint8_t>(Value >> 16);
    P[2] = static_cast<uint8_t>(Value >> 8);
    P[3] = static_cast<uint8_t>(Value);
}

constexpr void EncodeBigEndian64(uint8_t* P, uint64_t Value) {
    EncodeBigEndian32(P, static_cast<uint32_t>(Value >> 32));
    EncodeBigEndian32(P + 4, static_cast<uint32_t>(Value));
}

constexpr uint16_t DecodeBigEndian16(const uint8_t* P) {
    return static_cast<uint16_t>((uint32_t(P[0]) << 8) | uint32_t(P[1]));
}

constexpr uint32_t DecodeBigEndian32(const uint8_t* P) {
    return (uint32_t(P[0]) << 24) | (uint32_t(P[1]) << 16) | (uint32_t(P[2]) << 8) | uint32_t(P[3]);
}

constexpr uint64_t DecodeBigEndian64(const uint8_t* P) {
    return (uint64_t(DecodeBigEndian32(P)) << 32) | DecodeBigEndian32(P + 4);
}

} // namespace kds
