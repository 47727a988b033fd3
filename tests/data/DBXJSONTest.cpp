#include "data/DBXJSON.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "AllocationFailure.h"
#include "base/NumberFormat.h"
#include "support/DecimalSeparatorScope.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

using namespace kds;

namespace {

// A string that reports its own destruction, to watch the ownership rules.
class TTrackedString : public TJSONString {
public:
    TTrackedString(const std::u16string& Text, bool& Freed) : TJSONString(Text), FFreed(Freed) {}
    ~TTrackedString() override { FFreed = true; }

private:
    bool& FFreed;
};

std::vector<uint8_t> Bytes(const std::string& Text) {
    return std::vector<uint8_t>(Text.begin(), Text.end());
}

std::string ByteForm(const TJSONAncestor& Value) {
    const std::vector<uint8_t> Data = Value.ToBytes();
    return std::string(Data.begin(), Data.end());
}

std::unique_ptr<TJSONValue> ParseBytes(const std::string& Text, bool IsUTF8 = true) {
    return TJSONObject::ParseJSONValue(Bytes(Text), 0, IsUTF8);
}

// --- Parsing: a table of inputs and the byte form they give (or nothing) --

struct ParseCase {
    const char* Name;
    std::string Input;
    bool IsUTF8;
    const char* Expected; // nullptr: must not parse
};

void PrintTo(const ParseCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class TJSONParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(TJSONParseTest, GivesTheExpectedValueOrNothing) {
    const ParseCase& C = GetParam();
    std::unique_ptr<TJSONValue> Value = ParseBytes(C.Input, C.IsUTF8);
    if (!C.Expected) {
        EXPECT_EQ(Value, nullptr);
        return;
    }
    ASSERT_NE(Value, nullptr);
    EXPECT_EQ(ByteForm(*Value), C.Expected);
}

const ParseCase ParseCases[] = {
    {"EmptyArray", "[]", true, "[]"},
    {"EmptyArrayWithWhitespace", "[ \t\r\n]", true, "[]"},
    {"EmptyObject", "{}", true, "{}"},
    {"EmptyObjectWithWhitespace", "{ \n }", true, "{}"},
    {"StringAfterWhitespace", " \t\"a\"", true, "\"a\""},
    {"StringBeforeWhitespace", "\"a\" ", true, nullptr},
    {"NumberBeforeWhitespace", "1 ", true, nullptr},
    {"LiteralBeforeWhitespace", "true\n", true, nullptr},
    {"ArrayBeforeWhitespace", "[1] \r\n", true, "[1]"},
    {"ObjectBeforeWhitespace", "{\"a\":1}  ", true, "{\"a\":1}"},
    {"FormFeedIsNotWhitespace", "[\f]", true, nullptr},
    {"TrailingCommaInArray", "[1,]", true, nullptr},
    {"TrailingCommaInObject", "{\"a\":1,}", true, nullptr},
    {"MembersWithoutComma", "{\"a\":1 \"b\":2}", true, nullptr},
    {"ElementsWithoutComma", "[1 2]", true, nullptr},
    {"LeadingComma", "[,1]", true, nullptr},
    {"NameWithoutColon", "{\"a\" 1}", true, nullptr},
    {"NameNotAString", "{1:2}", true, nullptr},
    {"MemberWithoutValue", "{\"a\":}", true, nullptr},
    {"UnclosedArray", "[1,2", true, nullptr},
    {"UnclosedObject", "{\"a\":1", true, nullptr},
    {"Empty", "", true, nullptr},
    {"OnlyWhitespace", "  ", true, nullptr},
    {"TwoValues", "[1][2]", true, nullptr},
    {"Spaced", "{ \"a\" : [ 1 , 2 ] , \"b\" : { } }", true, "{\"a\":[1,2],\"b\":{}}"},
    {"Nested", "{\"a\":[1,{\"b\":null}],\"c\":true,\"d\":false}", true,
     "{\"a\":[1,{\"b\":null}],\"c\":true,\"d\":false}"},
    {"LeadingZero", "01", true, nullptr},
    {"LoneMinus", "-", true, nullptr},
    {"MinusLetter", "-a", true, nullptr},
    {"EndsInPoint", "1.", true, nullptr},
    {"EndsInExponent", "1e", true, nullptr},
    {"EndsInExponentSign", "1E+", true, nullptr},
    {"PointNoFractionDigits", "[1.e5]", true, nullptr},
    {"StartsWithPoint", ".5", true, nullptr},
    {"PlusSign", "+1", true, nullptr},
    {"MinusZero", "-0", true, "-0"},
    {"ZeroFraction", "0.25", true, "0.25"},
    {"NegativeExponent", "1.5e-3", true, "1.5e-3"},
    {"PlusExponentKeptAsWritten", "2E+10", true, "2E+10"},
    {"NumberInArray", "[-12.5E3,0]", true, "[-12.5E3,0]"},
    {"TruncatedNull", "nul", true, nullptr},
    {"MisspeltTrue", "trUe", true, nullptr},
    {"LiteralWithTail", "nullx", true, nullptr},
    {"UnclosedString", "\"ab", true, nullptr},
    {"UnknownEscape", "\"\\x\"", true, nullptr},
    {"ShortUnicodeEscape", "\"\\u12\"", true, nullptr},
    {"BadUnicodeEscape", "\"\\u12G4\"", true, nullptr},
    {"BackslashAtEnd", "\"\\", true, nullptr},
    {"Escapes", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", true, "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""},
    {"LowerCaseUnicodeEscape", "\"\\u00e9\\u20ac\"", true, "\"\\u00E9\\u20AC\""},
    {"RawControlCharacter", std::string("\"\x01\x1f\"", 4), true, "\"\\u0001\\u001F\""},
    {"RawNulCharacter", std::string("\"\0\"", 3), true, "\"\\u0000\""},
    {"TwoByteUtf8", "\"\xC3\xA9\"", true, "\"\\u00E9\""},
    {"ThreeByteUtf8", "\"\xE2\x82\xAC\"", true, "\"\\u20AC\""},
    {"FourByteUtf8", "\"\xF0\x9F\x98\x80\"", true, "\"\\uD83D\\uDE00\""},
    {"ByteModeHighByte", "\"\xE9\xFF\"", false, "\"\\u00E9\\u00FF\""},
    {"ByteModeTakesUtf8AsBytes", "\"\xC3\xA9\"", false, "\"\\u00C3\\u00A9\""},
    {"ByteOrderMarkSkipped", "\xEF\xBB\xBF[1]", true, "[1]"},
    {"ByteOrderMarkAlone", "\xEF\xBB\xBF", true, nullptr},
    {"ByteOrderMarkNotSkippedInByteMode", "\xEF\xBB\xBF[1]", false, nullptr},
    {"NonAsciiOutsideString", "[\xC3\xA9]", true, nullptr},
    {"NonAsciiAfterNumber", "1\xC3\xA9", true, nullptr},
    {"NonAsciiAfterLiteral", "[true\xC3\xA9]", true, nullptr},
    // The reader turns a multi-byte sequence into its escape text before
    // the string grammar sees it, so an escaping backslash in front of one
    // escapes the backslash of that text.
    {"BackslashBeforeMultiByte", "\"\\\xC3\xA9\"", true, "\"\\\\u00E9\""},
    {"BackslashBeforeFourByte", "\"\\\xF0\x9F\x98\x80\"", true, "\"\\\\uD83D\\uDE00\""},
};

INSTANTIATE_TEST_SUITE_P(Cases, TJSONParseTest, testing::ValuesIn(ParseCases), test::TCaseName{});

TEST(TJSONParseTest, KeepsNumberTextExactly) {
    for (const char* Text : {"-0", "1.50", "1.5e-3", "2E+10", "123456789012345678901234567890"}) {
        std::unique_ptr<TJSONValue> Value = ParseBytes(Text);
        ASSERT_NE(Value, nullptr) << Text;
        auto* Number = dynamic_cast<TJSONNumber*>(Value.get());
        ASSERT_NE(Number, nullptr) << Text;
        EXPECT_EQ(Number->ToString(), std::u16string(Text, Text + std::strlen(Text)));
    }
}

TEST(TJSONParseTest, DecodesUtf8IntoUtf16CodeUnits) {
    std::unique_ptr<TJSONValue> E = ParseBytes("\"\xC3\xA9\"");
    ASSERT_NE(E, nullptr);
    EXPECT_EQ(E->Value(), std::u16string(1, char16_t(0xE9)));
    std::unique_ptr<TJSONValue> Smiley = ParseBytes("\"\xF0\x9F\x98\x80\"");
    ASSERT_NE(Smiley, nullptr);
    EXPECT_EQ(Smiley->Value(), (std::u16string{0xD83D, 0xDE00}));
}

TEST(TJSONParseTest, ReadsExactlyFromOffsetToEnd) {
    const std::vector<uint8_t> Data = Bytes("xx [12]yy");
    std::unique_ptr<TJSONValue> Value = TJSONObject::ParseJSONValue(Data, 3, 7, true);
    ASSERT_NE(Value, nullptr);
    EXPECT_EQ(ByteForm(*Value), "[12]");
    EXPECT_NE(TJSONObject::ParseJSONValue(Data, 3, 7), nullptr); // int third argument: an End
    EXPECT_EQ(TJSONObject::ParseJSONValue(Data, 3, 6, true),
              nullptr); // End is a position, not a length
    EXPECT_EQ(TJSONObject::ParseJSONValue(Data, 3, true), nullptr);  // "yy" follows
    EXPECT_NE(TJSONObject::ParseJSONValueUTF8(Data, 2, 7), nullptr); // leading blank skipped
    EXPECT_EQ(TJSONObject::ParseJSONValue(Data, 3, 10, true), nullptr);
    EXPECT_EQ(TJSONObject::ParseJSONValue(Data, 5, 4, true), nullptr);
    EXPECT_EQ(TJSONObject::ParseJSONValue(Data, -1, 7, true), nullptr);
}

TEST(TJSONParseTest, AcceptsTextAndEightBitStrings) {
    std::unique_ptr<TJSONValue> FromText =
        TJSONObject::ParseJSONValue(std::u16string(u"[\"\u00e9\u20ac\"]"));
    ASSERT_NE(FromText, nullptr);
    EXPECT_EQ(ByteForm(*FromText), "[\"\\u00E9\\u20AC\"]");
    std::unique_ptr<TJSONValue> FromUtf8 =
        TJSONObject::ParseJSONValue(std::string("{\"k\":\"\xC3\xA9\"}"));
    ASSERT_NE(FromUtf8, nullptr);
    EXPECT_EQ(ByteForm(*FromUtf8), "{\"k\":\"\\u00E9\"}");
}

// --- Nesting ------------------------------------------------------------

TEST(TJSONParseTest, AcceptsNestingUpToTheBound) {
    const int Depth = TJSONObject::MaxDepth;
    const std::string Text = std::string(Depth, '[') + std::string(Depth, ']');
    std::unique_ptr<TJSONValue> Value = ParseBytes(Text);
    ASSERT_NE(Value, nullptr);
    EXPECT_EQ(ByteForm(*Value), Text);
    const std::string Objects = [] {
        std::string S;
        for (int I = 1; I < TJSONObject::MaxDepth; ++I)
            S += "{\"a\":";
        return S + "{}" + std::string(TJSONObject::MaxDepth - 1, '}');
    }();
    EXPECT_NE(ParseBytes(Objects), nullptr);
}

TEST(TJSONParseTest, RejectsNestingBeyondTheBoundWithoutOverflow) {
    const int Depth = TJSONObject::MaxDepth + 1;
    EXPECT_EQ(ParseBytes(std::string(Depth, '[') + std::string(Depth, ']')), nullptr);
    EXPECT_EQ(ParseBytes(std::string(300000, '[')), nullptr);
    std::string Chain;
    for (int I = 0; I < 300000; ++I)
        Chain += "{\"a\":";
    EXPECT_EQ(ParseBytes(Chain), nullptr);
    std::string Mixed;
    for (int I = 0; I < 200000; ++I)
        Mixed += "[{\"a\":";
    EXPECT_EQ(ParseBytes(Mixed), nullptr);
    TJSONObject Target;
    EXPECT_LE(Target.Parse(Bytes(Chain), 0), 0);
}

// --- Malformed UTF-8 ----------------------------------------------------------

struct Utf8ErrorCase {
    const char* Name;
    std::string Data;
    int32_t Offset;
    int32_t End; // -1: end of data
    const char* Message;
};

void PrintTo(const Utf8ErrorCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class TJSONUtf8ErrorTest : public testing::TestWithParam<Utf8ErrorCase> {};

TEST_P(TJSONUtf8ErrorTest, RaisesWithTheAbsolutePosition) {
    const Utf8ErrorCase& C = GetParam();
    const std::vector<uint8_t> Data = Bytes(C.Data);
    const int32_t End = C.End < 0 ? static_cast<int32_t>(Data.size()) : C.End;
    test::ExpectErrorText<TJSONException>(
        C.Message, [&] { TJSONObject::ParseJSONValue(Data, C.Offset, End, true); });
}

const Utf8ErrorCase Utf8ErrorCases[] = {
    {"ContinuationByteFirst", "\x80", 0, -1,
     "UTF8: Type cannot be determined out of header byte at position 0"},
    {"FiveByteLead", "\"\xF8\x80\x80\x80\x80\"", 0, -1,
     "UTF8: Type cannot be determined out of header byte at position 1"},
    {"CutByEndOfData", "\"\xC3", 0, -1,
     "UTF8: A start byte not followed by enough continuation bytes in position 1"},
    {"CutByEndPosition", "xx\"\xE2\x82\xAC\"", 2, 5,
     "UTF8: A start byte not followed by enough continuation bytes in position 3"},
    {"BadSecondOfTwo", "\"\xC3\x41\"", 0, -1,
     "UTF8: An unexpected continuation byte in 2-byte UTF8 in position 2"},
    {"BadThirdOfThree", "\"\xE2\x82\"\"", 0, -1,
     "UTF8: An unexpected continuation byte in 3-byte UTF8 in position 3"},
    {"BadThirdOfFourAfterOffset", "abc\"\xF0\x9F\x41\x80\"", 3, -1,
     "UTF8: An unexpected continuation byte in 4-byte UTF8 in position 6"},
    {"AfterNumber", "[1\x80]", 0, -1,
     "UTF8: Type cannot be determined out of header byte at position 2"},
    {"InMemberName", "{\"\xC3", 0, -1,
     "UTF8: A start byte not followed by enough continuation bytes in position 2"},
};

INSTANTIATE_TEST_SUITE_P(Cases, TJSONUtf8ErrorTest, testing::ValuesIn(Utf8ErrorCases),
                         test::TCaseName{});

TEST(TJSONUtf8ErrorTest, ByteModeNeverRaises) {
    EXPECT_EQ(ParseBytes("\x80", false), nullptr);
    std::unique_ptr<TJSONValue> Value = ParseBytes("\"\xC3\x41\x80\"", false);
    ASSERT_NE(Value, nullptr);
    EXPECT_EQ(Value->Value(), (std::u16string{0xC3, u'A', 0x80}));
}

// --- Byte form ---------------------------------------------------------------

struct EscapeCase {
    char16_t Unit;
    const char* Written;
};

void PrintTo(const EscapeCase& C, std::ostream* Os) {
    *Os << "U+" << std::hex << int(C.Unit);
}

class TJSONEscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(TJSONEscapeTest, WritesEachCodeUnitAsTheTableSays) {
    const TJSONString S(std::u16string(1, GetParam().Unit));
    EXPECT_EQ(ByteForm(S), std::string("\"") + GetParam().Written + "\"");
    EXPECT_LE(static_cast<int32_t>(ByteForm(S).size()), S.EstimatedByteSize());
}

INSTANTIATE_TEST_SUITE_P(
    Table, TJSONEscapeTest,
    testing::Values(EscapeCase{8, "\\b"}, EscapeCase{9, "\\t"}, EscapeCase{10, "\\n"},
                    EscapeCase{12, "\\f"}, EscapeCase{13, "\\r"}, EscapeCase{u'"', "\\\""},
                    EscapeCase{u'/', "\\/"}, EscapeCase{u'\\', "\\\\"}, EscapeCase{0, "\\u0000"},
                    EscapeCase{11, "\\u000B"}, EscapeCase{31, "\\u001F"}, EscapeCase{32, " "},
                    EscapeCase{u'a', "a"}, EscapeCase{127, "\x7F"}, EscapeCase{128, "\\u0080"},
                    EscapeCase{0xE9, "\\u00E9"}, EscapeCase{0xABCD, "\\uABCD"},
                    EscapeCase{0xD83D, "\\uD83D"}));

TEST(TJSONStringTest, QuoteIsEscapedInBytesButRawInText) {
    const TJSONString S(u"a\"b");
    EXPECT_EQ(ByteForm(S), "\"a\\\"b\"");
    EXPECT_EQ(S.ToString(), u"\"a\"b\"");
    EXPECT_EQ(S.Value(), u"a\"b");
}

TEST(TJSONStringTest, NullStringHasItsOwnForms) {
    const TJSONString S;
    EXPECT_TRUE(S.Null());
    EXPECT_EQ(ByteForm(S), "null");
    EXPECT_EQ(S.ToString(), u"");
    EXPECT_EQ(S.EstimatedByteSize(), 4);
    EXPECT_EQ(S.Value(), u"");
    const TJSONString Empty(u"");
    EXPECT_FALSE(Empty.Null());
    EXPECT_EQ(ByteForm(Empty), "\"\"");
    TJSONString Grown;
    Grown.AddChar(u'x');
    EXPECT_FALSE(Grown.Null());
    EXPECT_EQ(ByteForm(Grown), "\"x\"");
}

TEST(TJSONByteFormTest, WritesAtOffsetAndAnswersTheEndPosition) {
    TJSONArray A;
    A.Add(u"x")->Add(1);
    std::vector<uint8_t> Data(3 + static_cast<size_t>(A.EstimatedByteSize()), '#');
    const int32_t End = A.ToBytes(Data.data(), 3);
    EXPECT_EQ(End, 3 + 7);
    EXPECT_EQ(std::string(Data.begin(), Data.begin() + End), "###[\"x\",1]");
}

TEST(TJSONByteFormTest, EstimateMatchesTheTableAndBoundsTheOutput) {
    TJSONObject O;
    O.AddPair(u"s", u"\u00e9\n")->AddPair(u"n", new TJSONNumber(u"12"));
    auto* A = new TJSONArray();
    A->Add(true)->Add(false)->Add(static_cast<TJSONObject*>(nullptr));
    O.AddPair(u"a", A);
    const int32_t Name = 6 * 1 + 2;
    const int32_t PairS = Name + (6 * 2 + 2) + 1;
    const int32_t PairN = Name + 2 + 1;
    const int32_t PairA = Name + (1 + (4 + 1) + (5 + 1) + (4 + 1)) + 1;
    EXPECT_EQ(O.EstimatedByteSize(), 1 + (PairS + 1) + (PairN + 1) + (PairA + 1));
    EXPECT_EQ(ByteForm(O), "{\"s\":\"\\u00E9\\n\",\"n\":12,\"a\":[true,false,null]}");
    EXPECT_EQ(TJSONObject().EstimatedByteSize(), 2);
    EXPECT_EQ(TJSONArray().EstimatedByteSize(), 2);
}

TEST(TJSONByteFormTest, RoundTripsThroughTheParser) {
    TJSONArray A;
    A.Add(std::u16string{u'a', 0, 0x7F, 0x80, 0xE9, 0xD83D, 0xDE00, u'"', u'\\', u'/', 8, 9, 10, 12,
                         13})
        ->Add(-5)
        ->Add(1.25);
    auto* O = new TJSONObject();
    O->AddPair(u"k\u00e9y", new TJSONNull());
    A.Add(O);
    const std::vector<uint8_t> Data = A.ToBytes();
    for (const uint8_t B : Data)
        EXPECT_LT(B, 0x80);
    for (const bool IsUTF8 : {true, false}) {
        std::unique_ptr<TJSONValue> Back = TJSONObject::ParseJSONValue(Data, 0, IsUTF8);
        ASSERT_NE(Back, nullptr);
        EXPECT_EQ(Back->ToBytes(), Data);
        EXPECT_EQ(Back->ToString(), A.ToString());
    }
}

TEST(TJSONTextFormTest, JoinsWithoutWhitespaceOrEscaping) {
    TJSONObject O;
    O.AddPair(u"a", u"x\"/\n")->AddPair(u"b", (new TJSONArray())->Add(1)->Add(true)->Add(false));
    O.AddPair(new TJSONPair(u"c", new TJSONNull()));
    EXPECT_EQ(O.ToString(), u"{\"a\":\"x\"/\n\",\"b\":[1,true,false],\"c\":null}");
    EXPECT_EQ(TJSONPair(new TJSONString(u"a"), nullptr).ToString(), u"");
    EXPECT_EQ(TJSONPair().ToString(), u"");
    // The byte form never touches a missing part; it writes null for it.
    const TJSONPair Half(new TJSONString(u"a"), nullptr);
    EXPECT_EQ(ByteForm(Half), "\"a\":null");
    EXPECT_LE(static_cast<int32_t>(ByteForm(TJSONPair()).size()), TJSONPair().EstimatedByteSize());
}

// --- Numbers -----------------------------------------------------------------

TEST(TJSONNumberTest, WritesDoublesAndIntegersInTheGeneralFormat) {
    EXPECT_EQ(TJSONNumber(1e20).ToString(), u"1E20");
    EXPECT_EQ(TJSONNumber(1.5).ToString(), u"1.5");
    EXPECT_EQ(TJSONNumber(-0.000001).ToString(), u"-1E-6");
    EXPECT_EQ(TJSONNumber(123456789012345678.0).ToString(), u"1.23456789012346E17");
    EXPECT_EQ(TJSONNumber(-42).ToString(), u"-42");
    EXPECT_EQ(TJSONNumber(int64_t{-9000000000}).ToString(), u"-9000000000");
    EXPECT_EQ(TJSONNumber().ToString(), u"");
    EXPECT_FALSE(TJSONNumber().Null());
    EXPECT_EQ(ByteForm(TJSONNumber(2.5)), "2.5");
}

TEST(TJSONNumberTest, ConvertsItsText) {
    EXPECT_DOUBLE_EQ(TJSONNumber(u"1.5e-3").AsDouble(), 0.0015);
    EXPECT_DOUBLE_EQ(TJSONNumber(u"-2E+2").AsDouble(), -200);
    EXPECT_EQ(TJSONNumber(u"-17").AsInt(), -17);
    EXPECT_EQ(TJSONNumber(2147483647).AsInt(), 2147483647);
}

TEST(TJSONNumberTest, RaisesConversionErrorsOnOtherText) {
    test::ExpectErrorText<EConvertError>("'1.5' is not a valid integer value",
                                         [] { TJSONNumber(u"1.5").AsInt(); });
    test::ExpectErrorText<EConvertError>("'1,5' is not a valid floating point value",
                                         [] { TJSONNumber(u"1,5").AsDouble(); });
    EXPECT_THROW(TJSONNumber(u"2147483648").AsInt(), EConvertError);
    EXPECT_THROW(TJSONNumber().AsDouble(), EConvertError);
}

TEST(TJSONNumberValueTest, ValueUsesTheProcessWideSeparator) {
    const TJSONNumber N(u"1.50");
    {
        test::TDecimalSeparatorScope Comma(u',');
        EXPECT_EQ(N.Value(), u"1,5");
        EXPECT_EQ(N.ToString(), u"1.50");
    }
    test::TDecimalSeparatorScope Point(u'.');
    EXPECT_EQ(N.Value(), u"1.5");
    EXPECT_EQ(TJSONNumber(u"1e20").Value(), u"1E20");
}

// --- Objects, arrays, ownership ---------------------------------------------

TEST(TJSONObjectTest, KeepsRepeatedNamesAndFindsTheFirst) {
    std::unique_ptr<TJSONValue> Value = ParseBytes("{\"a\":1,\"A\":2,\"a\":3}");
    auto* O = dynamic_cast<TJSONObject*>(Value.get());
    ASSERT_NE(O, nullptr);
    ASSERT_EQ(O->Size(), 3);
    EXPECT_EQ(O->Get(u"a")->JsonValue()->ToString(), u"1");
    EXPECT_EQ(O->Get(u"A")->JsonValue()->ToString(), u"2");
    EXPECT_EQ(O->Get(u"b"), nullptr);
    EXPECT_EQ(O->Get(2)->JsonValue()->ToString(), u"3");
    EXPECT_EQ(O->Get(3), nullptr);
    EXPECT_EQ(O->Get(-1), nullptr);

    TJSONNodePtr<TJSONPair> Removed = O->RemovePair(u"a");
    ASSERT_NE(Removed, nullptr);
    EXPECT_EQ(Removed->ToString(), u"\"a\":1");
    EXPECT_EQ(ByteForm(*O), "{\"A\":2,\"a\":3}");
    EXPECT_EQ(O->RemovePair(u"zz"), nullptr);
}

TEST(TJSONObjectTest, AddPairFormsChainAndSkipMissingParts) {
    bool NameFreed = false;
    bool ValueFreed = false;
    TJSONObject O(nullptr);
    O.AddPair(u"a", u"b")
        ->AddPair(new TJSONString(u"c"), new TJSONTrue())
        ->AddPair(u"d", new TJSONNumber(4))
        ->AddPair(static_cast<TJSONPair*>(nullptr))
        ->AddPair(u"e", static_cast<TJSONValue*>(nullptr))
        ->AddPair(new TTrackedString(u"f", NameFreed), nullptr)
        ->AddPair(nullptr, new TTrackedString(u"g", ValueFreed));
    EXPECT_EQ(ByteForm(O), "{\"a\":\"b\",\"c\":true,\"d\":4}");
    // A part handed over alone is not leaked.
    EXPECT_TRUE(NameFreed);
    EXPECT_TRUE(ValueFreed);
    EXPECT_EQ(TJSONObject(new TJSONPair(u"x", u"y")).Size(), 1);
}

TEST(TJSONOwnershipTest, ValueNotOwnedOutlivesItsObjectButItsNameDoesNot) {
    bool NameFreed = false;
    bool ValueFreed = false;
    auto* Name = new TTrackedString(u"n", NameFreed);
    auto* Value = new TTrackedString(u"v", ValueFreed);
    Name->SetOwned(false); // a pair frees its name regardless
    Value->SetOwned(false);
    {
        TJSONObject O;
        O.AddPair(Name, Value);
    }
    EXPECT_TRUE(NameFreed);
    EXPECT_FALSE(ValueFreed);
    delete Value;
    EXPECT_TRUE(ValueFreed);
}

TEST(TJSONOwnershipTest, ContainersFreeOnlyOwnedChildren) {
    bool KeptFreed = false;
    bool OwnedFreed = false;
    bool PairNameFreed = false;
    auto* Kept = new TTrackedString(u"k", KeptFreed);
    Kept->SetOwned(false);
    auto* Pair = new TJSONPair(new TTrackedString(u"p", PairNameFreed), new TJSONNull());
    Pair->SetOwned(false);
    {
        TJSONArray A(Kept, new TTrackedString(u"o", OwnedFreed));
        TJSONObject O(Pair);
    }
    EXPECT_FALSE(KeptFreed);
    EXPECT_TRUE(OwnedFreed);
    EXPECT_FALSE(PairNameFreed);
    delete Kept;
    delete Pair;
    EXPECT_TRUE(PairNameFreed);
}

TEST(TJSONArrayTest, PopTakesTheFirstElement) {
    TJSONArray A;
    A.Add(1)->Add(2);
    TJSONNodePtr<TJSONValue> First = A.Pop();
    ASSERT_NE(First, nullptr);
    EXPECT_EQ(First->ToString(), u"1");
    EXPECT_EQ(ByteForm(A), "[2]");
    EXPECT_EQ(A.Pop()->ToString(), u"2");
    EXPECT_EQ(A.Size(), 0);
    EXPECT_EQ(A.Pop(), nullptr);
}

TEST(TJSONArrayTest, AddFormsWrapTheirArguments) {
    TJSONArray A(u"x", u"y");
    A.Add(u"s")
        ->Add(std::u16string(u"t"))
        ->Add(7)
        ->Add(int64_t{8})
        ->Add(0.5)
        ->Add(true)
        ->Add(false)
        ->Add(static_cast<TJSONObject*>(nullptr))
        ->Add(static_cast<TJSONArray*>(nullptr))
        ->Add(new TJSONObject())
        ->Add(new TJSONArray());
    A.AddElement(nullptr);
    EXPECT_EQ(ByteForm(A), "[\"x\",\"y\",\"s\",\"t\",7,8,0.5,true,false,null,{},[]]");
    EXPECT_EQ(A.Get(12), nullptr);
    EXPECT_EQ(A.Get(0)->Value(), u"x");
    EXPECT_EQ(TJSONArray(nullptr, new TJSONNull()).Size(), 1);
}

// --- Handing nodes over and back --------------------------------------------

// Counts the nodes made and freed, to see each free, each leak and each
// double free.
struct TNodeCount {
    int Made = 0;
    int Freed = 0;
};

class TCountedString : public TJSONString {
public:
    TCountedString(const std::u16string& Text, TNodeCount& Count)
        : TJSONString(Text), FCount(Count) {
        ++FCount.Made;
    }
    ~TCountedString() override { ++FCount.Freed; }

private:
    TNodeCount& FCount;
};

TEST(TJSONOwnershipTest, HandedBackNodesAreFreedOnlyWhenOwned) {
    bool KeptFreed = false;
    bool OwnedFreed = false;
    auto Kept = std::make_unique<TTrackedString>(u"k", KeptFreed);
    Kept->SetOwned(false); // the caller's, only lent to the array
    TJSONArray A;
    A.AddElement(Kept.get());
    A.Add(u"o");
    A.AddElement(new TTrackedString(u"p", OwnedFreed));
    EXPECT_EQ(A.Pop().get(), Kept.get()); // the handle goes at once, the node stays
    EXPECT_FALSE(KeptFreed);
    EXPECT_EQ(Kept->Value(), u"k");
    A.Pop();
    A.Pop();
    EXPECT_TRUE(OwnedFreed);

    bool PairNameFreed = false;
    auto LentPair =
        std::make_unique<TJSONPair>(new TTrackedString(u"n", PairNameFreed), new TJSONNull());
    LentPair->SetOwned(false);
    TJSONObject O;
    O.AddPair(LentPair.get());
    O.AddPair(u"m", u"v");
    EXPECT_EQ(O.RemovePair(u"n").get(), LentPair.get());
    EXPECT_FALSE(PairNameFreed);
    EXPECT_EQ(ByteForm(O), "{\"m\":\"v\"}");
    LentPair.reset();
    EXPECT_TRUE(PairNameFreed);
}

TEST(TJSONOwnershipTest, UniquePtrFormsHandOverWithoutRelease) {
    TJSONObject O;
    O.AddPair(u"a", std::make_unique<TJSONNumber>(1))
        ->AddPair(std::make_unique<TJSONPair>(u"b", u"c"))
        ->AddPair(std::make_unique<TJSONString>(u"d"), std::make_unique<TJSONTrue>());
    TJSONArray A;
    A.AddElement(std::make_unique<TJSONNull>());
    A.AddElement(O.RemovePair(u"a")->JsonValue()->Clone());
    EXPECT_EQ(ByteForm(O), "{\"b\":\"c\",\"d\":true}");
    TJSONArray B;
    B.AddElement(A.Pop()); // a handle moves from one container into another
    EXPECT_EQ(ByteForm(A), "[1]");
    EXPECT_EQ(ByteForm(B), "[null]");

    // A part given alone is still freed, and a unique_ptr part too.
    TNodeCount Count;
    O.AddPair(std::make_unique<TCountedString>(u"n", Count), nullptr)
        ->AddPair(u"e", TJSONNodePtr<TJSONValue>());
    EXPECT_EQ(Count.Freed, 1);
    EXPECT_EQ(O.Size(), 2);
}

// The list replacement frees what it drops, keeps what it is given again, and
// never frees a node that is not owned; both the short lists (looked up one by
// one) and the long ones (looked up in a sorted copy).
struct TReplaceListCase {
    const char* Name;
    int Size;
};

void PrintTo(const TReplaceListCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class TJSONReplaceListTest : public testing::TestWithParam<TReplaceListCase> {};

TEST_P(TJSONReplaceListTest, ObjectFreesTheMembersItNoLongerHolds) {
    TNodeCount Count;
    std::vector<TJSONPair*> Old;
    {
        TJSONObject O;
        for (int I = 0; I < GetParam().Size; ++I)
            O.AddPair(u"m", new TCountedString(u"v", Count));
        Old = O.GetMemberList();
        TJSONPair* Lent = Old[1];
        Lent->SetOwned(false);
        // Keeps the first, drops the second (not owned) and the rest, adds one.
        O.SetMemberList({Old[0], nullptr, new TJSONPair(u"n", new TCountedString(u"w", Count))});
        EXPECT_EQ(O.Size(), 2);
        EXPECT_EQ(Count.Freed, GetParam().Size - 2);
        EXPECT_EQ(ByteForm(O), "{\"m\":\"v\",\"n\":\"w\"}");
        delete Lent;
        EXPECT_EQ(Count.Freed, GetParam().Size - 1);
        std::vector<std::unique_ptr<TJSONPair>> Fresh;
        Fresh.push_back(std::make_unique<TJSONPair>(u"x", new TCountedString(u"y", Count)));
        O.SetMemberList(std::move(Fresh));
        EXPECT_EQ(Count.Freed, GetParam().Size + 1);
        EXPECT_EQ(ByteForm(O), "{\"x\":\"y\"}");
    }
    EXPECT_EQ(Count.Freed, Count.Made);
}

TEST_P(TJSONReplaceListTest, ArrayFreesTheElementsItNoLongerHolds) {
    TNodeCount Count;
    {
        TJSONArray A;
        for (int I = 0; I < GetParam().Size; ++I)
            A.AddElement(new TCountedString(u"e", Count));
        std::vector<TJSONValue*> Old = A.GetElements();
        std::vector<TJSONValue*> Kept(Old.rbegin(), Old.rbegin() + 2); // the last two, reversed
        A.SetElements(Kept);
        EXPECT_EQ(A.Size(), 2);
        EXPECT_EQ(Count.Freed, GetParam().Size - 2);
        std::vector<std::unique_ptr<TJSONValue>> Fresh;
        Fresh.push_back(std::make_unique<TCountedString>(u"f", Count));
        A.SetElements(std::move(Fresh));
        EXPECT_EQ(Count.Freed, GetParam().Size);
        A.SetElements(std::vector<TJSONValue*>());
        EXPECT_EQ(A.Size(), 0);
    }
    EXPECT_EQ(Count.Freed, Count.Made);
}

INSTANTIATE_TEST_SUITE_P(Sizes, TJSONReplaceListTest,
                         testing::Values(TReplaceListCase{"Short", 5},
                                         TReplaceListCase{"Long", 40}),
                         test::TCaseName{});

// Every operation that is handed nodes, run with its first, second, ...
// allocation failing: whether it completes or raises std::bad_alloc, every
// node made is freed exactly once by the end of the case.
struct TOutOfMemoryCase {
    const char* Name;
    std::function<void(TNodeCount&)> Run;
};

void PrintTo(const TOutOfMemoryCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class TJSONOutOfMemoryTest : public testing::TestWithParam<TOutOfMemoryCase> {};

TEST_P(TJSONOutOfMemoryTest, FreesEveryNodeHandedOverWhicheverAllocationFails) {
    TNodeCount Count;
    const int Failures = test::ForEachAllocationFailure(
        [&] {
            Count = TNodeCount();
            GetParam().Run(Count);
        },
        [&](bool Raised) {
            EXPECT_EQ(Count.Freed, Count.Made) << (Raised ? "after bad_alloc" : "completed");
        });
    EXPECT_GT(Failures, 0) << "the operation allocates nothing that could fail";
}

// Each node is made in a statement of its own and held until it is handed
// over, so that the test itself leaks nothing when a later allocation fails.
std::unique_ptr<TCountedString> Counted(const char16_t* Text, TNodeCount& C) {
    return std::make_unique<TCountedString>(Text, C);
}

const TOutOfMemoryCase OutOfMemoryCases[] = {
    {"PairFromNameAndValue",
     [](TNodeCount& C) {
         // The name is made by the pair, so it is long enough to need memory
         // of its own.
         const std::u16string Name(u"a name longer than any inline buffer");
         auto Value = Counted(u"v", C);
         TJSONPair P(Name, Value.release());
     }},
    {"PairFromTwoTexts",
     [](TNodeCount&) {
         const std::u16string Name(u"a name longer than any inline buffer");
         const std::u16string Value(u"a value as long as that");
         TJSONPair P(Name, Value);
     }},
    {"AddPairNameAndValue",
     [](TNodeCount& C) {
         TJSONObject O;
         const std::u16string Name(u"n");
         auto Value = Counted(u"v", C);
         O.AddPair(Name, Value.release());
     }},
    {"AddPairTwoParts",
     [](TNodeCount& C) {
         TJSONObject O;
         auto Name = Counted(u"n", C);
         auto Value = Counted(u"v", C);
         O.AddPair(Name.release(), Value.release());
     }},
    {"AddPairWhole",
     [](TNodeCount& C) {
         TJSONObject O;
         auto Name = Counted(u"n", C);
         auto Value = Counted(u"v", C);
         // The pair's memory is had before the parts move into it.
         std::unique_ptr<TJSONPair> Pair(new TJSONPair(Name.get(), Value.get()));
         Name.release();
         Value.release();
         O.AddPair(Pair.release());
     }},
    {"AddPairToLongObject",
     [](TNodeCount& C) {
         TJSONObject O;
         const std::u16string Name(u"n");
         for (int I = 0; I < 9; ++I) { // the member list grows more than once
             auto Value = Counted(u"v", C);
             O.AddPair(Name, Value.release());
         }
     }},
    {"AddElement",
     [](TNodeCount& C) {
         TJSONArray A;
         for (int I = 0; I < 9; ++I) {
             auto Element = Counted(u"e", C);
             A.AddElement(Element.release());
         }
     }},
    {"ArrayOfTwo",
     [](TNodeCount& C) {
         auto First = Counted(u"a", C);
         auto Second = Counted(u"b", C);
         TJSONArray A(First.release(), Second.release());
     }},
    {"ArrayOfTwoTexts",
     [](TNodeCount&) {
         const std::u16string First(u"a"), Second(u"b");
         TJSONArray A(First, Second);
     }},
    {"ReplaceMemberList",
     [](TNodeCount& C) {
         TJSONObject O;
         const std::u16string Name(u"n");
         for (int I = 0; I < 20; ++I) {
             auto Value = Counted(u"v", C);
             O.AddPair(Name, Value.release());
         }
         std::vector<TJSONPair*> Half(O.GetMemberList().begin(), O.GetMemberList().begin() + 10);
         O.SetMemberList(std::move(Half));
     }},
    {"ReplaceElementsWithUniquePtrs",
     [](TNodeCount& C) {
         TJSONArray A;
         A.AddElement(Counted(u"old", C));
         std::vector<std::unique_ptr<TJSONValue>> Fresh;
         Fresh.push_back(Counted(u"new", C));
         A.SetElements(std::move(Fresh));
     }},
    {"Clone",
     [](TNodeCount& C) {
         TJSONObject O;
         const std::u16string A(u"a"), B(u"b");
         O.AddPair(A, Counted(u"v", C));
         auto List = std::make_unique<TJSONArray>();
         List->Add(1);
         O.AddPair(B, std::move(List));
         std::unique_ptr<TJSONObject> Copy = O.Clone();
     }},
    // Parse trees hold no counted nodes; what they would leak the leak
    // sanitizer reports.
    {"Parse",
     [](TNodeCount&) {
         const std::vector<uint8_t> Text = Bytes("{\"a\":[1,\"two\",{\"b\":null}],\"c\":true}");
         std::unique_ptr<TJSONValue> V = TJSONObject::ParseJSONValue(Text, 0);
     }},
};

INSTANTIATE_TEST_SUITE_P(Operations, TJSONOutOfMemoryTest, testing::ValuesIn(OutOfMemoryCases),
                         test::TCaseName{});

TEST(TJSONCloneTest, CopiesDeeplyAndEveryCopyIsOwned) {
    std::unique_ptr<TJSONValue> Original = ParseBytes("{\"a\":[1,\"s\",{\"b\":null}],\"c\":true}");
    ASSERT_NE(Original, nullptr);
    auto* O = static_cast<TJSONObject*>(Original.get());
    O->Get(u"c")->JsonValue()->SetOwned(false);
    std::unique_ptr<TJSONValue> Copy = Original->Clone();
    EXPECT_EQ(ByteForm(*Copy), ByteForm(*Original));
    auto* C = static_cast<TJSONObject*>(Copy.get());
    EXPECT_TRUE(C->Get(u"c")->JsonValue()->Owned());
    EXPECT_NE(C->Get(u"a")->JsonValue(), O->Get(u"a")->JsonValue());
    static_cast<TJSONArray*>(O->Get(u"a")->JsonValue())->Add(2);
    EXPECT_EQ(ByteForm(*Copy), "{\"a\":[1,\"s\",{\"b\":null}],\"c\":true}");
    O->Get(u"c")->JsonValue()->SetOwned(true); // hand it back to its pair
    EXPECT_TRUE(TJSONString().Clone()->Null());
    EXPECT_EQ(TJSONNumber(u"1E+2").Clone()->ToString(), u"1E+2");
}

// --- The Parse instance operation ------------------------------------------

TEST(TJSONObjectParseTest, AnswersPositionsByItsConventions) {
    {
        TJSONObject O;
        EXPECT_EQ(O.Parse(Bytes("{\"a\":1}"), 0), 7);
        EXPECT_EQ(ByteForm(O), "{\"a\":1}");
    }
    {
        TJSONObject O;
        EXPECT_EQ(O.Parse(Bytes("xx{\"a\":1} yy"), 2), -10); // ends before the data does
        EXPECT_EQ(O.Size(), 1);
    }
    {
        TJSONObject O;
        EXPECT_EQ(O.Parse(Bytes("xx{\"a\":1}yy"), 2, 9), 9); // raw result, no end check
    }
    TJSONObject O;
    EXPECT_LE(O.Parse(Bytes("[1]"), 0), 0);
    EXPECT_LE(O.Parse(Bytes("{\"a\":}"), 0), 0);
    EXPECT_EQ(O.Parse(std::vector<uint8_t>(), 0), -1);
    EXPECT_EQ(O.Parse(Bytes("{}"), 2), -1);
    EXPECT_EQ(O.Parse(Bytes("{}"), -1), -1);
}

TEST(TJSONObjectParseTest, ReadsUtf8OnlyAfterAByteOrderMark) {
    TJSONObject Plain;
    EXPECT_GT(Plain.Parse(Bytes("{\"a\":\"\xC3\xA9\"}"), 0), 0);
    EXPECT_EQ(Plain.Get(u"a")->JsonValue()->Value(), (std::u16string{0xC3, 0xA9}));
    TJSONObject Marked;
    EXPECT_EQ(Marked.Parse(Bytes("\xEF\xBB\xBF{\"a\":\"\xC3\xA9\"}"), 0), 13);
    EXPECT_EQ(Marked.Get(u"a")->JsonValue()->Value(), std::u16string(1, char16_t(0xE9)));
}

} // namespace
