#include "server/DSMethodValues.h"

#include "data/DBXCallback.h"
#include "data/DBXJSON.h"
#include "data/TDBXReader.h"
#include "data/TStream.h"

namespace kds {

void TDSArgValue::ReleaseObject() {
    if (FOwnsObject && FObject != nullptr) {
        switch (FKind) {
        case TKind::Reader:
            delete static_cast<TDBXReader*>(FObject);
            break;
        case TKind::Json:
            delete static_cast<TJSONValue*>(FObject);
            break;
        case TKind::Stream:
            delete static_cast<TStream*>(FObject);
            break;
        default:
            break;
        }
    }
    FObject = nullptr;
    FOwnsObject = false;
}

void TDSArgValue::SetNull() {
    ReleaseObject();
    FKind = TKind::Null;
    FInteger = 0;
    FFloat = 0;
    FText.clear();
    FAnsiText.clear();
}

void TDSArgValue::SetBoolean(bool Value) {
    ReleaseObject();
    FKind = TKind::Boolean;
    FInteger = Value ? 1 : 0;
}

void TDSArgValue::SetInteger(int64_t Value) {
    ReleaseObject();
    FKind = TKind::Integer;
    FInteger = Value;
}

void TDSArgValue::SetFloat(double Value) {
    ReleaseObject();
    FKind = TKind::Float;
    FFloat = Value;
}

void TDSArgValue::SetText(const std::u16string& Value) {
    ReleaseObject();
    FKind = TKind::Text;
    FText = Value;
}

void TDSArgValue::SetText(std::u16string&& Value) {
    ReleaseObject();
    FKind = TKind::Text;
    FText = std::move(Value);
}

void TDSArgValue::SetAnsiText(const std::string& Value) {
    ReleaseObject();
    FKind = TKind::AnsiText;
    FAnsiText = Value;
}

void TDSArgValue::SetBcd(const TBcd& Value) {
    ReleaseObject();
    FKind = TKind::Bcd;
    FBcd = Value;
}

void TDSArgValue::SetObject(TKind Kind, void* Object, bool Owned) {
    if (Object == FObject && Kind == FKind) {
        // The same object again: only the ownership may change.
        FOwnsObject = FOwnsObject || Owned;
        return;
    }
    ReleaseObject();
    if (Object == nullptr) {
        FKind = TKind::Null;
        return;
    }
    FKind = Kind;
    FObject = Object;
    FOwnsObject = Owned;
}

void TDSArgValue::SetReader(TDBXReader* Value, bool Owned) {
    SetObject(TKind::Reader, Value, Owned);
}
void TDSArgValue::SetJson(TJSONValue* Value, bool Owned) {
    SetObject(TKind::Json, Value, Owned);
}
void TDSArgValue::SetStream(TStream* Value, bool Owned) {
    SetObject(TKind::Stream, Value, Owned);
}
void TDSArgValue::SetReader(std::unique_ptr<TDBXReader> Value) {
    SetObject(TKind::Reader, Value.release(), true);
}
void TDSArgValue::SetJson(std::unique_ptr<TJSONValue> Value) {
    SetObject(TKind::Json, Value.release(), true);
}
void TDSArgValue::SetStream(std::unique_ptr<TStream> Value) {
    SetObject(TKind::Stream, Value.release(), true);
}
void TDSArgValue::SetCallback(TDBXCallback* Value) {
    SetObject(TKind::Callback, Value, false);
}
void TDSArgValue::SetConnection(TDBXConnection* Value) {
    SetObject(TKind::Connection, Value, false);
}
void TDSArgValue::SetValueObject(TDBXWritableValue* Value) {
    SetObject(TKind::ValueObject, Value, false);
}

void TDSMethodValues::SetCount(int32_t Count) {
    FMethodValues.resize(static_cast<size_t>(Count));
    for (auto& Slot : FMethodValues)
        if (!Slot)
            Slot = std::make_unique<TDSArgValue>();
}

void TDSMethodValues::ClearReferenceParameters() {
    for (auto& Slot : FMethodValues)
        Slot->SetNull();
    FReturnValue.SetNull();
}

} // namespace kds
