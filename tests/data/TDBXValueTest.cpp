#include "data/TDBXValue.h"

#include <gtest/gtest.h>
#include <ostream>
#include <typeindex>
#include <typeinfo>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "base/NumberFormat.h"
#include "data/DBXCallback.h"
#include "data/DBXJSON.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXReader.h"
#include "data/TDBXRow.h"
#include "data/TDBXRowBuffer.h"
#include "support/DecimalSeparatorScope.h"
#include "support/ExpectError.h"

using namespace kds;
namespace DT = TDBXDataTypes;

namespace {

// A JSON string that counts how many of its kind are alive.
class TCountedString : public TJSONString {
public:
    static int Alive;
    explicit TCountedString(const std::u16string& V) : TJSONString(V) { ++Alive; }
    ~TCountedString() override { --Alive; }
};
int TCountedString::Alive = 0;

// A callback that tells when it is freed.
class TFakeCallback : public TDBXCallback {
public:
    explicit TFakeCallback(bool& Freed) : FFreed(Freed) {}
    std::unique_ptr<TJSONValue> Execute(TJSONValue*) override { return nullptr; }
    std::unique_ptr<TObject> Execute(TObject*) override { return nullptr; }

protected:
    ~TFakeCallback() override { FFreed = true; }

private:
    bool& FFreed;
};

// A row that serves one fixed integer and counts how often it is asked.
class TCountingRow : public TDBXRow {
public:
    int Reads = 0;
    int32_t Next = 7;
    void GetInt32(const TDBXValue&, int32_t& Out, bool& IsNull) override {
        ++Reads;
        Out = Next;
        IsNull = false;
    }
};

std::unique_ptr<TDBXValueType> Type(int32_t DataType, int32_t SubType = 0) {
    auto T = std::make_unique<TDBXValueType>();
    T->SetName(u"Value");
    T->SetDataType(DataType);
    T->SetSubType(SubType);
    return T;
}

std::unique_ptr<TDBXWritableValue> Make(int32_t DataType, int32_t SubType = 0) {
    return TDBXValue::CreateValue(Type(DataType, SubType));
}

// --- CreateValue: the class of every code ---------------------------------

struct ClassCase {
    int32_t DataType;
    int32_t SubType;
    std::type_index Standard;
    std::type_index OnJsonRow;
};

void PrintTo(const ClassCase& C, std::ostream* Os) {
    *Os << "code " << C.DataType << " sub " << C.SubType;
}

class ValueClasses : public ::testing::TestWithParam<ClassCase> {};

TEST_P(ValueClasses, CreateValueMakesTheClassOfTheCode) {
    const ClassCase& C = GetParam();
    auto V = Make(C.DataType, C.SubType);
    EXPECT_EQ(std::type_index(typeid(*V)), C.Standard);
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    auto T = Type(C.DataType, C.SubType);
    auto OnRow = TDBXValue::CreateValue(nullptr, std::move(T), &Row, false);
    EXPECT_EQ(std::type_index(typeid(*OnRow)), C.OnJsonRow);
    EXPECT_EQ(OnRow->DbxRow(), &Row);
    EXPECT_EQ(OnRow->ValueType().DbxRow(), &Row);
}

#define CASE(Code, Sub, A, B)                                                                      \
    ClassCase {                                                                                    \
        Code, Sub, typeid(A), typeid(B)                                                            \
    }
INSTANTIATE_TEST_SUITE_P(
    Codes, ValueClasses,
    ::testing::Values(
        CASE(1, 0, TDBXAnsiStringBuilderValue, TDBXAnsiCharsValue),
        CASE(2, 0, TDBXDateValue, TDBXDateValue), CASE(3, 0, TDBXStreamValue, TDBXStreamValue),
        CASE(3, 22, TDBXAnsiMemoValue, TDBXAnsiCharsValue),
        CASE(3, 33, TDBXAnsiMemoValue, TDBXAnsiCharsValue),
        CASE(3, 32, TDBXWideMemoValue, TDBXWideCharsValue),
        CASE(4, 0, TDBXBooleanValue, TDBXBooleanValue), CASE(5, 0, TDBXInt16Value, TDBXInt16Value),
        CASE(6, 0, TDBXInt32Value, TDBXInt32Value), CASE(7, 0, TDBXDoubleValue, TDBXDoubleValue),
        CASE(8, 0, TDBXBcdValue, TDBXBcdValue), CASE(9, 32, TDBXWideMemoValue, TDBXWideMemoValue),
        CASE(10, 0, TDBXTimeValue, TDBXTimeValue),
        CASE(11, 0, TDBXTimeStampValue, TDBXTimeStampValue),
        CASE(12, 0, TDBXUInt16Value, TDBXUInt16Value),
        CASE(15, 0, TDBXStreamValue, TDBXStreamValue),
        CASE(17, 0, TDBXCursorValue, TDBXCursorValue), CASE(18, 0, TDBXInt64Value, TDBXInt64Value),
        CASE(20, 0, TDBXStreamValue, TDBXStreamValue),
        CASE(21, 0, TDBXStreamValue, TDBXStreamValue),
        CASE(23, 0, TDBXReaderValue, TDBXReaderValue),
        CASE(24, 0, TDBXTimeStampValue, TDBXTimeStampValue),
        CASE(25, 0, TDBXBcdValue, TDBXBcdValue),
        CASE(26, 0, TDBXWideStringBuilderValue, TDBXWideCharsValue),
        CASE(27, 0, TDBXSingleValue, TDBXSingleValue), CASE(28, 0, TDBXInt8Value, TDBXInt8Value),
        CASE(29, 0, TDBXUInt8Value, TDBXUInt8Value), CASE(33, 0, TDBXStreamValue, TDBXStreamValue),
        CASE(34, 0, TDBXConnectionValue, TDBXConnectionValue),
        CASE(35, 0, TDBXStreamValue, TDBXStreamValue),
        CASE(36, 0, TDBXTimeStampOffsetValue, TDBXTimeStampOffsetValue),
        CASE(37, 0, TDBXJSONValue, TDBXJSONValue),
        CASE(38, 0, TDBXCallbackValue, TDBXCallbackValue)));
#undef CASE

class CodesWithoutClass : public ::testing::TestWithParam<int32_t> {};

TEST_P(CodesWithoutClass, FailWithUnexpectedDataType) {
    test::ExpectDBXError(TDBXErrorCodes::UnsupportedFieldType,
                         "Unexpected data type " + std::to_string(GetParam()),
                         [this] { Make(GetParam()); });
}

INSTANTIATE_TEST_SUITE_P(Codes, CodesWithoutClass,
                         ::testing::Values(0, 13, 14, 16, 19, 22, 30, 31, 32, 39));

TEST(DataTypeNameTest, PrintsNamesAndUnknownCodes) {
    EXPECT_EQ(DataTypeName(26), "TDBXTypes.WideString");
    EXPECT_EQ(DataTypeName(25), "TDBXTypes.Currency");
    EXPECT_EQ(DataTypeName(21), "TDBXTypes.ARRAY_TYPE");
    EXPECT_EQ(DataTypeName(0), "TDBXTypes.UNKNOWN");
    EXPECT_EQ(DataTypeName(37), "TDBXTypes.JSON");
    EXPECT_EQ(DataTypeName(33), "TDBXTypes.UNKNOWN(33)");
    EXPECT_EQ(DataTypeName(38), "TDBXTypes.UNKNOWN(38)");
    EXPECT_EQ(DataTypeName(14), "TDBXTypes.UNKNOWN(14)");
    EXPECT_EQ(DataTypeName(-3), "TDBXTypes.UNKNOWN(-3)");
}

// --- Value types ---------------------------------------------------------

TEST(TDBXValueTypeTest, RefusesEveryChangeWhileTheTypeIsReadOnly) {
    auto T = Type(DT::Int32Type);
    T->SetReadOnlyType();
    const std::vector<std::function<void()>> Setters = {[&] { T->SetName(u"x"); },
                                                        [&] { T->SetDataType(6); },
                                                        [&] { T->SetSize(1); },
                                                        [&] { T->SetFlags(0); },
                                                        [&] { T->SetParameterDirection(1); },
                                                        [&] { T->SetNullable(true); }};
    for (const auto& Set : Setters)
        test::ExpectDBXError(TDBXErrorCodes::InvalidParameter, "Value type cannot be modified",
                             Set);
}

TEST(TDBXValueTypeTest, ClonesTheFieldsButNotCaptionOrRow) {
    TDBXContext Context;
    TDBXValueType T(&Context);
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    T.SetName(u"Amount");
    T.SetCaption(u"Shown");
    T.SetOrdinal(3);
    T.SetDataType(DT::BcdType);
    T.SetSubType(5);
    T.SetSize(1LL << 40);
    T.SetPrecision(32);
    T.SetScale(4);
    T.SetChildPosition(2);
    T.SetParameterDirection(3);
    T.SetFlags(TDBXValueTypeFlags::ReadOnlyType | TDBXValueTypeFlags::Nullable);
    T.SetDbxRow(&Row);
    auto C = T.Clone();
    EXPECT_EQ(C->Name(), u"Amount");
    EXPECT_EQ(C->Caption(), u"");
    EXPECT_EQ(C->DbxRow(), nullptr);
    EXPECT_EQ(C->DBXContext(), &Context);
    EXPECT_EQ(C->Ordinal(), 3);
    EXPECT_EQ(C->DataType(), DT::BcdType);
    EXPECT_EQ(C->SubType(), 5);
    EXPECT_EQ(C->Size(), 1LL << 40);
    EXPECT_EQ(C->Precision(), 32);
    EXPECT_EQ(C->Scale(), 4);
    EXPECT_EQ(C->ChildPosition(), 2);
    EXPECT_EQ(C->ParameterDirection(), 3);
    EXPECT_TRUE(C->ReadOnlyType());
    auto W = T.WritableClone();
    EXPECT_FALSE(W->ReadOnlyType());
    EXPECT_TRUE(W->Nullable());
    W->SetName(u"Changed");
    EXPECT_TRUE(W->Modified());
}

// --- Typed access -------------------------------------------------------

TEST(TDBXValueTest, WrongKindAccessNamesBothTypes) {
    auto Text = Make(DT::WideStringType);
    Text->SetWideString(u"12");
    test::ExpectDBXError(
        TDBXErrorCodes::InvalidType,
        "TDBXTypes.WideString value type cannot be accessed as TDBXTypes.INT32 value type",
        [&] { Text->GetInt32(); });
    auto Number = Make(DT::Int16Type);
    test::ExpectDBXError(
        TDBXErrorCodes::InvalidType,
        "TDBXTypes.INT16 value type cannot be accessed as TDBXTypes.DOUBLE value type",
        [&] { Number->SetDouble(1.5); });
    EXPECT_THROW(Make(DT::JsonValueType)->GetDBXReader(), TDBXError);
}

TEST(TDBXValueTest, DefaultFormsAnswerTheDefaultOnlyWhenNull) {
    auto Text = Make(DT::WideStringType);
    EXPECT_TRUE(Text->IsNull());
    EXPECT_EQ(Text->GetWideString(u"none"), u"none");
    Text->SetWideString(u"");
    EXPECT_FALSE(Text->IsNull());
    EXPECT_EQ(Text->GetWideString(u"none"), u"");
    auto Number = Make(DT::Int64Type);
    EXPECT_EQ(Number->GetInt64(-5), -5);
    Number->SetInt64(9);
    EXPECT_EQ(Number->GetInt64(-5), 9);
    auto Flag = Make(DT::BooleanType);
    EXPECT_TRUE(Flag->GetBoolean(true));
    Flag->SetNull();
    EXPECT_TRUE(Flag->IsNull());
    EXPECT_FALSE(Flag->GetBoolean(false));
}

struct TextConversion {
    std::u16string Text;
    int32_t AsInt32;
    double AsDouble;
    bool AsBoolean;
};

void PrintTo(const TextConversion& C, std::ostream* Os) {
    *Os << "text of " << C.Text.size() << " units, int " << C.AsInt32;
}

class TextConversions : public ::testing::TestWithParam<TextConversion> {};

TEST_P(TextConversions, ConvertLikeTheRuntime) {
    test::TDecimalSeparatorScope Comma(u',');
    for (int32_t Code : {DT::WideStringType, DT::AnsiStringType}) {
        auto V = Make(Code);
        V->SetString(GetParam().Text);
        EXPECT_EQ(V->AsInt32(), GetParam().AsInt32);
        EXPECT_EQ(V->AsDouble(), GetParam().AsDouble);
        EXPECT_EQ(V->AsBoolean(), GetParam().AsBoolean);
        EXPECT_EQ(V->AsString(), GetParam().Text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextConversions,
    ::testing::Values(TextConversion{u"12x", 0, 0, false}, TextConversion{u"12", 12, 12, false},
                      TextConversion{u"-7", -7, -7, false}, TextConversion{u"2,5", 0, 2.5, false},
                      TextConversion{u"2.5", 0, 0, false},
                      TextConversion{u"99999999999", 0, 99999999999.0, false},
                      TextConversion{u"True", 0, 0, true}, TextConversion{u"true", 0, 0, false},
                      TextConversion{u"", 0, 0, false}));

TEST(TDBXValueTest, TextConvertsDatesAndDecimalsThroughTheFormatter) {
    auto V = Make(DT::WideStringType);
    V->SetWideString(u"2024-02-29");
    EXPECT_EQ(V->AsDate(), EncodeDBXDate(2024, 2, 29));
    V->SetWideString(u"12.30");
    EXPECT_EQ(V->AsBcd().ToString('.'), "12.30");
    V->SetWideString(u"2024-02-30");
    EXPECT_THROW(V->AsDate(), EConvertError);
}

TEST(TDBXValueTest, OtherClassesGiveTheirTextForm) {
    auto B = Make(DT::BooleanType);
    B->SetBoolean(true);
    EXPECT_EQ(B->AsString(), u"True");
    auto I = Make(DT::Int8Type);
    I->SetInt8(-128);
    EXPECT_EQ(I->AsString(), u"-128");
    auto D = Make(DT::DoubleType);
    D->SetDouble(0.5);
    EXPECT_EQ(D->AsString(), u"0.5");
    auto Date = Make(DT::DateType);
    Date->SetDate(EncodeDBXDate(1899, 12, 30));
    EXPECT_EQ(Date->AsString(), u"1899-12-30");
    EXPECT_EQ(Date->AsDateTime(), 0.0);
    EXPECT_THROW(I->AsDouble(), TDBXError);
}

TEST(TDBXValueTest, SetValueCopiesTheSameKindAndNull) {
    auto A = Make(DT::TimeStampType);
    auto B = Make(DT::DateTimeType);
    TSQLTimeStamp T;
    T.Year = 2020;
    T.Month = 5;
    T.Day = 6;
    A->SetTimeStamp(T);
    B->SetValue(*A);
    EXPECT_TRUE(B->EqualsValue(*A));
    EXPECT_EQ(B->GetTimeStamp(), T);
    auto Null = Make(DT::TimeStampType);
    B->SetValue(*Null);
    EXPECT_TRUE(B->IsNull());
    EXPECT_EQ(B->Compare(*A), -1);
    auto Text = Make(DT::WideStringType);
    Text->SetWideString(u"x");
    EXPECT_THROW(B->SetValue(*Text), TDBXError);
}

TEST(TDBXValueTest, ComparesNumbersAndTexts) {
    auto A = Make(DT::Int32Type), B = Make(DT::Int32Type);
    A->SetInt32(-2);
    B->SetInt32(3);
    EXPECT_EQ(A->Compare(*B), -1);
    EXPECT_EQ(B->Compare(*A), 1);
    EXPECT_FALSE(A->EqualsValue(*B));
    auto S = Make(DT::WideStringType), T = Make(DT::WideStringType);
    S->SetWideString(u"abc");
    T->SetWideString(u"abd");
    EXPECT_EQ(S->Compare(*T), -1);
    auto X = Make(DT::BcdType), Y = Make(DT::CurrencyType);
    TBcd P, Q;
    TBcd::TryParse("1.50", '.', P);
    TBcd::TryParse("1.5", '.', Q);
    X->SetBcd(P);
    Y->SetBcd(Q);
    EXPECT_TRUE(X->EqualsValue(*Y));
}

// --- Generations -------------------------------------------------------

TEST(TDBXValueTest, ReadsTheRowOncePerGeneration) {
    TCountingRow Row;
    auto V = TDBXValue::CreateValue(nullptr, Type(DT::Int32Type), &Row, false);
    EXPECT_EQ(V->GetInt32(), 7);
    EXPECT_EQ(V->GetInt32(), 7);
    EXPECT_FALSE(V->IsNull());
    EXPECT_EQ(Row.Reads, 1);
    Row.Next = 8;
    Row.NewGeneration();
    EXPECT_EQ(V->GetInt32(), 8);
    EXPECT_EQ(Row.Reads, 2);
    V->SetInt32(100); // local until flushed; no read, no write
    EXPECT_EQ(V->GetInt32(), 100);
    EXPECT_TRUE(V->SetPending());
    EXPECT_EQ(Row.Reads, 2);
    Row.NewGeneration();
    EXPECT_EQ(V->GetInt32(), 8);
    EXPECT_FALSE(V->SetPending());
}

// --- JSON values --------------------------------------------------------

TEST(TDBXJSONValueTest, FreesAnOwnedTreeWhenReplacedNulledOrDestroyed) {
    TCountedString::Alive = 0;
    {
        auto V = Make(DT::JsonValueType);
        V->SetJSONValue(new TCountedString(u"a"), true);
        V->SetJSONValue(new TCountedString(u"b"), true);
        EXPECT_EQ(TCountedString::Alive, 1);
        EXPECT_EQ(V->GetWideString(), u"b");
        V->SetNull();
        EXPECT_EQ(TCountedString::Alive, 0);
        V->SetJSONValue(new TCountedString(u"c"), true);
    }
    EXPECT_EQ(TCountedString::Alive, 0);
}

TEST(TDBXJSONValueTest, HandsTheTreeOutWithTheOwnershipAsked) {
    TCountedString::Alive = 0;
    TCountedString Kept(u"kept"); // never owned by the value
    TJSONValue* Handed = nullptr;
    {
        auto V = Make(DT::JsonValueType);
        V->SetJSONValue(&Kept, false);
        V->SetJSONValue(new TCountedString(u"tree"), true);
        Handed = V->GetJSONValue(false);
        auto* J = dynamic_cast<TDBXJSONValue*>(V.get());
        ASSERT_NE(J, nullptr);
        EXPECT_EQ(J->EstimatedByteSize(), 6 * 4 + 2);
    }
    EXPECT_EQ(TCountedString::Alive, 2); // Kept and the handed-out tree
    delete Handed;
    EXPECT_EQ(TCountedString::Alive, 1);
}

TEST(TDBXJSONValueTest, AcceptsOnlyJsonAsObjectValue) {
    class TPlain : public TObject {};
    TPlain Plain;
    auto V = Make(DT::JsonValueType);
    test::ExpectDBXErrorCode(TDBXErrorCodes::InvalidType,
                             [&] { V->SetObjectValue(&Plain, false); });
}

TEST(TDBXJSONValueTest, ReadsAndWritesJsonBlocksThroughTheRow) {
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    auto V = TDBXValue::CreateValue(nullptr, Type(DT::JsonValueType), &Row, false);
    V->SetJSONValue(new TJSONString(u"reset"), true);
    V->Flush();
    const std::vector<uint8_t> Block(Buffer.Data(), Buffer.Data() + Buffer.Size());
    EXPECT_EQ(Block, (std::vector<uint8_t>{0x40, 0, 0, 0, 7, '"', 'r', 'e', 's', 'e', 't', '"'}));
    const std::vector<uint8_t> Request = {0x40, 0,   0,    0,    8,   '[', '1',
                                          ',',  '"', 0xC3, 0xA9, '"', ']'};
    Buffer.SetReadBytes(Request.data(), 13);
    ASSERT_NE(V->GetJSONValue(), nullptr);
    EXPECT_EQ(V->GetJSONValue()->ToString(), u"[1,\"\u00E9\"]");
    const std::vector<uint8_t> Bad = {0x40, 0, 0, 0, 1, '['};
    Buffer.SetReadBytes(Bad.data(), 6);
    test::ExpectDBXError(0, "JSON byte stream cannot be parsed correctly into a JSON value",
                         [&] { V->GetJSONValue(); });
}

// --- Callback values ----------------------------------------------------

TEST(TDBXCallbackValueTest, StartsWithAFreshDelegateAndCountsItsReference) {
    auto V = Make(DT::CallbackType);
    EXPECT_FALSE(V->IsNull());
    auto* Delegate = dynamic_cast<TDBXCallbackDelegate*>(V->GetCallbackValue());
    ASSERT_NE(Delegate, nullptr);
    EXPECT_EQ(Delegate->RefCount(), 1);
    bool Freed = false;
    auto* Callback = new TFakeCallback(Freed);
    Callback->AddRef(); // the test's own reference
    V->SetCallbackValue(Callback);
    EXPECT_EQ(Callback->RefCount(), 2);
    V->SetNull();
    EXPECT_TRUE(V->IsNull());
    EXPECT_EQ(Callback->RefCount(), 1);
    V->SetCallbackValue(Callback);
    V.reset();
    EXPECT_FALSE(Freed);
    Callback->Release();
    EXPECT_TRUE(Freed);
}

TEST(TDBXCallbackValueTest, WritesAndReadsTheMark) {
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    auto V = TDBXValue::CreateValue(nullptr, Type(DT::CallbackType), &Row, false);
    V->MarkAsPending();
    V->Flush();
    ASSERT_EQ(Buffer.Size(), 1);
    EXPECT_EQ(Buffer.Data()[0], 0x02);
    const uint8_t Null = 0xC0, Mark = 0x02;
    Buffer.SetReadBytes(&Null, 1);
    EXPECT_TRUE(V->IsNull());
    Buffer.SetReadBytes(&Mark, 1);
    EXPECT_NE(dynamic_cast<TDBXCallbackDelegate*>(V->GetCallbackValue()), nullptr);
}

// --- Streams and overflow ----------------------------------------------------

TEST(TDBXStreamValueTest, KeepsWhatDidNotFitAsOverflow) {
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    auto V = TDBXValue::CreateValue(nullptr, Type(DT::BinaryBlobType), &Row, false);
    std::vector<uint8_t> Bytes(1100, 0x5A);
    V->SetDynamicBytes(0, Bytes, 0, 1100);
    EXPECT_EQ(V->GetValueSize(), 1100);
    V->Flush();
    ASSERT_NE(V->OverflowStream(), nullptr);
    EXPECT_EQ(V->OverflowStream()->ReadRemaining(), std::vector<uint8_t>(76, 0x5A));

    auto Text = TDBXValue::CreateValue(nullptr, Type(DT::WideStringType), &Row, false);
    Buffer.StartOver();
    Text->SetWideString(std::u16string(1025, u'w'));
    Text->Flush();
    ASSERT_NE(Text->OverflowStream(), nullptr);
    EXPECT_EQ(Text->OverflowStream()->Size(), 1);
    Text->SetWideString(u"short");
    Text->Flush();
    EXPECT_EQ(Text->OverflowStream(), nullptr);
}

// Values of a table (attached to no row) write themselves into a row of the
// streaming side; their long values are handed over and leave nothing
// behind.
TEST(TDBXValueTest, WritesItselfIntoAnotherRowAndHandsItsOverflowOver) {
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    auto Text = Make(DT::WideStringType);
    auto Number = Make(DT::Int32Type);
    auto Blob = Make(DT::BinaryBlobType);
    auto Empty = Make(DT::WideStringType);
    Text->SetWideString(std::u16string(1030, u't'));
    Number->SetInt32(-1);
    Blob->SetDynamicBytes(0, std::vector<uint8_t>(1030, 0xB0), 0, 1030);
    Text->WriteInto(Row);
    Number->WriteInto(Row);
    Blob->WriteInto(Row);
    Empty->WriteInto(Row);
    ASSERT_EQ(Buffer.Size(), (3 + 1024) + 2 + (3 + 1024) + 1);
    EXPECT_EQ(Buffer.Data()[0], 0x50);
    EXPECT_EQ(Buffer.Data()[1027], 0x21);
    EXPECT_EQ(Buffer.Data()[1029], 0x50);
    EXPECT_EQ(Buffer.Data()[Buffer.Size() - 1], 0xC0);

    std::unique_ptr<TStream> TextRest = Text->TakeOverflow();
    ASSERT_NE(TextRest, nullptr);
    EXPECT_EQ(TextRest->ReadRemaining(), std::vector<uint8_t>(6, 't'));
    EXPECT_EQ(Text->TakeOverflow(), nullptr);
    EXPECT_EQ(Number->TakeOverflow(), nullptr);
    std::unique_ptr<TStream> BlobRest = Blob->TakeOverflow();
    ASSERT_NE(BlobRest, nullptr);
    EXPECT_EQ(BlobRest->ReadRemaining(), std::vector<uint8_t>(6, 0xB0));
    EXPECT_EQ(Blob->TakeOverflow(), nullptr);
    // The value itself is unchanged by the streaming.
    EXPECT_EQ(Blob->GetValueSize(), 1030);
    EXPECT_EQ(Text->GetWideString().size(), 1030u);
}

TEST(TDBXReaderValueTest, HandsAnOwnedReaderOverAndKeepsPointingAtIt) {
    struct TEmptyReader : TDBXReader {
        int32_t ColumnCount() const override { return 0; }
        const TDBXValueType& ValueType(int32_t) const override { throw TDBXError(8, ""); }
        TDBXValue& Value(int32_t) override { throw TDBXError(8, ""); }
        bool Next() override { return false; }
        void Close() override {}
    };
    auto V = Make(DT::TableType);
    auto* Reader = new TEmptyReader();
    V->SetDBXReader(Reader, true);
    std::unique_ptr<TDBXReader> Taken = static_cast<TDBXReaderValue&>(*V).TakeReader();
    EXPECT_EQ(Taken.get(), Reader);
    EXPECT_EQ(V->GetDBXReader(), Reader);
    EXPECT_EQ(static_cast<TDBXReaderValue&>(*V).TakeReader(), nullptr);
    V.reset(); // does not free the reader it no longer owns
    EXPECT_EQ(Taken->ColumnCount(), 0);

    TEmptyReader Lent;
    auto Holder = Make(DT::TableType);
    Holder->SetDBXReader(&Lent, false);
    EXPECT_EQ(static_cast<TDBXReaderValue&>(*Holder).TakeReader(), nullptr);
}

} // namespace

namespace {

// Every value class written through a JSON row and read back by a second set
// of values over the same buffer.
TEST(TDBXJSonRowTest, CarriesEveryValueClassThroughTheRow) {
    setenv("TZ", "ABC-2", 1);
    tzset();
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row(nullptr, &Buffer);
    const std::vector<std::pair<int32_t, int32_t>> Codes = {{DT::Int8Type, 0},
                                                            {DT::UInt8Type, 0},
                                                            {DT::Int16Type, 0},
                                                            {DT::UInt16Type, 0},
                                                            {DT::Int64Type, 0},
                                                            {DT::DoubleType, 27},
                                                            {DT::DateType, 0},
                                                            {DT::TimeType, 0},
                                                            {DT::TimeStampType, 0},
                                                            {DT::BcdType, 0},
                                                            {DT::TimeStampOffsetType, 0},
                                                            {DT::AnsiStringType, 0},
                                                            {DT::BlobType, 32},
                                                            {DT::VarBytesType, 0},
                                                            {DT::BooleanType, 0}};
    auto MakeAll = [&] {
        std::vector<std::unique_ptr<TDBXWritableValue>> Values;
        for (size_t I = 0; I < Codes.size(); ++I) {
            auto T = Type(Codes[I].first, Codes[I].second);
            T->SetOrdinal(static_cast<int32_t>(I));
            Values.push_back(TDBXValue::CreateValue(nullptr, std::move(T), &Row, false));
        }
        return Values;
    };
    auto Out = MakeAll();
    Out[0]->SetInt8(-128);
    Out[1]->SetUInt8(255);
    Out[2]->SetInt16(-32768);
    Out[3]->SetUInt16(65535);
    Out[4]->SetInt64(-1);
    Out[5]->SetDouble(0.5);
    Out[6]->SetDate(EncodeDBXDate(2000, 2, 29));
    Out[7]->SetTime(86399999);
    TSQLTimeStamp T;
    T.Year = 2038;
    T.Month = 1;
    T.Day = 19;
    T.Hour = 5;
    T.Minute = 14;
    T.Second = 8;
    T.Fractions = 999;
    Out[8]->SetTimeStamp(T);
    TBcd Bcd;
    TBcd::TryParse("-0.001", '.', Bcd);
    Out[9]->SetBcd(Bcd);
    TSQLTimeStampOffset O;
    O.Year = 2024;
    O.Month = 6;
    O.Day = 1;
    O.TimeZoneHour = -3;
    O.TimeZoneMinute = -30;
    Out[10]->SetTimeStampOffset(O);
    Out[11]->SetAnsiString("caf\xE9\xFF");
    Out[12]->SetWideString(u"\u00FF\u4E2D");
    Out[13]->SetStaticBytes(2, reinterpret_cast<const uint8_t*>("xyz"), 1, 2);
    Out[14]->SetBoolean(false);
    for (auto& V : Out)
        V->Flush();
    Buffer.BeginRead();
    // The single sub type travels as four bytes.
    EXPECT_EQ(Buffer.Data()[12], 0x61);
    EXPECT_EQ(Buffer.Data()[13], 0x3F);
    auto In = MakeAll();
    EXPECT_EQ(In[14]->GetBoolean(), false); // backwards first: skips every field
    for (size_t I = 0; I < Codes.size(); ++I)
        EXPECT_TRUE(In[I]->EqualsValue(*Out[I])) << "ordinal " << I;
    EXPECT_EQ(In[11]->GetAnsiString(), "caf\xE9\xFF");
    EXPECT_EQ(In[12]->GetWideString(), u"\u00FF\u4E2D");
    EXPECT_EQ(In[13]->GetBytes(), (std::vector<uint8_t>{0, 0, 'y', 'z'}));
    EXPECT_EQ(In[8]->GetTimeStamp(), T);
    EXPECT_EQ(In[10]->GetTimeStampOffset(), O);
    unsetenv("TZ");
    tzset();
}

} // namespace
