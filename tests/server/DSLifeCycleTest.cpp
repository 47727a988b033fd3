#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "data/DBXCallback.h"
#include "server/DSServerMethodProvider.h"
#include "support/ExpectError.h"

namespace kds {
namespace {

using test::HexBytes;
using test::TCountedStats;

// Touch answers how often this very instance was called: "61 01" on a fresh
// instance, "61 02" on one called before.
class DSLifeCycleTest : public ::testing::Test {
protected:
    void SetUp() override { TCountedStats::Reset(); }
    void TearDown() override { EXPECT_EQ(TCountedStats::Live, 0); }

    static std::string Touch(test::TServerHarness::TConnection& C, const std::u16string& Class) {
        const int32_t Handle = test::Prepare(*C.Handler, Class + u".Touch");
        return test::Execute(*C.Handler, *C.Next, Handle, {});
    }
};

TEST_F(DSLifeCycleTest, SessionInstancesArePerConnectionAndGoWithIt) {
    test::TServerHarness Harness{u"SessionServer",
                                 {{&test::CountedClass(u"TCountedS"), u"Session"}}};
    {
        auto A = Harness.Connect();
        auto B = Harness.Connect();
        EXPECT_EQ(Touch(A, u"TCountedS"), "61 01");
        EXPECT_EQ(Touch(A, u"TCountedS"), "61 02");
        EXPECT_EQ(Touch(B, u"TCountedS"), "61 01");
        EXPECT_EQ(TCountedStats::Made, 2);
        A.Handler.reset();
        EXPECT_EQ(TCountedStats::Live, 1);
    }
    EXPECT_EQ(TCountedStats::Live, 0);
}

TEST_F(DSLifeCycleTest, AConnectionsInstancesGoNewestFirst) {
    test::TServerHarness Harness{u"OrderServer",
                                 {{&test::CountedClass(u"TCountedFirst"), u"Session"},
                                  {&test::CountedClass(u"TCountedSecond"), u"Session"}},
                                 false};
    std::vector<std::string> Destroyed;
    for (TDSServerComponent* Component : Harness.Server().Components())
        if (auto* Class = dynamic_cast<TDSServerClass*>(Component))
            Class->OnDestroyInstance = [&Destroyed,
                                        Name = Class->Name()](TDSDestroyInstanceEventObject&) {
                Destroyed.push_back(std::string(Name.begin(), Name.end()));
            };
    Harness.Server().Start();
    auto A = Harness.Connect();
    Touch(A, u"TCountedSecond");
    Touch(A, u"TCountedFirst");
    A.Handler.reset();
    EXPECT_EQ(Destroyed, (std::vector<std::string>{"ClassTCountedFirst", "ClassTCountedSecond"}));
}

TEST_F(DSLifeCycleTest, ServerInstancesAreSharedByEveryConnectionUntilTheRegistryGoes) {
    test::TServerHarness Harness{u"SharedServer", {{&test::CountedClass(u"TCountedV"), u"Server"}}};
    {
        auto A = Harness.Connect();
        auto B = Harness.Connect();
        EXPECT_EQ(Touch(A, u"TCountedV"), "61 01");
        EXPECT_EQ(Touch(B, u"TCountedV"), "61 02");
    }
    EXPECT_EQ(TCountedStats::Made, 1);
    EXPECT_EQ(TCountedStats::Live, 1);
    Harness.Server().Stop();
    EXPECT_EQ(TCountedStats::Live, 0);
}

TEST_F(DSLifeCycleTest, AnEmptyLifeCycleMeansServer) {
    test::TServerHarness Harness{u"EmptyLifeServer", {{&test::CountedClass(u"TCountedE"), u""}}};
    auto A = Harness.Connect();
    auto B = Harness.Connect();
    Touch(A, u"TCountedE");
    EXPECT_EQ(Touch(B, u"TCountedE"), "61 02");
}

TEST_F(DSLifeCycleTest, InvocationInstancesAreFreshForEveryExecution) {
    test::TServerHarness Harness{u"InvocationLife",
                                 {{&test::CountedClass(u"TCountedI"), u"Invocation"}}};
    auto A = Harness.Connect();
    const int32_t Handle = test::Prepare(*A.Handler, u"TCountedI.Touch");
    for (int I = 0; I < 3; ++I) {
        EXPECT_EQ(test::Execute(*A.Handler, *A.Next, Handle, {}), "61 01");
        // Nothing streams, so the instance goes as soon as the reply is out.
        EXPECT_EQ(TCountedStats::Live, 0);
    }
    EXPECT_EQ(TCountedStats::Made, 3);
}

TEST_F(DSLifeCycleTest, AnUnknownLifeCycleIsAnError) {
    test::TServerHarness Harness{u"BogusLife", {{&test::CountedClass(u"TCountedB"), u"Bogus"}}};
    auto A = Harness.Connect();
    test::ExpectDBXError(0, "Unknown LifeCycle:  Bogus",
                         [&] { test::Prepare(*A.Handler, u"TCountedB.Touch"); });
    // Life cycles are compared exactly.
    test::TServerHarness Lower{u"LowerLife", {{&test::CountedClass(u"TCountedL"), u"session"}}};
    auto L = Lower.Connect();
    test::ExpectDBXError(0, "Unknown LifeCycle:  session",
                         [&] { test::Prepare(*L.Handler, u"TCountedL.Touch"); });
    EXPECT_EQ(A.Handler->OpenCommandCount(), 0);
}

TEST_F(DSLifeCycleTest, TheServerClassEventsMayMakeAndTakeInstances) {
    test::TServerHarness Harness{
        u"EventsLife", {{&test::CountedClass(u"TCountedX"), u"Invocation"}}, false};
    auto* Component = dynamic_cast<TDSServerClass*>(Harness.Server().Components()[1]);
    ASSERT_NE(Component, nullptr);
    int32_t Made = 0, Destroyed = 0;
    std::unique_ptr<TObject> Taken;
    Component->OnCreateInstance = [&](TDSCreateInstanceEventObject& E) {
        ++Made;
        E.ServerClassInstance = std::make_unique<test::TCounted>();
    };
    Component->OnDestroyInstance = [&](TDSDestroyInstanceEventObject& E) {
        if (++Destroyed == 1)
            Taken = std::move(E.ServerClassInstance);
    };
    Harness.Server().Start();
    auto A = Harness.Connect();
    const int32_t Handle = test::Prepare(*A.Handler, u"TCountedX.Touch");
    test::Execute(*A.Handler, *A.Next, Handle, {});
    test::Execute(*A.Handler, *A.Next, Handle, {});
    EXPECT_EQ(Made, 2);
    EXPECT_EQ(Destroyed, 2);
    // The first was taken by the handler, the second freed.
    EXPECT_EQ(TCountedStats::Live, 1);
    Taken.reset();
}

} // namespace
} // namespace kds
