#include "server/DSCallbackTunnel.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "data/DBXJSON.h"
#include "server/DSCallbackRepository.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using TItem = TDSCallbackTunnel::TItem;
using TWaitResult = TDSCallbackTunnel::TWaitResult;
using TKind = TDSCallbackTunnel::TKind;
using TAccess = TDSCallbackRepository::TAccess;
using namespace std::chrono_literals;

std::shared_ptr<const TJSONValue> Text(const std::u16string& Value) {
    return std::make_shared<TJSONString>(Value);
}

TItem Broadcast(const std::u16string& Value) {
    return TDSCallbackTunnelBufferItem::Broadcast(Text(Value), 1);
}

TItem Targeted(const std::u16string& CallbackId, const std::u16string& Value) {
    return TDSCallbackTunnelBufferItem::Targeted(CallbackId, Text(Value), 1);
}

std::u16string MessageOf(const TItem& Item) {
    return Item && Item->Msg() ? Item->Msg()->Value() : u"<none>";
}

// A connected socket pair: Watched stands for the server's end of a
// terminal's connection, Peer for the terminal.
struct TSocketPair {
    TSocketPair() {
        int Fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fds), 0);
        Watched = Fds[0];
        Peer = Fds[1];
    }
    ~TSocketPair() {
        close(Watched);
        if (Peer >= 0)
            close(Peer);
    }
    void ClosePeer() {
        close(Peer);
        Peer = -1;
    }
    int Watched = -1;
    int Peer = -1;
};

// --- Queue -------------------------------------------------------------------------

TEST(TDSCallbackTunnelTest, HoldsQueueSizeItemsInOrderAndRefusesTheNextAtOnce) {
    TDSCallbackTunnel Tunnel(u"t1", u"tok", 3);
    EXPECT_TRUE(Tunnel.Push(Broadcast(u"a")));
    EXPECT_TRUE(Tunnel.Push(Broadcast(u"b")));
    EXPECT_TRUE(Tunnel.Push(Broadcast(u"c")));
    EXPECT_FALSE(Tunnel.Push(Broadcast(u"d")));
    EXPECT_EQ(Tunnel.QueuedCount(), 3);
    // The close message always has room, even in a full queue, and comes last.
    EXPECT_TRUE(Tunnel.PushClose());
    EXPECT_TRUE(Tunnel.PushClose());
    EXPECT_FALSE(Tunnel.Push(Broadcast(u"e")));
    std::vector<std::u16string> Taken;
    for (;;) {
        TItem Item;
        ASSERT_EQ(Tunnel.Pop(Item, 0), TWaitResult::Item);
        if (Item->IsClose())
            break;
        Taken.push_back(MessageOf(Item));
    }
    EXPECT_EQ(Taken, (std::vector<std::u16string>{u"a", u"b", u"c"}));
    TItem Item;
    EXPECT_EQ(Tunnel.Pop(Item, 0), TWaitResult::TimedOut);
}

TEST(TDSCallbackTunnelTest, AQueueSizeOfZeroOrLessHolds255) {
    for (int32_t Size : {0, -5}) {
        TDSCallbackTunnel Tunnel(u"t1", u"", Size);
        EXPECT_EQ(Tunnel.QueueSize(), 255);
        for (int I = 0; I < 255; ++I)
            ASSERT_TRUE(Tunnel.Push(Broadcast(u"x")));
        EXPECT_FALSE(Tunnel.Push(Broadcast(u"x")));
    }
}

TEST(TDSCallbackTunnelTest, AFullQueueRefusesWithoutWaiting) {
    // The window thread broadcasts under the repository's lock: a tunnel
    // whose consumer never takes anything must not hold it up at all. A
    // push that waited 10 ms when full would need 10 s here.
    TDSCallbackTunnel Tunnel(u"t1", u"", 1);
    ASSERT_TRUE(Tunnel.Push(Broadcast(u"x")));
    const auto Start = std::chrono::steady_clock::now();
    for (int I = 0; I < 1000; ++I)
        ASSERT_FALSE(Tunnel.Push(Broadcast(u"y")));
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 1s);
}

TEST(TDSCallbackTunnelTest, CallbackIdsAreExactAndWithoutDuplicates) {
    TDSCallbackTunnel Tunnel(u"Client", u"tok", 10);
    EXPECT_TRUE(Tunnel.IsClient(u"cLIENT"));
    EXPECT_FALSE(Tunnel.IsClient(u"Client2"));
    EXPECT_TRUE(Tunnel.AddCallbackId(u"cb1"));
    EXPECT_FALSE(Tunnel.AddCallbackId(u"cb1"));
    EXPECT_TRUE(Tunnel.AddCallbackId(u"CB1"));
    EXPECT_EQ(Tunnel.CallbackIds(), (std::vector<std::u16string>{u"cb1", u"CB1"}));
    bool NoneLeft = true;
    EXPECT_FALSE(Tunnel.RemoveCallbackId(u"cb2", NoneLeft));
    EXPECT_FALSE(NoneLeft);
    EXPECT_TRUE(Tunnel.RemoveCallbackId(u"cb1", NoneLeft));
    EXPECT_FALSE(NoneLeft);
    EXPECT_TRUE(Tunnel.RemoveCallbackId(u"CB1", NoneLeft));
    EXPECT_TRUE(NoneLeft);
}

// --- End of a tunnel ------------------------------------------------------------------

TEST(TDSCallbackTunnelTest, ShutDownCompletesWaitingSendersAsFailedAndRefusesMore) {
    TDSCallbackTunnel Tunnel(u"t1", u"", 10);
    const TItem First = Targeted(u"cb1", u"one");
    const TItem Second = Targeted(u"cb1", u"two");
    ASSERT_TRUE(Tunnel.Push(Broadcast(u"b")));
    ASSERT_TRUE(Tunnel.Push(First));
    ASSERT_TRUE(Tunnel.Push(Second));
    // A sender waiting without limit on the second item.
    std::atomic<bool> Woken{false};
    std::thread Sender([&] {
        EXPECT_TRUE(Second->WaitForResponse(-1));
        Woken = true;
    });
    Tunnel.ShutDown();
    Sender.join();
    EXPECT_TRUE(Woken);
    EXPECT_TRUE(First->Completed());
    EXPECT_TRUE(First->Failed());
    EXPECT_TRUE(Second->Failed());
    EXPECT_EQ(Second->TakeResponse(), nullptr);
    EXPECT_EQ(Tunnel.QueuedCount(), 0);
    EXPECT_FALSE(Tunnel.Push(Broadcast(u"late")));
    EXPECT_FALSE(Tunnel.PushClose());
    TItem Item;
    EXPECT_EQ(Tunnel.Pop(Item, -1), TWaitResult::ShutDown);
}

TEST(TDSCallbackTunnelTest, DestroyingATunnelCompletesWhatItStillHolds) {
    const TItem Queued = Targeted(u"cb1", u"queued");
    const TItem HandedOut = Targeted(u"cb1", u"handed out");
    {
        TDSCallbackTunnel Tunnel(u"t1", u"", 10, TKind::Polled);
        ASSERT_TRUE(Tunnel.Push(Queued));
        Tunnel.SetHandedOut(HandedOut);
    }
    EXPECT_TRUE(Queued->Failed());
    EXPECT_TRUE(HandedOut->Failed());
}

TEST(TDSCallbackTunnelTest, ShutDownWakesAConsumerWaitingWithoutLimit) {
    for (const bool WithWatch : {false, true}) {
        SCOPED_TRACE(WithWatch ? "sleeping in poll" : "sleeping on the condition");
        TSocketPair Socket;
        TDSCallbackTunnel Tunnel(u"t1", u"", 10);
        std::atomic<int> Result{-1};
        std::thread Consumer([&] {
            TItem Item;
            Result = static_cast<int>(Tunnel.Pop(Item, -1, WithWatch ? Socket.Watched : -1));
        });
        std::this_thread::sleep_for(20ms);
        Tunnel.ShutDown();
        Consumer.join();
        EXPECT_EQ(Result, static_cast<int>(TWaitResult::ShutDown));
    }
}

// --- Rendezvous of a targeted item ----------------------------------------------------------

TEST(TDSCallbackTunnelBufferItemTest, TheFirstCompletionWinsAndWakesTheSender) {
    const TItem Item = Targeted(u"cb1", u"ping");
    EXPECT_FALSE(Item->WaitForResponse(1));
    std::thread Consumer([Item] {
        std::this_thread::sleep_for(10ms);
        Item->Complete(std::make_unique<TJSONString>(u"pong"), false);
    });
    EXPECT_TRUE(Item->WaitForResponse(-1));
    Consumer.join();
    Item->Complete(std::make_unique<TJSONString>(u"again"), true);
    EXPECT_FALSE(Item->Failed());
    const auto Response = Item->TakeResponse();
    ASSERT_NE(Response, nullptr);
    EXPECT_EQ(Response->Value(), u"pong");
}

TEST(TDSCallbackTunnelBufferItemTest, ASenderThatGaveUpLeavesTheItemToTheConsumer) {
    TDSCallbackTunnel Tunnel(u"t1", u"", 10);
    {
        const TItem Item = Targeted(u"cb1", u"ping");
        ASSERT_TRUE(Tunnel.Push(Item));
        EXPECT_FALSE(Item->WaitForResponse(1));
        // The sender lets go here; the tunnel still holds the item.
    }
    TItem Item;
    ASSERT_EQ(Tunnel.Pop(Item, 0), TWaitResult::Item);
    Item->Complete(std::make_unique<TJSONString>(u"late answer"), false);
    EXPECT_EQ(Item.use_count(), 1);
}

// --- Waking the consumer ---------------------------------------------------------------------

class TDSCallbackTunnelWakeTest : public ::testing::TestWithParam<bool> {};

TEST_P(TDSCallbackTunnelWakeTest, EveryPushWakesTheConsumerWithoutLosingOne) {
    // Each item is pushed only once the consumer has taken the one before,
    // so most pushes meet a consumer that has just found the queue empty and
    // is about to sleep: a push that slipped between its look and its sleep
    // would leave it sleeping for ever (the wait has no limit).
    TSocketPair Socket;
    TDSCallbackTunnel Tunnel(u"t1", u"", 4);
    constexpr int Count = 2000;
    std::atomic<int> Taken{0};
    std::thread Consumer([&] {
        for (int I = 0; I < Count; ++I) {
            TItem Item;
            ASSERT_EQ(Tunnel.Pop(Item, -1, GetParam() ? Socket.Watched : -1), TWaitResult::Item);
            ASSERT_EQ(MessageOf(Item), std::u16string(u"m") + char16_t(u'0' + I % 10));
            Taken = I + 1;
        }
    });
    for (int I = 0; I < Count; ++I) {
        ASSERT_TRUE(Tunnel.Push(Broadcast(std::u16string(u"m") + char16_t(u'0' + I % 10))));
        while (Taken.load() <= I)
            std::this_thread::yield();
    }
    Consumer.join();
    EXPECT_EQ(Taken, Count);
}

INSTANTIATE_TEST_SUITE_P(Sleeps, TDSCallbackTunnelWakeTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& Info) {
                             return Info.param ? std::string("InPollWithAWatchedSocket")
                                               : std::string("OnTheCondition");
                         });

// What the terminal does while its connection is watched, and what the
// waiting consumer then answers.
struct TWatchCase {
    std::string Name;
    void (*PeerDoes)(TSocketPair&);
    TWaitResult Expected;
};

class TDSCallbackTunnelWatchTest : public ::testing::TestWithParam<TWatchCase> {};

TEST_P(TDSCallbackTunnelWatchTest, TellsAHangUpFromAQuietOrTalkingPeer) {
    TSocketPair Socket;
    TDSCallbackTunnel Tunnel(u"t1", u"", 10);
    std::atomic<int> Result{-1};
    std::thread Consumer([&] {
        TItem Item;
        Result = static_cast<int>(Tunnel.Pop(Item, 300, Socket.Watched));
    });
    std::this_thread::sleep_for(20ms);
    GetParam().PeerDoes(Socket);
    Consumer.join();
    EXPECT_EQ(Result, static_cast<int>(GetParam().Expected));
}

INSTANTIATE_TEST_SUITE_P(
    Peers, TDSCallbackTunnelWatchTest,
    ::testing::Values(TWatchCase{"StaysQuiet", [](TSocketPair&) {}, TWaitResult::TimedOut},
                      TWatchCase{"ClosesItsSocket", [](TSocketPair& S) { S.ClosePeer(); },
                                 TWaitResult::ConnectionLost},
                      TWatchCase{"ShutsItsSendingSideDown",
                                 [](TSocketPair& S) { shutdown(S.Peer, SHUT_WR); },
                                 TWaitResult::ConnectionLost},
                      // Bytes nobody has read yet: the socket cannot show a hang-up behind
                      // them, so the consumer stops watching and goes on waiting.
                      TWatchCase{"SendsDataAndThenCloses",
                                 [](TSocketPair& S) {
                                     ASSERT_EQ(send(S.Peer, "x", 1, MSG_NOSIGNAL), 1);
                                     std::this_thread::sleep_for(20ms);
                                     S.ClosePeer();
                                 },
                                 TWaitResult::TimedOut}),
    test::TCaseName());

TEST(TDSCallbackTunnelTest, AWatchingConsumerStillGetsItsMessages) {
    TSocketPair Socket;
    TDSCallbackTunnel Tunnel(u"t1", u"", 10);
    std::thread Producer([&] {
        std::this_thread::sleep_for(20ms);
        Tunnel.Push(Broadcast(u"reset"));
    });
    TItem Item;
    EXPECT_EQ(Tunnel.Pop(Item, 5000, Socket.Watched), TWaitResult::Item);
    EXPECT_EQ(MessageOf(Item), u"reset");
    Producer.join();
}

// --- Polling state -------------------------------------------------------------------------

TEST(TDSCallbackTunnelTest, OnePollAtATimeAndALostReplyIsHandedOutAgainFirst) {
    const auto T0 = TDSCallbackTunnel::TClock::time_point{} + 1h;
    TDSCallbackTunnel Tunnel(u"t1", u"", 10, TKind::Polled, T0);
    ASSERT_TRUE(Tunnel.BeginPoll());
    EXPECT_FALSE(Tunnel.BeginPoll());
    EXPECT_FALSE(Tunnel.IdleLongerThan(T0 + 1h, 1min));
    ASSERT_TRUE(Tunnel.Push(Broadcast(u"first")));
    ASSERT_TRUE(Tunnel.Push(Broadcast(u"second")));
    TItem Item;
    ASSERT_EQ(Tunnel.Pop(Item, 0), TWaitResult::Item);
    Tunnel.SetHandedOut(Item);
    Tunnel.EndPoll(T0 + 1s);
    EXPECT_FALSE(Tunnel.IdleLongerThan(T0 + 1s + 1min, 1min));
    EXPECT_TRUE(Tunnel.IdleLongerThan(T0 + 1s + 1min + 1ms, 1min));

    // The reply carrying "first" was lost: the next poll gets it again.
    Tunnel.HandOutAgain(Item);
    EXPECT_EQ(Tunnel.TakeHandedOut(), nullptr);
    ASSERT_TRUE(Tunnel.BeginPoll());
    TItem Again;
    ASSERT_EQ(Tunnel.Pop(Again, 0), TWaitResult::Item);
    EXPECT_EQ(MessageOf(Again), u"first");
    // Only the item still remembered is handed out again.
    Tunnel.HandOutAgain(Item);
    TItem Next;
    ASSERT_EQ(Tunnel.Pop(Next, 0), TWaitResult::Item);
    EXPECT_EQ(MessageOf(Next), u"second");
}

// --- Repository ------------------------------------------------------------------------------

class TDSCallbackRepositoryTest : public ::testing::Test {
protected:
    TDSCallbackRepository::TTunnelPtr Create(const std::u16string& Channel,
                                             const std::u16string& Client,
                                             const std::u16string& CallbackId = u"cb1",
                                             TKind Kind = TKind::Connected) {
        return Repository.CreateTunnel(Channel, Client, CallbackId, u"tok", 100, Kind);
    }

    TDSCallbackRepository Repository;
};

TEST_F(TDSCallbackRepositoryTest, AClientHasOneTunnelPerChannelWhateverTheCaseOfItsId) {
    const auto First = Create(u"KDSChannel", u"t1");
    ASSERT_NE(First, nullptr);
    EXPECT_TRUE(First->HasCallbackId(u"cb1"));
    EXPECT_EQ(Create(u"KDSChannel", u"T1"), nullptr);
    // Channel names are exact: another channel, another tunnel.
    EXPECT_NE(Create(u"kdschannel", u"t1"), nullptr);
    EXPECT_EQ(Repository.TunnelCount(u"KDSChannel"), 1);
    EXPECT_EQ(Repository.FindTunnel(u"KDSChannel", u"T1"), First);
    EXPECT_EQ(Repository.FindTunnel(u"KDSChannel", u"t1", u"cb2"), nullptr);
    EXPECT_EQ(Repository.FindTunnel(u"KDSChannel", u"t1", u"cb1"), First);
    // Once out of the list, the id may subscribe again.
    EXPECT_TRUE(Repository.RemoveTunnel(u"KDSChannel", *First));
    EXPECT_FALSE(Repository.RemoveTunnel(u"KDSChannel", *First));
    EXPECT_NE(Create(u"KDSChannel", u"T1"), nullptr);
}

TEST_F(TDSCallbackRepositoryTest, BroadcastAnswersTrueOnlyWhenEveryTunnelTookTheMessage) {
    EXPECT_FALSE(Repository.Broadcast(u"KDSChannel", Broadcast(u"reset")));
    const auto A = Create(u"KDSChannel", u"a");
    const auto Full =
        Repository.CreateTunnel(u"KDSChannel", u"full", u"cb1", u"tok", 1, TKind::Connected);
    const auto B = Create(u"KDSChannel", u"b");
    EXPECT_TRUE(Repository.Broadcast(u"KDSChannel", Broadcast(u"one")));
    EXPECT_FALSE(Repository.Broadcast(u"KDSChannel", Broadcast(u"two")));
    EXPECT_EQ(A->QueuedCount(), 2);
    EXPECT_EQ(B->QueuedCount(), 2);
    EXPECT_EQ(Full->QueuedCount(), 1);
    // The channel's entry stays when its list empties: still nobody to tell.
    for (const auto& T : {A, Full, B})
        Repository.RemoveTunnel(u"KDSChannel", *T);
    EXPECT_TRUE(Repository.HasChannel(u"KDSChannel"));
    EXPECT_FALSE(Repository.Broadcast(u"KDSChannel", Broadcast(u"three")));
}

TEST_F(TDSCallbackRepositoryTest, ATunnelThatHasEndedIsTakenOutOfItsChannelByTheNextBroadcast) {
    const auto Ended = Create(u"KDSChannel", u"a");
    Ended->ShutDown();
    EXPECT_FALSE(Repository.Broadcast(u"KDSChannel", Broadcast(u"reset")));
    EXPECT_EQ(Repository.TunnelCount(u"KDSChannel"), 0);
}

TEST_F(TDSCallbackRepositoryTest, TargetedBroadcastReachesOnlyTheTunnelsHoldingTheId) {
    const auto A = Create(u"KDSChannel", u"a", u"x");
    const auto B = Create(u"KDSChannel", u"b", u"y");
    EXPECT_TRUE(Repository.BroadcastTo(u"KDSChannel", u"y", Targeted(u"y", u"hello")));
    EXPECT_EQ(A->QueuedCount(), 0);
    EXPECT_EQ(B->QueuedCount(), 1);
    EXPECT_FALSE(Repository.BroadcastTo(u"KDSChannel", u"z", Targeted(u"z", u"nobody")));
    EXPECT_FALSE(Repository.BroadcastTo(u"Other", u"y", Targeted(u"y", u"nobody")));
}

TEST_F(TDSCallbackRepositoryTest, CallbackIdsAreChangedOnlyWithTheTunnelsToken) {
    const auto Tunnel = Create(u"KDSChannel", u"t1");
    EXPECT_EQ(Repository.AddCallbackId(u"KDSChannel", u"T1", u"cb2", u"TOK"), TAccess::Denied);
    EXPECT_EQ(Repository.AddCallbackId(u"KDSChannel", u"nobody", u"cb2", u"tok"),
              TAccess::NotFound);
    EXPECT_EQ(Repository.AddCallbackId(u"KDSChannel", u"T1", u"cb2", u"tok"), TAccess::Done);
    EXPECT_EQ(Repository.AddCallbackId(u"KDSChannel", u"T1", u"cb2", u"tok"), TAccess::Unchanged);
    EXPECT_EQ(Repository.CallbackIds(u"KDSChannel"), (std::vector<std::u16string>{u"cb1", u"cb2"}));
    EXPECT_EQ(Repository.RemoveCallbackId(u"KDSChannel", u"t1", u"cb1", u"bad"), TAccess::Denied);
    EXPECT_EQ(Repository.RemoveCallbackId(u"KDSChannel", u"t1", u"cb9", u"tok"),
              TAccess::Unchanged);
    EXPECT_EQ(Repository.RemoveCallbackId(u"KDSChannel", u"t1", u"cb1", u"tok"), TAccess::Done);
    EXPECT_TRUE(Repository.HasClient(u"KDSChannel", u"t1"));
    // The last id goes: the tunnel leaves the channel and gets the close.
    ASSERT_TRUE(Tunnel->Push(Broadcast(u"before")));
    EXPECT_EQ(Repository.RemoveCallbackId(u"KDSChannel", u"t1", u"cb2", u"tok"), TAccess::Done);
    EXPECT_FALSE(Repository.HasClient(u"KDSChannel", u"t1"));
    TItem Item;
    ASSERT_EQ(Tunnel->Pop(Item, 0), TWaitResult::Item);
    EXPECT_EQ(MessageOf(Item), u"before");
    ASSERT_EQ(Tunnel->Pop(Item, 0), TWaitResult::Item);
    EXPECT_TRUE(Item->IsClose());
}

TEST_F(TDSCallbackRepositoryTest, ClosingATunnelHandsTheCloseToItsConsumerOrEndsItAtOnce) {
    const auto Later = Create(u"KDSChannel", u"later");
    const auto Now = Create(u"KDSChannel", u"now");
    const TItem Waiting = Targeted(u"cb1", u"ping");
    ASSERT_TRUE(Repository.Broadcast(u"KDSChannel", Broadcast(u"reset")));
    ASSERT_TRUE(Now->Push(Waiting));
    EXPECT_EQ(Repository.CloseTunnel(u"KDSChannel", u"later", u"Tok", false), TAccess::Denied);
    EXPECT_EQ(Repository.CloseTunnel(u"KDSChannel", u"later", u"tok", false), TAccess::Done);
    EXPECT_EQ(Repository.CloseTunnel(u"KDSChannel", u"NOW", u"tok", true), TAccess::Done);
    EXPECT_EQ(Repository.CloseTunnel(u"KDSChannel", u"now", u"tok", true), TAccess::NotFound);
    EXPECT_EQ(Repository.ClientIds(u"KDSChannel"), std::vector<std::u16string>{});

    TItem Item;
    ASSERT_EQ(Later->Pop(Item, 0), TWaitResult::Item);
    EXPECT_EQ(MessageOf(Item), u"reset");
    ASSERT_EQ(Later->Pop(Item, 0), TWaitResult::Item);
    EXPECT_TRUE(Item->IsClose());
    EXPECT_EQ(Now->Pop(Item, 0), TWaitResult::ShutDown);
    EXPECT_TRUE(Waiting->Failed());
}

TEST_F(TDSCallbackRepositoryTest, APollingTunnelNobodyPollsExpires) {
    auto Now = TDSCallbackRepository::TClock::time_point{} + 24h;
    Repository.SetClock([&] { return Now; });
    const auto Idle = Create(u"KDSChannel", u"idle", u"cb1", TKind::Polled);
    const auto Polling = Create(u"KDSChannel", u"polling", u"cb1", TKind::Polled);
    const auto Connected = Create(u"KDSChannel", u"connected");
    ASSERT_TRUE(Polling->BeginPoll());
    const TItem Waiting = Targeted(u"cb1", u"ping");
    ASSERT_TRUE(Idle->Push(Waiting));

    Now += TDSCallbackRepository::DefaultPollIdleLimit;
    EXPECT_TRUE(Repository.Broadcast(u"KDSChannel", Broadcast(u"reset")));
    EXPECT_EQ(Repository.TunnelCount(u"KDSChannel"), 3);

    Now += 1ms;
    Repository.Broadcast(u"KDSChannel", Broadcast(u"reset"));
    EXPECT_EQ(Repository.ClientIds(u"KDSChannel"),
              (std::vector<std::u16string>{u"polling", u"connected"}));
    EXPECT_TRUE(Idle->IsShutDown());
    EXPECT_TRUE(Waiting->Failed());

    // Making a tunnel on any channel sweeps too.
    Polling->EndPoll(Now);
    Repository.SetPollIdleLimit(1s);
    Now += 2s;
    EXPECT_NE(Create(u"Other", u"new"), nullptr);
    EXPECT_EQ(Repository.ClientIds(u"KDSChannel"), std::vector<std::u16string>{u"connected"});
}

TEST_F(TDSCallbackRepositoryTest, ShutDownEndsEveryTunnelAndEmptiesTheRepository) {
    const auto A = Create(u"KDSChannel", u"a");
    const auto B = Create(u"Other", u"b");
    std::weak_ptr<TDSCallbackTunnel> Unheld = Create(u"Other", u"c", u"cb1", TKind::Polled);
    Repository.ShutDown();
    EXPECT_TRUE(A->IsShutDown());
    EXPECT_TRUE(B->IsShutDown());
    EXPECT_TRUE(Unheld.expired());
    EXPECT_FALSE(Repository.HasChannel(u"KDSChannel"));
    EXPECT_FALSE(Repository.Broadcast(u"KDSChannel", Broadcast(u"reset")));
}

TEST_F(TDSCallbackRepositoryTest, EveryBroadcastWakesEveryConsumerWithoutLosingOne) {
    // The broadcast only queues and another thread wakes the consumers; each
    // broadcast waits until both consumers (one on the condition, one in
    // poll with a watched socket) took the one before, so most wake-ups
    // meet a consumer on its way to sleep. A lost one hangs a consumer.
    TSocketPair Socket;
    const auto OnCondition = Create(u"KDSChannel", u"a");
    const auto InPoll = Create(u"KDSChannel", u"b");
    constexpr int Count = 2000;
    std::atomic<int> TakenA{0}, TakenB{0};
    auto Consume = [&](TDSCallbackTunnel& Tunnel, int Watch, std::atomic<int>& Taken) {
        for (int I = 0; I < Count; ++I) {
            TItem Item;
            ASSERT_EQ(Tunnel.Pop(Item, 10000, Watch), TWaitResult::Item) << "message " << I;
            Taken = I + 1;
        }
    };
    std::thread A([&] { Consume(*OnCondition, -1, TakenA); });
    std::thread B([&] { Consume(*InPoll, Socket.Watched, TakenB); });
    // A consumer that fails ends by its own time limit; the loop then stops.
    const auto Deadline = std::chrono::steady_clock::now() + 60s;
    for (int I = 0; I < Count && std::chrono::steady_clock::now() < Deadline; ++I) {
        EXPECT_TRUE(Repository.Broadcast(u"KDSChannel", Broadcast(u"reset")));
        while ((TakenA.load() <= I || TakenB.load() <= I) &&
               std::chrono::steady_clock::now() < Deadline)
            std::this_thread::yield();
    }
    A.join();
    B.join();
    EXPECT_EQ(TakenA, Count);
    EXPECT_EQ(TakenB, Count);
}

} // namespace
} // namespace kds
