#include <gtest/gtest.h>

#include "base/DBXError.h"

using namespace kds;

namespace {

struct CodeText {
    int32_t Code;
    const char* Message;
};

void PrintTo(const CodeText& C, std::ostream* Os) {
    *Os << "code " << C.Code;
}

class TDBXErrorDefaultMessageTest : public testing::TestWithParam<CodeText> {};

TEST_P(TDBXErrorDefaultMessageTest, ReadsDbxErrorAndTheCodeText) {
    const TDBXError Err(GetParam().Code, "");
    EXPECT_EQ(Err.ErrorCode(), GetParam().Code);
    EXPECT_EQ(Err.Message(), GetParam().Message);
    EXPECT_STREQ(Err.what(), GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    CodeTable, TDBXErrorDefaultMessageTest,
    testing::Values(
        CodeText{0, "DBX Error:  None"},
        CodeText{4, "DBX Error:  Unexpected internal error. DBX Object such as a connection, "
                    "command, or reader may already be closed."},
        CodeText{11, "DBX Error:  Parameter not set"},
        CodeText{22, "DBX Error:  Driver could not be properly initialized.  Client library may "
                     "be missing, not installed properly, of the wrong version, or the driver "
                     "may be missing from the system path."},
        CodeText{29, "DBX Error:  Invalid argument"}, CodeText{30, "DBX Error:  Error Code:  30"},
        CodeText{31, "DBX Error:  Unrecognized command type."},
        CodeText{32, "DBX Error:  Error Code:  32"},
        CodeText{33, "DBX Error:  Schema or user name separated by a '.' must be specified."},
        CodeText{37, "DBX Error:  VendorLib must be specified"},
        CodeText{100, "DBX Error:  No data"}, CodeText{101, "DBX Error:  Vendor error"},
        CodeText{102, "DBX Error:  Error Code:  102"},
        CodeText{113, "DBX Error:  Error Code:  113"},
        CodeText{-1, "DBX Error:  Error Code:  -1"}));

TEST(TDBXErrorTest, KeepsAGivenMessageUnchanged) {
    const TDBXError Err(2, "out of buffers");
    EXPECT_EQ(Err.ErrorCode(), 2);
    EXPECT_EQ(Err.Message(), "out of buffers");
}

TEST(TDBXErrorTest, InnerExceptionFormFollowsTheSameMessageRules) {
    const std::runtime_error Inner("inner text");
    EXPECT_EQ(TDBXError(5, "", Inner).Message(), "DBX Error:  Not supported");
    EXPECT_EQ(TDBXError(5, "outer", Inner).Message(), "outer");
}

} // namespace
