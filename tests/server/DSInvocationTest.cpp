#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/TDBXParameter.h"
#include "data/TDBXValue.h"
#include "server/DSServerMethod.h"
#include "server/DSServerMethodCommandHandler.h"
#include "server/wire/DBXActiveTableReaderList.h"
#include "server/wire/DBXServerCallback.h"
#include "support/ExpectError.h"

namespace kds {
namespace {

using test::HexBytes;

class DSInvocationTest : public ::testing::Test {
protected:
    void SetUp() override { test::TCountingReader::Live = 0; }

    TDSServerMethod& MethodOf(int32_t Handle) {
        auto& Command =
            dynamic_cast<TDSServerMethodCommandHandler&>(C.Handler->LookUpCommandHandler(Handle));
        return *Command.ServerMethod();
    }

    test::TServerHarness Harness{u"InvocationServer", {{&test::TProbe::ClassInfo(), u"Session"}}};
    test::TServerHarness::TConnection C = Harness.Connect();
};

TEST_F(DSInvocationTest, BuildsDeclaredParametersThenTheReturnParameter) {
    test::Prepare(*C.Handler, u"TProbe.Swap");
    EXPECT_EQ(C.Next->LastParameters,
              (std::vector<std::string>{"A:26:3", "B:26:2", "ReturnParameter:4:4"}));
    test::Prepare(*C.Handler, u"TProbe.FailWithTable");
    EXPECT_EQ(C.Next->LastParameters, (std::vector<std::string>{"T:23:1"}));
    const int32_t Scale = test::Prepare(*C.Handler, u"TProbe.Scale");
    EXPECT_EQ(C.Next->LastParameters, (std::vector<std::string>{"V:6:3", "ReturnParameter:6:4"}));
    // A typed-value parameter is flagged as a value parameter; nothing else
    // carries flags, precision, scale or size.
    const TDBXParameter& V = MethodOf(Scale).Parameters().Parameter(0);
    EXPECT_EQ(V.Flags(), 256);
    const TDBXParameter& R = MethodOf(Scale).Parameters().Parameter(1);
    EXPECT_EQ(R.Flags() | R.Precision() | R.Scale() | R.Size() | R.SubType() | R.ChildPosition(),
              0);
}

TEST_F(DSInvocationTest, MovesVarOutAndReturnValuesBackAndNullsInParameters) {
    const int32_t Swap = test::Prepare(*C.Handler, u"TProbe.Swap");
    // A = "ab", B (out) sent as "zz" but read as null.
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Swap, HexBytes("22 61 62 22 7A 7A C0")),
              "2A 73 77 61 70 70 65 64 3A 61 62 22 61 62 60");
    const int32_t Add = test::Prepare(*C.Handler, u"TProbe.Add");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Add, HexBytes("61 02 21 05")), "C0 C0 21 03");
}

TEST_F(DSInvocationTest, PassesATypedValueParameterAsTheValueObjectItself) {
    const int32_t Scale = test::Prepare(*C.Handler, u"TProbe.Scale");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Scale, HexBytes("61 15")), "61 07 61 2A");
}

TEST_F(DSInvocationTest, HandsAJsonResultOverAsAJsonBlock) {
    const int32_t Json = test::Prepare(*C.Handler, u"TProbe.MakeJson");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Json, {}), "40 00 00 00 07 7B 22 61 22 3A 31 7D");
}

TEST_F(DSInvocationTest, LiteralArgumentsFillTheParametersInOrderAndAlwaysWin) {
    const int32_t Handle = test::Prepare(*C.Handler, u"TProbe . Concat(\"x\"\"y\", 12)");
    EXPECT_TRUE(C.Next->LastParameterTypeChanged);
    EXPECT_EQ(C.Next->LastLiterals, (std::vector<std::u16string>{u"x\"y", u"12", u""}));
    // The row's values do not replace what the command text fixed.
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Handle, HexBytes("21 61 21 62")),
              "C0 C0 26 78 22 79 7C 31 32");
    EXPECT_EQ(MethodOf(Handle).Parameters().Parameter(0).Flags(), 512);
}

TEST_F(DSInvocationTest, MoreLiteralsThanParametersIsAnInvalidOrdinal) {
    test::ExpectDBXError(8, "Literal argument 2 has no parameter in TProbe.Concat",
                         [&] { test::Prepare(*C.Handler, u"TProbe.Concat(a, b, c)"); });
    // No command is left behind by the failed prepare.
    EXPECT_EQ(C.Handler->OpenCommandCount(), 0);
    test::ExpectDBXError(9, "Parameter A cannot take the literal argument 1",
                         [&] { test::Prepare(*C.Handler, u"TProbe.Add(1)"); });
}

TEST_F(DSInvocationTest, AnUnknownNameIsNotFound) {
    test::ExpectDBXError(105, "TProbe.Bad method not found in the server method list",
                         [&] { test::Prepare(*C.Handler, u"TProbe.Bad"); });
    test::ExpectDBXError(105, "( method not found in the server method list",
                         [&] { test::Prepare(*C.Handler, u"("); });
}

TEST_F(DSInvocationTest, IncomingTablesGoToTableParametersAndAreFreedOnEveryPath) {
    const int32_t Count = test::Prepare(*C.Handler, u"TProbe.CountRows");
    TDBXExecuteMessage Message;
    Message.Reset();
    Message.FTables.push_back(std::make_unique<test::TCountingReader>(3));
    Message.FTables.push_back(std::make_unique<test::TCountingReader>(1)); // no parameter takes it
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Count, HexBytes("61 01"), &Message), "C0 61 03");
    EXPECT_EQ(test::TCountingReader::Live, 0);
    EXPECT_TRUE(Message.FTables.empty());

    // A null table field takes no reader.
    Message.FTables.push_back(std::make_unique<test::TCountingReader>(3));
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Count, HexBytes("C0"), &Message), "C0 21 01");
    EXPECT_EQ(test::TCountingReader::Live, 0);

    const int32_t Fail = test::Prepare(*C.Handler, u"TProbe.FailWithTable");
    Message.FTables.push_back(std::make_unique<test::TCountingReader>(3));
    test::ExpectDBXError(9, "probe failed", [&] {
        test::Execute(*C.Handler, *C.Next, Fail, HexBytes("61 01"), &Message);
    });
    EXPECT_EQ(test::TCountingReader::Live, 0);
}

TEST_F(DSInvocationTest, AnExceptionOfTheMethodPropagatesUnchanged) {
    const int32_t Handle = test::Prepare(*C.Handler, u"TProbe.Throw");
    test::ExpectErrorText<std::runtime_error>(
        "probe", [&] { test::Execute(*C.Handler, *C.Next, Handle, {}); });
    // The command stays usable.
    EXPECT_NO_THROW(C.Handler->LookUpCommandHandler(Handle));
}

TEST_F(DSInvocationTest, BindsACallbackParameterToTheRequestsConnection) {
    const int32_t Handle = test::Prepare(*C.Handler, u"TProbe.Call");
    TDBXExecuteMessage Message;
    Message.Reset();
    // The handler that read the request: here the recording handler stands in.
    Message.SetConnectionHandler(C.Next.get());
    test::TProbe::LastCallback = nullptr;
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Handle, HexBytes("02"), &Message), "C0 60");
    auto* Delegate = dynamic_cast<TDBXCallbackDelegate*>(test::TProbe::LastCallback);
    ASSERT_NE(Delegate, nullptr);
    EXPECT_EQ(Delegate->Ordinal(), 0);
    EXPECT_EQ(Delegate->DsServer(), &Harness.Server());
    auto* Server = dynamic_cast<TDBXServerCallback*>(Delegate->Delegate());
    ASSERT_NE(Server, nullptr);
    EXPECT_EQ(Server->Ordinal(), 0);
    EXPECT_EQ(Server->DsServer(), &Harness.Server());
    test::TProbe::LastCallback->Release();
    test::TProbe::LastCallback = nullptr;
    // A null callback field gives the method no callback.
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Handle, HexBytes("C0"), &Message), "C0 20");
    EXPECT_EQ(test::TProbe::LastCallback, nullptr);
}

TEST_F(DSInvocationTest, ClearResourcesReleasesWhatTheLastExecutionLeft) {
    const int32_t Json = test::Prepare(*C.Handler, u"TProbe.MakeJson");
    test::Execute(*C.Handler, *C.Next, Json, {});
    TDBXParameter& Result = MethodOf(Json).Parameters().Parameter(0);
    EXPECT_NE(Result.Value().GetJSONValue(), nullptr);
    // A reader still streaming from this command is closed first, so
    // nothing streams from values that are about to go.
    auto& Command =
        dynamic_cast<TDSServerMethodCommandHandler&>(C.Handler->LookUpCommandHandler(Json));
    Command.GetActiveStreamerRowList().AddReader(nullptr,
                                                 std::make_unique<test::TCountingReader>(5));
    EXPECT_EQ(test::TCountingReader::Live, 1);
    EXPECT_TRUE(C.Handler->ClearResources());
    EXPECT_TRUE(Result.Value().IsNull());
    EXPECT_EQ(Command.GetActiveStreamerRowList().Count(), 0);
    EXPECT_EQ(test::TCountingReader::Live, 0);
}

} // namespace
} // namespace kds
