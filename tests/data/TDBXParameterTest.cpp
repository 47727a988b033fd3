#include "data/TDBXParameter.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "base/DBXError.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXRowBuffer.h"
#include "support/ExpectError.h"

using namespace kds;
namespace DT = TDBXDataTypes;
namespace PD = TDBXParameterDirections;

namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<TDBXParameter> Param(const std::u16string& Name, int32_t DataType,
                                     int32_t Direction) {
    auto P = std::make_unique<TDBXParameter>();
    P->SetName(Name);
    P->SetDataType(DataType);
    P->SetParameterDirection(Direction);
    return P;
}

// A prepared server method's parameters over the connection's row buffer.
class ServerMethodCall : public ::testing::Test {
protected:
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row{nullptr, &Buffer};
    TDBXParameterList Params{nullptr, &Row};

    void Receive(const Bytes& Request) {
        Buffer.SetReadBytes(Request.data(), static_cast<int32_t>(Request.size()));
    }
    Bytes Reply() const { return Bytes(Buffer.Data(), Buffer.Data() + Buffer.Size()); }

    // TServerMethods1.EchoString: answers its argument.
    void RunEchoString() {
        Params.NullOutParameters();
        const std::u16string Argument = Params[0].Value().GetWideString();
        Params[1].Value().SetWideString(Argument);
        Params.FlushReply();
    }

    void PrepareEchoString() {
        Params.AddParameter(Param(u"Value", DT::WideStringType, PD::InParameter));
        Params.AddParameter(Param(u"ReturnParameter", DT::WideStringType, PD::ReturnParameter));
    }
};

TEST_F(ServerMethodCall, EchoStringRequestFieldIsTheTextAb) {
    PrepareEchoString();
    Buffer.StartOver();
    Params[0].Value().SetWideString(u"ab");
    Params[0].Value().Flush();
    EXPECT_EQ(Reply(), (Bytes{0x22, 0x61, 0x62}));
}

TEST_F(ServerMethodCall, EchoStringReplyRowNullsTheInParameterThenCarriesTheResult) {
    PrepareEchoString();
    Receive({0x22, 0x61, 0x62, 0xC0});
    RunEchoString();
    EXPECT_EQ(Reply(), (Bytes{0xC0, 0x22, 0x61, 0x62}));

    // The same command again: the new request is read afresh.
    Receive({0x23, 'x', 'y', 'z', 0xC0});
    RunEchoString();
    EXPECT_EQ(Reply(), (Bytes{0xC0, 0x23, 'x', 'y', 'z'}));
}

TEST_F(ServerMethodCall, NullsOutParametersBeforeTheCallAndCarriesInOutValues) {
    Params.AddParameter(Param(u"A", DT::Int32Type, PD::InParameter));
    Params.AddParameter(Param(u"B", DT::Int32Type, PD::OutParameter));
    Params.AddParameter(Param(u"C", DT::Int32Type, PD::InOutParameter));
    Params.AddParameter(Param(u"ReturnParameter", DT::BooleanType, PD::ReturnParameter));
    Receive({0x61, 0x05, 0x61, 0x09, 0x62, 0x01, 0x2C, 0xC0});
    Params.NullOutParameters();
    EXPECT_TRUE(Params[1].Value().IsNull());
    const int32_t C = Params[2].Value().GetInt32();
    EXPECT_EQ(C, 300);
    Params[2].Value().SetInt32(C + Params[0].Value().GetInt32());
    Params[3].Value().SetBoolean(true);
    Params.FlushReply();
    EXPECT_EQ(Reply(), (Bytes{0xC0, 0xC0, 0x62, 0x01, 0x31, 0x60}));
}

TEST_F(ServerMethodCall, RefusesToFlushAReturnValueTheMethodDidNotSet) {
    PrepareEchoString();
    Receive({0x22, 0x61, 0x62, 0xC0});
    Params.NullOutParameters();
    test::ExpectDBXError(11, "Parameter not set for column number 1", [&] { Params.FlushReply(); });
    // A result is set only for the call that set it.
    Receive({0x22, 0x61, 0x62, 0xC0});
    RunEchoString();
    Receive({0x22, 0x61, 0x62, 0xC0});
    Params.NullOutParameters();
    EXPECT_THROW(Params.FlushReply(), TDBXError);
}

TEST_F(ServerMethodCall, WritesAnInOutParameterThatIsNotPendingAsNull) {
    Params.AddParameter(Param(u"C", DT::WideStringType, PD::InOutParameter));
    Receive({0x21, 'q'});
    EXPECT_EQ(Params[0].Value().GetWideString(), u"q");
    Params.FlushReply();
    EXPECT_EQ(Reply(), (Bytes{0xC0}));
    Receive({0x21, 'q'});
    Params[0].Value().GetWideString();
    Params[0].Value().MarkAsPending();
    Params.FlushReply();
    EXPECT_EQ(Reply(), (Bytes{0x21, 'q'}));
}

TEST(TDBXParameterTest, RemakesItsValueWhenTheTypeChanges) {
    TDBXParameter P;
    EXPECT_NE(dynamic_cast<TDBXNullValue*>(&P.Value()), nullptr);
    P.SetDataType(DT::Int64Type);
    TDBXWritableValue* First = &P.Value();
    EXPECT_NE(dynamic_cast<TDBXInt64Value*>(First), nullptr);
    EXPECT_EQ(&P.Value(), First);
    P.SetDataType(DT::JsonValueType);
    EXPECT_NE(dynamic_cast<TDBXJSONValue*>(&P.Value()), nullptr);
    EXPECT_EQ(&P.Value().ValueType(), &P);
}

TEST(TDBXParameterListTest, KeepsOrdinalsInStepAndSharesTheRow) {
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    TDBXParameterList L(nullptr, &Row);
    L.AddParameter(Param(u"A", DT::Int32Type, PD::InParameter));
    L.AddParameter(Param(u"C", DT::Int32Type, PD::InParameter));
    L.InsertParameter(1, Param(u"B", DT::Int32Type, PD::InParameter));
    ASSERT_EQ(L.Count(), 3);
    for (int32_t I = 0; I < 3; ++I) {
        EXPECT_EQ(L[I].Ordinal(), I);
        EXPECT_EQ(L[I].Value().DbxRow(), &Row);
    }
    EXPECT_EQ(L.GetOrdinal(u"b"), 1);
    EXPECT_EQ(L.GetOrdinal(u"Z"), -1);
    auto Removed = L.RemoveParameter(0);
    EXPECT_EQ(Removed->Name(), u"A");
    EXPECT_EQ(L[0].Name(), u"B");
    EXPECT_EQ(L[0].Ordinal(), 0);
    L.SetCount(4);
    EXPECT_EQ(L.Count(), 4);
    EXPECT_EQ(L[3].Ordinal(), 3);
    test::ExpectDBXErrorCode(TDBXErrorCodes::InvalidOrdinal, [&] { L.Parameter(4); });
    EXPECT_THROW(L.InsertParameter(6, Param(u"X", 6, 1)), TDBXError);
    auto All = L.RemoveParameters();
    EXPECT_EQ(All.size(), 4u);
    EXPECT_EQ(L.Count(), 0);
}

TEST(TDBXParameterListTest, RenumbersReadOnlyTypes) {
    TDBXParameterList L(nullptr, nullptr);
    auto P = Param(u"Fixed", DT::Int32Type, PD::InParameter);
    P->SetReadOnlyType();
    L.AddParameter(Param(u"First", DT::Int32Type, PD::InParameter));
    L.AddParameter(std::move(P));
    L.RemoveParameter(0);
    EXPECT_EQ(L[0].Ordinal(), 0);
}

} // namespace
