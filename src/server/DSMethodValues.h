#pragma once

// The argument and result values of one server-method call, as the method
// table's invokers see them.
//
// One TDSArgValue per declared parameter, plus one for the result. Which
// accessor an invoker uses follows the parameter's declared type:
//
//   declared type                           slot holds        accessor
//   --------------------------------------  ----------------  --------------------
//   string, WideString                      UTF-16 text       Text / SetText
//   AnsiString                              8-bit text        AnsiText / SetAnsiText
//   Boolean                                 bool              Boolean / SetBoolean
//   Byte ShortInt Word SmallInt Integer     integer           Integer / SetInteger
//   Int64 TDBXDate TDBXTime
//   Single Double TDateTime                 floating point    Float / SetFloat
//   Currency                                decimal           Bcd / SetBcd
//   TDBXReader (and TDataSet, TParams)      reader            Reader / SetReader
//   TJSONValue and kin, other classes       JSON tree         Json / SetJson
//   TStream, OleVariant                     stream            Stream / SetStream
//   TDBXCallback                            callback          Callback
//   TDBXConnection                          connection        Connection / SetConnection
//   typed-value classes (TDBXInt32Value..)  the value itself  ValueObject
//
// Ownership: objects handed IN (readers, JSON trees, streams, callbacks,
// connections, value objects) stay the server's; a method that keeps one
// beyond the call copies it (Clone) or takes a reference (callbacks: AddRef).
// Objects handed OUT through SetReader/SetJson/SetStream with Owned true
// become the server's, which frees them with the call's values (the next
// execution, ClearResources or the end of the command). Connections are never
// owned.
//
// Threads: the values belong to the command's connection thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/TBcd.h"

namespace kds {

class TDBXReader;
class TDBXConnection;
class TDBXCallback;
class TDBXWritableValue;
class TJSONValue;
class TStream;

class TDSArgValue {
public:
    enum class TKind : uint8_t {
        Null,
        Boolean,
        Integer,
        Float,
        Text,
        AnsiText,
        Bcd,
        Reader,
        Json,
        Stream,
        Callback,
        Connection,
        ValueObject
    };

    TDSArgValue() = default;
    TDSArgValue(const TDSArgValue&) = delete;
    TDSArgValue& operator=(const TDSArgValue&) = delete;
    ~TDSArgValue() { ReleaseObject(); }

    TKind Kind() const { return FKind; }
    bool IsNull() const { return FKind == TKind::Null; }
    // Frees an owned object; the slot becomes null. Text keeps its memory.
    void SetNull();

    bool Boolean() const { return FInteger != 0; }
    void SetBoolean(bool Value);
    int64_t Integer() const { return FInteger; }
    void SetInteger(int64_t Value);
    double Float() const { return FFloat; }
    void SetFloat(double Value);
    const std::u16string& Text() const { return FText; }
    void SetText(const std::u16string& Value);
    void SetText(std::u16string&& Value);
    const std::string& AnsiText() const { return FAnsiText; }
    void SetAnsiText(const std::string& Value);
    const TBcd& Bcd() const { return FBcd; }
    void SetBcd(const TBcd& Value);

    // nullptr unless the slot holds that kind.
    TDBXReader* Reader() const {
        return Is(TKind::Reader) ? static_cast<TDBXReader*>(FObject) : nullptr;
    }
    TJSONValue* Json() const {
        return Is(TKind::Json) ? static_cast<TJSONValue*>(FObject) : nullptr;
    }
    TStream* Stream() const { return Is(TKind::Stream) ? static_cast<TStream*>(FObject) : nullptr; }
    TDBXCallback* Callback() const {
        return Is(TKind::Callback) ? static_cast<TDBXCallback*>(FObject) : nullptr;
    }
    TDBXConnection* Connection() const {
        return Is(TKind::Connection) ? static_cast<TDBXConnection*>(FObject) : nullptr;
    }
    TDBXWritableValue* ValueObject() const {
        return Is(TKind::ValueObject) ? static_cast<TDBXWritableValue*>(FObject) : nullptr;
    }
    // Owned: the slot frees the object when it is replaced or nulled.
    // nullptr makes the slot null.
    void SetReader(TDBXReader* Value, bool Owned);
    void SetJson(TJSONValue* Value, bool Owned);
    void SetStream(TStream* Value, bool Owned);
    void SetReader(std::unique_ptr<TDBXReader> Value);
    void SetJson(std::unique_ptr<TJSONValue> Value);
    void SetStream(std::unique_ptr<TStream> Value);
    void SetCallback(TDBXCallback* Value);
    void SetConnection(TDBXConnection* Value);
    void SetValueObject(TDBXWritableValue* Value);

    bool OwnsObject() const { return FOwnsObject; }
    // Hands an owned object over to the caller (the slot keeps pointing at
    // it, no longer owning it).
    void DisownObject() { FOwnsObject = false; }

private:
    bool Is(TKind Kind) const { return FKind == Kind; }
    void SetObject(TKind Kind, void* Object, bool Owned);
    void ReleaseObject();

    TKind FKind = TKind::Null;
    int64_t FInteger = 0;
    double FFloat = 0;
    std::u16string FText;
    std::string FAnsiText;
    TBcd FBcd;
    void* FObject = nullptr;
    bool FOwnsObject = false;
};

class TDSMethodValues {
public:
    TDSMethodValues() = default;
    TDSMethodValues(const TDSMethodValues&) = delete;
    TDSMethodValues& operator=(const TDSMethodValues&) = delete;

    // Sizes the argument slots (kept between executions).
    void SetCount(int32_t Count);
    int32_t Count() const { return static_cast<int32_t>(FMethodValues.size()); }
    TDSArgValue& Arg(int32_t Index) { return *FMethodValues.at(static_cast<size_t>(Index)); }
    TDSArgValue& Result() { return FReturnValue; }

    // Releases the values of the previous execution (owned objects freed).
    void ClearReferenceParameters();

    // In-process calls leave made objects to the caller.
    bool ServerSideCommand() const { return FServerSideCommand; }
    void SetServerSideCommand(bool Value) { FServerSideCommand = Value; }

private:
    std::vector<std::unique_ptr<TDSArgValue>> FMethodValues;
    TDSArgValue FReturnValue;
    bool FServerSideCommand = false;
};

} // namespace kds
