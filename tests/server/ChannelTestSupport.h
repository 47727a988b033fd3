#pragma once

// Terminals for the channel tests: connections served on threads of their
// own over socket pairs, against a started server with a fake transport.
//
//   TChannelFixture F;
//   auto T = F.Subscribe(u"KDSChannel", "t1");   // ConnectClientChannel sent,
//                                                // the tunnel exists
//   BroadcastReset(F.Server());
//   T->Peer().ReadText() == ResetCallback;
//   T->Peer().Send(CallbackAnswer);

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "ServerTestSupport.h"
#include "support/SocketPairConnection.h"

namespace kds::test {

// What a subscriber receives for "reset", and how it answers.
inline const std::string ResetCallback = "{\"callback\":[31,[4,1,{\"broadcast\":[\"reset\",1]}]]}";
inline const std::string CallbackAnswer = "{\"data\":[4,true]}";

// Polls Condition until it holds, at most TimeoutMs.
bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs = 5000);

// The row of a Boolean method's reply: Nulls nulled parameters, then the
// result (60 true, 20 false).
TBytes BooleanRow(int Nulls, bool Value);
// The JSON text of the last field of a reply's row (a 0x40 block after the
// nulled parameters); empty when there is none.
std::string JsonResult(const TBytes& Reply);

class TChannelFixture {
public:
    using TConnection = std::unique_ptr<TSocketPairConnection>;

    explicit TChannelFixture(std::u16string ServerName = u"ChannelServer");

    TDSServer& Server() { return Harness.Server(); }
    // A terminal that has sent its connect and read the reply. Any thread.
    TConnection Connect();
    // A terminal blocked in DSAdmin.ConnectClientChannel(Channel, Id,
    // CallbackId, Token), its tunnel in the channel.
    TConnection Subscribe(const std::u16string& Channel, const std::string& Id,
                          const std::string& CallbackId = "cb1", const std::string& Token = "tok");
    // Runs one method on a terminal of its own and answers the reply.
    TBytes Call(const std::string& Method, const TBytes& Row);

    static TBytes SubscribeRow(const std::string& Channel, const std::string& Id,
                               const std::string& CallbackId, const std::string& Token);

    TServerHarness Harness;

private:
    std::atomic<int32_t> FHandles{0};
};

} // namespace kds::test
