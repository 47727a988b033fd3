// Requests served per second by one connection's whole stack (filter
// wrapper, codec, input handler, a minimal connection handler, output
// handler) over an in-memory channel, each next to a baseline measured in the
// same run: the JSON part of the same request bytes parsed by RapidJSON's SAX
// reader, with the request and its reply copied once by memcpy. The summary
// prints the ratio, and the heap allocations per request once the buffers
// exist (counted by the operator new below).
//
//   EchoPair: {"method":"prepare",...EchoString...} and
//             {"method":"execute",...{"data":[3,"ab]}...}, pipelined in one
//             read; replies are the exact prepare and execute replies.
//   Block64K: one execute whose "data" carries a 65536-byte row; the reply is
//             {"result":[]}.

// The counting operator new below pairs malloc with free on purpose; GCC
// misreads the inlined pair as mismatched.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <rapidjson/reader.h>
#include <string>
#include <vector>

#include "RecordingReporter.h"
#include "base/DBXContext.h"
#include "data/DBXDataTypes.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRow.h"
#include "server/wire/DBXFilterSocketChannel.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DbxChannel.h"

namespace {
std::atomic<long> Allocations{0};
}

void* operator new(size_t Size) {
    Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* P = std::malloc(Size ? Size : 1))
        return P;
    throw std::bad_alloc();
}
void operator delete(void* P) noexcept {
    std::free(P);
}
void operator delete(void* P, size_t) noexcept {
    std::free(P);
}

namespace {

using namespace kds;

// Serves the same script on every Rewind; writes are kept in a fixed buffer
// (the last reply bytes, for the sanity check) and counted.
class TLoopChannel : public TDbxChannel {
public:
    std::vector<uint8_t> Script;
    size_t Position = 0;
    std::vector<uint8_t> Last = std::vector<uint8_t>(1 << 20);
    size_t LastSize = 0;
    int64_t WrittenBytes = 0;

    void Rewind() {
        Position = 0;
        LastSize = 0;
    }
    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override {
        const size_t Take = std::min(Script.size() - Position, static_cast<size_t>(Count));
        if (Take == 0)
            return 0;
        std::memcpy(Buffer + Offset, Script.data() + Position, Take);
        Position += Take;
        return static_cast<int32_t>(Take);
    }
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override {
        if (LastSize + Count <= Last.size()) {
            std::memcpy(Last.data() + LastSize, Buffer + Offset, static_cast<size_t>(Count));
            LastSize += Count;
        }
        WrittenBytes += Count;
        return Count;
    }
};

// The server side of EchoString, as lean as a real connection handler's
// steady state: one prepared parameter list, the value echoed.
class TEchoHandler : public TDBXConnectionHandler {
public:
    TEchoHandler(TDBXContext* Context, std::unique_ptr<TDbxChannel> Channel,
                 TDBXConnectionHandler* Output)
        : TDBXConnectionHandler(Context), FChannel(std::move(Channel)), FOutput(Output) {
        FRow = Output->CreateDbxRow();
        FList = std::make_unique<TDBXParameterList>(Context, FRow.get());
        FList->SetCount(2);
        FList->Parameter(0).SetName(u"Value");
        FList->Parameter(0).SetDataType(TDBXDataTypes::WideStringType);
        FList->Parameter(0).SetParameterDirection(TDBXParameterDirections::InParameter);
        FList->Parameter(1).SetName(u"ReturnParameter");
        FList->Parameter(1).SetDataType(TDBXDataTypes::WideStringType);
        FList->Parameter(1).SetParameterDirection(TDBXParameterDirections::ReturnParameter);
    }
    ~TEchoHandler() override { FreeNextOwnedHandler(); }

    void DbxConnect(TDBXConnectMessage& M) override { FOutput->DbxConnect(M); }
    void DbxDisconnect(TDBXDisconnectMessage&) override {}
    void DbxTxBegin(TDBXTxBeginMessage& M) override { FOutput->DbxTxBegin(M); }
    void DbxTxEnd(TDBXTxEndMessage& M) override { FOutput->DbxTxEnd(M); }
    void DbxVendorProperty(TDBXVendorPropertyMessage& M) override { FOutput->DbxVendorProperty(M); }
    void DbxOpen(TDBXOpenMessage&) override {}
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage&) override { return FOutput; }
    bool DbxBeforeRequest() override { return true; }
    std::u16string GetProductName() override { return u"KDS"; }
    void DbxPrepare(TDBXPrepareMessage& M) override {
        M.FCommandHandle = 0;
        M.FParameters = FList.get();
        FOutput->DbxPrepare(M);
    }
    void DbxExecute(TDBXExecuteMessage& M) override {
        M.FCommandHandle = 0;
        if (Block) {
            M.FHasOutOrReturnParameters = false;
        } else {
            M.FParameters = FList.get();
            FList->Parameter(1).Value().SetWideString(FList->Parameter(0).Value().GetWideString());
            M.FHasOutOrReturnParameters = true;
        }
        FOutput->DbxExecute(M);
    }
    void DbxNextResult(TDBXNextResultMessage& M) override { FOutput->DbxNextResult(M); }
    void DbxNext(TDBXNextMessage& M) override { FOutput->DbxNext(M); }
    void DbxMoreBlob(TDBXMoreBlobMessage& M) override { FOutput->DbxMoreBlob(M); }
    void DbxCommandClose(TDBXCommandCloseMessage&) override {}
    void DbxReaderClose(TDBXReaderCloseMessage&) override {}
    void DbxErrorMessage(TDBXErrorMessage& M) override { FOutput->DbxErrorMessage(M); }

    bool Block = false;

private:
    std::unique_ptr<TDbxChannel> FChannel;
    TDBXConnectionHandler* FOutput;
    std::unique_ptr<TDBXRow> FRow;
    std::unique_ptr<TDBXParameterList> FList;
};

struct TStack {
    TDBXContext Context;
    TLoopChannel* Channel = nullptr;
    TEchoHandler* Handler = nullptr;
    std::unique_ptr<TDBXJSonServerProtocolHandler> Protocol;

    explicit TStack(const std::vector<uint8_t>& Script, bool Block) {
        auto Loop = std::make_unique<TLoopChannel>();
        Channel = Loop.get();
        Protocol = CreateJSonServerProtocolHandler(
            &Context, std::make_unique<TDBXFilterSocketChannel>(std::move(Loop)), 32768,
            [&](TDBXContext* C, std::unique_ptr<TDbxChannel> Ch, TDBXConnectionHandler* Out) {
                auto H = std::make_unique<TEchoHandler>(C, std::move(Ch), Out);
                Handler = H.get();
                return H;
            });
        Handler->Block = Block;
        // The first read of a connection is the probe's: serve once to pass it.
        Channel->Script = Script;
        Serve();
    }
    void Serve() {
        Channel->Rewind();
        Protocol->ServeRequests(nullptr);
    }
    std::string LastReply() const {
        return std::string(Channel->Last.begin(), Channel->Last.begin() + Channel->LastSize);
    }
};

std::vector<uint8_t> Bytes(const std::string& Text) {
    return std::vector<uint8_t>(Text.begin(), Text.end());
}

const std::string Prepare = "{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                            "\"TServerMethods1.EchoString\"]}";
const std::string Execute =
    "{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[3,\"ab]}]}";
const std::string EchoReplies =
    "{\"result\":[{\"handle\":[0]},{\"fields\":[0,false]},{\"parameters\":[2,[26,0,1,0,0,"
    "\"Value\",0,0,0],[26,0,4,0,0,\"ReturnParameter\",0,0,0]]}]}"
    "{\"result\":[{\"data\":[4,\xC0\"ab]}]}";
// The same requests as JSON alone (the byte block left out) for the baseline.
const std::string EchoSkeleton = "[" + Prepare +
                                 ",{\"method\":\"execute\",\"params\":[{\"handle\":[0]},"
                                 "{\"data\":[3]}]}]";

constexpr int32_t BlockBytes = 65536;
std::vector<uint8_t> BlockRequest() {
    std::vector<uint8_t> R =
        Bytes("{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[" +
              std::to_string(BlockBytes) + ",");
    for (int32_t I = 0; I < BlockBytes; ++I)
        R.push_back(static_cast<uint8_t>(I * 31));
    const std::vector<uint8_t> Tail = Bytes("]}]}");
    R.insert(R.end(), Tail.begin(), Tail.end());
    return R;
}
const std::string BlockSkeleton =
    "{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{\"data\":[" +
    std::to_string(BlockBytes) + "]}]}";

std::map<std::string, double> AllocationsPerRequest;

template <typename F> double AllocationsOf(F&& Fn, int Requests) {
    Fn();
    const long Before = Allocations.load();
    for (int I = 0; I < 100; ++I)
        Fn();
    return double(Allocations.load() - Before) / (100.0 * Requests);
}

// A SAX handler that touches every value, as a codec must.
struct TTouch : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TTouch> {
    uint64_t Sum = 0;
    bool Default() {
        ++Sum;
        return true;
    }
    bool String(const char* S, rapidjson::SizeType N, bool) {
        Sum += N + static_cast<uint8_t>(N ? S[0] : 0);
        return true;
    }
    bool Key(const char* S, rapidjson::SizeType N, bool C) { return String(S, N, C); }
    bool Int(int V) {
        Sum += static_cast<uint64_t>(V);
        return true;
    }
    bool Uint(unsigned V) {
        Sum += V;
        return true;
    }
};

// Parse of the JSON part plus one copy of the request and of the reply.
void Baseline(benchmark::State& State, const std::string& Skeleton,
              const std::vector<uint8_t>& Request, const std::string& Reply) {
    std::vector<uint8_t> RequestCopy(Request.size()), ReplyCopy(Reply.size());
    for (auto _ : State) {
        rapidjson::Reader Reader;
        rapidjson::StringStream In(Skeleton.c_str());
        TTouch Touch;
        Reader.Parse(In, Touch);
        std::memcpy(RequestCopy.data(), Request.data(), Request.size());
        std::memcpy(ReplyCopy.data(), Reply.data(), Reply.size());
        benchmark::DoNotOptimize(Touch.Sum);
        benchmark::DoNotOptimize(RequestCopy.data());
        benchmark::DoNotOptimize(ReplyCopy.data());
        benchmark::ClobberMemory();
    }
}

void EchoPair(benchmark::State& State) {
    TStack S(Bytes(Prepare + Execute), false);
    S.Serve();
    if (S.LastReply() != EchoReplies) {
        State.SkipWithError("the echo replies are not the expected bytes");
        return;
    }
    for (auto _ : State)
        S.Serve();
    State.SetItemsProcessed(State.iterations() * 2);
    AllocationsPerRequest["EchoPair"] = AllocationsOf([&] { S.Serve(); }, 2);
}

void EchoPairBaseline(benchmark::State& State) {
    Baseline(State, EchoSkeleton, Bytes(Prepare + Execute), EchoReplies);
    State.SetItemsProcessed(State.iterations() * 2);
}

void Block64K(benchmark::State& State) {
    TStack S(BlockRequest(), true);
    S.Serve();
    if (S.LastReply() != "{\"result\":[]}") {
        State.SkipWithError("the block reply is not the expected bytes");
        return;
    }
    for (auto _ : State)
        S.Serve();
    State.SetItemsProcessed(State.iterations());
    State.SetBytesProcessed(State.iterations() * BlockBytes);
    AllocationsPerRequest["Block64K"] = AllocationsOf([&] { S.Serve(); }, 1);
}

void Block64KBaseline(benchmark::State& State) {
    Baseline(State, BlockSkeleton, BlockRequest(), "{\"result\":[]}");
    State.SetItemsProcessed(State.iterations());
    State.SetBytesProcessed(State.iterations() * BlockBytes);
}

BENCHMARK(EchoPair);
BENCHMARK(EchoPairBaseline);
BENCHMARK(Block64K);
BENCHMARK(Block64KBaseline);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    // CPU time is the steadier figure on a machine shared with other work;
    // wall time is shown beside it.
    auto Ratio = [&](const char* Case, const char* Base, int Requests) {
        const kds::bench::TFigure T = Reporter.Get(Case), B = Reporter.Get(Base);
        if (T.CpuTime > 0 && B.CpuTime > 0 && T.RealSeconds > 0)
            std::printf("%-9s %12.0f requests/s  %5.2f x the baseline's CPU time (%.2f x wall)  "
                        "(%.2f allocations per request once the buffers exist)\n",
                        Case, Requests / T.RealSeconds, T.CpuTime / B.CpuTime,
                        T.RealTime / B.RealTime, AllocationsPerRequest[Case]);
    };
    std::printf("\nRatios to RapidJSON's parse of the same JSON plus one copy (same run):\n");
    Ratio("EchoPair", "EchoPairBaseline", 2);
    Ratio("Block64K", "Block64KBaseline", 1);
    benchmark::Shutdown();
    return 0;
}
