#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

class QAction;

namespace kds {

class TCategoryButtons;
class TCategoryPanelGroup;
class TCategoryPanel;
class TPOSDBGrid;
class TOrderBook;
class TOrderIntake;
class TDSServer;

// The operator's main window (Form1): the command strip cb1 on the left with
// the buttons of Action1..Action3, and on the right two collapsible panels
// holding gridTA (order headers) over gridTB (the lines of the selected
// header). Owns the order book (TA, TB and their data sources) for its whole
// life; the widgets and actions are owned through Qt parenting and destroyed
// before the order book. Window thread only. The constructor runs FormCreate
// and raises what it raises (the dataset engine's errors); the default one
// also raises std::runtime_error when the program's folder cannot be found.
class TForm1 : public QWidget {
    Q_OBJECT
public:
    // ProgramDir is the folder the intake works under (KDS/Before, KDS/AFTER);
    // the default is the folder of the running program. Server: the server
    // Action2 broadcasts on (not owned; it outlives the window); without one
    // Action2 does nothing.
    explicit TForm1(QWidget* Parent = nullptr, TDSServer* Server = nullptr);
    explicit TForm1(std::filesystem::path ProgramDir, QWidget* Parent = nullptr,
                    TDSServer* Server = nullptr);
    ~TForm1() override;

    // The window's creation hook: creates TA, then TB, empty and open.
    void FormCreate();
    // Takes in the order files waiting in KDS/Before under the program
    // directory.
    void Action1Execute();
    // The reset broadcast to the kitchen terminals: queued for each
    // subscribed terminal, never waiting for delivery; the answer is ignored.
    void Action2Execute();

    // Where a window of FrameSize whose designed top-left is Designed must go
    // to lie wholly inside Available: moved just enough, never further. A
    // window larger than Available keeps its top-left corner inside it.
    static QPoint MendedPosition(const QPoint& Designed, const QSize& FrameSize,
                                 const QRect& Available);

    static constexpr int DesignedLeft = 1019;
    static constexpr int DesignedTop = 332;
    static constexpr int DesignedClientWidth = 638;
    static constexpr int DesignedClientHeight = 432;

    TCategoryButtons* cb1 = nullptr;
    TCategoryPanelGroup* CategoryPanelGroup1 = nullptr;
    TCategoryPanel* CategoryPanel1 = nullptr;
    TCategoryPanel* CategoryPanel2 = nullptr;
    TPOSDBGrid* gridTA = nullptr;
    TPOSDBGrid* gridTB = nullptr;
    QObject* ActionManager = nullptr;
    QAction* Action1 = nullptr;
    QAction* Action2 = nullptr;
    QAction* Action3 = nullptr;

    TOrderBook& OrderBook() { return *FOrderBook; }
    const std::filesystem::path& ProgramDir() const { return FProgramDir; }

    // Runs a command's handler; an error that escapes it is shown to the
    // operator in a message box and the event loop goes on.
    void RunCommand(const std::function<void()>& Handler);

protected:
    void showEvent(QShowEvent* Event) override;

private:
    void MendPosition();

    std::filesystem::path FProgramDir;
    TDSServer* FServer = nullptr; // not owned
    std::unique_ptr<TOrderBook> FOrderBook;
    // Kept for the window's life: it remembers files whose move failed, so a
    // later intake retries the move instead of taking the order in again.
    std::unique_ptr<TOrderIntake> FIntake;
    bool FPositionMended = false;
};

} // namespace kds
