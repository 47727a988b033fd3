// Encoding and decoding speed of rows, each case next to a memcpy of the
// same encoded bytes measured in the same run. The summary prints the ratio
// of every case to its memcpy, and the heap allocations per iteration once
// the buffers have grown (counted by the operator new below).
//
//   EchoString: the request row (22 61 62 C0) read through the parameter
//   list, and the reply row (C0 22 61 62) flushed from it.
//   Block: 1,000 rows of nine fields: int32, int64, two doubles, a short
//   text, a medium text (48 characters), a timestamp, a Boolean and a null.

// The counting operator new below pairs malloc with free on purpose; GCC
// misreads the inlined pair as mismatched.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "RecordingReporter.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRowBuffer.h"

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

constexpr int BlockRows = 1000;
const std::u16string ShortText = u"Schnitzel";
const std::u16string MediumText = u"2x Wiener Schnitzel, no lemon, extra fries 23:05";

TSQLTimeStamp Stamp(int Row) {
    TSQLTimeStamp T;
    T.Year = 2024;
    T.Month = 12;
    T.Day = 10;
    T.Hour = static_cast<uint16_t>(Row % 24);
    T.Minute = static_cast<uint16_t>(Row % 60);
    T.Second = 7;
    T.Fractions = static_cast<uint32_t>(Row % 1000);
    return T;
}

void EncodeBlock(TDBXRowBuffer& B, std::vector<uint8_t>& Overflow) {
    B.StartOver();
    for (int R = 0; R < BlockRows; ++R) {
        B.WriteInt64(R);
        B.WriteInt64(-1234567890123LL - R);
        B.WriteDouble(R * 0.25);
        B.WriteDouble(-3.14159 * R);
        B.WriteWideString(ShortText, Overflow);
        B.WriteWideString(MediumText, Overflow);
        B.WriteTimeStamp(Stamp(R));
        B.WriteBoolean((R & 1) != 0);
        B.WriteNull();
    }
}

struct BlockSink {
    int64_t Sum = 0;
    double Real = 0;
    std::u16string Short, Medium;
    TSQLTimeStamp Time;
    bool Flag = false;
};

void DecodeBlock(TDBXRowBuffer& B, BlockSink& S) {
    do {
        int32_t I = 0;
        int64_t L = 0;
        double D = 0;
        B.ReadInt32(I);
        B.ReadInt64(L);
        B.ReadDouble(D);
        S.Real += D;
        B.ReadDouble(D);
        B.ReadWideString(S.Short);
        B.ReadWideString(S.Medium);
        B.ReadTimeStamp(S.Time);
        B.ReadBoolean(S.Flag);
        B.SkipField();
        S.Sum += I + L;
    } while (B.NextRow());
}

// Heap allocations of one more run of Fn, after a warm-up run.
template <typename F> long AllocationsOf(F&& Fn) {
    Fn();
    const long Before = Allocations.load();
    Fn();
    return Allocations.load() - Before;
}

std::map<std::string, long> AllocationsPerRun;

// --- EchoString ---------------------------------------------------------

struct EchoCall {
    TDBXRowBuffer Buffer;
    TDBXJSonRow Row{nullptr, &Buffer};
    TDBXParameterList Params{nullptr, &Row};
    const std::vector<uint8_t> Request = {0x22, 0x61, 0x62, 0xC0};
    EchoCall() {
        for (auto [Name, Direction] :
             {std::pair{u"Value", TDBXParameterDirections::InParameter},
              {u"ReturnParameter", TDBXParameterDirections::ReturnParameter}}) {
            auto P = std::make_unique<TDBXParameter>();
            P->SetName(Name);
            P->SetDataType(TDBXDataTypes::WideStringType);
            P->SetParameterDirection(Direction);
            Params.AddParameter(std::move(P));
        }
    }
    std::u16string Decode() {
        Buffer.SetReadBytes(Request.data(), 4);
        return static_cast<TDBXWideCharsValue&>(Params[0].Value()).Text();
    }
    void Encode(const std::u16string& Result) {
        Params.NullOutParameters();
        Params[1].Value().SetWideString(Result);
        Params.FlushReply();
    }
};

void EchoStringDecode(benchmark::State& State) {
    EchoCall Call;
    for (auto _ : State)
        benchmark::DoNotOptimize(Call.Decode());
    AllocationsPerRun["EchoStringDecode"] = AllocationsOf([&] { Call.Decode(); });
}

void EchoStringEncode(benchmark::State& State) {
    EchoCall Call;
    const std::u16string Result = Call.Decode();
    for (auto _ : State) {
        Call.Encode(Result);
        benchmark::DoNotOptimize(Call.Buffer.Data());
    }
    AllocationsPerRun["EchoStringEncode"] = AllocationsOf([&] { Call.Encode(Result); });
}

void EchoStringMemcpy(benchmark::State& State) {
    const uint8_t Reply[4] = {0xC0, 0x22, 0x61, 0x62};
    uint8_t Target[4];
    for (auto _ : State) {
        benchmark::DoNotOptimize(Reply);
        std::memcpy(Target, Reply, sizeof Target);
        benchmark::DoNotOptimize(Target);
        benchmark::ClobberMemory();
    }
}

// --- 1,000-row block ------------------------------------------------------

void BlockEncode(benchmark::State& State) {
    TDBXRowBuffer B;
    std::vector<uint8_t> Overflow;
    for (auto _ : State) {
        EncodeBlock(B, Overflow);
        benchmark::DoNotOptimize(B.Data());
    }
    State.SetBytesProcessed(State.iterations() * B.Size());
    AllocationsPerRun["BlockEncode"] = AllocationsOf([&] { EncodeBlock(B, Overflow); });
}

void BlockDecode(benchmark::State& State) {
    TDBXRowBuffer B;
    std::vector<uint8_t> Overflow;
    EncodeBlock(B, Overflow);
    B.SetColumnCount(9);
    const int32_t Size = B.Size();
    BlockSink Sink;
    auto Run = [&] {
        B.SetReadSize(Size); // rewinds to the first row without copying
        DecodeBlock(B, Sink);
    };
    for (auto _ : State) {
        Run();
        benchmark::DoNotOptimize(Sink.Sum);
    }
    State.SetBytesProcessed(State.iterations() * Size);
    AllocationsPerRun["BlockDecode"] = AllocationsOf(Run);
}

void BlockMemcpy(benchmark::State& State) {
    TDBXRowBuffer B;
    std::vector<uint8_t> Overflow;
    EncodeBlock(B, Overflow);
    std::vector<uint8_t> Source(B.Data(), B.Data() + B.Size()), Target(Source.size());
    for (auto _ : State) {
        std::memcpy(Target.data(), Source.data(), Source.size());
        benchmark::DoNotOptimize(Target.data());
        benchmark::ClobberMemory();
    }
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Source.size()));
}

BENCHMARK(EchoStringDecode);
BENCHMARK(EchoStringEncode);
BENCHMARK(EchoStringMemcpy);
BENCHMARK(BlockEncode);
BENCHMARK(BlockDecode);
BENCHMARK(BlockMemcpy);

} // namespace

int main(int argc, char** argv) {
    // Timestamps are converted to UTC; a fixed zone keeps runs comparable.
    setenv("TZ", "UTC0", 1);
    tzset();
    benchmark::Initialize(&argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    auto Ratio = [&](const char* Case, const char* Base) {
        const double T = Reporter.Get(Case).RealTime, B = Reporter.Get(Base).RealTime;
        if (T > 0 && B > 0)
            std::printf("%-18s %10.1f ns  %8.1f x memcpy of the same bytes  (%ld allocations "
                        "per run once grown)\n",
                        Case, T, T / B, AllocationsPerRun[Case]);
    };
    std::printf("\nRatios to memcpy (same run):\n");
    Ratio("EchoStringDecode", "EchoStringMemcpy");
    Ratio("EchoStringEncode", "EchoStringMemcpy");
    Ratio("BlockEncode", "BlockMemcpy");
    Ratio("BlockDecode", "BlockMemcpy");
    benchmark::Shutdown();
    return 0;
}
