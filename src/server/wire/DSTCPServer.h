#pragma once

// The listening TCP server of a transport: one listening IPv4 socket on all
// interfaces, one listener thread, and one thread per accepted connection
// that builds and runs the connection's protocol stack.
//
// Listening: backlog 15, SO_REUSEADDR (a restart right after terminals were
// connected binds although old connections linger in TIME_WAIT; on Linux it
// never lets a second listener share the port). A port that is taken makes
// Start raise TDBXError 0 "Could not bind socket. Address and port are
// already in use."; any other failure to listen raises TDBXError 0 with the
// system's text. Port 0 listens on a port the system picks (BoundPort).
//
// Accepting: the listener blocks in poll on the listening socket and a
// wake-up descriptor, with no time limit. Each accepted socket gets
// TCP_NODELAY and keepalive. Beyond MaxConnections live connections a new
// socket is closed at once (the peer sees the connection end instead of
// hanging in the backlog) and the others go on being served. When the
// process is out of descriptors, accept fails; the listener then waits
// 100 ms (still woken at once by Stop) instead of spinning. When no thread
// can be made for a connection, that socket is closed and nothing else
// changes.
//
// A connection's thread: wraps the socket in a TDSTCPChannel inside the
// filter-probe channel, has the factory build the stack (on this thread,
// before any byte is read), then serves requests until the connection is
// lost: each round installs the session and runs the request loop, which
// blocks in the socket when the reader holds nothing and serves every
// request the reader already holds before it waits again. An error that
// leaves the request loop ends the connection. The stack is then freed (its
// connection handler leaves the transport's table) and the socket closed.
// Everything is caught at the top of each thread: no exception ever ends
// the process.
//
// Stop: wakes the listener and joins it, closes the listening socket, shuts
// every connection's socket down (shutdown only: the thread that owns a
// socket closes it, so no descriptor is touched after its number could have
// been reused), then joins every connection thread. No sleeps anywhere: each
// thread ends as soon as its blocked read or write fails. A connection whose
// thread waits on something other than its socket (a tunnel queue) must be
// woken by its owner first; the server stops its tunnels before its
// transports. Finished connection threads are joined by the listener as they
// end, so idle ones cost nothing.
//
// Threads: Start, Stop and the destructor on one controlling thread (the
// server's); ConnectionCount and BoundPort on any thread. The live and
// finished connection lists are guarded by FLock.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "server/wire/DSSocket.h"

namespace kds {

class TDbxChannel;
class TDBXJSonServerProtocolHandler;

// What builds the stack of each connection; the transport implements it.
class TDSConnectionStackFactory {
public:
    virtual ~TDSConnectionStackFactory() = default;
    // On the connection's thread, before any byte is read: the whole stack
    // over Channel (the filter-probe wrapper around the socket channel),
    // the connection entered in the transport's table. Raises when it cannot
    // be built; the connection is then closed.
    virtual std::unique_ptr<TDBXJSonServerProtocolHandler>
    CreateProtocolHandler(std::unique_ptr<TDbxChannel> Channel) = 0;
    // What the connection's session records as its creator (opaque).
    virtual const void* SessionCreator() const { return this; }
};

class TDSTCPServer {
public:
    static constexpr int Backlog = 15;
    // How long the listener waits before accepting again when the process
    // is out of descriptors.
    static constexpr int AcceptRetryMilliseconds = 100;

    // Starts a connection thread running Body; raises std::system_error
    // when no thread can be made.
    using TThreadStarter = std::function<std::thread(std::function<void()> Body)>;

    explicit TDSTCPServer(TDSConnectionStackFactory& Factory);
    TDSTCPServer(const TDSTCPServer&) = delete;
    TDSTCPServer& operator=(const TDSTCPServer&) = delete;
    // Stops.
    ~TDSTCPServer();

    // Listens on Port (0: any free port) and serves at most MaxConnections
    // connections at once (at least 1). Raises as the header says; a server
    // that is active already raises TDBXError 0.
    void Start(uint16_t Port, int32_t MaxConnections);
    // Nothing happens when not active.
    void Stop();
    bool Active() const { return FListener.joinable(); }

    // The port listened on while active (the system's choice for port 0).
    uint16_t BoundPort() const { return FBoundPort.load(); }
    // Connections whose thread has not finished yet.
    int32_t ConnectionCount() const;
    // Sockets closed at once because the cap was reached, since Start.
    int64_t RefusedCount() const { return FRefused.load(); }

    // How connection threads are made (a std::thread by default). Set while
    // stopped; tests make it fail.
    void SetThreadStarter(TThreadStarter Starter) { FThreadStarter = std::move(Starter); }

private:
    struct TConnection {
        TSocketHandle Socket;
        std::thread Thread;
    };

    void ListenLoop() noexcept;
    void AcceptOne();
    // Waits up to Milliseconds on the wake-up descriptor; true when Stop asked.
    bool WaitForWake(int Milliseconds);
    using TConnectionList = std::list<TConnection>;

    void Serve(TConnectionList::iterator Connection) noexcept;
    void RunStack(int Fd);
    // The connection's thread is done with it: socket closed, moved to the
    // finished list, the listener woken to join it.
    void Finish(TConnectionList::iterator Connection) noexcept;
    // Joins every finished connection thread (the listener, and Stop).
    void JoinFinished();
    void Wake() noexcept;

    TDSConnectionStackFactory& FFactory;
    TThreadStarter FThreadStarter;
    TSocketHandle FListenSocket;
    TSocketHandle FWakeFd; // an eventfd: Stop and finishing connections
    std::thread FListener;
    std::atomic<bool> FStopping{false};
    std::atomic<uint16_t> FBoundPort{0};
    std::atomic<int64_t> FRefused{0};
    int32_t FMaxConnections = 1;

    mutable std::mutex FLock;         // guards FLive, FFinished and every connection's socket
    std::condition_variable FChanged; // a connection finished
    TConnectionList FLive;
    TConnectionList FFinished;
};

} // namespace kds
