#include "ui/CategoryPanel.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "ui/SorvColor.h"

namespace kds {

TCategoryPanel::TCategoryPanel(const QString& Caption, int ExpandedHeight, QWidget* Parent)
    : QWidget(Parent), FCaption(Caption), FExpandedHeight(ExpandedHeight) {
    setObjectName(Caption);
    setFocusPolicy(Qt::TabFocus);
    FLayout = new QVBoxLayout(this);
    FLayout->setContentsMargins(0, FHeaderHeight, 0, 0);
    FLayout->setSpacing(0);
    setFixedHeight(FExpandedHeight);
}

void TCategoryPanel::SetContent(QWidget* Content) {
    if (FContent)
        delete FContent;
    FContent = Content;
    if (FContent) {
        FLayout->addWidget(FContent);
        FContent->setVisible(!FCollapsed);
    }
}

QRect TCategoryPanel::HeaderRect() const {
    return QRect(0, 0, width(), FHeaderHeight);
}

void TCategoryPanel::SetCollapsed(bool Collapsed) {
    if (Collapsed == FCollapsed)
        return;
    FCollapsed = Collapsed;
    if (FContent)
        FContent->setVisible(!FCollapsed);
    setFixedHeight(FCollapsed ? FHeaderHeight : FExpandedHeight);
    update();
    emit CollapsedChanged(FCollapsed);
}

void TCategoryPanel::paintEvent(QPaintEvent*) {
    QPainter P(this);
    const QPalette& Pal = palette();
    const QRect H = HeaderRect();
    const QColor Face = ColorToQColor(clBtnFace, Pal);
    P.fillRect(rect(), Face);
    P.fillRect(H, Face.darker(108));
    P.setPen(Face.darker(140));
    P.drawLine(H.bottomLeft(), H.bottomRight());

    // The chevron points up while the panel is open (click to close) and down
    // while it is closed.
    const int Cx = H.right() - 14;
    const int Cy = H.center().y();
    QPainterPath Chevron;
    if (FCollapsed) {
        Chevron.moveTo(Cx - 4, Cy - 2);
        Chevron.lineTo(Cx, Cy + 2);
        Chevron.lineTo(Cx + 4, Cy - 2);
    } else {
        Chevron.moveTo(Cx - 4, Cy + 2);
        Chevron.lineTo(Cx, Cy - 2);
        Chevron.lineTo(Cx + 4, Cy + 2);
    }
    P.setRenderHint(QPainter::Antialiasing);
    P.setPen(QPen(ColorToQColor(clWindowText, Pal), 1.5));
    P.drawPath(Chevron);
    P.setRenderHint(QPainter::Antialiasing, false);

    P.setPen(ColorToQColor(clWindowText, Pal));
    P.setFont(font());
    P.drawText(H.adjusted(6, 0, -28, 0), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
               FCaption);
    if (hasFocus()) {
        P.setPen(QPen(ColorToQColor(clWindowText, Pal), 1, Qt::DotLine));
        P.drawRect(H.adjusted(2, 2, -3, -3));
    }
}

void TCategoryPanel::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() == Qt::LeftButton && HeaderRect().contains(Event->position().toPoint())) {
        SetCollapsed(!FCollapsed);
        return;
    }
    QWidget::mousePressEvent(Event);
}

void TCategoryPanel::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Space || Event->key() == Qt::Key_Return ||
        Event->key() == Qt::Key_Enter) {
        SetCollapsed(!FCollapsed);
        return;
    }
    QWidget::keyPressEvent(Event);
}

} // namespace kds
