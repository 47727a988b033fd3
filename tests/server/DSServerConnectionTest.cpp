#include "server/DSServerConnection.h"

#include <gtest/gtest.h>
#include <string>

#include "ServerTestSupport.h"
#include "data/DBXJSON.h"
#include "data/TDBXParameter.h"
#include "data/TDBXValue.h"
#include "server/DSDriverRegistry.h"
#include "server/DSServerConnectionHandler.h"
#include "server/DSServerMethodProvider.h"
#include "server/KDSServerContainerUnit.h"
#include "server/wire/DSSession.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

namespace kds {
namespace {

// The program's own container, with a fake transport, reached in-process as
// a client would be: by DriverName "DSServer1".
class DSServerConnectionTest : public ::testing::Test {
protected:
    std::u16string Call(const std::u16string& Text, const std::u16string& Value) {
        auto Command = Connection->CreateCommand();
        Command->SetCommandType(u"KDS.ServerMethod");
        Command->SetText(Text);
        Command->GetParameters()[0].Value().SetWideString(Value);
        Command->ExecuteUpdate();
        return Command->GetParameters()[1].Value().GetWideString();
    }

    TServerContainer1 Container{[] { return std::make_unique<test::TFakeTransport>(); }};
    std::unique_ptr<TDSServerConnection> Connection = [] {
        TDBXProperties Properties;
        Properties.SetValue(u"DriverName", u"DSServer1");
        auto C = TDBXConnectionFactory::GetServerConnection(Properties);
        C->Open();
        return C;
    }();
};

struct TCallCase {
    std::string Name;
    std::u16string Method;
    std::u16string Value;
    std::u16string Result;
};

class DSServerMethodsTest : public DSServerConnectionTest,
                            public ::testing::WithParamInterface<TCallCase> {};

TEST_P(DSServerMethodsTest, AnswersAsTheMethodSays) {
    EXPECT_EQ(Call(GetParam().Method, GetParam().Value), GetParam().Result);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, DSServerMethodsTest,
    ::testing::Values(TCallCase{"EchoAb", u"TServerMethods1.EchoString", u"ab", u"ab"},
                      TCallCase{"EchoEmpty", u"TServerMethods1.EchoString", u"", u""},
                      TCallCase{"EchoUnicode", u"TServerMethods1.EchoString", u"\u00E9\u20AC\"\\",
                                u"\u00E9\u20AC\"\\"},
                      TCallCase{"ReverseLowerCaseName", u"tservermethods1.reversestring", u"abc",
                                u"cba"},
                      TCallCase{"ReverseEmpty", u"TServerMethods1.ReverseString", u"", u""},
                      TCallCase{"ReverseOne", u"TServerMethods1.ReverseString", u"x", u"x"},
                      TCallCase{"ReverseSurrogatePair", u"TServerMethods1.ReverseString",
                                u"\xD83D\xDE00", u"\xDE00\xD83D"},
                      TCallCase{"ReverseMixed", u"TServerMethods1.ReverseString", u"a\xD83D\xDE00z",
                                u"z\xDE00\xD83D"
                                u"a"}),
    test::TCaseName());

TEST_F(DSServerConnectionTest, ACommandIsReusedAndItsServerValuesAreCleared) {
    auto Command = Connection->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"TServerMethods1.EchoString");
    TDBXParameterList& Parameters = Command->GetParameters();
    ASSERT_EQ(Parameters.Count(), 2);
    EXPECT_EQ(Parameters[1].Name(), u"ReturnParameter");
    EXPECT_EQ(Command->CommandHandle(), 0);
    for (const std::u16string Value : {u"one", u"two", u"three"}) {
        Parameters[0].Value().SetWideString(Value);
        Command->ExecuteUpdate();
        EXPECT_EQ(Parameters[1].Value().GetWideString(), Value);
    }
    // A second command on the connection gets its own handle.
    auto Other = Connection->CreateCommand();
    Other->SetCommandType(u"KDS.ServerMethod");
    Other->SetText(u"DSAdmin.GetPlatformName");
    Other->ExecuteUpdate();
    EXPECT_EQ(Other->CommandHandle(), 1);
    EXPECT_EQ(Other->GetParameters()[0].Value().GetWideString(), u"win32");
    Command->Close();
    EXPECT_EQ(Connection->ConHandler()->OpenCommandCount(), 1);
}

TEST_F(DSServerConnectionTest, ResultsHandOverTheirObjects) {
    auto Command = Connection->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"DSAdmin.ListClasses");
    Command->ExecuteUpdate();
    TJSONValue* Json = Command->GetParameters()[0].Value().GetJSONValue();
    ASSERT_NE(Json, nullptr);
    EXPECT_EQ(Json->ToString(), u"[\"DSAdmin\",\"DSMetadata\",\"TServerMethods1\"]");
}

TEST_F(DSServerConnectionTest, FailuresReachTheCallerAsExceptions) {
    auto Command = Connection->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"TServerMethods1.Nope");
    test::ExpectDBXError(105, "TServerMethods1.Nope method not found in the server method list",
                         [&] { Command->ExecuteUpdate(); });
    // The void end of the chain turns a reported error into an exception.
    test::ExpectDBXError(30, "reported", [&] {
        Connection->ConHandler()->DbxError(std::make_exception_ptr(TDBXError(4, "reported")));
    });
}

TEST_F(DSServerConnectionTest, TransactionsAndCloseAreSent) {
    EXPECT_NO_THROW(Connection->Commit());
    EXPECT_NO_THROW(Connection->Rollback());
    Connection->Close();
    EXPECT_FALSE(Connection->IsOpen());
    // Opening again works.
    EXPECT_EQ(Call(u"TServerMethods1.EchoString", u"again"), u"again");
}

TEST_F(DSServerConnectionTest, TheServersOwnConnectionSetsTheDriverName) {
    TDBXProperties Properties;
    Properties.SetValue(u"DriverName", u"SomethingElse");
    auto Own = Container.DSServer1().GetServerConnection(Properties);
    EXPECT_EQ(Own->ConnectionProperties().GetValue(u"DriverName"), u"DSServer1");
    auto Command = Own->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"DSAdmin.GetDSServerName");
    Command->ExecuteUpdate();
    EXPECT_EQ(Command->GetParameters()[0].Value().GetWideString(), u"DSServer1");
}

TEST_F(DSServerConnectionTest, AnUnknownDriverIsRefused) {
    TDBXProperties Properties;
    Properties.SetValue(u"DriverName", u"dsserver1");
    test::ExpectDBXError(0, "Driver not found: dsserver1",
                         [&] { TDBXConnectionFactory::GetServerConnection(Properties); });
    test::ExpectDBXError(0, "Connection definition not found: Kitchen",
                         [&] { TDBXConnectionFactory::GetConnection(u"Kitchen"); });
    EXPECT_TRUE(TDBXConnectionFactory::ConnectionNames().empty());
}

TEST_F(DSServerConnectionTest, AConnectionOpenedInASessionIsNamedByItsRemoteAddress) {
    TDSTCPSession Session;
    Session.PutData(u"remoteip", u"10.0.0.7");
    TDSThreadSessionScope Scope(&Session);
    TDBXProperties Properties;
    Properties.SetValue(u"DriverName", u"DSServer1");
    Properties.SetValue(u"DSAuthenticationUser", u"pass");
    auto Local = TDBXConnectionFactory::GetServerConnection(Properties);
    Local->Open();
    ASSERT_NE(Local->ConHandler()->Channel(), nullptr);
    EXPECT_EQ(Local->ConHandler()->Channel()->GetChannelInfo()->GetInfo(), "10.0.0.7");
    EXPECT_EQ(Session.UserName(), u"pass");
}

TEST_F(DSServerConnectionTest, TwoConnectionsNeverShareAnInstanceAndOneReusesIts) {
    TDBXProperties Properties;
    Properties.SetValue(u"DriverName", u"DSServer1");
    auto Second = TDBXConnectionFactory::GetServerConnection(Properties);
    Second->Open();
    Call(u"TServerMethods1.EchoString", u"a");
    auto Command = Second->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"TServerMethods1.EchoString");
    Command->GetParameters()[0].Value().SetWideString(u"b");
    Command->ExecuteUpdate();
    auto Info = Container.DSServer1().MethodProvider()->GetClassInfo(u"TServerMethods1");
    TObject* First = Connection->ConHandler()->GetInstance(*Info);
    EXPECT_NE(First, Second->ConHandler()->GetInstance(*Info));
    Call(u"TServerMethods1.ReverseString", u"c");
    EXPECT_EQ(First, Connection->ConHandler()->GetInstance(*Info));
}

} // namespace
} // namespace kds
