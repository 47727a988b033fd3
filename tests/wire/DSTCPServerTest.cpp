// The listening server and its connection threads over real sockets on
// 127.0.0.1, port 0, with the fake connection handler in the server's place.
// Every wait has a limit; nothing here measures speed.

#include "server/wire/DSTCPServer.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "server/wire/DSSession.h"
#include "server/wire/DSSocket.h"
#include "server/wire/DbxChannel.h"
#include "support/FakeConnectionHandler.h"
#include "support/SocketClient.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using namespace std::chrono_literals;
using test::TSocketClient;

const std::string Connect = "{\"method\":\"connect\",\"params\":[{}]}";
const std::string ConnectReply = "{\"result\":[1,\"KDS\",2]}";
const std::string TxEnd = "{\"method\":\"txend\",\"params\":[true,0]}";
const std::string TxEndReply = "{\"result\":[]}";

// Waits until Condition holds or five seconds have gone by.
template <typename TCondition> bool WaitUntil(TCondition Condition) {
    const auto Deadline = std::chrono::steady_clock::now() + 5s;
    while (!Condition()) {
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Builds each connection's stack with the fake handler and counts what it
// built and what went again; can be told to fail.
class TFakeStacks : public TDSConnectionStackFactory {
public:
    std::unique_ptr<TDBXJSonServerProtocolHandler>
    CreateProtocolHandler(std::unique_ptr<TDbxChannel> Channel) override {
        if (FailBuild)
            throw TDBXError(TDBXErrorCodes::None, "no stack for you");
        // What the accepted socket was given, seen through the channel.
        const auto Fd = static_cast<int>(Channel->GetChannelInfo()->Id());
        int NoDelay = 0, KeepAlive = 0, Idle = 0;
        socklen_t Length = sizeof(int);
        ::getsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &NoDelay, &Length);
        ::getsockopt(Fd, SOL_SOCKET, SO_KEEPALIVE, &KeepAlive, &Length);
        ::getsockopt(Fd, IPPROTO_TCP, TCP_KEEPIDLE, &Idle, &Length);
        SocketOptions = NoDelay != 0 && KeepAlive != 0 && Idle == KeepAliveIdleSeconds;
        {
            std::lock_guard<std::mutex> Guard(Lock);
            LocalAddress = Channel->GetChannelInfo()->GetInfo();
        }
        auto Protocol = CreateJSonServerProtocolHandler(
            &Context, std::move(Channel), 32768,
            [this](TDBXContext* C, std::unique_ptr<TDbxChannel> Owned,
                   TDBXConnectionHandler* Output) {
                return std::make_unique<TCountedFake>(C, std::move(Owned), Output, *this);
            });
        ++Built;
        return Protocol;
    }
    const void* SessionCreator() const override { return &Context; }

    class TCountedFake : public test::TFakeConnectionHandler {
    public:
        TCountedFake(TDBXContext* C, std::unique_ptr<TDbxChannel> Channel,
                     TDBXConnectionHandler* Output, TFakeStacks& Owner)
            : TFakeConnectionHandler(C, std::move(Channel), Output), FOwner(Owner) {
            Throw = [this](const std::string& Operation) {
                if (Operation == "connect") {
                    TDSSession* Session = TDSSessionManager::GetThreadSession();
                    FOwner.SessionSeen = Session != nullptr;
                    FOwner.CreatorSeen =
                        Session != nullptr && Session->Creator() == &FOwner.Context;
                }
            };
        }
        ~TCountedFake() override { ++FOwner.Freed; }

    private:
        TFakeStacks& FOwner;
    };

    TDBXContext Context;
    std::atomic<bool> FailBuild{false};
    std::atomic<int> Built{0};
    std::atomic<int> Freed{0};
    std::atomic<bool> SessionSeen{false};
    std::atomic<bool> CreatorSeen{false};
    std::atomic<bool> SocketOptions{false};
    std::mutex Lock;          // guards LocalAddress
    std::string LocalAddress; // of the last stack built
    std::string LastLocalAddress() {
        std::lock_guard<std::mutex> Guard(Lock);
        return LocalAddress;
    }
};

class DSTCPServerTest : public ::testing::Test {
protected:
    void SetUp() override { Server.Start(0, 64); }
    uint16_t Port() const { return Server.BoundPort(); }

    // A client whose connection the server has certainly taken on.
    TSocketClient Connected() {
        TSocketClient C(Port());
        C.Send(TxEnd);
        EXPECT_EQ(C.Receive(TxEndReply.size()), TxEndReply);
        return C;
    }

    TFakeStacks Stacks;
    TDSTCPServer Server{Stacks};
};

TEST_F(DSTCPServerTest, ProbeThenConnectGiveExactBytesOnASocketSetUpForTerminals) {
    TSocketClient C(Port());
    C.Send(std::string(5, '\x05'));
    EXPECT_EQ(C.Receive(5), std::string("\x06\x00\x00\x00\x00", 5));
    C.Send(Connect);
    EXPECT_EQ(C.Receive(ConnectReply.size()), ConnectReply);
    EXPECT_TRUE(Stacks.SessionSeen);
    EXPECT_TRUE(Stacks.CreatorSeen);
    EXPECT_TRUE(Stacks.SocketOptions); // TCP_NODELAY and keepalive
    EXPECT_EQ(Stacks.LastLocalAddress(), "127.0.0.1");
    EXPECT_TRUE(C.Silent(20ms)); // the transport adds nothing of its own
}

struct TPiecesCase {
    const char* Name;
    bool Probe;
    size_t Piece;
    int PauseMs;
};

class DSTCPServerPiecesTest : public DSTCPServerTest,
                              public ::testing::WithParamInterface<TPiecesCase> {};

TEST_P(DSTCPServerPiecesTest, RequestInPiecesIsReadWhole) {
    const TPiecesCase& Case = GetParam();
    TSocketClient C(Port());
    std::string Expected = ConnectReply;
    std::string Sent = Connect;
    if (Case.Probe) {
        Sent = std::string(5, '\x05') + Connect;
        Expected = std::string("\x06\x00\x00\x00\x00", 5) + ConnectReply;
    }
    C.SendInPieces(Sent, Case.Piece, std::chrono::milliseconds(Case.PauseMs));
    EXPECT_EQ(C.Receive(Expected.size()), Expected);
}

INSTANTIATE_TEST_SUITE_P(Pieces, DSTCPServerPiecesTest,
                         ::testing::Values(TPiecesCase{"OneByteNoProbe", false, 1, 2},
                                           TPiecesCase{"ThreeBytesNoProbe", false, 3, 20},
                                           TPiecesCase{"OneByteAfterProbe", true, 1, 2},
                                           TPiecesCase{"FourBytesAcrossProbe", true, 4, 20}),
                         test::TCaseName());

TEST_F(DSTCPServerTest, PipelinedRequestsAreAnsweredInOrderFromOneSend) {
    TSocketClient C(Port());
    std::string Requests, Replies;
    for (int I = 0; I < 32; ++I) {
        Requests += Connect + TxEnd;
        Replies += ConnectReply + TxEndReply;
    }
    C.Send(Requests);
    EXPECT_EQ(C.Receive(Replies.size()), Replies);
}

TEST_F(DSTCPServerTest, RequestsHeldAfterDisconnectAreServedWithoutMoreBytes) {
    // After "disconnect" the request loop serves one request per round; the
    // ones the reader still holds must not wait for the client's next bytes.
    TSocketClient C(Port());
    C.Send("{\"method\":\"disconnect\",\"params\":[]}" + TxEnd + Connect + TxEnd);
    const std::string Replies = TxEndReply + ConnectReply + TxEndReply;
    EXPECT_EQ(C.Receive(Replies.size()), Replies);
}

TEST_F(DSTCPServerTest, PeerThatClosesBetweenRequestsEndsItsThreadQuietly) {
    {
        TSocketClient A = Connected();
        TSocketClient B = Connected();
        EXPECT_EQ(Server.ConnectionCount(), 2);
    }
    EXPECT_TRUE(WaitUntil([&] { return Server.ConnectionCount() == 0; }));
    EXPECT_EQ(Stacks.Freed.load(), Stacks.Built.load());
}

// A peer that goes away with a reset while the server reads its request or
// writes its replies: the server stays up (no SIGPIPE: this process does not
// ignore it), frees the connection and serves the next one.
enum class TResetPoint { MidRequest, MidReply };

class DSTCPServerResetTest : public DSTCPServerTest,
                             public ::testing::WithParamInterface<TResetPoint> {};

TEST_P(DSTCPServerResetTest, ResetPeerLeavesServerServing) {
    {
        TSocketClient C(Port());
        if (GetParam() == TResetPoint::MidRequest) {
            C.Send(Connect.substr(0, 20));
        } else {
            // Far more replies than the socket buffers hold, none read.
            std::string Many;
            for (int I = 0; I < 20000; ++I)
                Many += TxEnd;
            ASSERT_GT(C.SendWithoutWaiting(Many), TxEnd.size());
            ASSERT_EQ(C.Receive(TxEndReply.size()), TxEndReply);
        }
        C.Reset();
    }
    EXPECT_TRUE(WaitUntil([&] { return Server.ConnectionCount() == 0; }));
    TSocketClient Next(Port());
    Next.Send(Connect);
    EXPECT_EQ(Next.Receive(ConnectReply.size()), ConnectReply);
}

INSTANTIATE_TEST_SUITE_P(Points, DSTCPServerResetTest,
                         ::testing::Values(TResetPoint::MidRequest, TResetPoint::MidReply),
                         [](const auto& Info) {
                             return Info.param == TResetPoint::MidRequest ? "MidRequest"
                                                                          : "MidReply";
                         });

TEST_F(DSTCPServerTest, ConnectionBeyondTheCapIsClosedAtOnceOthersAreServed) {
    Server.Stop();
    Server.Start(0, 2);
    TSocketClient A = Connected();
    TSocketClient B = Connected();
    TSocketClient Refused(Port());
    EXPECT_TRUE(Refused.WaitClosed());
    EXPECT_EQ(Server.RefusedCount(), 1);
    A.Send(TxEnd);
    EXPECT_EQ(A.Receive(TxEndReply.size()), TxEndReply);
    B.Close();
    ASSERT_TRUE(WaitUntil([&] { return Server.ConnectionCount() == 1; }));
    TSocketClient C = Connected(); // room again
    EXPECT_EQ(Server.ConnectionCount(), 2);
}

TEST_F(DSTCPServerTest, FailedThreadCreationClosesThatSocketOnly) {
    Server.Stop();
    std::atomic<int> Starts{0};
    Server.SetThreadStarter([&](std::function<void()> Body) {
        if (++Starts == 2)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        return std::thread(std::move(Body));
    });
    Server.Start(0, 64);
    TSocketClient A = Connected();
    TSocketClient Failed(Port());
    EXPECT_TRUE(Failed.WaitClosed());
    TSocketClient C = Connected();
    A.Send(TxEnd);
    EXPECT_EQ(A.Receive(TxEndReply.size()), TxEndReply);
    EXPECT_EQ(Stacks.Built.load(), 2);
    EXPECT_EQ(Server.ConnectionCount(), 2);
}

TEST_F(DSTCPServerTest, StackThatCannotBeBuiltEndsThatConnection) {
    Stacks.FailBuild = true;
    TSocketClient Failed(Port());
    EXPECT_TRUE(Failed.WaitClosed());
    EXPECT_TRUE(WaitUntil([&] { return Server.ConnectionCount() == 0; }));
    Stacks.FailBuild = false;
    TSocketClient C = Connected();
}

TEST_F(DSTCPServerTest, StopEndsManyIdleConnectionsAndJoinsEveryThread) {
    RaiseOpenFileLimit();
    Server.Stop();
    Server.Start(0, 1000);
    std::vector<TSocketClient> Clients;
    for (int I = 0; I < 500; ++I)
        Clients.push_back(Connected());
    ASSERT_EQ(Server.ConnectionCount(), 500);
    Server.Stop();
    EXPECT_FALSE(Server.Active());
    EXPECT_EQ(Server.ConnectionCount(), 0);
    EXPECT_EQ(Stacks.Built.load(), 500);
    EXPECT_EQ(Stacks.Freed.load(), 500);
    for (TSocketClient& C : Clients)
        EXPECT_TRUE(C.WaitClosed());
}

TEST_F(DSTCPServerTest, StopEndsConnectionsBlockedInSendOnEitherSide) {
    // The client sends without ever reading: the server blocks writing its
    // replies, then the client blocks in its own send.
    TSocketClient C = Connected();
    std::atomic<bool> SenderDone{false};
    std::thread Sender([&] {
        std::string Many;
        for (int I = 0; I < 1000; ++I)
            Many += TxEnd;
        try {
            for (;;)
                C.Send(Many);
        } catch (...) {
            // The server ended the connection.
        }
        SenderDone = true;
    });
    std::this_thread::sleep_for(100ms); // let both sides fill their buffers
    Server.Stop();
    EXPECT_EQ(Server.ConnectionCount(), 0);
    EXPECT_EQ(Stacks.Freed.load(), Stacks.Built.load());
    EXPECT_TRUE(WaitUntil([&] { return SenderDone.load(); }));
    Sender.join();
}

TEST_F(DSTCPServerTest, StopThenStartRightAfterTrafficBindsTheSamePort) {
    const uint16_t Bound = Port();
    {
        TSocketClient C = Connected();
        Server.Stop(); // the server ends the connection: its side lingers in TIME_WAIT
        EXPECT_TRUE(C.WaitClosed());
    }
    Server.Start(Bound, 64);
    EXPECT_EQ(Port(), Bound);
    TSocketClient C = Connected();
}

TEST_F(DSTCPServerTest, OccupiedPortFailsStartWithTheBindText) {
    TDSTCPServer Second(Stacks);
    try {
        Second.Start(Port(), 4);
        FAIL() << "started on a port that is taken";
    } catch (const TDBXError& E) {
        EXPECT_EQ(E.Message(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(Second.Active());
    TSocketClient C = Connected(); // the first one is untouched
}

TEST_F(DSTCPServerTest, StartWhileActiveRaisesAndStopTwiceIsHarmless) {
    EXPECT_THROW(Server.Start(0, 4), TDBXError);
    Server.Stop();
    Server.Stop();
    EXPECT_FALSE(Server.Active());
    EXPECT_EQ(Server.BoundPort(), 0);
}

// CPU time this process has used, in milliseconds (getrusage needs no
// descriptor, which the test below has none of).
long ProcessCpuMilliseconds() {
    rusage Usage{};
    ::getrusage(RUSAGE_SELF, &Usage);
    return (Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) * 1000 +
           (Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1000;
}

TEST_F(DSTCPServerTest, AcceptWithoutDescriptorsWaitsInsteadOfSpinningAndRecovers) {
    TSocketClient First = Connected();
    rlimit Saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &Saved), 0);
    rlimit Low = Saved;
    Low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &Low), 0);
    // No descriptor is left for the server's next accept.
    std::vector<int> Filler;
    for (int Fd = ::dup(0); Fd >= 0; Fd = ::dup(0))
        Filler.push_back(Fd);
    // The client socket below needs one: give one back, then take the slot
    // again once the client is connected.
    ::close(Filler.back());
    Filler.pop_back();
    TSocketClient Waiting(Port());
    for (int Fd = ::dup(0); Fd >= 0; Fd = ::dup(0))
        Filler.push_back(Fd);
    const long Before = ProcessCpuMilliseconds();
    std::this_thread::sleep_for(500ms);
    const long Used = ProcessCpuMilliseconds() - Before;
    for (int Fd : Filler)
        ::close(Fd);
    ::setrlimit(RLIMIT_NOFILE, &Saved);
    // A listener that spins on the pending connection burns the whole half
    // second; waiting 100 ms between tries costs next to nothing.
    EXPECT_LT(Used, 150);
    Waiting.Send(TxEnd);
    EXPECT_EQ(Waiting.Receive(TxEndReply.size()), TxEndReply);
    First.Send(TxEnd);
    EXPECT_EQ(First.Receive(TxEndReply.size()), TxEndReply);
}

} // namespace
} // namespace kds
