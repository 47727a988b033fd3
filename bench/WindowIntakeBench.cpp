// Times Action1 of the main window, shown on Qt's offscreen platform, taking
// in 6,000 order files (a header and five items each) while both grids show
// the order book; and, in the same run, the same intake into an order book
// that no grid shows, as the baseline. Prints the seconds of each and their
// ratio: what the grids cost the operator's command.

#include <QAction>
#include <QApplication>
#include <QString>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <memory>

#include "OrderFolder.h"
#include "RecordingReporter.h"
#include "app/OrderBook.h"
#include "app/OrderIntake.h"
#include "ui/KDSSV.h"
#include "ui/OperatorDialogs.h"

namespace {

constexpr int FileCount = 6000;

// Counts what would have been shown to the operator: a message box would
// block the run.
class TCountingDialogs : public kds::TOperatorDialogs {
public:
    TCountingDialogs() { SetCurrent(this); }
    ~TCountingDialogs() override { SetCurrent(nullptr); }
    void ShowError(QWidget*, const QString&) override { ++Errors; }
    bool Confirm(QWidget*, const QString&) override { return true; }
    int Errors = 0;
};

// The timed parts, kept out of line so that a profiler can single them out.
[[gnu::noinline]] kds::TIntakeResult IntakeAlone(kds::TOrderIntake& Intake,
                                                 const kds::bench::TOrderFolder& Folder) {
    return Intake.Execute(Folder.Root());
}

[[gnu::noinline]] void Action1WindowOpen(kds::TForm1& Form) {
    Form.Action1->trigger();
    // The grids' deferred layout and painting belong to the command too.
    QApplication::processEvents();
}

void BM_IntakeAlone(benchmark::State& State) {
    kds::bench::TOrderFolder Folder;
    for (auto _ : State) {
        State.PauseTiming();
        Folder.Fill(FileCount);
        auto Book = std::make_unique<kds::TOrderBook>();
        Book->Create();
        kds::TOrderIntake Intake(*Book);
        State.ResumeTiming();

        const kds::TIntakeResult R = IntakeAlone(Intake, Folder);

        State.PauseTiming();
        if (R.TakenIn != FileCount || R.Moved != FileCount)
            State.SkipWithError("not every file was taken in and moved");
        Book.reset();
        State.ResumeTiming();
    }
}

void BM_Action1WindowOpen(benchmark::State& State) {
    kds::bench::TOrderFolder Folder;
    TCountingDialogs Dialogs;
    for (auto _ : State) {
        State.PauseTiming();
        Folder.Fill(FileCount);
        auto Form = std::make_unique<kds::TForm1>(Folder.Root());
        Form->show();
        QApplication::processEvents();
        State.ResumeTiming();

        Action1WindowOpen(*Form);

        State.PauseTiming();
        if (Dialogs.Errors != 0 || Form->OrderBook().TA().RecordCount() != FileCount)
            State.SkipWithError("not every file was taken in");
        Form.reset();
        QApplication::processEvents();
        State.ResumeTiming();
    }
}

BENCHMARK(BM_IntakeAlone)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Action1WindowOpen)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    QApplication App(argc, argv);
    kds::bench::TRecordingReporter Reporter;
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    const double Alone = Reporter.Get("BM_IntakeAlone").RealSeconds;
    const double Window = Reporter.Get("BM_Action1WindowOpen").RealSeconds;
    if (Alone > 0 && Window > 0) {
        std::printf("%d order files: Action1 with the window open %.3f s; intake alone %.3f s\n",
                    FileCount, Window, Alone);
        std::printf("Action1 with the window open / intake alone: %.2fx\n", Window / Alone);
    }
    benchmark::Shutdown();
    return 0;
}
