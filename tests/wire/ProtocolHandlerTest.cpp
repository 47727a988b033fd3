// The request loop: error replies, what ends a connection, the rules around
// connect and disconnect, and hostile input.

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "LargestAllocation.h"
#include "base/NumberFormat.h"
#include "data/DBXDataTypes.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "server/wire/DSSession.h"
#include "support/ExpectError.h"
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

const std::string Connect = "{\"method\":\"connect\",\"params\":[{}]}";
const std::string ConnectReply = "{\"result\":[1,\"KDS\",2]}";
const std::string TxEnd = "{\"method\":\"txend\",\"params\":[true,0]}";
const std::string TxEndReply = "{\"result\":[]}";
const std::string EchoCall = "{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,"
                             "\"KDS.ServerMethod\",\"TServerMethods1.EchoString\"]},{\"data\":[3,";

std::string ErrorReply(const std::string& Name, int32_t Code, const std::string& Text) {
    return "{\"error\":{\"name\":\"" + Name + "\",\"code\":" + std::to_string(Code) +
           ",\"message\":\"Remote error: " + Text + "\"}";
}

// --- Error replies -----------------------------------------------------------

struct TThrowCase {
    std::string Name;
    std::function<void()> Raise;
    std::string Reply;
};

class ErrorReplyTest : public ::testing::TestWithParam<TThrowCase> {};

TEST_P(ErrorReplyTest, AnswersWithTheErrorAndServesTheNextRequest) {
    test::TWireStack S;
    S.Fake().Throw = [&](const std::string& Op) {
        if (Op == "execute")
            GetParam().Raise();
    };
    S.Channel().Feed(EchoCall + "\"ab]}]}" + TxEnd);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), GetParam().Reply + TxEndReply);
}

struct TNotStandard {};

INSTANTIATE_TEST_SUITE_P(
    Exceptions, ErrorReplyTest,
    ::testing::Values(
        TThrowCase{"PlainException", [] { throw std::runtime_error("x"); },
                   ErrorReply("Exception", 5, "x")},
        TThrowCase{"DBXErrorKeepsItsCode", [] { throw TDBXError(29, "Invalid argument here"); },
                   ErrorReply("TDBXError", 29, "Invalid argument here")},
        TThrowCase{"ProjectClassByItsName", [] { throw EConvertError("'q' is not a number"); },
                   ErrorReply("EConvertError", 5, "'q' is not a number")},
        TThrowCase{"NonStandardObject", [] { throw TNotStandard(); },
                   ErrorReply("Exception", 5, "Unknown exception")},
        TThrowCase{"IntegerObject", [] { throw 42; },
                   ErrorReply("Exception", 5, "Unknown exception")},
        TThrowCase{"InnerWithOtherMessage",
                   [] {
                       try {
                           throw std::runtime_error("inner");
                       } catch (...) {
                           std::throw_with_nested(std::runtime_error("outer"));
                       }
                   },
                   ErrorReply("Exception", 5, "outer\\nCaused by: inner")},
        TThrowCase{"InnerWithSameMessage",
                   [] {
                       try {
                           throw TDBXError(3, "same");
                       } catch (...) {
                           std::throw_with_nested(std::runtime_error("same"));
                       }
                   },
                   ErrorReply("Exception", 5, "same")},
        TThrowCase{"ControlCharactersEscaped", [] { throw std::runtime_error("a\"b\\c\x01"); },
                   ErrorReply("Exception", 5, "a\\\"b\\\\c\\u0001")}),
    test::TCaseName());

TEST(ProtocolHandlerTest, FollowsAtMostTenInnerExceptions) {
    int32_t Code = 0;
    std::string Name, Text;
    std::exception_ptr Chain;
    try {
        throw std::runtime_error("m0");
    } catch (...) {
        Chain = std::current_exception();
    }
    for (int I = 1; I <= 12; ++I) {
        try {
            try {
                std::rethrow_exception(Chain);
            } catch (...) {
                std::throw_with_nested(std::runtime_error("m" + std::to_string(I)));
            }
        } catch (...) {
            Chain = std::current_exception();
        }
    }
    DescribeException(Chain, Code, Name, Text);
    EXPECT_EQ(Text,
              "m12\nCaused by: m11\nCaused by: m10\nCaused by: m9\nCaused by: m8\nCaused by: "
              "m7\nCaused by: m6\nCaused by: m5\nCaused by: m4\nCaused by: m3\nCaused by: m2");
    DescribeException(nullptr, Code, Name, Text);
    EXPECT_EQ(Name, "error(null)");
}

// A malformed token inside an execute: code 2, class TDBXError; the rest of
// that read is dropped and the next request served.
TEST(ProtocolHandlerTest, AnswersAMalformedExecuteTokenAndGoesOn) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"execute\",\"params\":[{\"handle\":[x]}]}");
    EXPECT_TRUE(S.Serve());
    const std::string Reply = S.Channel().WrittenText();
    EXPECT_EQ(Reply.rfind("{\"error\":{\"name\":\"TDBXError\",\"code\":2,\"message\":\"Remote "
                          "error: Unexpected byte at position:  ",
                          0),
              0u)
        << Reply;
    EXPECT_EQ(Reply.back(), '}');
    S.Channel().ClearWritten();
    S.Channel().Feed(Connect);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), ConnectReply);
}

// --- What ends a connection --------------------------------------------------

struct TEndCase {
    std::string Name;
    std::string Input;
};

class ConnectionEndTest : public ::testing::TestWithParam<TEndCase> {};

TEST_P(ConnectionEndTest, EndsWithoutReplyOnABadRequestStart) {
    test::TWireStack S;
    S.Channel().Feed(GetParam().Input);
    EXPECT_FALSE(S.Serve());
    EXPECT_EQ(S.EndCode(), 30);
    EXPECT_TRUE(S.Channel().Writes().empty());
}

INSTANTIATE_TEST_SUITE_P(Starts, ConnectionEndTest,
                         ::testing::Values(TEndCase{"OtherFirstKey",
                                                    "{\"params\":[],\"method\":\"connect\"}"},
                                           TEndCase{"NotAnObject", "garbage that is not a request"},
                                           TEndCase{"CutShort", "{\"method\":\"conn"},
                                           TEndCase{"MethodNotString", "{\"method\":7}"}),
                         test::TCaseName());

// An encoding failure found before the reply starts leaves only the error
// reply: no partial {"result":.
TEST(ProtocolHandlerTest, SendsOnlyTheErrorWhenTheReplyRowFailsToEncode) {
    test::TWireStack S;
    S.Fake().OnExecute = [](TDBXExecuteMessage& M) {
        // The return value is never set: flushing it fails.
        M.FHasOutOrReturnParameters = true;
    };
    S.Channel().Feed(EchoCall + "\"ab]}]}" + TxEnd);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(),
              ErrorReply("TDBXError", 11, "Parameter not set for column number 1") + TxEndReply);
}

// A failure after part of a reply has left cannot be answered: the
// connection ends instead of sending an error behind half a reply.
TEST(ProtocolHandlerTest, EndsTheConnectionWhenAReplyFailsAfterPartOfItLeft) {
    test::TWireStack S;
    TDBXParameterList Wide(nullptr, nullptr);
    Wide.SetCount(2000);
    for (int32_t I = 0; I < 2000; ++I) {
        Wide.Parameter(I).SetName(u"Parameter" + std::u16string(20, u'x'));
        Wide.Parameter(I).SetDataType(TDBXDataTypes::WideStringType);
    }
    // The last description carries a literal whose value cannot be made.
    Wide.Parameter(1999).SetDataType(999);
    Wide.Parameter(1999).SetFlags(TDBXValueTypeFlags::Literal);
    S.Fake().PrepareParameters = &Wide;
    S.Channel().Feed("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\",\"A.B\"]}" +
                     TxEnd);
    EXPECT_FALSE(S.Serve());
    EXPECT_EQ(S.EndCode(), 30);
    const std::string Sent = S.Channel().WrittenText();
    EXPECT_EQ(Sent.size() % 32768, 0u) << "only full buffers left";
    EXPECT_EQ(Sent.find("{\"error\""), std::string::npos);
}

TEST(ProtocolHandlerTest, StopsWhenTheErrorReplyCannotBeWritten) {
    test::TWireStack S;
    S.Fake().Throw = [](const std::string&) { throw std::runtime_error("x"); };
    S.Channel().FailWriteAfter(0);
    S.Channel().Feed(TxEnd + TxEnd);
    EXPECT_FALSE(S.Protocol().ServeRequests(nullptr));
    EXPECT_FALSE(S.Protocol().ConnectionHandler().HandleRequests());
    EXPECT_EQ(S.Fake().Calls.size(), 1u) << "the loop ended after the first request";
}

// --- Connect, disconnect and the loop -----------------------------------------

TEST(ProtocolHandlerTest, DisconnectsBeforeAPrepareOrExecuteWithoutConnect) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\",\"A.B\"]}");
    S.Serve();
    S.Channel().Feed(Connect + EchoCall + "\"ab]}]}");
    S.Serve();
    EXPECT_EQ(S.Fake().Calls,
              (std::vector<std::string>{"disconnect", "prepare", "connect", "execute"}));
}

TEST(ProtocolHandlerTest, DisconnectsBeforeEveryCallAfterAFailedConnect) {
    test::TWireStack S;
    S.Fake().Throw = [](const std::string& Op) {
        if (Op == "connect")
            throw TDBXError(0, "Authentication manager rejected user credentials");
    };
    S.Channel().Feed(Connect + EchoCall + "\"ab]}]}");
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Fake().Calls, (std::vector<std::string>{"connect", "disconnect", "execute"}));
    EXPECT_EQ(
        S.Channel().WrittenText().rfind(
            ErrorReply("TDBXError", 0, "Authentication manager rejected user credentials"), 0),
        0u);
}

// After "disconnect" nothing is answered for it, and later requests are
// still served, also those that came in the same read.
TEST(ProtocolHandlerTest, ServesRequestsAfterADisconnect) {
    test::TWireStack S;
    S.Channel().Feed(Connect + "{\"method\":\"disconnect\",\"params\":[]}" + TxEnd + TxEnd);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), ConnectReply + TxEndReply + TxEndReply);
    EXPECT_FALSE(S.Protocol().ConnectionHandler().HandleRequests());
    S.Channel().Feed(Connect);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), ConnectReply + TxEndReply + TxEndReply + ConnectReply);
}

// Once requests are no longer handled, a bad request start is dropped with
// everything the reader held, and the connection is not ended by it.
TEST(ProtocolHandlerTest, SwallowsABadStartAfterADisconnect) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"disconnect\"}");
    S.Serve();
    S.Channel().Feed("{\"x\":1}" + TxEnd);
    EXPECT_TRUE(S.Serve());
    EXPECT_TRUE(S.Channel().Writes().empty());
    S.Channel().Feed(TxEnd);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), TxEndReply);
}

// An execute without "data" reads its in-parameters as null, not as the
// previous reply's row.
TEST(ProtocolHandlerTest, ReadsInParametersAsNullWithoutData) {
    test::TWireStack S;
    S.Channel().Feed(Connect + EchoCall + "\"ab]}]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastValue, u"ab");
    S.Channel().Feed("{\"method\":\"execute\",\"params\":[{\"handle\":[0]}]}");
    S.Serve();
    EXPECT_FALSE(S.Fake().LastHasParameters);
    EXPECT_TRUE(S.Fake().LastValueNull);
}

// "rows" is written only for an execute that set it: the value does not stay
// for later executes.
TEST(ProtocolHandlerTest, ResetsRowsAffectedForEachExecute) {
    test::TWireStack S;
    S.Fake().RowsAffected = 3;
    S.Channel().Feed(EchoCall + "\"ab]}]}");
    S.Serve();
    S.Fake().RowsAffected = -1;
    S.Channel().Feed(EchoCall + "\"ab]}]}");
    S.Serve();
    const std::string Row = std::string("{\"data\":[4,") + "\xC0\"ab]}";
    EXPECT_EQ(S.Channel().WrittenText(),
              "{\"result\":[{\"rows\":[3]}," + Row + "]}" + "{\"result\":[" + Row + "]}");
}

// Readers a failed request left in the message are freed by the next reset.
TEST(ProtocolHandlerTest, FreesTablesLeftByAFailedExecute) {
    struct TCountingReader : TDBXReader {
        int& Live;
        explicit TCountingReader(int& L) : Live(L) { ++Live; }
        ~TCountingReader() override { --Live; }
        // A reader without columns or rows: only its life matters here.
        int32_t ColumnCount() const override { return 0; }
        const TDBXValueType& ValueType(int32_t) const override { throw TDBXError(8, "no column"); }
        TDBXValue& Value(int32_t) override { throw TDBXError(8, "no column"); }
        bool Next() override { return false; }
        void Close() override {}
    };
    int Live = 0;
    TDBXExecuteMessage M;
    M.FTables.push_back(std::make_unique<TCountingReader>(Live));
    M.FTables.push_back(std::make_unique<TCountingReader>(Live));
    M.FRowsAffected = 9;
    ASSERT_EQ(Live, 2);
    M.Reset();
    EXPECT_EQ(Live, 0);
    EXPECT_EQ(M.FRowsAffected, -1);
}

// A connect that fails while its properties are read leaves the message
// pointing at a live properties object owned by the input handler.
TEST(ProtocolHandlerTest, KeepsConnectPropertiesAliveWhenAConnectFailsPartWay) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"connect\",\"params\":[{\"a\":\"1\",\"b\":2}]}");
    S.Serve();
    const TDBXConnectMessage& M = S.Protocol().ConnectionHandler().ConnectMessage();
    ASSERT_NE(M.FConnectProperties, nullptr);
    EXPECT_EQ(M.FConnectProperties->GetValue(u"a"), u"1");
    EXPECT_TRUE(S.Fake().Calls.empty());
}

TEST(ProtocolHandlerTest, TakesAConnectThatFailsWhileReadAsFailed) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"connect\",\"params\":[{\"a\":\"1\"}]}");
    S.Serve();
    S.Channel().Feed("{\"method\":\"connect\",\"params\":[{\"a\":\"1\",\"b\":2}]}");
    S.Serve();
    S.Channel().Feed("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                     "\"TServerMethods1.EchoString\"]}");
    S.Serve();
    // The second connect never reached the handler, so the prepare is
    // preceded by a disconnect, as after any failed connect.
    EXPECT_EQ(S.Fake().Calls, (std::vector<std::string>{"connect", "disconnect", "prepare"}));
}

TEST(ProtocolHandlerTest, AConnectWithoutParametersCarriesNoEarlierProperties) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"connect\",\"params\":[{\"DSAuthenticationUser\":"
                     "\"anna\"}]}");
    S.Serve();
    ASSERT_EQ(S.Fake().LastConnectProperties.GetValue(u"DSAuthenticationUser"), u"anna");
    S.Channel().Feed("{\"method\":\"connect\"}");
    S.Serve();
    EXPECT_EQ(S.Fake().Calls, (std::vector<std::string>{"connect", "connect"}));
    EXPECT_EQ(S.Fake().LastConnectProperties.Count(), 0);
}

// The thread's session is installed for each batch and cleared afterwards,
// also when the batch ends the connection.
TEST(ProtocolHandlerTest, InstallsTheSessionForEachBatchOnly) {
    test::TWireStack S;
    TDSSession* During = nullptr;
    S.Fake().Throw = [&](const std::string&) { During = TDSSessionManager::GetThreadSession(); };
    S.Channel().Feed(TxEnd);
    S.Serve();
    ASSERT_NE(S.Protocol().Session(), nullptr);
    EXPECT_EQ(During, S.Protocol().Session());
    EXPECT_EQ(TDSSessionManager::GetThreadSession(), nullptr);
    S.Channel().Feed("{bad");
    EXPECT_FALSE(S.Serve());
    EXPECT_EQ(TDSSessionManager::GetThreadSession(), nullptr);
}

// --- Hostile input -------------------------------------------------------------

struct THostileCase {
    std::string Name;
    TBytes Input;
    int32_t Code;
};

class HostileInputTest : public ::testing::TestWithParam<THostileCase> {};

TEST_P(HostileInputTest, AnswersWithAnErrorWithinItsBoundAndServesTheNextRequest) {
    test::TWireStack S;
    S.Channel().Feed(GetParam().Input);
    test::TAllocationWatch Watch;
    EXPECT_TRUE(S.Serve());
    EXPECT_LE(Watch.Largest(), size_t(4) << 20) << "no allocation near what the peer claims";
    const std::string Reply = S.Channel().WrittenText();
    const std::string Head =
        "{\"error\":{\"name\":\"TDBXError\",\"code\":" + std::to_string(GetParam().Code) + ",";
    EXPECT_EQ(Reply.rfind(Head, 0), 0u) << Reply.substr(0, 200);
    EXPECT_EQ(Reply.find("{\"error\"", 1), std::string::npos) << "one error reply";
    EXPECT_EQ(Reply.substr(Reply.size() - 2), "\"}");
    S.Channel().ClearWritten();
    S.Channel().Feed(Connect);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), ConnectReply);
}

std::string Prepare(const std::string& Tail) {
    return "{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\",\"A.B\"" + Tail;
}

std::string ManyProperties(int Count) {
    std::string Text = "{\"method\":\"connect\",\"params\":[{";
    for (int I = 0; I < Count; ++I)
        Text += (I ? ",\"k" : "\"k") + std::to_string(I) + "\":\"v\"";
    return Text + "}]}";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, HostileInputTest,
    ::testing::Values(
        THostileCase{"HugeDataCount",
                     Bytes("{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":["
                           "2000000000,"),
                     2},
        THostileCase{"NegativeDataCount",
                     Bytes("{\"method\":\"execute\",\"params\":[{\"data\":[-1,x]}]}"), 2},
        THostileCase{"DataCountJustAboveTheBound",
                     Bytes("{\"method\":\"execute\",\"params\":[{\"data\":[16777217,"), 2},
        THostileCase{"HugeExecuteParameterCount",
                     Bytes("{\"method\":\"execute\",\"params\":[{\"parameters\":[2000000000]}]}"),
                     2},
        THostileCase{"HugePrepareParameterCount",
                     Bytes(Prepare(",{\"parameters\":[2000000000,[1]]}]}")), 2},
        THostileCase{"ThousandDigits",
                     Bytes("{\"method\":\"txbegin\",\"params\":[" + std::string(1000, '7') + "]}"),
                     2},
        THostileCase{"OverflowingHandle",
                     Bytes("{\"method\":\"command_close\",\"params\":[2147483648]}"), 2},
        THostileCase{
            "ThousandNestedObjectsSkipped",
            Bytes(Prepare(",{\"x\":" + std::string(1000, '{') + std::string(1000, '}') + "}]}")),
            2},
        THostileCase{"TooManyConnectProperties", Bytes(ManyProperties(257)), 2},
        THostileCase{"FractionAsHandle",
                     Bytes("{\"method\":\"execute\",\"params\":[{\"handle\":[0.5]}]}"), 2}),
    test::TCaseName());

TEST(ProtocolHandlerTest, AcceptsTheLargestAllowedNumbersOfPropertiesAndParameters) {
    test::TWireStack S;
    S.Channel().Feed(ManyProperties(256));
    S.Serve();
    EXPECT_EQ(S.Fake().LastConnectProperties.Count(), 256);
    S.Channel().Feed("{\"method\":\"execute\",\"params\":[{\"parameters\":[4096]}]}");
    S.Serve();
    EXPECT_EQ(S.Fake().LastExplicitParameterCount, 4096);
}

// A 100 MB string: refused at its bound with an error reply, and the
// connection ends at the bytes of it that keep coming.
TEST(ProtocolHandlerTest, RefusesAHundredMegabyteStringWithinItsBound) {
    test::TWireStack S;
    S.Channel().SetChunkSize(65536);
    S.Channel().Feed("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\",\"" +
                     std::string(100u << 20, 'a') + "\"]}");
    test::TAllocationWatch Watch;
    EXPECT_FALSE(S.Serve());
    EXPECT_LE(Watch.Largest(), size_t(4) << 20);
    EXPECT_EQ(S.Channel().WrittenText().rfind("{\"error\":{\"name\":\"TDBXError\",\"code\":2,", 0),
              0u);
    EXPECT_GT(S.Channel().Pending(), 90u << 20) << "the rest was never read";
}

// A skipped string may hold an escaped quote: the request is read correctly.
TEST(ProtocolHandlerTest, SkipsAnEscapedQuoteInsideASkippedString) {
    test::TWireStack S;
    S.Channel().Feed(Prepare(",{\"x\":\"a\\\"}]}{\\\\\"}]}") + TxEnd);
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Fake().Calls, (std::vector<std::string>{"disconnect", "prepare", "txend"}));
    EXPECT_EQ(S.Fake().ErrorsReported, 0);
}

} // namespace
} // namespace kds

namespace kds {
namespace {

// The blocking loop serves until a request answers false ("disconnect"), and
// a lost connection inside it ends the connection.
TEST(ProtocolHandlerTest, RunsTheBlockingLoopUntilDisconnect) {
    test::TWireStack S;
    S.Channel().Feed(Connect + "{\"method\":\"disconnect\",\"params\":[]}" + TxEnd);
    EXPECT_FALSE(S.Protocol().HandleProtocol());
    EXPECT_EQ(S.Channel().WrittenText(), ConnectReply);
    EXPECT_EQ(S.Fake().Calls, (std::vector<std::string>{"connect", "disconnect"}));

    test::TWireStack Lost;
    Lost.Channel().Feed(TxEnd);
    test::ExpectDBXErrorCode(30, [&] { Lost.Protocol().HandleProtocol(); });
    EXPECT_EQ(Lost.Channel().WrittenText(), TxEndReply);
}

} // namespace
} // namespace kds
