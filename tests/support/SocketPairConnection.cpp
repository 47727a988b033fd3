#include "support/SocketPairConnection.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include "base/DBXError.h"
#include "server/wire/DBXFilterSocketChannel.h"

namespace kds::test {

// --- Server end --------------------------------------------------------------------

TSocketChannel::TSocketChannel(int Fd) : FFd(Fd) {}

TSocketChannel::~TSocketChannel() {
    if (FFd >= 0)
        close(FFd);
}

int32_t TSocketChannel::Read(uint8_t* Buffer, int32_t Offset, int32_t Count) {
    for (;;) {
        const ssize_t Got = recv(FFd, Buffer + Offset, static_cast<size_t>(Count), 0);
        if (Got > 0)
            return static_cast<int32_t>(Got);
        if (Got < 0 && errno == EINTR)
            continue;
        FLost = true;
        if (Got == 0)
            return 0;
        throw TDBXError(TDBXErrorCodes::None, "Connection lost");
    }
}

int32_t TSocketChannel::Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) {
    int32_t Sent = 0;
    while (Sent < Count) {
        const ssize_t N =
            send(FFd, Buffer + Offset + Sent, static_cast<size_t>(Count - Sent), MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0) {
            FLost = true;
            throw TDBXError(TDBXErrorCodes::None, "Connection lost");
        }
        Sent += static_cast<int32_t>(N);
    }
    return Count;
}

void TSocketChannel::Close() {
    shutdown(FFd, SHUT_RDWR);
}

// --- Peer end --------------------------------------------------------------------------

TPeerSocket::~TPeerSocket() {
    HangUp();
}

void TPeerSocket::HangUp() {
    if (FFd >= 0)
        close(FFd);
    FFd = -1;
}

void TPeerSocket::Adopt(int Fd) {
    HangUp();
    FFd = Fd;
    FPending.clear();
    FEnded = false;
}

void TPeerSocket::Send(const TBytes& Data) {
    size_t Sent = 0;
    while (Sent < Data.size()) {
        const ssize_t N = send(FFd, Data.data() + Sent, Data.size() - Sent, MSG_NOSIGNAL);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0)
            throw std::runtime_error("peer send failed");
        Sent += static_cast<size_t>(N);
    }
}

void TPeerSocket::Send(std::string_view Text) {
    Send(TBytes(Text.begin(), Text.end()));
}

bool TPeerSocket::Fill(int TimeoutMs) {
    if (FEnded || FFd < 0)
        return false;
    pollfd P{FFd, POLLIN, 0};
    int Ready;
    do
        Ready = poll(&P, 1, TimeoutMs);
    while (Ready < 0 && errno == EINTR);
    if (Ready <= 0)
        return false;
    uint8_t Chunk[65536];
    const ssize_t Got = recv(FFd, Chunk, sizeof Chunk, 0);
    if (Got <= 0) {
        FEnded = true;
        return false;
    }
    FPending.insert(FPending.end(), Chunk, Chunk + Got);
    return true;
}

TBytes TPeerSocket::ReadMessage(int TimeoutMs) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    for (;;) {
        if (const size_t Length = FrameLength(FPending); Length > 0) {
            TBytes Message(FPending.begin(),
                           FPending.begin() + static_cast<std::ptrdiff_t>(Length));
            FPending.erase(FPending.begin(),
                           FPending.begin() + static_cast<std::ptrdiff_t>(Length));
            return Message;
        }
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              Deadline - std::chrono::steady_clock::now())
                              .count();
        if (Left < 0 || !Fill(static_cast<int>(Left)))
            return {};
    }
}

std::string TPeerSocket::ReadText(int TimeoutMs) {
    const TBytes Message = ReadMessage(TimeoutMs);
    return std::string(Message.begin(), Message.end());
}

bool TPeerSocket::HasData(int TimeoutMs) {
    if (!FPending.empty())
        return true;
    return Fill(TimeoutMs);
}

bool TPeerSocket::ServerClosed(int TimeoutMs) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!FEnded) {
        const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              Deadline - std::chrono::steady_clock::now())
                              .count();
        if (Left < 0)
            return false;
        Fill(static_cast<int>(Left));
    }
    return true;
}

size_t FrameLength(const TBytes& Data) {
    int Depth = 0;
    bool IsError = false;
    bool SawKey = false;
    std::string Key;
    // A string just read that may name a byte block, and whether ':' followed.
    bool BlockKey = false;
    size_t I = 0;
    while (I < Data.size()) {
        const uint8_t C = Data[I];
        if (C == '"') {
            std::string Text;
            size_t J = I + 1;
            for (; J < Data.size() && Data[J] != '"'; ++J) {
                if (Data[J] == '\\')
                    ++J;
                else
                    Text += static_cast<char>(Data[J]);
            }
            if (J >= Data.size())
                return 0;
            if (!SawKey && Depth == 1) {
                SawKey = true;
                IsError = Text == "error";
            }
            BlockKey = Text == "data" || Text == "callback";
            I = J + 1;
            continue;
        }
        if (C == ':' && BlockKey) {
            ++I;
            if (I < Data.size() && Data[I] == '[') {
                // [count,<count bytes>...: the count, blanks, the comma.
                size_t J = I + 1;
                bool Negative = false;
                if (J < Data.size() && Data[J] == '-') {
                    Negative = true;
                    ++J;
                }
                int64_t Count = 0;
                while (J < Data.size() && Data[J] >= '0' && Data[J] <= '9')
                    Count = Count * 10 + (Data[J++] - '0');
                while (J < Data.size() && Data[J] == ' ')
                    ++J;
                if (J >= Data.size())
                    return 0;
                if (Data[J] == ',') {
                    (void)Negative;
                    const size_t End = J + 1 + static_cast<size_t>(Count);
                    if (End > Data.size())
                        return 0;
                    ++Depth;
                    I = End;
                    BlockKey = false;
                    continue;
                }
            }
            BlockKey = false;
            continue;
        }
        BlockKey = false;
        if (C == '{' || C == '[') {
            ++Depth;
        } else if (C == '}' || C == ']') {
            --Depth;
            if (Depth == 0 || (IsError && Depth == 1 && C == '}'))
                return I + 1;
        }
        ++I;
    }
    return 0;
}

// --- The served connection -----------------------------------------------------------

TSocketPairConnection::TSocketPairConnection(TDBXContext* Context,
                                             TDBXConnectionHandlerFactory Factory,
                                             int32_t ConnectionHandle) {
    int Fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fds) != 0)
        throw std::runtime_error("socketpair failed");
    FPeer.Adopt(Fds[1]);
    auto Socket = std::make_unique<TSocketChannel>(Fds[0]);
    TSocketChannel* SocketEnd = Socket.get();
    auto Channel = std::make_unique<TDBXFilterSocketChannel>(std::move(Socket));
    TDBXConnectionHandler* Handler = nullptr;
    auto Protocol = CreateJSonServerProtocolHandler(
        Context, std::move(Channel), 32768,
        [&](TDBXContext* C, std::unique_ptr<TDbxChannel> Ch, TDBXConnectionHandler* Output) {
            auto Made = Factory(C, std::move(Ch), Output);
            Handler = Made.get();
            return Made;
        });
    TDBXOpenMessage Open;
    Open.FConnectionHandle = ConnectionHandle;
    Handler->DbxOpen(Open);
    FThread = std::thread(
        [this, SocketEnd, P = std::move(Protocol)]() mutable { Serve(std::move(P), *SocketEnd); });
}

void TSocketPairConnection::Serve(std::unique_ptr<TDBXJSonServerProtocolHandler> Protocol,
                                  TSocketChannel& Socket) {
    try {
        // As the transport: requests that arrive after a disconnect are
        // still served; the connection ends when the stack raises or the
        // socket has gone.
        while (Protocol->ServeRequests(nullptr) || !Socket.GetConnectionLost()) {
        }
    } catch (...) {
        // The connection ends, as the transport ends it.
    }
    Protocol.reset();
    FEnded = true;
}

bool TSocketPairConnection::Ended(int TimeoutMs) const {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!FEnded) {
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void TSocketPairConnection::Join() {
    FPeer.HangUp();
    if (FThread.joinable())
        FThread.join();
}

TSocketPairConnection::~TSocketPairConnection() {
    Join();
}

// --- Rows and requests -------------------------------------------------------------------

TBytes IntField(int64_t Value) {
    uint64_t Magnitude =
        Value < 0 ? 0 - static_cast<uint64_t>(Value) : static_cast<uint64_t>(Value);
    uint8_t Digits[8];
    size_t Count = 0;
    for (; Magnitude != 0; Magnitude >>= 8)
        Digits[Count++] = static_cast<uint8_t>(Magnitude & 0xFF);
    TBytes Out;
    Out.push_back(static_cast<uint8_t>((Value < 0 ? 0x20 : 0x60) + Count));
    while (Count > 0)
        Out.push_back(Digits[--Count]);
    return Out;
}

TBytes JsonField(std::string_view Json) {
    const uint32_t N = static_cast<uint32_t>(Json.size());
    TBytes Out;
    Out.reserve(Json.size() + 5);
    for (const uint8_t B :
         {uint8_t(0x40), static_cast<uint8_t>(N >> 24), static_cast<uint8_t>(N >> 16),
          static_cast<uint8_t>(N >> 8), static_cast<uint8_t>(N)})
        Out.push_back(B);
    for (const char C : Json)
        Out.push_back(static_cast<uint8_t>(C));
    return Out;
}

TBytes ExecuteRequest(std::string_view Method, const TBytes& Row) {
    const std::string Head = "{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,"
                             "\"KDS.ServerMethod\",\"" +
                             std::string(Method) + "\"]},{\"data\":[" + std::to_string(Row.size()) +
                             ",";
    TBytes Out(Head.begin(), Head.end());
    Out.insert(Out.end(), Row.begin(), Row.end());
    const std::string Tail = "]}]}";
    Out.insert(Out.end(), Tail.begin(), Tail.end());
    return Out;
}

TBytes ReplyRow(const TBytes& Reply) {
    const std::string Head = "{\"result\":[{\"data\":[";
    if (Reply.size() < Head.size() || !std::equal(Head.begin(), Head.end(), Reply.begin()))
        return {};
    size_t I = Head.size();
    size_t Count = 0;
    while (I < Reply.size() && Reply[I] >= '0' && Reply[I] <= '9')
        Count = Count * 10 + (Reply[I++] - '0');
    if (I >= Reply.size() || Reply[I] != ',' || I + 1 + Count > Reply.size())
        return {};
    return TBytes(Reply.begin() + static_cast<std::ptrdiff_t>(I + 1),
                  Reply.begin() + static_cast<std::ptrdiff_t>(I + 1 + Count));
}

} // namespace kds::test
