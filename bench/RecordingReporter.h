#pragma once

// The benchmarks' reporter: the usual console output, plus each run's figures
// kept by name, so that main can print a ratio against the baseline measured
// in the same run.

#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace kds::bench {

struct TFigure {
    double RealTime = 0;    // per iteration, in the benchmark's time unit
    double CpuTime = 0;     // per iteration, in the benchmark's time unit
    double RealSeconds = 0; // per iteration
    double BytesPerSecond = 0;
};

// Runs are kept under their full name (arguments included; "..._median" and
// the like for aggregates) and, for a plain run or the median of repeated
// ones, also under the bare function name. Runs that failed are left out.
class TRecordingReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, TFigure> Figures;

    // A figure by name, or zeros when there is none.
    TFigure Get(const std::string& Name) const {
        const auto It = Figures.find(Name);
        return It == Figures.end() ? TFigure{} : It->second;
    }

    void ReportRuns(const std::vector<Run>& Runs) override {
        ConsoleReporter::ReportRuns(Runs);
        for (const Run& R : Runs) {
            if (R.error_occurred)
                continue;
            TFigure F;
            F.RealTime = R.GetAdjustedRealTime();
            F.CpuTime = R.GetAdjustedCPUTime();
            if (R.iterations > 0)
                F.RealSeconds = R.real_accumulated_time / static_cast<double>(R.iterations);
            if (const auto It = R.counters.find("bytes_per_second"); It != R.counters.end())
                F.BytesPerSecond = It->second;
            Figures[R.benchmark_name()] = F;
            if (R.run_type == Run::RT_Iteration ||
                (R.run_type == Run::RT_Aggregate && R.aggregate_name == "median"))
                Figures[R.run_name.function_name] = F;
        }
    }
};

} // namespace kds::bench
