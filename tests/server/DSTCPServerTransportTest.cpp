// The TCP transport inside the server container, over real sockets on
// 127.0.0.1 (port 0): the bytes a terminal sees, connection handles, and
// what stopping and binding do. Every wait has a limit.

#include "server/DSTCPServerTransport.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/DBXError.h"
#include "server/DSServer.h"
#include "server/KDSServerContainerUnit.h"
#include "server/wire/DSSocket.h"
#include "support/SocketClient.h"

namespace kds {
namespace {

using namespace std::chrono_literals;
using test::TSocketClient;

const std::string Connect = "{\"method\":\"connect\",\"params\":[{}]}";
const std::string Disconnect = "{\"method\":\"disconnect\",\"params\":[]}";
const std::string TxEnd = "{\"method\":\"txend\",\"params\":[true,0]}";
const std::string PrepareEcho = "{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                                "\"TServerMethods1.EchoString\"]}";
const std::string PrepareEchoReply =
    "{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},{\"parameters\":[2,"
    "[26,0,1,0,0,\"Value\",0,0,0],[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}";
// The row 22 61 62 is the text ab.
const std::string ExecuteEcho =
    "{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[3,\"ab]}]}";
const std::string ExecuteEchoReply = "{\"result\":[{\"data\":[4,\xC0\"ab]}]}";
const std::string ExecuteReverse =
    "{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
    "\"TServerMethods1.ReverseString\"]},{\"data\":[4,\x23"
    "abc]}]}";
const std::string ExecuteReverseReply = "{\"result\":[{\"data\":[5,\xC0\x23"
                                        "cba]}]}";

std::string ConnectReply(int Handle) {
    return "{\"result\":[" + std::to_string(Handle) + ",\"KDS\",2]}";
}

template <typename TCondition> bool WaitUntil(TCondition Condition) {
    const auto Deadline = std::chrono::steady_clock::now() + 5s;
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// The program's container with the TCP transport on a port of the system's
// choosing.
class DSTCPServerTransportTest : public ::testing::Test {
protected:
    DSTCPServerTransportTest()
        : Container(std::make_unique<TServerContainer1>([] {
              auto T = std::make_unique<TDSTCPServerTransport>(u"DSTCPServerTransport1");
              T->SetPort(0);
              return T;
          })) {}

    TDSTCPServerTransport& Transport() const {
        return static_cast<TDSTCPServerTransport&>(*Container->Transport());
    }
    uint16_t Port() const { return Transport().BoundPort(); }

    // A connected client and the handle its connect reply reported.
    TSocketClient Connected(int ExpectedHandle) {
        TSocketClient C(Port());
        C.Send(Connect);
        EXPECT_EQ(C.ReceiveReply(), ConnectReply(ExpectedHandle));
        return C;
    }

    std::unique_ptr<TServerContainer1> Container;
};

TEST_F(DSTCPServerTransportTest, ContainerListensOnceMadeAndGivesTheExactConnectBytes) {
    ASSERT_TRUE(Transport().Active());
    ASSERT_NE(Port(), 0);
    TSocketClient C(Port());
    C.Send(std::string(5, '\x05'));
    EXPECT_EQ(C.Receive(5), std::string("\x06\x00\x00\x00\x00", 5));
    C.Send(Connect);
    EXPECT_EQ(C.Receive(ConnectReply(1).size()), ConnectReply(1));
}

TEST_F(DSTCPServerTransportTest, ConnectInThreeBytePiecesWithPausesGivesTheSameReply) {
    TSocketClient C(Port());
    C.SendInPieces(Connect, 3, 50ms);
    EXPECT_EQ(C.Receive(ConnectReply(1).size()), ConnectReply(1));
}

TEST_F(DSTCPServerTransportTest, EchoAndReverseGiveTheExactBytes) {
    TSocketClient C = Connected(1);
    C.Send(PrepareEcho);
    EXPECT_EQ(C.Receive(PrepareEchoReply.size()), PrepareEchoReply);
    C.Send(ExecuteEcho);
    EXPECT_EQ(C.Receive(ExecuteEchoReply.size()), ExecuteEchoReply);
    C.Send(ExecuteReverse);
    EXPECT_EQ(C.Receive(ExecuteReverseReply.size()), ExecuteReverseReply);
    EXPECT_TRUE(C.Silent(20ms));
}

TEST_F(DSTCPServerTransportTest, SixtyFourPipelinedExecutesGiveSixtyFourRepliesInOrder) {
    TSocketClient C = Connected(1);
    C.Send(PrepareEcho);
    ASSERT_EQ(C.Receive(PrepareEchoReply.size()), PrepareEchoReply);
    std::string Requests, Replies;
    for (int I = 0; I < 64; ++I) {
        // Every eighth one reverses, so a reply out of order shows.
        Requests += I % 8 == 7 ? ExecuteReverse : ExecuteEcho;
        Replies += I % 8 == 7 ? ExecuteReverseReply : ExecuteEchoReply;
    }
    C.Send(Requests);
    EXPECT_EQ(C.Receive(Replies.size()), Replies);
}

TEST_F(DSTCPServerTransportTest, HandlesAreTheLowestFreeAndTheTableGrowsPastNine) {
    {
        TSocketClient First = Connected(1);
        TSocketClient Second = Connected(2);
        First.Close();
        ASSERT_TRUE(WaitUntil([&] { return Transport().ConnectionCount() == 1; }));
        TSocketClient Third = Connected(1);
    }
    ASSERT_TRUE(WaitUntil([&] { return Transport().ConnectionCount() == 0; }));
    std::vector<TSocketClient> Nine;
    for (int H = 1; H <= 9; ++H)
        Nine.push_back(Connected(H));
    TSocketClient Tenth = Connected(10);
    TSocketClient Eleventh = Connected(11);
    EXPECT_EQ(Transport().ConnectionCount(), 11);
}

TEST_F(DSTCPServerTransportTest, ConcurrentConnectsGetDistinctHandles) {
    constexpr int Count = 32;
    std::vector<std::unique_ptr<TSocketClient>> Clients(Count);
    std::vector<std::string> Replies(Count);
    std::atomic<int> Ready{0};
    std::vector<std::thread> Threads;
    for (int I = 0; I < Count; ++I) {
        Threads.emplace_back([&, I] {
            Clients[I] = std::make_unique<TSocketClient>(Port());
            ++Ready;
            while (Ready.load() < Count)
                std::this_thread::yield();
            Clients[I]->Send(Connect);
            Replies[I] = Clients[I]->ReceiveReply();
        });
    }
    for (std::thread& T : Threads)
        T.join();
    std::set<std::string> Distinct(Replies.begin(), Replies.end());
    std::set<std::string> Expected;
    for (int H = 1; H <= Count; ++H)
        Expected.insert(ConnectReply(H));
    EXPECT_EQ(Distinct, Expected);
}

TEST_F(DSTCPServerTransportTest, ConnectAfterDisconnectTakesAHandleOfItsOwn) {
    TSocketClient A = Connected(1);
    // "disconnect" has no reply: the txend behind it shows it was served.
    A.Send(Disconnect + TxEnd);
    EXPECT_EQ(A.ReceiveReply(), "{\"result\":[]}");
    TSocketClient B = Connected(1); // A gave 1 back
    A.Send(Connect);
    EXPECT_EQ(A.ReceiveReply(), ConnectReply(2)); // not B's 1
    EXPECT_EQ(Transport().ConnectionCount(), 2);
}

TEST_F(DSTCPServerTransportTest, PrepareBeforeConnectGivesTheHandleBack) {
    TSocketClient A(Port());
    A.Send(PrepareEcho); // a disconnect goes first: A's handle 1 is free again
    EXPECT_EQ(A.Receive(PrepareEchoReply.size()), PrepareEchoReply);
    TSocketClient B = Connected(1);
    A.Send(Connect);
    EXPECT_EQ(A.ReceiveReply(), ConnectReply(2));
}

TEST_F(DSTCPServerTransportTest, FailedConnectAfterDisconnectGivesItsNewHandleBack) {
    TSocketClient A = Connected(1);
    TSocketClient B = Connected(2);
    A.Send(PrepareEcho);
    ASSERT_EQ(A.Receive(PrepareEchoReply.size()), PrepareEchoReply);
    A.Send(Disconnect);
    // With a command open, changing the server connection fails.
    A.Send("{\"method\":\"connect\",\"params\":[{\"ServerConnection\":"
           "\"TServerMethods1.EchoString\"}]}");
    const std::string Reply = A.ReceiveReply();
    EXPECT_EQ(Reply.rfind("{\"error\":{\"name\":\"TDBXError\",\"code\":30,", 0), 0u) << Reply;
    TSocketClient C = Connected(1);
    EXPECT_EQ(Transport().ConnectionCount(), 2);
}

enum class TResetPoint { MidRequest, MidReply };

class DSTCPServerTransportResetTest : public DSTCPServerTransportTest,
                                      public ::testing::WithParamInterface<TResetPoint> {};

TEST_P(DSTCPServerTransportResetTest, ResetPeerFreesItsHandleAndTheServerGoesOn) {
    TSocketClient Keeper = Connected(1);
    {
        TSocketClient C = Connected(2);
        if (GetParam() == TResetPoint::MidRequest) {
            C.Send(ExecuteEcho.substr(0, 25));
        } else {
            C.Send(PrepareEcho);
            ASSERT_EQ(C.Receive(PrepareEchoReply.size()), PrepareEchoReply);
            std::string Many;
            for (int I = 0; I < 20000; ++I)
                Many += ExecuteEcho;
            ASSERT_GT(C.SendWithoutWaiting(Many), ExecuteEcho.size());
            ASSERT_EQ(C.Receive(ExecuteEchoReply.size()), ExecuteEchoReply);
        }
        C.Reset();
    }
    ASSERT_TRUE(WaitUntil([&] { return Transport().ConnectionCount() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return Transport().ThreadCount() == 1; }));
    TSocketClient Next = Connected(2);
    Keeper.Send(ExecuteReverse);
    EXPECT_EQ(Keeper.Receive(ExecuteReverseReply.size()), ExecuteReverseReply);
}

INSTANTIATE_TEST_SUITE_P(Points, DSTCPServerTransportResetTest,
                         ::testing::Values(TResetPoint::MidRequest, TResetPoint::MidReply),
                         [](const auto& Info) {
                             return Info.param == TResetPoint::MidRequest ? "MidRequest"
                                                                          : "MidReply";
                         });

TEST_F(DSTCPServerTransportTest, DestroyingTheContainerEndsEveryConnection) {
    std::vector<TSocketClient> Clients;
    for (int H = 1; H <= 20; ++H)
        Clients.push_back(Connected(H));
    Clients[3].Send(PrepareEcho); // one with a command open
    ASSERT_EQ(Clients[3].Receive(PrepareEchoReply.size()), PrepareEchoReply);
    Container.reset();
    for (TSocketClient& C : Clients)
        EXPECT_TRUE(C.WaitClosed());
}

TEST_F(DSTCPServerTransportTest, StopThenStartRightAfterTrafficBindsTheSamePort) {
    const uint16_t Bound = Port();
    TSocketClient C = Connected(1);
    TDSServer& Server = Container->DSServer1();
    Server.Stop();
    EXPECT_TRUE(C.WaitClosed());
    Transport().SetPort(Bound);
    Server.Start();
    EXPECT_EQ(Port(), Bound);
    TSocketClient Again = Connected(1);
}

TEST_F(DSTCPServerTransportTest, OccupiedPortFailsTheContainerWithTheBindText) {
    const uint16_t Taken = Port();
    try {
        TServerContainer1 Second([Taken] {
            auto T = std::make_unique<TDSTCPServerTransport>(u"DSTCPServerTransport1");
            T->SetPort(Taken);
            return T;
        });
        FAIL() << "a second container started on a port that is taken";
    } catch (const TDBXError& E) {
        EXPECT_EQ(E.Message(), "Could not bind socket. Address and port are already in use.");
    }
    TSocketClient C = Connected(1); // the first server is untouched
}

TEST(DSTCPServerTransportSettingsTest, DefaultsAndBounds) {
    TDSTCPServerTransport T;
    EXPECT_EQ(T.Port(), 211);
    EXPECT_EQ(T.BufferKBSize(), 32);
    EXPECT_EQ(T.PoolSize(), 0);
    EXPECT_FALSE(T.Active());
    T.SetBufferKBSize(0);
    EXPECT_EQ(T.BufferKBSize(), 1);
    T.SetBufferKBSize(5000);
    EXPECT_EQ(T.BufferKBSize(), 1000);
    T.Stop(); // stopping a transport that never started does nothing
    EXPECT_FALSE(T.Active());
}

} // namespace
} // namespace kds
