#include "ui/CategoryButtons.h"

#include <QAction>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace kds {

namespace {
// Space between the category's edge and its buttons, in pixels.
constexpr int CategoryPadding = 1;
} // namespace

TCategoryButtons::TCategoryButtons(QWidget* Parent) : QWidget(Parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCategoryButtons::AddButton(QAction* Action) {
    FButtons.push_back(Action);
    connect(Action, &QAction::changed, this, qOverload<>(&QWidget::update));
    updateGeometry();
    update();
}

void TCategoryButtons::SetButtonHeight(int Height) {
    FButtonHeight = Height;
    updateGeometry();
    update();
}
void TCategoryButtons::SetCategoryColor(TColor Color) {
    FCategoryColor = Color;
    update();
}
void TCategoryButtons::SetRegularButtonColor(TColor Color) {
    FRegularButtonColor = Color;
    update();
}
void TCategoryButtons::SetSelectedButtonColor(TColor Color) {
    FSelectedButtonColor = Color;
    update();
}
void TCategoryButtons::SetGradientFill(bool On) {
    FGradientFill = On;
    update();
}
void TCategoryButtons::SetShowCaptions(bool On) {
    FShowCaptions = On;
    update();
}

QRect TCategoryButtons::CategoryRect() const {
    return QRect(0, 0, width(), ButtonCount() * FButtonHeight + 2 * CategoryPadding);
}

QRect TCategoryButtons::ButtonRect(int Index) const {
    return QRect(CategoryPadding, CategoryPadding + Index * FButtonHeight,
                 width() - 2 * CategoryPadding, FButtonHeight);
}

int TCategoryButtons::ButtonAt(const QPoint& Pos) const {
    for (int I = 0; I < ButtonCount(); ++I)
        if (ButtonRect(I).contains(Pos))
            return I;
    return -1;
}

QSize TCategoryButtons::sizeHint() const {
    return QSize(80, CategoryRect().height());
}

void TCategoryButtons::paintEvent(QPaintEvent*) {
    QPainter P(this);
    const QPalette& Pal = palette();
    P.fillRect(rect(), ColorToQColor(clWindow, Pal));
    P.fillRect(CategoryRect(), ColorToQColor(FCategoryColor, Pal));

    for (int I = 0; I < ButtonCount(); ++I) {
        const QRect R = ButtonRect(I);
        const bool Selected = I == FSelected || I == FPressed;
        const QColor Face =
            ColorToQColor(Selected ? FSelectedButtonColor : FRegularButtonColor, Pal);
        if (FGradientFill) {
            // From the button's colour at the top to a paler shade of it at
            // the bottom.
            QLinearGradient G(R.topLeft(), R.bottomLeft());
            G.setColorAt(0.0, Face);
            G.setColorAt(1.0, QColor((Face.red() + 255 * 2) / 3, (Face.green() + 255 * 2) / 3,
                                     (Face.blue() + 255 * 2) / 3));
            P.fillRect(R, G);
        } else {
            P.fillRect(R, Face);
        }
        if (I == FHot) {
            P.setPen(ColorToQColor(clWindowText, Pal));
            P.drawRect(R.adjusted(0, 0, -1, -1));
        }
        if (FShowCaptions && FButtons[size_t(I)]) {
            P.setPen(ColorToQColor(clWindowText, Pal));
            P.setFont(font());
            P.drawText(R.adjusted(4, 0, -4, 0), Qt::AlignCenter | Qt::TextSingleLine,
                       FButtons[size_t(I)]->text().remove(QLatin1Char('&')));
        }
    }
}

void TCategoryButtons::mousePressEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(Event);
    FPressed = ButtonAt(Event->position().toPoint());
    update();
}

void TCategoryButtons::mouseReleaseEvent(QMouseEvent* Event) {
    if (Event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(Event);
    const int Released = ButtonAt(Event->position().toPoint());
    const int Pressed = FPressed;
    FPressed = -1;
    if (Released >= 0 && Released == Pressed) {
        FSelected = Released;
        update();
        if (QAction* A = FButtons[size_t(Released)]; A && A->isEnabled())
            A->trigger();
    } else {
        update();
    }
}

void TCategoryButtons::mouseMoveEvent(QMouseEvent* Event) {
    const int Hot = ButtonAt(Event->position().toPoint());
    if (Hot != FHot) {
        FHot = Hot;
        update();
    }
    QWidget::mouseMoveEvent(Event);
}

void TCategoryButtons::leaveEvent(QEvent* Event) {
    FHot = -1;
    update();
    QWidget::leaveEvent(Event);
}

} // namespace kds
