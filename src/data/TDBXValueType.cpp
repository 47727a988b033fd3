#include "data/TDBXValueType.h"

#include "base/DBXContext.h"
#include "base/TextConvert.h"

namespace kds {

void RaiseDBXError(const TDBXContext* Context, int32_t Code, const std::string& Message) {
    if (Context != nullptr)
        Context->Error(Code, Message);
    throw TDBXError(Code, Message);
}

void TDBXValueType::InvalidTypeAccess(int32_t ExpectedDataType, int32_t DataType) const {
    RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidType,
                  DataTypeName(ExpectedDataType) + " value type cannot be accessed as " +
                      DataTypeName(DataType) + " value type");
}

void TDBXValueType::CheckWritable() const {
    if (ReadOnlyType())
        RaiseDBXError(FDBXContext, TDBXErrorCodes::InvalidParameter,
                      Utf16ToUtf8(FName) + " type cannot be modified");
}

void TDBXValueType::CopyTo(TDBXValueType& Target) const {
    Target.FDBXContext = FDBXContext;
    Target.FName = FName;
    Target.FOrdinal = FOrdinal;
    Target.FDataType = FDataType;
    Target.FSubType = FSubType;
    Target.FSize = FSize;
    Target.FPrecision = FPrecision;
    Target.FScale = FScale;
    Target.FChildPosition = FChildPosition;
    Target.FFlags = FFlags;
    Target.FParameterDirection = FParameterDirection;
}

std::unique_ptr<TDBXValueType> TDBXValueType::Clone() const {
    auto Copy = std::make_unique<TDBXValueType>(FDBXContext);
    CopyTo(*Copy);
    return Copy;
}

std::unique_ptr<TDBXValueType> TDBXValueType::WritableClone() const {
    auto Copy = Clone();
    Copy->FFlags &= ~TDBXValueTypeFlags::ReadOnlyType;
    return Copy;
}

void TDBXValueType::SetName(const std::u16string& Name) {
    Change(FName, Name);
}
void TDBXValueType::SetCaption(const std::u16string& Caption) {
    Change(FCaption, Caption);
}
void TDBXValueType::SetOrdinal(int32_t Ordinal) {
    Change(FOrdinal, Ordinal);
}
void TDBXValueType::SetDataType(int32_t DataType) {
    Change(FDataType, DataType);
}
void TDBXValueType::SetSubType(int32_t SubType) {
    Change(FSubType, SubType);
}
void TDBXValueType::SetSize(int64_t Size) {
    Change(FSize, Size);
}
void TDBXValueType::SetPrecision(int64_t Precision) {
    Change(FPrecision, Precision);
}
void TDBXValueType::SetScale(int32_t Scale) {
    Change(FScale, Scale);
}
void TDBXValueType::SetChildPosition(int32_t ChildPosition) {
    Change(FChildPosition, ChildPosition);
}
void TDBXValueType::SetFlags(int32_t Flags) {
    Change(FFlags, Flags);
}
void TDBXValueType::SetParameterDirection(int32_t Direction) {
    Change(FParameterDirection, Direction);
}
void TDBXValueType::SetNullable(bool Nullable) {
    SetFlags(Nullable ? (FFlags | TDBXValueTypeFlags::Nullable)
                      : (FFlags & ~TDBXValueTypeFlags::Nullable));
}

} // namespace kds
