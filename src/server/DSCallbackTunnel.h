#pragma once

// One subscription to a callback channel: a client (by its client id) on one
// channel, the callback ids registered on it, and a bounded queue of the
// messages waiting for it, drained by one consumer (the connection thread of
// the client that opened it).
//
// Items. A broadcast item carries a message and its argument type (1 plain
// JSON, 2 an object carried as its JSON). Nothing in it changes after it is
// made, so one broadcast item is shared by every tunnel of the channel. A
// targeted item (a notification to one callback id) also carries the
// client's answer: the consumer completes it and the sender, waiting on it,
// reads the answer. An item without a message is the close message.
// Items are shared (std::shared_ptr): a sender that stops waiting lets go of
// its reference, the consumer keeps its own, so neither ever touches freed
// memory.
//
// Queue. Holds at most QueueSize items (the server's ChannelQueueSize; 0 or
// less gives 255). Push never waits: a full queue refuses the item at once.
// The close message always has room: one slot beyond QueueSize is kept for
// it, so closing a tunnel whose queue is full still ends it.
//
// Wake-up. Pop sleeps on the tunnel's condition variable, or, when it also
// watches the connection's descriptor for a hang-up, in poll() on that
// descriptor and on the tunnel's eventfd. A producer pushes under the
// tunnel's lock and then wakes whichever the consumer sleeps on; the
// consumer decides to sleep under the same lock, so a push between its look
// at the queue and its sleep still wakes it. No wait polls on a timer.
//
// End. ShutDown (server stop, an expired polling tunnel, a tunnel closed
// with its owner's consent, and the consumer itself when it is done) ends
// the tunnel for good: later pushes are refused, Pop answers ShutDown, every
// queued broadcast item is dropped and every targeted item that was not
// answered is completed as failed, which wakes its sender. Destruction does
// the same for whatever is left.
//
// Locks: FLock guards the queue, the id list and the polling state. It is
// taken after the repository's lock (never before it) and before an item's
// lock. No lock is held while a callback is delivered.
//
// Threads: any thread may push, shut down and read the ids; Pop and the
// polling state belong to the consumer (one at a time, see BeginPoll).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kds {

class TJSONValue;

class TDSCallbackTunnelBufferItem {
public:
    // Msg nullptr: the close message. ArgType: 1 JSON, 2 an object as JSON.
    TDSCallbackTunnelBufferItem(std::u16string CallbackId, std::shared_ptr<const TJSONValue> Msg,
                                bool IsBroadcast, int32_t ArgType);
    TDSCallbackTunnelBufferItem(const TDSCallbackTunnelBufferItem&) = delete;
    TDSCallbackTunnelBufferItem& operator=(const TDSCallbackTunnelBufferItem&) = delete;

    static std::shared_ptr<TDSCallbackTunnelBufferItem>
    Broadcast(std::shared_ptr<const TJSONValue> Msg, int32_t ArgType);
    static std::shared_ptr<TDSCallbackTunnelBufferItem>
    Targeted(std::u16string CallbackId, std::shared_ptr<const TJSONValue> Msg, int32_t ArgType);
    static std::shared_ptr<TDSCallbackTunnelBufferItem> Close();

    const std::u16string& CallbackId() const { return FCallbackId; }
    // nullptr for the close message. Read-only: shared between threads.
    const TJSONValue* Msg() const { return FMsg.get(); }
    bool IsClose() const { return !FMsg; }
    bool IsBroadcast() const { return FIsBroadcast; }
    int32_t ArgType() const { return FArgType; }

    // --- Rendezvous of a targeted notification ---
    // The first completion wins; later ones are ignored. Failed marks a
    // delivery that did not happen or did not succeed.
    void Complete(std::unique_ptr<TJSONValue> Response, bool Failed);
    // Waits until completed, at most TimeoutMs (negative: without limit);
    // true when completed.
    bool WaitForResponse(int64_t TimeoutMs);
    bool Completed() const;
    bool Failed() const;
    // The client's answer (nullptr when there is none); the caller owns it.
    std::unique_ptr<TJSONValue> TakeResponse();

private:
    const std::u16string FCallbackId;
    const std::shared_ptr<const TJSONValue> FMsg;
    const bool FIsBroadcast;
    const int32_t FArgType;

    mutable std::mutex FLock; // guards FCompleted, FError, FResponse
    std::condition_variable FDone;
    bool FCompleted = false;
    bool FError = false;
    std::unique_ptr<TJSONValue> FResponse;
};

class TDSCallbackTunnel {
public:
    using TItem = std::shared_ptr<TDSCallbackTunnelBufferItem>;
    using TClock = std::chrono::steady_clock;

    static constexpr int32_t FallbackQueueSize = 255;

    // Connected: served by a ConnectClientChannel call for its whole life.
    // Polled: served by one ConsumeClientChannel call at a time.
    enum class TKind { Connected, Polled };
    enum class TWaitResult { Item, TimedOut, ShutDown, ConnectionLost };

    TDSCallbackTunnel(std::u16string ClientId, std::u16string SecurityToken, int32_t QueueSize,
                      TKind Kind = TKind::Connected, TClock::time_point Now = TClock::now());
    TDSCallbackTunnel(const TDSCallbackTunnel&) = delete;
    TDSCallbackTunnel& operator=(const TDSCallbackTunnel&) = delete;
    // Completes whatever is still queued (as ShutDown) and closes the eventfd.
    virtual ~TDSCallbackTunnel();

    const std::u16string& ClientId() const { return FClientId; }
    const std::u16string& SecurityToken() const { return FSecurityToken; }
    TKind Kind() const { return FKind; }
    int32_t QueueSize() const { return FQueueSize; }
    // The client id compared without regard to case.
    bool IsClient(std::u16string_view ClientId) const;

    // --- Callback ids (exact match, no duplicates) ---
    // False when the id is there already.
    bool AddCallbackId(const std::u16string& CallbackId);
    // False when the id is not there; NoneLeft tells whether it was the last.
    bool RemoveCallbackId(const std::u16string& CallbackId, bool& NoneLeft);
    bool HasCallbackId(const std::u16string& CallbackId) const;
    std::vector<std::u16string> CallbackIds() const;

    // --- Producers (never wait) ---
    // False when the queue is full or the tunnel has ended.
    bool Push(TItem Item);
    // Queues like Push but leaves waking the consumer to a later
    // WakeConsumer (from any thread), so that a broadcast to many tunnels
    // can hand the wake-ups to another thread. The item is there at once: a
    // consumer that looks finds it; one asleep stays asleep until woken.
    bool PushWithoutWaking(TItem Item);
    // Wakes the consumer wherever it sleeps (a spare wake-up is harmless).
    void WakeConsumer();
    // Queues the close message behind what is queued; false only when the
    // tunnel has ended. A second close before the first is taken is not
    // queued again (answers true).
    bool PushClose();
    int32_t QueuedCount() const;

    // --- End ---
    virtual void ShutDown();
    bool IsShutDown() const;

    // --- Consumer ---
    // Waits for the next item, at most TimeoutMs (negative: without limit).
    // Watch: a channel's watch descriptor (see TDbxChannel::WatchDescriptor)
    // or -1. While the peer has sent data that nobody has read yet the
    // descriptor cannot tell a hang-up, so it is left alone for the rest of
    // this call. Item is set only when the answer is Item.
    TWaitResult Pop(TItem& Item, int64_t TimeoutMs, int Watch = -1);

    // --- Polling state (Polled tunnels) ---
    // Claims the tunnel for one poll; false while another poll runs.
    bool BeginPoll();
    // The poll is over at Now.
    void EndPoll(TClock::time_point Now);
    // No poll is running and the last one ended more than Limit before Now.
    bool IdleLongerThan(TClock::time_point Now, TClock::duration Limit) const;
    // The item handed out by the previous poll (nullptr when none); it is
    // no longer remembered.
    TItem TakeHandedOut();
    void SetHandedOut(TItem Item);
    // The reply that carried Item never reached the client: Item is handed
    // out again before anything queued (when it is still the one remembered).
    void HandOutAgain(const TItem& Item);

private:
    // Wakes the consumer, wherever it sleeps. Call without FLock.
    void Wake(int WakeFd);
    // Takes every item out (FLock held); the caller completes them without it.
    std::vector<TItem> TakeAll();
    static void Abandon(std::vector<TItem>& Items);

    const std::u16string FClientId;
    const std::u16string FSecurityToken;
    const int32_t FQueueSize;
    const TKind FKind;

    mutable std::mutex FLock; // guards everything below
    std::condition_variable FWake;
    std::vector<TItem> FRing; // QueueSize + 1 slots (the last for the close)
    size_t FHead = 0;
    size_t FCount = 0;
    bool FCloseQueued = false;
    bool FShutDown = false;
    // The consumer sleeps in poll() on FWakeFd (made on first need).
    bool FPollWaiter = false;
    int FWakeFd = -1;
    std::vector<std::u16string> FIdList;
    // Polling state.
    bool FPollRunning = false;
    TClock::time_point FLastPollEnd;
    TItem FHandedOut;
    TItem FHandOutAgain;
};

} // namespace kds
