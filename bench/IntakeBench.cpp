// Times one intake of 10,000 order files (a header and five items each) into
// the order book, and, in the same run, a baseline that only lists the same
// folder, loads each file with pugixml and moves it with the same no-replace
// move. Prints files per second and the ratio of the two, then the heap
// taken by an order book of 100,000 lines.

#include <benchmark/benchmark.h>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "OrderFolder.h"
#include "RecordingReporter.h"
#include "app/OrderBook.h"
#include "app/OrderIntake.h"
#include "app/ProgramFiles.h"

namespace {

constexpr int FileCount = 10000;

void BM_Intake(benchmark::State& State) {
    kds::bench::TOrderFolder Folder;
    int Lines = 0;
    for (auto _ : State) {
        State.PauseTiming();
        Folder.Fill(FileCount);
        auto Book = std::make_unique<kds::TOrderBook>();
        Book->Create();
        kds::TOrderIntake Intake(*Book);
        State.ResumeTiming();

        const kds::TIntakeResult R = Intake.Execute(Folder.Root());

        State.PauseTiming();
        if (R.TakenIn != FileCount || R.Moved != FileCount)
            State.SkipWithError("not every file was taken in and moved");
        Lines = Book->TB().StoredRecordCount();
        Book.reset();
        State.ResumeTiming();
    }
    State.counters["files/s"] =
        benchmark::Counter(FileCount, benchmark::Counter::kIsIterationInvariantRate);
    State.counters["lines"] = Lines;
}

void BM_LoadAndMoveBaseline(benchmark::State& State) {
    kds::bench::TOrderFolder Folder;
    for (auto _ : State) {
        State.PauseTiming();
        Folder.Fill(FileCount);
        State.ResumeTiming();

        const std::string Before = (Folder.Root() / "KDS" / "Before").string() + "/";
        const std::string After = (Folder.Root() / "KDS" / "AFTER").string() + "/";
        std::vector<std::string> Names;
        DIR* Dir = opendir(Before.c_str());
        while (const dirent* E = readdir(Dir))
            if (kds::MatchesOrderFilePattern(E->d_name))
                Names.emplace_back(E->d_name);
        closedir(Dir);
        int Moved = 0;
        for (const std::string& N : Names) {
            pugi::xml_document Doc;
            if (!Doc.load_file((Before + N).c_str()))
                continue;
            benchmark::DoNotOptimize(Doc.document_element());
            Moved += kds::MoveFileNoReplace(Before + N, After + N);
        }
        if (Moved != FileCount)
            State.SkipWithError("not every file was moved");
    }
    State.counters["files/s"] =
        benchmark::Counter(FileCount, benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_Intake)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadAndMoveBaseline)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// Heap in use by a book of Headers headers with five lines each, filled
// through the dataset API the way the intake fills it.
std::size_t BookBytes(int Headers) {
    const std::size_t Start = mallinfo2().uordblks;
    auto Book = std::make_unique<kds::TOrderBook>();
    Book->Create();
    kds::TMemoryDataSet& TA = Book->TA();
    kds::TMemoryDataSet& TB = Book->TB();
    const char* Names[] = {"Green tea latte", "Beef noodle soup", "Fried rice", "Spring rolls",
                           "Mango ice"};
    for (int H = 0; H < Headers; ++H) {
        char Key[16];
        std::snprintf(Key, sizeof Key, "%06d", H);
        TA.Append();
        TA.FieldByName("TA001").SetAsText("POS01");
        TA.FieldByName("TA002").SetAsText(Key);
        TA.FieldByName("TA003").SetAsText("000123");
        TA.FieldByName("TableNo").SetAsText("A12");
        TA.FieldByName("TA006").SetAsText(std::to_string(H % 100000));
        TA.FieldByName("DeliveryType").SetAsText("1");
        for (int I = 0; I < 5; ++I) {
            TB.Append();
            TB.FieldByName("TB001").SetAsText("POS01");
            TB.FieldByName("TB002").SetAsText(Key);
            TB.FieldByName("TB003").SetAsText("000123");
            TB.FieldByName("TB006").SetAsText(std::to_string(H % 100000));
            TB.FieldByName("PluName").SetAsText(Names[I]);
            TB.FieldByName("SaleQty").SetAsText(std::to_string(I + 1));
            TB.FieldByName("DoItemOK").SetAsText("0");
            TB.Post();
        }
        TA.Post();
        TB.SetMasterFields(kds::TOrderBook::TAMasterFields);
    }
    const std::size_t Used = mallinfo2().uordblks - Start;
    benchmark::DoNotOptimize(Book.get());
    return Used;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    const double I = Reporter.Get("BM_Intake").RealSeconds;
    const double B = Reporter.Get("BM_LoadAndMoveBaseline").RealSeconds;
    if (I > 0 && B > 0) {
        std::printf("intake: %.0f files/s; load and move only: %.0f files/s\n", FileCount / I,
                    FileCount / B);
        std::printf("intake / load-and-move baseline: %.2fx (aim: at most 2x)\n", I / B);
    }
    const std::size_t Bytes = BookBytes(20000);
    std::printf(
        "order book of 20,000 headers and 100,000 lines: %.1f MiB heap (%.0f bytes per line, "
        "header share included)\n",
        static_cast<double>(Bytes) / (1024.0 * 1024.0), static_cast<double>(Bytes) / 100000.0);
    benchmark::Shutdown();
    return 0;
}
