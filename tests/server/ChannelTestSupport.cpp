#include "ChannelTestSupport.h"

#include <gtest/gtest.h>

#include "base/TextConvert.h"
#include "support/MemoryChannel.h"

namespace kds::test {

bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs) {
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Condition()) {
        if (std::chrono::steady_clock::now() >= Deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TBytes BooleanRow(int Nulls, bool Value) {
    TBytes Row(static_cast<size_t>(Nulls), 0xC0);
    Row.push_back(Value ? 0x60 : 0x20);
    return Row;
}

std::string JsonResult(const TBytes& Reply) {
    const TBytes Row = ReplyRow(Reply);
    size_t I = 0;
    while (I < Row.size() && Row[I] == 0xC0)
        ++I;
    if (I + 5 > Row.size() || Row[I] != 0x40)
        return std::string();
    const size_t Length = (size_t(Row[I + 1]) << 24) | (size_t(Row[I + 2]) << 16) |
                          (size_t(Row[I + 3]) << 8) | size_t(Row[I + 4]);
    if (I + 5 + Length > Row.size())
        return std::string();
    return std::string(Row.begin() + static_cast<std::ptrdiff_t>(I + 5),
                       Row.begin() + static_cast<std::ptrdiff_t>(I + 5 + Length));
}

TChannelFixture::TChannelFixture(std::u16string ServerName) : Harness(std::move(ServerName)) {}

TChannelFixture::TConnection TChannelFixture::Connect() {
    const int32_t Handle = ++FHandles;
    auto C = std::make_unique<TSocketPairConnection>(
        Server().DbxContext(), Harness.Transport().ConnectionHandlerFactory(), Handle);
    C->Peer().Send("{\"method\":\"connect\",\"params\":[{}]}");
    EXPECT_EQ(C->Peer().ReadText(), "{\"result\":[" + std::to_string(Handle) + ",\"KDS\",2]}");
    return C;
}

TBytes TChannelFixture::SubscribeRow(const std::string& Channel, const std::string& Id,
                                     const std::string& CallbackId, const std::string& Token) {
    return Concat({TextField(Channel), TextField(Id), TextField(CallbackId), TextField(Token),
                   CallbackField()});
}

TChannelFixture::TConnection TChannelFixture::Subscribe(const std::u16string& Channel,
                                                        const std::string& Id,
                                                        const std::string& CallbackId,
                                                        const std::string& Token) {
    TConnection C = Connect();
    const int32_t Before = Server().CallbackRepository().TunnelCount(Channel);
    C->Peer().Send(ExecuteRequest("DSAdmin.ConnectClientChannel",
                                  SubscribeRow(Utf16ToUtf8(Channel), Id, CallbackId, Token)));
    EXPECT_TRUE(WaitFor([&] {
        return Server().CallbackRepository().TunnelCount(Channel) > Before &&
               Server().HasChannelCallback(Channel, Utf8ToUtf16(Id));
    })) << "the tunnel of "
        << Id << " never appeared";
    return C;
}

TBytes TChannelFixture::Call(const std::string& Method, const TBytes& Row) {
    TConnection C = Connect();
    C->Peer().Send(ExecuteRequest(Method, Row));
    return C->Peer().ReadMessage();
}

} // namespace kds::test
