#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>

#include "QtPrinters.h"
#include "RecordingDialogs.h"
#include "app/OrderBook.h"
#include "support/DecimalSeparatorScope.h"
#include "support/TestNames.h"
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

// Collects Qt's warnings for its lifetime (the views report misuse so).
class TWarningLog {
public:
    TWarningLog() : FPrevious(qInstallMessageHandler(&TWarningLog::Handle)) { Current = this; }
    ~TWarningLog() {
        qInstallMessageHandler(FPrevious);
        Current = nullptr;
    }
    TWarningLog(const TWarningLog&) = delete;
    TWarningLog& operator=(const TWarningLog&) = delete;

    QStringList Messages;

private:
    static void Handle(QtMsgType Type, const QMessageLogContext&, const QString& Text) {
        if (Current != nullptr && Type >= QtWarningMsg)
            Current->Messages << Text;
    }
    static inline TWarningLog* Current = nullptr;
    QtMessageHandler FPrevious;
};

// Every notice a link passes on, as short text: "+?2" about to insert row 2,
// "+2" inserted, "-?"/"-" the same for removal, "~2" row 2 changed, "reset?"
// and "reset", "@" the current row moved.
class TNoticeLog : public TGridObserver {
public:
    QStringList Notices;
    void RowAboutToBeInserted(int Row) override { Notices << QString("+?%1").arg(Row); }
    void RowInserted(int Row) override { Notices << QString("+%1").arg(Row); }
    void RowAboutToBeRemoved(int Row) override { Notices << QString("-?%1").arg(Row); }
    void RowRemoved(int Row) override { Notices << QString("-%1").arg(Row); }
    void RowChanged(int Row) override { Notices << QString("~%1").arg(Row); }
    void AboutToReset() override { Notices << "reset?"; }
    void Reset() override { Notices << "reset"; }
    void CurrentMoved() override { Notices << "@"; }
};

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

// The operator types another header's key into a line: committing the edit
// hides the line from this header while the view is still handing the edit
// over. The view closes its editor and goes on with the rows that are left.
TEST_F(TOrderGridsTest, AnEditThatHidesTheRowFromTheDetailIsCommittedAndClosed) {
    AddHeader(Book, "H1", "T1");
    AddHeader(Book, "H2", "T2");
    AddLine(Book, "H2", "Rice", "1");
    AddLine(Book, "H2", "Soup", "1");
    Book.TB().SetMasterFields(TOrderBook::TAMasterFields);
    GridTB.show();
    QApplication::processEvents();
    QAbstractItemModelTester Tester(GridTB.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    const QModelIndex Cell = GridTB.model()->index(0, 0);
    GridTB.setCurrentIndex(Cell);
    GridTB.edit(Cell);
    QPointer<QLineEdit> Editor = GridTB.findChild<QLineEdit*>();
    ASSERT_FALSE(Editor.isNull());
    Editor->setText("H1");
    {
        const TWarningLog Warnings;
        QTest::keyClick(Editor, Qt::Key_Return); // the edit is handed over when idle
        QApplication::processEvents();
        EXPECT_TRUE(Warnings.Messages.isEmpty()) << Warnings.Messages.join("; ").toStdString();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(Editor.isNull()) << "the editor is closed";
    EXPECT_EQ(ColumnOf(*GridTB.model(), 4), QStringList{"Soup"});
    EXPECT_EQ(GridTB.currentIndex().row(), Book.TB().CurrentRow());
    EXPECT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join("; ").toStdString();
    // The grid is out of editing: Ctrl+Delete reaches it again.
    QTest::keyClick(&GridTB, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Dialogs.Questions, QStringList{"Delete record?"});
    EXPECT_EQ(GridTB.model()->rowCount(), 0);
    Book.TA().First();
    EXPECT_EQ(ColumnOf(*GridTB.model(), 4), QStringList{"Rice"});
}

TEST(TDataSourceLinkTest, HasNoFieldsOrRowsBeforeTheDataSetIsCreated) {
    TOrderBook Book;
    TDataSourceLink Link(Book.TAs());
    EXPECT_EQ(Link.FieldCount(), 0);
    EXPECT_EQ(Link.RowCount(), 0);
    EXPECT_EQ(Link.CurrentRow(), -1);
    TNoticeLog Log;
    Link.SetObserver(&Log);
    Book.Create();
    EXPECT_EQ(Log.Notices, (QStringList{"reset?", "reset"}));
    EXPECT_EQ(Link.FieldCount(), 6);
    EXPECT_EQ(Link.FieldName(5), "DeliveryType");
    EXPECT_EQ(Link.DisplayWidth(5), 20);

    // Losing the dataset is a reset to nothing; the dataset has gone already
    // when it is announced.
    AddHeader(Book, "H1", "T1");
    Log.Notices.clear();
    Book.TAs().SetDataSet(nullptr);
    EXPECT_EQ(Log.Notices, (QStringList{"reset?", "reset"}));
    EXPECT_EQ(Link.FieldCount(), 0);
    EXPECT_EQ(Link.RowCount(), 0);
    Book.TAs().SetDataSet(&Book.TA());
    EXPECT_EQ(Link.RowCount(), 1);
}

// Every signal of one item model, in the order sent, as short text: "+?2"
// about to insert row 2, "+2" inserted, "-?2" / "-2" the same for removal,
// "~2" the whole of row 2 changed (any other range is spelt out), "reset?" /
// "reset", and the signals a grid model should never need here ("layout",
// "moved", "header", "columns").
class TSignalLog {
public:
    explicit TSignalLog(QAbstractItemModel& Model) {
        using M = QAbstractItemModel;
        QObject::connect(&Model, &M::rowsAboutToBeInserted, &FContext,
                         [this](const QModelIndex&, int A, int B) { Add("+?", A, B); });
        QObject::connect(&Model, &M::rowsInserted, &FContext,
                         [this](const QModelIndex&, int A, int B) { Add("+", A, B); });
        QObject::connect(&Model, &M::rowsAboutToBeRemoved, &FContext,
                         [this](const QModelIndex&, int A, int B) { Add("-?", A, B); });
        QObject::connect(&Model, &M::rowsRemoved, &FContext,
                         [this](const QModelIndex&, int A, int B) { Add("-", A, B); });
        QObject::connect(&Model, &M::dataChanged, &FContext,
                         [this, &Model](const QModelIndex& TL, const QModelIndex& BR) {
                             if (TL.row() == BR.row() && TL.column() == 0 &&
                                 BR.column() == Model.columnCount() - 1)
                                 Signals << QString("~%1").arg(TL.row());
                             else
                                 Signals << QString("~(%1,%2)-(%3,%4)")
                                                .arg(TL.row())
                                                .arg(TL.column())
                                                .arg(BR.row())
                                                .arg(BR.column());
                         });
        QObject::connect(&Model, &M::modelAboutToBeReset, &FContext,
                         [this] { Signals << "reset?"; });
        QObject::connect(&Model, &M::modelReset, &FContext, [this] { Signals << "reset"; });
        QObject::connect(&Model, &M::layoutChanged, &FContext, [this] { Signals << "layout"; });
        QObject::connect(&Model, &M::rowsMoved, &FContext, [this] { Signals << "moved"; });
        QObject::connect(&Model, &M::headerDataChanged, &FContext, [this] { Signals << "header"; });
        QObject::connect(&Model, &M::columnsInserted, &FContext, [this] { Signals << "columns"; });
        QObject::connect(&Model, &M::columnsRemoved, &FContext, [this] { Signals << "columns"; });
    }

    QStringList Signals;

private:
    void Add(const char* What, int First, int Last) {
        Signals << (First == Last ? QString("%1%2").arg(What).arg(First)
                                  : QString("%1%2..%3").arg(What).arg(First).arg(Last));
    }

    QObject FContext; // the connections end with the log
};

// One change of the order book and the exact signals the grid over TA
// (Detail false) or TB (Detail true) sends for it.
struct TSignalCase {
    const char* Name;
    bool Detail;
    std::function<void(TOrderBook&)> Before; // the book as the change finds it
    std::function<void(TOrderBook&, QAbstractItemModel&)> Change;
    QStringList Expected;
    QStringList Shown; // afterwards, column 0 of the grid (TA001 / TB001)
};

void PrintTo(const TSignalCase& C, std::ostream* Os) {
    *Os << C.Name;
}

void ThreeHeaders(TOrderBook& B) {
    AddHeader(B, "H1", "T1");
    AddHeader(B, "H2", "T2");
    AddHeader(B, "H3", "T3");
}

// Lines of two headers; linked, TB shows the lines of the current header H2.
void LinkedLines(TOrderBook& B) {
    AddHeader(B, "H1", "T1");
    AddHeader(B, "H2", "T2");
    AddLine(B, "H1", "Tea", "1");
    AddLine(B, "H2", "Rice", "1");
    AddLine(B, "H2", "Soup", "1");
    AddLine(B, "H1", "Cake", "1");
    B.TB().SetMasterFields(TOrderBook::TAMasterFields);
}

const TSignalCase SignalCases[] = {
    {"headerAppended",
     false,
     [](TOrderBook& B) { AddHeader(B, "H1", "T1"); },
     [](TOrderBook& B, QAbstractItemModel&) { AddHeader(B, "H2", "T2"); },
     // appended, two fields set, stored where it stood
     {"+?1", "+1", "~1", "~1", "~1"},
     {"H1", "H2"}},
    {"appendCancelled",
     false,
     [](TOrderBook& B) { AddHeader(B, "H1", "T1"); },
     [](TOrderBook& B, QAbstractItemModel&) {
         B.TA().Append();
         B.TA().Cancel();
     },
     {"+?1", "+1", "-?1", "-1"},
     {"H1"}},
    {"headerDeleted",
     false,
     ThreeHeaders,
     [](TOrderBook& B, QAbstractItemModel&) {
         B.TA().SetRecNo(2);
         B.TA().Delete();
     },
     {"-?1", "-1"},
     {"H1", "H3"}},
    {"headerEditedInPlace",
     false,
     ThreeHeaders,
     [](TOrderBook& B, QAbstractItemModel&) {
         B.TA().First();
         B.TA().Edit();
         B.TA().FieldByName("TA001").SetAsString("H9");
         B.TA().Post();
     },
     {"~0", "~0"},
     {"H9", "H2", "H3"}},
    {"headerEditedThroughTheGrid",
     false,
     ThreeHeaders,
     [](TOrderBook&, QAbstractItemModel& M) { EXPECT_TRUE(M.setData(M.index(2, 4), "T9")); },
     {"~2", "~2"},
     {"H1", "H2", "H3"}},
    {"lineStoredBeforeOthers",
     true,
     [](TOrderBook& B) {
         AddLine(B, "H2", "Rice", "1");
         AddLine(B, "H3", "Soup", "1");
     },
     [](TOrderBook& B, QAbstractItemModel&) { AddLine(B, "H1", "Tea", "1"); },
     // the pending row at the end goes, the stored row comes at its place
     {"+?2", "+2", "~2", "~2", "~2", "-?2", "-2", "+?0", "+0"},
     {"H1", "H2", "H3"}},
    {"lineKeyEditedMovesIt",
     true,
     [](TOrderBook& B) {
         AddLine(B, "H1", "Tea", "1");
         AddLine(B, "H2", "Rice", "1");
         AddLine(B, "H3", "Soup", "1");
     },
     [](TOrderBook&, QAbstractItemModel& M) { EXPECT_TRUE(M.setData(M.index(0, 0), "H9")); },
     {"~0", "-?0", "-0", "+?2", "+2"},
     {"H2", "H3", "H9"}},
    {"lineDeleted",
     true,
     LinkedLines,
     [](TOrderBook& B, QAbstractItemModel&) {
         B.TB().First();
         B.TB().Delete();
     },
     {"-?0", "-0"},
     {"H2"}},
    {"hiddenLineDeletedElsewhere",
     true,
     LinkedLines,
     [](TOrderBook& B, QAbstractItemModel&) {
         B.TA().First();
         const TRowId Tea = B.TB().RowIdAt(0);
         B.TA().Last();
         EXPECT_TRUE(B.TB().DeleteRow(Tea));
     },
     // the moves of the master are resets; the deletion of a line not shown
     // sends nothing
     {"reset?", "reset", "reset?", "reset"},
     {"H2", "H2"}},
    {"lineEditedAwayFromItsHeader",
     true,
     LinkedLines,
     [](TOrderBook&, QAbstractItemModel& M) { EXPECT_TRUE(M.setData(M.index(1, 0), "H1")); },
     {"~1", "-?1", "-1"},
     {"H2"}},
    {"masterMovesTheDetail",
     true,
     LinkedLines,
     [](TOrderBook& B, QAbstractItemModel&) { B.TA().First(); },
     {"reset?", "reset"},
     {"H1", "H1"}},
    {"masterMovesWithinTheSameKey",
     true,
     LinkedLines,
     [](TOrderBook& B, QAbstractItemModel&) {
         // Another field of the current header: the detail stays as it is.
         B.TA().Edit();
         B.TA().FieldByName("TableNo").SetAsString("T9");
         B.TA().Post();
     },
     {},
     {"H2", "H2"}},
};

class TGridSignalTest : public TOrderGridsTest,
                        public ::testing::WithParamInterface<TSignalCase> {};

TEST_P(TGridSignalTest, SendsExactlyTheRowSignalsOfTheChange) {
    const TSignalCase& C = GetParam();
    TPOSDBGrid& Grid = C.Detail ? GridTB : GridTA;
    QAbstractItemModel& Model = *Grid.model();
    QAbstractItemModelTester Tester(&Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    C.Before(Book);
    TSignalLog Log(Model);
    C.Change(Book, Model);
    QApplication::processEvents();
    EXPECT_EQ(Log.Signals, C.Expected);
    EXPECT_EQ(ColumnOf(Model, 0), C.Shown);
    EXPECT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join("; ").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Changes, TGridSignalTest, ::testing::ValuesIn(SignalCases),
                         test::TCaseName{});

// Keeps a copy of what a view shows, updated from the model's signals alone:
// rows read when they come, cells read when they are said to change.
class TModelReplica {
public:
    explicit TModelReplica(QAbstractItemModel& Model) : FModel(Model) {
        using M = QAbstractItemModel;
        Load();
        QObject::connect(&Model, &M::rowsInserted, &FContext,
                         [this](const QModelIndex&, int A, int B) {
                             for (int R = A; R <= B; ++R)
                                 Rows.insert(R, Read(R));
                         });
        QObject::connect(&Model, &M::rowsRemoved, &FContext,
                         [this](const QModelIndex&, int A, int B) { Rows.remove(A, B - A + 1); });
        QObject::connect(&Model, &M::dataChanged, &FContext,
                         [this](const QModelIndex& TL, const QModelIndex& BR) {
                             for (int R = TL.row(); R <= BR.row(); ++R)
                                 for (int Col = TL.column(); Col <= BR.column(); ++Col)
                                     Rows[R][Col] = FModel.data(FModel.index(R, Col)).toString();
                         });
        QObject::connect(&Model, &M::modelReset, &FContext, [this] { Load(); });
    }

    QList<QStringList> Rows;

private:
    QStringList Read(int Row) const {
        QStringList Cells;
        for (int Col = 0; Col < FModel.columnCount(); ++Col)
            Cells << FModel.data(FModel.index(Row, Col)).toString();
        return Cells;
    }
    void Load() {
        Rows.clear();
        for (int R = 0; R < FModel.rowCount(); ++R)
            Rows << Read(R);
    }

    QAbstractItemModel& FModel;
    QObject FContext;
};

// What the dataset presents, cell by cell.
QList<QStringList> Presented(TMemoryDataSet& D) {
    QList<QStringList> Rows;
    for (int R = 0; R < D.RowCount(); ++R) {
        QStringList Cells;
        for (int F = 0; F < D.FieldCount(); ++F)
            Cells << QString::fromStdString(D.DisplayTextAt(R, F));
        Rows << Cells;
    }
    return Rows;
}

TEST_F(TOrderGridsTest, ACopyKeptFromTheModelsSignalsAloneMatchesTheDetail) {
    GridTA.show();
    GridTB.show();
    QApplication::processEvents();
    QAbstractItemModelTester Tester(GridTB.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    TModelReplica Replica(*GridTB.model());
    TMemoryDataSet& TA = Book.TA();
    TMemoryDataSet& TB = Book.TB();
    auto Same = [&](const char* Step) {
        QApplication::processEvents();
        EXPECT_EQ(Replica.Rows, Presented(TB)) << Step;
        EXPECT_EQ(GridTB.model()->rowCount(), TB.RowCount()) << Step;
        EXPECT_EQ(GridTB.currentIndex().row(), TB.CurrentRow()) << Step;
    };
    AddHeader(Book, "H1", "T1");
    AddHeader(Book, "H2", "T2");
    AddLine(Book, "H1", "Tea", "1");
    Same("unlinked line");
    TB.SetMasterFields(TOrderBook::TAMasterFields);
    Same("linked");
    AddLine(Book, "H2", "Rice", "2");
    AddLine(Book, "H2", "Soup", "1.5");
    TB.Append();
    TB.FieldByName("PluName").SetAsString("typed");
    Same("pending");
    TB.Cancel();
    Same("cancelled");
    TB.First();
    TB.Edit();
    TB.FieldByName("TB001").SetAsString("H1"); // to the other header: hidden here
    TB.Post();
    Same("edit hides");
    TA.First();
    Same("master moved");
    TB.Last();
    TB.Delete();
    Same("deleted");
    AddLine(Book, "H1", "Cake", "3");
    Same("stored");
    QAbstractItemModel& Model = *GridTB.model();
    EXPECT_TRUE(Model.setData(Model.index(0, 5), "4"));
    Same("edited in the grid");
    EXPECT_TRUE(Model.setData(Model.index(0, 0), "H2")); // moved to the other header
    Same("key edited in the grid");
    const TRowId Hidden = TB.RowIdAt(0);
    TA.Last();
    EXPECT_TRUE(TB.DeleteRow(Hidden));
    Same("deleted elsewhere");
    TA.Edit();
    TA.FieldByName("TA001").SetAsString("H1");
    Same("master key being edited");
    TA.Post();
    Same("master key stored");
    TA.Append();
    Same("new header");
    TA.FieldByName("TA001").SetAsString("H2");
    Same("new header's key typed");
    TA.Cancel();
    Same("new header dropped");
    // Moving down past the last line appends one; moving up drops it unused.
    GridTB.setFocus();
    GridTB.setCurrentIndex(Model.index(Model.rowCount() - 1, 4));
    QTest::keyClick(&GridTB, Qt::Key_Down);
    Same("appended in the grid");
    EXPECT_TRUE(Model.setData(Model.index(Model.rowCount() - 1, 4), "Tart"));
    QTest::keyClick(&GridTB, Qt::Key_Up);
    Same("stored on leaving");
    Book.Create();
    Same("created again");
    EXPECT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join("; ").toStdString();
}

} // namespace
} // namespace kds
