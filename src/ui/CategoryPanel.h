#pragma once

#include <QWidget>

class QVBoxLayout;

namespace kds {

// One collapsible panel of a TCategoryPanelGroup: a header bar with the
// caption and a chevron, and below it the panel's content, which fills the
// rest of the panel. Clicking the header (or Space/Enter on it) collapses the
// panel to its header or expands it back to its designed height. The content
// widget is owned through Qt parenting. Window thread only.
class TCategoryPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCategoryPanel(const QString& Caption, int ExpandedHeight, QWidget* Parent = nullptr);

    QString Caption() const { return FCaption; }
    // Takes Content as the panel's only child content (Qt parent: the panel).
    void SetContent(QWidget* Content);
    QWidget* Content() const { return FContent; }

    bool Collapsed() const { return FCollapsed; }
    void SetCollapsed(bool Collapsed);
    int ExpandedHeight() const { return FExpandedHeight; }
    int HeaderHeight() const { return FHeaderHeight; }
    QRect HeaderRect() const;

signals:
    void CollapsedChanged(bool Collapsed);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;

private:
    QString FCaption;
    int FExpandedHeight;
    int FHeaderHeight = 24;
    bool FCollapsed = false;
    QWidget* FContent = nullptr;    // owned by Qt parenting
    QVBoxLayout* FLayout = nullptr; // owned by Qt parenting
};

} // namespace kds
