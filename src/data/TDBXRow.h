#pragma once

// The row that typed values read from and write to. A value asks the row to
// decode its field (by the ordinal of its value type) whenever the row's
// generation differs from the one it last read, and writes its field when its
// parameter is flushed. The generation moves on every new row (a new request,
// the next row of a result), so cached values know when they are stale.
//
// Every operation here that a row kind does not offer raises TDBXError 27
// "Feature not implemented". Readers raise TDBXError for a field that does
// not decode. A row belongs to its command's thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/SQLTimeStamp.h"
#include "data/TBcd.h"

namespace kds {

class TDBXContext;
class TDBXValue;
class TDBXWritableValue;
class TDBXValueType;
class TDBXReader;
class TJSONValue;
class TStream;

class TDBXRow {
public:
    explicit TDBXRow(TDBXContext* DBXContext = nullptr) : FDBXContext(DBXContext) {}
    TDBXRow(const TDBXRow&) = delete;
    TDBXRow& operator=(const TDBXRow&) = delete;
    virtual ~TDBXRow() = default;

    // Moves on every new row; values compare it with the generation they read.
    virtual int64_t Generation() const { return FGeneration; }
    void NewGeneration() { ++FGeneration; }
    TDBXContext* DBXContext() const { return FDBXContext; }

    // A value class of the row's own for the type, or nullptr for the
    // standard class of the data type.
    virtual std::unique_ptr<TDBXWritableValue> CreateCustomValue(const TDBXValueType& ValueType);

    // Decoding the value's field. IsNull tells a null field; Out is then left
    // at its zero value.
    virtual void GetBoolean(const TDBXValue& Value, bool& Out, bool& IsNull);
    virtual void GetInt8(const TDBXValue& Value, int8_t& Out, bool& IsNull);
    virtual void GetUInt8(const TDBXValue& Value, uint8_t& Out, bool& IsNull);
    virtual void GetInt16(const TDBXValue& Value, int16_t& Out, bool& IsNull);
    virtual void GetUInt16(const TDBXValue& Value, uint16_t& Out, bool& IsNull);
    virtual void GetInt32(const TDBXValue& Value, int32_t& Out, bool& IsNull);
    virtual void GetInt64(const TDBXValue& Value, int64_t& Out, bool& IsNull);
    virtual void GetSingle(const TDBXValue& Value, float& Out, bool& IsNull);
    virtual void GetDouble(const TDBXValue& Value, double& Out, bool& IsNull);
    virtual void GetDate(const TDBXValue& Value, TDBXDate& Out, bool& IsNull);
    virtual void GetTime(const TDBXValue& Value, TDBXTime& Out, bool& IsNull);
    virtual void GetTimeStamp(const TDBXValue& Value, TSQLTimeStamp& Out, bool& IsNull);
    virtual void GetTimeStampOffset(const TDBXValue& Value, TSQLTimeStampOffset& Out, bool& IsNull);
    virtual void GetBcd(const TDBXValue& Value, TBcd& Out, bool& IsNull);
    // 8-bit text, one byte per character (codes above 255 become '?').
    virtual void GetAnsiString(const TDBXValue& Value, std::string& Out, bool& IsNull);
    virtual void GetWideString(const TDBXValue& Value, std::u16string& Out, bool& IsNull);
    virtual void GetBytes(const TDBXValue& Value, std::vector<uint8_t>& Out, bool& IsNull);
    virtual void GetJSONValue(const TDBXValue& Value, std::unique_ptr<TJSONValue>& Out,
                              bool& IsNull);
    // Held: the field carries the callback mark.
    virtual void GetCallbackValue(const TDBXValue& Value, bool& Held);
    virtual void GetDBXReader(const TDBXValue& Value, int32_t& RowHandle, bool& IsNull);

    // Encoding the value's field at the row's write position. Text and byte
    // writers leave what does not fit inline in the value's overflow.
    virtual void SetNull(TDBXWritableValue& Value);
    virtual void SetBoolean(TDBXWritableValue& Value, bool V);
    virtual void SetInt64(TDBXWritableValue& Value, int64_t V); // every integer width
    virtual void SetSingle(TDBXWritableValue& Value, float V);
    virtual void SetDouble(TDBXWritableValue& Value, double V);
    virtual void SetDate(TDBXWritableValue& Value, TDBXDate V);
    virtual void SetTime(TDBXWritableValue& Value, TDBXTime V);
    virtual void SetTimeStamp(TDBXWritableValue& Value, const TSQLTimeStamp& V);
    virtual void SetTimeStampOffset(TDBXWritableValue& Value, const TSQLTimeStampOffset& V);
    virtual void SetBcd(TDBXWritableValue& Value, const TBcd& V);
    virtual void SetAnsiString(TDBXWritableValue& Value, std::string_view V);
    virtual void SetWideString(TDBXWritableValue& Value, std::u16string_view V);
    // Reads from the stream's position as much as fits inline.
    virtual void SetStream(TDBXWritableValue& Value, TStream& V);
    virtual void SetJSONValue(TDBXWritableValue& Value, const TJSONValue& V);
    virtual void SetCallbackValue(TDBXWritableValue& Value);
    virtual void SetDBXReader(TDBXWritableValue& Value, TDBXReader& V);
    virtual void SetDBXConnection(TDBXWritableValue& Value);

protected:
    [[noreturn]] void NotImplemented() const;

    TDBXContext* FDBXContext = nullptr; // not owned
    int64_t FGeneration = 0;
};

} // namespace kds
