#include "data/TDBXParameter.h"

#include "base/DBXContext.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXRow.h"

namespace kds {

TDBXWritableValue& TDBXParameter::Value() {
    if (!FValue || Modified()) {
        if (DataType() == TDBXDataTypes::UnknownType) {
            FValue = std::make_unique<TDBXNullValue>(this);
            FValue->SetDbxRow(DbxRow());
        } else {
            FValue = TDBXValue::CreateValue(DBXContext(), this, DbxRow(), false);
        }
        SetModified(false);
    }
    return *FValue;
}

void TDBXParameter::SetDbxRow(TDBXRow* Row) {
    TDBXValueType::SetDbxRow(Row);
    if (FValue)
        FValue->SetDbxRow(Row);
}

std::unique_ptr<TDBXParameter> TDBXParameter::Clone() const {
    auto Copy = std::make_unique<TDBXParameter>(DBXContext());
    CopyTo(*Copy);
    Copy->FTypeName = FTypeName;
    Copy->SetModified(true);
    return Copy;
}

// ---------------------------------------------------------------------------

void TDBXParameterList::CheckOrdinal(int32_t Ordinal, int32_t Limit) const {
    if (Ordinal < 0 || Ordinal >= Limit)
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidOrdinal,
                      "Parameter ordinal " + std::to_string(Ordinal) + " is outside the list of " +
                          std::to_string(Count()) + " parameters");
}

TDBXParameter& TDBXParameterList::Parameter(int32_t Ordinal) const {
    CheckOrdinal(Ordinal, Count());
    return *FParameters[static_cast<size_t>(Ordinal)];
}

void TDBXParameterList::Attach(TDBXParameter& Parameter, int32_t Ordinal) {
    Parameter.AssignOrdinal(Ordinal);
    Parameter.SetDbxRow(FRow);
}

void TDBXParameterList::Renumber(int32_t From) {
    for (int32_t I = From; I < Count(); ++I)
        FParameters[static_cast<size_t>(I)]->AssignOrdinal(I);
}

void TDBXParameterList::SetCount(int32_t NewCount) {
    if (NewCount < 0)
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidArgument,
                      "Parameter count " + std::to_string(NewCount) + " is negative");
    while (Count() > NewCount)
        FParameters.pop_back();
    while (Count() < NewCount)
        AddParameter(std::make_unique<TDBXParameter>(FDBXContext));
}

void TDBXParameterList::AddParameter(std::unique_ptr<TDBXParameter> Parameter) {
    InsertParameter(Count(), std::move(Parameter));
}

void TDBXParameterList::SetParameter(int32_t Ordinal, std::unique_ptr<TDBXParameter> Parameter) {
    CheckOrdinal(Ordinal, Count());
    Attach(*Parameter, Ordinal);
    FParameters[static_cast<size_t>(Ordinal)] = std::move(Parameter);
}

void TDBXParameterList::InsertParameter(int32_t Ordinal, std::unique_ptr<TDBXParameter> Parameter) {
    CheckOrdinal(Ordinal, Count() + 1);
    Attach(*Parameter, Ordinal);
    FParameters.insert(FParameters.begin() + Ordinal, std::move(Parameter));
    Renumber(Ordinal + 1);
}

std::unique_ptr<TDBXParameter> TDBXParameterList::RemoveParameter(int32_t Ordinal) {
    CheckOrdinal(Ordinal, Count());
    std::unique_ptr<TDBXParameter> Removed = std::move(FParameters[static_cast<size_t>(Ordinal)]);
    FParameters.erase(FParameters.begin() + Ordinal);
    Renumber(Ordinal);
    Removed->SetDbxRow(nullptr);
    return Removed;
}

void TDBXParameterList::ClearParameters() {
    FParameters.clear();
}

std::vector<std::unique_ptr<TDBXParameter>> TDBXParameterList::RemoveParameters() {
    std::vector<std::unique_ptr<TDBXParameter>> Removed = std::move(FParameters);
    FParameters.clear();
    for (auto& P : Removed)
        P->SetDbxRow(nullptr);
    return Removed;
}

int32_t TDBXParameterList::GetOrdinal(const std::u16string& Name) const {
    auto Fold = [](char16_t C) -> char16_t { return C >= u'a' && C <= u'z' ? C - 32 : C; };
    for (int32_t I = 0; I < Count(); ++I) {
        const std::u16string& Candidate = FParameters[static_cast<size_t>(I)]->Name();
        if (Candidate.size() != Name.size())
            continue;
        bool Same = true;
        for (size_t K = 0; K < Name.size() && Same; ++K)
            Same = Fold(Candidate[K]) == Fold(Name[K]);
        if (Same)
            return I;
    }
    return -1;
}

void TDBXParameterList::NullOutParameters() {
    for (auto& P : FParameters) {
        if (P->ParameterDirection() == TDBXParameterDirections::OutParameter)
            P->Value().SetNull();
    }
}

void TDBXParameterList::FlushReply() {
    if (auto* BufferRow = dynamic_cast<TDBXJSonRow*>(FRow))
        BufferRow->RowBuffer().StartOver();
    for (auto& P : FParameters) {
        TDBXWritableValue& V = P->Value();
        if (P->ParameterDirection() == TDBXParameterDirections::InParameter)
            V.SetNull();
        V.Flush();
    }
}

} // namespace kds
