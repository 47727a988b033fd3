#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>

#include "ServerTestSupport.h"
#include "base/TextConvert.h"
#include "server/DSMethodValues.h"
#include "server/KDSServerMethodsUnit.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "server/wire/DSSession.h"
#include "support/MemoryChannel.h"

namespace kds {
namespace {

using test::Bytes;
using test::Concat;
using test::Hex;

// What the thread's current session says while a method runs.
class TSessionProbe : public TObject {
public:
    static const TDSClass& ClassInfo() {
        static const TDSClass Class(
            u"TSessionProbe", u"DSProtocolStackTest", nullptr,
            [] { return std::unique_ptr<TObject>(new TSessionProbe()); },
            {
                {u"UserName",
                 {},
                 u"string",
                 [](TObject&, TDSMethodValues& V) {
                     TDSSession* Session = TDSSessionManager::GetThreadSession();
                     V.Result().SetText(Session != nullptr ? u"[" + Session->UserName() + u"]"
                                                           : u"none");
                 }},
                {u"Fail",
                 {},
                 u"string",
                 [](TObject&, TDSMethodValues&) { throw std::runtime_error("x"); }},
            });
        return Class;
    }
};

// One connection's real protocol stack over an in-memory channel, with the
// server's connection handler made by the transport's factory.
class DSProtocolStackTest : public ::testing::Test {
protected:
    DSProtocolStackTest() {
        auto Memory = std::make_unique<test::TMemoryChannel>();
        Channel = Memory.get();
        const TDBXConnectionHandlerFactory Factory = Harness.Transport().ConnectionHandlerFactory();
        Protocol = CreateJSonServerProtocolHandler(
            Harness.Server().DbxContext(), std::move(Memory), 32768,
            [&](TDBXContext* Context, std::unique_ptr<TDbxChannel> C,
                TDBXConnectionHandler* Output) {
                auto Made = Factory(Context, std::move(C), Output);
                Handler = dynamic_cast<TDSServerConnectionHandler*>(Made.get());
                return Made;
            });
        TDBXOpenMessage Open;
        Open.FConnectionHandle = 1;
        Handler->DbxOpen(Open);
    }

    // Sends the request and answers everything written in reply.
    test::TBytes Send(const test::TBytes& Request) {
        Channel->ClearWritten();
        Channel->Feed(Request);
        while (Channel->Pending() > 0 || Protocol->HasMoreBytes())
            Protocol->ServeRequests(nullptr);
        return Channel->Written();
    }
    std::string SendText(const std::string& Request) {
        const test::TBytes Reply = Send(Bytes(Request));
        return std::string(Reply.begin(), Reply.end());
    }

    test::TServerHarness Harness{
        u"StackServer",
        {{&TServerMethods1::ClassInfo(), u"Session"}, {&TSessionProbe::ClassInfo(), u"Session"}}};
    test::TMemoryChannel* Channel = nullptr;
    TDSServerConnectionHandler* Handler = nullptr;
    std::unique_ptr<TDBXJSonServerProtocolHandler> Protocol;
};

TEST_F(DSProtocolStackTest, AnswersTheEchoCallByteForByte) {
    EXPECT_EQ(SendText("{\"method\":\"connect\",\"params\":[{}]}"), "{\"result\":[1,\"KDS\",2]}");
    EXPECT_EQ(SendText("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                       "\"TServerMethods1.EchoString\"]}"),
              "{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},{\"parameters\":[2,[26,0,1,0,"
              "0,\"Value\",0,0,0],[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}");
    EXPECT_EQ(
        Send(Concat({Bytes("{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[3,"),
                     Hex("22 61 62"), Bytes("]}]}")})),
        Concat({Bytes("{\"result\":[{\"data\":[4,"), Hex("C0 22 61 62"), Bytes("]}]}")}));
    EXPECT_EQ(Send(Concat({Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,"
                                 "\"KDS.ServerMethod\",\"TServerMethods1.ReverseString\"]},"
                                 "{\"data\":[4,"),
                           Hex("23 61 62 63"), Bytes("]}]}")})),
              Concat({Bytes("{\"result\":[{\"data\":[5,"), Hex("C0 23 63 62 61"), Bytes("]}]}")}));
    EXPECT_EQ(SendText("{\"method\":\"command_close\",\"params\":[0]}"), "");
    EXPECT_EQ(SendText("{\"method\":\"txbegin\",\"params\":[0]}"), "{\"result\":[0]}");
    EXPECT_EQ(SendText("{\"method\":\"txend\",\"params\":[true,0]}"), "{\"result\":[]}");
    EXPECT_EQ(SendText("{\"method\":\"vendor_property\",\"params\":[\"X\"]}"),
              "{\"result\":[\"\"]}");
}

TEST_F(DSProtocolStackTest, ReportsDispatchErrorsAndGoesOn) {
    SendText("{\"method\":\"connect\",\"params\":[{}]}");
    EXPECT_EQ(SendText("{\"method\":\"execute\",\"params\":[{\"handle\":[7]}]}"),
              "{\"error\":{\"name\":\"TDBXError\",\"code\":29,\"message\":\"Remote error: Invalid "
              "command handle:  7\"}");
    EXPECT_EQ(SendText("{\"method\":\"prepare\",\"params\":[-1,false,\"Dbx.StoredProcedure\","
                       "\"Nope\"]}"),
              "{\"error\":{\"name\":\"TDBXError\",\"code\":30,\"message\":\"Remote error: "
              "Dbx.StoredProcedure is an unrecognized command type\"}");
    EXPECT_EQ(SendText("{\"method\":\"next_result\",\"params\":[0]}"),
              "{\"error\":{\"name\":\"TDBXError\",\"code\":29,\"message\":\"Remote error: Invalid "
              "command handle:  0\"}");
    // The failed prepare left no command: the next one gets handle 0.
    EXPECT_EQ(SendText("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                       "\"DSAdmin.GetPlatformName\"]}"),
              "{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},{\"parameters\":[1,[26,0,4,0,"
              "0,\"ReturnParameter\",0,0,0]]}]}");
    EXPECT_EQ(SendText("{\"method\":\"next_result\",\"params\":[0]}"),
              "{\"result\":[false,0,false,-1]}");
}

TEST_F(DSProtocolStackTest, TheSessionServesEveryRequestOfTheConnectionAndIsClearedAfter) {
    const std::string UserCall =
        "{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
        "\"TSessionProbe.UserName\"]}]}";
    const auto UserReply = [&](const std::string& Name) {
        const std::string Text = "[" + Name + "]";
        std::string Row = "\xC0";
        Row[0] = static_cast<char>(0x20 + Text.size());
        return "{\"result\":[{\"data\":[" + std::to_string(Text.size() + 1) + "," + Row + Text +
               "]}]}";
    };
    SendText("{\"method\":\"connect\",\"params\":[{}]}");
    EXPECT_EQ(SendText(UserCall), UserReply(""));
    SendText("{\"method\":\"connect\",\"params\":[{\"DSAuthenticationUser\":\"kitchen-1\"}]}");
    EXPECT_EQ(SendText(UserCall), UserReply("kitchen-1"));
    SendText("{\"method\":\"connect\",\"params\":[{\"DSAuthenticationUser\":\"kitchen-2\"}]}");
    EXPECT_EQ(SendText(UserCall), UserReply("kitchen-1"));
    EXPECT_EQ(TDSSessionManager::GetThreadSession(), nullptr);
    ASSERT_NE(Protocol->Session(), nullptr);
    EXPECT_EQ(Protocol->Session()->UserName(), u"kitchen-1");

    EXPECT_EQ(SendText("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,"
                       "\"KDS.ServerMethod\",\"TSessionProbe.Fail\"]}]}"),
              "{\"error\":{\"name\":\"Exception\",\"code\":5,\"message\":\"Remote error: x\"}");
    EXPECT_EQ(TDSSessionManager::GetThreadSession(), nullptr);
}

} // namespace
} // namespace kds
