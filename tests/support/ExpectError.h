#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <source_location>
#include <string>
#include <string_view>

#include "base/DBXError.h"

namespace kds::test {

// Runs Fn and expects it to raise a TDBXError with exactly this code and
// message. A failure is reported at the caller's line.
template <typename F>
void ExpectDBXError(int32_t Code, std::string_view Text, F&& Fn,
                    std::source_location Where = std::source_location::current()) {
    try {
        Fn();
    } catch (const TDBXError& E) {
        if (E.ErrorCode() != Code || E.Message() != Text)
            ADD_FAILURE_AT(Where.file_name(), Where.line())
                << "raised code " << E.ErrorCode() << " \"" << E.Message() << "\", expected code "
                << Code << " \"" << Text << "\"";
        return;
    }
    ADD_FAILURE_AT(Where.file_name(), Where.line())
        << "raised nothing, expected code " << Code << " \"" << Text << "\"";
}

// The same when only the code matters (the message carries a position or a
// dump that the test does not pin).
template <typename F>
void ExpectDBXErrorCode(int32_t Code, F&& Fn,
                        std::source_location Where = std::source_location::current()) {
    try {
        Fn();
    } catch (const TDBXError& E) {
        if (E.ErrorCode() != Code)
            ADD_FAILURE_AT(Where.file_name(), Where.line())
                << "raised code " << E.ErrorCode() << " \"" << E.Message() << "\", expected code "
                << Code;
        return;
    }
    ADD_FAILURE_AT(Where.file_name(), Where.line()) << "raised nothing, expected code " << Code;
}

// Runs Fn and expects an exception of type E whose what() is exactly Text.
template <typename E, typename F>
void ExpectErrorText(std::string_view Text, F&& Fn,
                     std::source_location Where = std::source_location::current()) {
    try {
        Fn();
    } catch (const E& Error) {
        if (Text != Error.what())
            ADD_FAILURE_AT(Where.file_name(), Where.line())
                << "raised \"" << Error.what() << "\", expected \"" << Text << "\"";
        return;
    }
    ADD_FAILURE_AT(Where.file_name(), Where.line())
        << "raised nothing, expected \"" << Text << "\"";
}

} // namespace kds::test
