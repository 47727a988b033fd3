#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "server/KDSServerMethodsUnit.h"
#include "server/wire/DBXProperties.h"
#include "server/wire/DSSession.h"
#include "support/ExpectError.h"

namespace kds {
namespace {

using test::HexBytes;

// A session that records what the dispatch asks of it.
class TRecordingSession : public TDSTCPSession {
public:
    bool Authenticate(const TDBXProperties* Props) override {
        ++Authentications;
        return AllowConnect && TDSTCPSession::Authenticate(Props);
    }
    bool Authorize(const std::u16string& MethodAlias) override {
        Authorized.push_back(MethodAlias);
        return AllowCalls;
    }

    int32_t Authentications = 0;
    bool AllowConnect = true;
    bool AllowCalls = true;
    std::vector<std::u16string> Authorized;
};

class DSSessionUseTest : public ::testing::Test {
protected:
    void Connect(const std::u16string& User) {
        TDBXProperties Properties;
        if (!User.empty())
            Properties.SetValue(u"DSAuthenticationUser", User);
        TDBXConnectMessage Message;
        Message.FConnectProperties = &Properties;
        Message.FSuccessfulConnect = true;
        C.Handler->DbxConnect(Message);
        LastConnectSucceeded = Message.FSuccessfulConnect;
    }

    test::TServerHarness Harness{u"SessionUseServer",
                                 {{&TServerMethods1::ClassInfo(), u"Session"}}};
    test::TServerHarness::TConnection C = Harness.Connect();
    TRecordingSession Session;
    TDSThreadSessionScope Scope{&Session};
    bool LastConnectSucceeded = false;
};

TEST_F(DSSessionUseTest, TheUserNameIsTakenOnlyWhileItIsEmpty) {
    Connect(u"");
    EXPECT_EQ(Session.UserName(), u"");
    Connect(u"kitchen-1");
    EXPECT_EQ(Session.UserName(), u"kitchen-1");
    Connect(u"kitchen-2");
    EXPECT_EQ(Session.UserName(), u"kitchen-1");
    EXPECT_EQ(Session.Authentications, 3);
    EXPECT_TRUE(LastConnectSucceeded);
}

TEST_F(DSSessionUseTest, ARefusedConnectIsReportedAndLeavesTheConnectionUnconnected) {
    Session.AllowConnect = false;
    Connect(u"intruder");
    EXPECT_FALSE(LastConnectSucceeded);
    EXPECT_EQ(C.Next->LastErrorCode, 0);
    EXPECT_EQ(C.Next->LastErrorText,
              "Authentication manager rejected user credentials. This may due to invalid "
              "combination of DS user name and password");
    EXPECT_EQ(C.Next->Calls, (std::vector<std::string>{"error"}));
}

TEST_F(DSSessionUseTest, EveryMethodButTwoAsksForAuthorization) {
    const int32_t Echo = test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    test::Execute(*C.Handler, *C.Next, Echo, HexBytes("20"));
    const int32_t Platform = test::Prepare(*C.Handler, u"DSAdmin.GetPlatformName");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Platform, {}), "25 77 69 6E 33 32");
    const int32_t Database = test::Prepare(*C.Handler, u"GetDatabase", u"Dbx.MetaData");
    // GetDatabase runs, but it is never asked about.
    test::Execute(*C.Handler, *C.Next, Database, {});
    const int32_t List = test::Prepare(*C.Handler, u"DSAdmin.ListClasses");
    test::Execute(*C.Handler, *C.Next, List, {});
    EXPECT_EQ(Session.Authorized,
              (std::vector<std::u16string>{u"TServerMethods1.EchoString", u"DSAdmin.ListClasses"}));
}

TEST_F(DSSessionUseTest, ARefusedCallNamesTheUser) {
    Connect(u"cook");
    Session.AllowCalls = false;
    const int32_t Echo = test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    test::ExpectDBXError(113, "cook is not authorized to perform the requested action.",
                         [&] { test::Execute(*C.Handler, *C.Next, Echo, HexBytes("20")); });
    // Exempt methods still run.
    const int32_t Platform = test::Prepare(*C.Handler, u"DSAdmin.GetPlatformName");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Platform, {}), "25 77 69 6E 33 32");
}

} // namespace
} // namespace kds
