#include "server/DSCallbackRepository.h"

#include <algorithm>
#include <iterator>
#include <system_error>

namespace kds {

using TTunnelPtr = TDSCallbackRepository::TTunnelPtr;

TTunnelPtr TDSCallbackRepository::FindLocked(const std::u16string& ChannelName,
                                             const std::u16string& ClientId) const {
    const auto It = FChannels.find(ChannelName);
    if (It == FChannels.end())
        return nullptr;
    for (const TTunnelPtr& Tunnel : It->second)
        if (Tunnel->IsClient(ClientId))
            return Tunnel;
    return nullptr;
}

bool TDSCallbackRepository::Erase(TTunnelList& List, const TDSCallbackTunnel& Tunnel) {
    const auto Found =
        std::find_if(List.begin(), List.end(), [&](const auto& T) { return T.get() == &Tunnel; });
    if (Found == List.end())
        return false;
    List.erase(Found);
    return true;
}

void TDSCallbackRepository::SweepLocked(TTunnelList& List, TClock::time_point Now,
                                        TTunnelList& Expired) {
    for (auto It = List.begin(); It != List.end();) {
        if ((*It)->Kind() == TDSCallbackTunnel::TKind::Polled &&
            (*It)->IdleLongerThan(Now, FPollIdleLimit)) {
            Expired.push_back(std::move(*It));
            It = List.erase(It);
        } else {
            ++It;
        }
    }
}

void TDSCallbackRepository::ShutDownAll(TTunnelList& Tunnels) {
    for (const TTunnelPtr& Tunnel : Tunnels)
        Tunnel->ShutDown();
    Tunnels.clear();
}

TTunnelPtr TDSCallbackRepository::CreateTunnel(const std::u16string& ChannelName,
                                               const std::u16string& ClientId,
                                               const std::u16string& CallbackId,
                                               const std::u16string& SecurityToken,
                                               int32_t QueueSize, TDSCallbackTunnel::TKind Kind) {
    TTunnelList Expired;
    TTunnelPtr Tunnel;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        const TClock::time_point Now = FClock ? FClock() : TClock::now();
        for (auto& [Name, List] : FChannels)
            SweepLocked(List, Now, Expired);
        if (!FindLocked(ChannelName, ClientId)) {
            Tunnel =
                std::make_shared<TDSCallbackTunnel>(ClientId, SecurityToken, QueueSize, Kind, Now);
            if (!CallbackId.empty())
                Tunnel->AddCallbackId(CallbackId);
            FChannels[ChannelName].push_back(Tunnel);
        }
    }
    ShutDownAll(Expired);
    return Tunnel;
}

void TDSCallbackRepository::AddTunnel(const std::u16string& ChannelName, TTunnelPtr Tunnel) {
    std::lock_guard<std::mutex> Guard(FLock);
    FChannels[ChannelName].push_back(std::move(Tunnel));
}

TTunnelPtr TDSCallbackRepository::FindTunnel(const std::u16string& ChannelName,
                                             const std::u16string& ClientId) const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FindLocked(ChannelName, ClientId);
}

TTunnelPtr TDSCallbackRepository::FindTunnel(const std::u16string& ChannelName,
                                             const std::u16string& ClientId,
                                             const std::u16string& CallbackId) const {
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    if (It == FChannels.end())
        return nullptr;
    for (const TTunnelPtr& Tunnel : It->second)
        if (Tunnel->IsClient(ClientId) && Tunnel->HasCallbackId(CallbackId))
            return Tunnel;
    return nullptr;
}

bool TDSCallbackRepository::Broadcast(const std::u16string& ChannelName, const TItem& Item) {
    TTunnelList Expired;
    TTunnelList Queued;
    bool Answer = false;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        const auto It = FChannels.find(ChannelName);
        if (It == FChannels.end())
            return false;
        TTunnelList& List = It->second;
        SweepLocked(List, FClock ? FClock() : TClock::now(), Expired);
        if (!List.empty()) {
            Answer = true;
            Queued.reserve(List.size());
            for (size_t I = List.size(); I-- > 0;) {
                if (List[I]->PushWithoutWaking(Item)) {
                    Queued.push_back(List[I]);
                    continue;
                }
                Answer = false;
                // A tunnel that has ended has no business in the list.
                if (List[I]->IsShutDown())
                    List.erase(List.begin() + static_cast<std::ptrdiff_t>(I));
            }
        }
    }
    WakeLater(std::move(Queued));
    ShutDownAll(Expired);
    return Answer;
}

void TDSCallbackRepository::WakeLater(TTunnelList Tunnels) {
    if (Tunnels.empty())
        return;
    {
        std::lock_guard<std::mutex> Guard(FWakeLock);
        if (!FWaker.joinable() && !FWakerStop) {
            try {
                FWaker = std::thread([this] { WakerLoop(); });
            } catch (const std::system_error&) {
                // No thread to spare: wake them here, below.
            }
        }
        if (FWaker.joinable()) {
            FToWake.insert(FToWake.end(), std::make_move_iterator(Tunnels.begin()),
                           std::make_move_iterator(Tunnels.end()));
            Tunnels.clear();
        }
    }
    if (Tunnels.empty()) {
        FWakeCondition.notify_one();
        return;
    }
    for (const TTunnelPtr& Tunnel : Tunnels)
        Tunnel->WakeConsumer();
}

void TDSCallbackRepository::WakerLoop() {
    std::unique_lock<std::mutex> Lock(FWakeLock);
    for (;;) {
        FWakeCondition.wait(Lock, [this] { return FWakerStop || !FToWake.empty(); });
        if (FToWake.empty())
            return; // stopped with nothing left to wake
        TTunnelList Batch;
        Batch.swap(FToWake);
        Lock.unlock();
        for (const TTunnelPtr& Tunnel : Batch)
            Tunnel->WakeConsumer();
        // A tunnel only this batch still held is freed here, without a lock.
        Batch.clear();
        Lock.lock();
    }
}

TDSCallbackRepository::~TDSCallbackRepository() {
    {
        std::lock_guard<std::mutex> Guard(FWakeLock);
        FWakerStop = true;
    }
    FWakeCondition.notify_one();
    if (FWaker.joinable())
        FWaker.join();
}

bool TDSCallbackRepository::BroadcastTo(const std::u16string& ChannelName,
                                        const std::u16string& CallbackId, const TItem& Item) {
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    if (It == FChannels.end())
        return false;
    bool Any = false;
    bool Answer = true;
    for (auto T = It->second.rbegin(); T != It->second.rend(); ++T) {
        if (!(*T)->HasCallbackId(CallbackId))
            continue;
        Any = true;
        if (!(*T)->Push(Item))
            Answer = false;
    }
    return Any && Answer;
}

TDSCallbackRepository::TAccess TDSCallbackRepository::AddCallbackId(
    const std::u16string& ChannelName, const std::u16string& ClientId,
    const std::u16string& CallbackId, const std::u16string& SecurityToken) {
    std::lock_guard<std::mutex> Guard(FLock);
    const TTunnelPtr Tunnel = FindLocked(ChannelName, ClientId);
    if (!Tunnel)
        return TAccess::NotFound;
    if (Tunnel->SecurityToken() != SecurityToken)
        return TAccess::Denied;
    return Tunnel->AddCallbackId(CallbackId) ? TAccess::Done : TAccess::Unchanged;
}

TDSCallbackRepository::TAccess TDSCallbackRepository::RemoveCallbackId(
    const std::u16string& ChannelName, const std::u16string& ClientId,
    const std::u16string& CallbackId, const std::u16string& SecurityToken) {
    std::lock_guard<std::mutex> Guard(FLock);
    const TTunnelPtr Tunnel = FindLocked(ChannelName, ClientId);
    if (!Tunnel)
        return TAccess::NotFound;
    if (Tunnel->SecurityToken() != SecurityToken)
        return TAccess::Denied;
    bool NoneLeft = false;
    if (!Tunnel->RemoveCallbackId(CallbackId, NoneLeft))
        return TAccess::Unchanged;
    if (NoneLeft) {
        Tunnel->PushClose();
        Erase(FChannels[ChannelName], *Tunnel);
    }
    return TAccess::Done;
}

TDSCallbackRepository::TAccess
TDSCallbackRepository::CloseTunnel(const std::u16string& ChannelName,
                                   const std::u16string& ClientId,
                                   const std::u16string& SecurityToken, bool Now) {
    TTunnelPtr Tunnel;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        Tunnel = FindLocked(ChannelName, ClientId);
        if (!Tunnel)
            return TAccess::NotFound;
        if (Tunnel->SecurityToken() != SecurityToken)
            return TAccess::Denied;
        Erase(FChannels[ChannelName], *Tunnel);
        if (!Now)
            Tunnel->PushClose();
    }
    if (Now)
        Tunnel->ShutDown();
    return TAccess::Done;
}

bool TDSCallbackRepository::RemoveTunnel(const std::u16string& ChannelName,
                                         TDSCallbackTunnel& Tunnel, bool SendClose) {
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    if (It == FChannels.end() || !Erase(It->second, Tunnel))
        return false;
    if (SendClose)
        Tunnel.PushClose();
    return true;
}

bool TDSCallbackRepository::HasChannel(const std::u16string& ChannelName) const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FChannels.count(ChannelName) != 0;
}

bool TDSCallbackRepository::HasClient(const std::u16string& ChannelName,
                                      const std::u16string& ClientId) const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FindLocked(ChannelName, ClientId) != nullptr;
}

int32_t TDSCallbackRepository::TunnelCount(const std::u16string& ChannelName) const {
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    return It == FChannels.end() ? 0 : static_cast<int32_t>(It->second.size());
}

std::vector<std::u16string>
TDSCallbackRepository::ClientIds(const std::u16string& ChannelName) const {
    std::vector<std::u16string> Ids;
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    if (It != FChannels.end())
        for (const TTunnelPtr& Tunnel : It->second)
            Ids.push_back(Tunnel->ClientId());
    return Ids;
}

std::vector<std::u16string>
TDSCallbackRepository::CallbackIds(const std::u16string& ChannelName) const {
    std::vector<std::u16string> Ids;
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    if (It == FChannels.end())
        return Ids;
    for (const TTunnelPtr& Tunnel : It->second)
        for (std::u16string& Id : Tunnel->CallbackIds())
            if (std::find(Ids.begin(), Ids.end(), Id) == Ids.end())
                Ids.push_back(std::move(Id));
    return Ids;
}

void TDSCallbackRepository::ShutDown() {
    TChannelMap Released;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        for (auto& [Name, List] : FChannels)
            for (const TTunnelPtr& Tunnel : List)
                Tunnel->ShutDown();
        Released.swap(FChannels);
    }
    // The repository's references go outside the lock: a tunnel that no one
    // else holds is destroyed here.
}

void TDSCallbackRepository::SetPollIdleLimit(TClock::duration Limit) {
    std::lock_guard<std::mutex> Guard(FLock);
    FPollIdleLimit = Limit;
}

void TDSCallbackRepository::SetClock(std::function<TClock::time_point()> Clock) {
    std::lock_guard<std::mutex> Guard(FLock);
    FClock = std::move(Clock);
}

TDSCallbackRepository::TClock::time_point TDSCallbackRepository::Now() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FClock ? FClock() : TClock::now();
}

} // namespace kds
