#pragma once

// Data-type codes, sub types, parameter directions and value-type flags of
// typed values, as they travel on the wire. The numbers are part of the
// protocol and never change.

#include <cstdint>
#include <string>

namespace kds {

namespace TDBXDataTypes {
inline constexpr int32_t UnknownType = 0;
inline constexpr int32_t AnsiStringType = 1; // ZSTRING, 8-bit text
inline constexpr int32_t DateType = 2;
inline constexpr int32_t BlobType = 3;
inline constexpr int32_t BooleanType = 4;
inline constexpr int32_t Int16Type = 5;
inline constexpr int32_t Int32Type = 6;
inline constexpr int32_t DoubleType = 7;
inline constexpr int32_t BcdType = 8;
inline constexpr int32_t BytesType = 9;
inline constexpr int32_t TimeType = 10;
inline constexpr int32_t DateTimeType = 11;
inline constexpr int32_t UInt16Type = 12;
inline constexpr int32_t UInt32Type = 13;
inline constexpr int32_t VarBytesType = 15;
inline constexpr int32_t CursorType = 17;
inline constexpr int32_t Int64Type = 18;
inline constexpr int32_t UInt64Type = 19;
inline constexpr int32_t AdtType = 20;
inline constexpr int32_t ArrayType = 21;
inline constexpr int32_t RefType = 22;
inline constexpr int32_t TableType = 23;
inline constexpr int32_t TimeStampType = 24;
inline constexpr int32_t CurrencyType = 25;
inline constexpr int32_t WideStringType = 26; // UTF-16 text
inline constexpr int32_t SingleType = 27;
inline constexpr int32_t Int8Type = 28;
inline constexpr int32_t UInt8Type = 29;
inline constexpr int32_t BinaryBlobType = 33;
inline constexpr int32_t DBXConnectionType = 34;
inline constexpr int32_t VariantType = 35;
inline constexpr int32_t TimeStampOffsetType = 36;
inline constexpr int32_t JsonValueType = 37;
inline constexpr int32_t CallbackType = 38;
} // namespace TDBXDataTypes

// Sub types that change behaviour; every other sub type is carried along.
namespace TDBXSubDataTypes {
inline constexpr int32_t MemoSubType = 22;     // 8-bit text memo
inline constexpr int32_t SingleSubType = 27;   // a double carried as a 4-byte single
inline constexpr int32_t WideMemoSubType = 32; // UTF-16 text memo
inline constexpr int32_t HMemoSubType = 33;    // 8-bit text memo
} // namespace TDBXSubDataTypes

namespace TDBXParameterDirections {
inline constexpr int32_t Unknown = 0;
inline constexpr int32_t InParameter = 1;
inline constexpr int32_t OutParameter = 2;
inline constexpr int32_t InOutParameter = 3;
inline constexpr int32_t ReturnParameter = 4;
} // namespace TDBXParameterDirections

namespace TDBXValueTypeFlags {
inline constexpr int32_t Nullable = 1;
inline constexpr int32_t ReadOnly = 2;
inline constexpr int32_t Searchable = 4;
inline constexpr int32_t AutoIncrement = 8;
inline constexpr int32_t ReadOnlyType = 32; // the type itself may not be changed
inline constexpr int32_t Hidden = 64;
inline constexpr int32_t ExtendedType = 128; // set on every parameter type read from the wire
inline constexpr int32_t ValueParameter = 256;
inline constexpr int32_t Literal = 512; // the value travels with the type, as text
} // namespace TDBXValueTypeFlags

// "TDBXTypes." and the code's name ("TDBXTypes.INT32", "TDBXTypes.WideString"),
// or "TDBXTypes.UNKNOWN(<code>)" for a code without a name.
std::string DataTypeName(int32_t DataType);

} // namespace kds
