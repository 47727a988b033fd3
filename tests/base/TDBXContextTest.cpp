#include <gtest/gtest.h>

#include "base/DBXContext.h"
#include "support/ExpectError.h"

using namespace kds;

namespace {

TEST(TDBXContextTest, FreshContextHasDefaultTraceSettingsAndTracesNothing) {
    const TDBXContext Ctx;
    EXPECT_EQ(Ctx.TraceFlags(), 20191);
    EXPECT_EQ(Ctx.TraceLevel(), 5);
    EXPECT_FALSE(Ctx.IsTracing(0xFFFF));
    EXPECT_FALSE(Ctx.IsTracingLevel(100));
    EXPECT_EQ(Ctx.Trace(5, 1, "message"), 1);
    EXPECT_EQ(Ctx.Trace(1, "message"), 1);
    EXPECT_EQ(Ctx.Trace(5, "category", "message"), 1);
}

TEST(TDBXContextTest, ErrorRaisesCodeWithDefaultOrGivenMessage) {
    const TDBXContext Ctx;
    test::ExpectDBXError(30, "DBX Error:  Error Code:  30", [&] { Ctx.Error(30, ""); });
    test::ExpectDBXError(2, "no room", [&] { Ctx.Error(2, "no room"); });
    test::ExpectDBXError(101, "DBX Error:  Vendor error", [&] { Ctx.Error(101, ""); });
}

TEST(TDBXContextTest, ErrorHookSeesTheErrorBeforeItIsRaised) {
    TDBXContext Ctx;
    int Seen = -1;
    Ctx.SetOnError([&](TDBXError& E) { Seen = E.ErrorCode(); });
    EXPECT_THROW(Ctx.Error(9, "bad"), TDBXError);
    EXPECT_EQ(Seen, 9);
}

TEST(TDBXContextTest, ErrorHookThatRaisesReplacesTheError) {
    TDBXContext Ctx;
    Ctx.SetOnError([](TDBXError&) { throw TDBXError(27, "replaced"); });
    test::ExpectDBXError(27, "replaced", [&] { Ctx.Error(9, "original"); });
}

TEST(TDBXContextTest, TraceHookReceivesRecordAndItsAnswerIsReturned) {
    TDBXContext Ctx;
    TDBXTraceInfo Last;
    Ctx.SetOnTrace([&](const TDBXTraceInfo& Info) {
        Last = Info;
        return 42;
    });
    EXPECT_EQ(Ctx.Trace(7, 2, "one"), 42);
    EXPECT_EQ(Last.Message, "one");
    EXPECT_EQ(Last.TraceFlag, 2);
    EXPECT_EQ(Last.TraceLevel, 7);

    EXPECT_EQ(Ctx.Trace(4, "two"), 42);
    EXPECT_EQ(Last.TraceLevel, 5);
    EXPECT_EQ(Last.TraceFlag, 4);

    EXPECT_EQ(Ctx.Trace(3, "cat", "three"), 42);
    EXPECT_EQ(Last.TraceFlag, 16384);
    EXPECT_EQ(Last.TraceLevel, 3);
    EXPECT_EQ(Last.TraceCategory, "cat");
}

TEST(TDBXContextTest, TracingChecksNeedAHookAndMatchFlagsAndLevel) {
    TDBXContext Ctx;
    Ctx.SetOnTrace([](const TDBXTraceInfo&) { return 0; });
    Ctx.SetTraceFlags(0x0C);
    Ctx.SetTraceLevel(3);
    EXPECT_TRUE(Ctx.HasTraceHolder());
    EXPECT_TRUE(Ctx.IsTracing(0x04));
    EXPECT_FALSE(Ctx.IsTracing(0x03));
    EXPECT_TRUE(Ctx.IsTracingLevel(3));
    EXPECT_TRUE(Ctx.IsTracingLevel(4));
    EXPECT_FALSE(Ctx.IsTracingLevel(2));
}

// A copy raises and traces through the hooks it copied, with the settings it
// copied, and later changes to the original do not reach it.
TEST(TDBXContextTest, CopyRaisesAndTracesThroughWhatItCopied) {
    TDBXContext Ctx;
    int Traced = 0;
    Ctx.SetOnError([](TDBXError&) { throw TDBXError(27, "from the hook"); });
    Ctx.SetOnTrace([&](const TDBXTraceInfo&) { return ++Traced; });
    Ctx.SetTraceLevel(2);
    const TDBXContext Copy(Ctx);
    Ctx.SetOnError(nullptr);
    Ctx.SetOnTrace(nullptr);
    Ctx.SetTraceLevel(9);

    test::ExpectDBXError(27, "from the hook", [&] { Copy.Error(9, "original"); });
    test::ExpectDBXError(9, "original", [&] { Ctx.Error(9, "original"); });
    EXPECT_EQ(Copy.Trace(1, "x"), 1);
    EXPECT_EQ(Copy.Trace(1, "y"), 2);
    EXPECT_EQ(Ctx.Trace(1, "z"), 1); // no hook left: nothing called
    EXPECT_EQ(Traced, 2);
    EXPECT_TRUE(Copy.IsTracingLevel(2));
    EXPECT_FALSE(Ctx.IsTracingLevel(2));
}

} // namespace
