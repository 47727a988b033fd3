#include "server/wire/DBXServerCallback.h"

#include <vector>

#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "data/DBXJSON.h"
#include "data/TDBXValueType.h"
#include "server/wire/DBXJSonServerInputConnectionHandler.h"
#include "server/wire/DBXStream.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {
constexpr int32_t CallbackErrorCode = 32;
}

TDBXServerCallback::TDBXServerCallback(TDBXConnectionHandler* Handler, TDSServer* Server,
                                       int32_t Ordinal)
    : FDsServer(Server), FOrdinal(Ordinal) {
    SetConnectionHandler(Handler);
}

void TDBXServerCallback::SetConnectionHandler(TDBXConnectionHandler* Handler) {
    FConnectionHandler = dynamic_cast<TDBXJSonServerInputConnectionHandler*>(Handler);
    FBoundThread = std::this_thread::get_id();
    FBoundRequest = FConnectionHandler != nullptr ? FConnectionHandler->RequestSerial() : 0;
}

bool TDBXServerCallback::GetConnectionLost() const {
    return FConnectionHandler != nullptr && FConnectionHandler->GetConnectionLost();
}

void TDBXServerCallback::CheckBound() const {
    // Only the connection's own thread, inside the request that bound the
    // callback, may use the connection's stream.
    if (FConnectionHandler == nullptr || std::this_thread::get_id() != FBoundThread ||
        !FConnectionHandler->InRequest() || FConnectionHandler->RequestSerial() != FBoundRequest)
        throw TDBXError(30, "The callback is not bound to the running request");
}

std::unique_ptr<TJSONValue> TDBXServerCallback::Execute(TJSONValue* Arg) {
    if (Arg == nullptr) {
        TJSONNull Null;
        return ExecuteJSON(Null, JsonArgument);
    }
    return ExecuteJSON(*Arg, JsonArgument);
}

std::unique_ptr<TObject> TDBXServerCallback::Execute(TObject*) {
    throw TDBXError(TDBXErrorCodes::NotSupported,
                    "Object arguments need a marshaller, and none is configured");
}

std::unique_ptr<TJSONValue> TDBXServerCallback::ExecuteJSON(const TJSONValue& Arg,
                                                            int32_t ArgKind) {
    CheckBound();
    TDBXContext* Context = FConnectionHandler->DbxContext();
    TDBXJSonStreamWriter& W = FConnectionHandler->StreamWriter();
    TDBXJSonStreamReader& R = FConnectionHandler->StreamReader();
    W.WriteCallback(FOrdinal, ArgKind, Arg);

    R.Next(TDBXTokens::ObjectStart);
    R.Next(TDBXTokens::StringStart);
    const int32_t Key = R.ReadStringCode();
    if (Key == TDBXStringCodes::Error)
        R.ReadErrorBody();
    if (Key != TDBXStringCodes::Data) {
        // Pass over the rest of the answer, so that the connection stays in
        // step when it can; a malformed rest is dropped with the buffer.
        try {
            R.SkipToEndOfObject();
        } catch (const TDBXError&) {
        }
        RaiseDBXError(Context, CallbackErrorCode, "Invalid callback message format");
    }
    R.Next(TDBXTokens::NameSeparator);
    R.Next(TDBXTokens::ArrayStart);
    const int32_t Count = R.ReadInt();
    if (Count < 0 || Count > WireLimits::MaxBlockBytes)
        R.BoundExceeded("Byte count " + std::to_string(Count) + " is outside 0.." +
                        std::to_string(WireLimits::MaxBlockBytes));
    R.NextValueSeparator();
    std::vector<uint8_t> Bytes(static_cast<size_t>(Count));
    R.ReadDataBytes(Bytes.data(), 0, Count);
    R.SkipToEndOfObject();

    std::unique_ptr<TJSONValue> Answer;
    try {
        Answer = TJSONObject::ParseJSONValue(Bytes.data(), 0, Count, true);
    } catch (const TJSONException&) {
        Answer.reset();
    }
    if (!Answer)
        RaiseDBXError(Context, CallbackErrorCode,
                      "Cannot parse properly the callback output argument");
    return Answer;
}

} // namespace kds
