#include "server/DSCallbackTunnel.h"

#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/AsciiText.h"
#include "data/DBXJSON.h"

namespace kds {

namespace {

// What the watched descriptor says after poll().
enum class TPeerState { Quiet, SentData, Gone };

TPeerState PeerState(const pollfd& Watched) {
    if ((Watched.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)) != 0)
        return TPeerState::Gone;
    if ((Watched.revents & POLLIN) == 0)
        return TPeerState::Quiet;
    uint8_t Byte = 0;
    const ssize_t Peeked = recv(Watched.fd, &Byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (Peeked > 0)
        return TPeerState::SentData;
    if (Peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return TPeerState::Quiet;
    // 0 bytes: the peer closed; any other error: the connection is gone.
    return TPeerState::Gone;
}

int PollMilliseconds(int64_t TimeoutMs, TDSCallbackTunnel::TClock::time_point Deadline) {
    if (TimeoutMs < 0)
        return -1;
    const auto Left =
        std::chrono::ceil<std::chrono::milliseconds>(Deadline - TDSCallbackTunnel::TClock::now())
            .count();
    if (Left <= 0)
        return 0;
    return Left > INT_MAX ? INT_MAX : static_cast<int>(Left);
}

} // namespace

// --- Items ----------------------------------------------------------------------

TDSCallbackTunnelBufferItem::TDSCallbackTunnelBufferItem(std::u16string CallbackId,
                                                         std::shared_ptr<const TJSONValue> Msg,
                                                         bool IsBroadcast, int32_t ArgType)
    : FCallbackId(std::move(CallbackId)), FMsg(std::move(Msg)), FIsBroadcast(IsBroadcast),
      FArgType(ArgType) {}

std::shared_ptr<TDSCallbackTunnelBufferItem>
TDSCallbackTunnelBufferItem::Broadcast(std::shared_ptr<const TJSONValue> Msg, int32_t ArgType) {
    return std::make_shared<TDSCallbackTunnelBufferItem>(std::u16string(), std::move(Msg), true,
                                                         ArgType);
}

std::shared_ptr<TDSCallbackTunnelBufferItem>
TDSCallbackTunnelBufferItem::Targeted(std::u16string CallbackId,
                                      std::shared_ptr<const TJSONValue> Msg, int32_t ArgType) {
    return std::make_shared<TDSCallbackTunnelBufferItem>(std::move(CallbackId), std::move(Msg),
                                                         false, ArgType);
}

std::shared_ptr<TDSCallbackTunnelBufferItem> TDSCallbackTunnelBufferItem::Close() {
    return std::make_shared<TDSCallbackTunnelBufferItem>(std::u16string(), nullptr, false, 1);
}

void TDSCallbackTunnelBufferItem::Complete(std::unique_ptr<TJSONValue> Response, bool Failed) {
    {
        std::lock_guard<std::mutex> Guard(FLock);
        if (FCompleted)
            return;
        FCompleted = true;
        FError = Failed;
        FResponse = std::move(Response);
    }
    FDone.notify_all();
}

bool TDSCallbackTunnelBufferItem::WaitForResponse(int64_t TimeoutMs) {
    std::unique_lock<std::mutex> Lock(FLock);
    if (TimeoutMs < 0) {
        FDone.wait(Lock, [this] { return FCompleted; });
        return true;
    }
    return FDone.wait_for(Lock, std::chrono::milliseconds(TimeoutMs),
                          [this] { return FCompleted; });
}

bool TDSCallbackTunnelBufferItem::Completed() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FCompleted;
}

bool TDSCallbackTunnelBufferItem::Failed() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FError;
}

std::unique_ptr<TJSONValue> TDSCallbackTunnelBufferItem::TakeResponse() {
    std::lock_guard<std::mutex> Guard(FLock);
    return std::move(FResponse);
}

// --- Tunnel -----------------------------------------------------------------------

TDSCallbackTunnel::TDSCallbackTunnel(std::u16string ClientId, std::u16string SecurityToken,
                                     int32_t QueueSize, TKind Kind, TClock::time_point Now)
    : FClientId(std::move(ClientId)), FSecurityToken(std::move(SecurityToken)),
      FQueueSize(QueueSize > 0 ? QueueSize : FallbackQueueSize), FKind(Kind),
      FRing(static_cast<size_t>(FQueueSize) + 1), FLastPollEnd(Now) {}

TDSCallbackTunnel::~TDSCallbackTunnel() {
    std::vector<TItem> Left;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        Left = TakeAll();
    }
    Abandon(Left);
    if (FWakeFd >= 0)
        close(FWakeFd);
}

bool TDSCallbackTunnel::IsClient(std::u16string_view ClientId) const {
    return SameTextAscii(std::u16string_view(FClientId), ClientId);
}

bool TDSCallbackTunnel::AddCallbackId(const std::u16string& CallbackId) {
    std::lock_guard<std::mutex> Guard(FLock);
    for (const auto& Id : FIdList)
        if (Id == CallbackId)
            return false;
    FIdList.push_back(CallbackId);
    return true;
}

bool TDSCallbackTunnel::RemoveCallbackId(const std::u16string& CallbackId, bool& NoneLeft) {
    std::lock_guard<std::mutex> Guard(FLock);
    bool Removed = false;
    for (auto It = FIdList.begin(); It != FIdList.end(); ++It) {
        if (*It == CallbackId) {
            FIdList.erase(It);
            Removed = true;
            break;
        }
    }
    NoneLeft = FIdList.empty();
    return Removed;
}

bool TDSCallbackTunnel::HasCallbackId(const std::u16string& CallbackId) const {
    std::lock_guard<std::mutex> Guard(FLock);
    for (const auto& Id : FIdList)
        if (Id == CallbackId)
            return true;
    return false;
}

std::vector<std::u16string> TDSCallbackTunnel::CallbackIds() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FIdList;
}

void TDSCallbackTunnel::Wake(int WakeFd) {
    if (WakeFd >= 0) {
        const uint64_t One = 1;
        // A full counter still leaves the descriptor readable.
        [[maybe_unused]] const ssize_t Written = write(WakeFd, &One, sizeof One);
    } else {
        FWake.notify_one();
    }
}

bool TDSCallbackTunnel::Push(TItem Item) {
    int WakeFd = -1;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        if (FShutDown || FCloseQueued || FCount >= static_cast<size_t>(FQueueSize))
            return false;
        FRing[(FHead + FCount) % FRing.size()] = std::move(Item);
        ++FCount;
        if (FPollWaiter)
            WakeFd = FWakeFd;
    }
    Wake(WakeFd);
    return true;
}

bool TDSCallbackTunnel::PushWithoutWaking(TItem Item) {
    std::lock_guard<std::mutex> Guard(FLock);
    if (FShutDown || FCloseQueued || FCount >= static_cast<size_t>(FQueueSize))
        return false;
    FRing[(FHead + FCount) % FRing.size()] = std::move(Item);
    ++FCount;
    return true;
}

void TDSCallbackTunnel::WakeConsumer() {
    int WakeFd = -1;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        if (FPollWaiter)
            WakeFd = FWakeFd;
    }
    Wake(WakeFd);
}

bool TDSCallbackTunnel::PushClose() {
    int WakeFd = -1;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        if (FShutDown)
            return false;
        if (FCloseQueued)
            return true;
        // The ring has one slot beyond QueueSize, so the close always fits.
        FRing[(FHead + FCount) % FRing.size()] = TDSCallbackTunnelBufferItem::Close();
        ++FCount;
        FCloseQueued = true;
        if (FPollWaiter)
            WakeFd = FWakeFd;
    }
    Wake(WakeFd);
    return true;
}

int32_t TDSCallbackTunnel::QueuedCount() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return static_cast<int32_t>(FCount);
}

std::vector<TDSCallbackTunnel::TItem> TDSCallbackTunnel::TakeAll() {
    std::vector<TItem> Items;
    Items.reserve(FCount + 2);
    if (FHandOutAgain)
        Items.push_back(std::move(FHandOutAgain));
    if (FHandedOut)
        Items.push_back(std::move(FHandedOut));
    for (; FCount > 0; --FCount) {
        Items.push_back(std::move(FRing[FHead]));
        FHead = (FHead + 1) % FRing.size();
    }
    FHead = 0;
    return Items;
}

void TDSCallbackTunnel::Abandon(std::vector<TItem>& Items) {
    // Nobody will deliver these: a sender waiting on one learns it failed.
    for (TItem& Item : Items)
        if (Item && !Item->IsBroadcast() && !Item->IsClose())
            Item->Complete(nullptr, true);
    Items.clear();
}

void TDSCallbackTunnel::ShutDown() {
    std::vector<TItem> Left;
    int WakeFd = -1;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        FShutDown = true;
        Left = TakeAll();
        if (FPollWaiter)
            WakeFd = FWakeFd;
    }
    Abandon(Left);
    Wake(WakeFd);
    // A consumer between two sleeps sees FShutDown under the lock; one in a
    // condition wait was woken above unless it sleeps in poll().
    FWake.notify_all();
}

bool TDSCallbackTunnel::IsShutDown() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FShutDown;
}

TDSCallbackTunnel::TWaitResult TDSCallbackTunnel::Pop(TItem& Item, int64_t TimeoutMs, int Watch) {
    const TClock::time_point Deadline = TimeoutMs < 0
                                            ? TClock::time_point::max()
                                            : TClock::now() + std::chrono::milliseconds(TimeoutMs);
    bool Watching = Watch >= 0;
    std::unique_lock<std::mutex> Lock(FLock);
    for (;;) {
        if (FShutDown)
            return TWaitResult::ShutDown;
        if (FHandOutAgain) {
            Item = std::move(FHandOutAgain);
            return TWaitResult::Item;
        }
        if (FCount > 0) {
            Item = std::move(FRing[FHead]);
            FHead = (FHead + 1) % FRing.size();
            --FCount;
            if (Item->IsClose())
                FCloseQueued = false;
            return TWaitResult::Item;
        }
        if (TimeoutMs >= 0 && TClock::now() >= Deadline)
            return TWaitResult::TimedOut;
        if (!Watching) {
            if (TimeoutMs < 0)
                FWake.wait(Lock);
            else
                FWake.wait_until(Lock, Deadline);
            continue;
        }
        if (FWakeFd < 0) {
            FWakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
            if (FWakeFd < 0) {
                // Without a descriptor to sleep on, the hang-up cannot be
                // watched; the condition variable still delivers messages.
                Watching = false;
                continue;
            }
        }
        FPollWaiter = true;
        const int WakeFd = FWakeFd;
        Lock.unlock();
        pollfd Fds[2] = {{WakeFd, POLLIN, 0}, {Watch, POLLIN | POLLRDHUP, 0}};
        const int Ready = poll(Fds, 2, PollMilliseconds(TimeoutMs, Deadline));
        uint64_t Count = 0;
        [[maybe_unused]] const ssize_t Drained = read(WakeFd, &Count, sizeof Count);
        const TPeerState Peer = Ready > 0 ? PeerState(Fds[1]) : TPeerState::Quiet;
        Lock.lock();
        FPollWaiter = false;
        if (Peer == TPeerState::Gone)
            return TWaitResult::ConnectionLost;
        if (Peer == TPeerState::SentData)
            Watching = false;
    }
}

bool TDSCallbackTunnel::BeginPoll() {
    std::lock_guard<std::mutex> Guard(FLock);
    if (FPollRunning)
        return false;
    FPollRunning = true;
    return true;
}

void TDSCallbackTunnel::EndPoll(TClock::time_point Now) {
    std::lock_guard<std::mutex> Guard(FLock);
    FPollRunning = false;
    FLastPollEnd = Now;
}

bool TDSCallbackTunnel::IdleLongerThan(TClock::time_point Now, TClock::duration Limit) const {
    std::lock_guard<std::mutex> Guard(FLock);
    return !FPollRunning && Now - FLastPollEnd > Limit;
}

TDSCallbackTunnel::TItem TDSCallbackTunnel::TakeHandedOut() {
    std::lock_guard<std::mutex> Guard(FLock);
    return std::move(FHandedOut);
}

void TDSCallbackTunnel::SetHandedOut(TItem Item) {
    std::lock_guard<std::mutex> Guard(FLock);
    FHandedOut = std::move(Item);
}

void TDSCallbackTunnel::HandOutAgain(const TItem& Item) {
    std::lock_guard<std::mutex> Guard(FLock);
    if (!Item || FHandedOut != Item || FShutDown)
        return;
    FHandOutAgain = std::move(FHandedOut);
}

} // namespace kds
