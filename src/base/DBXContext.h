#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/DBXError.h"

namespace kds {

class TDBXFormatter; // text conversions of dates and decimals; defined with the typed values

// What a trace hook receives.
struct TDBXTraceInfo {
    std::string Message;
    int32_t TraceFlag = 0;
    int32_t TraceLevel = 0;
    std::string TraceCategory;
};

// Sees an error before it is raised; a hook that throws replaces the error.
using TDBXErrorEvent = std::function<void(TDBXError&)>;
// Receives a trace record and answers an integer that Trace passes back.
using TDBXTraceEvent = std::function<int32_t(const TDBXTraceInfo&)>;

// The server's context: error raising with an optional error hook, and
// tracing with an optional trace hook. One per server, handed by reference to
// everything that can fail. Hooks and settings are set before the server
// starts and only read afterwards, so it needs no lock; a context that is
// changed while other threads use it must be guarded by its owner.
class TDBXContext {
public:
    static constexpr int32_t DefaultTraceFlags = 20191;
    static constexpr int32_t DefaultTraceLevel = 5;
    static constexpr int32_t CategoryTraceFlag = 16384;

    TDBXContext() = default;
    // Copies trace flags, trace level, both hooks and the formatter.
    TDBXContext(const TDBXContext& Other) = default;
    TDBXContext& operator=(const TDBXContext& Other) = default;

    // Creates the error, shows it to the error hook, then throws it.
    [[noreturn]] void Error(int32_t ErrorCode, const std::string& ErrorMessage) const;

    bool IsTracing(int32_t TraceFlags) const;
    bool IsTracingLevel(int32_t TraceLevel) const;
    bool IsTracingCategory(const std::string& TraceCategory) const;

    // With a trace hook: its answer; without: 1, and nothing is called.
    int32_t Trace(int32_t TraceLevel, int32_t TraceFlag, const std::string& TraceMessage) const;
    // Level 5.
    int32_t Trace(int32_t TraceFlag, const std::string& TraceMessage) const;
    // Flag 16384, with a category.
    int32_t Trace(int32_t TraceLevel, const std::string& TraceCategory,
                  const std::string& TraceMessage) const;

    void SetOnError(TDBXErrorEvent OnError) { FOnError = std::move(OnError); }
    void SetOnTrace(TDBXTraceEvent OnTrace) { FOnTrace = std::move(OnTrace); }
    void SetTraceFlags(int32_t TraceFlags) {
        FTraceFlags = TraceFlags;
        FHasTraceHolder = true;
    }
    void SetTraceLevel(int32_t TraceLevel) { FTraceLevel = TraceLevel; }
    // Not owned; null selects the default formatter.
    void SetDBXFormatter(TDBXFormatter* Formatter) { FDBXFormatter = Formatter; }

    int32_t TraceFlags() const { return FTraceFlags; }
    int32_t TraceLevel() const { return FTraceLevel; }
    bool HasTraceHolder() const { return FHasTraceHolder; }
    TDBXFormatter* DBXFormatter() const { return FDBXFormatter; }

private:
    int32_t Dispatch(TDBXTraceInfo Info) const;

    int32_t FTraceFlags = DefaultTraceFlags;
    int32_t FTraceLevel = DefaultTraceLevel;
    TDBXErrorEvent FOnError;
    TDBXTraceEvent FOnTrace;
    TDBXFormatter* FDBXFormatter = nullptr;
    bool FHasTraceHolder = false;
};

} // namespace kds
