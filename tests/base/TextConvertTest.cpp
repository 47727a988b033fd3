#include "base/TextConvert.h"

#include <gtest/gtest.h>

using namespace kds;

namespace {

TEST(TextConvertTest, RoundTripsBmpAndSupplementaryCharacters) {
    const std::string Text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const std::u16string Wide = Utf8ToUtf16(Text);
    EXPECT_EQ(Wide, (std::u16string{u'a', 0xE9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16ToUtf8(Wide), Text);
}

TEST(TextConvertTest, ReplacesMalformedSequencesCharacterByCharacter) {
    EXPECT_EQ(Utf8ToUtf16("\x80z"), (std::u16string{0xFFFD, u'z'}));
    EXPECT_EQ(Utf8ToUtf16("\xC3"), (std::u16string{0xFFFD}));
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), (std::u16string{0xFFFD, 0xFFFD})); // overlong
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80").size(), 3u);                    // encoded surrogate
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
}

} // namespace
