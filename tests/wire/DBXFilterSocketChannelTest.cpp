// The five-byte probe at the start of a connection.

#include "server/wire/DBXFilterSocketChannel.h"

#include <gtest/gtest.h>

#include "support/ExpectError.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"
#include "support/WireStack.h"

namespace kds {
namespace {

using test::Bytes;
using test::Hex;
using test::Show;
using test::TBytes;

struct TProbeFixture {
    test::TMemoryChannel* Memory;
    TDBXFilterSocketChannel Channel;
    TProbeFixture() {
        auto M = std::make_unique<test::TMemoryChannel>();
        Memory = M.get();
        Channel.SetChannel(std::move(M));
    }
    // Everything the wrapper hands out, read Count bytes at a time.
    TBytes ReadAll(int32_t Count) {
        TBytes Out;
        uint8_t Buffer[64];
        for (;;) {
            const int32_t Got = Channel.Read(Buffer, 3, Count);
            if (Got <= 0)
                return Out;
            Out.insert(Out.end(), Buffer + 3, Buffer + 3 + Got);
        }
    }
};

struct TProbeCase {
    std::string Name;
    int32_t PeerChunk; // bytes per delegate read
    int32_t ReadCount; // bytes the caller asks for
};

class FilterProbeTest : public ::testing::TestWithParam<TProbeCase> {};

TEST_P(FilterProbeTest, AnswersTheProbeAndServesWhatFollows) {
    TProbeFixture F;
    F.Memory->Feed(test::Concat({Hex("05 05 05 05 05"), Bytes("{\"x\":1}")}));
    F.Memory->SetChunkSize(GetParam().PeerChunk);
    EXPECT_EQ(Show(F.ReadAll(GetParam().ReadCount)), "{\"x\":1}");
    EXPECT_EQ(Show(F.Memory->Written()), Show(Hex("06 00 00 00 00")));
    EXPECT_EQ(F.Channel.GetFlag(), -1);
}

TEST_P(FilterProbeTest, KeepsTheFirstFiveBytesOfAPlainRequest) {
    TProbeFixture F;
    F.Memory->Feed("{\"method\":\"x\"}");
    F.Memory->SetChunkSize(GetParam().PeerChunk);
    EXPECT_EQ(Show(F.ReadAll(GetParam().ReadCount)), "{\"method\":\"x\"}");
    EXPECT_TRUE(F.Memory->Writes().empty());
}

// Four probe bytes and then something else are a plain start, not a probe.
TEST_P(FilterProbeTest, TakesANearProbeAsRequestBytes) {
    TProbeFixture F;
    const TBytes Start = Hex("05 05 05 05 06 07");
    F.Memory->Feed(Start);
    F.Memory->SetChunkSize(GetParam().PeerChunk);
    EXPECT_EQ(F.ReadAll(GetParam().ReadCount), Start);
    EXPECT_TRUE(F.Memory->Writes().empty());
}

INSTANTIATE_TEST_SUITE_P(Chunks, FilterProbeTest,
                         ::testing::Values(TProbeCase{"AllAtOnce", 0, 64},
                                           TProbeCase{"OneBytePieces", 1, 64},
                                           TProbeCase{"TwoBytePieces", 2, 64},
                                           TProbeCase{"SmallCallerReads", 0, 2},
                                           TProbeCase{"OneByteEverything", 1, 1}),
                         test::TCaseName());

TEST(TDBXFilterSocketChannelTest, FailsTheProbeWhenThePeerGoesEarly) {
    TProbeFixture F;
    F.Memory->Feed(Hex("05 05"));
    uint8_t Buffer[8];
    EXPECT_EQ(F.Channel.Read(Buffer, 0, 8), -1);
}

TEST(TDBXFilterSocketChannelTest, WritesNothingForZeroBytesAndRefusesFilters) {
    TProbeFixture F;
    const uint8_t B = 1;
    EXPECT_EQ(F.Channel.Write(&B, 0, 0), 0);
    EXPECT_TRUE(F.Memory->Writes().empty());
    EXPECT_FALSE(F.Channel.HasFilters());
    EXPECT_FALSE(F.Channel.HasLeftover());
    test::ExpectDBXErrorCode(5, [&] { F.Channel.SetFilterList({"ZLibCompression"}); });
}

// Through the whole stack: the probe answer, then the connect reply.
TEST(TDBXFilterSocketChannelTest, ServesTheConnectAfterTheProbe) {
    for (int32_t Chunk : {0, 1}) {
        test::TWireStack S;
        S.Channel().SetChunkSize(Chunk);
        S.Channel().Feed(test::Concat(
            {Hex("05 05 05 05 05"), Bytes("{\"method\":\"connect\",\"params\":[{}]}")}));
        EXPECT_TRUE(S.Serve());
        EXPECT_EQ(Show(S.Channel().Written()),
                  Show(test::Concat({Hex("06 00 00 00 00"), Bytes("{\"result\":[1,\"KDS\",2]}")})))
            << "chunk " << Chunk;
    }
}

} // namespace
} // namespace kds
