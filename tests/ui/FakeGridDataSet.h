#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "ui/GridDataSet.h"

namespace kds::test {

// A dataset held in vectors: stored rows plus at most one row being
// appended at the end, a current row, and the float assignment error of the
// order book's engine. Sends each change to its observer as the real one
// does, row by row; AddRowUntold changes it behind the observer's back.
class TFakeGridDataSet : public TGridDataSet {
public:
    struct TField {
        std::string Name;
        TFieldKind Kind = TFieldKind::Text;
    };

    explicit TFakeGridDataSet(std::vector<TField> Fields) : FFields(std::move(Fields)) {}

    void AddRow(std::vector<std::string> Values) {
        const int Row = RowCount();
        if (Observer())
            Observer()->RowAboutToBeInserted(Row);
        AddRowUntold(std::move(Values));
        if (Observer())
            Observer()->RowInserted(Row);
        if (FCurrent < 0)
            MoveToRow(0);
    }
    void AddRowUntold(std::vector<std::string> Values) {
        Values.resize(FFields.size());
        FRows.push_back(std::move(Values));
    }

    int FieldCount() const override { return int(FFields.size()); }
    std::string FieldName(int Field) const override { return FFields[size_t(Field)].Name; }
    TFieldKind FieldKind(int Field) const override { return FFields[size_t(Field)].Kind; }
    int DisplayWidth(int) const override { return 8; }
    int RowCount() const override { return int(FRows.size()); }
    std::string DisplayText(int Row, int Field) const override {
        return FRows.at(size_t(Row)).at(size_t(Field));
    }
    int RecNoOfRow(int Row) const override {
        return FPending && Row == RowCount() - 1 ? -1 : Row + 1;
    }
    int CurrentRow() const override { return FCurrent; }
    void MoveToRow(int Row) override {
        FCurrent = Row;
        if (Observer())
            Observer()->CurrentMoved();
    }
    void SetFieldText(int Row, int Field, const std::string& Text) override {
        if (FFields[size_t(Field)].Kind == TFieldKind::Float && !Text.empty() &&
            Text.find_first_not_of("0123456789.") != std::string::npos)
            throw std::runtime_error("'" + Text +
                                     "' is not a valid floating point value for field '" +
                                     FFields[size_t(Field)].Name + "'");
        FRows.at(size_t(Row)).at(size_t(Field)) = Text;
        if (Observer())
            Observer()->RowChanged(Row);
    }
    void AppendRow() override {
        const int Row = RowCount();
        if (Observer())
            Observer()->RowAboutToBeInserted(Row);
        FRows.emplace_back(FFields.size());
        FPending = true;
        if (Observer())
            Observer()->RowInserted(Row);
        MoveToRow(Row);
    }
    void DeleteRow(int Row) override {
        if (Observer())
            Observer()->RowAboutToBeRemoved(Row);
        FRows.erase(FRows.begin() + Row);
        if (FPending && Row == RowCount())
            FPending = false;
        if (Observer())
            Observer()->RowRemoved(Row);
        if (FCurrent >= RowCount())
            MoveToRow(RowCount() - 1);
    }

private:
    std::vector<TField> FFields;
    std::vector<std::vector<std::string>> FRows;
    bool FPending = false;
    int FCurrent = -1;
};

} // namespace kds::test
