#include "ui/CategoryPanelGroup.h"

#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/CategoryPanel.h"

namespace kds {

TCategoryPanelGroup::TCategoryPanelGroup(QWidget* Parent) : QScrollArea(Parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setTracking(true);
    setWidgetResizable(true);
    FStack = new QWidget;
    auto* Layout = new QVBoxLayout(FStack);
    Layout->setContentsMargins(0, 0, 0, 0);
    Layout->setSpacing(0);
    Layout->addStretch(1);
    setWidget(FStack);
}

void TCategoryPanelGroup::AddPanel(TCategoryPanel* Panel) {
    auto* Layout = static_cast<QVBoxLayout*>(FStack->layout());
    // Keep the stretch last so the panels stay at the top.
    Layout->insertWidget(Layout->count() - 1, Panel);
}

int TCategoryPanelGroup::PanelCount() const {
    return FStack->layout()->count() - 1;
}

TCategoryPanel* TCategoryPanelGroup::Panel(int Index) const {
    if (Index < 0 || Index >= PanelCount())
        return nullptr;
    return qobject_cast<TCategoryPanel*>(FStack->layout()->itemAt(Index)->widget());
}

} // namespace kds
