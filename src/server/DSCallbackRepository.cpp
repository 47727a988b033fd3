#include "server/DSCallbackRepository.h"

#include <algorithm>

namespace kds {

void TDSCallbackRepository::AddTunnel(const std::u16string& ChannelName,
                                      std::shared_ptr<TDSCallbackTunnel> Tunnel) {
    std::lock_guard<std::mutex> Guard(FLock);
    FChannels[ChannelName].push_back(std::move(Tunnel));
}

bool TDSCallbackRepository::RemoveTunnel(const std::u16string& ChannelName,
                                         const TDSCallbackTunnel& Tunnel) {
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    if (It == FChannels.end())
        return false;
    TTunnelList& List = It->second;
    const auto Found =
        std::find_if(List.begin(), List.end(), [&](const auto& T) { return T.get() == &Tunnel; });
    if (Found == List.end())
        return false;
    List.erase(Found);
    return true;
}

bool TDSCallbackRepository::HasChannel(const std::u16string& ChannelName) const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FChannels.count(ChannelName) != 0;
}

int32_t TDSCallbackRepository::TunnelCount(const std::u16string& ChannelName) const {
    std::lock_guard<std::mutex> Guard(FLock);
    const auto It = FChannels.find(ChannelName);
    return It == FChannels.end() ? 0 : static_cast<int32_t>(It->second.size());
}

void TDSCallbackRepository::WithLock(
    const std::function<void(std::map<std::u16string, TTunnelList>&)>& Visit) {
    std::lock_guard<std::mutex> Guard(FLock);
    Visit(FChannels);
}

void TDSCallbackRepository::ShutDown() {
    std::map<std::u16string, TTunnelList> Released;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        for (auto& [Name, List] : FChannels)
            for (auto& Tunnel : List)
                Tunnel->ShutDown();
        Released.swap(FChannels);
    }
    // The repository's references go outside the lock: a tunnel that no one
    // else holds is destroyed here.
}

} // namespace kds
