// The channel and the administrative methods as a terminal meets them over
// real TCP connections to the program's container on 127.0.0.1 (port 0):
// the callback bytes of a reset, a subscriber that hangs up while idle, stop
// with many subscribers, and the bytes of two administrative results. Every
// wait has a limit.

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "ChannelTestSupport.h"
#include "base/TextConvert.h"
#include "server/DSServer.h"
#include "server/DSTCPServerTransport.h"
#include "server/KDSServerContainerUnit.h"
#include "support/MemoryChannel.h"
#include "support/SocketClient.h"
#include "support/TableReply.h"

namespace kds {
namespace {

using namespace std::chrono_literals;
using test::TBytes;
using test::TSocketClient;

std::string Text(const TBytes& Bytes) {
    return std::string(Bytes.begin(), Bytes.end());
}

std::string Request(const std::string& Method, const TBytes& Row) {
    return Text(test::ExecuteRequest(Method, Row));
}

std::string Reply(const TBytes& Row) {
    return "{\"result\":[{\"data\":[" + std::to_string(Row.size()) + "," + Text(Row) + "]}]}";
}

TBytes CloseRow(const std::string& Id, const std::string& Token) {
    return test::Concat(
        {test::TextField("KDSChannel"), test::TextField(Id), test::TextField(Token)});
}

class DSChannelTCPTest : public ::testing::Test {
protected:
    DSChannelTCPTest()
        : Container([] {
              auto T = std::make_unique<TDSTCPServerTransport>(u"DSTCPServerTransport1");
              T->SetPort(0);
              return T;
          }) {}

    TDSServer& Server() { return Container.DSServer1(); }
    uint16_t Port() {
        return static_cast<TDSTCPServerTransport*>(Container.Transport())->BoundPort();
    }

    TSocketClient Connected() {
        TSocketClient C(Port());
        C.Send("{\"method\":\"connect\",\"params\":[{}]}");
        const std::string Reply = C.ReceiveReply();
        EXPECT_EQ(Reply.rfind("{\"result\":[", 0), 0u) << Reply;
        return C;
    }

    // A terminal blocked in ConnectClientChannel, its tunnel in the channel.
    TSocketClient Subscribed(const std::string& Id) {
        TSocketClient C = Connected();
        C.Send(Request("DSAdmin.ConnectClientChannel",
                       test::TChannelFixture::SubscribeRow("KDSChannel", Id, "cb1", "tok")));
        EXPECT_TRUE(test::WaitFor([&] {
            return Server().HasChannelCallback(u"KDSChannel", Utf8ToUtf16(Id));
        })) << "the tunnel of "
            << Id << " never appeared";
        return C;
    }

    std::string Call(const std::string& Method, const TBytes& Row = {}) {
        TSocketClient C = Connected();
        C.Send(Request(Method, Row));
        return C.ReceiveReply();
    }

    TServerContainer1 Container;
};

TEST_F(DSChannelTCPTest, ASubscriberGetsTheResetCallbackByteForByteUntilItsTunnelIsClosed) {
    TSocketClient T1 = Subscribed("t1");
    EXPECT_TRUE(T1.Silent(20ms));
    for (int Press = 0; Press < 2; ++Press) {
        EXPECT_TRUE(BroadcastReset(Server()));
        EXPECT_EQ(T1.Receive(test::ResetCallback.size()), test::ResetCallback);
        T1.Send(test::CallbackAnswer);
    }
    EXPECT_EQ(Call("DSAdmin.CloseClientChannel", CloseRow("t1", "bad")),
              Reply(test::BooleanRow(3, false)));
    EXPECT_EQ(Call("DSAdmin.CloseClientChannel", CloseRow("t1", "tok")),
              Reply(test::BooleanRow(3, true)));
    EXPECT_EQ(T1.ReceiveReply(), "{\"result\":[{\"data\":[6,\xC0\xC0\xC0\xC0\xC0\x60]}]}");
}

TEST_F(DSChannelTCPTest, AnIdleSubscriberThatClosesItsSocketLeavesPromptlyAndMaySubscribeAgain) {
    TSocketClient T1 = Subscribed("t1");
    const auto Start = std::chrono::steady_clock::now();
    T1.Close();
    // Noticed by the socket watch, not by a delivery: no broadcast is made.
    ASSERT_TRUE(
        test::WaitFor([&] { return !Server().HasChannelCallback(u"KDSChannel", u"t1"); }, 2000));
    const auto Took = std::chrono::steady_clock::now() - Start;
    RecordProperty(
        "LeftAfterMs",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Took).count()));

    // Back at once with the same id: not refused (a refusal answers at once).
    TSocketClient Back = Subscribed("t1");
    EXPECT_TRUE(Back.Silent(20ms));
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(Back.Receive(test::ResetCallback.size()), test::ResetCallback);
}

TEST_F(DSChannelTCPTest, StopWithAHundredSubscribersReturnsWithinASecondAndEndsEveryOne) {
    std::vector<TSocketClient> Subscribers;
    for (int I = 0; I < 100; ++I)
        Subscribers.push_back(Subscribed("t" + std::to_string(I)));
    const auto Start = std::chrono::steady_clock::now();
    Server().Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 1s);
    // Each subscription ends; its true reply races the transport shutting
    // the socket, so a subscriber sees either that reply or the bare end,
    // never anything else.
    int Answered = 0;
    for (TSocketClient& S : Subscribers) {
        try {
            EXPECT_EQ(S.ReceiveReply(), Reply(test::BooleanRow(5, true)));
            ++Answered;
        } catch (const std::runtime_error& E) {
            EXPECT_STREQ(E.what(), "connection ended after receiving \"\"");
        }
        EXPECT_TRUE(S.WaitClosed());
    }
    RecordProperty("AnsweredTrue", Answered);
    EXPECT_FALSE(BroadcastReset(Server()));
}

TEST_F(DSChannelTCPTest, ListClassesAndGetServerMethodsGiveTheirBytesOverTCP) {
    const std::string Classes = "[\"DSAdmin\",\"DSMetadata\",\"TServerMethods1\"]";
    ASSERT_EQ(Classes.size(), 0x2Au);
    EXPECT_EQ(Call("DSAdmin.ListClasses"),
              Reply(test::Concat({test::Hex("40 00 00 00 2A"), test::Bytes(Classes)})));

    TSocketClient C = Connected();
    C.Send(Request("DSAdmin.GetServerMethods", {}));
    const std::string Result = C.ReceiveReply();
    EXPECT_EQ(Result.rfind("{\"result\":[{\"data\":[2,\x61\x01]},{\"table\":[", 0), 0u) << Result;
    const std::string Batch = C.ReceiveReply();
    ASSERT_EQ(Batch.rfind("{\"data\":[-2871,", 0), 0u) << Batch.substr(0, 40);
    const TBytes Rows(Batch.begin() + 15, Batch.end() - 2);
    ASSERT_EQ(Rows.size(), 2871u);
    const auto Decoded = test::DecodeRows(Rows, "TTTT").Rows;
    ASSERT_EQ(Decoded.size(), 49u);
    EXPECT_EQ(Decoded.front(), (std::vector<std::string>{"DSAdmin.GetPlatformName", "DSAdmin",
                                                         "GetPlatformName", ""}));
    EXPECT_EQ(Decoded.back(), (std::vector<std::string>{"TServerMethods1.ReverseString",
                                                        "TServerMethods1", "ReverseString", ""}));
}

} // namespace
} // namespace kds
