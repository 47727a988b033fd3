#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

#include "FakeGridDataSet.h"
#include "QtPrinters.h"
#include "RecordingDialogs.h"
#include "ui/DataSetModel.h"
#include "ui/POSDBGrid.h"

namespace kds {
namespace {

using test::TFakeGridDataSet;
using TKind = TGridDataSet::TFieldKind;

const QColor OddFill(0xFB, 0xFF, 0xEC);  // $00ECFFFB
const QColor OddText(0x04, 0x00, 0x13);  // $00130004
const QColor EvenFill(0xCE, 0xF9, 0xE7); // $00E7F9CE
const QColor EvenText(0x31, 0x06, 0x18); // $00180631
// Palette colours chosen so that every system colour is told apart.
const QColor ButtonFace(40, 60, 90);
const QColor Highlight(150, 20, 30);
const QColor WindowText(10, 100, 10);

QImage Render(QWidget& W) {
    QImage Img(W.size(), QImage::Format_RGB32);
    Img.fill(Qt::magenta);
    W.render(&Img);
    return Img;
}

// True when some pixel of Area has Colour, each channel within Tolerance.
// Text is anti-aliased, so its strokes come within a few steps of their
// colour; the row colours' text colours are much further apart than that.
bool HasPixel(const QImage& Img, const QRect& Area, const QColor& Colour, int Tolerance = 0) {
    const QRect R = Area.intersected(Img.rect());
    for (int Y = R.top(); Y <= R.bottom(); ++Y)
        for (int X = R.left(); X <= R.right(); ++X) {
            const QColor P = Img.pixelColor(X, Y);
            if (std::abs(P.red() - Colour.red()) <= Tolerance &&
                std::abs(P.green() - Colour.green()) <= Tolerance &&
                std::abs(P.blue() - Colour.blue()) <= Tolerance)
                return true;
        }
    return false;
}

// Text strokes: within this many steps of the text colour.
constexpr int Ink = 12;

// Paints a grid over a fake dataset of order headers, with a palette whose
// system colours are all distinct.
class TPOSDBGridTest : public ::testing::Test {
protected:
    void SetUp() override {
        Grid = std::make_unique<TPOSDBGrid>();
        QPalette Pal = Grid->palette();
        Pal.setColor(QPalette::Button, ButtonFace);
        Pal.setColor(QPalette::Highlight, Highlight);
        Pal.setColor(QPalette::WindowText, WindowText);
        Grid->setPalette(Pal);
        Grid->resize(420, 200);
    }

    TFakeGridDataSet& Attach(std::vector<TFakeGridDataSet::TField> Fields, int Rows) {
        auto DataSet = std::make_unique<TFakeGridDataSet>(std::move(Fields));
        TFakeGridDataSet& Ref = *DataSet;
        for (int R = 0; R < Rows; ++R)
            Ref.AddRow({"HHH", "HHH", "HHH"});
        Grid->DataModel()->SetDataSet(std::move(DataSet));
        Grid->show();
        QApplication::processEvents();
        return Ref;
    }

    TFakeGridDataSet& AttachHeaders(int Rows) {
        return Attach({{"TA001"}, {"TA002"}, {"TableNo"}}, Rows);
    }

    QRect CellRect(int Row, int Col) const {
        QRect R = Grid->visualRect(Grid->model()->index(Row, Col));
        return R.translated(Grid->viewport()->pos());
    }

    QRect TitleRect(int Col) const {
        const QHeaderView* H = Grid->horizontalHeader();
        return QRect(H->pos().x() + H->sectionViewportPosition(Col), H->pos().y(),
                     H->sectionSize(Col), H->height());
    }

    // A pixel of the cell's fill, away from its text and grid lines.
    static QColor FillOf(const QImage& Img, const QRect& Cell) {
        return Img.pixelColor(Cell.right() - 3, Cell.center().y());
    }

    std::unique_ptr<TPOSDBGrid> Grid;
};

TEST_F(TPOSDBGridTest, PaintsOddAndEvenRowsInTheirColours) {
    AttachHeaders(3);
    const QImage Img = Render(*Grid);
    // Column 1: the current cell is in column 0.
    EXPECT_EQ(FillOf(Img, CellRect(0, 1)), OddFill);
    EXPECT_EQ(FillOf(Img, CellRect(1, 1)), EvenFill);
    EXPECT_EQ(FillOf(Img, CellRect(2, 1)), OddFill);
    EXPECT_TRUE(HasPixel(Img, CellRect(0, 1), OddText, Ink));
    EXPECT_TRUE(HasPixel(Img, CellRect(1, 1), EvenText, Ink));
    EXPECT_TRUE(HasPixel(Img, CellRect(2, 1), OddText, Ink));
    EXPECT_FALSE(HasPixel(Img, CellRect(1, 1), OddText, Ink));
    EXPECT_FALSE(HasPixel(Img, CellRect(0, 1), EvenText, Ink));
}

TEST_F(TPOSDBGridTest, PaintsARowBeingAppendedInTheOddColour) {
    TFakeGridDataSet& DataSet = AttachHeaders(1);
    Grid->setCurrentIndex(Grid->model()->index(0, 0));
    // Moving down past the last row appends one.
    QTest::keyClick(Grid.get(), Qt::Key_Down);
    QApplication::processEvents();
    ASSERT_EQ(DataSet.RowCount(), 2);
    ASSERT_EQ(Grid->model()->rowCount(), 2);
    EXPECT_EQ(Grid->currentIndex().row(), 1);
    const QImage Img = Render(*Grid);
    // Second place, but RecNo -1: odd.
    EXPECT_EQ(FillOf(Img, CellRect(1, 1)), OddFill);
    EXPECT_EQ(FillOf(Img, CellRect(0, 1)), OddFill);
}

TEST_F(TPOSDBGridTest, PaintsTheCurrentCellSelectedOnlyWithoutFocus) {
    AttachHeaders(3);
    Grid->setCurrentIndex(Grid->model()->index(1, 1));
    Grid->clearFocus();
    QApplication::processEvents();
    ASSERT_FALSE(Grid->hasFocus());
    QImage Img = Render(*Grid);
    EXPECT_EQ(FillOf(Img, CellRect(1, 1)), Highlight);
    // Text in the inverse of highlight's code, $00FFFFF2.
    EXPECT_TRUE(HasPixel(Img, CellRect(1, 1), QColor(0xF2, 0xFF, 0xFF), Ink));
    EXPECT_EQ(FillOf(Img, CellRect(1, 2)), EvenFill); // only the cell, not the row

    Grid->activateWindow();
    Grid->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(QTest::qWaitForWindowActive(Grid.get()));
    QApplication::processEvents();
    ASSERT_TRUE(Grid->hasFocus());
    Img = Render(*Grid);
    EXPECT_EQ(FillOf(Img, CellRect(1, 1)), EvenFill);
    EXPECT_TRUE(HasPixel(Img, CellRect(1, 1), EvenText, Ink));

    // With the row-select option the focused row is selected too.
    Grid->SetRowSelect(true);
    Img = Render(*Grid);
    EXPECT_EQ(FillOf(Img, CellRect(1, 1)), Highlight);
    EXPECT_EQ(FillOf(Img, CellRect(1, 2)), Highlight);
}

TEST_F(TPOSDBGridTest, PaintsTitlesInTitleColourOrAsKeys) {
    Attach({{"TA001"}, {"A001"}, {"TA002"}}, 1);
    QImage Img = Render(*Grid);
    for (int C = 0; C < 3; ++C) {
        EXPECT_EQ(Img.pixelColor(TitleRect(C).right() - 3, TitleRect(C).center().y()), ButtonFace)
            << C;
        EXPECT_TRUE(HasPixel(Img, TitleRect(C), WindowText, Ink)) << C;
    }

    Grid->SetColor_Key(0x00203040); // red 40, green 30, blue 20
    Grid->SetKeyFields("TA001");
    Img = Render(*Grid);
    const QColor Key(0x40, 0x30, 0x20);
    const QColor KeyText(0xBF, 0xCF, 0xDF);
    // A001 is a key too: "A001;" occurs in "TA001;".
    for (int C : {0, 1}) {
        EXPECT_EQ(Img.pixelColor(TitleRect(C).right() - 3, TitleRect(C).center().y()), Key) << C;
        EXPECT_TRUE(HasPixel(Img, TitleRect(C), KeyText, Ink)) << C;
    }
    EXPECT_EQ(Img.pixelColor(TitleRect(2).right() - 3, TitleRect(2).center().y()), ButtonFace);
    EXPECT_FALSE(HasPixel(Img, TitleRect(2), KeyText, Ink));
}

TEST_F(TPOSDBGridTest, GivesKeyTitlesTheInverseOfTheButtonFaceCode) {
    Attach({{"TA001"}, {"TA002"}}, 0);
    Grid->SetKeyFields("TA001");
    std::vector<std::pair<std::string, TGridBrush>> Seen;
    std::vector<TColor> Fonts;
    Grid->OnCalcTitleAttributes = [&](TBaseDBGrid&, const std::string& Name, TGridFont& Font,
                                      Qt::Alignment&, TGridBrush& Brush) {
        Seen.emplace_back(Name, Brush);
        Fonts.push_back(Font.Color);
    };
    Render(*Grid);
    ASSERT_GE(Seen.size(), 2u);
    EXPECT_EQ(Seen[0].first, "TA001");
    EXPECT_EQ(Seen[0].second.Color, clBtnFace);
    EXPECT_EQ(Fonts[0], 0x00FFFFF0u);
    EXPECT_EQ(Seen[1].first, "TA002");
    EXPECT_EQ(Seen[1].second.Color, clBtnFace);
    EXPECT_EQ(Fonts[1], clWindowText);
}

TEST_F(TPOSDBGridTest, CallsTheCellHandlerForEveryCellWithTheGridsColours) {
    AttachHeaders(2);
    int DataCells = 0, FixedCells = 0;
    Grid->OnCalcCellColors = [&](TBaseDBGrid&, const TGridField* Field, TGridDrawState State, bool&,
                                 TGridBrush& Brush, TGridFont& Font) {
        if (State == gdFixed) {
            ++FixedCells;
            EXPECT_EQ(Brush.Color, clBtnFace);
            return;
        }
        ++DataCells;
        ASSERT_NE(Field, nullptr);
        EXPECT_EQ(Font.Color, InvertColor(Brush.Color));
        if (Field->FieldName == "TableNo")
            Brush.Color = 0x000000FF; // the handler has the last word
    };
    const QImage Img = Render(*Grid);
    EXPECT_GE(DataCells, 6);
    EXPECT_GE(FixedCells, 2);
    EXPECT_EQ(FillOf(Img, CellRect(0, 2)), QColor(255, 0, 0));
    EXPECT_EQ(FillOf(Img, CellRect(1, 2)), QColor(255, 0, 0));
}

TEST_F(TPOSDBGridTest, RepaintsInANewColourOnceItIsWritten) {
    AttachHeaders(3);
    Grid->SetColor_Row_Even(0x00FF0000);
    Grid->SetColor_Row_Odd(0x0000FF00);
    const QImage Img = Render(*Grid);
    EXPECT_EQ(FillOf(Img, CellRect(1, 1)), QColor(0, 0, 255));
    EXPECT_EQ(FillOf(Img, CellRect(2, 1)), QColor(0, 255, 0));
    EXPECT_TRUE(HasPixel(Img, CellRect(1, 1), QColor(255, 255, 0), Ink));
}

TEST_F(TPOSDBGridTest, StartsWithTheOrderGridsColours) {
    EXPECT_EQ(Grid->KeyFields(), "");
    EXPECT_EQ(Grid->Color_Row_Odd(), 0x00ECFFFBu);
    EXPECT_EQ(Grid->Color_Row_Even(), 0x00E7F9CEu);
    EXPECT_EQ(Grid->Color_Fixed(), clBtnFace);
    EXPECT_EQ(Grid->Color_Key(), clBtnFace);
    EXPECT_EQ(Grid->Color_Selected(), clHighlight);
    EXPECT_EQ(Grid->Color_Title(), clBtnFace);
    EXPECT_EQ(Grid->CheckedBitmap().size(), QSize(19, 14));
    EXPECT_FALSE(Grid->RowSelect());
}

// KeyFields is kept in a normal form found by plain text search.
struct TKeyFieldsCase {
    const char* Written;
    const char* Read;
};
void PrintTo(const TKeyFieldsCase& C, std::ostream* Os) {
    *Os << '"' << C.Written << "\" -> \"" << C.Read << '"';
}

class KeyFieldsTest : public ::testing::TestWithParam<TKeyFieldsCase> {};

TEST_P(KeyFieldsTest, ReadsBackInNormalForm) {
    TPOSDBGrid Grid;
    Grid.SetKeyFields(GetParam().Written);
    EXPECT_EQ(Grid.KeyFields(), GetParam().Read);
    Grid.SetKeyFields(Grid.KeyFields()); // the normal form is stable
    EXPECT_EQ(Grid.KeyFields(), GetParam().Read);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, KeyFieldsTest,
    ::testing::Values(TKeyFieldsCase{"", ""}, TKeyFieldsCase{"TA001", "TA001;"},
                      TKeyFieldsCase{" TA001 ; TA002 ;TA001", "TA001;TA002;"},
                      TKeyFieldsCase{"B; A;B", "B;A;"},
                      TKeyFieldsCase{"TA001;A001", "TA001;"},      // a tail of an earlier name
                      TKeyFieldsCase{"A001;TA001", "A001;TA001;"}, // but not the other way round
                      TKeyFieldsCase{";", ";"}, TKeyFieldsCase{";TA001", ";TA001;"},
                      TKeyFieldsCase{"TA001;;", "TA001;"}, // an empty part after a name
                      TKeyFieldsCase{"A;;B", "A;B;"},
                      TKeyFieldsCase{"\tX\r\n;Y ", "X;Y;"},  // control characters trim too
                      TKeyFieldsCase{"TA 001", "TA 001;"})); // inner spaces stay

// The glyph lands at the box's corner moved by dx -2, dy -1, overhanging the
// 10 x 10 box, with the olive field showing the brush.
class DrawCheckBoxTest : public ::testing::TestWithParam<bool> {};

TEST_P(DrawCheckBoxTest, DrawsTheGlyphOverhangingTheBoxOnTheBrush) {
    TPOSDBGrid Grid;
    QImage Img(40, 40, QImage::Format_RGB32);
    Img.fill(Qt::white);
    {
        QPainter P(&Img);
        P.setBrush(QColor(255, 0, 0));
        Grid.DrawCheckBox(P, QRect(10, 10, 10, 10), 0, GetParam(), 0);
    }
    const QColor Red(255, 0, 0);
    EXPECT_EQ(Img.pixelColor(8, 9), QColor(255, 255, 255)); // glyph (0,0): white edge
    EXPECT_EQ(Img.pixelColor(8, 22), Red);                  // glyph (0,13): olive shown as brush
    EXPECT_EQ(Img.pixelColor(26, 22), Red);                 // glyph (18,13), outside the box
    EXPECT_EQ(Img.pixelColor(8 + 5, 9 + 11), QColor(128, 128, 128)); // bottom edge
    EXPECT_EQ(Img.pixelColor(7, 9), QColor(255, 255, 255));          // left of the glyph: untouched
    EXPECT_EQ(Img.pixelColor(27, 23), QColor(255, 255, 255));        // past its corner: untouched
    EXPECT_EQ(HasPixel(Img, Img.rect(), QColor(0, 0, 255)), GetParam());
    EXPECT_FALSE(HasPixel(Img, Img.rect(), QColor(128, 128, 0)));
}

INSTANTIATE_TEST_SUITE_P(CheckedAndUnchecked, DrawCheckBoxTest, ::testing::Bool());

// Records the boxes the base grid hands to DrawCheckBox.
class TBoxRecordingGrid : public TPOSDBGrid {
public:
    void DrawCheckBox(QPainter& Canvas, const QRect& Box, int Column, bool Checked,
                      int Row) override {
        Boxes.push_back({Box, Column, Checked, Row});
        TPOSDBGrid::DrawCheckBox(Canvas, Box, Column, Checked, Row);
    }
    struct TCall {
        QRect Box;
        int Column;
        bool Checked;
        int Row;
    };
    std::vector<TCall> Boxes;
};

TEST(TPOSDBGridCheckBoxTest, PaintsBooleanCellsAsCheckBoxesCentredInTheCell) {
    TBoxRecordingGrid Grid;
    auto DataSet = std::make_unique<TFakeGridDataSet>(
        std::vector<TFakeGridDataSet::TField>{{"Name"}, {"Done", TKind::Boolean}});
    DataSet->AddRow({"a", "True"});
    DataSet->AddRow({"b", "False"});
    Grid.DataModel()->SetDataSet(std::move(DataSet));
    Grid.resize(300, 150);
    Grid.show();
    QApplication::processEvents();
    Render(Grid);
    ASSERT_GE(Grid.Boxes.size(), 2u);
    for (const auto& Call : Grid.Boxes) {
        EXPECT_EQ(Call.Column, 1);
        EXPECT_EQ(Call.Box.size(), QSize(10, 10));
        const QRect Cell = Grid.visualRect(Grid.model()->index(Call.Row, 1));
        EXPECT_LE(std::abs(Call.Box.center().x() - Cell.center().x()), 1);
        EXPECT_LE(std::abs(Call.Box.center().y() - Cell.center().y()), 1);
        EXPECT_EQ(Call.Checked, Call.Row == 0);
    }
}

TEST_F(TPOSDBGridTest, DeletesTheCurrentRowWithCtrlDeleteOnlyWhenConfirmed) {
    TFakeGridDataSet& DataSet = AttachHeaders(3);
    Grid->setCurrentIndex(Grid->model()->index(1, 0));
    {
        test::TRecordingDialogs No(false);
        QTest::keyClick(Grid.get(), Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_EQ(No.Questions, QStringList{"Delete record?"});
        EXPECT_EQ(DataSet.RowCount(), 3);
    }
    test::TRecordingDialogs Yes(true);
    QTest::keyClick(Grid.get(), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(DataSet.RowCount(), 2);
    EXPECT_EQ(Grid->model()->rowCount(), 2);
}

TEST_F(TPOSDBGridTest, ShowsAFieldsAssignmentErrorAndKeepsTheValue) {
    TFakeGridDataSet& DataSet = Attach({{"PluName"}, {"SaleQty", TKind::Float}}, 0);
    DataSet.AddRow({"Tea", "2"});
    test::TRecordingDialogs Dialogs;
    QAbstractItemModel* Model = Grid->model();
    EXPECT_FALSE(Model->setData(Model->index(0, 1), QString("abc")));
    QApplication::processEvents();
    EXPECT_EQ(Dialogs.Errors,
              QStringList{"'abc' is not a valid floating point value for field 'SaleQty'"});
    EXPECT_EQ(Model->data(Model->index(0, 1)).toString(), "2");
    EXPECT_TRUE(Model->setData(Model->index(0, 1), QString("1.5")));
    EXPECT_EQ(Model->data(Model->index(0, 1)).toString(), "1.5");
}

TEST_F(TPOSDBGridTest, FollowsTheDataSetsCurrentRowAndMovesIt) {
    TFakeGridDataSet& DataSet = AttachHeaders(3);
    EXPECT_EQ(Grid->currentIndex().row(), 0);
    DataSet.MoveToRow(2);
    EXPECT_EQ(Grid->currentIndex().row(), 2);
    Grid->setCurrentIndex(Grid->model()->index(1, 2));
    EXPECT_EQ(DataSet.CurrentRow(), 1);
    Grid->selectionModel()->setCurrentIndex(Grid->model()->index(0, 1),
                                            QItemSelectionModel::NoUpdate);
    EXPECT_EQ(DataSet.CurrentRow(), 0);
}

TEST_F(TPOSDBGridTest, ScrollsToAndSelectsTheRowItFollowsOnceIdle) {
    TFakeGridDataSet& DataSet = AttachHeaders(40);
    const QModelIndex Last = Grid->model()->index(39, 0);
    DataSet.MoveToRow(39);
    EXPECT_EQ(Grid->currentIndex(), Last); // at once
    QApplication::processEvents();
    EXPECT_TRUE(Grid->viewport()->rect().contains(Grid->visualRect(Last)));
    EXPECT_EQ(Grid->selectionModel()->selectedIndexes(), QModelIndexList{Last});
    EXPECT_EQ(DataSet.CurrentRow(), 39);
    // The moves the grid follows are not sent back as the operator's.
    DataSet.MoveToRow(0);
    DataSet.MoveToRow(20);
    QApplication::processEvents();
    EXPECT_EQ(DataSet.CurrentRow(), 20);
    EXPECT_EQ(Grid->currentIndex().row(), 20);
    EXPECT_EQ(Grid->selectionModel()->selectedIndexes(),
              QModelIndexList{Grid->model()->index(20, 0)});
}

TEST(TDataSetModelTest, ANoticeOutOfStepEndsInAResetNotAWrongPicture) {
    TDataSetModel Model;
    QAbstractItemModelTester Tester(&Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto Owned =
        std::make_unique<TFakeGridDataSet>(std::vector<TFakeGridDataSet::TField>{{"TB001"}});
    TFakeGridDataSet& DataSet = *Owned;
    Model.SetDataSet(std::move(Owned));
    DataSet.AddRow({"A"});
    QSignalSpy Resets(&Model, &QAbstractItemModel::modelReset);
    QSignalSpy Inserted(&Model, &QAbstractItemModel::rowsInserted);
    QSignalSpy Changed(&Model, &QAbstractItemModel::dataChanged);

    DataSet.AddRowUntold({"B"});
    DataSet.SetFieldText(0, 0, "A2"); // a change while the model counts one row too few
    EXPECT_EQ(Resets.count(), 1);
    EXPECT_EQ(Changed.count(), 0);
    EXPECT_EQ(Model.rowCount(), 2);

    DataSet.AddRowUntold({"C"});
    DataSet.AddRow({"D"}); // announced at row 3, past the model's 2 rows
    EXPECT_EQ(Resets.count(), 2);
    EXPECT_EQ(Inserted.count(), 0);
    EXPECT_EQ(Model.rowCount(), 4);

    DataSet.AddRowUntold({"E"});
    DataSet.DeleteRow(0); // a removal that leaves one row more than the model counts
    EXPECT_EQ(Resets.count(), 3);
    EXPECT_EQ(Model.rowCount(), 4);
    EXPECT_EQ(Model.data(Model.index(3, 0)).toString(), "E");

    // In step again: exact signals.
    DataSet.AddRow({"F"});
    EXPECT_EQ(Resets.count(), 3);
    ASSERT_EQ(Inserted.count(), 1);
    EXPECT_EQ(Inserted.at(0).at(1).toInt(), 4);
}

TEST(TDataSetModelTest, PassesTheItemModelTesterWhileRowsComeAndGo) {
    TDataSetModel Model;
    QAbstractItemModelTester Tester(&Model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    auto Owned = std::make_unique<TFakeGridDataSet>(
        std::vector<TFakeGridDataSet::TField>{{"TB001"}, {"SaleQty", TKind::Float}});
    TFakeGridDataSet& DataSet = *Owned;
    Model.SetDataSet(std::move(Owned));
    EXPECT_EQ(Model.columnCount(), 2);
    EXPECT_EQ(Model.headerData(1, Qt::Horizontal).toString(), "SaleQty");
    DataSet.AddRow({"A", "1"});
    DataSet.AddRow({"B", ""});
    DataSet.AppendRow();
    EXPECT_TRUE(Model.setData(Model.index(2, 0), QString("C")));
    QApplication::processEvents();
    DataSet.DeleteRow(0);
    EXPECT_EQ(Model.rowCount(), 2);
    EXPECT_EQ(Model.data(Model.index(1, 0)).toString(), "C");
    EXPECT_EQ(Model.data(Model.index(0, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                  Qt::AlignRight,
              Qt::AlignRight);
    Model.SetDataSet(nullptr);
    EXPECT_EQ(Model.rowCount(), 0);
    EXPECT_EQ(Model.columnCount(), 0);
}

} // namespace
} // namespace kds
