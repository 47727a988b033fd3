#include <QAbstractItemModelTester>
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>

#include "RecordingDialogs.h"
#include "app/OrderBook.h"
#include "support/DecimalSeparatorScope.h"
#include "ui/DataSetModel.h"
#include "ui/DataSourceLink.h"
#include "ui/POSDBGrid.h"

namespace kds {
namespace {

void AddHeader(TOrderBook& Book, const std::string& Key, const std::string& TableNo) {
    TMemoryDataSet& TA = Book.TA();
    TA.Append();
    TA.FieldByName("TA001").SetAsString(Key);
    TA.FieldByName("TableNo").SetAsString(TableNo);
    TA.Post();
}

void AddLine(TOrderBook& Book, const std::string& Key, const std::string& Name,
             const std::string& Qty) {
    TMemoryDataSet& TB = Book.TB();
    TB.Append();
    TB.FieldByName("TB001").SetAsString(Key);
    TB.FieldByName("PluName").SetAsString(Name);
    TB.FieldByName("SaleQty").SetAsString(Qty);
    TB.Post();
}

QStringList ColumnOf(const QAbstractItemModel& Model, int Col) {
    QStringList Values;
    for (int R = 0; R < Model.rowCount(); ++R)
        Values << Model.data(Model.index(R, Col)).toString();
    return Values;
}

// The two order grids over a real order book, as the main window has them.
class TOrderGridsTest : public ::testing::Test {
protected:
    void SetUp() override {
        GridTA.SetDataSource(&Book.TAs());
        GridTB.SetDataSource(&Book.TBs());
        Book.Create();
        GridTA.resize(500, 200);
        GridTB.resize(500, 200);
    }

    test::TDecimalSeparatorScope Separator{u'.'};
    TOrderBook Book;
    TPOSDBGrid GridTA;
    TPOSDBGrid GridTB;
    test::TRecordingDialogs Dialogs;
};

TEST_F(TOrderGridsTest, PassesTheItemModelTesterThroughAppendsEditsAndDeletes) {
    QAbstractItemModelTester Tester(GridTB.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    AddLine(Book, "H1", "Tea", "2");
    AddLine(Book, "H0", "Cake", "1.5");
    AddLine(Book, "H2", "Soup", "");
    // Lines are presented in key order.
    EXPECT_EQ(ColumnOf(*GridTB.model(), 0), (QStringList{"H0", "H1", "H2"}));
    EXPECT_EQ(ColumnOf(*GridTB.model(), 5), (QStringList{"1.5", "2", ""}));

    QAbstractItemModel& Model = *GridTB.model();
    EXPECT_TRUE(Model.setData(Model.index(1, 0), QString("H9"))); // moves the row to the end
    QApplication::processEvents();
    EXPECT_EQ(ColumnOf(Model, 0), (QStringList{"H0", "H2", "H9"}));
    Book.TB().SetRecNo(1);
    Book.TB().Delete();
    EXPECT_EQ(ColumnOf(Model, 4), (QStringList{"Soup", "Tea"}));
    Book.TB().Append();
    EXPECT_EQ(Model.rowCount(), 3);
    Book.TB().Cancel();
    EXPECT_EQ(Model.rowCount(), 2);
}

TEST_F(TOrderGridsTest, AppendsARowByMovingDownPastTheLastAndStoresItOnLeaving) {
    AddHeader(Book, "H1", "T1");
    GridTA.show();
    QApplication::processEvents();
    GridTA.setCurrentIndex(GridTA.model()->index(0, 4));
    QTest::keyClick(&GridTA, Qt::Key_Down);
    ASSERT_EQ(GridTA.model()->rowCount(), 2);
    EXPECT_EQ(Book.TA().State(), TDataSetState::dsInsert);
    EXPECT_EQ(GridTA.currentIndex().row(), 1);
    EXPECT_EQ(GridTA.DataModel()->RecNoOfRow(1), -1);

    EXPECT_TRUE(GridTA.model()->setData(GridTA.model()->index(1, 4), QString("T7")));
    EXPECT_EQ(Book.TA().State(), TDataSetState::dsInsert); // still being appended
    GridTA.setCurrentIndex(GridTA.model()->index(0, 4));   // leaving the row stores it
    QApplication::processEvents();
    EXPECT_EQ(Book.TA().State(), TDataSetState::dsBrowse);
    EXPECT_EQ(Book.TA().RecordCount(), 2);
    EXPECT_EQ(ColumnOf(*GridTA.model(), 4), (QStringList{"T1", "T7"}));
    EXPECT_EQ(GridTA.currentIndex().row(), 0);
}

TEST_F(TOrderGridsTest, DropsAnAppendedRowLeftUntouched) {
    AddHeader(Book, "H1", "T1");
    GridTA.show();
    QApplication::processEvents();
    GridTA.setCurrentIndex(GridTA.model()->index(0, 0));
    QTest::keyClick(&GridTA, Qt::Key_Down);
    ASSERT_EQ(GridTA.model()->rowCount(), 2);
    QTest::keyClick(&GridTA, Qt::Key_Up);
    QApplication::processEvents();
    EXPECT_EQ(GridTA.model()->rowCount(), 1);
    EXPECT_EQ(Book.TA().RecordCount(), 1);
    EXPECT_EQ(GridTA.currentIndex().row(), 0);
}

TEST_F(TOrderGridsTest, ShowsTheEnginesErrorForAValueTheFieldRefuses) {
    AddLine(Book, "H1", "Tea", "2");
    QAbstractItemModel& Model = *GridTB.model();
    EXPECT_FALSE(Model.setData(Model.index(0, 5), QString("two")));
    QApplication::processEvents();
    EXPECT_EQ(Dialogs.Errors,
              QStringList{"'two' is not a valid floating point value for field 'SaleQty'"});
    EXPECT_EQ(Book.TB().State(), TDataSetState::dsBrowse);
    EXPECT_EQ(Model.data(Model.index(0, 5)).toString(), "2");
}

TEST_F(TOrderGridsTest, DeletesTheCurrentRowAfterConfirmation) {
    AddHeader(Book, "H1", "T1");
    AddHeader(Book, "H2", "T2");
    GridTA.show();
    QApplication::processEvents();
    GridTA.setCurrentIndex(GridTA.model()->index(0, 0));
    QTest::keyClick(&GridTA, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Dialogs.Questions, QStringList{"Delete record?"});
    EXPECT_EQ(ColumnOf(*GridTA.model(), 0), QStringList{"H2"});
    EXPECT_EQ(Book.TA().RecordCount(), 1);
}

TEST_F(TOrderGridsTest, SelectingAHeaderShowsOnlyItsLinesOnceLinked) {
    AddHeader(Book, "H1", "T1");
    AddHeader(Book, "H2", "T2");
    AddLine(Book, "H1", "Tea", "1");
    AddLine(Book, "H2", "Rice", "1");
    AddLine(Book, "H1", "Cake", "1");
    EXPECT_EQ(GridTB.model()->rowCount(), 3); // not linked yet: every line
    Book.TB().SetMasterFields(TOrderBook::TAMasterFields);
    EXPECT_EQ(GridTA.currentIndex().row(), 1); // the last header stored
    EXPECT_EQ(ColumnOf(*GridTB.model(), 4), QStringList{"Rice"});
    GridTA.setCurrentIndex(GridTA.model()->index(0, 2));
    EXPECT_EQ(Book.TA().RecNo(), 1);
    QStringList Lines = ColumnOf(*GridTB.model(), 4);
    Lines.sort();
    EXPECT_EQ(Lines, (QStringList{"Cake", "Tea"}));
}

TEST_F(TOrderGridsTest, AHeldGridKeepsItsPictureAndCatchesUpAtTheEnd) {
    AddHeader(Book, "H1", "T1");
    QAbstractItemModelTester Tester(GridTA.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    TDataSetModel& Model = *GridTA.DataModel();
    Model.BeginUpdate();
    Model.BeginUpdate(); // nests
    AddHeader(Book, "H2", "T2");
    AddHeader(Book, "H3", "T3");
    Book.TA().Append(); // a pending row, as a failed file leaves before its rows are taken back
    Book.TA().FieldByName("TA001").SetAsString("H4");
    EXPECT_EQ(Model.rowCount(), 1);
    EXPECT_EQ(GridTA.currentIndex().row(), 0);
    Book.TA().Cancel();
    Model.EndUpdate();
    EXPECT_EQ(Model.rowCount(), 1) << "the outer hold still holds";
    Model.EndUpdate();
    EXPECT_EQ(ColumnOf(Model, 0), (QStringList{"H1", "H2", "H3"}));
    EXPECT_EQ(GridTA.currentIndex().row(), 2) << "the grid follows the current row once caught up";
    Model.EndUpdate(); // an unmatched end changes nothing
    EXPECT_EQ(Model.rowCount(), 3);
}

TEST(TDataSourceLinkTest, HasNoFieldsOrRowsBeforeTheDataSetIsCreated) {
    TOrderBook Book;
    TDataSourceLink Link(Book.TAs());
    EXPECT_EQ(Link.FieldCount(), 0);
    EXPECT_EQ(Link.RowCount(), 0);
    EXPECT_EQ(Link.CurrentRow(), -1);
    int Changes = 0;
    Link.OnDataChanged = [&] { ++Changes; };
    Book.Create();
    EXPECT_GE(Changes, 1);
    EXPECT_EQ(Link.FieldCount(), 6);
    EXPECT_EQ(Link.FieldName(5), "DeliveryType");
    EXPECT_EQ(Link.DisplayWidth(5), 20);
}

} // namespace
} // namespace kds
