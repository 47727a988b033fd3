#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "ServerTestSupport.h"
#include "base/DBXError.h"
#include "server/DSServerMethodProvider.h"
#include "server/KDSServerMethodsUnit.h"

namespace kds {
namespace {

// Connection threads prepare and execute while another connection's thread
// drops and creates methods and classes: the registry's lock keeps them
// apart, and calls prepared before a drop keep working (run under the
// thread sanitizer by `make tsan`).
TEST(DSRegistryConcurrencyTest, CallsGoOnWhileMethodsAreDroppedAndCreated) {
    test::TServerHarness Harness{u"ConcurrentServer",
                                 {{&TServerMethods1::ClassInfo(), u"Session"},
                                  {&test::CountedClass(u"TCountedShared"), u"Server"}}};
    std::shared_ptr<TDSServerMethodProvider> Provider = Harness.Server().MethodProvider();
    constexpr int32_t Threads = 8;
    constexpr int32_t Rounds = 300;
    std::atomic<bool> Stop{false};
    std::atomic<int32_t> Failures{0};
    std::atomic<int32_t> NotFound{0};

    std::thread Changer([&] {
        for (int32_t I = 0; !Stop; ++I) {
            try {
                Provider->DropServerMethod(u"TServerMethods1.ReverseString");
                Provider->AddServerMethod(u"TServerMethods1.ReverseString", u"TServerMethods1",
                                          u"ReverseString", u"");
                if (I % 4 == 0) {
                    Provider->DropServerClass(u"TCountedShared");
                    auto Info = std::make_shared<TDSClassInfo>();
                    Info->FClassName = u"TCountedShared";
                    Info->FLifeCycle = u"Server";
                    Info->FDsClass = &test::CountedClass(u"TCountedShared");
                    Provider->AddServerClass(Info);
                    Provider->AddServerMethods(Info);
                }
            } catch (...) {
                ++Failures;
            }
        }
    });

    std::vector<std::thread> Workers;
    for (int32_t T = 0; T < Threads; ++T) {
        Workers.emplace_back([&] {
            auto C = Harness.Connect();
            // Prepared once, before any drop can matter: it must keep working.
            const int32_t Echo = test::Prepare(*C.Handler, u"TServerMethods1.EchoString");
            for (int32_t R = 0; R < Rounds; ++R) {
                try {
                    if (test::Execute(*C.Handler, *C.Next, Echo, test::HexBytes("22 61 62")) !=
                        "C0 22 61 62")
                        ++Failures;
                    const int32_t Reverse =
                        test::Prepare(*C.Handler, u"TServerMethods1.ReverseString");
                    if (test::Execute(*C.Handler, *C.Next, Reverse, test::HexBytes("22 61 62")) !=
                        "C0 22 62 61")
                        ++Failures;
                    TDBXCommandCloseMessage Close;
                    Close.FCommandHandle = Reverse;
                    C.Handler->DbxCommandClose(Close);
                    const int32_t Touch = test::Prepare(*C.Handler, u"TCountedShared.Touch");
                    test::Execute(*C.Handler, *C.Next, Touch, {});
                    Close.FCommandHandle = Touch;
                    C.Handler->DbxCommandClose(Close);
                } catch (const TDBXError& E) {
                    // Between a drop and the add that follows it the name is
                    // briefly unknown; nothing else may fail.
                    if (E.ErrorCode() == 105)
                        ++NotFound;
                    else
                        ++Failures;
                }
            }
            for (auto& Listing : Provider->MethodList())
                if (Listing->FMethodAlias.empty())
                    ++Failures;
        });
    }
    for (auto& W : Workers)
        W.join();
    Stop = true;
    Changer.join();
    EXPECT_EQ(Failures, 0);
    EXPECT_TRUE(Provider->HasServerMethod(u"TServerMethods1.ReverseString"));
    EXPECT_EQ(Provider->MethodList().size(), 31u + 16u + 2u + 1u);
}

} // namespace
} // namespace kds
