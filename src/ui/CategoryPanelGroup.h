#pragma once

#include <QScrollArea>

namespace kds {

class TCategoryPanel;

// A column of collapsible panels stacked from the top, scrolled vertically
// when they are taller than the group. The vertical scroll bar tracks while
// dragged. Panels are owned through Qt parenting. Window thread only.
class TCategoryPanelGroup : public QScrollArea {
    Q_OBJECT
public:
    explicit TCategoryPanelGroup(QWidget* Parent = nullptr);

    // Appends Panel below the existing ones; the group takes it (Qt parent).
    void AddPanel(TCategoryPanel* Panel);
    int PanelCount() const;
    TCategoryPanel* Panel(int Index) const;

private:
    QWidget* FStack; // owned by the scroll area
};

} // namespace kds
