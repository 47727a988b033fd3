#include "base/BigEndian.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

#include "support/TestNames.h"

namespace kds {
namespace {

// Every width both ways: the value's bytes most significant first, written
// at an odd offset so that no alignment is assumed, with the bytes around
// them untouched.
struct TBigEndianCase {
    const char* Name;
    int Width; // in bytes
    uint64_t Value;
    std::vector<uint8_t> Bytes;
};

class BigEndianTest : public ::testing::TestWithParam<TBigEndianCase> {};

TEST_P(BigEndianTest, WritesMostSignificantByteFirstAndReadsItBack) {
    const TBigEndianCase& C = GetParam();
    std::vector<uint8_t> Buffer(C.Width + 2, 0xAA);
    uint8_t* At = Buffer.data() + 1;
    switch (C.Width) {
    case 2:
        EncodeBigEndian16(At, static_cast<uint16_t>(C.Value));
        EXPECT_EQ(DecodeBigEndian16(At), C.Value);
        break;
    case 4:
        EncodeBigEndian32(At, static_cast<uint32_t>(C.Value));
        EXPECT_EQ(DecodeBigEndian32(At), C.Value);
        break;
    default:
        EncodeBigEndian64(At, C.Value);
        EXPECT_EQ(DecodeBigEndian64(At), C.Value);
    }
    EXPECT_EQ(std::vector<uint8_t>(At, At + C.Width), C.Bytes);
    EXPECT_EQ(Buffer.front(), 0xAA);
    EXPECT_EQ(Buffer.back(), 0xAA);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, BigEndianTest,
    ::testing::Values(
        TBigEndianCase{"w16 zero", 2, 0, {0, 0}},
        TBigEndianCase{"w16 0x1234", 2, 0x1234, {0x12, 0x34}},
        TBigEndianCase{"w16 max", 2, 0xFFFF, {0xFF, 0xFF}},
        TBigEndianCase{"w32 0x01020304", 4, 0x01020304, {1, 2, 3, 4}},
        TBigEndianCase{"w32 top bit", 4, 0x80000000u, {0x80, 0, 0, 0}},
        TBigEndianCase{"w32 low byte", 4, 0xFF, {0, 0, 0, 0xFF}},
        TBigEndianCase{
            "w64 0x0102030405060708", 8, 0x0102030405060708ull, {1, 2, 3, 4, 5, 6, 7, 8}},
        TBigEndianCase{
            "w64 halves differ", 8, 0xFFFFFFFF00000001ull, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1}},
        TBigEndianCase{"w64 max", 8, ~0ull, std::vector<uint8_t>(8, 0xFF)}),
    test::TCaseName{});

// Usable where a constant is needed, e.g. in a table built at compile time.
constexpr uint32_t RoundTrip32(uint32_t V) {
    uint8_t B[4] = {};
    EncodeBigEndian32(B, V);
    return DecodeBigEndian32(B);
}
static_assert(RoundTrip32(0xDEADBEEF) == 0xDEADBEEF);

} // namespace
} // namespace kds
