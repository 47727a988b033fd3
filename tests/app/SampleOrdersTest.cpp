// The sample order files of samples/orders, which the README's tour copies
// into KDS/Before, taken in by the real intake: what enters the book, and
// that the files meant to fail stay where they are.
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/OrderBook.h"
#include "app/OrderIntake.h"
#include "support/DecimalSeparatorScope.h"
#include "support/TempDir.h"
#include "support/TestNames.h"

namespace kds {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> XmlNamesIn(const fs::path& Dir) {
    std::vector<std::string> Names;
    for (const fs::directory_entry& E : fs::directory_iterator(Dir))
        if (E.path().extension() == ".xml")
            Names.push_back(E.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
}

// Field F of every presented row of D, joined by "|".
std::string Column(const TMemoryDataSet& D, const std::string& F) {
    const int I = D.FieldByName(F).Index();
    std::string Out;
    for (int R = 0; R < D.RowCount(); ++R)
        Out += (R ? "|" : "") + D.DisplayTextAt(R, I);
    return Out;
}

struct TSampleCase {
    std::string Name;
    char16_t Separator;
    std::vector<std::string> StayInBefore; // the rest must reach KDS/AFTER
    std::string TxNos;                     // TA006 of the headers, in intake order
    std::string TableNos;
    std::string DeliveryTypes;
};

class TSampleOrdersTest : public ::testing::TestWithParam<TSampleCase> {
protected:
    test::TTempDir Dir;
    TOrderBook Book;

    fs::path Before() const { return Dir.Path() / "KDS" / "Before"; }
    fs::path After() const { return Dir.Path() / "KDS" / "AFTER"; }

    void SetUp() override {
        fs::create_directories(Before());
        fs::create_directories(After());
        for (const std::string& Name : XmlNamesIn(KDS_SAMPLE_ORDERS_DIR))
            fs::copy_file(fs::path(KDS_SAMPLE_ORDERS_DIR) / Name, Before() / Name);
        Book.Create();
    }

    // The lines the grid shows for the header whose TA006 is TxNo.
    std::string LinesOf(const std::string& TxNo, const std::string& Field) {
        TMemoryDataSet& TA = Book.TA();
        for (TA.First(); !TA.Eof(); TA.Next())
            if (TA.FieldByName("TA006").AsString() == TxNo)
                return Column(Book.TB(), Field);
        ADD_FAILURE() << "no header with TxNo " << TxNo;
        return {};
    }
};

TEST_P(TSampleOrdersTest, TakesInTheWellFormedSamplesAndLeavesTheRestInBefore) {
    const TSampleCase& C = GetParam();
    const test::TDecimalSeparatorScope Locale(C.Separator);
    const std::vector<std::string> All = XmlNamesIn(Before());
    ASSERT_EQ((std::vector<std::string>{"order-1001.xml", "order-1002.xml", "order-1003.xml",
                                        "order-1004.xml", "order-1005.xml"}),
              All);

    TOrderIntake Intake(Book);
    const TIntakeResult R = Intake.Execute(Dir.Path());

    std::vector<std::string> Moved;
    std::set_difference(All.begin(), All.end(), C.StayInBefore.begin(), C.StayInBefore.end(),
                        std::back_inserter(Moved));
    EXPECT_EQ(C.StayInBefore, XmlNamesIn(Before()));
    EXPECT_EQ(Moved, XmlNamesIn(After()));
    EXPECT_EQ(static_cast<int>(Moved.size()), R.TakenIn);
    EXPECT_EQ(static_cast<int>(C.StayInBefore.size()), R.Failed);

    // A failed file leaves nothing behind in the book.
    EXPECT_EQ(C.TxNos, Column(Book.TA(), "TA006"));
    EXPECT_EQ(C.TableNos, Column(Book.TA(), "TableNo"));
    EXPECT_EQ(C.DeliveryTypes, Column(Book.TA(), "DeliveryType"));

    // The multi-line order, its keys carried to every line.
    EXPECT_EQ("Tomato soup|Grilled salmon|Steak frites|Green salad", LinesOf("01001", "PluName"));
    EXPECT_EQ("2|1|1|2", LinesOf("01001", "SaleQty"));
    EXPECT_EQ("N|N|N|Y", LinesOf("01001", "DoItemOK"));
    EXPECT_EQ("SHOP01|SHOP01|SHOP01|SHOP01", LinesOf("01001", "TB001"));
    EXPECT_EQ("01001|01001|01001|01001", LinesOf("01001", "TB006"));
    // Dish names outside ASCII arrive whole (UTF-8, within the 20 bytes).
    EXPECT_EQ("Crème brûlée|Käsespätzle", LinesOf("01002", "PluName"));
    if (C.Separator == u'.') {
        EXPECT_EQ("0.5|1.5", LinesOf("01003", "SaleQty"));
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, TSampleOrdersTest,
                         ::testing::Values(
                             // The samples are written for a locale with a decimal point: only the
                             // file cut short stays.
                             TSampleCase{"DecimalPoint",
                                         u'.',
                                         {"order-1005.xml"},
                                         "01001|01002|01003|01004",
                                         "4|7|12|",
                                         "dine-in|dine-in|dine-in|takeaway"},
                             // Where the locale writes a decimal comma, the fractional quantities
                             // are not numbers: that order stays too, whole.
                             TSampleCase{"DecimalComma",
                                         u',',
                                         {"order-1003.xml", "order-1005.xml"},
                                         "01001|01002|01004",
                                         "4|7|",
                                         "dine-in|dine-in|takeaway"}),
                         test::TCaseName{});

} // namespace
} // namespace kds
