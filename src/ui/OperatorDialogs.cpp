#include "ui/OperatorDialogs.h"

#include <QMessageBox>

namespace kds {

namespace {
TOperatorDialogs* GCurrent = nullptr;
} // namespace

void TOperatorDialogs::ShowError(QWidget* Parent, const QString& Text) {
    QMessageBox::critical(Parent, QString(), Text);
}

bool TOperatorDialogs::Confirm(QWidget* Parent, const QString& Text) {
    return QMessageBox::question(Parent, QString(), Text, QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

TOperatorDialogs& TOperatorDialogs::Current() {
    static TOperatorDialogs Default;
    return GCurrent ? *GCurrent : Default;
}

void TOperatorDialogs::SetCurrent(TOperatorDialogs* Dialogs) {
    GCurrent = Dialogs;
}

} // namespace kds
