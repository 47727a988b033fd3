#pragma once

// kdsterm watch: a kitchen terminal's subscription to a channel, kept up
// until it is stopped.
//
// Each round connects to the server, subscribes with
// DSAdmin.ConnectClientChannel(Channel, Id, CallbackId, Token, callback) and
// waits inside that call while the server pushes the channel's messages as
// callbacks. Every callback is answered true at once and printed to Out as
// one line:
//   - a broadcast of the text "reset" as   reset
//   - any other broadcast as its message's JSON   {"a":[1,2]}
//   - anything else (a message to the callback id) as the callback's item
//     JSON   {"invoke":["cb1","hello",1]}
// The lines are flushed one by one, so a pipe reader sees each at once.
//
// When a round ends (the connection is lost, the server stops or restarts,
// the subscription is closed or refused because the id still has a tunnel)
// a line saying why goes to Err and the next round starts after a pause
// that doubles from MinBackoff to MaxBackoff; a round that got as far as
// subscribing starts the pauses again from MinBackoff. The same Id (and
// Token) is used in every round.
//
// Stop may be called from any thread (a signal's helper thread, a test): it
// ends the wait inside the subscription (by shutting the socket down) or
// the pause, and Run then returns TTermExit::Ok. Run is called once, on one
// thread. Stop before Run makes Run return at once.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

namespace kds {

struct TWatchSettings {
    std::string Host = "127.0.0.1";
    uint16_t Port = 16000;
    std::string Channel = "KDSChannel";
    std::string Id;
    std::string CallbackId = "cb1";
    std::string Token;
    // Limit on connecting and on each reply before the subscription (the
    // subscription itself waits without limit); 0: none.
    std::chrono::milliseconds Timeout{10000};
    std::chrono::milliseconds MinBackoff{100};
    std::chrono::milliseconds MaxBackoff{5000};
};

class TChannelWatch {
public:
    TChannelWatch(TWatchSettings Settings, std::ostream& Out, std::ostream& Err);
    TChannelWatch(const TChannelWatch&) = delete;
    TChannelWatch& operator=(const TChannelWatch&) = delete;

    int Run();
    void Stop();

    // Rounds that reached the subscription call so far (any thread).
    int64_t Subscriptions() const;

private:
    enum class TRoundEnd { Subscribed, Failed };

    TRoundEnd Round();
    void Print(const std::string& Line);
    // Waits Pause unless stopped first; false when stopped.
    bool PauseFor(std::chrono::milliseconds Pause);
    bool Stopped() const;

    const TWatchSettings FSettings;
    std::ostream& FOut;
    std::ostream& FErr;

    mutable std::mutex FLock; // guards everything below
    std::condition_variable FWake;
    bool FStop = false;
    int FSocket = -1; // the round's socket, shut down by Stop
    int64_t FSubscriptions = 0;
};

} // namespace kds
