#pragma once

// The server's callback repository: channel name (exact case) to the tunnels
// subscribed to it, in subscription order.
//
// The repository shares ownership of every tunnel with whoever consumes it
// (the connection thread serving the subscriber, or a polling client's next
// call), so a tunnel lives while either still needs it: emptying the
// repository at server stop releases a tunnel that nobody consumes, and a
// consumer that is still waiting keeps its tunnel until it has woken.
//
// Lock order: the repository's lock is taken before any tunnel's, never
// after one. Threads: any.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kds {

// One subscription. The base knows only how to be shut down; the channel
// machinery (queues, delivery) derives from it.
class TDSCallbackTunnel {
public:
    TDSCallbackTunnel() = default;
    TDSCallbackTunnel(const TDSCallbackTunnel&) = delete;
    TDSCallbackTunnel& operator=(const TDSCallbackTunnel&) = delete;
    virtual ~TDSCallbackTunnel() = default;

    // Ends the tunnel for good and wakes its consumer; called under the
    // repository's lock, so it takes only the tunnel's own locks and never
    // waits for the consumer.
    virtual void ShutDown() { FShutDown = true; }
    bool IsShutDown() const { return FShutDown; }

private:
    std::atomic<bool> FShutDown{false};
};

class TDSCallbackRepository {
public:
    using TTunnelList = std::vector<std::shared_ptr<TDSCallbackTunnel>>;

    // Appends the tunnel to the channel's list (making the channel's entry).
    void AddTunnel(const std::u16string& ChannelName, std::shared_ptr<TDSCallbackTunnel> Tunnel);
    // Removes the tunnel from the channel's list; false when it was not there.
    bool RemoveTunnel(const std::u16string& ChannelName, const TDSCallbackTunnel& Tunnel);
    bool HasChannel(const std::u16string& ChannelName) const;
    int32_t TunnelCount(const std::u16string& ChannelName) const;
    // Runs Visit under the repository's lock (the channel machinery's way in).
    void WithLock(const std::function<void(std::map<std::u16string, TTunnelList>&)>& Visit);
    // Server stop: shuts every tunnel down under the lock, then empties the
    // repository.
    void ShutDown();

private:
    mutable std::mutex FLock; // guards FChannels and every list in it
    std::map<std::u16string, TTunnelList> FChannels;
};

} // namespace kds
