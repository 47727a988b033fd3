// Tables and long values through the wire codec, each next to a memcpy of
// the same bytes measured in the same run:
//
//   WriteTable100K  a reader of 100,000 rows of mixed columns (integer, text,
//                   double, Boolean, 64-bit integer) streamed as its table
//                   object and batches (encoded into the reader's row buffer,
//                   then written) into an in-memory channel
//   ReadTable100K   the same bytes read back by the reader of a peer's table
//                   (table object, first batch, a "next" per later batch),
//                   every value of every row decoded
//   ServeBlob10M    a 10 MB long value sent chunk by chunk as the replies of
//                   "more_blob" by the output handler
//   FetchBlob10M    a 10 MB long value put together from a peer's chunks
//   Memcpy*         one memcpy of the bytes the case above moves
//
// The summary prints rows per second and MB/s with the ratio to the memcpy,
// and the peak heap the server side holds while it streams the table (live
// bytes counted by the operator new below): it must stay near one batch,
// far below the encoded result.

// The counting operator new below pairs malloc with free on purpose; GCC
// misreads the inlined pair as mismatched.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "RecordingReporter.h"
#include "base/DBXContext.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXReader.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "data/TStream.h"
#include "server/wire/DBXActiveTableReaderList.h"
#include "server/wire/DBXJSonLongValueSource.h"
#include "server/wire/DBXJSonReader.h"
#include "server/wire/DBXJSonServerOutputConnectionHandler.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXStream.h"
#include "server/wire/DBXTableStreaming.h"
#include "server/wire/DbxChannel.h"

// --- Live heap bytes ------------------------------------------------------------------

namespace {
constexpr size_t Header = 16; // keeps malloc's alignment
std::atomic<int64_t> LiveBytes{0};
std::atomic<int64_t> PeakBytes{0};

void* Allocate(size_t Size) {
    auto* P = static_cast<unsigned char*>(std::malloc(Size + Header));
    if (P == nullptr)
        throw std::bad_alloc();
    std::memcpy(P, &Size, sizeof Size);
    const int64_t Live =
        LiveBytes.fetch_add(static_cast<int64_t>(Size), std::memory_order_relaxed) +
        static_cast<int64_t>(Size);
    int64_t Peak = PeakBytes.load(std::memory_order_relaxed);
    while (Live > Peak && !PeakBytes.compare_exchange_weak(Peak, Live)) {
    }
    return P + Header;
}

void Release(void* Block) noexcept {
    if (Block == nullptr)
        return;
    auto* P = static_cast<unsigned char*>(Block) - Header;
    size_t Size = 0;
    std::memcpy(&Size, P, sizeof Size);
    LiveBytes.fetch_sub(static_cast<int64_t>(Size), std::memory_order_relaxed);
    std::free(P);
}
} // namespace

void* operator new(size_t Size) {
    return Allocate(Size);
}
void* operator new[](size_t Size) {
    return Allocate(Size);
}
void operator delete(void* P) noexcept {
    Release(P);
}
void operator delete[](void* P) noexcept {
    Release(P);
}
void operator delete(void* P, size_t) noexcept {
    Release(P);
}
void operator delete[](void* P, size_t) noexcept {
    Release(P);
}

namespace {

using namespace kds;

constexpr int32_t TableRows = 100000;
constexpr int32_t BlobBytes = 10 * 1024 * 1024;
constexpr int32_t BufferSize = 32768;

// Writes go into one growing buffer (kept between runs); reads come from a
// script.
class TMemoryPipe : public TDbxChannel {
public:
    std::vector<uint8_t> Written;
    const std::vector<uint8_t>* Script = nullptr;
    size_t Position = 0;
    bool Keep = true;
    int64_t WrittenBytes = 0;

    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override {
        const size_t Take = std::min(Script->size() - Position, static_cast<size_t>(Count));
        if (Take == 0)
            return 0;
        std::memcpy(Buffer + Offset, Script->data() + Position, Take);
        Position += Take;
        return static_cast<int32_t>(Take);
    }
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override {
        if (Keep)
            Written.insert(Written.end(), Buffer + Offset, Buffer + Offset + Count);
        WrittenBytes += Count;
        return Count;
    }
};

// A reader that makes its rows as it goes, as a listing over live data
// would: its memory does not grow with the rows.
class TGeneratedReader : public TDBXReader {
public:
    TGeneratedReader() {
        const int32_t Types[] = {TDBXDataTypes::Int32Type, TDBXDataTypes::WideStringType,
                                 TDBXDataTypes::DoubleType, TDBXDataTypes::BooleanType,
                                 TDBXDataTypes::Int64Type};
        const char16_t* Names[] = {u"Id", u"Item", u"Price", u"Done", u"Stamp"};
        for (int32_t I = 0; I < 5; ++I) {
            auto Type = std::make_unique<TDBXValueType>();
            Type->SetName(Names[I]);
            Type->SetDataType(Types[I]);
            Type->SetOrdinal(I);
            FTypes.push_back(Type.get());
            FValues.push_back(TDBXValue::CreateValue(std::move(Type)));
        }
    }
    int32_t ColumnCount() const override { return 5; }
    const TDBXValueType& ValueType(int32_t Ordinal) const override { return *FTypes[Ordinal]; }
    TDBXValue& Value(int32_t Ordinal) override { return *FValues[Ordinal]; }
    bool Next() override {
        if (FRow >= TableRows)
            return false;
        FValues[0]->SetInt32(FRow);
        FText = u"order line ";
        for (char C : std::to_string(FRow))
            FText += static_cast<char16_t>(C);
        FValues[1]->SetWideString(FText);
        FValues[2]->SetDouble(FRow * 0.25);
        FValues[3]->SetBoolean((FRow & 1) != 0);
        FValues[4]->SetInt64(int64_t(1700000000000) + FRow);
        ++FRow;
        return true;
    }
    void Close() override { FRow = TableRows; }

private:
    std::vector<TDBXValueType*> FTypes;
    std::vector<std::unique_ptr<TDBXWritableValue>> FValues;
    std::u16string FText;
    int32_t FRow = 0;
};

// The server side of one table: its item, streamed batch by batch into the
// pipe as the execute reply and the replies to "next" put it on the wire
// (the table object, then the first batch, then one batch per "next").
int64_t StreamTable(TMemoryPipe& Pipe) {
    TDBXContext Context;
    TDBXJSonStreamWriter Writer;
    Writer.SetWriteBufferSize(BufferSize);
    Writer.SetDbxChannel(&Pipe);
    Writer.Open();
    TDBXActiveTableReaderList Readers;
    TDBXActiveTableReaderItem& Item =
        Readers.AddReader(nullptr, std::make_unique<TGeneratedReader>());
    const int32_t Threshold = Writer.CalcRowBufferSize();
    TDBXTableStreaming::PrepareItem(Item, &Context, 0, Threshold);
    TDBXTableStreaming::WriteTableObject(Writer, 0, Item);
    Writer.WriteValueSeparator();
    int64_t Rows = 0;
    for (;;) {
        TDBXTableStreaming::EncodeBatch(Item, &Context, Threshold);
        Rows += Item.FBatchRows;
        TDBXTableStreaming::WriteBatch(Writer, Item);
        Writer.Flush();
        if (Item.FEos)
            break;
    }
    return Rows;
}

std::vector<uint8_t> StreamedTable() {
    TMemoryPipe Pipe;
    StreamTable(Pipe);
    return std::move(Pipe.Written);
}

// The peer side: the table read back, every value decoded.
int64_t ReadTable(const std::vector<uint8_t>& Script, uint64_t& Checksum) {
    TDBXContext Context;
    TMemoryPipe Pipe;
    Pipe.Script = &Script;
    Pipe.Keep = false;
    TDBXJSonStreamReader Reader;
    Reader.SetReadBufferSize(BufferSize);
    Reader.SetDbxChannel(&Pipe);
    Reader.SetDbxContext(&Context);
    Reader.Open();
    TDBXJSonStreamWriter Writer;
    Writer.SetWriteBufferSize(BufferSize);
    Writer.SetDbxChannel(&Pipe);
    Writer.Open();
    Reader.Next(TDBXTokens::ObjectStart);
    Reader.Next(TDBXTokens::StringStart);
    Reader.ReadStringCode();
    Reader.Next(TDBXTokens::NameSeparator);
    Reader.Next(TDBXTokens::ArrayStart);
    std::unique_ptr<TDBXJSonReader> Table = TDBXJSonReader::Read(&Context, Reader, Writer);
    int64_t Rows = 0;
    while (Table->Next()) {
        Checksum += static_cast<uint64_t>(Table->Value(0).GetInt32());
        Checksum += Table->Value(1).GetWideString().size();
        Checksum += static_cast<uint64_t>(Table->Value(2).GetDouble());
        Checksum += Table->Value(3).GetBoolean() ? 1 : 0;
        Checksum += static_cast<uint64_t>(Table->Value(4).GetInt64());
        ++Rows;
    }
    return Rows;
}

// Figures kept for the summary.
int64_t TableBytes = 0;
int64_t StreamPeakBytes = 0;
int64_t BlobReplyBytes = 0;

void WriteTable100K(benchmark::State& State) {
    TMemoryPipe Pipe;
    Pipe.Keep = false;
    // The peak of live heap bytes while one table streams, above what was
    // live before it started.
    const int64_t Before = LiveBytes.load();
    PeakBytes = Before;
    if (StreamTable(Pipe) != TableRows) {
        State.SkipWithError("the table did not stream all its rows");
        return;
    }
    StreamPeakBytes = PeakBytes.load() - Before;
    TableBytes = Pipe.WrittenBytes;
    for (auto _ : State)
        benchmark::DoNotOptimize(StreamTable(Pipe));
    State.SetItemsProcessed(State.iterations() * TableRows);
    State.SetBytesProcessed(State.iterations() * TableBytes);
}

void ReadTable100K(benchmark::State& State) {
    const std::vector<uint8_t> Script = StreamedTable();
    uint64_t Checksum = 0;
    if (ReadTable(Script, Checksum) != TableRows) {
        State.SkipWithError("the table did not read back all its rows");
        return;
    }
    for (auto _ : State) {
        benchmark::DoNotOptimize(ReadTable(Script, Checksum));
        benchmark::DoNotOptimize(Checksum);
    }
    State.SetItemsProcessed(State.iterations() * TableRows);
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Script.size()));
}

void Memcpy(benchmark::State& State, size_t Size) {
    std::vector<uint8_t> From(Size, 0x5A), To(Size);
    for (auto _ : State) {
        std::memcpy(To.data(), From.data(), Size);
        benchmark::DoNotOptimize(To.data());
        benchmark::ClobberMemory();
    }
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Size));
}

void MemcpyTable(benchmark::State& State) {
    Memcpy(State, static_cast<size_t>(StreamedTable().size()));
}

// The output handler serves the value's overflow, one more_blob reply a
// chunk, until a chunk ends it.
int64_t ServeBlob(TMemoryStream& Value, TMemoryPipe& Pipe) {
    TDBXContext Context;
    TDBXRowBuffer Row(&Context);
    TDBXJSonStreamWriter Writer;
    Writer.SetWriteBufferSize(BufferSize);
    Writer.SetDbxChannel(&Pipe);
    Writer.Open();
    TDBXJSonStreamReader Reader;
    TDBXJSonServerOutputConnectionHandler Output(&Context, &Row, &Writer, &Reader);
    TDBXMoreBlobMessage Message;
    Value.SetPosition(0);
    int64_t Chunks = 0;
    do {
        Message.FStreamReader = &Value;
        Output.DbxMoreBlob(Message);
        ++Chunks;
    } while (!Message.FEos);
    return Chunks;
}

void ServeBlob10M(benchmark::State& State) {
    TMemoryStream Value(std::vector<uint8_t>(BlobBytes, 'b'));
    TMemoryPipe Pipe;
    Pipe.Keep = false;
    ServeBlob(Value, Pipe);
    BlobReplyBytes = Pipe.WrittenBytes;
    for (auto _ : State)
        benchmark::DoNotOptimize(ServeBlob(Value, Pipe));
    State.SetBytesProcessed(State.iterations() * BlobBytes);
}

// What a peer answers to the server's more_blob requests for a 10 MB value:
// chunks of 32,000 bytes, the last one negative.
std::vector<uint8_t> PeerChunks() {
    std::vector<uint8_t> Script;
    int32_t Left = BlobBytes;
    while (Left > 0) {
        const int32_t Take = std::min(Left, 32000);
        Left -= Take;
        const std::string Start =
            "{\"result\":[{\"data\":[" + std::to_string(Left == 0 ? -Take : Take) + ",";
        Script.insert(Script.end(), Start.begin(), Start.end());
        Script.insert(Script.end(), static_cast<size_t>(Take), 'p');
        const std::string End = "]}]}";
        Script.insert(Script.end(), End.begin(), End.end());
    }
    return Script;
}

size_t FetchBlob(const std::vector<uint8_t>& Script) {
    TDBXContext Context;
    TMemoryPipe Pipe;
    Pipe.Script = &Script;
    Pipe.Keep = false;
    TDBXJSonStreamReader Reader;
    Reader.SetReadBufferSize(BufferSize);
    Reader.SetDbxChannel(&Pipe);
    Reader.SetDbxContext(&Context);
    Reader.Open();
    TDBXJSonStreamWriter Writer;
    Writer.SetWriteBufferSize(BufferSize);
    Writer.SetDbxChannel(&Pipe);
    Writer.Open();
    TDBXJSonLongValueSource Source(&Context, Reader, Writer);
    TDBXRowBuffer Row(&Context);
    std::vector<uint8_t> Value;
    Source.FetchRest(Row, 0, -1, Value);
    return Value.size();
}

void FetchBlob10M(benchmark::State& State) {
    const std::vector<uint8_t> Script = PeerChunks();
    if (FetchBlob(Script) != static_cast<size_t>(BlobBytes)) {
        State.SkipWithError("the value did not come together");
        return;
    }
    for (auto _ : State)
        benchmark::DoNotOptimize(FetchBlob(Script));
    State.SetBytesProcessed(State.iterations() * BlobBytes);
}

void MemcpyBlob(benchmark::State& State) {
    Memcpy(State, BlobBytes);
}

BENCHMARK(WriteTable100K)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadTable100K)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpyTable)->Unit(benchmark::kMillisecond);
BENCHMARK(ServeBlob10M)->Unit(benchmark::kMillisecond);
BENCHMARK(FetchBlob10M)->Unit(benchmark::kMillisecond);
BENCHMARK(MemcpyBlob)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    // CPU time is the steadier figure on a machine shared with other work;
    // wall time is shown beside it.
    const auto Rows = [&](const char* Case, const char* Base) {
        const kds::bench::TFigure T = Reporter.Get(Case), B = Reporter.Get(Base);
        if (T.CpuTime > 0 && B.CpuTime > 0 && T.RealSeconds > 0)
            std::printf("%-15s %12.0f rows/s  %6.1f MB/s  %7.1f x memcpy's CPU time (%.1f x "
                        "wall)\n",
                        Case, TableRows / T.RealSeconds, T.BytesPerSecond / 1e6,
                        T.CpuTime / B.CpuTime, T.RealTime / B.RealTime);
    };
    const auto Blob = [&](const char* Case, const char* Base) {
        const kds::bench::TFigure T = Reporter.Get(Case), B = Reporter.Get(Base);
        if (T.CpuTime > 0 && B.CpuTime > 0)
            std::printf("%-15s %6.1f MB/s against memcpy's %7.1f MB/s: %5.1f x its CPU time "
                        "(%.1f x wall)\n",
                        Case, T.BytesPerSecond / 1e6, B.BytesPerSecond / 1e6, T.CpuTime / B.CpuTime,
                        T.RealTime / B.RealTime);
    };
    std::printf("\nRatios to one memcpy of the same bytes (same run):\n");
    Rows("WriteTable100K", "MemcpyTable");
    Rows("ReadTable100K", "MemcpyTable");
    Blob("ServeBlob10M", "MemcpyBlob");
    Blob("FetchBlob10M", "MemcpyBlob");
    std::printf("The table's %lld encoded bytes streamed with a peak of %lld live heap bytes on "
                "the server side (%.1f %% of the result)\n",
                static_cast<long long>(TableBytes), static_cast<long long>(StreamPeakBytes),
                TableBytes > 0
                    ? 100.0 * static_cast<double>(StreamPeakBytes) / static_cast<double>(TableBytes)
                    : 0.0);
    std::printf("The 10 MB value left in %lld reply bytes\n",
                static_cast<long long>(BlobReplyBytes));
    benchmark::Shutdown();
    return 0;
}
