#include "ui/KDSSV.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScreen>
#include <exception>
#include <utility>

#include "app/OrderBook.h"
#include "app/OrderIntake.h"
#include "app/ProgramFiles.h"
#include "server/KDSServerContainerUnit.h"
#include "ui/CategoryButtons.h"
#include "ui/CategoryPanel.h"
#include "ui/CategoryPanelGroup.h"
#include "ui/OperatorDialogs.h"
#include "ui/POSDBGrid.h"

namespace kds {

namespace {

// Tahoma 8 pt where the machine has it, else the nearest sans-serif face.
QFont WindowFont() {
    QFont F(QStringLiteral("Tahoma"));
    F.setPointSize(8);
    F.setStyleHint(QFont::SansSerif);
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive))
        F.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                       QStringLiteral("Liberation Sans"), QStringLiteral("sans-serif")});
    return F;
}

void ConfigureGrid(TPOSDBGrid& Grid, const QFont& Font) {
    Grid.SetFixedColor(clBtnFace);
    Grid.SetTitleFont(TGridFont{Font, clWindowText});
    Grid.SetKeyFields(std::string());
    Grid.SetColor_Row_Odd(0x00ECFFFB);
    Grid.SetColor_Row_Even(0x00E7F9CE);
    Grid.SetColor_Fixed(clBtnFace);
    Grid.SetColor_Key(clBtnFace);
    Grid.SetColor_Selected(clHighlight);
    Grid.SetColor_Title(clBtnFace);
}

} // namespace

TForm1::TForm1(QWidget* Parent, TDSServer* Server) : TForm1(ProgramDirectory(), Parent, Server) {}

TForm1::TForm1(std::filesystem::path ProgramDir, QWidget* Parent, TDSServer* Server)
    : QWidget(Parent), FProgramDir(std::move(ProgramDir)), FServer(Server),
      FOrderBook(std::make_unique<TOrderBook>()),
      FIntake(std::make_unique<TOrderIntake>(*FOrderBook)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    const QFont Font = WindowFont();
    setFont(Font);
    QPalette Pal = palette();
    Pal.setColor(QPalette::Window, ColorToQColor(clBtnFace, Pal));
    setPalette(Pal);
    setAutoFillBackground(true);

    // The action container and its three commands. Action3 has no handler.
    ActionManager = new QObject(this);
    ActionManager->setObjectName(QStringLiteral("ActionManager"));
    Action1 = new QAction(QStringLiteral("Action1"), ActionManager);
    Action1->setObjectName(QStringLiteral("Action1"));
    Action2 = new QAction(QStringLiteral("Action2"), ActionManager);
    Action2->setObjectName(QStringLiteral("Action2"));
    Action3 = new QAction(QStringLiteral("Action3"), ActionManager);
    Action3->setObjectName(QStringLiteral("Action3"));
    connect(Action1, &QAction::triggered, this,
            [this] { RunCommand([this] { Action1Execute(); }); });
    connect(Action2, &QAction::triggered, this,
            [this] { RunCommand([this] { Action2Execute(); }); });

    auto* Layout = new QHBoxLayout(this);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);

    // The command strip takes what the panel group leaves on the left.
    cb1 = new TCategoryButtons(this);
    cb1->setObjectName(QStringLiteral("cb1"));
    cb1->SetButtonHeight(50);
    cb1->SetCategoryColor(0x00FFEAFF);
    cb1->SetRegularButtonColor(0x0073A0FF);
    cb1->SetSelectedButtonColor(0x000080FF);
    cb1->SetGradientFill(true);
    cb1->SetShowCaptions(true);
    cb1->AddButton(Action1);
    cb1->AddButton(Action2);
    cb1->AddButton(Action3);
    Layout->addWidget(cb1, 1);

    CategoryPanelGroup1 = new TCategoryPanelGroup(this);
    CategoryPanelGroup1->setObjectName(QStringLiteral("CategoryPanelGroup1"));
    CategoryPanelGroup1->setFixedWidth(558);
    Layout->addWidget(CategoryPanelGroup1, 0);

    CategoryPanel1 = new TCategoryPanel(QStringLiteral("CategoryPanel1"), 185);
    CategoryPanel2 = new TCategoryPanel(QStringLiteral("CategoryPanel2"), 242);
    CategoryPanelGroup1->AddPanel(CategoryPanel1);
    CategoryPanelGroup1->AddPanel(CategoryPanel2);

    gridTA = new TPOSDBGrid(CategoryPanel1);
    gridTA->setObjectName(QStringLiteral("gridTA"));
    gridTB = new TPOSDBGrid(CategoryPanel2);
    gridTB->setObjectName(QStringLiteral("gridTB"));
    ConfigureGrid(*gridTA, Font);
    ConfigureGrid(*gridTB, Font);
    CategoryPanel1->SetContent(gridTA);
    CategoryPanel2->SetContent(gridTB);
    gridTA->SetDataSource(&FOrderBook->TAs());
    gridTB->SetDataSource(&FOrderBook->TBs());

    resize(DesignedClientWidth, DesignedClientHeight);
    move(DesignedLeft, DesignedTop);

    try {
        FormCreate();
    } catch (...) {
        // The destructor does not run for a window that failed to be made:
        // the grids must still go before the order book does.
        delete CategoryPanelGroup1;
        CategoryPanelGroup1 = nullptr;
        throw;
    }
}

TForm1::~TForm1() {
    // The grids go before the order book they show.
    delete CategoryPanelGroup1;
    CategoryPanelGroup1 = nullptr;
}

void TForm1::RunCommand(const std::function<void()>& Handler) {
    try {
        Handler();
    } catch (const std::exception& E) {
        TOperatorDialogs::Current().ShowError(this, QString::fromUtf8(E.what()));
    } catch (...) {
        TOperatorDialogs::Current().ShowError(this, QStringLiteral("Unknown error"));
    }
}

void TForm1::FormCreate() {
    FOrderBook->Create();
}

void TForm1::Action1Execute() {
    FIntake->Execute(FProgramDir);
}

void TForm1::Action2Execute() {
    if (FServer != nullptr)
        BroadcastReset(*FServer);
}

QPoint TForm1::MendedPosition(const QPoint& Designed, const QSize& FrameSize,
                              const QRect& Available) {
    int X = Designed.x();
    int Y = Designed.y();
    if (X + FrameSize.width() > Available.x() + Available.width())
        X = Available.x() + Available.width() - FrameSize.width();
    if (X < Available.x())
        X = Available.x();
    if (Y + FrameSize.height() > Available.y() + Available.height())
        Y = Available.y() + Available.height() - FrameSize.height();
    if (Y < Available.y())
        Y = Available.y();
    return QPoint(X, Y);
}

void TForm1::MendPosition() {
    QScreen* Screen = QGuiApplication::screenAt(QPoint(DesignedLeft, DesignedTop));
    if (!Screen)
        Screen = QGuiApplication::primaryScreen();
    if (!Screen)
        return;
    const QRect Frame = frameGeometry();
    const QPoint Target =
        MendedPosition(Frame.topLeft(), Frame.size(), Screen->availableGeometry());
    if (Target != Frame.topLeft())
        move(Target);
}

void TForm1::showEvent(QShowEvent* Event) {
    QWidget::showEvent(Event);
    if (!FPositionMended) {
        FPositionMended = true;
        MendPosition();
    }
}

} // namespace kds
