#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "data/TDBXParameter.h"
#include "data/TDBXValue.h"
#include "server/DSCallbackRepository.h"
#include "server/DSDriverRegistry.h"
#include "server/DSServerConnection.h"
#include "server/DSServerMethodProvider.h"
#include "server/KDSServerContainerUnit.h"
#include "server/KDSServerMethodsUnit.h"
#include "support/ExpectError.h"

namespace kds {
namespace {

using Log = std::vector<std::string>;

TEST(DSServerTest, StartsTransportsAndOpensTheRegistryThenStopsThemAgain) {
    Log Events;
    TDSServer Server;
    Server.SetName(u"StartStop");
    test::TFakeTransport First(&Events), Second(&Events);
    First.SetServer(&Server);
    Second.SetServer(&Server);
    First.SetServer(&Server); // no duplicate
    EXPECT_EQ(Server.Components().size(), 2u);
    EXPECT_FALSE(Server.Started());
    EXPECT_EQ(Server.MethodProvider(), nullptr);

    Server.Start();
    EXPECT_TRUE(Server.Started());
    EXPECT_TRUE(First.Running && Second.Running);
    EXPECT_EQ(First.DbxContext(), Server.DbxContext());
    EXPECT_NE(Server.MethodProvider(), nullptr);
    EXPECT_EQ(TDBXDriverRegistry::FindDriver(u"StartStop"), &Server);

    // Start on a started server only registers the driver again.
    TDBXDriverRegistry::UnregisterDriver(u"StartStop", Server);
    Server.Start();
    EXPECT_EQ(First.Starts, 1);
    EXPECT_EQ(TDBXDriverRegistry::FindDriver(u"StartStop"), &Server);

    Server.Stop();
    EXPECT_FALSE(Server.Started());
    EXPECT_EQ(Server.MethodProvider(), nullptr);
    EXPECT_EQ(TDBXDriverRegistry::FindDriver(u"StartStop"), nullptr);
    // The transports stop while the registry still serves their connections.
    EXPECT_EQ(Events, (Log{"transport start", "transport start", "transport stop (registry open)",
                           "transport stop (registry open)"}));
    Server.Stop(); // not started: nothing
    EXPECT_EQ(First.Stops, 1);

    // A restart builds a fresh registry.
    Server.Start();
    EXPECT_TRUE(Server.MethodProvider()->HasServerMethod(u"DSAdmin.ListClasses"));
    Server.Stop();
}

TEST(DSServerTest, AFailedStartIsUndone) {
    Log Events;
    TDSServer Server;
    Server.SetName(u"FailedStart");
    test::TFakeTransport First(&Events), Second(&Events);
    First.SetServer(&Server);
    Second.SetServer(&Server);
    Second.FailStart = true;
    test::ExpectDBXError(0, "Could not bind socket. Address and port are already in use.",
                         [&] { Server.Start(); });
    EXPECT_FALSE(Server.Started());
    EXPECT_FALSE(First.Running);
    EXPECT_EQ(Server.MethodProvider(), nullptr);
    EXPECT_EQ(TDBXDriverRegistry::FindDriver(u"FailedStart"), nullptr);
    EXPECT_EQ(Events, (Log{"transport start", "transport start", "transport stop"}));
}

TEST(DSServerTest, ASecondServerClassOfTheSameClassFailsTheStartAndUndoesIt) {
    test::TServerHarness Harness{
        u"TwiceServer",
        {{&TServerMethods1::ClassInfo(), u"Session"}, {&TServerMethods1::ClassInfo(), u"Session"}},
        false};
    test::ExpectDBXError(102,
                         "TServerMethods1 class has already been added to the server class list",
                         [&] { Harness.Server().Start(); });
    EXPECT_FALSE(Harness.Server().Started());
    EXPECT_EQ(Harness.Transport().Starts, 1);
    EXPECT_EQ(Harness.Transport().Stops, 1);
    EXPECT_FALSE(Harness.Transport().Running);
    EXPECT_EQ(Harness.Server().MethodProvider(), nullptr);
}

TEST(DSServerTest, AServerClassWithoutClassFailsTheStart) {
    TDSServer Server;
    Server.SetName(u"NoClassServer");
    TDSServerClass Class(u"Empty");
    EXPECT_EQ(Class.LifeCycle(), u"Session");
    Class.SetServer(&Server);
    test::ExpectDBXError(29, "OnGetClass event not set or it did not provide a class reference",
                         [&] { Server.Start(); });
    Class.OnGetClass = [](TDSServerClass&, const TDSClass*& C) { C = nullptr; };
    test::ExpectDBXError(29, "OnGetClass event not set or it did not provide a class reference",
                         [&] { Server.Start(); });
    EXPECT_FALSE(Server.Started());
}

TEST(DSServerTest, AStopThatFailsStillStopsEverything) {
    test::TServerHarness Harness{u"StopFails"};
    Harness.Transport().FailStop = true;
    test::ExpectDBXError(0, "transport stop failed", [&] { Harness.Server().Stop(); });
    EXPECT_FALSE(Harness.Server().Started());
    EXPECT_EQ(Harness.Server().MethodProvider(), nullptr);
    EXPECT_EQ(TDBXDriverRegistry::FindDriver(u"StopFails"), nullptr);
    Harness.Transport().FailStop = false;
}

TEST(DSServerTest, FindServerMatchesTheNameExactlyAndAnswersTheFirst) {
    auto A = std::make_unique<TDSServer>();
    EXPECT_EQ(A->Name(), u"DSServer");
    A->SetName(u"Lookup");
    TDSServer B;
    B.SetName(u"Lookup");
    EXPECT_EQ(TDSServer::FindServer(u"Lookup"), A.get());
    EXPECT_EQ(TDSServer::FindServer(u"lookup"), nullptr);
    A.reset();
    EXPECT_EQ(TDSServer::FindServer(u"Lookup"), &B);
}

TEST(DSServerTest, ComponentsAndServerNeverOutliveEachOther) {
    auto Server = std::make_unique<TDSServer>();
    auto Transport = std::make_unique<test::TFakeTransport>();
    auto Other = std::make_unique<TDSServer>();
    Transport->SetServer(Server.get());
    Transport->SetServer(Other.get());
    EXPECT_TRUE(Server->Components().empty());
    EXPECT_EQ(Other->Components().size(), 1u);
    // A destroyed component leaves its server's list ...
    Transport.reset();
    EXPECT_TRUE(Other->Components().empty());
    // ... and a destroyed server lets go of its components.
    auto Class = std::make_unique<TDSServerClass>();
    Class->SetServer(Server.get());
    Server.reset();
    EXPECT_EQ(Class->Server(), nullptr);
}

class TCountedTunnel : public TDSCallbackTunnel {
public:
    explicit TCountedTunnel(int32_t* Alive)
        : TDSCallbackTunnel(u"client", u"", 100), FAlive(Alive) {
        ++*FAlive;
    }
    ~TCountedTunnel() override { --*FAlive; }

private:
    int32_t* FAlive;
};

TEST(DSServerTest, StopShutsEveryTunnelDownAndReleasesThoseNobodyConsumes) {
    test::TServerHarness Harness{u"TunnelServer"};
    int32_t Alive = 0;
    auto Consumed = std::make_shared<TCountedTunnel>(&Alive);
    Harness.Server().CallbackRepository().AddTunnel(u"KDSChannel", Consumed);
    Harness.Server().CallbackRepository().AddTunnel(u"KDSChannel",
                                                    std::make_shared<TCountedTunnel>(&Alive));
    EXPECT_EQ(Harness.Server().CallbackRepository().TunnelCount(u"KDSChannel"), 2);
    EXPECT_EQ(Harness.Server().CallbackRepository().TunnelCount(u"kdschannel"), 0);
    Harness.Server().Stop();
    // The polling tunnel that nobody held is gone; the consumed one lives
    // until its consumer lets go, shut down.
    EXPECT_EQ(Alive, 1);
    EXPECT_TRUE(Consumed->IsShutDown());
    EXPECT_FALSE(Harness.Server().CallbackRepository().HasChannel(u"KDSChannel"));
    Consumed.reset();
    EXPECT_EQ(Alive, 0);
}

TEST(TServerContainer1Test, MakesItsComponentsInOrderAndStartsTheServerLast) {
    Log Events;
    test::TFakeTransport* Transport = nullptr;
    TServerContainer1 Container([&] {
        auto T = std::make_unique<test::TFakeTransport>(&Events, u"DSTCPServerTransport1");
        Transport = T.get();
        return T;
    });
    TDSServer& Server = Container.DSServer1();
    EXPECT_EQ(Server.Name(), u"DSServer1");
    EXPECT_TRUE(Server.AutoStart());
    EXPECT_FALSE(Server.HideDSAdmin());
    EXPECT_EQ(Server.ChannelQueueSize(), 100);
    EXPECT_TRUE(Server.Started());
    ASSERT_EQ(Server.Components().size(), 2u);
    EXPECT_EQ(Server.Components()[0], Transport);
    EXPECT_EQ(Server.Components()[1], &Container.DSServerClass1());
    EXPECT_EQ(Container.DSServerClass1().LifeCycle(), u"Session");
    EXPECT_TRUE(Server.MethodProvider()->HasServerMethod(u"TServerMethods1.EchoString"));
    EXPECT_EQ(TDSServer::FindServer(u"DSServer1"), &Server);
}

TEST(TServerContainer1Test, StopsTheServerBeforeItsComponentsGo) {
    Log Events;
    {
        TServerContainer1 Container(
            [&] { return std::make_unique<test::TFakeTransport>(&Events); });
        Events.clear();
    }
    EXPECT_EQ(Events, (Log{"transport stop (registry open)", "transport destroyed"}));
    EXPECT_EQ(TDSServer::FindServer(u"DSServer1"), nullptr);
    EXPECT_EQ(TDBXDriverRegistry::FindDriver(u"DSServer1"), nullptr);
}

TEST(TServerContainer1Test, AFailedStartLeavesNothingRunning) {
    Log Events;
    EXPECT_THROW(TServerContainer1([&] {
                     auto T = std::make_unique<test::TFakeTransport>(&Events);
                     T->FailStart = true;
                     return T;
                 }),
                 TDBXError);
    EXPECT_EQ(TDSServer::FindServer(u"DSServer1"), nullptr);
    EXPECT_EQ(Events, (Log{"transport start", "transport destroyed"}));
}

TEST(TServerContainer1Test, StopStartAndStopAgainAreClean) {
    TServerContainer1 Container([] { return std::make_unique<test::TFakeTransport>(); });
    auto Connection = Container.DSServer1().GetServerConnection(TDBXProperties());
    auto Command = Connection->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"TServerMethods1.EchoString");
    Command->GetParameters()[0].Value().SetWideString(u"before");
    Command->ExecuteUpdate();
    Container.DSServer1().Stop();
    // A call prepared before the stop keeps its registry until it goes.
    Command->GetParameters()[0].Value().SetWideString(u"during");
    Command->ExecuteUpdate();
    EXPECT_EQ(Command->GetParameters()[1].Value().GetWideString(), u"during");
    Command.reset();
    Connection.reset();
    Container.DSServer1().Start();
    Connection = Container.DSServer1().GetServerConnection(TDBXProperties());
    Command = Connection->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"TServerMethods1.ReverseString");
    Command->GetParameters()[0].Value().SetWideString(u"after");
    Command->ExecuteUpdate();
    EXPECT_EQ(Command->GetParameters()[1].Value().GetWideString(), u"retfa");
    Command.reset();
    Connection.reset();
    Container.DSServer1().Stop();
}

} // namespace
} // namespace kds
