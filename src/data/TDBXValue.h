#pragma once

// Typed values: one class per data type, made by TDBXValue::CreateValue.
//
// A value has a value type (which it owns when it was created with an owned
// one, and only refers to when it is a parameter's), a null flag, and,
// attached to a row, a generation: reading compares the generation with the
// row's and decodes the field again when they differ; setting stores the
// value locally, marks it pending and takes the row's generation, without
// touching the row. Flush writes the pending value into the row.
//
// Every typed getter and setter that a class does not support raises
// TDBXError 7 "<value's type> value type cannot be accessed as <asked type>
// value type". Plain getters of a null value answer the zero value of their
// kind; the defaultValue forms answer the default.
//
// Ownership: JSON trees, readers and streams are held with an instance-owner
// flag (AInstanceOwner): an owned one is freed when it is replaced, nulled or
// the value is destroyed. Callbacks are counted (AddRef on store, Release on
// replace or destroy). Connections are never owned.
//
// A value belongs to its command's thread; nothing locks.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/MaybeOwned.h"
#include "data/DBXDataTypes.h"
#include "data/SQLTimeStamp.h"
#include "data/TBcd.h"
#include "data/TDBXValueType.h"
#include "data/TStream.h"

namespace kds {

class TDBXContext;
class TDBXFormatter;
class TDBXRow;
class TDBXReader;
class TDBXConnection;
class TDBXCallback;
class TJSONValue;
class TObject;
class TDBXWritableValue;

class TDBXValue {
public:
    TDBXValue(const TDBXValue&) = delete;
    TDBXValue& operator=(const TDBXValue&) = delete;
    virtual ~TDBXValue();

    // Sets the read-only-type flag when asked, lets the row offer a class of
    // its own, else makes the class of the data type (TDBXError 3
    // "Unexpected data type <code>" for a code without one), and attaches
    // the row to type and value. ValueType is not owned by the value.
    static std::unique_ptr<TDBXWritableValue> CreateValue(TDBXContext* DBXContext,
                                                          TDBXValueType* ValueType, TDBXRow* DbxRow,
                                                          bool ReadOnlyType);
    // The same with a type the value owns.
    static std::unique_ptr<TDBXWritableValue> CreateValue(TDBXContext* DBXContext,
                                                          std::unique_ptr<TDBXValueType> ValueType,
                                                          TDBXRow* DbxRow, bool ReadOnlyType);
    static std::unique_ptr<TDBXWritableValue> CreateValue(std::unique_ptr<TDBXValueType> ValueType);

    TDBXValueType& ValueType() const { return *FValueType; }
    TDBXRow* DbxRow() const { return FDbxRow; }
    void SetDbxRow(TDBXRow* Row) { FDbxRow = Row; }
    int64_t Generation() const { return FGeneration; }
    TDBXContext* DBXContext() const { return FDBXContext; }
    // Hands ownership of the value type to the value.
    void AdoptValueType(std::unique_ptr<TDBXValueType> ValueType);

    // --- Typed getters ---
    virtual bool IsNull();
    virtual int64_t GetValueSize();
    virtual std::string GetAnsiString();
    virtual TDBXDate GetDate();
    virtual bool GetBoolean();
    virtual TDBXTime GetTime();
    virtual std::u16string GetWideString();
    // The UTF-16 text of a text value.
    virtual std::u16string GetString();
    virtual uint8_t GetUInt8();
    virtual int8_t GetInt8();
    virtual uint16_t GetUInt16();
    virtual int16_t GetInt16();
    virtual int32_t GetInt32();
    virtual int64_t GetInt64();
    virtual float GetSingle();
    virtual double GetDouble();
    virtual std::vector<uint8_t> GetBytes();
    virtual TSQLTimeStamp GetTimeStamp();
    virtual TSQLTimeStampOffset GetTimeStampOffset();
    virtual TBcd GetBcd();
    // The forms with AInstanceOwner hand the object out and set whether the
    // value still owns it to the argument; the plain forms leave it as it is.
    virtual TDBXReader* GetDBXReader();
    virtual TDBXReader* GetDBXReader(bool AInstanceOwner);
    virtual TDBXConnection* GetDBXConnection();
    virtual TStream* GetStream();
    virtual TStream* GetStream(bool AInstanceOwner);
    virtual TJSONValue* GetJSONValue();
    virtual TJSONValue* GetJSONValue(bool AInstanceOwner);
    // The callback held (the value keeps its reference).
    virtual TDBXCallback* GetCallbackValue();
    virtual TObject* GetObjectValue();
    virtual TObject* GetObjectValue(bool AInstanceOwner);

    std::u16string GetWideString(const std::u16string& defaultValue);
    bool GetBoolean(bool defaultValue);
    uint8_t GetUInt8(uint8_t defaultValue);
    int8_t GetInt8(int8_t defaultValue);
    uint16_t GetUInt16(uint16_t defaultValue);
    int16_t GetInt16(int16_t defaultValue);
    int32_t GetInt32(int32_t defaultValue);
    int64_t GetInt64(int64_t defaultValue);

    // Same kind only (another kind raises the type-access error). Nulls are
    // equal to each other and order before everything else.
    virtual bool EqualsValue(TDBXValue& Other);
    virtual int32_t Compare(TDBXValue& Other);

    // --- Conversions. By default the typed getter of the same kind; text
    // values convert (see TDBXTextValue), other values give their text form
    // through AsString. ---
    virtual std::u16string AsString();
    virtual std::string AsAnsiString();
    virtual bool AsBoolean();
    virtual int8_t AsInt8();
    virtual uint8_t AsUInt8();
    virtual int16_t AsInt16();
    virtual uint16_t AsUInt16();
    virtual int32_t AsInt32();
    virtual int64_t AsInt64();
    virtual float AsSingle();
    virtual double AsDouble();
    virtual TDBXDate AsDate();
    virtual TDBXTime AsTime();
    virtual TSQLTimeStamp AsTimeStamp();
    virtual TBcd AsBcd();
    virtual TDateTime AsDateTime();

    // The part of the last written field that did not fit inline, to be
    // fetched by the peer as a blob; nullptr when nothing is left.
    virtual TStream* OverflowStream() { return FOverflow.get(); }
    // Hands that part over (nullptr when nothing is left); the value keeps
    // none of it. A stream value gives a copy of the bytes its stream still
    // holds after the inline part and leaves its own stream at the end.
    virtual std::unique_ptr<TStream> TakeOverflow();

    // Encodes the value as one field at Row's write position, whatever row
    // the value reads from: a null value as null, any other as its field
    // (what does not fit inline stays with this value, see TakeOverflow).
    // This is how the rows of a reader are streamed: the reader's values
    // write themselves into the batch. Values that cannot be written raise
    // TDBXError 27; writing raises what the row raises.
    virtual void WriteInto(TDBXRow& Row);

protected:
    explicit TDBXValue(TDBXValueType* ValueType);

    // Decodes the field again when the row has moved on.
    void Sync();
    virtual void ReadFromRow(TDBXRow& Row) = 0;
    virtual void AfterRead() {}
    [[noreturn]] void Unsupported(int32_t AskedDataType) const;
    const TDBXFormatter& Formatter() const;

    std::unique_ptr<TDBXValueType> FOwnedValueType;
    TDBXValueType* FValueType; // FOwnedValueType or the parameter's own
    int64_t FGeneration = -1;
    bool FIsNull = true;
    TDBXRow* FDbxRow = nullptr; // not owned
    TDBXContext* FDBXContext = nullptr;
    std::unique_ptr<TMemoryStream> FOverflow;
};

class TDBXWritableValue : public TDBXValue {
public:
    virtual void SetNull();
    virtual void SetTimeStamp(const TSQLTimeStamp& Value);
    virtual void SetTimeStampOffset(const TSQLTimeStampOffset& Value);
    virtual void SetBcd(const TBcd& Value);
    virtual void SetAnsiString(const std::string& Value);
    virtual void SetBoolean(bool Value);
    virtual void SetDate(TDBXDate Value);
    virtual void SetTime(TDBXTime Value);
    virtual void SetWideString(const std::u16string& Value);
    virtual void SetString(const std::u16string& Value);
    virtual void SetUInt8(uint8_t Value);
    virtual void SetInt8(int8_t Value);
    virtual void SetUInt16(uint16_t Value);
    virtual void SetInt16(int16_t Value);
    virtual void SetInt32(int32_t Value);
    virtual void SetInt64(int64_t Value);
    virtual void SetSingle(float Value);
    virtual void SetDouble(double Value);
    // The value becomes Length bytes of Buffer from BufferOffset, placed at
    // Offset (zeros before it).
    virtual void SetStaticBytes(int64_t Offset, const uint8_t* Buffer, int64_t BufferOffset,
                                int64_t Length);
    virtual void SetDynamicBytes(int64_t Offset, const std::vector<uint8_t>& Buffer,
                                 int64_t BufferOffset, int64_t Length);
    virtual void SetDBXReader(TDBXReader* Value, bool AInstanceOwner);
    virtual void SetStream(TStream* Stream, bool AInstanceOwner);
    virtual void SetDBXConnection(TDBXConnection* Value);
    virtual void SetJSONValue(TJSONValue* Value, bool AInstanceOwner);
    virtual void SetObjectValue(TObject* Value, bool AInstanceOwner);
    virtual void SetCallbackValue(TDBXCallback* Value);
    // Copies a value of the same kind; a null source makes this value null.
    virtual void SetValue(TDBXValue& Value);
    void MarkAsPending() { FSetPending = true; }
    bool SetPending() const { return FSetPending; }

    // Writes the value into its row at the row's write position, as a
    // parameter flush does: a value that is not pending raises TDBXError 11
    // "Parameter not set for column number <ordinal>" for out and return
    // parameters and is written as null otherwise; a pending null is written
    // as null; anything else as its field. Clears the pending flag.
    void Flush();

    // Used by rows: what did not fit inline (empty: nothing left).
    void SetOverflow(std::vector<uint8_t> Rest);

    void WriteInto(TDBXRow& Row) override;

protected:
    using TDBXValue::TDBXValue;

    // After a local set: not null, pending, the row's generation.
    void Stored();
    void AfterRead() override { FSetPending = false; }
    // Frees or resets the storage when the value becomes null.
    virtual void ClearValue() {}
    // Encodes the (non-null) value as its field.
    virtual void WriteToRow(TDBXRow& Row) = 0;

    bool FSetPending = false;
};

// ---------------------------------------------------------------------------
// Scalar values: one storage slot of a fixed kind.

enum class TDBXScalarKind {
    Boolean,
    Int8,
    UInt8,
    Int16,
    UInt16,
    Int32,
    Int64,
    Single,
    Double,
    Date,
    Time,
    TimeStamp,
    TimeStampOffset,
    Bcd
};

template <TDBXScalarKind Kind, typename T> class TDBXScalarValue : public TDBXWritableValue {
public:
    bool GetBoolean() override;
    int8_t GetInt8() override;
    uint8_t GetUInt8() override;
    int16_t GetInt16() override;
    uint16_t GetUInt16() override;
    int32_t GetInt32() override;
    int64_t GetInt64() override;
    float GetSingle() override;
    double GetDouble() override;
    TDBXDate GetDate() override;
    TDBXTime GetTime() override;
    TSQLTimeStamp GetTimeStamp() override;
    TSQLTimeStampOffset GetTimeStampOffset() override;
    TBcd GetBcd() override;
    using TDBXValue::GetBoolean;
    using TDBXValue::GetInt16;
    using TDBXValue::GetInt32;
    using TDBXValue::GetInt64;
    using TDBXValue::GetInt8;
    using TDBXValue::GetUInt16;
    using TDBXValue::GetUInt8;

    void SetBoolean(bool V) override;
    void SetInt8(int8_t V) override;
    void SetUInt8(uint8_t V) override;
    void SetInt16(int16_t V) override;
    void SetUInt16(uint16_t V) override;
    void SetInt32(int32_t V) override;
    void SetInt64(int64_t V) override;
    void SetSingle(float V) override;
    void SetDouble(double V) override;
    void SetDate(TDBXDate V) override;
    void SetTime(TDBXTime V) override;
    void SetTimeStamp(const TSQLTimeStamp& V) override;
    void SetTimeStampOffset(const TSQLTimeStampOffset& V) override;
    void SetBcd(const TBcd& V) override;

    int64_t GetValueSize() override;
    void SetValue(TDBXValue& Other) override;
    bool EqualsValue(TDBXValue& Other) override;
    int32_t Compare(TDBXValue& Other) override;
    // The text form: "True"/"False", decimal digits, the general float
    // format with the process-wide separator, the formatter's date forms.
    std::u16string AsString() override;
    std::string AsAnsiString() override;
    TDateTime AsDateTime() override;

protected:
    using TDBXWritableValue::TDBXWritableValue;

    T Get() {
        Sync();
        return FValue;
    }
    void Put(const T& V) {
        FValue = V;
        Stored();
    }
    // The same kind's getter of another value.
    static T Fetch(TDBXValue& Other);
    void ReadFromRow(TDBXRow& Row) override;
    void WriteToRow(TDBXRow& Row) override;
    void ClearValue() override { FValue = T{}; }

    T FValue{};
};

#define KDS_SCALAR_VALUE(Name, Kind, Type)                                                         \
    class Name : public TDBXScalarValue<TDBXScalarKind::Kind, Type> {                              \
    public:                                                                                        \
        explicit Name(TDBXValueType* ValueType) : TDBXScalarValue(ValueType) {}                    \
    }

KDS_SCALAR_VALUE(TDBXBooleanValue, Boolean, bool);
KDS_SCALAR_VALUE(TDBXInt8Value, Int8, int8_t);
KDS_SCALAR_VALUE(TDBXUInt8Value, UInt8, uint8_t);
KDS_SCALAR_VALUE(TDBXInt16Value, Int16, int16_t);
KDS_SCALAR_VALUE(TDBXUInt16Value, UInt16, uint16_t);
KDS_SCALAR_VALUE(TDBXInt32Value, Int32, int32_t);
KDS_SCALAR_VALUE(TDBXInt64Value, Int64, int64_t);
KDS_SCALAR_VALUE(TDBXSingleValue, Single, float);
// Written as a 4-byte single when the sub type is 27.
KDS_SCALAR_VALUE(TDBXDoubleValue, Double, double);
KDS_SCALAR_VALUE(TDBXDateValue, Date, TDBXDate);
KDS_SCALAR_VALUE(TDBXTimeValue, Time, TDBXTime);
KDS_SCALAR_VALUE(TDBXTimeStampValue, TimeStamp, TSQLTimeStamp);
KDS_SCALAR_VALUE(TDBXTimeStampOffsetValue, TimeStampOffset, TSQLTimeStampOffset);
// BCD and currency; written as decimal text with ".".
KDS_SCALAR_VALUE(TDBXBcdValue, Bcd, TBcd);

#undef KDS_SCALAR_VALUE

// ---------------------------------------------------------------------------
// Text values. 8-bit text holds one byte per character (codes 0 to 255);
// UTF-16 text holds code units.
//
// Conversions of text: integers with the integer parse (0 when the text is
// not an integer of that width), floating point with the process-wide
// decimal separator (0 when not a number), Boolean true exactly for "True",
// dates, times, timestamps and BCD through the formatter (EConvertError when
// the text does not convert).

template <typename S> class TDBXTextValue : public TDBXWritableValue {
public:
    std::string GetAnsiString() override;
    void SetAnsiString(const std::string& V) override;
    std::u16string GetWideString() override;
    void SetWideString(const std::u16string& V) override;
    using TDBXValue::GetWideString;
    std::u16string GetString() override;
    void SetString(const std::u16string& V) override;

    int64_t GetValueSize() override;
    void SetValue(TDBXValue& Other) override;
    bool EqualsValue(TDBXValue& Other) override;
    int32_t Compare(TDBXValue& Other) override;

    std::u16string AsString() override;
    std::string AsAnsiString() override;
    bool AsBoolean() override;
    int8_t AsInt8() override;
    uint8_t AsUInt8() override;
    int16_t AsInt16() override;
    uint16_t AsUInt16() override;
    int32_t AsInt32() override;
    int64_t AsInt64() override;
    float AsSingle() override;
    double AsDouble() override;
    TDBXDate AsDate() override;
    TDBXTime AsTime() override;
    TSQLTimeStamp AsTimeStamp() override;
    TBcd AsBcd() override;
    TDateTime AsDateTime() override;

    // The cached text without a copy (synchronised with the row first).
    const S& Text() {
        Sync();
        return FValue;
    }

protected:
    using TDBXWritableValue::TDBXWritableValue;

    // The text as 8-bit text (UTF-16 units above 255 become '?').
    std::string Narrow();
    std::u16string Wide();
    bool ToInt64(int64_t& V, int64_t Min, int64_t Max);
    void ReadFromRow(TDBXRow& Row) override;
    void WriteToRow(TDBXRow& Row) override;
    void ClearValue() override { FValue.clear(); }

    S FValue;
};

#define KDS_TEXT_VALUE(Name, Storage)                                                              \
    class Name : public TDBXTextValue<Storage> {                                                   \
    public:                                                                                        \
        explicit Name(TDBXValueType* ValueType) : TDBXTextValue(ValueType) {}                      \
    }

KDS_TEXT_VALUE(TDBXAnsiStringBuilderValue, std::string);
KDS_TEXT_VALUE(TDBXAnsiCharsValue, std::string);
KDS_TEXT_VALUE(TDBXAnsiMemoValue, std::string);
KDS_TEXT_VALUE(TDBXWideStringBuilderValue, std::u16string);
KDS_TEXT_VALUE(TDBXWideCharsValue, std::u16string);
KDS_TEXT_VALUE(TDBXWideMemoValue, std::u16string);

#undef KDS_TEXT_VALUE

// ---------------------------------------------------------------------------

// The value of a parameter of data type 0: always null.
class TDBXNullValue : public TDBXWritableValue {
public:
    explicit TDBXNullValue(TDBXValueType* ValueType) : TDBXWritableValue(ValueType) {}
    bool IsNull() override { return true; }

protected:
    void ReadFromRow(TDBXRow&) override {}
    void WriteToRow(TDBXRow& Row) override;
};

// A cursor (data type 17): always null.
class TDBXCursorValue : public TDBXNullValue {
public:
    using TDBXNullValue::TDBXNullValue;
};

// Blobs, bytes, binary blobs and variants, held as a stream.
class TDBXStreamValue : public TDBXWritableValue {
public:
    // Out of line, like the destructor: both may free the object held,
    // whose class is complete only in the .cpp file.
    explicit TDBXStreamValue(TDBXValueType* ValueType);
    ~TDBXStreamValue() override;

    int64_t GetValueSize() override;
    // All bytes of the stream (its position is kept).
    std::vector<uint8_t> GetBytes() override;
    TStream* GetStream() override;
    TStream* GetStream(bool AInstanceOwner) override;
    void SetStream(TStream* Stream, bool AInstanceOwner) override;
    void SetStaticBytes(int64_t Offset, const uint8_t* Buffer, int64_t BufferOffset,
                        int64_t Length) override;
    void SetDynamicBytes(int64_t Offset, const std::vector<uint8_t>& Buffer, int64_t BufferOffset,
                         int64_t Length) override;
    void SetValue(TDBXValue& Other) override;
    bool EqualsValue(TDBXValue& Other) override;
    int32_t Compare(TDBXValue& Other) override;
    std::u16string AsString() override;
    // The stream itself while bytes remain after the last write.
    TStream* OverflowStream() override;
    std::unique_ptr<TStream> TakeOverflow() override;

protected:
    void ReadFromRow(TDBXRow& Row) override;
    void WriteToRow(TDBXRow& Row) override;
    void ClearValue() override;
    void Replace(TStream* Stream, bool Owns);

    TMaybeOwned<TStream> FStream;
    bool FWritten = false;
};

// A tabular result (data type 23). Its field carries the reader's row handle;
// the reader itself arrives separately, so reading from a row changes nothing.
class TDBXReaderValue : public TDBXWritableValue {
public:
    // Out of line, like the destructor: both may free the object held,
    // whose class is complete only in the .cpp file.
    explicit TDBXReaderValue(TDBXValueType* ValueType);
    ~TDBXReaderValue() override;

    TDBXReader* GetDBXReader() override;
    TDBXReader* GetDBXReader(bool AInstanceOwner) override;
    void SetDBXReader(TDBXReader* Value, bool AInstanceOwner) override;
    void SetValue(TDBXValue& Other) override;
    // Hands over the reader when the value owns it (nullptr otherwise); the
    // value still refers to it without owning it, until it is set or nulled.
    std::unique_ptr<TDBXReader> TakeReader();

protected:
    void ReadFromRow(TDBXRow&) override {}
    void WriteToRow(TDBXRow& Row) override;
    void ClearValue() override;

    TMaybeOwned<TDBXReader> FReader;
};

// A database connection (data type 34); not owned, and no field is written.
class TDBXConnectionValue : public TDBXWritableValue {
public:
    explicit TDBXConnectionValue(TDBXValueType* ValueType) : TDBXWritableValue(ValueType) {}

    TDBXConnection* GetDBXConnection() override;
    void SetDBXConnection(TDBXConnection* Value) override;
    void SetValue(TDBXValue& Other) override;

protected:
    void ReadFromRow(TDBXRow&) override {}
    void WriteToRow(TDBXRow& Row) override;
    void ClearValue() override { FConnection = nullptr; }

    TDBXConnection* FConnection = nullptr;
};

// A JSON tree (data type 37), read from a JSON block of the row.
class TDBXJSONValue : public TDBXWritableValue {
public:
    // Out of line, like the destructor: both may free the object held,
    // whose class is complete only in the .cpp file.
    explicit TDBXJSONValue(TDBXValueType* ValueType);
    ~TDBXJSONValue() override;

    TJSONValue* GetJSONValue() override;
    TJSONValue* GetJSONValue(bool AInstanceOwner) override;
    void SetJSONValue(TJSONValue* Value, bool AInstanceOwner) override;
    // Only a JSON value is accepted (an object whose class is also a
    // TJSONValue); anything else raises the type-access error.
    void SetObjectValue(TObject* Value, bool AInstanceOwner) override;
    TObject* GetObjectValue() override;
    TObject* GetObjectValue(bool AInstanceOwner) override;
    // The tree's Value (empty text for none).
    std::u16string GetWideString() override;
    using TDBXValue::GetWideString;
    void SetValue(TDBXValue& Other) override;

    int32_t EstimatedByteSize();
    // Writes the tree's byte form at Data[Offset...]; the position after it.
    int32_t ToBytes(uint8_t* Data, int32_t Offset);

protected:
    void ReadFromRow(TDBXRow& Row) override;
    void WriteToRow(TDBXRow& Row) override;
    void ClearValue() override;

    TMaybeOwned<TJSONValue> FJsonValue;
};

// A callback (data type 38), held with a counted reference. A new value holds
// a fresh TDBXCallbackDelegate; null means no callback is held. Its field is
// only a mark; the callback itself travels separately.
class TDBXCallbackValue : public TDBXWritableValue {
public:
    explicit TDBXCallbackValue(TDBXValueType* ValueType);
    ~TDBXCallbackValue() override;

    bool IsNull() override;
    TDBXCallback* GetCallbackValue() override;
    void SetCallbackValue(TDBXCallback* Value) override;
    void SetValue(TDBXValue& Other) override;

protected:
    void ReadFromRow(TDBXRow& Row) override;
    void WriteToRow(TDBXRow& Row) override;
    void ClearValue() override;
    void Replace(TDBXCallback* Value);

    TDBXCallback* FCallback = nullptr; // one counted reference
};

} // namespace kds
