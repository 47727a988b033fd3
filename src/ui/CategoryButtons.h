#pragma once

#include <QWidget>
#include <vector>

#include "ui/SorvColor.h"

class QAction;

namespace kds {

// The vertical command-button strip: one category (a coloured band) holding
// full-width buttons stacked from the top, each bound to an action. Clicking a
// button makes it the selected button and triggers its action; its caption
// follows the action's text. The actions are not owned (their owner must
// outlive the strip or remove nothing: the strip keeps plain pointers).
// Window thread only.
class TCategoryButtons : public QWidget {
    Q_OBJECT
public:
    explicit TCategoryButtons(QWidget* Parent = nullptr);

    void AddButton(QAction* Action);
    int ButtonCount() const { return int(FButtons.size()); }
    // The rectangle a button occupies, in widget coordinates.
    QRect ButtonRect(int Index) const;
    // -1 until a button has been clicked.
    int SelectedIndex() const { return FSelected; }

    int ButtonHeight() const { return FButtonHeight; }
    void SetButtonHeight(int Height);
    TColor CategoryColor() const { return FCategoryColor; }
    void SetCategoryColor(TColor Color);
    TColor RegularButtonColor() const { return FRegularButtonColor; }
    void SetRegularButtonColor(TColor Color);
    TColor SelectedButtonColor() const { return FSelectedButtonColor; }
    void SetSelectedButtonColor(TColor Color);
    bool GradientFill() const { return FGradientFill; }
    void SetGradientFill(bool On);
    bool ShowCaptions() const { return FShowCaptions; }
    void SetShowCaptions(bool On);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void leaveEvent(QEvent* Event) override;

private:
    int ButtonAt(const QPoint& Pos) const;
    QRect CategoryRect() const;

    std::vector<QAction*> FButtons;
    int FButtonHeight = 50;
    TColor FCategoryColor = clBtnFace;
    TColor FRegularButtonColor = clBtnFace;
    TColor FSelectedButtonColor = clHighlight;
    bool FGradientFill = true;
    bool FShowCaptions = true;
    int FSelected = -1;
    int FHot = -1;
    int FPressed = -1;
};

} // namespace kds
