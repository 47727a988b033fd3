#include "support/SocketClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kds::test {

namespace {

using TClock = std::chrono::steady_clock;

int MillisecondsUntil(TClock::time_point Deadline) {
    const auto Left =
        std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
    return Left < 0 ? 0 : static_cast<int>(Left);
}

} // namespace

TSocketClient::TSocketClient(uint16_t Port) {
    FFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FFd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Address.sin_port = htons(Port);
    if (::connect(FFd, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        const int Error = errno;
        ::close(FFd);
        FFd = -1;
        throw std::runtime_error("connect to 127.0.0.1:" + std::to_string(Port) +
                                 " failed, errno " + std::to_string(Error));
    }
    const int On = 1;
    ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &On, sizeof On);
}

TSocketClient::TSocketClient(TSocketClient&& Other) noexcept
    : FFd(Other.FFd), FPending(std::move(Other.FPending)) {
    Other.FFd = -1;
}

TSocketClient& TSocketClient::operator=(TSocketClient&& Other) noexcept {
    if (this != &Other) {
        Close();
        FFd = Other.FFd;
        FPending = std::move(Other.FPending);
        Other.FFd = -1;
    }
    return *this;
}

TSocketClient::~TSocketClient() {
    Close();
}

void TSocketClient::Close() {
    if (FFd >= 0)
        ::close(FFd);
    FFd = -1;
}

void TSocketClient::Reset() {
    if (FFd < 0)
        return;
    linger Linger{1, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &Linger, sizeof Linger);
    Close();
}

void TSocketClient::Send(std::string_view Bytes) {
    size_t Sent = 0;
    while (Sent < Bytes.size()) {
        const ssize_t N = ::send(FFd, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            throw std::runtime_error("send failed, errno " + std::to_string(errno));
        Sent += static_cast<size_t>(N);
    }
}

size_t TSocketClient::SendWithoutWaiting(std::string_view Bytes) {
    size_t Sent = 0;
    while (Sent < Bytes.size()) {
        const ssize_t N =
            ::send(FFd, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            break;
        Sent += static_cast<size_t>(N);
    }
    return Sent;
}

void TSocketClient::SendInPieces(std::string_view Bytes, size_t PieceSize,
                                 std::chrono::milliseconds Pause) {
    for (size_t At = 0; At < Bytes.size(); At += PieceSize) {
        if (At > 0)
            ::usleep(static_cast<useconds_t>(Pause.count() * 1000));
        Send(Bytes.substr(At, PieceSize));
    }
}

char TSocketClient::ReadByte(TClock::time_point Deadline, const std::string& SoFar) {
    if (FPending.empty()) {
        for (;;) {
            pollfd P{FFd, POLLIN, 0};
            const int N = ::poll(&P, 1, MillisecondsUntil(Deadline));
            if (N < 0 && errno == EINTR)
                continue;
            if (N == 0)
                throw std::runtime_error("timed out after receiving \"" + SoFar + "\"");
            char Buffer[65536];
            const ssize_t Got = ::recv(FFd, Buffer, sizeof Buffer, 0);
            if (Got < 0 && errno == EINTR)
                continue;
            if (Got <= 0)
                throw std::runtime_error("connection ended after receiving \"" + SoFar + "\"");
            FPending.assign(Buffer, static_cast<size_t>(Got));
            break;
        }
    }
    const char C = FPending.front();
    FPending.erase(0, 1);
    return C;
}

std::string TSocketClient::Receive(size_t Count, std::chrono::milliseconds Wait) {
    const auto Deadline = TClock::now() + Wait;
    std::string Got;
    Got.reserve(Count);
    while (Got.size() < Count) {
        if (!FPending.empty()) {
            const size_t Take = std::min(FPending.size(), Count - Got.size());
            Got.append(FPending, 0, Take);
            FPending.erase(0, Take);
            continue;
        }
        Got.push_back(ReadByte(Deadline, Got));
    }
    return Got;
}

std::string TSocketClient::ReceiveReply(std::chrono::milliseconds Wait) {
    const auto Deadline = TClock::now() + Wait;
    std::string Got;
    auto Next = [&] {
        const char C = ReadByte(Deadline, Got);
        Got.push_back(C);
        return C;
    };
    int Depth = 0;
    bool ErrorReply = false;
    std::string LastString;
    std::string Key;
    char Previous = 0;
    for (;;) {
        const char C = Next();
        if (C == '"') {
            LastString.clear();
            for (char S = Next(); S != '"'; S = Next()) {
                if (S == '\\')
                    S = Next();
                LastString.push_back(S);
            }
            Previous = '"';
            continue;
        }
        if (C == ':') {
            Key = LastString;
            if (Depth == 1 && Key == "error")
                ErrorReply = true;
        } else if (C == '{') {
            ++Depth;
        } else if (C == '}') {
            --Depth;
            if (Depth == 0 || (ErrorReply && Depth == 1 && Key != "error"))
                return Got;
        } else if (C == '[') {
            ++Depth;
            if (Previous == ':' && (Key == "data" || Key == "callback")) {
                // [count,raw bytes]: the count (padded with blanks in a
                // streaming chunk), then that many bytes as they are.
                std::string Count;
                char D = Next();
                while (D != ',' && D != ']') {
                    if (D != ' ')
                        Count.push_back(D);
                    D = Next();
                }
                if (D == ']') {
                    --Depth;
                } else {
                    const long long N = std::llabs(std::stoll(Count));
                    for (long long I = 0; I < N; ++I)
                        Next();
                }
            }
        } else if (C == ']') {
            --Depth;
        }
        Previous = C;
    }
}

bool TSocketClient::WaitClosed(std::chrono::milliseconds Wait) {
    const auto Deadline = TClock::now() + Wait;
    FPending.clear();
    for (;;) {
        pollfd P{FFd, POLLIN, 0};
        const int N = ::poll(&P, 1, MillisecondsUntil(Deadline));
        if (N < 0 && errno == EINTR)
            continue;
        if (N == 0)
            return false;
        char Buffer[4096];
        const ssize_t Got = ::recv(FFd, Buffer, sizeof Buffer, 0);
        if (Got < 0 && errno == EINTR)
            continue;
        if (Got <= 0)
            return true;
    }
}

bool TSocketClient::Silent(std::chrono::milliseconds Wait) {
    if (!FPending.empty())
        return false;
    pollfd P{FFd, POLLIN, 0};
    return ::poll(&P, 1, static_cast<int>(Wait.count())) == 0;
}

} // namespace kds::test
