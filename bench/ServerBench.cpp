// What the server's dispatch costs on top of the method itself:
// TServerMethods1.EchoString("ab") called
//   - directly (the method body, the baseline),
//   - through the in-process connection (TDSServerConnection and its
//     command: values copied in, dispatch, registry, invocation, copied out),
//   - through the connection handler with a ready request (the request row
//     as the input handler leaves it, the execute message, the reply row
//     flushed as the output handler does).
// Each also counts the heap allocations per call (global operator new), so
// that a dispatch which starts to allocate shows at once.

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "RecordingReporter.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"
#include "server/DSServer.h"
#include "server/DSServerConnection.h"
#include "server/DSServerConnectionHandler.h"
#include "server/KDSServerContainerUnit.h"
#include "server/KDSServerMethodsUnit.h"
#include "server/wire/DBXMessages.h"

namespace {

std::atomic<uint64_t> Allocations{0};

} // namespace

// The replacements below pair malloc with free throughout; the compiler sees
// only the inlined halves and would take them for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t Size) {
    Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* P = std::malloc(Size == 0 ? 1 : Size))
        return P;
    throw std::bad_alloc();
}
void operator delete(void* P) noexcept {
    std::free(P);
}
void operator delete(void* P, std::size_t) noexcept {
    std::free(P);
}

namespace {

using namespace kds;

class TNoTransport : public TDSServerTransport {
public:
    void Start() override {}
    void Stop() override {}
    void RemoveConnection(TDSServerConnectionHandler&) override {}
};

// The end of the chain: flushes the reply row as the output handler does.
class TReplyRowHandler : public TDBXConnectionHandler {
public:
    TReplyRowHandler() : TDBXConnectionHandler(nullptr) {}
    void DbxConnect(TDBXConnectMessage&) override {}
    void DbxDisconnect(TDBXDisconnectMessage&) override {}
    void DbxTxBegin(TDBXTxBeginMessage&) override {}
    void DbxTxEnd(TDBXTxEndMessage&) override {}
    void DbxVendorProperty(TDBXVendorPropertyMessage&) override {}
    void DbxOpen(TDBXOpenMessage&) override {}
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage&) override { return this; }
    bool DbxBeforeRequest() override { return true; }
    std::u16string GetProductName() override { return {}; }
    void DbxExecute(TDBXExecuteMessage& Message) override {
        Message.Parameters()->FlushReply();
        ReplyBytes = Buffer.Size();
    }
    void DbxPrepare(TDBXPrepareMessage&) override {}
    void DbxNextResult(TDBXNextResultMessage&) override {}
    void DbxNext(TDBXNextMessage&) override {}
    void DbxMoreBlob(TDBXMoreBlobMessage&) override {}
    void DbxCommandClose(TDBXCommandCloseMessage&) override {}
    void DbxReaderClose(TDBXReaderCloseMessage&) override {}
    void DbxErrorMessage(TDBXErrorMessage&) override {}
    std::unique_ptr<TDBXRow> CreateDbxRow() override {
        return std::make_unique<TDBXJSonRow>(nullptr, &Buffer);
    }

    TDBXRowBuffer Buffer;
    int32_t ReplyBytes = 0;
};

TServerContainer1& Container() {
    static TServerContainer1 C([] { return std::make_unique<TNoTransport>(); });
    return C;
}

const std::u16string Input = u"ab";

void Echo_Direct(benchmark::State& State) {
    TServerMethods1 Methods;
    const uint64_t Before = Allocations.load();
    for (auto _ : State) {
        std::u16string Result = Methods.EchoString(Input);
        benchmark::DoNotOptimize(Result.data());
    }
    State.counters["allocs/call"] =
        static_cast<double>(Allocations.load() - Before) / static_cast<double>(State.iterations());
}

void Echo_ServerConnection(benchmark::State& State) {
    auto Connection = Container().DSServer1().GetServerConnection(TDBXProperties());
    auto Command = Connection->CreateCommand();
    Command->SetCommandType(u"KDS.ServerMethod");
    Command->SetText(u"TServerMethods1.EchoString");
    TDBXParameterList& Parameters = Command->GetParameters();
    const uint64_t Before = Allocations.load();
    for (auto _ : State) {
        Parameters[0].Value().SetWideString(Input);
        Command->ExecuteUpdate();
        std::u16string Result = Parameters[1].Value().GetWideString();
        benchmark::DoNotOptimize(Result.data());
    }
    State.counters["allocs/call"] =
        static_cast<double>(Allocations.load() - Before) / static_cast<double>(State.iterations());
    if (Parameters[1].Value().GetWideString() != Input)
        State.SkipWithError("wrong result");
}

void Echo_ConnectionHandler(benchmark::State& State) {
    TReplyRowHandler Next;
    TDSServerConnectionHandler Handler(Container().DSServer1().DbxContext(), nullptr, &Next,
                                       &Container().DSServer1(), nullptr);
    TDBXPrepareMessage Prepare;
    Prepare.Reset();
    Prepare.FCommandType = u"KDS.ServerMethod";
    Prepare.FCommand = u"TServerMethods1.EchoString";
    Handler.DbxPrepare(Prepare);
    TDBXExecuteMessage Execute;
    const uint8_t Row[] = {0x22, 0x61, 0x62};
    const uint64_t Before = Allocations.load();
    for (auto _ : State) {
        // The request as the input handler leaves it: the message reset, the
        // handle, the row bytes in the connection's row buffer.
        Execute.Reset();
        Execute.FCommandHandle = Prepare.FCommandHandle;
        Execute.FHasParameters = true;
        std::memcpy(Next.Buffer.ReadBuffer(3), Row, 3);
        Next.Buffer.SetReadSize(3);
        Handler.DbxExecute(Execute);
        benchmark::DoNotOptimize(Next.ReplyBytes);
    }
    State.counters["allocs/call"] =
        static_cast<double>(Allocations.load() - Before) / static_cast<double>(State.iterations());
    const uint8_t* Reply = Next.Buffer.Data();
    if (Next.ReplyBytes != 4 || Reply[0] != 0xC0 || Reply[1] != 0x22 || Reply[3] != 0x62)
        State.SkipWithError("wrong reply row");
}

BENCHMARK(Echo_Direct);
BENCHMARK(Echo_ServerConnection);
BENCHMARK(Echo_ConnectionHandler);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    const auto Direct = Reporter.Get("Echo_Direct");
    std::printf("\n%-24s %12s %12s %12s %12s %12s\n", "EchoString path", "calls/s", "real us",
                "cpu us", "real/direct", "cpu/direct");
    for (const char* Name : {"Echo_Direct", "Echo_ServerConnection", "Echo_ConnectionHandler"}) {
        const auto F = Reporter.Get(Name);
        if (F.RealSeconds <= 0 || Direct.RealTime <= 0 || Direct.CpuTime <= 0)
            continue;
        std::printf("%-24s %12.0f %12.3f %12.3f %12.1f %12.1f\n", Name, 1.0 / F.RealSeconds,
                    F.RealTime / 1e3, F.CpuTime / 1e3, F.RealTime / Direct.RealTime,
                    F.CpuTime / Direct.CpuTime);
    }
    benchmark::Shutdown();
    return 0;
}
