#include "app/OrderBook.h"

#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>

#include "support/DecimalSeparatorScope.h"

namespace kds {
namespace {

TEST(TOrderBookTest, CreatesBothTablesEmptyWithTheirFieldsInOrder) {
    TOrderBook Book;
    Book.Create();
    const char* TAFields[] = {"TA001", "TA002", "TA003", "TA006", "TableNo", "DeliveryType"};
    const int TASizes[] = {8, 6, 6, 5, 10, 20};
    ASSERT_EQ(6, Book.TA().FieldCount());
    for (int I = 0; I < 6; ++I) {
        EXPECT_EQ(TAFields[I], Book.TA().Fields(I).FieldName());
        EXPECT_EQ(TASizes[I], Book.TA().Fields(I).Size());
    }
    const char* TBFields[] = {"TB001", "TB002", "TB003", "TB006", "PluName", "SaleQty", "DoItemOK"};
    const int TBSizes[] = {8, 6, 6, 5, 20, 0, 2};
    ASSERT_EQ(7, Book.TB().FieldCount());
    for (int I = 0; I < 7; ++I) {
        EXPECT_EQ(TBFields[I], Book.TB().Fields(I).FieldName());
        EXPECT_EQ(TBSizes[I], Book.TB().Fields(I).Size());
    }
    EXPECT_EQ(TFieldType::ftFloat, Book.TB().FieldByName("SaleQty").DataType());
    EXPECT_EQ("TBIndex1", Book.TB().IndexName());
    EXPECT_EQ(&Book.TAs(), Book.TB().MasterSource());
    EXPECT_EQ("", Book.TB().MasterFields()); // linked by the first intake
    EXPECT_EQ(Book.TAs().DataSet(), &Book.TA());
    EXPECT_EQ(Book.TBs().DataSet(), &Book.TB());
    EXPECT_EQ(0, Book.TA().RecordCount());
    EXPECT_EQ(0, Book.TB().RecordCount());
}

// Fills one header and its lines the way the intake does.
void AddOrder(TOrderBook& Book, const std::string& Key1, const std::string& Plu, int Lines) {
    Book.TA().Append();
    Book.TA().FieldByName("TA001").SetAsText(Key1);
    for (int I = 0; I < Lines; ++I) {
        Book.TB().Append();
        Book.TB().FieldByName("TB001").SetAsText(Key1);
        Book.TB().FieldByName("PluName").SetAsText(Plu + std::to_string(I));
        Book.TB().Post();
    }
    Book.TA().Post();
    Book.TB().SetMasterFields(TOrderBook::TAMasterFields);
}

TEST(TOrderBookTest, KeyCutToItsFieldSizeStillLinksLinesToTheirHeader) {
    TOrderBook Book;
    Book.Create();
    AddOrder(Book, "ABCDEFGHIJ", "p", 2); // 10 characters: both sides keep 8
    AddOrder(Book, "ABCDEFGHXX", "q", 1);
    EXPECT_EQ("ABCDEFGH", Book.TA().FieldByName("TA001").AsString());
    EXPECT_EQ(3, Book.TB().RecordCount()); // both headers cut to the same key
    Book.TA().First();
    EXPECT_EQ(3, Book.TB().RecordCount());
    EXPECT_EQ("p0", Book.TB().DisplayTextAt(0, 4));
}

TEST(TOrderBookTest, HeadersOfEqualKeyShowTheSameLines) {
    TOrderBook Book;
    Book.Create();
    AddOrder(Book, "A", "x", 1);
    AddOrder(Book, "B", "y", 2);
    AddOrder(Book, "A", "z", 1);
    Book.TA().First();
    EXPECT_EQ(2, Book.TB().RecordCount());
    Book.TA().Last();
    EXPECT_EQ(2, Book.TB().RecordCount());
    EXPECT_EQ("x0", Book.TB().DisplayTextAt(0, 4));
    EXPECT_EQ("z0", Book.TB().DisplayTextAt(1, 4));
    Book.TA().SetRecNo(2);
    EXPECT_EQ("y0 y1", Book.TB().DisplayTextAt(0, 4) + " " + Book.TB().DisplayTextAt(1, 4));
}

struct TQtyCase {
    std::optional<double> Value;
    char16_t Separator;
    std::string Shown;
};

void PrintTo(const TQtyCase& C, std::ostream* Os) {
    *Os << (C.Value ? std::to_string(*C.Value) : "null") << " with '"
        << static_cast<char>(C.Separator) << "' -> \"" << C.Shown << "\"";
}

class TSaleQtyDisplayTest : public ::testing::TestWithParam<TQtyCase> {};

TEST_P(TSaleQtyDisplayTest, ShowsTheGeneralFormatWithTheLocaleSeparator) {
    const TQtyCase& C = GetParam();
    const test::TDecimalSeparatorScope Separator(C.Separator);
    EXPECT_EQ(C.Shown, SaleQtyDisplayText(C.Value));

    // The grid shows the same through the field.
    TOrderBook Book;
    Book.Create();
    Book.TB().Append();
    if (C.Value)
        static_cast<TFloatField&>(Book.TB().FieldByName("SaleQty")).SetAsFloat(*C.Value);
    Book.TB().FieldByName("PluName").SetAsText("x");
    Book.TB().Post();
    EXPECT_EQ(C.Shown, Book.TB().DisplayTextAt(0, 5));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TSaleQtyDisplayTest,
    ::testing::Values(TQtyCase{2.0, u'.', "2"}, TQtyCase{1.5, u'.', "1.5"},
                      TQtyCase{1.5, u',', "1,5"}, TQtyCase{std::nullopt, u'.', ""},
                      TQtyCase{0.1 + 0.2, u'.', "0.3"},
                      TQtyCase{123456789012345678.0, u'.', "1.23456789012346E17"},
                      TQtyCase{-0.25, u',', "-0,25"}));

} // namespace
} // namespace kds
