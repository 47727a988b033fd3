#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QHeaderView>
#include <QImage>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

#include "QtPrinters.h"
#include "RecordingDialogs.h"
#include "app/OrderBook.h"
#include "support/TempDir.h"
#include "support/TestNames.h"
#include "ui/CategoryButtons.h"
#include "ui/CategoryPanel.h"
#include "ui/CategoryPanelGroup.h"
#include "ui/DataSetModel.h"
#include "ui/KDSSV.h"
#include "ui/POSDBGrid.h"

namespace kds {
namespace {

namespace fs = std::filesystem;

std::string OrderXml(const std::string& Key, const std::string& TableNo,
                     std::initializer_list<const char*> Items) {
    std::string Xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Order><header><TA001>" + Key +
                      "</TA001><TA002>B</TA002><TA003>C</TA003><TxNo>1</TxNo><TableNo>" + TableNo +
                      "</TableNo><DeliveryType>Eat in</DeliveryType></header><Detail>";
    for (const char* Item : Items)
        Xml += std::string("<item><PluName>") + Item +
               "</PluName><SaleQty>2</SaleQty><DoItemOK>N</DoItemOK></item>";
    return Xml + "</Detail></Order>\n";
}

// A main window whose program directory is a fresh temporary folder, with the
// operator's message boxes recorded instead of shown.
class TForm1Test : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TForm1>(Dir.Path());
        Form->show();
        QApplication::processEvents();
    }

    static QStringList Column(TPOSDBGrid& Grid, int Col) {
        QStringList Values;
        for (int R = 0; R < Grid.model()->rowCount(); ++R)
            Values << Grid.model()->data(Grid.model()->index(R, Col)).toString();
        return Values;
    }

    test::TTempDir Dir;
    test::TRecordingDialogs Dialogs;
    std::unique_ptr<TForm1> Form;
};

TEST_F(TForm1Test, HasTheDesignedLayoutAndCaptions) {
    EXPECT_EQ(Form->windowTitle(), "Form1");
    EXPECT_EQ(Form->objectName(), "Form1");
    EXPECT_EQ(Form->size(), QSize(638, 432));

    EXPECT_EQ(Form->cb1->geometry(), QRect(0, 0, 80, 432));
    EXPECT_EQ(Form->cb1->ButtonCount(), 3);
    EXPECT_EQ(Form->cb1->ButtonHeight(), 50);
    EXPECT_EQ(Form->cb1->ButtonRect(1).height(), 50);
    EXPECT_GE(Form->cb1->ButtonRect(0).width(), 76); // full width
    EXPECT_EQ(Form->cb1->CategoryColor(), 0x00FFEAFFu);
    EXPECT_EQ(Form->cb1->RegularButtonColor(), 0x0073A0FFu);
    EXPECT_EQ(Form->cb1->SelectedButtonColor(), 0x000080FFu);
    EXPECT_EQ(Form->Action1->text(), "Action1");
    EXPECT_EQ(Form->Action2->text(), "Action2");
    EXPECT_EQ(Form->Action3->text(), "Action3");

    EXPECT_EQ(Form->CategoryPanelGroup1->geometry(), QRect(80, 0, 558, 432));
    ASSERT_EQ(Form->CategoryPanelGroup1->PanelCount(), 2);
    EXPECT_EQ(Form->CategoryPanelGroup1->Panel(0), Form->CategoryPanel1);
    EXPECT_EQ(Form->CategoryPanel1->Caption(), "CategoryPanel1");
    EXPECT_EQ(Form->CategoryPanel2->Caption(), "CategoryPanel2");
    EXPECT_EQ(Form->CategoryPanel1->geometry().top(), 0);
    EXPECT_EQ(Form->CategoryPanel1->height(), 185);
    EXPECT_EQ(Form->CategoryPanel2->geometry().top(), 185);
    EXPECT_EQ(Form->CategoryPanel2->height(), 242);
    EXPECT_EQ(Form->gridTA->parentWidget(), Form->CategoryPanel1);
    EXPECT_EQ(Form->gridTB->parentWidget(), Form->CategoryPanel2);
    EXPECT_EQ(Form->gridTA->DataSource(), &Form->OrderBook().TAs());
    EXPECT_EQ(Form->gridTB->DataSource(), &Form->OrderBook().TBs());

    const QFontInfo Font(Form->font());
    EXPECT_TRUE(Font.family() == "Tahoma" || Font.styleHint() == QFont::SansSerif ||
                Font.family().contains("Sans"))
        << Font.family().toStdString();
    EXPECT_EQ(Form->font().pointSize(), 8);
}

TEST_F(TForm1Test, StartsWithBothGridsEmptyUnderTheirFieldTitles) {
    EXPECT_EQ(Form->gridTA->model()->rowCount(), 0);
    EXPECT_EQ(Form->gridTB->model()->rowCount(), 0);
    QStringList TA, TB;
    for (int C = 0; C < Form->gridTA->model()->columnCount(); ++C)
        TA << Form->gridTA->model()->headerData(C, Qt::Horizontal).toString();
    for (int C = 0; C < Form->gridTB->model()->columnCount(); ++C)
        TB << Form->gridTB->model()->headerData(C, Qt::Horizontal).toString();
    EXPECT_EQ(TA, (QStringList{"TA001", "TA002", "TA003", "TA006", "TableNo", "DeliveryType"}));
    EXPECT_EQ(TB,
              (QStringList{"TB001", "TB002", "TB003", "TB006", "PluName", "SaleQty", "DoItemOK"}));
    EXPECT_EQ(Form->OrderBook().TB().MasterFields(), "");
}

TEST_F(TForm1Test, CollapsesAndExpandsAPanelFromItsHeader) {
    TCategoryPanel* Panel = Form->CategoryPanel1;
    QTest::mouseClick(Panel, Qt::LeftButton, Qt::NoModifier, Panel->HeaderRect().center());
    QApplication::processEvents();
    EXPECT_TRUE(Panel->Collapsed());
    EXPECT_EQ(Panel->height(), Panel->HeaderHeight());
    EXPECT_FALSE(Form->gridTA->isVisible());
    EXPECT_EQ(Form->CategoryPanel2->geometry().top(), Panel->HeaderHeight());
    QTest::mouseClick(Panel, Qt::LeftButton, Qt::NoModifier, Panel->HeaderRect().center());
    QApplication::processEvents();
    EXPECT_FALSE(Panel->Collapsed());
    EXPECT_EQ(Panel->height(), 185);
    EXPECT_TRUE(Form->gridTA->isVisible());
}

TEST_F(TForm1Test, Action1TakesTheOrderFilesInAndLinksTheLinesToTheCurrentHeader) {
    const fs::path Before = Dir.Path() / "KDS" / "Before";
    Dir.WriteFile("KDS/Before/one.xml", OrderXml("H1", "T1", {"Tea", "Cake", "Soup"}));
    Dir.WriteFile("KDS/Before/two.xml", OrderXml("H2", "T2", {"Rice"}));
    fs::create_directories(Dir.Path() / "KDS" / "AFTER");

    Form->Action1->trigger();
    QApplication::processEvents();

    EXPECT_TRUE(Dialogs.Errors.isEmpty()) << Dialogs.Errors.join("; ").toStdString();
    EXPECT_TRUE(fs::exists(Dir.Path() / "KDS" / "AFTER" / "one.xml"));
    EXPECT_TRUE(fs::exists(Dir.Path() / "KDS" / "AFTER" / "two.xml"));
    EXPECT_FALSE(fs::exists(Before / "one.xml"));

    TPOSDBGrid& TA = *Form->gridTA;
    TPOSDBGrid& TB = *Form->gridTB;
    ASSERT_EQ(TA.model()->rowCount(), 2);
    QStringList Keys = Column(TA, 0);
    Keys.sort();
    EXPECT_EQ(Keys, (QStringList{"H1", "H2"}));

    // The grid follows the current header, and the lines grid shows only its
    // lines.
    const int Current = TA.currentIndex().row();
    ASSERT_GE(Current, 0);
    const QString CurrentKey = TA.model()->data(TA.model()->index(Current, 0)).toString();
    const QStringList Expected =
        CurrentKey == "H1" ? QStringList{"H1", "H1", "H1"} : QStringList{"H2"};
    EXPECT_EQ(Column(TB, 0), Expected);

    // Selecting the other header in gridTA shows its lines instead.
    const int Other = 1 - Current;
    TA.setCurrentIndex(TA.model()->index(Other, 1));
    QApplication::processEvents();
    const QString OtherKey = TA.model()->data(TA.model()->index(Other, 0)).toString();
    QStringList Lines = Column(TB, 4);
    Lines.sort();
    EXPECT_EQ(Lines, OtherKey == "H1" ? (QStringList{"Cake", "Soup", "Tea"}) : QStringList{"Rice"});
    for (const QString& Key : Column(TB, 0))
        EXPECT_EQ(Key, OtherKey);
}

TEST_F(TForm1Test, Action1WithNothingWaitingChangesNothing) {
    Form->Action1->trigger();
    QApplication::processEvents();
    EXPECT_EQ(Form->gridTA->model()->rowCount(), 0);
    EXPECT_TRUE(Dialogs.Errors.isEmpty());
}

TEST_F(TForm1Test, Action3DoesNothingHoweverOftenItIsInvoked) {
    Dir.WriteFile("KDS/Before/one.xml", OrderXml("H1", "T1", {"Tea"}));
    fs::create_directories(Dir.Path() / "KDS" / "AFTER");
    for (int I = 0; I < 3; ++I)
        Form->Action3->trigger();
    QTest::mouseClick(Form->cb1, Qt::LeftButton, Qt::NoModifier, Form->cb1->ButtonRect(2).center());
    QApplication::processEvents();
    EXPECT_EQ(Form->gridTA->model()->rowCount(), 0);
    EXPECT_EQ(Form->gridTB->model()->rowCount(), 0);
    EXPECT_TRUE(fs::exists(Dir.Path() / "KDS" / "Before" / "one.xml"));
    EXPECT_TRUE(Dialogs.Errors.isEmpty());
}

TEST_F(TForm1Test, ShowsAnErrorThatEscapesACommandAndGoesOn) {
    Form->RunCommand([] { throw std::runtime_error("Dataset not in edit or insert mode"); });
    EXPECT_EQ(Dialogs.Errors, QStringList{"Dataset not in edit or insert mode"});
    bool Ran = false;
    Form->RunCommand([&] { Ran = true; });
    EXPECT_TRUE(Ran);
    EXPECT_EQ(Dialogs.Errors.size(), 1);
}

TEST_F(TForm1Test, TheCommandStripButtonsTriggerTheirActions) {
    Dir.WriteFile("KDS/Before/one.xml", OrderXml("H1", "T1", {"Tea"}));
    fs::create_directories(Dir.Path() / "KDS" / "AFTER");
    QTest::mouseClick(Form->cb1, Qt::LeftButton, Qt::NoModifier, Form->cb1->ButtonRect(0).center());
    QApplication::processEvents();
    EXPECT_EQ(Form->gridTA->model()->rowCount(), 1);
    EXPECT_EQ(Form->cb1->SelectedIndex(), 0);
}

TEST_F(TForm1Test, PaintsTheCommandStripInItsColours) {
    QTest::mouseClick(Form->cb1, Qt::LeftButton, Qt::NoModifier, Form->cb1->ButtonRect(1).center());
    QApplication::processEvents();
    const QImage Img = Form->grab().toImage();
    const int X = Form->cb1->ButtonRect(0).right() - 2; // away from the caption
    const auto Near = [](const QColor& A, const QColor& B) {
        return std::abs(A.red() - B.red()) <= 3 && std::abs(A.green() - B.green()) <= 3 &&
               std::abs(A.blue() - B.blue()) <= 3;
    };
    const QColor Regular(255, 160, 115);
    const QColor Selected(255, 128, 0);
    const QColor Category(255, 234, 255);
    EXPECT_TRUE(Near(Img.pixelColor(X, Form->cb1->ButtonRect(0).top()), Regular));
    EXPECT_TRUE(Near(Img.pixelColor(X, Form->cb1->ButtonRect(1).top()), Selected));
    EXPECT_TRUE(Near(Img.pixelColor(X, Form->cb1->ButtonRect(2).top()), Regular));
    // The gradient pales towards the bottom of a button.
    EXPECT_FALSE(Near(Img.pixelColor(X, Form->cb1->ButtonRect(0).bottom()), Regular));
    EXPECT_TRUE(Near(Img.pixelColor(0, Form->cb1->ButtonRect(0).center().y()), Category));
    EXPECT_TRUE(Near(Img.pixelColor(X, Form->cb1->ButtonRect(2).bottom() + 1), Category));
}

// Where the window opens: at its designed place when that is wholly on the
// screen, else moved just enough to be seen whole.
struct TPlacementCase {
    const char* Name;
    QRect Available;
    QPoint Expected;
};
void PrintTo(const TPlacementCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class MendedPositionTest : public ::testing::TestWithParam<TPlacementCase> {};

TEST_P(MendedPositionTest, KeepsTheWindowWhollyOnTheScreen) {
    EXPECT_EQ(TForm1::MendedPosition(QPoint(1019, 332), QSize(646, 460), GetParam().Available),
              GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Screens, MendedPositionTest,
    ::testing::Values(
        TPlacementCase{"WideScreen", QRect(0, 0, 1920, 1080), QPoint(1019, 332)},
        TPlacementCase{"ExactFit", QRect(0, 0, 1665, 792), QPoint(1019, 332)},
        TPlacementCase{"Narrow", QRect(0, 0, 1280, 1024), QPoint(634, 332)},
        TPlacementCase{"Short", QRect(0, 0, 1920, 700), QPoint(1019, 240)},
        TPlacementCase{"Small", QRect(0, 0, 1024, 768), QPoint(378, 308)},
        TPlacementCase{"TooSmall", QRect(0, 0, 600, 400), QPoint(0, 0)},
        TPlacementCase{"PanelOnTheLeft", QRect(1100, 400, 1000, 1000), QPoint(1100, 400)},
        TPlacementCase{"SecondScreen", QRect(-1280, 0, 1280, 1024), QPoint(-646, 332)}),
    test::TCaseName{});

TEST(TForm1PlacementTest, OpensWhollyInsideTheAvailableScreenArea) {
    test::TTempDir Dir;
    TForm1 Form(Dir.Path());
    Form.show();
    QApplication::processEvents();
    const QRect Available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(Available.contains(Form.frameGeometry()))
        << Form.frameGeometry().x() << "," << Form.frameGeometry().y();
}

} // namespace
} // namespace kds
