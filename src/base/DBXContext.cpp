#include "base/DBXContext.h"

namespace kds {

void TDBXContext::Error(int32_t ErrorCode, const std::string& ErrorMessage) const {
    TDBXError Err(ErrorCode, ErrorMessage);
    if (FOnError)
        FOnError(Err);
    throw Err;
}

bool TDBXContext::IsTracing(int32_t TraceFlags) const {
    return FOnTrace && (TraceFlags & FTraceFlags) != 0;
}

bool TDBXContext::IsTracingLevel(int32_t TraceLevel) const {
    return FOnTrace && TraceLevel >= FTraceLevel;
}

bool TDBXContext::IsTracingCategory(const std::string&) const {
    return true;
}

int32_t TDBXContext::Dispatch(TDBXTraceInfo Info) const {
    if (!FOnTrace)
        return 1;
    return FOnTrace(Info);
}

int32_t TDBXContext::Trace(int32_t TraceLevel, int32_t TraceFlag,
                           const std::string& TraceMessage) const {
    return Dispatch({TraceMessage, TraceFlag, TraceLevel, {}});
}

int32_t TDBXContext::Trace(int32_t TraceFlag, const std::string& TraceMessage) const {
    return Trace(DefaultTraceLevel, TraceFlag, TraceMessage);
}

int32_t TDBXContext::Trace(int32_t TraceLevel, const std::string& TraceCategory,
                           const std::string& TraceMessage) const {
    return Dispatch({TraceMessage, CategoryTraceFlag, TraceLevel, TraceCategory});
}

} // namespace kds
