#include "data/JSONByteReader.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "data/DBXJSON.h"
#include "support/TestNames.h"

using namespace kds;

namespace {

std::string ServeAll(TJSONByteReader& Reader) {
    std::string Served;
    while (!Reader.Empty())
        Served.push_back(static_cast<char>(Reader.ConsumeByte()));
    return Served;
}

struct ReaderCase {
    const char* Name;
    std::string Input;
    bool IsUTF8;
    std::string Served;
};

void PrintTo(const ReaderCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class TJSONByteReaderTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(TJSONByteReaderTest, ServesMultiByteSequencesAsEscapeText) {
    const ReaderCase& C = GetParam();
    const std::vector<uint8_t> Data(C.Input.begin(), C.Input.end());
    TJSONByteReader Reader(Data.data(), 0, static_cast<int32_t>(Data.size()), C.IsUTF8);
    EXPECT_EQ(ServeAll(Reader), C.Served);
    EXPECT_EQ(Reader.Offset(), static_cast<int32_t>(Data.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TJSONByteReaderTest,
    testing::Values(ReaderCase{"Ascii", "a\x7F", true, "a\x7F"},
                    ReaderCase{"TwoBytes", "\xC3\xA9", true, "\\u00E9"},
                    ReaderCase{"TwoBytesHighest", "\xDF\xBF", true, "\\u07FF"},
                    ReaderCase{"ThreeBytes", "\xE2\x82\xAC", true, "\\u20AC"},
                    ReaderCase{"FourBytes", "\xF0\x9F\x98\x80", true, "\\uD83D\\uDE00"},
                    ReaderCase{"OverlongNotRejected", "\xC0\x80", true, "\\u0000"},
                    ReaderCase{"ByteOrderMarkSkipped", "\xEF\xBB\xBFx", true, "x"},
                    ReaderCase{"LoneByteOrderMarkServed", "\xEF\xBB\xBF", true, "\\uFEFF"},
                    ReaderCase{"ByteModeUnchanged", "\xC3\xA9\xEF\xBB\xBF", false,
                               "\xC3\xA9\xEF\xBB\xBF"}),
    test::TCaseName{});

TEST(TJSONByteReaderTest, PeekNeverMovesAndOffsetSkipsTheWholeSequence) {
    const std::string Input = "x\xE2\x82\xACy";
    const std::vector<uint8_t> Data(Input.begin(), Input.end());
    TJSONByteReader Reader(Data.data(), 0, 5, true);
    EXPECT_EQ(Reader.ConsumeByte(), 'x');
    EXPECT_EQ(Reader.PeekByte(), '\\');
    EXPECT_EQ(Reader.Offset(), 1);
    EXPECT_TRUE(Reader.HasMore(4));
    EXPECT_FALSE(Reader.HasMore(5));
    EXPECT_EQ(Reader.ConsumeByte(), '\\');
    EXPECT_EQ(Reader.Offset(), 4);  // past the sequence, escape text pending
    EXPECT_TRUE(Reader.HasMore(6)); // five pending bytes and the raw y
    EXPECT_FALSE(Reader.HasMore(7));
    EXPECT_EQ(ServeAll(Reader), "u20ACy");
}

TEST(TJSONByteReaderTest, StartsAtTheOffsetAndStopsAtTheRange) {
    const std::string Input = "ab\xC3\xA9"
                              "cd";
    const std::vector<uint8_t> Data(Input.begin(), Input.end());
    TJSONByteReader Reader(Data.data(), 1, 5, true);
    EXPECT_EQ(ServeAll(Reader), "b\\u00E9c");
    EXPECT_THROW(
        {
            TJSONByteReader Cut(Data.data(), 2, 3, true);
            Cut.PeekByte();
        },
        TJSONException);
}

// The string grammar reads runs of plain bytes directly; its result must not
// depend on where runs, escapes and multi-byte sequences meet.
TEST(TJSONStringFastPathTest, LongMixedStringsDecodeAsTheReaderServesThem) {
    std::string Input = "\"";
    std::u16string Expected;
    for (int I = 0; I < 300; ++I) {
        Input += "abc";
        Expected += u"abc";
        switch (I % 5) {
        case 0:
            Input += "\\n";
            Expected += u'\n';
            break;
        case 1:
            Input += "\xC3\xA9";
            Expected += char16_t(0xE9);
            break;
        case 2:
            Input += "\xF0\x9F\x98\x80";
            Expected += {char16_t(0xD83D), char16_t(0xDE00)};
            break;
        case 3:
            Input += "\\u0041\x01";
            Expected += {u'A', char16_t(1)};
            break;
        default:
            Input += "\\\\\\\"";
            Expected += u"\\\"";
        }
    }
    Input += "\"";
    const std::vector<uint8_t> Data(Input.begin(), Input.end());
    std::unique_ptr<TJSONValue> Value = TJSONObject::ParseJSONValue(Data, 0, true);
    ASSERT_NE(Value, nullptr);
    EXPECT_EQ(Value->Value(), Expected);
}

TEST(TJSONNodeMemoryTest, TreesMayBeBuiltAndFreedOnDifferentThreads) {
    std::unique_ptr<TJSONValue> Built;
    std::thread Maker([&] {
        const std::string Text = "[{\"a\":\"x\",\"b\":[1,2,true]},\"s\",null]";
        for (int I = 0; I < 100; ++I) // leaves a cache of freed nodes behind
            TJSONObject::ParseJSONValue(Text);
        Built = TJSONObject::ParseJSONValue(Text);
    });
    Maker.join();
    ASSERT_NE(Built, nullptr);
    EXPECT_EQ(Built->ToString(), u"[{\"a\":\"x\",\"b\":[1,2,true]},\"s\",null]");
    std::thread Freer([&] { Built.reset(); });
    Freer.join();
    EXPECT_EQ(Built, nullptr);
}

} // namespace
