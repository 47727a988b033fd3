#include "server/DSServer.h"

#include <algorithm>

#include "base/DBXError.h"
#include "data/DBXJSON.h"
#include "server/DSDriverRegistry.h"
#include "server/DSServerConnection.h"
#include "server/DSServerConnectionHandler.h"
#include "server/DSServerMethodProvider.h"
#include "server/wire/DbxChannel.h"

namespace kds {

namespace {

// The process-wide list of servers, in creation order.
std::mutex& ServerListLock() {
    static std::mutex Lock;
    return Lock;
}
std::vector<TDSServer*>& ServerList() {
    static std::vector<TDSServer*> List;
    return List;
}

} // namespace

// --- Components ------------------------------------------------------------

TDSServerComponent::~TDSServerComponent() {
    SetServer(nullptr);
}

void TDSServerComponent::SetServer(TDSServer* Server) {
    if (Server == FServer)
        return;
    if (FServer != nullptr)
        FServer->Detach(*this);
    FServer = Server;
    if (FServer != nullptr)
        FServer->Attach(*this);
}

TDBXConnectionHandlerFactory TDSServerTransport::ConnectionHandlerFactory() {
    return [this](TDBXContext* DbxContext, std::unique_ptr<TDbxChannel> Channel,
                  TDBXConnectionHandler* OutputHandler) -> std::unique_ptr<TDBXConnectionHandler> {
        return std::make_unique<TDSServerConnectionHandler>(DbxContext, std::move(Channel),
                                                            OutputHandler, Server(), this);
    };
}

TDSServerClass::TDSServerClass(std::u16string Name) : TDSCustomServerClass(std::move(Name)) {
    SetLifeCycle(u"Session");
}

const TDSClass& TDSServerClass::GetDSClass() {
    const TDSClass* Class = nullptr;
    if (OnGetClass)
        OnGetClass(*this, Class);
    if (Class == nullptr) {
        const std::string Text = "OnGetClass event not set or it did not provide a class reference";
        if (Server() != nullptr)
            Server()->DbxContext()->Error(TDBXErrorCodes::InvalidArgument, Text);
        throw TDBXError(TDBXErrorCodes::InvalidArgument, Text);
    }
    return *Class;
}

// --- Server ------------------------------------------------------------------

TDSServer::TDSServer() : FName(u"DSServer") {
    std::lock_guard<std::mutex> Guard(ServerListLock());
    ServerList().push_back(this);
}

TDSServer::~TDSServer() {
    try {
        Stop();
    } catch (...) {
        // Destruction goes on whatever a transport's stop raised.
    }
    for (TDSServerComponent* Component : FComponentList)
        Component->FServer = nullptr;
    FComponentList.clear();
    std::lock_guard<std::mutex> Guard(ServerListLock());
    auto& List = ServerList();
    List.erase(std::remove(List.begin(), List.end(), this), List.end());
}

TDSServer* TDSServer::FindServer(std::u16string_view Name) {
    std::lock_guard<std::mutex> Guard(ServerListLock());
    for (TDSServer* Server : ServerList())
        if (Server->FName == Name)
            return Server;
    return nullptr;
}

void TDSServer::SetName(std::u16string Name) {
    // The list is read by name under its lock.
    std::lock_guard<std::mutex> Guard(ServerListLock());
    FName = std::move(Name);
}

void TDSServer::Attach(TDSServerComponent& Component) {
    if (std::find(FComponentList.begin(), FComponentList.end(), &Component) == FComponentList.end())
        FComponentList.push_back(&Component);
}

void TDSServer::Detach(TDSServerComponent& Component) {
    FComponentList.erase(std::remove(FComponentList.begin(), FComponentList.end(), &Component),
                         FComponentList.end());
}

std::shared_ptr<TDSServerMethodProvider> TDSServer::MethodProvider() const {
    std::lock_guard<std::mutex> Guard(FProviderLock);
    return FServerMethodProvider;
}

void TDSServer::Start() {
    if (!FStarted) {
        std::vector<TDSServerTransport*> Started;
        try {
            for (TDSServerComponent* Component : FComponentList) {
                auto* Transport = dynamic_cast<TDSServerTransport*>(Component);
                if (Transport == nullptr)
                    continue;
                Transport->SetDbxContext(&FDbxContext);
                Transport->Start();
                Started.push_back(Transport);
            }
            auto Provider = std::make_shared<TDSServerMethodProvider>(this, &FDbxContext);
            Provider->Open();
            {
                std::lock_guard<std::mutex> Guard(FProviderLock);
                FServerMethodProvider = std::move(Provider);
            }
            FStarted = true;
        } catch (...) {
            for (auto It = Started.rbegin(); It != Started.rend(); ++It) {
                try {
                    (*It)->Stop();
                } catch (...) {
                    // The start's own error is the one that matters.
                }
            }
            std::lock_guard<std::mutex> Guard(FProviderLock);
            FServerMethodProvider.reset();
            throw;
        }
    }
    TDBXDriverRegistry::RegisterDriver(FName, *this);
}

void TDSServer::Stop() {
    if (!FStarted)
        return;
    FCallbackRepository.ShutDown();
    std::exception_ptr FirstError;
    for (TDSServerComponent* Component : std::vector<TDSServerComponent*>(FComponentList)) {
        auto* Transport = dynamic_cast<TDSServerTransport*>(Component);
        if (Transport == nullptr)
            continue;
        try {
            Transport->Stop();
        } catch (...) {
            if (!FirstError)
                FirstError = std::current_exception();
        }
    }
    std::shared_ptr<TDSServerMethodProvider> Provider;
    {
        std::lock_guard<std::mutex> Guard(FProviderLock);
        Provider.swap(FServerMethodProvider);
    }
    Provider.reset();
    FStarted = false;
    TDBXDriverRegistry::UnregisterDriver(FName, *this);
    if (FirstError)
        std::rethrow_exception(FirstError);
}

std::unique_ptr<TDSServerConnection> TDSServer::GetServerConnection(TDBXProperties Properties) {
    Properties.SetValue(u"DriverName", FName);
    return TDBXConnectionFactory::GetServerConnection(Properties);
}

// --- Channels -------------------------------------------------------------------

namespace {

constexpr const char* PermissionDenied =
    "The current session does not have permission to perform the requested action.";

std::shared_ptr<const TJSONValue> Shared(std::unique_ptr<TJSONValue> Msg) {
    if (!Msg)
        Msg = std::make_unique<TJSONNull>();
    return std::shared_ptr<const TJSONValue>(std::move(Msg));
}

} // namespace

bool TDSServer::Granted(TDSCallbackRepository::TAccess Access) const {
    if (Access == TDSCallbackRepository::TAccess::Denied)
        FDbxContext.Error(TDBXErrorCodes::None, PermissionDenied);
    return Access == TDSCallbackRepository::TAccess::Done;
}

bool TDSServer::BroadcastMessage(const std::u16string& ChannelName, std::unique_ptr<TJSONValue> Msg,
                                 int32_t ArgType) {
    // One item serves every tunnel: nothing in a broadcast item changes.
    return FCallbackRepository.Broadcast(
        ChannelName, TDSCallbackTunnelBufferItem::Broadcast(Shared(std::move(Msg)), ArgType));
}

bool TDSServer::BroadcastMessage(const std::u16string& ChannelName,
                                 const std::u16string& CallbackId, std::unique_ptr<TJSONValue> Msg,
                                 int32_t ArgType) {
    // Nobody waits for these answers, so one item may serve every tunnel:
    // the first answer completes it and the others are ignored.
    return FCallbackRepository.BroadcastTo(
        ChannelName, CallbackId,
        TDSCallbackTunnelBufferItem::Targeted(CallbackId, Shared(std::move(Msg)), ArgType));
}

bool TDSServer::BroadcastObject(const std::u16string& ChannelName,
                                std::unique_ptr<TJSONValue> Msg) {
    return BroadcastMessage(ChannelName, std::move(Msg), ObjectArgument);
}

bool TDSServer::BroadcastObject(const std::u16string& ChannelName, const std::u16string& CallbackId,
                                std::unique_ptr<TJSONValue> Msg) {
    return BroadcastMessage(ChannelName, CallbackId, std::move(Msg), ObjectArgument);
}

bool TDSServer::NotifyCallback(const std::u16string& ChannelName, const std::u16string& ClientId,
                               const std::u16string& CallbackId, std::unique_ptr<TJSONValue> Msg,
                               std::unique_ptr<TJSONValue>& Response, int64_t TimeoutMs,
                               int32_t ArgType) {
    Response.reset();
    auto Item = TDSCallbackTunnelBufferItem::Targeted(CallbackId, Shared(std::move(Msg)), ArgType);
    {
        // The tunnel is let go of before the wait: a tunnel that ends while
        // this thread waits completes the item as failed, which wakes it.
        const auto Tunnel = FCallbackRepository.FindTunnel(ChannelName, ClientId, CallbackId);
        if (!Tunnel || !Tunnel->Push(Item))
            return false;
    }
    if (!Item->WaitForResponse(TimeoutMs))
        return false;
    Response = Item->TakeResponse();
    return Response != nullptr && !Item->Failed();
}

bool TDSServer::NotifyObject(const std::u16string& ChannelName, const std::u16string& ClientId,
                             const std::u16string& CallbackId, std::unique_ptr<TJSONValue> Msg,
                             std::unique_ptr<TJSONValue>& Response, int64_t TimeoutMs) {
    return NotifyCallback(ChannelName, ClientId, CallbackId, std::move(Msg), Response, TimeoutMs,
                          ObjectArgument);
}

std::shared_ptr<TDSCallbackTunnel>
TDSServer::CreateChannelTunnel(const std::u16string& ChannelName, const std::u16string& ClientId,
                               const std::u16string& CallbackId,
                               const std::u16string& SecurityToken, TDSCallbackTunnel::TKind Kind) {
    return FCallbackRepository.CreateTunnel(ChannelName, ClientId, CallbackId, SecurityToken,
                                            FChannelQueueSize, Kind);
}

bool TDSServer::RegisterChannelCallback(const std::u16string& ChannelName,
                                        const std::u16string& ClientId,
                                        const std::u16string& CallbackId,
                                        const std::u16string& SecurityToken) {
    return Granted(
        FCallbackRepository.AddCallbackId(ChannelName, ClientId, CallbackId, SecurityToken));
}

bool TDSServer::UnregisterChannelCallback(const std::u16string& ChannelName,
                                          const std::u16string& ClientId,
                                          const std::u16string& SecurityToken, TDSTunnelEnd End) {
    return Granted(FCallbackRepository.CloseTunnel(ChannelName, ClientId, SecurityToken,
                                                   End == TDSTunnelEnd::AtOnce));
}

bool TDSServer::UnregisterChannelCallback(const std::u16string& ChannelName,
                                          const std::u16string& ClientId,
                                          const std::u16string& CallbackId,
                                          const std::u16string& SecurityToken) {
    return Granted(
        FCallbackRepository.RemoveCallbackId(ChannelName, ClientId, CallbackId, SecurityToken));
}

void TDSServer::UnregisterChannelCallback(const std::u16string& ChannelName,
                                          TDSCallbackTunnel& Tunnel, bool DoBroadcast) {
    FCallbackRepository.RemoveTunnel(ChannelName, Tunnel, DoBroadcast);
}

std::shared_ptr<TDSCallbackTunnel>
TDSServer::GetCallbackTunnel(const std::u16string& ChannelName,
                             const std::u16string& ClientManagerId) {
    return FCallbackRepository.FindTunnel(ChannelName, ClientManagerId);
}

bool TDSServer::HasChannelCallback(const std::u16string& ChannelName) const {
    return FCallbackRepository.HasChannel(ChannelName);
}

bool TDSServer::HasChannelCallback(const std::u16string& ChannelName,
                                   const std::u16string& ClientId) const {
    return FCallbackRepository.HasClient(ChannelName, ClientId);
}

std::vector<std::u16string>
TDSServer::GetAllChannelClientId(const std::u16string& ChannelName) const {
    return FCallbackRepository.ClientIds(ChannelName);
}

std::vector<std::u16string>
TDSServer::GetAllChannelCallbackId(const std::u16string& ChannelName) const {
    return FCallbackRepository.CallbackIds(ChannelName);
}

} // namespace kds
