#pragma once

#include <QStringList>

#include "ui/OperatorDialogs.h"

namespace kds::test {

// Records what would have been shown to the operator and answers
// confirmations with a fixed answer; installed for its lifetime.
class TRecordingDialogs : public TOperatorDialogs {
public:
    explicit TRecordingDialogs(bool Answer = true) : FAnswer(Answer) {
        TOperatorDialogs::SetCurrent(this);
    }
    ~TRecordingDialogs() override { TOperatorDialogs::SetCurrent(nullptr); }

    void ShowError(QWidget*, const QString& Text) override { Errors << Text; }
    bool Confirm(QWidget*, const QString& Text) override {
        Questions << Text;
        return FAnswer;
    }

    QStringList Errors;
    QStringList Questions;

private:
    bool FAnswer;
};

} // namespace kds::test
