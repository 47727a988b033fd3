#include "server/wire/DSTCPServer.h"

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/DBXError.h"
#include "server/wire/DBXFilterSocketChannel.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "server/wire/DSSession.h"
#include "server/wire/DSTCPChannel.h"

namespace kds {

namespace {

[[noreturn]] void FailListen(const char* What, int Error) {
    if (Error == EADDRINUSE)
        throw TDBXError(TDBXErrorCodes::None,
                        "Could not bind socket. Address and port are already in use.");
    throw TDBXError(TDBXErrorCodes::None, std::string(What) + SystemErrorText(Error));
}

void DrainEventFd(int Fd) {
    uint64_t Count = 0;
    while (::read(Fd, &Count, sizeof Count) < 0 && errno == EINTR) {
    }
}

} // namespace

TDSTCPServer::TDSTCPServer(TDSConnectionStackFactory& Factory)
    : FFactory(Factory),
      FThreadStarter([](std::function<void()> Body) { return std::thread(std::move(Body)); }) {}

TDSTCPServer::~TDSTCPServer() {
    try {
        Stop();
    } catch (...) {
        // Destruction goes on; Stop itself raises nothing it could not finish.
    }
}

void TDSTCPServer::Start(uint16_t Port, int32_t MaxConnections) {
    if (Active())
        throw TDBXError(TDBXErrorCodes::None, "The TCP server is listening already");
    FMaxConnections = MaxConnections < 1 ? 1 : MaxConnections;

    TSocketHandle Listen(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!Listen.Valid())
        FailListen("Could not open socket. ", errno);
    const int On = 1;
    if (::setsockopt(Listen.Get(), SOL_SOCKET, SO_REUSEADDR, &On, sizeof On) != 0)
        FailListen("Could not set socket options. ", errno);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_ANY);
    Address.sin_port = htons(Port);
    if (::bind(Listen.Get(), reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0)
        FailListen("Could not bind socket. ", errno);
    if (::listen(Listen.Get(), Backlog) != 0)
        FailListen("Could not listen on socket. ", errno);
    socklen_t Length = sizeof Address;
    if (::getsockname(Listen.Get(), reinterpret_cast<sockaddr*>(&Address), &Length) != 0)
        FailListen("Could not read the socket's address. ", errno);
    TSocketHandle Wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!Wake.Valid())
        FailListen("Could not make the listener's wake-up descriptor. ", errno);

    FStopping = false;
    FRefused = 0;
    FListenSocket = std::move(Listen);
    FWakeFd = std::move(Wake);
    FBoundPort = ntohs(Address.sin_port);
    try {
        FListener = std::thread([this] { ListenLoop(); });
    } catch (...) {
        FListenSocket.Reset();
        FWakeFd.Reset();
        FBoundPort = 0;
        throw;
    }
}

void TDSTCPServer::Stop() {
    if (!Active())
        return;
    FStopping = true;
    Wake();
    FListener.join();
    FListenSocket.Reset();
    {
        std::lock_guard<std::mutex> Guard(FLock);
        for (TConnection& C : FLive)
            if (C.Socket.Valid())
                ::shutdown(C.Socket.Get(), SHUT_RDWR);
    }
    for (;;) {
        {
            std::unique_lock<std::mutex> Lock(FLock);
            FChanged.wait(Lock, [this] { return FLive.empty() || !FFinished.empty(); });
            if (FLive.empty() && FFinished.empty())
                break;
        }
        JoinFinished();
    }
    FWakeFd.Reset();
    FBoundPort = 0;
}

int32_t TDSTCPServer::ConnectionCount() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return static_cast<int32_t>(FLive.size());
}

void TDSTCPServer::Wake() noexcept {
    const uint64_t One = 1;
    while (::write(FWakeFd.Get(), &One, sizeof One) < 0 && errno == EINTR) {
    }
}

bool TDSTCPServer::WaitForWake(int Milliseconds) {
    pollfd P{FWakeFd.Get(), POLLIN, 0};
    if (::poll(&P, 1, Milliseconds) > 0) {
        DrainEventFd(FWakeFd.Get());
        if (FStopping)
            return true;
        JoinFinished();
    }
    return FStopping;
}

void TDSTCPServer::ListenLoop() noexcept {
    while (!FStopping) {
        try {
            pollfd P[2] = {{FListenSocket.Get(), POLLIN, 0}, {FWakeFd.Get(), POLLIN, 0}};
            if (::poll(P, 2, -1) < 0) {
                if (errno != EINTR)
                    WaitForWake(AcceptRetryMilliseconds);
                continue;
            }
            if (P[1].revents != 0) {
                DrainEventFd(FWakeFd.Get());
                if (FStopping)
                    return;
                JoinFinished();
            }
            if ((P[0].revents & POLLIN) != 0)
                AcceptOne();
        } catch (...) {
            // Out of memory or threads for a moment: the listener goes on
            // after a pause rather than ending or spinning.
            WaitForWake(AcceptRetryMilliseconds);
        }
    }
}

void TDSTCPServer::AcceptOne() {
    const int Fd = ::accept4(FListenSocket.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (Fd < 0) {
        const int Error = errno;
        if (Error == EMFILE || Error == ENFILE || Error == ENOBUFS || Error == ENOMEM)
            WaitForWake(AcceptRetryMilliseconds);
        // Anything else (a peer that reset before it was accepted, a signal)
        // concerns that one connection only.
        return;
    }
    TSocketHandle Socket(Fd);
    SetConnectionOptions(Fd);
    std::lock_guard<std::mutex> Guard(FLock);
    if (static_cast<int32_t>(FLive.size()) >= FMaxConnections) {
        ++FRefused;
        return; // the socket closes here
    }
    FLive.emplace_back();
    const auto It = std::prev(FLive.end());
    It->Socket = std::move(Socket);
    try {
        // Made under the lock, so the thread's Finish finds Thread set.
        It->Thread = FThreadStarter([this, It] { Serve(It); });
    } catch (...) {
        FLive.erase(It); // closes the socket; no handle was taken yet
    }
}

void TDSTCPServer::Serve(TConnectionList::iterator Connection) noexcept {
    try {
        RunStack(Connection->Socket.Get());
    } catch (...) {
        // The stack could not be built, or its destruction failed: the
        // connection ends like any other.
    }
    Finish(Connection);
}

void TDSTCPServer::RunStack(int Fd) {
    auto Tcp = std::make_unique<TDSTCPChannel>(Fd);
    const TDSTCPChannel* Socket = Tcp.get();
    Tcp->Open();
    std::unique_ptr<TDBXJSonServerProtocolHandler> Protocol =
        FFactory.CreateProtocolHandler(std::make_unique<TDBXFilterSocketChannel>(std::move(Tcp)));
    {
        // The session exists before the first request, so it can name the
        // transport that made it.
        TDSThreadSessionScope Scope(nullptr);
        Protocol->SetUp(nullptr);
        if (TDSSession* Session = Protocol->Session())
            Session->SetCreator(FFactory.SessionCreator());
    }
    while (!Socket->GetConnectionLost() && !FStopping) {
        try {
            Protocol->ServeRequests(nullptr);
        } catch (...) {
            // What leaves the request loop ends the connection (a lost
            // connection, a malformed request start, a reply cut short).
            break;
        }
    }
    Protocol.reset();
}

void TDSTCPServer::Finish(TConnectionList::iterator Connection) noexcept {
    {
        std::lock_guard<std::mutex> Guard(FLock);
        Connection->Socket.Reset();
        // Moving the node keeps the connection (and its thread object) where
        // it is.
        FFinished.splice(FFinished.end(), FLive, Connection);
    }
    FChanged.notify_all();
    Wake();
}

void TDSTCPServer::JoinFinished() {
    TConnectionList Done;
    {
        std::lock_guard<std::mutex> Guard(FLock);
        Done.splice(Done.end(), FFinished);
    }
    for (TConnection& C : Done)
        if (C.Thread.joinable())
            C.Thread.join();
}

} // namespace kds
