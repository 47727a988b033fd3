#pragma once

// The server's callback repository: channel name (exact case) to the tunnels
// subscribed to it, in subscription order. A channel's entry, once made,
// stays until the repository is emptied at server stop, even when its list
// becomes empty.
//
// Ownership: the repository shares every tunnel with whoever consumes it
// (the connection thread serving a subscriber, or the poll running on it),
// so a tunnel lives while either still needs it. A consumer that ends takes
// its tunnel out of the list (RemoveTunnel) before it lets go, so later
// broadcasts never reach a tunnel that has ended; a tunnel nobody consumes is
// freed when the repository lets go of it.
//
// Client ids are compared without regard to case, callback ids and security
// tokens exactly.
//
// Polling tunnels that nobody polls expire: one whose last poll ended more
// than PollIdleLimit ago (10 minutes) while no poll runs is taken out and
// shut down the next time a tunnel is made or its channel gets a broadcast.
// Its client then gets {"error":"<channel>:<client>"} and must subscribe
// again. The clock can be replaced for tests.
//
// Broadcast only queues, under the locks; the consumers are woken by the
// repository's waker thread (made at the first broadcast, joined by the
// destructor), so the caller (the window thread, for the reset) pays for a
// hundred queues and one wake-up, not for a hundred threads being scheduled.
// Should the thread not be made, the caller wakes them itself.
//
// Lock order: FLock is taken before any tunnel's lock, never after one; no
// method waits for a consumer while holding it (pushes never wait). FWakeLock
// is taken alone.
// Threads: any.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/DSCallbackTunnel.h"

namespace kds {

class TDSCallbackRepository {
public:
    using TTunnelPtr = std::shared_ptr<TDSCallbackTunnel>;
    using TTunnelList = std::vector<TTunnelPtr>;
    using TItem = TDSCallbackTunnel::TItem;
    using TClock = TDSCallbackTunnel::TClock;

    static constexpr std::chrono::minutes DefaultPollIdleLimit{10};

    TDSCallbackRepository() = default;
    TDSCallbackRepository(const TDSCallbackRepository&) = delete;
    TDSCallbackRepository& operator=(const TDSCallbackRepository&) = delete;
    // Joins the waker after it has woken what it was given.
    ~TDSCallbackRepository();

    // The outcome of an operation on one client's tunnel.
    enum class TAccess {
        NotFound,  // the client has no tunnel on the channel
        Denied,    // the security token differs
        Done,      // the change was made
        Unchanged, // nothing to change (the id was there already, or not there)
    };

    // Nil when the client already has a tunnel on the channel. Otherwise
    // makes the channel's entry if needed and a tunnel with the client id,
    // queue size and token, registers CallbackId on it (when not empty) and
    // appends it to the channel's list.
    TTunnelPtr CreateTunnel(const std::u16string& ChannelName, const std::u16string& ClientId,
                            const std::u16string& CallbackId, const std::u16string& SecurityToken,
                            int32_t QueueSize, TDSCallbackTunnel::TKind Kind);
    // Appends a tunnel made elsewhere (no check for the client id).
    void AddTunnel(const std::u16string& ChannelName, TTunnelPtr Tunnel);
    // The client's tunnel on the channel, or nil.
    TTunnelPtr FindTunnel(const std::u16string& ChannelName, const std::u16string& ClientId) const;
    // The client's tunnel on the channel if it holds CallbackId, or nil.
    TTunnelPtr FindTunnel(const std::u16string& ChannelName, const std::u16string& ClientId,
                          const std::u16string& CallbackId) const;

    // Queues Item in every tunnel of the channel, from the last to the
    // first. False when the channel is unknown or empty, or when any tunnel
    // refused the item (its queue full). A tunnel that refuses because it
    // has ended is taken out of the list.
    bool Broadcast(const std::u16string& ChannelName, const TItem& Item);
    // The same for the tunnels that hold CallbackId; false also when none
    // does.
    bool BroadcastTo(const std::u16string& ChannelName, const std::u16string& CallbackId,
                     const TItem& Item);

    TAccess AddCallbackId(const std::u16string& ChannelName, const std::u16string& ClientId,
                          const std::u16string& CallbackId, const std::u16string& SecurityToken);
    // Removing the last id closes the tunnel: it leaves the list and its
    // consumer gets the close message.
    TAccess RemoveCallbackId(const std::u16string& ChannelName, const std::u16string& ClientId,
                             const std::u16string& CallbackId, const std::u16string& SecurityToken);
    // Takes the client's tunnel out of the list. Now false: its consumer
    // gets the close message (after what is queued) and ends. Now true: it
    // is shut down at once (what is queued is dropped).
    TAccess CloseTunnel(const std::u16string& ChannelName, const std::u16string& ClientId,
                        const std::u16string& SecurityToken, bool Now);
    // Takes the tunnel out of the channel's list (it is not shut down);
    // false when it was not there. SendClose queues the close message first.
    bool RemoveTunnel(const std::u16string& ChannelName, TDSCallbackTunnel& Tunnel,
                      bool SendClose = false);

    bool HasChannel(const std::u16string& ChannelName) const;
    bool HasClient(const std::u16string& ChannelName, const std::u16string& ClientId) const;
    int32_t TunnelCount(const std::u16string& ChannelName) const;
    // Client ids in list order; callback ids of all tunnels, each once.
    std::vector<std::u16string> ClientIds(const std::u16string& ChannelName) const;
    std::vector<std::u16string> CallbackIds(const std::u16string& ChannelName) const;

    // Server stop: every tunnel is shut down (its consumer woken, its
    // waiting senders told it failed) and the repository emptied.
    void ShutDown();

    void SetPollIdleLimit(TClock::duration Limit);
    void SetClock(std::function<TClock::time_point()> Clock);
    TClock::time_point Now() const;

private:
    using TChannelMap = std::map<std::u16string, TTunnelList>;

    TTunnelPtr FindLocked(const std::u16string& ChannelName, const std::u16string& ClientId) const;
    static bool Erase(TTunnelList& List, const TDSCallbackTunnel& Tunnel);
    // Takes the expired polling tunnels out of List (FLock held) into Expired,
    // which the caller shuts down.
    void SweepLocked(TTunnelList& List, TClock::time_point Now, TTunnelList& Expired);
    static void ShutDownAll(TTunnelList& Tunnels);
    // Has the waker wake the consumers of Tunnels (or wakes them here).
    void WakeLater(TTunnelList Tunnels);
    void WakerLoop();

    mutable std::mutex FLock; // guards FChannels, every list in it, FPollIdleLimit, FClock
    TChannelMap FChannels;
    TClock::duration FPollIdleLimit = DefaultPollIdleLimit;
    std::function<TClock::time_point()> FClock;

    std::mutex FWakeLock; // guards the four below
    std::condition_variable FWakeCondition;
    TTunnelList FToWake;
    bool FWakerStop = false;
    std::thread FWaker;
};

} // namespace kds
