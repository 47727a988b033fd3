#include "data/TDBXMemoryTable.h"

#include <algorithm>
#include <new>
#include <numeric>

#include "base/AsciiText.h"
#include "base/DBXContext.h"
#include "base/TextConvert.h"
#include "data/TDBXFormatter.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"

namespace kds {

namespace DT = TDBXDataTypes;

namespace {

using TWideText = TDBXTextValue<std::u16string>;
using TNarrowText = TDBXTextValue<std::string>;

int32_t Sign(int C) {
    return C < 0 ? -1 : (C > 0 ? 1 : 0);
}

bool IsText(TDBXValue& V) {
    return dynamic_cast<TWideText*>(&V) != nullptr || dynamic_cast<TNarrowText*>(&V) != nullptr;
}

std::unique_ptr<TDBXValueType> CopyOfColumn(const TDBXValueType& Column) {
    auto Copy = Column.Clone();
    Copy->SetCaption(Column.Caption());
    return Copy;
}

// Sets Key, a value of a column's type, from the text. Text columns take the
// text as it is; the other kinds convert it as a text value's "As" accessors
// do (a number that does not parse becomes 0, a date that does not parse
// raises the formatter's conversion error).
void AssignFromText(TDBXContext* Context, TDBXWritableValue& Key, const std::u16string& Text) {
    if (IsText(Key)) {
        Key.SetString(Text);
        return;
    }
    auto SourceType = std::make_unique<TDBXValueType>(Context);
    SourceType->SetDataType(DT::WideStringType);
    auto Source = TDBXValue::CreateValue(Context, std::move(SourceType), nullptr, false);
    Source->SetWideString(Text);
    switch (Key.ValueType().DataType()) {
    case DT::BooleanType:
        Key.SetBoolean(Source->AsBoolean());
        return;
    case DT::Int8Type:
        Key.SetInt8(Source->AsInt8());
        return;
    case DT::UInt8Type:
        Key.SetUInt8(Source->AsUInt8());
        return;
    case DT::Int16Type:
        Key.SetInt16(Source->AsInt16());
        return;
    case DT::UInt16Type:
        Key.SetUInt16(Source->AsUInt16());
        return;
    case DT::Int32Type:
        Key.SetInt32(Source->AsInt32());
        return;
    case DT::Int64Type:
        Key.SetInt64(Source->AsInt64());
        return;
    case DT::SingleType:
        Key.SetSingle(Source->AsSingle());
        return;
    case DT::DoubleType:
        Key.SetDouble(Source->AsDouble());
        return;
    case DT::DateType:
        Key.SetDate(Source->AsDate());
        return;
    case DT::TimeType:
        Key.SetTime(Source->AsTime());
        return;
    case DT::DateTimeType:
    case DT::TimeStampType:
        Key.SetTimeStamp(Source->AsTimeStamp());
        return;
    case DT::TimeStampOffsetType: {
        const TDBXFormatter& F = Context != nullptr && Context->DBXFormatter() != nullptr
                                     ? *Context->DBXFormatter()
                                     : TDBXFormatter::Default();
        Key.SetTimeStampOffset(F.StringToTimeStampOffset(Source->AsAnsiString()));
        return;
    }
    case DT::BcdType:
    case DT::CurrencyType:
        Key.SetBcd(Source->AsBcd());
        return;
    default:
        // Streams, readers, JSON and the like take no text: the value raises
        // its type-access error.
        Key.SetString(Text);
        return;
    }
}

} // namespace

int32_t CompareTableValues(TDBXValue& A, TDBXValue& B) {
    const bool NullA = A.IsNull(), NullB = B.IsNull();
    if (NullA || NullB)
        return NullA == NullB ? 0 : (NullA ? -1 : 1);
    auto* WideA = dynamic_cast<TWideText*>(&A);
    auto* WideB = dynamic_cast<TWideText*>(&B);
    if (WideA != nullptr && WideB != nullptr)
        return Sign(CompareTextAscii(std::u16string_view(WideA->Text()),
                                     std::u16string_view(WideB->Text())));
    auto* NarrowA = dynamic_cast<TNarrowText*>(&A);
    auto* NarrowB = dynamic_cast<TNarrowText*>(&B);
    if (NarrowA != nullptr && NarrowB != nullptr)
        return Sign(
            CompareTextAscii(std::string_view(NarrowA->Text()), std::string_view(NarrowB->Text())));
    if ((WideA != nullptr || NarrowA != nullptr) && (WideB != nullptr || NarrowB != nullptr))
        return Sign(CompareTextAscii(std::u16string_view(A.GetString()),
                                     std::u16string_view(B.GetString())));
    return A.Compare(B);
}

TDBXMemoryTable::TDBXMemoryTable(TDBXContext* DBXContext) : FDBXContext(DBXContext) {}

TDBXMemoryTable::TDBXMemoryTable(TDBXContext* DBXContext, std::u16string Name,
                                 std::vector<std::unique_ptr<TDBXValueType>> Columns)
    : FDBXContext(DBXContext), FName(std::move(Name)) {
    SetColumns(std::move(Columns));
}

TDBXMemoryTable::~TDBXMemoryTable() = default;

int32_t TDBXMemoryTable::ColumnCount() const {
    return static_cast<int32_t>(FValueTypes.size());
}

void TDBXMemoryTable::CheckColumn(int32_t Ordinal) const {
    if (Ordinal < 0 || Ordinal >= ColumnCount())
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidOrdinal,
                      "Table " + Utf16ToUtf8(FName) + " has no column " + std::to_string(Ordinal));
}

void TDBXMemoryTable::NoOrderColumn(const std::string& Name) const {
    RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidOrdinal,
                  "Table cannot use column " + Name +
                      " in an order by operation since it does not exist");
}

void TDBXMemoryTable::CheckOnRow() const {
    if (!InBounds())
        RaiseDBXError(FDBXContext, TDBXErrorCodes::EOF_,
                      "Table " + Utf16ToUtf8(FName) + " is not on a row");
}

const TDBXValueType& TDBXMemoryTable::Column(int32_t Ordinal) const {
    CheckColumn(Ordinal);
    return *FValueTypes[static_cast<size_t>(Ordinal)];
}

int32_t TDBXMemoryTable::GetOrdinal(std::u16string_view Name) const {
    for (size_t I = 0; I < FValueTypes.size(); ++I) {
        if (SameTextAscii(std::u16string_view(FValueTypes[I]->Name()), Name))
            return static_cast<int32_t>(I);
    }
    return -1;
}

void TDBXMemoryTable::SetColumns(std::vector<std::unique_ptr<TDBXValueType>> Columns) {
    for (size_t I = 0; I < Columns.size(); ++I)
        Columns[I]->SetOrdinal(static_cast<int32_t>(I));
    FValueRows.clear();
    FValueTypes = std::move(Columns);
    FIndex = 0;
    FOrderByColumn = -1;
}

void TDBXMemoryTable::CopyColumns(const TDBXTable& Source) {
    std::vector<std::unique_ptr<TDBXValueType>> Columns;
    Columns.reserve(static_cast<size_t>(Source.ColumnCount()));
    for (int32_t I = 0; I < Source.ColumnCount(); ++I)
        Columns.push_back(CopyOfColumn(Source.Column(I)));
    SetColumns(std::move(Columns));
}

TDBXWritableValue& TDBXMemoryTable::Value(int32_t Ordinal) {
    CheckColumn(Ordinal);
    CheckOnRow();
    return *(*FValueRows[static_cast<size_t>(FIndex)])[static_cast<size_t>(Ordinal)];
}

bool TDBXMemoryTable::First() {
    FIndex = 0;
    return InBounds();
}

bool TDBXMemoryTable::Next() {
    if (FIndex < GetTableCount())
        ++FIndex;
    return InBounds();
}

bool TDBXMemoryTable::InBounds() const {
    return FIndex >= 0 && FIndex < GetTableCount();
}

int64_t TDBXMemoryTable::GetTableCount() const {
    return static_cast<int64_t>(FValueRows.size());
}

std::unique_ptr<TDBXMemoryTable::TValueRow> TDBXMemoryTable::NewRow() const {
    auto Row = std::make_unique<TValueRow>();
    Row->reserve(FValueTypes.size());
    for (size_t I = 0; I < FValueTypes.size(); ++I) {
        auto Type = FValueTypes[I]->Clone();
        Type->SetOrdinal(static_cast<int32_t>(I));
        Row->push_back(TDBXValue::CreateValue(FDBXContext, std::move(Type), nullptr, false));
    }
    return Row;
}

void TDBXMemoryTable::Insert() {
    auto Row = NewRow();
    FValueRows.push_back(std::move(Row));
    FIndex = GetTableCount() - 1;
    FOrderByColumn = -1;
}

void TDBXMemoryTable::DeleteRow() {
    CheckOnRow();
    FValueRows.erase(FValueRows.begin() + FIndex);
}

void TDBXMemoryTable::Clear() {
    FValueRows.clear();
    FIndex = 0;
    FOrderByColumn = -1;
}

void TDBXMemoryTable::Close() {
    Clear();
}

void TDBXMemoryTable::CopyFrom(TDBXTable& Source) {
    bool Same = Source.ColumnCount() == ColumnCount();
    for (int32_t I = 0; Same && I < ColumnCount(); ++I)
        Same = Source.Column(I).DataType() == FValueTypes[static_cast<size_t>(I)]->DataType();
    if (!Same)
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidArgument,
                      "Table " + Utf16ToUtf8(FName) + " cannot copy the rows of table " +
                          Utf16ToUtf8(Source.TableName()) + ": the columns differ");
    std::vector<std::unique_ptr<TValueRow>> Copies;
    for (bool More = Source.First(); More; More = Source.Next()) {
        auto Row = NewRow();
        for (int32_t I = 0; I < ColumnCount(); ++I)
            (*Row)[static_cast<size_t>(I)]->SetValue(Source.Value(I));
        Copies.push_back(std::move(Row));
    }
    Source.First();
    FValueRows.reserve(FValueRows.size() + Copies.size());
    for (auto& Row : Copies)
        FValueRows.push_back(std::move(Row));
    if (!Copies.empty())
        FOrderByColumn = -1;
}

bool TDBXMemoryTable::IsSortedBy(int32_t Ordinal) const {
    const auto Column = static_cast<size_t>(Ordinal);
    for (size_t I = 1; I < FValueRows.size(); ++I) {
        if (CompareTableValues(*(*FValueRows[I])[Column], *(*FValueRows[I - 1])[Column]) < 0)
            return false;
    }
    return true;
}

void TDBXMemoryTable::SortBy(int32_t Ordinal) {
    const auto Column = static_cast<size_t>(Ordinal);
    // The permutation is sorted first and applied only when the sort
    // succeeded: a comparison that raises leaves every row in its place.
    std::vector<size_t> Order(FValueRows.size());
    std::iota(Order.begin(), Order.end(), size_t{0});
    std::stable_sort(Order.begin(), Order.end(), [&](size_t A, size_t B) {
        return CompareTableValues(*(*FValueRows[A])[Column], *(*FValueRows[B])[Column]) < 0;
    });
    std::vector<std::unique_ptr<TValueRow>> Sorted;
    Sorted.reserve(FValueRows.size());
    int64_t Current = FIndex;
    for (size_t I = 0; I < Order.size(); ++I) {
        if (static_cast<int64_t>(Order[I]) == FIndex)
            Current = static_cast<int64_t>(I);
        Sorted.push_back(std::move(FValueRows[Order[I]]));
    }
    FValueRows = std::move(Sorted);
    FIndex = Current;
    FOrderByColumn = Ordinal;
}

std::unique_ptr<TDBXWritableValue> TDBXMemoryTable::KeyValue(int32_t Ordinal,
                                                             const std::u16string& Text) const {
    auto Key = TDBXValue::CreateValue(
        FDBXContext, FValueTypes[static_cast<size_t>(Ordinal)]->Clone(), nullptr, false);
    try {
        AssignFromText(FDBXContext, *Key, Text);
    } catch (const TDBXError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& E) {
        // A key that does not convert (a date or decimal text that does not
        // parse) is the caller's bad argument, reported like every other
        // error of the table.
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidArgument, E.what());
    }
    return Key;
}

bool TDBXMemoryTable::FindStringKey(int32_t Ordinal, const std::u16string& Value) {
    if (Ordinal < 0 || Ordinal >= ColumnCount())
        NoOrderColumn(std::to_string(Ordinal));
    if (FValueRows.empty())
        return false;
    auto Key = KeyValue(Ordinal, Value);
    if (!IsSortedBy(Ordinal))
        SortBy(Ordinal);
    else
        FOrderByColumn = Ordinal;
    const auto Column = static_cast<size_t>(Ordinal);
    const auto Found =
        std::lower_bound(FValueRows.begin(), FValueRows.end(), Key.get(),
                         [Column](const std::unique_ptr<TValueRow>& Row, TDBXWritableValue* K) {
                             return CompareTableValues(*(*Row)[Column], *K) < 0;
                         });
    if (Found == FValueRows.end() || CompareTableValues(*(**Found)[Column], *Key) != 0)
        return false;
    FIndex = Found - FValueRows.begin();
    return true;
}

std::unique_ptr<TDBXTable>
TDBXMemoryTable::CreateTableView(const std::u16string& OrderByColumnName) {
    const int32_t Ordinal = GetOrdinal(OrderByColumnName);
    if (Ordinal < 0)
        NoOrderColumn(Utf16ToUtf8(OrderByColumnName));
    auto View = std::make_unique<TDBXMemoryTable>(FDBXContext);
    View->SetTableName(FName);
    View->CopyColumns(*this);
    View->FValueRows.reserve(FValueRows.size());
    for (const auto& Row : FValueRows) {
        auto Copy = View->NewRow();
        for (size_t I = 0; I < Row->size(); ++I)
            (*Copy)[I]->SetValue(*(*Row)[I]);
        View->FValueRows.push_back(std::move(Copy));
    }
    View->SortBy(Ordinal);
    View->FIndex = 0;
    return View;
}

} // namespace kds
