// Every request of the protocol, read and answered over the whole stack with
// the fake connection handler, byte for byte, however the bytes arrive.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "data/TDBXParameter.h"
#include "data/TStream.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"
#include "support/WireStack.h"

namespace kds {
namespace {

using test::Bytes;
using test::Concat;
using test::Hex;
using test::Show;
using test::TBytes;

const TBytes Connect = Bytes("{\"method\":\"connect\",\"params\":[{}]}");
const TBytes ConnectReply = Bytes("{\"result\":[1,\"KDS\",2]}");
const TBytes PrepareEcho =
    Bytes("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
          "\"TServerMethods1.EchoString\"]}");
const TBytes PrepareEchoReply =
    Bytes("{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},{\"parameters\":[2,[26,0,1,0,0,"
          "\"Value\",0,0,0],[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}");
const TBytes ExecuteEcho = Concat({Bytes("{\"method\":\"execute\",\"params\":[{\"handle\":[0]},"
                                         "{\"data\":[3,"),
                                   Hex("22 61 62"), Bytes("]}]}")});
const TBytes ExecuteEchoReply =
    Concat({Bytes("{\"result\":[{\"data\":[4,"), Hex("C0 22 61 62"), Bytes("]}]}")});
const TBytes ExecuteReverse =
    Concat({Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
                  "\"TServerMethods1.ReverseString\"]},{\"data\":[4,"),
            Hex("23 61 62 63"), Bytes("]}]}")});
const TBytes ExecuteReverseReply =
    Concat({Bytes("{\"result\":[{\"data\":[5,"), Hex("C0 23 63 62 61"), Bytes("]}]}")});

struct TScript {
    std::string Name;
    TBytes Requests;
    TBytes Replies;
    std::vector<std::string> Calls; // what the connection handler received
};

// Serves Requests delivered with the given chunk sizes; answers the bytes
// written and the calls seen.
struct TRun {
    TBytes Written;
    std::vector<std::string> Calls;
    bool Alive = true;
};
TRun Serve(const TBytes& Requests, std::vector<int32_t> Chunks) {
    test::TWireStack S;
    S.Channel().SetChunkSizes(std::move(Chunks));
    S.Channel().Feed(Requests);
    TRun R;
    R.Alive = S.Serve();
    R.Written = S.Channel().Written();
    R.Calls = S.Fake().Calls;
    return R;
}

void PrintTo(const TScript& S, std::ostream* Out) {
    *Out << S.Name;
}

class RequestFormatTest : public ::testing::TestWithParam<TScript> {};

TEST_P(RequestFormatTest, AnswersExactlyWhenDeliveredAtOnce) {
    const TRun R = Serve(GetParam().Requests, {0});
    EXPECT_TRUE(R.Alive);
    EXPECT_EQ(Show(R.Written), Show(GetParam().Replies));
    EXPECT_EQ(R.Calls, GetParam().Calls);
}

TEST_P(RequestFormatTest, AnswersTheSameOneBytePerRead) {
    const TRun R = Serve(GetParam().Requests, {1});
    EXPECT_TRUE(R.Alive);
    EXPECT_EQ(Show(R.Written), Show(GetParam().Replies));
    EXPECT_EQ(R.Calls, GetParam().Calls);
}

TEST_P(RequestFormatTest, AnswersTheSameSplitAtEveryPosition) {
    const TBytes& In = GetParam().Requests;
    for (size_t At = 1; At < In.size(); ++At) {
        const TRun R = Serve(In, {static_cast<int32_t>(At), 0});
        ASSERT_EQ(Show(R.Written), Show(GetParam().Replies)) << "split after " << At;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestFormatTest,
    ::testing::Values(
        TScript{"Connect", Connect, ConnectReply, {"connect"}},
        TScript{"ConnectWithProperties",
                Bytes("{\"method\":\"connect\",\"params\":[{\"DSAuthenticationUser\":\"kitchen-1\","
                      "\"x\":\"y\"}]}"),
                ConnectReply,
                {"connect"}},
        TScript{"ConnectWithEmptyParameters",
                Bytes("{\"method\":\"connect\",\"params\":[]}"),
                ConnectReply,
                {"connect"}},
        TScript{"ConnectWithoutParameters",
                Bytes("{\"method\":\"connect\"}"),
                ConnectReply,
                {"connect"}},
        TScript{"TxBegin",
                Bytes("{\"method\":\"txbegin\",\"params\":[0]}"),
                Bytes("{\"result\":[0]}"),
                {"txbegin"}},
        TScript{"TxEnd",
                Bytes("{\"method\":\"txend\",\"params\":[true,0]}"),
                Bytes("{\"result\":[]}"),
                {"txend"}},
        TScript{"VendorProperty",
                Bytes("{\"method\":\"vendor_property\",\"params\":[\"X\"]}"),
                Bytes("{\"result\":[\"\"]}"),
                {"vendor_property"}},
        TScript{"CommandCloseHasNoReply",
                Bytes("{\"method\":\"command_close\",\"params\":[0]}"),
                TBytes(),
                {"command_close"}},
        TScript{"ReaderCloseHasNoReply",
                Bytes("{\"method\":\"reader_close\",\"params\":[1,0]}"),
                TBytes(),
                {"reader_close"}},
        TScript{"DisconnectHasNoReply",
                Bytes("{\"method\":\"disconnect\",\"params\":[]}"),
                TBytes(),
                {"disconnect"}},
        TScript{"UnknownMethodIsSkipped",
                Concat({Bytes("{\"method\":\"Connect\",\"params\":[{\"a\":\"}\"}]}"), Connect}),
                ConnectReply,
                {"connect"}},
        TScript{
            "NextResultOnAnOpenCommand",
            Concat({Connect, PrepareEcho, Bytes("{\"method\":\"next_result\",\"params\":[0]}")}),
            Concat({ConnectReply, PrepareEchoReply, Bytes("{\"result\":[false,0,false,-1]}")}),
            {"connect", "prepare", "next_result"}},
        TScript{"NextResultWithoutCommand",
                Bytes("{\"method\":\"next_result\",\"params\":[0]}"),
                Bytes("{\"error\":{\"name\":\"TDBXError\",\"code\":29,\"message\":\"Remote error: "
                      "Invalid command handle:  0\"}"),
                {"next_result"}},
        TScript{"EchoStringPrepareAndExecute",
                Concat({Connect, PrepareEcho, ExecuteEcho}),
                Concat({ConnectReply, PrepareEchoReply, ExecuteEchoReply}),
                {"connect", "prepare", "execute"}},
        TScript{"ReverseStringWithoutPrepare",
                Concat({Connect, ExecuteReverse}),
                Concat({ConnectReply, ExecuteReverseReply}),
                {"connect", "execute"}},
        TScript{"WhiteSpaceBetweenTokens",
                Bytes(" { \"method\" : \"txend\" , \"params\" : [ true ,0 ] }"),
                Bytes("{\"result\":[]}"),
                {"txend"}}),
    test::TCaseName());

// Two pipelined requests in one channel read: the second is served from the
// reader's buffer (the probe takes its five bytes with them in the same read).
TEST(RequestFormatsTest, ServesTwoPipelinedRequestsFromOneRead) {
    test::TWireStack S;
    S.Channel().Feed(Concat({Connect, Bytes("{\"method\":\"txbegin\",\"params\":[0]}")}));
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().ReadCount(), 2) << "the probe's five bytes, then the rest at once";
    EXPECT_EQ(Show(S.Channel().Written()), Show(Concat({ConnectReply, Bytes("{\"result\":[0]}")})));
    ASSERT_EQ(S.Channel().Writes().size(), 2u) << "each reply is flushed on its own";
}

// What the request readers put into the messages.
TEST(RequestFormatsTest, ReadsTheOptionalParametersOfNextMoreBlobAndReaderClose) {
    test::TWireStack S;
    TMemoryStream Blob(Bytes("0123456789"));
    S.Fake().MoreBlobStream = &Blob;
    S.Channel().Feed("{\"method\":\"next\",\"params\":[3,-9000000000]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastNext.FRowHandle, 3);
    EXPECT_EQ(S.Fake().LastNext.FPosition, -9000000000LL);
    EXPECT_EQ(S.Fake().LastNext.FCommandHandle, 3) << "the row handle stands in";
    S.Channel().Feed("{\"method\":\"next\",\"params\":[3,4,7]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastNext.FCommandHandle, 7);

    S.Channel().Feed("{\"method\":\"reader_close\",\"params\":[5]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastReaderClose.FCommandHandle, 5);

    S.Channel().ClearWritten();
    S.Channel().Feed("{\"method\":\"more_blob\",\"params\":[1,2,3,4]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastMoreBlob.FRowHandle, -1);
    EXPECT_FALSE(S.Fake().LastMoreBlob.FOutParameter);
    EXPECT_EQ(S.Fake().LastMoreBlob.FRow, 3);
    EXPECT_EQ(S.Fake().LastMoreBlob.FOrdinal, 4);
    EXPECT_TRUE(S.Fake().LastMoreBlob.FEos);
    EXPECT_EQ(Show(S.Channel().Written()), "{\"result\":[{\"data\":[-10      ,0123456789]}]}");
    S.Channel().Feed("{\"method\":\"more_blob\",\"params\":[1,2,3,4,true,-1]}");
    S.Serve();
    EXPECT_TRUE(S.Fake().LastMoreBlob.FOutParameter);
    EXPECT_EQ(S.Fake().LastMoreBlob.FRowHandle, -1);
    S.Channel().Feed("{\"method\":\"more_blob\",\"params\":[1,2,3,4,false,6]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastMoreBlob.FRowHandle, 6);
}

TEST(RequestFormatsTest, CopiesConnectPropertiesIntoTheMessage) {
    test::TWireStack S;
    S.Channel().Feed(
        "{\"method\":\"connect\",\"params\":[{\"DSAuthenticationUser\":\"k\\u00fcche\","
        "\"ServerConnection\":\"\"}]}");
    S.Serve();
    const TDBXProperties& P = S.Fake().LastConnectProperties;
    ASSERT_EQ(P.Count(), 2);
    EXPECT_EQ(P.GetValue(u"DSAuthenticationUser"), u"k\u00FCche");
    EXPECT_TRUE(P.HasName(u"ServerConnection"));
}

// A "more_blob" whose value is gone, and a "next" for a row handle no reader
// has: error code 4, and the connection goes on.
TEST(RequestFormatsTest, AnswersNextAndMoreBlobWithoutActiveReaderWithCode4) {
    test::TWireStack S;
    S.Channel().Feed(
        Concat({Bytes("{\"method\":\"next\",\"params\":[1,0,0]}"),
                Bytes("{\"method\":\"more_blob\",\"params\":[0,0,0,1,true,-1]}"), Connect}));
    EXPECT_TRUE(S.Serve());
    const std::string Closed = "{\"error\":{\"name\":\"TDBXError\",\"code\":4,\"message\":\"Remote "
                               "error: Command closed or executed again\"}";
    EXPECT_EQ(S.Channel().WrittenText(), Closed + Closed + "{\"result\":[1,\"KDS\",2]}");
}

// Parameter descriptions a peer sends with a prepare or an execute.
TEST(RequestFormatsTest, ReadsParameterDescriptionsWithOptionalTail) {
    test::TWireStack S;
    TDBXParameterList* Seen = nullptr;
    int32_t Count = -1;
    S.Fake().OnExecute = [&](TDBXExecuteMessage& M) {
        Seen = M.FExplicitParameters.get();
        Count = Seen ? Seen->Count() : -1;
        std::vector<std::u16string> Names;
        ASSERT_EQ(Count, 3);
        EXPECT_EQ(Seen->Parameter(0).DataType(), 26);
        EXPECT_EQ(Seen->Parameter(0).ParameterDirection(), 1);
        EXPECT_EQ(Seen->Parameter(0).Name(), u"A");
        EXPECT_EQ(Seen->Parameter(0).Flags(), 128) << "flags read back get 128";
        EXPECT_EQ(Seen->Parameter(1).Precision(), 9000000000LL);
        EXPECT_EQ(Seen->Parameter(1).Size(), 44);
        EXPECT_EQ(Seen->Parameter(1).Flags(), 128 + 1);
        EXPECT_EQ(Seen->Parameter(2).Flags(), 128 + 512);
        EXPECT_EQ(Seen->Parameter(2).Value().GetWideString(), u"lit");
    };
    S.Channel().Feed(
        "{\"method\":\"execute\",\"params\":[{\"handle\":[-1]},{\"parameters\":[3,"
        "[26,0,1,0,0,\"A\",0,0],[6,2,2,9000000000,3,\"B\",1,44,1],"
        "[26,0,1,0,0,\"C\",0,0,512,\"lit\",\"ignored\"]]},{\"unknown\":[1,{\"x\":2}]}]}");
    S.Serve();
    EXPECT_EQ(Count, 3);
    EXPECT_EQ(S.Fake().ErrorsReported, 0) << S.Channel().WrittenText();
}

// The prepare's own parameter list is read into a new explicit list when the
// message has none yet.
TEST(RequestFormatsTest, ReadsThePrepareParametersIntoAnExplicitList) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"prepare\",\"params\":[-1,true,\"KDS.ServerMethod\",\"X.Y\","
                     "{\"other\":[\"a\\\"}\"]},{\"parameters\":[1,[4,0,1,0,0,\"B\",0,0,0]]}]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastExplicitParameterCount, 1);
    EXPECT_EQ(S.Fake().LastCommand, u"X.Y");
    EXPECT_EQ(S.Fake().ErrorsReported, 0) << S.Channel().WrittenText();
}

} // namespace
} // namespace kds

namespace kds {
namespace {

// The count of a request's "data" becomes the row buffer's minimum size, so
// a long reply text after a small request row leaves its first 1024 bytes
// inline (header 0x50) and the rest for more_blob; without "data" the
// buffer keeps the transport's 30720 and the same text goes whole (0x10).
TEST(RequestFormatsTest, SendsALongReplyTextAsALongValueAfterASmallRequestRow) {
    const std::u16string Long(2000, u'x');
    for (bool WithData : {true, false}) {
        test::TWireStack S;
        TStream* Overflow = nullptr;
        S.Fake().OnExecute = [&](TDBXExecuteMessage& M) {
            S.Fake().EchoParameters().Parameter(1).Value().SetWideString(Long);
            M.FHasOutOrReturnParameters = true;
        };
        S.Channel().Feed(
            WithData ? std::string("{\"method\":\"execute\",\"params\":[{\"handle\":[-1]},"
                                   "{\"data\":[3,\"ab]}]}")
                     : std::string("{\"method\":\"execute\",\"params\":[{\"handle\":[-1]}]}"));
        S.Serve();
        const TBytes Field = WithData ? Concat({Hex("C0 50 04 00"), TBytes(1024, 'x')})
                                      : Concat({Hex("C0 10 07 D0"), TBytes(2000, 'x')});
        EXPECT_EQ(
            Show(S.Channel().Written()),
            Show(Concat({Bytes("{\"result\":[{\"data\":[" + std::to_string(Field.size()) + ","),
                         Field, Bytes("]}]}")})))
            << (WithData ? "after data" : "without data");
        Overflow = S.Fake().EchoParameters().Parameter(1).Value().OverflowStream();
        if (!WithData) {
            EXPECT_EQ(Overflow, nullptr);
            continue;
        }
        ASSERT_NE(Overflow, nullptr);
        S.Fake().MoreBlobStream = Overflow;
        S.Channel().ClearWritten();
        S.Channel().Feed("{\"method\":\"more_blob\",\"params\":[0,0,0,1,true,-1]}"
                         "{\"method\":\"more_blob\",\"params\":[0,0,0,1,true,-1]}");
        S.Serve();
        EXPECT_EQ(S.Channel().WrittenText(), "{\"result\":[{\"data\":[-976     ," +
                                                 std::string(976, 'x') + "]}]}" +
                                                 "{\"result\":[{\"data\":[0        ,]}]}");
    }
}

} // namespace
} // namespace kds
