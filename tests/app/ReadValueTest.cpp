#include <gtest/gtest.h>

#include "app/OrderIntake.h"
#include "xml/TKivoXmlParse.h"

namespace kds {
namespace {

TEST(TReadValueTest, GivesTheChildsValueAndLeavesTheCursorWhereItWas) {
    auto C = TKivoXmlParse::LoadXMLFromString("<item><PluName>Tea</PluName><Empty/></item>");
    EXPECT_EQ("Tea", ReadValue(*C, "PluName"));
    EXPECT_EQ("item", C->Node().NodeName());
    EXPECT_EQ("", ReadValue(*C, "Empty"));
    EXPECT_EQ("", ReadValue(*C, "Missing"));
    EXPECT_EQ("item", C->Node().NodeName());
}

} // namespace
} // namespace kds
