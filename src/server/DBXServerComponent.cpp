#include "server/DBXServerComponent.h"

#include <exception>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "server/DSAdminDeclarations.h"
#include "server/DSCallbackTunnel.h"
#include "server/DSMethodValues.h"
#include "server/DSReflect.h"
#include "server/DSServer.h"
#include "server/DSServerConnectionHandler.h"
#include "server/wire/DBXJSonServerInputConnectionHandler.h"
#include "server/wire/DBXServerCallback.h"
#include "server/wire/DBXStream.h"
#include "server/wire/DbxChannel.h"

namespace kds {

namespace {

using namespace AdminDeclarations;

using TItem = TDSCallbackTunnel::TItem;
using TWaitResult = TDSCallbackTunnel::TWaitResult;

// Seconds from a client to milliseconds, in 64 bits; negative: no limit.
int64_t TimeoutMilliseconds(int64_t Seconds) {
    return Seconds < 0 ? -1 : Seconds * 1000;
}

std::unique_ptr<TJSONValue> CopyOrNull(const TJSONValue* Value) {
    if (Value == nullptr)
        return std::make_unique<TJSONNull>();
    return Value->Clone();
}

std::unique_ptr<TJSONObject> SinglePair(const std::u16string& Name, TJSONValue* Value) {
    auto Object = std::make_unique<TJSONObject>();
    Object->AddPair(Name, Value);
    return Object;
}

std::unique_ptr<TJSONObject> ErrorObject(const std::u16string& Text) {
    return SinglePair(u"error", new TJSONString(Text));
}

// {"broadcast":[message,argType]} or {"invoke":[callbackId,message,argType]}.
std::unique_ptr<TJSONObject> ItemMessage(const TDSCallbackTunnelBufferItem& Item) {
    auto* Body = new TJSONArray();
    if (!Item.IsBroadcast())
        Body->Add(Item.CallbackId());
    Body->AddElement(Item.Msg()->Clone().release());
    Body->Add(Item.ArgType());
    return SinglePair(Item.IsBroadcast() ? u"broadcast" : u"invoke", Body);
}

// The callback bound to the calling connection, or nullptr.
TDBXCallbackDelegate* BoundDelegate(TDBXCallback* Callback) {
    auto* Delegate = dynamic_cast<TDBXCallbackDelegate*>(Callback);
    return Delegate != nullptr && Delegate->Delegate() != nullptr ? Delegate : nullptr;
}

int WatchOf(const TDbxChannel* Channel) {
    return Channel != nullptr ? Channel->WatchDescriptor() : -1;
}

// The descriptor that tells when the connection a callback writes to hangs up.
int WatchOf(TDBXCallbackDelegate& Delegate) {
    auto* Server = dynamic_cast<TDBXServerCallback*>(Delegate.Delegate());
    if (Server == nullptr || Server->ConnectionHandler() == nullptr)
        return -1;
    return WatchOf(Server->ConnectionHandler()->StreamReader().DbxChannel());
}

std::u16string ErrorText(std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& E) {
        return Utf8ToUtf16(E.what());
    } catch (...) {
        return u"Unknown error";
    }
}

// Takes a tunnel out of its channel and ends it on every way out of its
// consumer: out of the list first, so that no broadcast reaches it, then
// shut down, which completes whatever is still queued.
class TTunnelEnd {
public:
    TTunnelEnd(TDSServer& Server, const std::u16string& ChannelName,
               std::shared_ptr<TDSCallbackTunnel> Tunnel)
        : FServer(Server), FChannelName(ChannelName), FTunnel(std::move(Tunnel)) {}
    TTunnelEnd(const TTunnelEnd&) = delete;
    TTunnelEnd& operator=(const TTunnelEnd&) = delete;
    ~TTunnelEnd() {
        FServer.UnregisterChannelCallback(FChannelName, *FTunnel, false);
        FTunnel->ShutDown();
    }

private:
    TDSServer& FServer;
    const std::u16string& FChannelName;
    std::shared_ptr<TDSCallbackTunnel> FTunnel;
};

} // namespace

std::u16string TDBXServerComponent::GetDSServerName() const {
    return std::u16string();
}

TDSServerConnectionHandler* TDBXServerComponent::ChannelConnection() const {
    return nullptr;
}

TDSServer* TDBXServerComponent::ChannelServer() const {
    return TDSServer::FindServer(GetDSServerName());
}

// --- Push form --------------------------------------------------------------------

bool TDBXServerComponent::ConnectClientChannel(const std::u16string& ChannelName,
                                               const std::u16string& ChannelId,
                                               const std::u16string& CallbackId,
                                               const std::u16string& SecurityToken,
                                               TDBXCallback* ChannelCallback) {
    return ServeChannel(ChannelName, ChannelId, CallbackId, SecurityToken, ChannelCallback, -1);
}

bool TDBXServerComponent::ConnectClientChannelTimeout(const std::u16string& ChannelName,
                                                      const std::u16string& ChannelId,
                                                      const std::u16string& CallbackId,
                                                      const std::u16string& SecurityToken,
                                                      TDBXCallback* ChannelCallback,
                                                      int32_t Timeout) {
    return ServeChannel(ChannelName, ChannelId, CallbackId, SecurityToken, ChannelCallback,
                        TimeoutMilliseconds(Timeout));
}

bool TDBXServerComponent::ServeChannel(const std::u16string& ChannelName,
                                       const std::u16string& ChannelId,
                                       const std::u16string& CallbackId,
                                       const std::u16string& SecurityToken,
                                       TDBXCallback* ChannelCallback, int64_t TimeoutMs) {
    TDBXCallbackDelegate* Delegate = BoundDelegate(ChannelCallback);
    if (ChannelServer() == nullptr || Delegate == nullptr || Delegate->DsServer() == nullptr)
        return false;
    TDSServer& Server = *Delegate->DsServer();
    std::shared_ptr<TDSCallbackTunnel> Tunnel =
        Server.CreateChannelTunnel(ChannelName, ChannelId, CallbackId, SecurityToken);
    if (!Tunnel)
        return false;
    const TTunnelEnd End(Server, ChannelName, Tunnel);
    const int Watch = WatchOf(*Delegate);
    for (;;) {
        TItem Item;
        // Timed out, shut down, the close message, or a connection that went
        // away: the tunnel ends and the call answers true.
        if (Tunnel->Pop(Item, TimeoutMs, Watch) != TWaitResult::Item || Item->IsClose())
            return true;
        if (Item->IsBroadcast()) {
            // The client's answer is discarded; a failure ends the call.
            Delegate->Execute(ItemMessage(*Item).get());
            continue;
        }
        try {
            std::unique_ptr<TJSONValue> Answer = Delegate->Execute(ItemMessage(*Item).get());
            Item->Complete(std::move(Answer), false);
        } catch (...) {
            Item->Complete(ErrorObject(ErrorText(std::current_exception())), true);
            if (Delegate->GetConnectionLost())
                return true;
        }
    }
}

// --- Polling form -------------------------------------------------------------------

std::unique_ptr<TJSONValue> TDBXServerComponent::ConsumeClientChannel(
    const std::u16string& ChannelName, const std::u16string& ClientManagerId,
    const std::u16string& CallbackId, const std::u16string& SecurityToken,
    const TJSONValue* ResponseData) {
    return Consume(ChannelName, ClientManagerId, CallbackId, SecurityToken, -1, ResponseData);
}

std::unique_ptr<TJSONValue> TDBXServerComponent::ConsumeClientChannelTimeout(
    const std::u16string& ChannelName, const std::u16string& ClientManagerId,
    const std::u16string& CallbackId, const std::u16string& SecurityToken, int32_t Timeout,
    const TJSONValue* ResponseData) {
    return Consume(ChannelName, ClientManagerId, CallbackId, SecurityToken,
                   TimeoutMilliseconds(Timeout), ResponseData);
}

std::unique_ptr<TJSONValue> TDBXServerComponent::Consume(const std::u16string& ChannelName,
                                                         const std::u16string& ClientManagerId,
                                                         const std::u16string& CallbackId,
                                                         const std::u16string& SecurityToken,
                                                         int64_t TimeoutMs,
                                                         const TJSONValue* ResponseData) {
    TDSServer* Server = ChannelServer();
    if (Server == nullptr)
        return ErrorObject(GetDSServerName());
    if (!CallbackId.empty()) {
        if (!Server->CreateChannelTunnel(ChannelName, ClientManagerId, CallbackId, SecurityToken,
                                         TDSCallbackTunnel::TKind::Polled))
            return ErrorObject(ChannelName + u":" + ClientManagerId + u":" + CallbackId);
        auto* Created = new TJSONObject();
        Created->AddPair(u"created", new TJSONTrue());
        auto* Body = new TJSONArray();
        Body->Add(CallbackId);
        Body->Add(Created);
        Body->Add(int32_t(1));
        return SinglePair(u"invoke", Body);
    }

    const std::shared_ptr<TDSCallbackTunnel> Tunnel =
        Server->GetCallbackTunnel(ChannelName, ClientManagerId);
    // A tunnel served by a ConnectClientChannel call, or being polled
    // already, has its one consumer.
    if (!Tunnel || Tunnel->Kind() != TDSCallbackTunnel::TKind::Polled || !Tunnel->BeginPoll())
        return ErrorObject(ChannelName + u":" + ClientManagerId);
    struct TPollEnd {
        TDSServer& Server;
        TDSCallbackTunnel& Tunnel;
        ~TPollEnd() { Tunnel.EndPoll(Server.CallbackRepository().Now()); }
    } PollEnd{*Server, *Tunnel};

    if (const TItem Previous = Tunnel->TakeHandedOut(); Previous && !Previous->IsBroadcast())
        Previous->Complete(CopyOrNull(ResponseData), false);

    TDSServerConnectionHandler* Connection = ChannelConnection();
    TItem Item;
    const TWaitResult Result = Tunnel->Pop(
        Item, TimeoutMs, WatchOf(Connection != nullptr ? Connection->Channel() : nullptr));
    if (Result == TWaitResult::ConnectionLost)
        // Whatever is queued waits for the client's next poll.
        throw TDBXError(TDBXErrorCodes::None, "Connection lost");
    if (Result == TWaitResult::Item && !Item->IsClose()) {
        Tunnel->SetHandedOut(Item);
        if (Connection != nullptr)
            Connection->SetReplyLostHandler([Tunnel, Item] { Tunnel->HandOutAgain(Item); });
        return ItemMessage(*Item);
    }
    const TTunnelEnd End(*Server, ChannelName, Tunnel);
    return SinglePair(Result == TWaitResult::TimedOut ? u"timeout" : u"close", new TJSONTrue());
}

// --- Closing, callback ids, broadcast, notification ------------------------------------

bool TDBXServerComponent::CloseClientChannel(const std::u16string& ChannelName,
                                             const std::u16string& ChannelId,
                                             const std::u16string& SecurityToken) {
    TDSServer* Server = ChannelServer();
    if (Server == nullptr)
        return false;
    try {
        return Server->UnregisterChannelCallback(ChannelName, ChannelId, SecurityToken,
                                                 TDSTunnelEnd::WhenConsumed);
    } catch (const TDBXError&) {
        return false;
    }
}

bool TDBXServerComponent::RegisterClientCallback(const std::u16string& ChannelName,
                                                 const std::u16string& ChannelId,
                                                 const std::u16string& CallbackId,
                                                 const std::u16string& SecurityToken,
                                                 TDBXCallback* ChannelCallback) {
    TDSServer* Server = ChannelServer();
    if (Server == nullptr || BoundDelegate(ChannelCallback) == nullptr)
        return false;
    return Server->RegisterChannelCallback(ChannelName, ChannelId, CallbackId, SecurityToken);
}

bool TDBXServerComponent::RegisterClientCallbackServer(const std::u16string& ChannelName,
                                                       const std::u16string& ChannelId,
                                                       const std::u16string& CallbackId,
                                                       const std::u16string& SecurityToken) {
    TDSServer* Server = ChannelServer();
    if (Server == nullptr)
        return false;
    try {
        return Server->RegisterChannelCallback(ChannelName, ChannelId, CallbackId, SecurityToken);
    } catch (const std::exception&) {
        return false;
    }
}

bool TDBXServerComponent::UnregisterClientCallback(const std::u16string& ChannelName,
                                                   const std::u16string& ChannelId,
                                                   const std::u16string& CallbackId,
                                                   const std::u16string& SecurityToken) {
    TDSServer* Server = ChannelServer();
    if (Server == nullptr)
        return false;
    try {
        return Server->UnregisterChannelCallback(ChannelName, ChannelId, CallbackId, SecurityToken);
    } catch (const std::exception&) {
        return false;
    }
}

bool TDBXServerComponent::BroadcastToChannel(const std::u16string& ChannelName,
                                             const TJSONValue* Msg) {
    TDSServer* Server = ChannelServer();
    return Server != nullptr &&
           Server->BroadcastMessage(ChannelName, CopyOrNull(Msg), TDSServer::JsonArgument);
}

bool TDBXServerComponent::BroadcastObjectToChannel(const std::u16string& ChannelName,
                                                   const TJSONValue* Msg) {
    TDSServer* Server = ChannelServer();
    return Server != nullptr && Server->BroadcastObject(ChannelName, CopyOrNull(Msg));
}

bool TDBXServerComponent::NotifyCallback(const std::u16string& ChannelName,
                                         const std::u16string& ClientId,
                                         const std::u16string& CallbackId, const TJSONValue* Msg,
                                         std::unique_ptr<TJSONValue>& Response) {
    TDSServer* Server = ChannelServer();
    Response.reset();
    return Server != nullptr &&
           Server->NotifyCallback(ChannelName, ClientId, CallbackId, CopyOrNull(Msg), Response);
}

bool TDBXServerComponent::NotifyObject(const std::u16string& ChannelName,
                                       const std::u16string& ClientId,
                                       const std::u16string& CallbackId, const TJSONValue* Msg,
                                       std::unique_ptr<TJSONValue>& Response) {
    TDSServer* Server = ChannelServer();
    Response.reset();
    return Server != nullptr &&
           Server->NotifyObject(ChannelName, ClientId, CallbackId, CopyOrNull(Msg), Response);
}

// --- Method table -----------------------------------------------------------------------

const TDSClass& TDBXServerComponent::ClassInfo() {
    static const TDSClass Class(
        u"TDBXServerComponent", AdminUnit, nullptr, nullptr,
        {
            {u"ConsumeClientChannel",
             {In(u"ChannelName", String), In(u"ClientManagerId", String), In(u"CallbackId", String),
              In(u"SecurityToken", String), In(u"ResponseData", Json)},
             Json,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetJson(DSSelf<TDBXServerComponent>(Self).ConsumeClientChannel(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Text(),
                     V.Arg(4).Json()));
             }},
            {u"ConsumeClientChannelTimeout",
             {In(u"ChannelName", String), In(u"ClientManagerId", String), In(u"CallbackId", String),
              In(u"SecurityToken", String), In(u"Timeout", Integer), In(u"ResponseData", Json)},
             Json,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetJson(DSSelf<TDBXServerComponent>(Self).ConsumeClientChannelTimeout(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Text(),
                     static_cast<int32_t>(V.Arg(4).Integer()), V.Arg(5).Json()));
             }},
            {u"ConnectClientChannel",
             {In(u"ChannelName", String), In(u"ChannelId", String), In(u"CallbackId", String),
              In(u"SecurityToken", String), In(u"ChannelCallback", Callback)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).ConnectClientChannel(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Text(),
                     V.Arg(4).Callback()));
             }},
            {u"ConnectClientChannelTimeout",
             {In(u"ChannelName", String), In(u"ChannelId", String), In(u"CallbackId", String),
              In(u"SecurityToken", String), In(u"ChannelCallback", Callback),
              In(u"Timeout", Integer)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(
                     DSSelf<TDBXServerComponent>(Self).ConnectClientChannelTimeout(
                         V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Text(),
                         V.Arg(4).Callback(), static_cast<int32_t>(V.Arg(5).Integer())));
             }},
            {u"CloseClientChannel",
             {In(u"ChannelName", String), In(u"ChannelId", String), In(u"SecurityToken", String)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).CloseClientChannel(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text()));
             }},
            {u"RegisterClientCallback",
             {In(u"ChannelName", String), In(u"ChannelId", String), In(u"CallbackId", String),
              In(u"SecurityToken", String), In(u"ChannelCallback", Callback)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).RegisterClientCallback(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Text(),
                     V.Arg(4).Callback()));
             }},
            {u"RegisterClientCallbackServer",
             {In(u"ChannelName", String), In(u"ChannelId", String), In(u"CallbackId", String),
              In(u"SecurityToken", String)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(
                     DSSelf<TDBXServerComponent>(Self).RegisterClientCallbackServer(
                         V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Text()));
             }},
            {u"UnregisterClientCallback",
             {In(u"ChannelName", String), In(u"ChannelId", String), In(u"CallbackId", String),
              In(u"SecurityToken", String)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).UnregisterClientCallback(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Text()));
             }},
            {u"BroadcastToChannel",
             {In(u"ChannelName", String), In(u"Msg", Json)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).BroadcastToChannel(
                     V.Arg(0).Text(), V.Arg(1).Json()));
             }},
            {u"BroadcastObjectToChannel",
             {In(u"ChannelName", String), In(u"Msg", Object)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).BroadcastObjectToChannel(
                     V.Arg(0).Text(), V.Arg(1).Json()));
             }},
            {u"NotifyCallback",
             {In(u"ChannelName", String), In(u"ClientId", String), In(u"CallbackId", String),
              In(u"Msg", Json), Out(u"Response", Json)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 std::unique_ptr<TJSONValue> Response;
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).NotifyCallback(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Json(), Response));
                 V.Arg(4).SetJson(std::move(Response));
             }},
            {u"NotifyObject",
             {In(u"ChannelName", String), In(u"ClientId", String), In(u"CallbackId", String),
              In(u"Msg", Object), Out(u"Response", Object)},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 std::unique_ptr<TJSONValue> Response;
                 V.Result().SetBoolean(DSSelf<TDBXServerComponent>(Self).NotifyObject(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text(), V.Arg(3).Json(), Response));
                 V.Arg(4).SetJson(std::move(Response));
             }},
        });
    return Class;
}

} // namespace kds
