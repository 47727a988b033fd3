#include "data/DBXCallback.h"

#include "data/DBXJSON.h"

namespace kds {

int32_t TDBXCallback::AddRef() {
    return FFRefCount.fetch_add(1) + 1;
}

int32_t TDBXCallback::Release() {
    const int32_t Count = FFRefCount.fetch_sub(1) - 1;
    if (Count <= 0)
        delete this;
    return Count;
}

void TDBXCallback::SetConnectionHandler(TDBXConnectionHandler*) {}
void TDBXCallback::SetDsServer(TDSServer*) {}
void TDBXCallback::SetOrdinal(int32_t) {}
bool TDBXCallback::GetConnectionLost() const {
    return false;
}

TDBXCallbackDelegate::~TDBXCallbackDelegate() {
    if (FDelegate)
        FDelegate->Release();
}

std::unique_ptr<TJSONValue> TDBXCallbackDelegate::Execute(TJSONValue* Arg) {
    return FDelegate ? FDelegate->Execute(Arg) : nullptr;
}

std::unique_ptr<TObject> TDBXCallbackDelegate::Execute(TObject* Arg) {
    return FDelegate ? FDelegate->Execute(Arg) : nullptr;
}

void TDBXCallbackDelegate::SetConnectionHandler(TDBXConnectionHandler* Handler) {
    FConnectionHandler = Handler;
    if (FDelegate)
        FDelegate->SetConnectionHandler(Handler);
}

void TDBXCallbackDelegate::SetDsServer(TDSServer* Server) {
    FDsServer = Server;
    if (FDelegate)
        FDelegate->SetDsServer(Server);
}

void TDBXCallbackDelegate::SetOrdinal(int32_t Ordinal) {
    FOrdinal = Ordinal;
    if (FDelegate)
        FDelegate->SetOrdinal(Ordinal);
}

bool TDBXCallbackDelegate::GetConnectionLost() const {
    return FDelegate ? FDelegate->GetConnectionLost() : false;
}

void TDBXCallbackDelegate::SetDelegate(TDBXCallback* Delegate) {
    if (Delegate == FDelegate)
        return;
    // Take the new reference before dropping the old one, so that replacing
    // a delegate by one it holds cannot free the new one on the way.
    if (Delegate)
        Delegate->AddRef();
    TDBXCallback* Old = FDelegate;
    FDelegate = Delegate;
    if (Old)
        Old->Release();
    if (FDelegate) {
        FDelegate->SetConnectionHandler(FConnectionHandler);
        FDelegate->SetDsServer(FDsServer);
        FDelegate->SetOrdinal(FOrdinal);
    }
}

} // namespace kds
