#pragma once

// The description of a typed value: name, data type, sub type, size,
// precision, scale, flags and parameter direction, with the row its value
// reads from and writes to.
//
// Every setter raises TDBXError 9 "<name> type cannot be modified" while the
// read-only-type flag (32) is set, and marks the type modified when it
// changes something. Not thread-safe: a type belongs to its command.

#include <cstdint>
#include <memory>
#include <string>

#include "data/DBXDataTypes.h"

namespace kds {

class TDBXContext;
class TDBXRow;

// Raises Code/Message through Context, or as a bare TDBXError without one.
[[noreturn]] void RaiseDBXError(const TDBXContext* Context, int32_t Code,
                                const std::string& Message);

class TDBXValueType {
public:
    explicit TDBXValueType(TDBXContext* DBXContext = nullptr) : FDBXContext(DBXContext) {}
    TDBXValueType(const TDBXValueType&) = delete;
    TDBXValueType& operator=(const TDBXValueType&) = delete;
    virtual ~TDBXValueType() = default;

    static std::string DataTypeName(int32_t DataType) { return kds::DataTypeName(DataType); }
    // Raises TDBXError 7 "<ExpectedDataType's name> value type cannot be
    // accessed as <DataType's name> value type": the value's own type first,
    // then the type the caller asked for.
    [[noreturn]] void InvalidTypeAccess(int32_t ExpectedDataType, int32_t DataType) const;

    // Same context, name and the fields from ordinal to direction; neither the
    // caption nor the row.
    std::unique_ptr<TDBXValueType> Clone() const;
    // The same with the read-only-type flag cleared.
    std::unique_ptr<TDBXValueType> WritableClone() const;

    const std::u16string& Name() const { return FName; }
    const std::u16string& Caption() const { return FCaption; }
    int32_t Ordinal() const { return FOrdinal; }
    int32_t DataType() const { return FDataType; }
    int32_t SubType() const { return FSubType; }
    int64_t Size() const { return FSize; }
    int64_t Precision() const { return FPrecision; }
    int32_t Scale() const { return FScale; }
    int32_t ChildPosition() const { return FChildPosition; }
    int32_t Flags() const { return FFlags; }
    int32_t ParameterDirection() const { return FParameterDirection; }
    TDBXRow* DbxRow() const { return FDbxRow; }
    TDBXContext* DBXContext() const { return FDBXContext; }
    bool Modified() const { return FModified; }
    bool Nullable() const { return (FFlags & TDBXValueTypeFlags::Nullable) != 0; }
    bool ReadOnlyType() const { return (FFlags & TDBXValueTypeFlags::ReadOnlyType) != 0; }
    bool Literal() const { return (FFlags & TDBXValueTypeFlags::Literal) != 0; }
    bool ValueParameter() const { return (FFlags & TDBXValueTypeFlags::ValueParameter) != 0; }

    void SetName(const std::u16string& Name);
    void SetCaption(const std::u16string& Caption);
    void SetOrdinal(int32_t Ordinal);
    void SetDataType(int32_t DataType);
    void SetSubType(int32_t SubType);
    void SetSize(int64_t Size);
    void SetPrecision(int64_t Precision);
    void SetScale(int32_t Scale);
    void SetChildPosition(int32_t ChildPosition);
    void SetFlags(int32_t Flags);
    void SetParameterDirection(int32_t Direction);
    void SetNullable(bool Nullable);
    void SetReadOnlyType() { SetFlags(FFlags | TDBXValueTypeFlags::ReadOnlyType); }
    void SetModified(bool Modified) { FModified = Modified; }
    // Attaching a row is not a change of the type.
    virtual void SetDbxRow(TDBXRow* Row) { FDbxRow = Row; }
    void SetDBXContext(TDBXContext* Context) { FDBXContext = Context; }

protected:
    // Raises when the type is read-only.
    void CheckWritable() const;
    // Copies the cloned fields into Target (without the read-only check).
    void CopyTo(TDBXValueType& Target) const;
    // Moves the ordinal without the read-only check (list renumbering).
    void AssignOrdinal(int32_t Ordinal) { FOrdinal = Ordinal; }

    friend class TDBXParameterList;

private:
    template <typename T> void Change(T& Field, const T& Value) {
        CheckWritable();
        if (Field != Value) {
            Field = Value;
            FModified = true;
        }
    }

    std::u16string FName;
    std::u16string FCaption;
    int32_t FOrdinal = 0;
    int32_t FDataType = 0;
    int32_t FSubType = 0;
    int64_t FSize = 0;
    int64_t FPrecision = 0;
    int32_t FScale = 0;
    int32_t FChildPosition = 0;
    int32_t FFlags = 0;
    int32_t FParameterDirection = 0;
    TDBXRow* FDbxRow = nullptr;         // not owned
    TDBXContext* FDBXContext = nullptr; // not owned
    bool FModified = false;
};

} // namespace kds
