// Parse and byte-form speed of the JSON value model on a request-sized
// object and on a 64 KB array of small objects. Each case runs next to
// RapidJSON doing the same job on the same bytes in the same process; the
// summary prints MB/s and the ratio of our time to the baseline's.

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <string>
#include <vector>

#include "RecordingReporter.h"
#include "data/DBXJSON.h"

namespace {

using kds::TJSONObject;
using kds::TJSONValue;

std::vector<uint8_t> RequestBytes() {
    const std::string Text =
        "{\"method\":\"execute\",\"params\":[{\"handle\":12,\"count\":1,\"names\":[\"EchoString\","
        "\"ReverseString\"],\"row\":{\"type\":26,\"value\":\"Hello, kitchen 7\",\"qty\":2.5,"
        "\"ok\":true,\"note\":null}},[1,2,3,-4.75e2],{\"session\":\"A1B2C3D4\",\"ts\":1733800000}],"
        "\"id\":42}";
    return std::vector<uint8_t>(Text.begin(), Text.end());
}

std::vector<uint8_t> ArrayBytes() {
    std::string Text = "[";
    for (int I = 0; Text.size() < 64 * 1024; ++I) {
        if (I > 0)
            Text += ',';
        Text += "{\"id\":" + std::to_string(I) + ",\"name\":\"Item " + std::to_string(I) +
                "\",\"qty\":" + std::to_string(I % 7) + ",\"price\":3.25,\"done\":false}";
    }
    Text += "]";
    return std::vector<uint8_t>(Text.begin(), Text.end());
}

const std::vector<uint8_t>& Input(int64_t Which) {
    static const std::vector<uint8_t> Request = RequestBytes();
    static const std::vector<uint8_t> Array = ArrayBytes();
    return Which == 0 ? Request : Array;
}

const char* InputName(int64_t Which) {
    return Which == 0 ? "request" : "array64k";
}

void Parse_Ours(benchmark::State& State) {
    const std::vector<uint8_t>& Data = Input(State.range(0));
    for (auto _ : State) {
        std::unique_ptr<TJSONValue> Value = TJSONObject::ParseJSONValue(Data, 0, true);
        if (!Value)
            State.SkipWithError("did not parse");
        benchmark::DoNotOptimize(Value.get());
    }
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Data.size()));
    State.SetLabel(InputName(State.range(0)));
}

void Parse_RapidJSON(benchmark::State& State) {
    const std::vector<uint8_t>& Data = Input(State.range(0));
    for (auto _ : State) {
        rapidjson::Document Doc;
        Doc.Parse(reinterpret_cast<const char*>(Data.data()), Data.size());
        if (Doc.HasParseError())
            State.SkipWithError("did not parse");
        benchmark::DoNotOptimize(&Doc);
    }
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Data.size()));
    State.SetLabel(InputName(State.range(0)));
}

void ToBytes_Ours(benchmark::State& State) {
    const std::vector<uint8_t>& Data = Input(State.range(0));
    std::unique_ptr<TJSONValue> Value = TJSONObject::ParseJSONValue(Data, 0, true);
    std::vector<uint8_t> Out;
    int32_t Written = 0;
    for (auto _ : State) {
        Out.resize(static_cast<size_t>(Value->EstimatedByteSize()));
        Written = Value->ToBytes(Out.data(), 0);
        benchmark::DoNotOptimize(Out.data());
    }
    State.SetBytesProcessed(State.iterations() * Written);
    State.SetLabel(InputName(State.range(0)));
}

void ToBytes_RapidJSON(benchmark::State& State) {
    const std::vector<uint8_t>& Data = Input(State.range(0));
    rapidjson::Document Doc;
    Doc.Parse(reinterpret_cast<const char*>(Data.data()), Data.size());
    size_t Written = 0;
    for (auto _ : State) {
        rapidjson::StringBuffer Buffer;
        rapidjson::Writer<rapidjson::StringBuffer> Writer(Buffer);
        Doc.Accept(Writer);
        Written = Buffer.GetSize();
        benchmark::DoNotOptimize(Buffer.GetString());
    }
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Written));
    State.SetLabel(InputName(State.range(0)));
}

BENCHMARK(Parse_Ours)->Arg(0)->Arg(1);
BENCHMARK(Parse_RapidJSON)->Arg(0)->Arg(1);
BENCHMARK(ToBytes_Ours)->Arg(0)->Arg(1);
BENCHMARK(ToBytes_RapidJSON)->Arg(0)->Arg(1);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    std::printf("\n%-10s %-9s %12s %12s %18s\n", "operation", "input", "ours MB/s", "base MB/s",
                "ours/baseline time");
    for (const char* Op : {"Parse", "ToBytes"}) {
        for (const char* Arg : {"0", "1"}) {
            const std::string Ours = std::string(Op) + "_Ours/" + Arg;
            const std::string Base = std::string(Op) + "_RapidJSON/" + Arg;
            auto O = Reporter.Figures.find(Ours);
            auto B = Reporter.Figures.find(Base);
            if (O == Reporter.Figures.end() || B == Reporter.Figures.end() ||
                B->second.RealTime <= 0)
                continue;
            std::printf("%-10s %-9s %12.1f %12.1f %18.2f\n", Op, InputName(std::stoi(Arg)),
                        O->second.BytesPerSecond / 1e6, B->second.BytesPerSecond / 1e6,
                        O->second.RealTime / B->second.RealTime);
        }
    }
    benchmark::Shutdown();
    return 0;
}
