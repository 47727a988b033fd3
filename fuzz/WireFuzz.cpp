// Feeds arbitrary bytes to one connection's request loop, the way a hostile
// or broken terminal could send them. The first byte picks how the bytes
// arrive (chunk size), the buffer size (32768 or a tiny 64 that makes every
// reply cross full-buffer flushes), whether the fake server method calls back
// to the peer (its answer then comes from the same bytes) and whether txend
// raises a non-standard object; the rest is the stream. Whatever comes in
// must end in replies, error replies or the end of the connection: never a
// crash, a hang, an overread or a leak. While the connection lives, every
// reply must have been flushed whole: nothing may stay in the writer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/DBXError.h"
#include "data/DBXJSON.h"
#include "data/TStream.h"
#include "server/wire/DBXServerCallback.h"
#include "server/wire/DBXStream.h"
#include "support/WireStack.h"

using namespace kds;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    if (Size < 1)
        return 0;
    const uint8_t Mode = Data[0];
    test::TWireStack Stack(Mode & 0x80 ? 64 : 32768);
    const int32_t Chunks[] = {0, 1, 2, 3, 7, 64, 1000, 5};
    Stack.Channel().SetChunkSize(Chunks[Mode & 7]);
    TMemoryStream Blob(std::vector<uint8_t>(100, 'b'));
    Stack.Fake().MoreBlobStream = &Blob;
    if (Mode & 0x08) {
        Stack.Fake().OnExecute = [](TDBXExecuteMessage& M) {
            auto* Callback = new TDBXServerCallback(M.GetConnectionHandler(), nullptr, 4);
            Callback->AddRef();
            TJSONString Arg(u"reset");
            try {
                Callback->Execute(&Arg);
            } catch (const TDBXError&) {
            }
            Callback->Release();
            M.FHasOutOrReturnParameters = false;
        };
    }
    if (Mode & 0x10)
        Stack.Fake().Throw = [](const std::string& Op) {
            if (Op == "txend")
                throw 7; // a non-standard object
        };
    Stack.Channel().Feed(std::vector<uint8_t>(Data + 1, Data + Size));
    Stack.Serve();
    if (!Stack.Ended() &&
        Stack.Protocol().ConnectionHandler().StreamWriter().BufferPosition() != -1)
        __builtin_trap();
    return 0;
}
