#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ChannelTestSupport.h"
#include "data/DBXJSON.h"
#include "server/DSAdmin.h"
#include "server/DSCallbackRepository.h"
#include "server/DSServerConnectionHandler.h"
#include "server/KDSServerContainerUnit.h"
#include "support/ExpectError.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using test::BooleanRow;
using test::Bytes;
using test::CallbackAnswer;
using test::Concat;
using test::ExecuteRequest;
using test::IntField;
using test::JsonField;
using test::JsonResult;
using test::NullField;
using test::ReplyRow;
using test::ResetCallback;
using test::TBytes;
using test::TextField;
using test::WaitFor;
using namespace std::chrono_literals;

std::string Text(const TBytes& Bytes) {
    return std::string(Bytes.begin(), Bytes.end());
}

TBytes Reply(const TBytes& Row) {
    return Concat(
        {Bytes("{\"result\":[{\"data\":[" + std::to_string(Row.size()) + ","), Row, Bytes("]}]}")});
}

TBytes CloseRow(const std::string& Id, const std::string& Token) {
    return Concat({TextField("KDSChannel"), TextField(Id), TextField(Token)});
}

// The subscriber's callback data for a message, as JSON text.
std::string CallbackOf(const std::string& Data) {
    return "{\"callback\":[" + std::to_string(Data.size()) + "," + Data + "]}";
}

// A terminal on a thread that answers every callback at once, counting them.
class TAnsweringTerminal {
public:
    explicit TAnsweringTerminal(test::TChannelFixture::TConnection Connection)
        : FConnection(std::move(Connection)), FThread([this] {
              for (;;) {
                  const std::string Message = FConnection->Peer().ReadText(200);
                  if (Message.empty()) {
                      if (FStop)
                          return;
                      continue;
                  }
                  if (Message.rfind("{\"callback\":", 0) == 0) {
                      FConnection->Peer().Send(CallbackAnswer);
                      ++FCallbacks;
                  } else {
                      FLastOther = Message;
                      ++FOthers;
                  }
              }
          }) {}
    ~TAnsweringTerminal() {
        FStop = true;
        FThread.join();
    }
    int Callbacks() const { return FCallbacks; }
    int Others() const { return FOthers; }

private:
    test::TChannelFixture::TConnection FConnection;
    std::atomic<bool> FStop{false};
    std::atomic<int> FCallbacks{0};
    std::atomic<int> FOthers{0};
    std::string FLastOther;
    std::thread FThread;
};

class DSChannelTest : public ::testing::Test {
protected:
    test::TChannelFixture F;
    TDSServer& Server() { return F.Server(); }
};

// --- Broadcast and the push form --------------------------------------------------------

TEST_F(DSChannelTest, AResetWithNobodySubscribedAnswersFalseAndSendsNothing) {
    auto Idle = F.Connect();
    auto Elsewhere = F.Subscribe(u"OtherChannel", "t1");
    EXPECT_FALSE(BroadcastReset(Server()));
    EXPECT_FALSE(Idle->Peer().HasData(50));
    EXPECT_FALSE(Elsewhere->Peer().HasData(0));
}

TEST_F(DSChannelTest, ASubscriberGetsEveryResetAsOneCallbackUntilItsTunnelIsClosed) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    // While subscribed the execute gets no reply.
    EXPECT_FALSE(T1->Peer().HasData(20));
    for (int Press = 0; Press < 2; ++Press) {
        EXPECT_TRUE(BroadcastReset(Server()));
        EXPECT_EQ(T1->Peer().ReadText(), ResetCallback);
        T1->Peer().Send(CallbackAnswer);
    }
    const TBytes Refused = F.Call("DSAdmin.CloseClientChannel", CloseRow("t1", "bad"));
    EXPECT_EQ(Refused, Reply(BooleanRow(3, false)));
    EXPECT_TRUE(Server().HasChannelCallback(u"KDSChannel", u"t1"));
    EXPECT_FALSE(T1->Peer().HasData(20));

    const TBytes Closed = F.Call("DSAdmin.CloseClientChannel", CloseRow("t1", "tok"));
    EXPECT_EQ(Closed, Reply(BooleanRow(3, true)));
    EXPECT_EQ(T1->Peer().ReadMessage(), Concat({Bytes("{\"result\":[{\"data\":[6,"),
                                                test::Hex("C0 C0 C0 C0 C0 60"), Bytes("]}]}")}));
    EXPECT_FALSE(Server().HasChannelCallback(u"KDSChannel", u"t1"));
    // The connection is free again and goes on serving.
    T1->Peer().Send(ExecuteRequest("DSAdmin.GetPlatformName", {}));
    EXPECT_EQ(Text(ReplyRow(T1->Peer().ReadMessage())), "\x25win32");
}

TEST_F(DSChannelTest, TheSameClientIdIsRefusedAtOnceInAnyCaseButAnotherChannelIsAnother) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    auto Again = F.Connect();
    Again->Peer().Send(
        ExecuteRequest("DSAdmin.ConnectClientChannel",
                       test::TChannelFixture::SubscribeRow("KDSChannel", "T1", "cb9", "tok")));
    EXPECT_EQ(Again->Peer().ReadMessage(), Reply(BooleanRow(5, false)));
    auto Lower = F.Subscribe(u"kdschannel", "t1");
    EXPECT_EQ(Server().CallbackRepository().TunnelCount(u"kdschannel"), 1);
    EXPECT_EQ(Server().CallbackRepository().TunnelCount(u"KDSChannel"), 1);
    // A reset goes to "KDSChannel" only.
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(T1->Peer().ReadText(), ResetCallback);
    EXPECT_FALSE(Lower->Peer().HasData(20));
}

TEST_F(DSChannelTest, ASubscriberThatNeverAnswersHoldsUpNeitherTheOthersNorTheBroadcast) {
    auto Stuck = F.Subscribe(u"KDSChannel", "stuck");
    TAnsweringTerminal A(F.Subscribe(u"KDSChannel", "a"));
    TAnsweringTerminal B(F.Subscribe(u"KDSChannel", "b"));

    EXPECT_TRUE(BroadcastReset(Server()));
    // The stuck terminal reads its first callback and never answers: its
    // connection thread waits inside that callback from now on.
    EXPECT_EQ(Stuck->Peer().ReadText(), ResetCallback);
    ASSERT_TRUE(WaitFor([&] { return A.Callbacks() == 1 && B.Callbacks() == 1; }));

    // 100 more fill the stuck terminal's queue; the others get every one.
    for (int I = 2; I <= 101; ++I) {
        ASSERT_TRUE(BroadcastReset(Server())) << "broadcast " << I;
        ASSERT_TRUE(WaitFor([&] { return A.Callbacks() == I && B.Callbacks() == I; }));
    }
    // The 102nd is dropped for the stuck one only, at once.
    const auto Start = std::chrono::steady_clock::now();
    EXPECT_FALSE(BroadcastReset(Server()));
    EXPECT_FALSE(BroadcastReset(Server()));
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 10ms);
    EXPECT_TRUE(WaitFor([&] { return A.Callbacks() == 103 && B.Callbacks() == 103; }));
    EXPECT_EQ(Server().CallbackRepository().TunnelCount(u"KDSChannel"), 3);
}

TEST_F(DSChannelTest, AnIdleSubscriberThatHangsUpLeavesTheChannelAtOnceAndMaySubscribeAgain) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    const auto Start = std::chrono::steady_clock::now();
    T1->Peer().HangUp();
    ASSERT_TRUE(WaitFor([&] { return !Server().HasChannelCallback(u"KDSChannel", u"t1"); }, 1000));
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 1s);
    EXPECT_TRUE(T1->Ended(1000));

    // The terminal is back after the drop, with the same id.
    auto Back = F.Subscribe(u"KDSChannel", "t1");
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(Back->Peer().ReadText(), ResetCallback);
}

TEST_F(DSChannelTest, ACallbackAnsweredWronglyEndsTheSubscriptionWithTheError) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(T1->Peer().ReadText(), ResetCallback);
    T1->Peer().Send("{\"x\":[1]}");
    EXPECT_EQ(T1->Peer().ReadText(), "{\"error\":{\"name\":\"TDBXError\",\"code\":32,"
                                     "\"message\":\"Remote error: Invalid callback message "
                                     "format\"}");
    EXPECT_FALSE(Server().HasChannelCallback(u"KDSChannel", u"t1"));
}

struct TTimeoutCase {
    std::string Name;
    int64_t Timeout;
    bool EndsAtOnce;
};

class DSChannelTimeoutTest : public DSChannelTest,
                             public ::testing::WithParamInterface<TTimeoutCase> {};

TEST_P(DSChannelTimeoutTest, TheTimeoutFormEndsOnlyWhenNoMessageCameInTime) {
    auto T1 = F.Connect();
    T1->Peer().Send(ExecuteRequest(
        "DSAdmin.ConnectClientChannelTimeout",
        Concat({test::TChannelFixture::SubscribeRow("KDSChannel", "t1", "cb1", "tok"),
                IntField(GetParam().Timeout)})));
    if (GetParam().EndsAtOnce) {
        EXPECT_EQ(T1->Peer().ReadMessage(), Reply(BooleanRow(6, true)));
        EXPECT_FALSE(Server().HasChannelCallback(u"KDSChannel", u"t1"));
        return;
    }
    ASSERT_TRUE(WaitFor([&] { return Server().HasChannelCallback(u"KDSChannel", u"t1"); }));
    // Seconds are turned into milliseconds without overflow: a huge timeout
    // still waits.
    EXPECT_FALSE(T1->Peer().HasData(50));
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(T1->Peer().ReadText(), ResetCallback);
}

INSTANTIATE_TEST_SUITE_P(Timeouts, DSChannelTimeoutTest,
                         ::testing::Values(TTimeoutCase{"Zero", 0, true},
                                           TTimeoutCase{"Largest", 2147483647, false},
                                           TTimeoutCase{"NegativeMeansNever", -1, false}),
                         test::TCaseName());

// --- Polling form ----------------------------------------------------------------------

TBytes PollRow(const std::string& Id, const std::string& CallbackId,
               const TBytes& ResponseData = NullField()) {
    return Concat({TextField("KDSChannel"), TextField(Id), TextField(CallbackId), TextField("tok"),
                   ResponseData});
}

TBytes PollTimeoutRow(const std::string& Id, int64_t Timeout) {
    return Concat({TextField("KDSChannel"), TextField(Id), TextField(""), TextField("tok"),
                   IntField(Timeout), NullField()});
}

TEST_F(DSChannelTest, APollingClientGetsOneMessagePerCall) {
    const TBytes First = F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", "cb1"));
    EXPECT_EQ(ReplyRow(First), Concat({test::Hex("C0 C0 C0 C0 C0 40 00 00 00 25"),
                                       Bytes("{\"invoke\":[\"cb1\",{\"created\":true},1]}")}));
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("P1", "cb2"))),
              "{\"error\":\"KDSChannel:P1:cb2\"}");

    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", ""))),
              "{\"broadcast\":[\"reset\",1]}");
    // Any connection may poll; DSMetadata's methods are the same.
    EXPECT_EQ(JsonResult(F.Call("DSMetadata.ConsumeClientChannel", PollRow("p1", ""))),
              "{\"broadcast\":[\"reset\",1]}");
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannelTimeout", PollTimeoutRow("p1", 0))),
              "{\"timeout\":true}");
    // The timeout ended the tunnel.
    EXPECT_FALSE(Server().HasChannelCallback(u"KDSChannel", u"p1"));
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", ""))),
              "{\"error\":\"KDSChannel:p1\"}");
}

TEST_F(DSChannelTest, ASecondPollOfTheSameClientIsRefusedWhileTheFirstWaits) {
    F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", "cb1"));
    auto Waiting = F.Connect();
    Waiting->Peer().Send(ExecuteRequest("DSAdmin.ConsumeClientChannel", PollRow("p1", "")));
    EXPECT_FALSE(Waiting->Peer().HasData(30));
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", ""))),
              "{\"error\":\"KDSChannel:p1\"}");
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(JsonResult(Waiting->Peer().ReadMessage()), "{\"broadcast\":[\"reset\",1]}");
}

TEST_F(DSChannelTest, ATunnelServedByConnectIsNotPolled) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("t1", ""))),
              "{\"error\":\"KDSChannel:t1\"}");
}

TEST_F(DSChannelTest, AClosedPollingTunnelAnswersCloseToItsPollAndAnExpiredOneIsGone) {
    F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", "cb1"));
    auto Waiting = F.Connect();
    Waiting->Peer().Send(ExecuteRequest("DSAdmin.ConsumeClientChannel", PollRow("p1", "")));
    EXPECT_FALSE(Waiting->Peer().HasData(20));
    EXPECT_EQ(F.Call("DSAdmin.CloseClientChannel", CloseRow("p1", "tok")),
              Reply(BooleanRow(3, true)));
    EXPECT_EQ(JsonResult(Waiting->Peer().ReadMessage()), "{\"close\":true}");

    // Closed between two polls: the tunnel is gone with its close message.
    F.Call("DSAdmin.ConsumeClientChannel", PollRow("p2", "cb1"));
    EXPECT_EQ(F.Call("DSAdmin.CloseClientChannel", CloseRow("p2", "tok")),
              Reply(BooleanRow(3, true)));
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("p2", ""))),
              "{\"error\":\"KDSChannel:p2\"}");

    auto Now = std::chrono::steady_clock::now();
    Server().CallbackRepository().SetClock([&] { return Now; });
    F.Call("DSAdmin.ConsumeClientChannel", PollRow("idle", "cb1"));
    Now += TDSCallbackRepository::DefaultPollIdleLimit + 1s;
    BroadcastReset(Server());
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("idle", ""))),
              "{\"error\":\"KDSChannel:idle\"}");
}

TEST_F(DSChannelTest, APollWhoseTerminalGoesAwayLeavesTheMessageForTheNextPoll) {
    F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", "cb1"));
    auto Gone = F.Connect();
    Gone->Peer().Send(ExecuteRequest("DSAdmin.ConsumeClientChannel", PollRow("p1", "")));
    EXPECT_FALSE(Gone->Peer().HasData(20));
    Gone->Peer().HangUp();
    ASSERT_TRUE(Gone->Ended(1000));
    // The poll gave up without taking anything: the reset waits.
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", ""))),
              "{\"broadcast\":[\"reset\",1]}");
}

// The next handler of a connection whose replies can be made to fail, as
// the output handler's write fails when the terminal has gone.
class TLosingReplies : public test::TRecordingHandler {
public:
    using TRecordingHandler::TRecordingHandler;
    void DbxExecute(TDBXExecuteMessage& Message) override {
        TRecordingHandler::DbxExecute(Message);
        if (LoseNext) {
            LoseNext = false;
            throw TDBXError(TDBXErrorCodes::None, "Connection lost");
        }
    }
    bool LoseNext = false;
};

TEST_F(DSChannelTest, AMessageWhoseReplyIsLostIsHandedOutAgainByTheNextPoll) {
    TLosingReplies Next(Server().DbxContext());
    TDSServerConnectionHandler Handler(Server().DbxContext(), nullptr, &Next, &Server(),
                                       &F.Harness.Transport());
    const int32_t Poll = test::Prepare(Handler, u"DSAdmin.ConsumeClientChannel");
    const auto Consume = [&](const std::string& CallbackId) {
        test::Execute(Handler, Next, Poll, PollRow("p1", CallbackId));
        return Text(Next.LastReplyRow);
    };
    EXPECT_NE(Consume("cb1").find("created"), std::string::npos);
    ASSERT_TRUE(Server().BroadcastMessage(u"KDSChannel", std::make_unique<TJSONString>(u"one")));
    ASSERT_TRUE(Server().BroadcastMessage(u"KDSChannel", std::make_unique<TJSONString>(u"two")));

    Next.LoseNext = true;
    EXPECT_THROW(Consume(""), TDBXError);
    EXPECT_NE(Consume("").find("{\"broadcast\":[\"one\",1]}"), std::string::npos);
    // Delivered this time: the next poll goes on with the next message.
    EXPECT_NE(Consume("").find("{\"broadcast\":[\"two\",1]}"), std::string::npos);
}

// --- Notifications, callback ids, broadcasts by terminals ----------------------------------

TBytes NotifyRow(const std::string& Client, const std::string& CallbackId,
                 const std::string& Json) {
    return Concat({TextField("KDSChannel"), TextField(Client), TextField(CallbackId),
                   JsonField(Json), NullField()});
}

TEST_F(DSChannelTest, NotifyCallbackWaitsForTheSubscribersAnswer) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    auto Sender = F.Connect();
    Sender->Peer().Send(
        ExecuteRequest("DSAdmin.NotifyCallback", NotifyRow("T1", "cb1", "{\"x\":1}")));
    const std::string Invoke = "[4,1,{\"invoke\":[\"cb1\",{\"x\":1},1]}]";
    EXPECT_EQ(T1->Peer().ReadText(), CallbackOf(Invoke));
    EXPECT_FALSE(Sender->Peer().HasData(20));
    T1->Peer().Send("{\"data\":[11,{\"ok\":true}]}");
    EXPECT_EQ(ReplyRow(Sender->Peer().ReadMessage()),
              Concat({test::Hex("C0 C0 C0 C0"), JsonField("{\"ok\":true}"), test::Hex("60")}));
    // An id the tunnel does not hold: false at once.
    EXPECT_EQ(ReplyRow(F.Call("DSAdmin.NotifyCallback", NotifyRow("t1", "cb2", "1"))),
              test::Hex("C0 C0 C0 C0 C0 20"));
}

TEST_F(DSChannelTest, NotifyCallbackToASubscriberThatGoesAwayAnswersFalse) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    auto Sender = F.Connect();
    Sender->Peer().Send(
        ExecuteRequest("DSAdmin.NotifyCallback", NotifyRow("t1", "cb1", "\"ping\"")));
    EXPECT_FALSE(T1->Peer().ReadMessage().empty());
    T1->Peer().HangUp();
    const TBytes Row = ReplyRow(Sender->Peer().ReadMessage());
    ASSERT_FALSE(Row.empty());
    EXPECT_EQ(Row.back(), 0x20);
    EXPECT_EQ(JsonResult(Reply(TBytes(Row.begin() + 4, Row.end() - 1))).rfind("{\"error\":", 0),
              0u);
}

TEST_F(DSChannelTest, ASenderWaitingBehindAStuckDeliveryIsReleasedWhenTheTunnelEnds) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(T1->Peer().ReadText(), ResetCallback);
    // The notification queues behind the callback the terminal never answers.
    std::atomic<int> Answer{-1};
    std::thread Sender([&] {
        std::unique_ptr<TJSONValue> Response;
        Answer = Server().NotifyCallback(u"KDSChannel", u"t1", u"cb1",
                                         std::make_unique<TJSONString>(u"ping"), Response);
    });
    ASSERT_TRUE(WaitFor([&] {
        const auto Tunnel = Server().GetCallbackTunnel(u"KDSChannel", u"t1");
        return Tunnel && Tunnel->QueuedCount() == 1;
    }));
    T1->Peer().HangUp();
    Sender.join();
    EXPECT_EQ(Answer, 0);
    EXPECT_FALSE(Server().HasChannelCallback(u"KDSChannel", u"t1"));
}

TEST_F(DSChannelTest, APollingClientAnswersANotificationWithItsNextPoll) {
    F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", "cb1"));
    std::atomic<bool> Done{false};
    bool Answered = false;
    std::unique_ptr<TJSONValue> Response;
    std::thread Sender([&] {
        Answered = Server().NotifyCallback(u"KDSChannel", u"p1", u"cb1",
                                           std::make_unique<TJSONString>(u"ping"), Response);
        Done = true;
    });
    EXPECT_EQ(JsonResult(F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", ""))),
              "{\"invoke\":[\"cb1\",\"ping\",1]}");
    EXPECT_FALSE(Done);
    // The next poll carries the answer; it then waits for the next message.
    auto Next = F.Connect();
    Next->Peer().Send(
        ExecuteRequest("DSAdmin.ConsumeClientChannel", PollRow("p1", "", JsonField("{\"r\":1}"))));
    Sender.join();
    EXPECT_TRUE(Answered);
    ASSERT_NE(Response, nullptr);
    EXPECT_EQ(Text(Response->ToBytes()), "{\"r\":1}");
    EXPECT_TRUE(BroadcastReset(Server()));
    EXPECT_EQ(JsonResult(Next->Peer().ReadMessage()), "{\"broadcast\":[\"reset\",1]}");
}

TBytes IdRow(const std::string& Id, const std::string& CallbackId, const std::string& Token) {
    return Concat(
        {TextField("KDSChannel"), TextField(Id), TextField(CallbackId), TextField(Token)});
}

TEST_F(DSChannelTest, CallbackIdsComeAndGoAndTheLastOneClosesTheTunnel) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    const std::string Register = "DSAdmin.RegisterClientCallbackServer";
    const std::string Unregister = "DSAdmin.UnregisterClientCallback";
    EXPECT_EQ(F.Call(Register, IdRow("t1", "cb2", "tok")), Reply(BooleanRow(4, true)));
    EXPECT_EQ(F.Call(Register, IdRow("t1", "cb2", "tok")), Reply(BooleanRow(4, false)));
    EXPECT_EQ(F.Call(Register, IdRow("t1", "cb3", "TOK")), Reply(BooleanRow(4, false)));
    EXPECT_EQ(F.Call(Register, IdRow("nobody", "cb3", "tok")), Reply(BooleanRow(4, false)));
    EXPECT_EQ(Server().GetAllChannelCallbackId(u"KDSChannel"),
              (std::vector<std::u16string>{u"cb1", u"cb2"}));
    EXPECT_EQ(Server().GetAllChannelClientId(u"KDSChannel"), std::vector<std::u16string>{u"t1"});
    // RegisterClientCallback with a callback that no connection binds.
    EXPECT_EQ(
        F.Call("DSAdmin.RegisterClientCallback", Concat({IdRow("t1", "cb4", "tok"), NullField()})),
        Reply(BooleanRow(5, false)));

    EXPECT_EQ(F.Call(Unregister, IdRow("t1", "cb9", "tok")), Reply(BooleanRow(4, false)));
    EXPECT_EQ(F.Call(Unregister, IdRow("t1", "cb1", "bad")), Reply(BooleanRow(4, false)));
    EXPECT_EQ(F.Call(Unregister, IdRow("t1", "cb1", "tok")), Reply(BooleanRow(4, true)));
    EXPECT_FALSE(T1->Peer().HasData(20));
    EXPECT_EQ(F.Call(Unregister, IdRow("t1", "cb2", "tok")), Reply(BooleanRow(4, true)));
    EXPECT_EQ(T1->Peer().ReadMessage(), Reply(BooleanRow(5, true)));
    // Nothing left to close or remove.
    EXPECT_EQ(F.Call(Unregister, IdRow("t1", "cb2", "tok")), Reply(BooleanRow(4, false)));
    EXPECT_EQ(F.Call("DSAdmin.CloseClientChannel", CloseRow("t1", "tok")),
              Reply(BooleanRow(3, false)));
}

TEST_F(DSChannelTest, ATokenThatDiffersIsThePermissionError) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    test::ExpectDBXError(
        0, "The current session does not have permission to perform the requested action.",
        [&] { Server().RegisterChannelCallback(u"KDSChannel", u"t1", u"cb2", u"Tok"); });
    test::ExpectDBXError(
        0, "The current session does not have permission to perform the requested action.", [&] {
            Server().UnregisterChannelCallback(u"KDSChannel", u"t1", u"tok ", TDSTunnelEnd::AtOnce);
        });
    EXPECT_TRUE(Server().HasChannelCallback(u"KDSChannel", u"t1"));
}

struct TTerminalBroadcastCase {
    std::string Name;
    std::string Method;
    std::string Message;
    std::string Callback;
};

class DSChannelTerminalBroadcastTest
    : public DSChannelTest,
      public ::testing::WithParamInterface<TTerminalBroadcastCase> {};

TEST_P(DSChannelTerminalBroadcastTest, ATerminalMayBroadcastToTheChannel) {
    auto T1 = F.Subscribe(u"KDSChannel", "t1");
    EXPECT_EQ(
        F.Call(GetParam().Method, Concat({TextField("KDSChannel"), JsonField(GetParam().Message)})),
        Reply(BooleanRow(2, true)));
    EXPECT_EQ(T1->Peer().ReadText(), CallbackOf(GetParam().Callback));
    EXPECT_EQ(F.Call(GetParam().Method, Concat({TextField("Nobody"), JsonField("1")})),
              Reply(BooleanRow(2, false)));
}

INSTANTIATE_TEST_SUITE_P(
    Methods, DSChannelTerminalBroadcastTest,
    ::testing::Values(TTerminalBroadcastCase{"Json", "DSAdmin.BroadcastToChannel", "\"reset\"",
                                             "[4,1,{\"broadcast\":[\"reset\",1]}]"},
                      TTerminalBroadcastCase{"ObjectAsItsJson",
                                             "DSMetadata.BroadcastObjectToChannel", "{\"a\":[1,2]}",
                                             "[4,1,{\"broadcast\":[{\"a\":[1,2]},2]}]"}),
    test::TCaseName());

// --- Server stop --------------------------------------------------------------------------

TEST_F(DSChannelTest, StopEndsEverySubscriptionAndEveryWaitingPoll) {
    std::vector<test::TChannelFixture::TConnection> Subscribers;
    for (int I = 0; I < 100; ++I)
        Subscribers.push_back(F.Subscribe(u"KDSChannel", "t" + std::to_string(I)));
    F.Call("DSAdmin.ConsumeClientChannel", PollRow("p1", "cb1"));
    auto Poller = F.Connect();
    Poller->Peer().Send(ExecuteRequest("DSAdmin.ConsumeClientChannel", PollRow("p1", "")));
    EXPECT_FALSE(Poller->Peer().HasData(20));

    const auto Start = std::chrono::steady_clock::now();
    Server().Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - Start, 1s);
    for (auto& S : Subscribers)
        EXPECT_EQ(S->Peer().ReadMessage(), Reply(BooleanRow(5, true)));
    EXPECT_EQ(JsonResult(Poller->Peer().ReadMessage()), "{\"close\":true}");
    EXPECT_FALSE(BroadcastReset(Server()));
}

// --- Without a connection or a server ----------------------------------------------------------

TEST(DSChannelMethodsTest, AnInstanceWithoutAServerOrABoundCallbackAnswersFalseOrAnError) {
    DSAdmin Admin;
    std::unique_ptr<TJSONValue> Response;
    const TJSONString Msg(u"reset");
    EXPECT_FALSE(Admin.ConnectClientChannel(u"KDSChannel", u"t1", u"cb1", u"tok", nullptr));
    EXPECT_FALSE(Admin.CloseClientChannel(u"KDSChannel", u"t1", u"tok"));
    EXPECT_FALSE(Admin.BroadcastToChannel(u"KDSChannel", &Msg));
    EXPECT_FALSE(Admin.NotifyCallback(u"KDSChannel", u"t1", u"cb1", &Msg, Response));
    EXPECT_EQ(
        Text(Admin.ConsumeClientChannel(u"KDSChannel", u"t1", u"cb1", u"tok", nullptr)->ToBytes()),
        "{\"error\":\"\"}");

    // A server of its own, but a callback that no connection has bound.
    test::TServerHarness Harness{u"UnboundServer"};
    auto Connection = Harness.Connect();
    DSAdmin Bound;
    Bound.SetServerConnection(Connection.Handler.get());
    ASSERT_EQ(Bound.GetDSServerName(), u"UnboundServer");
    auto* Delegate = new TDBXCallbackDelegate();
    Delegate->AddRef();
    Delegate->SetDsServer(&Harness.Server());
    EXPECT_FALSE(Bound.ConnectClientChannel(u"KDSChannel", u"t1", u"cb1", u"tok", Delegate));
    EXPECT_FALSE(Bound.ConnectClientChannel(u"KDSChannel", u"t1", u"cb1", u"tok", nullptr));
    EXPECT_FALSE(Harness.Server().HasChannelCallback(u"KDSChannel"));
    Delegate->Release();
}

} // namespace
} // namespace kds
