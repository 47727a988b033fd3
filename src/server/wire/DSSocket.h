#pragma once

// Small POSIX socket helpers shared by the server's transport and the
// client library: an owned descriptor, the options every connection gets,
// and the process settings a server with many connections needs.
//
// Threads: every function may be called from any thread; a TSocketHandle
// belongs to one owner at a time.

#include <cstdint>
#include <string>

namespace kds {

// An owned socket (or other) descriptor, closed when the handle goes.
class TSocketHandle {
public:
    TSocketHandle() = default;
    explicit TSocketHandle(int Fd) : FFd(Fd) {}
    TSocketHandle(const TSocketHandle&) = delete;
    TSocketHandle& operator=(const TSocketHandle&) = delete;
    TSocketHandle(TSocketHandle&& Other) noexcept : FFd(Other.Release()) {}
    TSocketHandle& operator=(TSocketHandle&& Other) noexcept {
        if (this != &Other)
            Reset(Other.Release());
        return *this;
    }
    ~TSocketHandle() { Reset(); }

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    // Hands the descriptor over without closing it.
    int Release() {
        const int Fd = FFd;
        FFd = -1;
        return Fd;
    }
    // Closes the held descriptor (if any) and holds Fd instead.
    void Reset(int Fd = -1);

private:
    int FFd = -1;
};

// Keepalive of an accepted or connected socket: a peer that vanished (power
// lost, cable pulled) is found after about two minutes of silence (60 s,
// then 6 probes 10 s apart).
inline constexpr int KeepAliveIdleSeconds = 60;
inline constexpr int KeepAliveIntervalSeconds = 10;
inline constexpr int KeepAliveProbes = 6;

// TCP_NODELAY (a reply that leaves in two writes must not wait for the
// peer's delayed acknowledgement) and keepalive as above. Errors are
// ignored: the connection works without them.
void SetConnectionOptions(int Fd);

// The local address of a connected socket as dotted text ("127.0.0.1"), or
// "" when it cannot be told.
std::string LocalAddressText(int Fd);

// The text of an errno value.
std::string SystemErrorText(int Error);

// Raises the soft limit on open descriptors to the hard limit, so that a
// server with thousands of connections is not stopped by the usual 1024;
// answers the soft limit in force afterwards. Failure leaves the limit as it
// was.
uint64_t RaiseOpenFileLimit();

// Ignores SIGPIPE for the whole process: a write to a peer that has reset
// the connection then fails with EPIPE instead of killing the process. Every
// send of this code passes MSG_NOSIGNAL as well; this also covers code that
// does not.
void IgnoreSigPipe();

} // namespace kds
