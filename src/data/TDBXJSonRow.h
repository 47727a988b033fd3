#pragma once

// Rows over a TDBXRowBuffer: the values of a command's parameters, or the
// rows of a tabular result, read from and written to the buffer's field
// encoding (see TDBXRowBuffer.h). The row's generation is the buffer's: it
// moves whenever the buffer receives new rows or advances to the next one.
// A row belongs to its command's thread.

#include <cstdint>
#include <memory>

#include "data/TDBXRow.h"
#include "data/TDBXRowBuffer.h"

namespace kds {

// The base of rows that stream: remembers which ordinals were written as
// readers, so that their table objects can follow the row.
class TDBXStreamerRow : public TDBXRow {
public:
    using TDBXRow::TDBXRow;

    // -1 when no reader was written since the last ResetReaderOrdinals.
    int32_t FirstDBXReaderOrdinal() const { return FFirstDBXReaderOrdinal; }
    int32_t LastDBXReaderOrdinal() const { return FLastDBXReaderOrdinal; }
    void ResetReaderOrdinals() { FFirstDBXReaderOrdinal = FLastDBXReaderOrdinal = -1; }

protected:
    void NoteReaderOrdinal(int32_t Ordinal);

    int32_t FFirstDBXReaderOrdinal = -1;
    int32_t FLastDBXReaderOrdinal = -1;
};

class TDBXJSonRow : public TDBXStreamerRow {
public:
    // The buffer is not owned.
    TDBXJSonRow(TDBXContext* DBXContext, TDBXRowBuffer* DbxRowBuffer);
    // The buffer is owned.
    TDBXJSonRow(TDBXContext* DBXContext, std::unique_ptr<TDBXRowBuffer> DbxRowBuffer);

    TDBXRowBuffer& RowBuffer() const { return *FDbxRowBuffer; }
    bool OwnsRow() const { return FOwnedRowBuffer != nullptr; }
    int32_t RowHandle() const { return FRowHandle; }
    void SetRowHandle(int32_t RowHandle) { FRowHandle = RowHandle; }
    // 1: BCD fields arrive in binary form (as a peer's table declares).
    int32_t BcdFormat() const { return FBcdFormat; }
    void SetBcdFormat(int32_t BcdFormat) { FBcdFormat = BcdFormat; }

    int64_t Generation() const override { return FDbxRowBuffer->Generation(); }

    // Code 1 and code 3 with sub type 22 or 33 get TDBXAnsiCharsValue; code
    // 26 and code 3 with sub type 32 get TDBXWideCharsValue.
    std::unique_ptr<TDBXWritableValue> CreateCustomValue(const TDBXValueType& ValueType) override;

    void GetBoolean(const TDBXValue& Value, bool& Out, bool& IsNull) override;
    void GetInt8(const TDBXValue& Value, int8_t& Out, bool& IsNull) override;
    void GetUInt8(const TDBXValue& Value, uint8_t& Out, bool& IsNull) override;
    void GetInt16(const TDBXValue& Value, int16_t& Out, bool& IsNull) override;
    void GetUInt16(const TDBXValue& Value, uint16_t& Out, bool& IsNull) override;
    void GetInt32(const TDBXValue& Value, int32_t& Out, bool& IsNull) override;
    void GetInt64(const TDBXValue& Value, int64_t& Out, bool& IsNull) override;
    void GetSingle(const TDBXValue& Value, float& Out, bool& IsNull) override;
    void GetDouble(const TDBXValue& Value, double& Out, bool& IsNull) override;
    void GetDate(const TDBXValue& Value, TDBXDate& Out, bool& IsNull) override;
    void GetTime(const TDBXValue& Value, TDBXTime& Out, bool& IsNull) override;
    void GetTimeStamp(const TDBXValue& Value, TSQLTimeStamp& Out, bool& IsNull) override;
    void GetTimeStampOffset(const TDBXValue& Value, TSQLTimeStampOffset& Out,
                            bool& IsNull) override;
    void GetBcd(const TDBXValue& Value, TBcd& Out, bool& IsNull) override;
    void GetAnsiString(const TDBXValue& Value, std::string& Out, bool& IsNull) override;
    void GetWideString(const TDBXValue& Value, std::u16string& Out, bool& IsNull) override;
    void GetBytes(const TDBXValue& Value, std::vector<uint8_t>& Out, bool& IsNull) override;
    void GetJSONValue(const TDBXValue& Value, std::unique_ptr<TJSONValue>& Out,
                      bool& IsNull) override;
    void GetCallbackValue(const TDBXValue& Value, bool& Held) override;
    void GetDBXReader(const TDBXValue& Value, int32_t& RowHandle, bool& IsNull) override;

    void SetNull(TDBXWritableValue& Value) override;
    void SetBoolean(TDBXWritableValue& Value, bool V) override;
    void SetInt64(TDBXWritableValue& Value, int64_t V) override;
    void SetSingle(TDBXWritableValue& Value, float V) override;
    void SetDouble(TDBXWritableValue& Value, double V) override;
    void SetDate(TDBXWritableValue& Value, TDBXDate V) override;
    void SetTime(TDBXWritableValue& Value, TDBXTime V) override;
    void SetTimeStamp(TDBXWritableValue& Value, const TSQLTimeStamp& V) override;
    void SetTimeStampOffset(TDBXWritableValue& Value, const TSQLTimeStampOffset& V) override;
    void SetBcd(TDBXWritableValue& Value, const TBcd& V) override;
    void SetAnsiString(TDBXWritableValue& Value, std::string_view V) override;
    void SetWideString(TDBXWritableValue& Value, std::u16string_view V) override;
    void SetStream(TDBXWritableValue& Value, TStream& V) override;
    void SetJSONValue(TDBXWritableValue& Value, const TJSONValue& V) override;
    void SetCallbackValue(TDBXWritableValue& Value) override;
    // The reader's row handle as an integer field.
    void SetDBXReader(TDBXWritableValue& Value, TDBXReader& V) override;
    // Writes nothing.
    void SetDBXConnection(TDBXWritableValue& Value) override;

private:
    TDBXRowBuffer& At(const TDBXValue& Value);

    std::unique_ptr<TDBXRowBuffer> FOwnedRowBuffer;
    TDBXRowBuffer* FDbxRowBuffer;
    int32_t FRowHandle = -1;
    int32_t FBcdFormat = 0;
    std::vector<uint8_t> FOverflow; // scratch, moved into the value when used
};

} // namespace kds
