#pragma once

// A raw TCP test client on 127.0.0.1: sends bytes exactly as given and reads
// exactly what comes back, with a time limit on every wait, so a test that
// goes wrong fails instead of hanging.
//
//   test::TSocketClient C(Port);
//   C.Send("{\"method\":\"connect\",\"params\":[{}]}");
//   EXPECT_EQ(C.Receive(23), "{\"result\":[1,\"KDS\",2]}");
//
// Failures (cannot connect, a wait that times out, the peer closing before
// the bytes came) raise std::runtime_error with what was received so far.
// One thread uses a client at a time.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kds::test {

using namespace std::chrono_literals;

class TSocketClient {
public:
    static constexpr std::chrono::milliseconds DefaultWait = 5s;

    // Connects to 127.0.0.1:Port.
    explicit TSocketClient(uint16_t Port);
    TSocketClient(const TSocketClient&) = delete;
    TSocketClient& operator=(const TSocketClient&) = delete;
    TSocketClient(TSocketClient&& Other) noexcept;
    TSocketClient& operator=(TSocketClient&& Other) noexcept;
    ~TSocketClient();

    void Send(std::string_view Bytes);
    // Sends what the socket takes without waiting (the rest is dropped);
    // answers how many bytes went.
    size_t SendWithoutWaiting(std::string_view Bytes);
    // Sends in pieces of PieceSize bytes with Pause between them.
    void SendInPieces(std::string_view Bytes, size_t PieceSize, std::chrono::milliseconds Pause);
    // Exactly Count bytes.
    std::string Receive(size_t Count, std::chrono::milliseconds Wait = DefaultWait);
    // One reply of the protocol: a JSON-shaped object read to its end
    // (strings with escapes, [count,raw bytes] blocks inside arrays, and the
    // error object that ends after its inner object).
    std::string ReceiveReply(std::chrono::milliseconds Wait = DefaultWait);
    // True when the peer ends the connection (orderly or by reset) within
    // Wait; bytes that arrive meanwhile are dropped.
    bool WaitClosed(std::chrono::milliseconds Wait = DefaultWait);
    // True when no byte arrives within Wait (the connection stays open).
    bool Silent(std::chrono::milliseconds Wait);
    // Closes with a reset (SO_LINGER 0) instead of an orderly end.
    void Reset();
    void Close();
    int Fd() const { return FFd; }

private:
    // One byte, waiting at most until Deadline.
    char ReadByte(std::chrono::steady_clock::time_point Deadline, const std::string& SoFar);

    int FFd = -1;
    std::string FPending; // bytes read but not yet handed out
};

} // namespace kds::test
