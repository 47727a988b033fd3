#include "support/WireStack.h"

#include "server/wire/DBXFilterSocketChannel.h"

namespace kds::test {

TWireStack::TWireStack(int32_t BufferSize) {
    auto Memory = std::make_unique<TMemoryChannel>();
    FChannel = Memory.get();
    auto Filter = std::make_unique<TDBXFilterSocketChannel>(std::move(Memory));
    FProtocol = CreateJSonServerProtocolHandler(
        &FContext, std::move(Filter), BufferSize,
        [this](TDBXContext* Context, std::unique_ptr<TDbxChannel> Channel,
               TDBXConnectionHandler* Output) {
            auto Fake =
                std::make_unique<TFakeConnectionHandler>(Context, std::move(Channel), Output);
            FFake = Fake.get();
            return Fake;
        });
}

bool TWireStack::Serve() {
    while (!FEnded && (FChannel->Pending() > 0 || FProtocol->HasMoreBytes())) {
        try {
            FProtocol->ServeRequests(nullptr);
        } catch (const TDBXError& E) {
            FEnded = true;
            FEndCode = E.ErrorCode();
            FEndMessage = E.Message();
        }
    }
    return !FEnded;
}

} // namespace kds::test
