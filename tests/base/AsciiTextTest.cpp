#include "base/AsciiText.h"

#include <gtest/gtest.h>

namespace kds {
namespace {

TEST(AsciiTextTest, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(SameTextAscii("TServerMethods1.EchoString", "tservermethods1.ECHOSTRING"));
    EXPECT_TRUE(SameTextAscii(u"DSAdmin", u"dsadmin"));
    // Letters outside ASCII compare exactly: no locale decides that I and a
    // dotless i, or E and e-acute, are the same letter.
    EXPECT_FALSE(SameTextAscii(u"I", u"\u0131"));
    EXPECT_FALSE(SameTextAscii(u"\u00C9", u"\u00E9"));
    EXPECT_FALSE(SameTextAscii("ab", "abc"));
    EXPECT_EQ(AsciiUpperCase(std::u16string(u"call x\u00E9")), u"CALL X\u00E9");
    EXPECT_EQ(AsciiLowerCase(std::string("UTF-8")), "utf-8");
}

TEST(AsciiTextTest, ComparesFoldedThenByUnsignedCodeUnit) {
    EXPECT_EQ(CompareTextAscii("abc", "ABC"), 0);
    EXPECT_LT(CompareTextAscii("abc", "ABD"), 0);
    EXPECT_LT(CompareTextAscii("ab", "abc"), 0);
    EXPECT_GT(CompareTextAscii("b", "A"), 0);
    // Bytes above 127 sort after ASCII, not before it as signed char would.
    EXPECT_LT(CompareTextAscii("z", "\xE9"), 0);
    EXPECT_LT(CompareTextAscii(u"z", u"\u00E9"), 0);
}

TEST(AsciiTextTest, MatchesPrefixesAndSuffixesWithoutCase) {
    EXPECT_TRUE(EndsWithAscii<char>("ORDER.XML", ".xml"));
    EXPECT_FALSE(EndsWithAscii<char>("xml", ".xml"));
    EXPECT_TRUE(StartsWithAscii<char16_t>(u"CALL x", u"call"));
}

TEST(AsciiTextTest, ReadsHexDigitsInEitherCase) {
    EXPECT_EQ(HexDigitValue('0'), 0);
    EXPECT_EQ(HexDigitValue('f'), 15);
    EXPECT_EQ(HexDigitValue(u'C'), 12);
    EXPECT_EQ(HexDigitValue('g'), -1);
    EXPECT_EQ(HexDigitValue(u'\uFF10'), -1); // a full-width digit is no digit
}

TEST(AsciiTextTest, SplitsListsDroppingEmptyParts) {
    EXPECT_EQ(SplitList("A;B ; C;;", ';', true), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(SplitList("a\\\\b\\", '\\', false), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitList(" a ;", ';', false), (std::vector<std::string>{" a "}));
    EXPECT_TRUE(SplitList("", ';', true).empty());
}

} // namespace
} // namespace kds
