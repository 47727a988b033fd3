#include "data/TDBXMemoryTable.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "support/DecimalSeparatorScope.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

using namespace kds;
namespace DT = TDBXDataTypes;
namespace EC = TDBXErrorCodes;

namespace {

using Text = std::optional<std::u16string>;
using Number = std::optional<int32_t>;
constexpr const char* NullMark = "<null>";

std::unique_ptr<TDBXValueType> Column(const std::u16string& Name, int32_t DataType,
                                      const std::u16string& Caption = {}) {
    auto C = std::make_unique<TDBXValueType>();
    C->SetName(Name);
    C->SetCaption(Caption.empty() ? Name : Caption);
    C->SetDataType(DataType);
    C->SetSize(DataType == DT::WideStringType ? 256 : 4);
    return C;
}

std::unique_ptr<TDBXMemoryTable> NewTable(std::vector<std::unique_ptr<TDBXValueType>> Columns) {
    return std::make_unique<TDBXMemoryTable>(nullptr, u"Items", std::move(Columns));
}

// A table of a text column "Name" and an integer column "Number".
std::unique_ptr<TDBXMemoryTable> NameNumberTable() {
    std::vector<std::unique_ptr<TDBXValueType>> Columns;
    Columns.push_back(Column(u"Name", DT::WideStringType, u"The Name"));
    Columns.push_back(Column(u"Number", DT::Int32Type));
    return NewTable(std::move(Columns));
}

void AddRow(TDBXTable& Table, const Text& Name, const Number& N) {
    Table.Insert();
    if (Name)
        Table.Value(0).SetWideString(*Name);
    if (N)
        Table.Value(1).SetInt32(*N);
}

std::string Shown(TDBXValue& V) {
    return V.IsNull() ? NullMark : Utf16ToUtf8(V.AsString());
}

// Column Ordinal of every row, first to last; the current row is kept.
std::vector<std::string> ColumnValues(TDBXMemoryTable& Table, int32_t Ordinal) {
    const int64_t Keep = Table.Index();
    std::vector<std::string> Out;
    for (bool More = Table.First(); More; More = Table.Next())
        Out.push_back(Shown(Table.Value(Ordinal)));
    Table.First();
    while (Table.Index() < Keep && Table.Next()) {
    }
    return Out;
}

std::string CurrentName(TDBXMemoryTable& Table) {
    return Shown(Table.Value(0));
}

} // namespace

// ---------------------------------------------------------------------------
// Rows and navigation

TEST(TDBXMemoryTableTest, InsertAppendsARowOfNullValuesOfTheColumnTypesAndMakesItCurrent) {
    auto Table = NameNumberTable();
    EXPECT_FALSE(Table->InBounds());
    AddRow(*Table, u"a", 1);
    Table->Insert();
    EXPECT_EQ(Table->GetTableCount(), 2);
    EXPECT_EQ(Table->Index(), 1);
    ASSERT_TRUE(Table->InBounds());
    for (int32_t I = 0; I < 2; ++I) {
        TDBXWritableValue& V = Table->Value(I);
        EXPECT_TRUE(V.IsNull());
        EXPECT_EQ(V.ValueType().Ordinal(), I);
        EXPECT_EQ(V.ValueType().DataType(), Table->Column(I).DataType());
        // Each value has its own copy of the column type.
        EXPECT_NE(&V.ValueType(), &Table->Column(I));
    }
    EXPECT_NE(dynamic_cast<TDBXWideStringBuilderValue*>(&Table->Value(0)), nullptr);
    EXPECT_NE(dynamic_cast<TDBXInt32Value*>(&Table->Value(1)), nullptr);
    // Post and AcceptChanges change nothing: the rows were live already.
    Table->Post();
    Table->AcceptChanges();
    ASSERT_TRUE(Table->First());
    EXPECT_EQ(CurrentName(*Table), "a");
    EXPECT_EQ(Table->Value(1).GetInt32(), 1);
}

TEST(TDBXMemoryTableTest, FirstNextAndInBoundsWalkTheRowsAndStopPastTheLast) {
    auto Table = NameNumberTable();
    EXPECT_FALSE(Table->First());
    EXPECT_FALSE(Table->Next());
    AddRow(*Table, u"a", 1);
    AddRow(*Table, u"b", 2);
    ASSERT_TRUE(Table->First());
    EXPECT_EQ(CurrentName(*Table), "a");
    ASSERT_TRUE(Table->Next());
    EXPECT_EQ(CurrentName(*Table), "b");
    EXPECT_FALSE(Table->Next());
    EXPECT_FALSE(Table->Next());
    EXPECT_FALSE(Table->InBounds());
    EXPECT_EQ(Table->Index(), 2);
    EXPECT_TRUE(Table->First());
}

TEST(TDBXMemoryTableTest, ValueOffARowOrOutsideTheColumnsRaises) {
    auto Table = NameNumberTable();
    test::ExpectDBXError(EC::EOF_, "Table Items is not on a row", [&] { Table->Value(0); });
    AddRow(*Table, u"a", 1);
    test::ExpectDBXError(EC::InvalidOrdinal, "Table Items has no column 2",
                         [&] { Table->Value(2); });
    test::ExpectDBXError(EC::InvalidOrdinal, "Table Items has no column -1",
                         [&] { Table->Column(-1); });
    Table->Next();
    test::ExpectDBXError(EC::EOF_, "Table Items is not on a row", [&] { Table->Value(1); });
}

TEST(TDBXMemoryTableTest, GetOrdinalFindsColumnsWithoutRegardToAsciiCase) {
    auto Table = NameNumberTable();
    EXPECT_EQ(Table->GetOrdinal(u"Name"), 0);
    EXPECT_EQ(Table->GetOrdinal(u"NUMBER"), 1);
    EXPECT_EQ(Table->GetOrdinal(u"Numbe"), -1);
    EXPECT_EQ(Table->GetOrdinal(u""), -1);
}

TEST(TDBXMemoryTableTest, DeleteRowRemovesTheCurrentRowAndTheNextBecomesCurrent) {
    auto Table = NameNumberTable();
    for (const char16_t* N : {u"a", u"b", u"c"})
        AddRow(*Table, std::u16string(N), std::nullopt);
    Table->First();
    Table->Next();
    Table->DeleteRow();
    EXPECT_EQ(CurrentName(*Table), "c");
    EXPECT_EQ(ColumnValues(*Table, 0), (std::vector<std::string>{"a", "c"}));
    Table->DeleteRow();
    EXPECT_FALSE(Table->InBounds());
    test::ExpectDBXError(EC::EOF_, "Table Items is not on a row", [&] { Table->DeleteRow(); });
    EXPECT_EQ(Table->GetTableCount(), 1);
}

TEST(TDBXMemoryTableTest, ClearAndCloseDropTheRowsAndKeepTheColumns) {
    auto Table = NameNumberTable();
    AddRow(*Table, u"a", 1);
    Table->Clear();
    EXPECT_EQ(Table->GetTableCount(), 0);
    EXPECT_FALSE(Table->First());
    AddRow(*Table, u"b", 2);
    Table->Close();
    EXPECT_EQ(Table->GetTableCount(), 0);
    EXPECT_EQ(Table->ColumnCount(), 2);
    EXPECT_EQ(Table->Column(1).Name(), u"Number");
}

// ---------------------------------------------------------------------------
// Copies

TEST(TDBXMemoryTableTest, CopyColumnsTakesNamesCaptionsAndTypesAndDropsTheRows) {
    auto Source = NameNumberTable();
    auto Target = NewTable({});
    Target->SetColumns([] {
        std::vector<std::unique_ptr<TDBXValueType>> C;
        C.push_back(Column(u"Other", DT::BooleanType));
        return C;
    }());
    Target->Insert();
    Target->CopyColumns(*Source);
    EXPECT_EQ(Target->GetTableCount(), 0);
    ASSERT_EQ(Target->ColumnCount(), 2);
    for (int32_t I = 0; I < 2; ++I) {
        EXPECT_EQ(Target->Column(I).Name(), Source->Column(I).Name());
        EXPECT_EQ(Target->Column(I).Caption(), Source->Column(I).Caption());
        EXPECT_EQ(Target->Column(I).DataType(), Source->Column(I).DataType());
        EXPECT_EQ(Target->Column(I).Size(), Source->Column(I).Size());
        EXPECT_EQ(Target->Column(I).Ordinal(), I);
    }
}

TEST(TDBXMemoryTableTest, CopyFromAppendsCopiesOfEveryRowAndLeavesTheSourceOnItsFirstRow) {
    auto Source = NameNumberTable();
    AddRow(*Source, u"a", 1);
    AddRow(*Source, std::nullopt, 2);
    auto Target = NameNumberTable();
    AddRow(*Target, u"t", 0);
    Target->CopyFrom(*Source);
    EXPECT_EQ(ColumnValues(*Target, 0), (std::vector<std::string>{"t", "a", NullMark}));
    EXPECT_EQ(ColumnValues(*Target, 1), (std::vector<std::string>{"0", "1", "2"}));
    EXPECT_EQ(Source->Index(), 0);
    // The copies are values of their own.
    Source->Value(0).SetWideString(u"changed");
    Target->First();
    Target->Next();
    EXPECT_EQ(CurrentName(*Target), "a");
}

TEST(TDBXMemoryTableTest, CopyFromATableOfOtherColumnsRaisesAndAppendsNothing) {
    auto Source = NewTable([] {
        std::vector<std::unique_ptr<TDBXValueType>> C;
        C.push_back(Column(u"Name", DT::WideStringType));
        C.push_back(Column(u"Flag", DT::BooleanType));
        return C;
    }());
    Source->Insert();
    auto Target = NameNumberTable();
    test::ExpectDBXError(EC::InvalidArgument,
                         "Table Items cannot copy the rows of table Items: the columns differ",
                         [&] { Target->CopyFrom(*Source); });
    EXPECT_EQ(Target->GetTableCount(), 0);
}

// ---------------------------------------------------------------------------
// Order: nulls first, ASCII case folding, then code units; stable.

struct TOrderCase {
    std::string Name;
    std::vector<Text> Input;
    std::vector<std::string> Expected;
};
void PrintTo(const TOrderCase& C, std::ostream* Out) {
    *Out << C.Name;
}

class TDBXMemoryTableOrderTest : public ::testing::TestWithParam<TOrderCase> {};

TEST_P(TDBXMemoryTableOrderTest, TableViewSortsTextRowsInThisOrder) {
    auto Table = NameNumberTable();
    int32_t N = 0;
    for (const Text& T : GetParam().Input)
        AddRow(*Table, T, N++);
    auto View = Table->CreateTableView(u"name");
    auto& Sorted = dynamic_cast<TDBXMemoryTable&>(*View);
    EXPECT_EQ(ColumnValues(Sorted, 0), GetParam().Expected);
    EXPECT_EQ(Sorted.OrderByColumn(), 0);
    EXPECT_EQ(Sorted.Index(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TDBXMemoryTableOrderTest,
    ::testing::Values(
        TOrderCase{"NullsComeFirst",
                   {u"b", std::nullopt, u"", std::nullopt, u"a"},
                   {NullMark, NullMark, "", "a", "b"}},
        // Equal keys keep their order: "A" was inserted before "a".
        TOrderCase{"CaseIsFoldedAndEqualKeysKeepTheirOrder",
                   {u"b", u"A", u"a", u"B"},
                   {"A", "a", "b", "B"}},
        TOrderCase{"APrefixSortsFirst", {u"ab", u"a", u"AB", u"abc"}, {"a", "ab", "AB", "abc"}},
        // Letters fold to lower case before code units compare, so '_' (0x5F)
        // sorts before 'Z' as it does before 'z'.
        TOrderCase{"LettersCompareAsLowerCase", {u"Z", u"_", u"z", u"["}, {"[", "_", "Z", "z"}},
        // Nothing outside A-Z folds, whatever the locale says: 'É' and 'é'
        // differ and follow 'z' in code-unit order; dotted 'İ' is not 'i'.
        TOrderCase{"NonAsciiCharactersCompareByCodeUnit",
                   {u"\u00E9", u"e", u"\u00C9", u"z", u"\u0130", u"I", u"i"},
                   {"e", "I", "i", "z", "\u00C9", "\u00E9", "\u0130"}}),
    test::TCaseName());

TEST(TDBXMemoryTableTest, TableViewSortsIntegersByValueWithNullsFirst) {
    auto Table = NameNumberTable();
    for (const Number& N : {Number(10), Number(2), Number(), Number(-1)})
        AddRow(*Table, u"x", N);
    auto View = Table->CreateTableView(u"Number");
    auto& Sorted = dynamic_cast<TDBXMemoryTable&>(*View);
    EXPECT_EQ(ColumnValues(Sorted, 1), (std::vector<std::string>{NullMark, "-1", "2", "10"}));
}

TEST(TDBXMemoryTableTest, TableViewIsACopyAndLeavesTheTableAsItWas) {
    auto Table = NameNumberTable();
    AddRow(*Table, u"b", 1);
    AddRow(*Table, u"a", 2);
    auto View = Table->CreateTableView(u"Name");
    EXPECT_EQ(View->TableName(), u"Items");
    EXPECT_EQ(View->Column(0).Caption(), u"The Name");
    EXPECT_EQ(ColumnValues(*Table, 0), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(Table->Index(), 1);
    EXPECT_EQ(Table->OrderByColumn(), -1);
    View->First();
    View->Value(0).SetWideString(u"changed");
    EXPECT_EQ(ColumnValues(*Table, 0), (std::vector<std::string>{"b", "a"}));
}

TEST(TDBXMemoryTableTest, OrderingByAColumnThatDoesNotExistRaisesWithItsName) {
    auto Table = NameNumberTable();
    AddRow(*Table, u"a", 1);
    test::ExpectDBXError(
        EC::InvalidOrdinal,
        "Table cannot use column Missing in an order by operation since it does not exist",
        [&] { Table->CreateTableView(u"Missing"); });
    test::ExpectDBXError(
        EC::InvalidOrdinal,
        "Table cannot use column 2 in an order by operation since it does not exist",
        [&] { Table->FindStringKey(2, u"a"); });
    test::ExpectDBXError(
        EC::InvalidOrdinal,
        "Table cannot use column -1 in an order by operation since it does not exist",
        [&] { Table->FindStringKey(-1, u"a"); });
}

TEST(TDBXMemoryTableTest, OrderingByAColumnWithoutAnOrderRaisesAndLeavesTheTableWhole) {
    // JSON values have no order. Nulls between them let the sort move rows
    // before the first comparison of two values fails.
    auto Table = NewTable([] {
        std::vector<std::unique_ptr<TDBXValueType>> C;
        C.push_back(Column(u"Json", DT::JsonValueType));
        return C;
    }());
    for (int I = 0; I < 40; ++I) {
        Table->Insert();
        if (I % 3 == 0)
            Table->Value(0).SetJSONValue(new TJSONNumber(I), true);
    }
    test::ExpectDBXError(EC::NotImplemented, "Feature not implemented",
                         [&] { Table->CreateTableView(u"Json"); });
    ASSERT_EQ(Table->GetTableCount(), 40);
    int I = 0;
    for (bool More = Table->First(); More; More = Table->Next(), ++I) {
        if (I % 3 == 0)
            EXPECT_EQ(Table->Value(0).GetJSONValue()->Value(), Utf8ToUtf16(std::to_string(I)));
        else
            EXPECT_TRUE(Table->Value(0).IsNull());
    }
}

// ---------------------------------------------------------------------------
// FindStringKey

TEST(TDBXMemoryTableTest, FindStringKeyOnAnEmptyTableAnswersFalseAndLeavesItAsItWas) {
    auto Table = NameNumberTable();
    EXPECT_FALSE(Table->FindStringKey(0, u"a"));
    EXPECT_FALSE(Table->FindStringKey(1, u"not a number"));
    EXPECT_EQ(Table->GetTableCount(), 0);
    EXPECT_EQ(Table->OrderByColumn(), -1);
    EXPECT_EQ(Table->Index(), 0);
}

TEST(TDBXMemoryTableTest, FindStringKeySortsByTheColumnAndMakesTheFoundRowCurrent) {
    auto Table = NameNumberTable();
    AddRow(*Table, u"c", 1);
    AddRow(*Table, u"a", 3);
    AddRow(*Table, u"b", 2);
    ASSERT_TRUE(Table->FindStringKey(0, u"b"));
    EXPECT_EQ(Table->OrderByColumn(), 0);
    EXPECT_EQ(ColumnValues(*Table, 0), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(CurrentName(*Table), "b");
    EXPECT_EQ(Table->Value(1).GetInt32(), 2);
    // Sorted by another column now: the search sorts again first.
    ASSERT_TRUE(Table->FindStringKey(1, u"1"));
    EXPECT_EQ(Table->OrderByColumn(), 1);
    EXPECT_EQ(ColumnValues(*Table, 1), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(CurrentName(*Table), "c");
    ASSERT_TRUE(Table->FindStringKey(0, u"a"));
    EXPECT_EQ(Table->Value(1).GetInt32(), 3);
}

TEST(TDBXMemoryTableTest, FindStringKeyMatchesTextWithoutRegardToAsciiCaseOnly) {
    auto Table = NameNumberTable();
    AddRow(*Table, u"DSAdmin", 1);
    AddRow(*Table, u"\u00C9t\u00E9", 2);
    AddRow(*Table, u"TServerMethods1", 3);
    ASSERT_TRUE(Table->FindStringKey(0, u"dsadmin"));
    EXPECT_EQ(Table->Value(1).GetInt32(), 1);
    ASSERT_TRUE(Table->FindStringKey(0, u"\u00C9T\u00E9"));
    EXPECT_EQ(Table->Value(1).GetInt32(), 2);
    EXPECT_FALSE(Table->FindStringKey(0, u"\u00E9t\u00E9"));
    EXPECT_FALSE(Table->FindStringKey(0, u"DSAdmi"));
}

TEST(TDBXMemoryTableTest, FindStringKeyThatFindsNothingKeepsTheCurrentRow) {
    auto Table = NameNumberTable();
    AddRow(*Table, u"c", 1);
    AddRow(*Table, u"a", 2);
    AddRow(*Table, u"b", 3);
    Table->First();
    EXPECT_FALSE(Table->FindStringKey(0, u"zz"));
    // The rows were sorted, but the current row is still "c".
    EXPECT_EQ(CurrentName(*Table), "c");
    EXPECT_EQ(Table->Index(), 2);
}

TEST(TDBXMemoryTableTest, FindStringKeyFindsAgainAfterAValueBrokeTheSortOrder) {
    auto Table = NameNumberTable();
    for (const char16_t* N : {u"a", u"b", u"c", u"d", u"e"})
        AddRow(*Table, std::u16string(N), std::nullopt);
    ASSERT_TRUE(Table->FindStringKey(0, u"a"));
    // The table cannot see this change; a binary search that trusted the old
    // order would miss "a" now at the end of the rows.
    Table->Value(0).SetWideString(u"z");
    ASSERT_TRUE(Table->FindStringKey(0, u"z"));
    EXPECT_EQ(ColumnValues(*Table, 0), (std::vector<std::string>{"b", "c", "d", "e", "z"}));
    EXPECT_TRUE(Table->FindStringKey(0, u"b"));
}

TEST(TDBXMemoryTableTest, FindStringKeyFindsTheFirstOfEqualRows) {
    auto Table = NameNumberTable();
    AddRow(*Table, u"x", 1);
    AddRow(*Table, u"X", 2);
    AddRow(*Table, u"x", 3);
    ASSERT_TRUE(Table->FindStringKey(0, u"X"));
    EXPECT_EQ(Table->Value(1).GetInt32(), 1);
}

struct TKeyCase {
    std::string Name;
    int32_t DataType;
    std::u16string RowText; // set through the column's own "As" conversion
    std::u16string Key;
    bool Found;
};
void PrintTo(const TKeyCase& C, std::ostream* Out) {
    *Out << C.Name;
}

class TDBXMemoryTableKeyTest : public ::testing::TestWithParam<TKeyCase> {};

// The key is converted to the column's type, so numbers and dates compare
// as what they are, not as text.
TEST_P(TDBXMemoryTableKeyTest, FindStringKeyConvertsTheKeyToTheColumnType) {
    const TKeyCase& C = GetParam();
    test::TDecimalSeparatorScope Point(u'.');
    auto Table = NewTable([&] {
        std::vector<std::unique_ptr<TDBXValueType>> Cols;
        Cols.push_back(Column(u"Key", C.DataType));
        return Cols;
    }());
    // Two null rows, which sort before the row searched for.
    Table->Insert();
    Table->Insert();
    auto TextType = std::make_unique<TDBXValueType>();
    TextType->SetDataType(DT::WideStringType);
    auto Source = TDBXValue::CreateValue(std::move(TextType));
    Source->SetWideString(C.RowText);
    Table->Insert();
    TDBXWritableValue& V = Table->Value(0);
    switch (C.DataType) {
    case DT::Int32Type:
        V.SetInt32(Source->AsInt32());
        break;
    case DT::Int64Type:
        V.SetInt64(Source->AsInt64());
        break;
    case DT::BooleanType:
        V.SetBoolean(Source->AsBoolean());
        break;
    case DT::DoubleType:
        V.SetDouble(Source->AsDouble());
        break;
    case DT::DateType:
        V.SetDate(Source->AsDate());
        break;
    case DT::TimeStampType:
        V.SetTimeStamp(Source->AsTimeStamp());
        break;
    case DT::BcdType:
        V.SetBcd(Source->AsBcd());
        break;
    default:
        V.SetString(C.RowText);
    }
    EXPECT_EQ(Table->FindStringKey(0, C.Key), C.Found);
    if (C.Found) {
        EXPECT_EQ(Table->Index(), 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TDBXMemoryTableKeyTest,
    ::testing::Values(TKeyCase{"Int32WithLeadingZeros", DT::Int32Type, u"12", u"0012", true},
                      TKeyCase{"Int32IsNoText", DT::Int32Type, u"12", u"12.0", false},
                      // A key that is no integer becomes 0, as a text's AsInt32 does.
                      TKeyCase{"Int32NotANumberIsZero", DT::Int32Type, u"0", u"12x", true},
                      TKeyCase{"Int64", DT::Int64Type, u"-9000000000", u"-9000000000", true},
                      TKeyCase{"BooleanTrue", DT::BooleanType, u"True", u"True", true},
                      TKeyCase{"BooleanIsCaseSensitive", DT::BooleanType, u"True", u"true", false},
                      TKeyCase{"Date", DT::DateType, u"2024-02-29", u"2024-02-29", true},
                      TKeyCase{"TimeStamp", DT::TimeStampType, u"2024-02-29 10:11:12.013",
                               u"2024-02-29 10:11:12.013", true},
                      TKeyCase{"BcdByValue", DT::BcdType, u"1.5", u"1.50", true},
                      TKeyCase{"AnsiText", DT::AnsiStringType, u"Kitchen", u"KITCHEN", true}),
    test::TCaseName());

struct TBadKeyCase {
    std::string Name;
    int32_t DataType;
    std::u16string Key;
    int32_t Code;
    std::string Message;
};
void PrintTo(const TBadKeyCase& C, std::ostream* Out) {
    *Out << C.Name;
}

class TDBXMemoryTableBadKeyTest : public ::testing::TestWithParam<TBadKeyCase> {};

// A key that does not convert comes out as a TDBXError, never as the
// formatter's own exception, and the table is not touched.
TEST_P(TDBXMemoryTableBadKeyTest, FindStringKeyWithAKeyThatDoesNotConvertRaisesTDBXError) {
    const TBadKeyCase& C = GetParam();
    test::TDecimalSeparatorScope Point(u'.');
    auto Table = NewTable([&] {
        std::vector<std::unique_ptr<TDBXValueType>> Cols;
        Cols.push_back(Column(u"Key", C.DataType));
        return Cols;
    }());
    Table->Insert();
    Table->Insert();
    test::ExpectDBXError(C.Code, C.Message, [&] { Table->FindStringKey(0, C.Key); });
    EXPECT_EQ(Table->OrderByColumn(), -1);
    EXPECT_EQ(Table->Index(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TDBXMemoryTableBadKeyTest,
    ::testing::Values(
        TBadKeyCase{"Date", DT::DateType, u"tomorrow", EC::InvalidArgument,
                    "'tomorrow' is not a valid date"},
        TBadKeyCase{"Time", DT::TimeType, u"25:00:00", EC::InvalidArgument,
                    "'25:00:00' is not a valid time"},
        TBadKeyCase{"TimeStamp", DT::TimeStampType, u"2024-13-01 00:00:00", EC::InvalidArgument,
                    "'2024-13-01 00:00:00' is not a valid date and time"},
        TBadKeyCase{"Bcd", DT::BcdType, u"1,5,", EC::InvalidArgument,
                    "'1,5,' is not a valid BCD value"},
        // A column kind that takes no text at all: its own type-access error.
        TBadKeyCase{"Json", DT::JsonValueType, u"{}", EC::InvalidType,
                    "TDBXTypes.JSON value type cannot be accessed as TDBXTypes.WideString value "
                    "type"}),
    test::TCaseName());
