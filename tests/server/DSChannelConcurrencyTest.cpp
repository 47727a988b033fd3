// Broadcasts, subscriptions, closes, notifications and polls all at once, for
// the thread sanitizer (make tsan) and the leak checker (make sanitize): no
// race, no deadlock, no tunnel, item or message left behind.
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ChannelTestSupport.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "server/KDSServerContainerUnit.h"
#include "support/MemoryChannel.h"

namespace kds {
namespace {

using test::CallbackAnswer;
using test::Concat;
using test::ExecuteRequest;
using test::IntField;
using test::NullField;
using test::TextField;
using namespace std::chrono_literals;

TEST(DSChannelConcurrencyTest, BroadcastSubscribeCloseNotifyAndPollAtTheSameTime) {
    test::TChannelFixture F(u"ConcurrentChannelServer");
    TDSServer& Server = F.Server();
    std::atomic<bool> Stop{false};
    std::atomic<int> Callbacks{0};
    std::atomic<int> Subscriptions{0};
    std::vector<std::thread> Threads;

    // Subscribers: subscribe, answer what comes, and now and then hang up
    // (or get closed by the closer) and subscribe again with the same id.
    for (int K = 0; K < 3; ++K) {
        Threads.emplace_back([&, K] {
            const std::string Id = "s" + std::to_string(K);
            int Round = 0;
            while (!Stop) {
                auto T = F.Connect();
                T->Peer().Send(ExecuteRequest(
                    "DSAdmin.ConnectClientChannel",
                    test::TChannelFixture::SubscribeRow("KDSChannel", Id, "cb1", "tok")));
                ++Subscriptions;
                const auto Until = std::chrono::steady_clock::now() + 40ms + 10ms * K;
                while (!Stop && std::chrono::steady_clock::now() < Until) {
                    const std::string Message = T->Peer().ReadText(5);
                    if (Message.rfind("{\"callback\":", 0) == 0) {
                        T->Peer().Send(CallbackAnswer);
                        ++Callbacks;
                    } else if (!Message.empty()) {
                        break; // the subscription ended (closed, refused)
                    }
                }
                // Every other round the terminal just vanishes.
                if (++Round % 2 == 0)
                    T->Peer().HangUp();
            }
        });
    }
    // The operator pressing reset.
    Threads.emplace_back([&] {
        while (!Stop) {
            BroadcastReset(Server);
            std::this_thread::sleep_for(200us);
        }
    });
    // Someone closing subscriptions, with the right token and a wrong one.
    Threads.emplace_back([&] {
        for (int I = 0; !Stop; ++I) {
            const std::u16string Id = u"s" + std::u16string(1, char16_t(u'0' + I % 3));
            try {
                Server.UnregisterChannelCallback(u"KDSChannel", Id, I % 4 == 0 ? u"bad" : u"tok",
                                                 TDSTunnelEnd::WhenConsumed);
            } catch (const TDBXError&) {
            }
            std::this_thread::sleep_for(7ms);
        }
    });
    // Notifications to whoever is there, with a short limit.
    Threads.emplace_back([&] {
        for (int I = 0; !Stop; ++I) {
            std::unique_ptr<TJSONValue> Response;
            Server.NotifyCallback(u"KDSChannel", u"s" + std::u16string(1, char16_t(u'0' + I % 3)),
                                  u"cb1", std::make_unique<TJSONString>(u"ping"), Response, 20);
            Server.GetAllChannelClientId(u"KDSChannel");
            Server.GetAllChannelCallbackId(u"KDSChannel");
        }
    });
    // A polling client on a connection of its own.
    Threads.emplace_back([&] {
        while (!Stop) {
            auto P = F.Connect();
            P->Peer().Send(
                ExecuteRequest("DSAdmin.ConsumeClientChannel",
                               Concat({TextField("KDSChannel"), TextField("p1"), TextField("cb1"),
                                       TextField("tok"), NullField()})));
            P->Peer().ReadMessage();
            for (int I = 0; I < 20 && !Stop; ++I) {
                P->Peer().Send(
                    ExecuteRequest("DSAdmin.ConsumeClientChannelTimeout",
                                   Concat({TextField("KDSChannel"), TextField("p1"), TextField(""),
                                           TextField("tok"), IntField(1), NullField()})));
                if (P->Peer().ReadMessage().empty())
                    break;
            }
        }
    });

    std::this_thread::sleep_for(1500ms);
    Stop = true;
    for (auto& T : Threads)
        T.join();
    Server.Stop();
    EXPECT_GT(Subscriptions.load(), 3);
    EXPECT_GT(Callbacks.load(), 0);
    EXPECT_FALSE(Server.HasChannelCallback(u"KDSChannel"));
}

} // namespace
} // namespace kds
