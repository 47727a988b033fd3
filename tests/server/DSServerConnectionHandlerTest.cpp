#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "base/TextConvert.h"
#include "server/DSServerMethod.h"
#include "server/DSServerMethodCommandHandler.h"
#include "server/KDSServerMethodsUnit.h"
#include "server/wire/DBXProperties.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using test::HexBytes;

class DSServerConnectionHandlerTest : public ::testing::Test {
protected:
    std::u16string PreparedCommand(int32_t Handle) {
        auto& Command =
            dynamic_cast<TDSServerMethodCommandHandler&>(C.Handler->LookUpCommandHandler(Handle));
        return Command.ServerMethod()->MethodInfo().FMethodAlias;
    }

    test::TServerHarness Harness{
        u"DispatchServer",
        {{&TServerMethods1::ClassInfo(), u"Session"}, {&test::TProbe::ClassInfo(), u"Session"}}};
    test::TServerHarness::TConnection C = Harness.Connect();
};

TEST_F(DSServerConnectionHandlerTest, PreparesAndExecutesEchoString) {
    EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.EchoString"), 0);
    EXPECT_EQ(C.Next->LastHandle, 0);
    EXPECT_EQ(C.Next->LastParameters,
              (std::vector<std::string>{"Value:26:1", "ReturnParameter:26:4"}));
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, 0, HexBytes("22 61 62")), "C0 22 61 62");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, 0, HexBytes("20")), "C0 20");
    EXPECT_EQ(C.Next->Calls, (std::vector<std::string>{"prepare", "execute", "execute"}));
}

TEST_F(DSServerConnectionHandlerTest, ACommandResolvedAsAProcedureOrACallTextRunsItsMethod) {
    EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.ReverseString", u"Dbx.StoredProcedure"),
              0);
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, 0, HexBytes("23 61 62 63")), "C0 23 63 62 61");
    EXPECT_EQ(
        test::Prepare(*C.Handler, u"CALL\tTServerMethods1.EchoString", u"Dbx.StoredProcedure"), 1);
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, 1, HexBytes("22 61 62")), "C0 22 61 62");
}

TEST_F(DSServerConnectionHandlerTest, HandlesAreTheLowestFreeSlotCountedFromZero) {
    EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.EchoString"), 0);
    EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.ReverseString"), 1);
    TDBXCommandCloseMessage Close;
    Close.FCommandHandle = 0;
    C.Handler->DbxCommandClose(Close);
    EXPECT_EQ(C.Next->Calls.back(), "command_close");
    EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.EchoString"), 0);
    EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.EchoString"), 2);
    // Past the first 16 slots the table grows.
    for (int32_t Expected = 3; Expected < 20; ++Expected)
        EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.EchoString"), Expected);
    EXPECT_EQ(C.Handler->OpenCommandCount(), 20);
}

TEST_F(DSServerConnectionHandlerTest, LookUpErrorsNameTheHandle) {
    test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    test::ExpectDBXError(29, "Invalid command handle:  7",
                         [&] { test::Execute(*C.Handler, *C.Next, 7, HexBytes("20")); });
    test::ExpectDBXError(29, "Invalid command handle:  16", [&] {
        TDBXNextMessage Next;
        Next.FCommandHandle = 16;
        C.Handler->DbxNext(Next);
    });
    test::ExpectDBXError(4, "Command closed or executed again", [&] {
        TDBXReaderCloseMessage Close;
        Close.FCommandHandle = -1;
        C.Handler->DbxReaderClose(Close);
    });
    // Preparing again under a handle replaces its method.
    TDBXPrepareMessage Again;
    Again.Reset();
    Again.FCommandHandle = 1;
    Again.FCommandType = u"KDS.ServerMethod";
    Again.FCommand = u"TServerMethods1.ReverseString";
    C.Handler->DbxPrepare(Again);
    EXPECT_EQ(PreparedCommand(1), u"TServerMethods1.ReverseString");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, 1, HexBytes("22 61 62")), "C0 22 62 61");
}

struct TCommandCase {
    std::string Name;
    std::u16string Type;
    std::u16string Text;
    // The alias prepared, or empty when the prepare fails with Error.
    std::u16string Alias;
    std::string Error;
};

class DSCommandTypeTest : public DSServerConnectionHandlerTest,
                          public ::testing::WithParamInterface<TCommandCase> {};

TEST_P(DSCommandTypeTest, ResolvesTheCommandText) {
    const TCommandCase& Case = GetParam();
    if (Case.Alias.empty()) {
        test::ExpectDBXError(30, Case.Error,
                             [&] { test::Prepare(*C.Handler, Case.Text, Case.Type); });
        EXPECT_EQ(C.Handler->OpenCommandCount(), 0);
        return;
    }
    const int32_t Handle = test::Prepare(*C.Handler, Case.Text, Case.Type);
    EXPECT_EQ(PreparedCommand(Handle), Case.Alias);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DSCommandTypeTest,
    ::testing::Values(
        TCommandCase{"ServerMethodAnyCase", u"kds.servermethod", u"tservermethods1.reversestring",
                     u"TServerMethods1.ReverseString", ""},
        TCommandCase{"StoredProcedure", u"Dbx.StoredProcedure", u"TServerMethods1.EchoString",
                     u"TServerMethods1.EchoString", ""},
        TCommandCase{"StoredProcedureAnyCase", u"DBX.STOREDPROCEDURE",
                     u"  \"TServerMethods1.EchoString\"", u"TServerMethods1.EchoString", ""},
        TCommandCase{"StoredProcedureUnknown", u"Dbx.StoredProcedure", u"TServerMethods1.Nope", u"",
                     "Dbx.StoredProcedure is an unrecognized command type"},
        TCommandCase{"CallPrefix", u"Dbx.StoredProcedure", u"call TServerMethods1.EchoString",
                     u"TServerMethods1.EchoString", ""},
        TCommandCase{"CallInCapitalsAfterTab", u"Dbx.StoredProcedure",
                     u"\t CALL\tTServerMethods1.EchoString", u"TServerMethods1.EchoString", ""},
        TCommandCase{"CallxIsNoCall", u"Dbx.StoredProcedure", u"callx TServerMethods1.EchoString",
                     u"", "Dbx.StoredProcedure is an unrecognized command type"},
        TCommandCase{"CallWithOtherTypeUnknown", u"Other", u"call TServerMethods1.Nope", u"",
                     "Other is an unrecognized command type"},
        TCommandCase{"CallWithServerMethodType", u"KDS.ServerMethod", u"call TProbe.Concat(a, b)",
                     u"TProbe.Concat", ""},
        TCommandCase{"CallTooShort", u"Dbx.StoredProcedure", u"call ", u"",
                     "Dbx.StoredProcedure is an unrecognized command type"},
        TCommandCase{"GetDatabase", u"Dbx.MetaData", u"getdatabase", u"DSMetadata.GetDatabase", ""},
        TCommandCase{"MetaDataTypeIsExactCase", u"dbx.metadata", u"GetDatabase", u"",
                     "dbx.metadata is an unrecognized command type"},
        TCommandCase{"GetProcedures", u"Dbx.MetaData", u"GetProcedures",
                     u"DSMetadata.GetProcedures", ""},
        TCommandCase{"GetProcedureParameters", u"Dbx.MetaData", u"getprocedureparameters x.y",
                     u"DSMetadata.GetProcedureParameters", ""},
        TCommandCase{"OtherMetaData", u"Dbx.MetaData", u"GetTables", u"",
                     "Dbx.MetaData is an unrecognized command type"},
        TCommandCase{"UnknownType", u"Dbx.SQL", u"select 1", u"",
                     "Dbx.SQL is an unrecognized command type"}),
    test::TCaseName());

struct TRewriteCase {
    std::string Name;
    std::u16string Text;
    std::vector<std::u16string> Literals;
};

class DSMetaDataRewriteTest : public DSServerConnectionHandlerTest,
                              public ::testing::WithParamInterface<TRewriteCase> {};

TEST_P(DSMetaDataRewriteTest, PassesTheNamesAsLiteralArguments) {
    test::Prepare(*C.Handler, GetParam().Text, u"Dbx.MetaData");
    EXPECT_TRUE(C.Next->LastParameterTypeChanged);
    std::vector<std::u16string> Literals = C.Next->LastLiterals;
    Literals.pop_back(); // the return parameter
    EXPECT_EQ(Literals, GetParam().Literals);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DSMetaDataRewriteTest,
    ::testing::Values(
        TRewriteCase{"NoNames", u"GetProcedures", {u"", u""}},
        TRewriteCase{"TwoNames", u"GetProcedures a, b", {u"a", u"b"}},
        TRewriteCase{"TokenAfterANameIsLost", u"GetProcedures a b", {u"a", u""}},
        TRewriteCase{"DottedNames", u"GetProcedures x.y.z, \"q r\"", {u"x.y.z", u"q r"}},
        TRewriteCase{
            "EmbeddedQuoteAddsNoArgument", u"GetProcedures \"a\"\", \"\"b\"", {u"a\", \"b", u""}},
        TRewriteCase{"CommentLine", u"-- first\nGetProcedures p", {u"p", u""}},
        TRewriteCase{"Parameters",
                     u"GetProcedureParameters TServerMethods1.Echo",
                     {u"TServerMethods1.Echo"}}),
    test::TCaseName());

TEST_F(DSServerConnectionHandlerTest, TheLiteralFormOfAMethodFillsItsParameters) {
    test::Prepare(*C.Handler, u"DSMetadata.GetProcedures(\"A\", \"B\")");
    EXPECT_EQ(C.Next->LastLiterals, (std::vector<std::u16string>{u"A", u"B", u""}));
    EXPECT_TRUE(C.Next->LastParameterTypeChanged);
}

TEST_F(DSServerConnectionHandlerTest, FailedRequestsThatMadeACommandLeaveNoneBehind) {
    for (int I = 0; I < 10000; ++I) {
        TDBXPrepareMessage Prepare;
        Prepare.Reset();
        Prepare.FCommandType = u"KDS.ServerMethod";
        Prepare.FCommand = u"TProbe.Add(1)";
        EXPECT_THROW(C.Handler->DbxPrepare(Prepare), TDBXError);
    }
    EXPECT_EQ(C.Handler->OpenCommandCount(), 0);
    // Executes without a prepare: the reply shows no handle, so only the
    // latest is kept.
    for (int I = 0; I < 10000; ++I) {
        TDBXExecuteMessage Execute;
        Execute.Reset();
        Execute.FCommandType = u"KDS.ServerMethod";
        Execute.FCommand = u"TServerMethods1.ReverseString";
        C.Next->LoadRequestRow(HexBytes("22 61 62"));
        C.Handler->DbxExecute(Execute);
        ASSERT_EQ(test::HexOf(C.Next->LastReplyRow), "C0 22 62 61");
    }
    EXPECT_LE(C.Handler->OpenCommandCount(), 1);
    // A failing execute without prepare leaves nothing either.
    TDBXExecuteMessage Failing;
    Failing.Reset();
    Failing.FCommandType = u"KDS.ServerMethod";
    Failing.FCommand = u"TProbe.Throw";
    EXPECT_ANY_THROW(C.Handler->DbxExecute(Failing));
    EXPECT_EQ(C.Handler->OpenCommandCount(), 0);
    // A prepared command is the client's: it stays.
    EXPECT_EQ(test::Prepare(*C.Handler, u"TServerMethods1.EchoString"), 0);
    TDBXExecuteMessage Anonymous;
    Anonymous.Reset();
    Anonymous.FCommandType = u"KDS.ServerMethod";
    Anonymous.FCommand = u"TServerMethods1.EchoString";
    C.Next->LoadRequestRow(HexBytes("20"));
    C.Handler->DbxExecute(Anonymous);
    EXPECT_EQ(Anonymous.FCommandHandle, 1);
    test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    EXPECT_EQ(C.Handler->OpenCommandCount(), 2);
}

TEST_F(DSServerConnectionHandlerTest, ConnectAnswersTheProductNameAndTheHandle) {
    TDBXOpenMessage Open;
    Open.FConnectionHandle = 5;
    C.Handler->DbxOpen(Open);
    TDBXConnectMessage Connect;
    TDBXProperties Properties;
    Connect.FConnectProperties = &Properties;
    Connect.FSuccessfulConnect = true;
    C.Handler->DbxConnect(Connect);
    EXPECT_EQ(C.Next->LastProductName, u"KDS");
    EXPECT_EQ(C.Next->LastConnectionHandle, 5);
    EXPECT_TRUE(C.Next->LastConnectSucceeded);
    EXPECT_FALSE(C.Handler->HasServerConnection());
}

TEST_F(DSServerConnectionHandlerTest, TransactionsAndVendorPropertiesChangeNothing) {
    TDBXTxBeginMessage Begin;
    Begin.FTransactionHandle = 9;
    C.Handler->DbxTxBegin(Begin);
    TDBXTxEndMessage End;
    C.Handler->DbxTxEnd(End);
    TDBXVendorPropertyMessage Vendor;
    Vendor.FPropertyName = u"X";
    Vendor.FPropertyValue = u"stale";
    C.Handler->DbxVendorProperty(Vendor);
    EXPECT_EQ(C.Next->Calls, (std::vector<std::string>{"txbegin:0", "txend", "vendor_property"}));
    EXPECT_EQ(C.Next->LastVendorValue, u"");
    EXPECT_EQ(C.Handler->OpenCommandCount(), 0);
}

TEST_F(DSServerConnectionHandlerTest, AServerConnectionThatReturnsNoConnectionAttachesNone) {
    TDBXProperties Properties;
    Properties.SetValue(u"ServerConnection", u"DSAdmin.GetPlatformName");
    TDBXConnectMessage Connect;
    Connect.FConnectProperties = &Properties;
    Connect.FSuccessfulConnect = true;
    C.Handler->DbxConnect(Connect);
    EXPECT_TRUE(C.Next->LastConnectSucceeded);
    EXPECT_FALSE(C.Handler->HasServerConnection());
    EXPECT_EQ(C.Handler->GetProductName(), u"KDS");
}

TEST_F(DSServerConnectionHandlerTest, AServerConnectionWithAnyCommandOpenFails) {
    // Even the one command at handle 0 counts.
    test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    TDBXProperties Properties;
    Properties.SetValue(u"ServerConnection", u"DSAdmin.GetPlatformName");
    TDBXConnectMessage Connect;
    Connect.FConnectProperties = &Properties;
    Connect.FSuccessfulConnect = true;
    C.Handler->DbxConnect(Connect);
    EXPECT_FALSE(Connect.FSuccessfulConnect);
    EXPECT_EQ(C.Next->LastErrorCode, 30);
    EXPECT_EQ(C.Next->LastErrorText,
              "All open command objects must be close before changing the server connection");
    EXPECT_EQ(C.Next->Calls, (std::vector<std::string>{"prepare", "error"}));
}

TEST_F(DSServerConnectionHandlerTest, AServerConnectionNamingAnUnknownMethodFailsTheConnect) {
    TDBXProperties Properties;
    Properties.SetValue(u"ServerConnection", u"DSAdmin.Nope");
    TDBXConnectMessage Connect;
    Connect.FConnectProperties = &Properties;
    Connect.FSuccessfulConnect = true;
    C.Handler->DbxConnect(Connect);
    EXPECT_FALSE(Connect.FSuccessfulConnect);
    EXPECT_EQ(C.Next->LastErrorCode, 105);
}

TEST_F(DSServerConnectionHandlerTest, AReturnedDatabaseConnectionIsHeldNotOwned) {
    TDBXProperties Properties;
    Properties.SetValue(u"ServerConnection", u"TProbe.Connection");
    TDBXConnectMessage Connect;
    Connect.FConnectProperties = &Properties;
    Connect.FSuccessfulConnect = true;
    C.Handler->DbxConnect(Connect);
    EXPECT_TRUE(Connect.FSuccessfulConnect);
    EXPECT_TRUE(C.Handler->HasServerConnection());
    EXPECT_EQ(test::TFakeDbxConnection::Live, 1);
    // No database driver exists: what would go to the database is refused.
    test::ExpectDBXError(30, "dbxPrepare not supported yet",
                         [&] { test::Prepare(*C.Handler, u"select 1", u"Dbx.SQL"); });
    EXPECT_EQ(C.Handler->OpenCommandCount(), 0);
    // Server methods still run; an execute whose result is no connection
    // leaves the attached one.
    const int32_t Echo = test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    test::Execute(*C.Handler, *C.Next, Echo, HexBytes("20"));
    EXPECT_TRUE(C.Handler->HasServerConnection());
    // Executing the connection method on the client connection attaches its
    // result too; the connection handler never frees it.
    const int32_t Again = test::Prepare(*C.Handler, u"TProbe.Connection");
    test::Execute(*C.Handler, *C.Next, Again, {});
    EXPECT_TRUE(C.Handler->HasServerConnection());
    C.Handler.reset();
    EXPECT_EQ(test::TFakeDbxConnection::Live, 1);
}

TEST_F(DSServerConnectionHandlerTest, DisconnectLeavesTheTransportsTable) {
    TDBXDisconnectMessage Disconnect;
    C.Handler->DbxDisconnect(Disconnect);
    EXPECT_EQ(Harness.Transport().Removed.load(), 1);
    EXPECT_EQ(C.Next->Calls, (std::vector<std::string>{"disconnect"}));
    C.Handler.reset();
    EXPECT_EQ(Harness.Transport().Removed.load(), 2);
}

TEST_F(DSServerConnectionHandlerTest, ErrorsGoToTheServersHookAndThenOn) {
    int32_t Seen = 0;
    Harness.Server().OnError = [&](TDSErrorEventObject& E) {
        ++Seen;
        EXPECT_EQ(E.ServerConnectionHandler, C.Handler.get());
        throw std::runtime_error("hooks cannot stop the reply");
    };
    C.Handler->DbxError(std::make_exception_ptr(TDBXError(7, "boom")));
    EXPECT_EQ(Seen, 1);
    EXPECT_EQ(C.Next->LastErrorCode, 7);
    EXPECT_EQ(C.Next->LastErrorText, "boom");
    Harness.Server().OnError = nullptr;
}

TEST_F(DSServerConnectionHandlerTest, ATooFullCommandTableRefusesMore) {
    for (int32_t I = 0; I < 4096; ++I)
        test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
    test::ExpectDBXError(30, "Too many open commands",
                         [&] { test::Prepare(*C.Handler, u"TServerMethods1.EchoString"); });
    EXPECT_EQ(C.Handler->OpenCommandCount(), 4096);
}

} // namespace
} // namespace kds
