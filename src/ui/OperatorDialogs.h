#pragma once

#include <QString>

class QWidget;

namespace kds {

// The message boxes the window and the grids show the operator: an error's
// text, and a yes/no confirmation. The default shows modal message boxes;
// tests install a recorder so nothing blocks. Window thread only.
class TOperatorDialogs {
public:
    virtual ~TOperatorDialogs() = default;
    virtual void ShowError(QWidget* Parent, const QString& Text);
    // True when the operator answers yes.
    virtual bool Confirm(QWidget* Parent, const QString& Text);

    // The dialogs in use. SetCurrent does not take ownership; nullptr puts the
    // message boxes back.
    static TOperatorDialogs& Current();
    static void SetCurrent(TOperatorDialogs* Dialogs);
};

} // namespace kds
