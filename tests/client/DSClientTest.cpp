// The client library: scripted server replies over an in-memory channel
// (every request the client writes compared byte for byte), and a few calls
// against the real server over TCP on port 0.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "client/DSClientCommand.h"
#include "client/DSClientConnection.h"
#include "client/DSClientErrors.h"
#include "client/DSClientTableReader.h"
#include "data/DBXJSON.h"
#include "data/TDBXRowBuffer.h"
#include "server/DSTCPServerTransport.h"
#include "server/KDSServerContainerUnit.h"
#include "server/wire/DSSocket.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using test::Bytes;
using test::Concat;
using test::Hex;
using test::TBytes;

const std::string PrepareEchoReply =
    "{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},{\"parameters\":[2,"
    "[26,0,1,0,0,\"Value\",0,0,0],[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}";
const std::string PrepareEchoRequest =
    "{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
    "\"TServerMethods1.EchoString\"]}";

// A row of fields written with the data layer's own encoder.
class TRow {
public:
    TRow& Text(std::u16string_view Value) {
        std::vector<uint8_t> Overflow;
        FBuffer.WriteWideString(Value, Overflow);
        return *this;
    }
    TRow& Int(int64_t Value) {
        FBuffer.WriteInt64(Value);
        return *this;
    }
    TRow& Null() {
        FBuffer.WriteNull();
        return *this;
    }
    TBytes Bytes() const { return TBytes(FBuffer.Data(), FBuffer.Data() + FBuffer.Size()); }

private:
    TDBXRowBuffer FBuffer;
};

TBytes DataObject(const TBytes& Row, int32_t Count) {
    return Concat({Bytes("{\"data\":[" + std::to_string(Count) + ","), Row, Bytes("]}")});
}
TBytes DataObject(const TBytes& Row) {
    return DataObject(Row, static_cast<int32_t>(Row.size()));
}

// A client connection over a memory channel holding the server's replies.
class DSClientScriptTest : public ::testing::Test {
protected:
    DSClientScriptTest() {
        auto Memory = std::make_unique<test::TMemoryChannel>();
        Channel = Memory.get();
        Connection.Open(std::move(Memory));
    }
    std::string Written() const { return Channel->WrittenText(); }
    std::unique_ptr<TDSClientCommand> PrepareEcho() {
        Channel->Feed(PrepareEchoReply);
        auto Command = Connection.Prepare(u"TServerMethods1.EchoString");
        Channel->ClearWritten();
        return Command;
    }

    test::TMemoryChannel* Channel = nullptr;
    TDSClientConnection Connection;
};

TEST_F(DSClientScriptTest, ProbeConnectAndEchoWriteTheTerminalsBytes) {
    Channel->Feed(Hex("06 00 00 00 00"));
    Channel->Feed("{\"result\":[7,\"KDS\",2]}");
    Channel->Feed(PrepareEchoReply);
    Channel->Feed(Concat({Bytes("{\"result\":[{\"data\":[4,"), Hex("C0 22 61 62"), Bytes("]}]}")}));
    Connection.Probe();
    TDBXProperties Properties;
    Properties.SetValue(u"DSAuthenticationUser", u"kitchen-1");
    const TDSConnectInfo Info = Connection.Connect(Properties);
    EXPECT_EQ(Info.ConnectionHandle, 7);
    EXPECT_EQ(Info.ProductName, u"KDS");
    EXPECT_EQ(Info.ProtocolVersion, 2);
    auto Echo = Connection.Prepare(u"TServerMethods1.EchoString");
    ASSERT_EQ(Echo->Parameters().Count(), 2);
    EXPECT_EQ(Echo->Parameters()[0].Name(), u"Value");
    EXPECT_EQ(Echo->Parameters()[1].ParameterDirection(), 4);
    Echo->Parameters()[0].Value().SetWideString(u"ab");
    Echo->Execute();
    EXPECT_EQ(Echo->Parameters()[1].Value().GetWideString(), u"ab");
    EXPECT_TRUE(Echo->Parameters()[0].Value().IsNull());
    Echo->Close();
    Connection.Disconnect();
    EXPECT_EQ(Channel->Written(),
              Concat({Hex("05 05 05 05 05"),
                      Bytes("{\"method\":\"connect\",\"params\":[{\"DSAuthenticationUser\":"
                            "\"kitchen-1\"}]}" +
                            PrepareEchoRequest +
                            "{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[3,"),
                      Hex("22 61 62"),
                      Bytes("]}]}{\"method\":\"command_close\",\"params\":[0]}"
                            "{\"method\":\"disconnect\",\"params\":[]}")}));
}

TEST_F(DSClientScriptTest, ErrorReplyRaisesRemoteErrorAndTheConnectionGoesOn) {
    Channel->Feed("{\"error\":{\"name\":\"TDBXError\",\"code\":105,\"message\":\"Remote error: "
                  "X.Y method not found in the server method list\"}");
    Channel->Feed(PrepareEchoReply);
    try {
        Connection.Prepare(u"X.Y");
        FAIL() << "no error";
    } catch (const TDSRemoteError& E) {
        EXPECT_EQ(E.ErrorCode(), 105);
        EXPECT_EQ(E.Message(), "Remote error: X.Y method not found in the server method list");
        EXPECT_EQ(E.ClassName(), "TDBXError");
    }
    EXPECT_EQ(Connection.Prepare(u"TServerMethods1.EchoString")->Handle(), 0);
}

TEST_F(DSClientScriptTest, ExecuteWithoutInputSendsNoDataAndReadsRowsAndChangedTypes) {
    Channel->Feed("{\"result\":[{\"handle\":[3]},{\"fields\":[0,false]},{\"parameters\":[1,"
                  "[37,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}");
    // A reply with rows affected and a parameter list that changed.
    Channel->Feed(Concat(
        {Bytes("{\"result\":[{\"rows\":[12]},{\"parameters\":[1,[26,0,4,0,0,\"ReturnParameter\","
               "0,0,0]]},"),
         DataObject(TRow().Text(u"changed").Bytes()), Bytes("]}")}));
    auto Command = Connection.Prepare(u"DSAdmin.ListClasses");
    Channel->ClearWritten();
    Command->Execute();
    EXPECT_EQ(Written(), "{\"method\":\"execute\",\"params\":[{\"handle\":[3]}]}");
    EXPECT_EQ(Command->RowsAffected(), 12);
    ASSERT_EQ(Command->Parameters().Count(), 1);
    EXPECT_EQ(Command->Parameters()[0].DataType(), 26);
    EXPECT_EQ(Command->Parameters()[0].Value().GetWideString(), u"changed");
}

TEST_F(DSClientScriptTest, UnsetInputsGoAsNullAndOutParametersBeforeTheLastInputToo) {
    // In, out, in, return: the row holds three fields, the out one null.
    Channel->Feed("{\"result\":[{\"handle\":[0]},{\"parameters\":[4,"
                  "[26,0,1,0,0,\"A\",0,0,0],[26,0,2,0,0,\"B\",0,0,0],"
                  "[6,0,1,0,0,\"C\",0,0,0],[26,0,4,0,0,\"R\",0,0,0]]}]}");
    Channel->Feed(
        Concat({Bytes("{\"result\":["),
                DataObject(TRow().Null().Text(u"out").Null().Text(u"r").Bytes()), Bytes("]}")}));
    auto Command = Connection.Prepare(u"T.M");
    Channel->ClearWritten();
    Command->Parameters()[2].Value().SetInt32(5);
    Command->Execute();
    EXPECT_EQ(Channel->Written(),
              Concat({Bytes("{\"method\":\"execute\",\"params\":[{\"handle\":[0]},"),
                      DataObject(Hex("C0 C0 61 05")), Bytes("]}")}));
    EXPECT_EQ(Command->Parameters()[1].Value().GetWideString(), u"out");
    EXPECT_EQ(Command->Parameters()[3].Value().GetWideString(), u"r");
}

TEST_F(DSClientScriptTest, TooLongInputIsRefusedBeforeAnythingIsSent) {
    auto Echo = PrepareEcho();
    Echo->Parameters()[0].Value().SetWideString(std::u16string(70000, u'x'));
    EXPECT_THROW(Echo->Execute(), TDSClientError);
    EXPECT_TRUE(Channel->Written().empty());
    // A value that fits (the field limit, 65535 bytes) goes inline.
    Channel->Feed(Concat(
        {Bytes("{\"result\":["), DataObject(TRow().Null().Text(u"ok").Bytes()), Bytes("]}")}));
    Echo->Parameters()[0].Value().SetWideString(std::u16string(65535, u'x'));
    Echo->Execute();
    EXPECT_EQ(Echo->Parameters()[1].Value().GetWideString(), u"ok");
}

TEST_F(DSClientScriptTest, LongResultIsFetchedWithMoreBlobUntilTheLastChunk) {
    auto Echo = PrepareEcho();
    // The result field holds "abcd" inline (header 50 00 04) and continues.
    Channel->Feed(
        Concat({Bytes("{\"result\":["), DataObject(Hex("C0 50 00 04 61 62 63 64")), Bytes("]}")}));
    Channel->Feed("{\"result\":[{\"data\":[3        ,efg]}]}");
    Channel->Feed("{\"result\":[{\"data\":[-2       ,hi]}]}");
    Echo->Parameters()[0].Value().SetWideString(u"x");
    Echo->Execute();
    Channel->ClearWritten();
    EXPECT_EQ(Echo->Parameters()[1].Value().GetWideString(), u"abcdefghi");
    EXPECT_EQ(Written(), "{\"method\":\"more_blob\",\"params\":[0,0,0,1,true,-1]}"
                         "{\"method\":\"more_blob\",\"params\":[0,0,0,1,true,-1]}");
}

// A table of two columns (Name text, N integer) whose rows arrive in three
// batches, the reply's own and two answers to "next".
TEST_F(DSClientScriptTest, TableRowsOfEveryBatchAreReadAndNextNamesTheRowsRead) {
    Channel->Feed("{\"result\":[{\"handle\":[2]},{\"parameters\":[1,"
                  "[23,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}");
    const TBytes First = TRow().Text(u"a").Int(1).Text(u"b").Int(2).Bytes();
    const TBytes Second = TRow().Text(u"c").Int(3).Bytes();
    const TBytes Last = TRow().Text(u"d").Int(4).Text(u"e").Int(5).Bytes();
    Channel->Feed(Concat({Bytes("{\"result\":["), DataObject(Hex("61 01")),
                          Bytes(",{\"table\":[{\"fields\":[2,false,1,1,true]},{\"columns\":[2,"
                                "[\"Name\",26,0,0,0,256,0,0],[\"N\",6,0,0,0,4,1,0]]}]}]}"),
                          DataObject(First)}));
    Channel->Feed(DataObject(Second));
    Channel->Feed(DataObject(Last, -static_cast<int32_t>(Last.size())));
    auto Command = Connection.Prepare(u"T.Table");
    Command->Execute();
    Channel->ClearWritten();
    TDSClientTableReader* Table = Command->Table(0);
    ASSERT_NE(Table, nullptr);
    EXPECT_EQ(Table->RowHandle(), 1);
    EXPECT_EQ(Table->CommandHandle(), 2);
    ASSERT_EQ(Table->ColumnCount(), 2);
    EXPECT_EQ(Table->ValueType(1).Name(), u"N");
    EXPECT_EQ(Table->ValueType(1).Flags(), 1);
    EXPECT_THROW(Table->Value(0), TDBXError); // before the first row
    std::u16string Names;
    int64_t Sum = 0;
    while (Table->Next()) {
        Names += Table->Value(0).GetWideString();
        Sum += Table->Value(1).GetInt32();
    }
    EXPECT_EQ(Names, u"abcde");
    EXPECT_EQ(Sum, 15);
    EXPECT_EQ(Table->Batches(), 3);
    EXPECT_FALSE(Table->Next());
    Table->Close();
    EXPECT_EQ(Written(), "{\"method\":\"next\",\"params\":[1,2,2]}"
                         "{\"method\":\"next\",\"params\":[1,3,2]}"
                         "{\"method\":\"reader_close\",\"params\":[1,2]}");
}

TEST_F(DSClientScriptTest, EmptyTableAndOldStyleFlags) {
    Channel->Feed("{\"result\":[{\"handle\":[0]},{\"parameters\":[1,"
                  "[23,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}");
    // No "true" in fields: flags are old-style (bit 0 read-only, bit 3
    // nullable).
    Channel->Feed(Concat({Bytes("{\"result\":["), DataObject(Hex("61 01")),
                          Bytes(",{\"table\":[{\"fields\":[0,false,1]},{\"columns\":[1,"
                                "[\"X\",26,0,0,0,256,9]]}]}]}{\"data\":[0]}")}));
    auto Command = Connection.Prepare(u"T.Empty");
    Command->Execute();
    TDSClientTableReader* Table = Command->Table(0);
    ASSERT_NE(Table, nullptr);
    EXPECT_EQ(Table->ValueType(0).Flags(), 128 | 2 | 1);
    EXPECT_FALSE(Table->Next());
    EXPECT_EQ(Table->Batches(), 1);
}

TEST_F(DSClientScriptTest, CallbackDuringAReplyIsAnsweredAndTheWaitGoesOn) {
    auto Echo = PrepareEcho();
    Channel->Feed("{\"callback\":[31,[4,1,{\"broadcast\":[\"reset\",1]}]]}");
    Channel->Feed("{\"callback\":[3,[4]]}");
    Channel->Feed(Concat(
        {Bytes("{\"result\":["), DataObject(TRow().Null().Text(u"done").Bytes()), Bytes("]}")}));
    std::vector<std::string> Seen;
    Connection.SetCallbackHandler([&](const TJSONValue& Argument) -> std::unique_ptr<TJSONValue> {
        Seen.push_back(Utf16ToUtf8(Argument.ToString()));
        if (Seen.size() == 2)
            throw std::runtime_error("no thanks");
        return std::make_unique<TJSONTrue>();
    });
    Echo->Parameters()[0].Value().SetWideString(u"x");
    Echo->Execute();
    EXPECT_EQ(Echo->Parameters()[1].Value().GetWideString(), u"done");
    ASSERT_EQ(Seen.size(), 2u);
    EXPECT_EQ(Seen[0], "[4,1,{\"broadcast\":[\"reset\",1]}]");
    EXPECT_EQ(Connection.CallbacksAnswered(), 2);
    const std::string W = Written();
    EXPECT_NE(W.find("]}]}{\"data\":[4,true]}{\"error\":{\"name\":\"Exception\",\"code\":5,"
                     "\"message\":\"no thanks\"}"),
              std::string::npos)
        << W;
}

struct TBadReplyCase {
    const char* Name;
    std::string Reply;
};

class DSClientBadReplyTest : public DSClientScriptTest,
                             public ::testing::WithParamInterface<TBadReplyCase> {};

// Bytes that do not read as the reply: a protocol error, no allocation from
// a hostile count, and the connection is broken for every later call.
TEST_P(DSClientBadReplyTest, BadReplyBreaksTheConnection) {
    auto Echo = PrepareEcho();
    Channel->Feed(GetParam().Reply);
    Echo->Parameters()[0].Value().SetWideString(u"x");
    EXPECT_THROW(Echo->Execute(), TDSProtocolError);
    EXPECT_THROW(Echo->Execute(), TDSConnectionError);
    EXPECT_THROW(Connection.Connect(), TDSConnectionError);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DSClientBadReplyTest,
    ::testing::Values(TBadReplyCase{"NotAnObject", "[1,2]"},
                      TBadReplyCase{"HugeBlock", "{\"result\":[{\"data\":[2000000000,"},
                      TBadReplyCase{"NegativeRow", "{\"result\":[{\"data\":[-20000000,"},
                      TBadReplyCase{"EndsEarly", "{\"result\":[{\"data\":[4,\xC0"},
                      TBadReplyCase{"WrongKey", "{\"next\":[1]}"}),
    test::TCaseName());

// --- Against the real server over TCP -----------------------------------

class DSClientServerTest : public ::testing::Test {
protected:
    DSClientServerTest()
        : Container([] {
              auto T = std::make_unique<TDSTCPServerTransport>(u"DSTCPServerTransport1");
              T->SetPort(0);
              return T;
          }) {}
    uint16_t Port() {
        return static_cast<TDSTCPServerTransport*>(Container.Transport())->BoundPort();
    }

    TServerContainer1 Container;
};

TEST_F(DSClientServerTest, ProbeConnectEchoReverseAndAnErrorOnOneConnection) {
    TDSClientConnection C;
    C.Open("127.0.0.1", Port());
    C.Probe();
    EXPECT_EQ(C.Connect().ConnectionHandle, 1);
    auto Echo = C.Prepare(u"TServerMethods1.EchoString");
    for (const std::u16string Text : {u"ab", u"", u"\u20AC\u00E9\U0001F600"}) {
        Echo->Parameters()[0].Value().SetWideString(Text);
        Echo->Execute();
        EXPECT_EQ(Echo->Parameters()[1].Value().GetWideString(), Text);
    }
    auto Reverse = C.Prepare(u"tservermethods1.reversestring");
    Reverse->Parameters()[0].Value().SetWideString(u"abc");
    Reverse->Execute();
    EXPECT_EQ(Reverse->Parameters()[1].Value().GetWideString(), u"cba");
    try {
        C.Prepare(u"Nope.Nothing");
        FAIL() << "no error";
    } catch (const TDSRemoteError& E) {
        EXPECT_EQ(E.ErrorCode(), 105);
        EXPECT_EQ(E.ClassName(), "TDBXError");
    }
    auto Classes = C.Prepare(u"DSAdmin.ListClasses");
    Classes->Execute();
    EXPECT_EQ(Classes->Parameters()[0].Value().GetJSONValue()->ToString(),
              u"[\"DSAdmin\",\"DSMetadata\",\"TServerMethods1\"]");
    Echo->Close();
    Reverse->Close();
    Classes->Close();
    C.Disconnect();
}

TEST(DSClientReachTest, UnreachableAndSilentServersAreConnectionErrors) {
    // A port nobody listens on: bind one, note it, close it.
    uint16_t Free = 0;
    {
        TSocketHandle S(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(S.Get(), reinterpret_cast<sockaddr*>(&A), sizeof A), 0);
        socklen_t L = sizeof A;
        ::getsockname(S.Get(), reinterpret_cast<sockaddr*>(&A), &L);
        Free = ntohs(A.sin_port);
    }
    TDSClientConnection C;
    EXPECT_THROW(C.Open("127.0.0.1", Free), TDSConnectionError);
    EXPECT_THROW(C.Open("no-such-host.invalid", 16000), TDSConnectionError);

    // A server that accepts (the backlog does) and never answers.
    TSocketHandle Silent(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(Silent.Get(), reinterpret_cast<sockaddr*>(&A), sizeof A), 0);
    ASSERT_EQ(::listen(Silent.Get(), 1), 0);
    socklen_t L = sizeof A;
    ::getsockname(Silent.Get(), reinterpret_cast<sockaddr*>(&A), &L);
    C.Open("127.0.0.1", ntohs(A.sin_port));
    C.SetReplyTimeout(std::chrono::milliseconds(100));
    try {
        C.Connect();
        FAIL() << "a reply came";
    } catch (const TDSConnectionError& E) {
        EXPECT_EQ(std::string(E.what()), "No reply within 100 ms");
    }
}

} // namespace
} // namespace kds
