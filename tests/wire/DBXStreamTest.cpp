// The token codec: exact bytes of the writer, tokens of the reader, buffer
// discipline, and the bounds on what a peer sends.

#include "server/wire/DBXStream.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "data/DBXJSON.h"
#include "data/TStream.h"
#include "support/ExpectError.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using test::Bytes;
using test::Hex;
using test::Show;
using test::TBytes;
using test::TMemoryChannel;

struct TWriterFixture {
    TMemoryChannel Channel;
    TDBXJSonStreamWriter W;
    explicit TWriterFixture(int32_t Size = 32768) {
        W.SetWriteBufferSize(Size);
        W.SetDbxChannel(&Channel);
        W.Open();
    }
    TBytes Flushed() {
        W.Flush();
        return Channel.Written();
    }
};

struct TReaderFixture {
    TMemoryChannel Channel;
    TDBXJSonStreamReader R;
    explicit TReaderFixture(const TBytes& Input, int32_t Chunk = 0, int32_t Size = 32768) {
        Channel.Feed(Input);
        Channel.SetChunkSize(Chunk);
        R.SetReadBufferSize(Size);
        R.SetDbxChannel(&Channel);
        R.Open();
    }
    explicit TReaderFixture(std::string_view Text, int32_t Chunk = 0)
        : TReaderFixture(Bytes(Text), Chunk) {}
};

// --- Writer: strings ------------------------------------------------------

struct TStringCase {
    std::string Name;
    std::u16string Text;
    TBytes Expected;
};

class WriteStringTest : public ::testing::TestWithParam<TStringCase> {};

TEST_P(WriteStringTest, WritesOneBytePerUnitWithEscapes) {
    TWriterFixture F;
    F.W.WriteString(std::u16string_view(GetParam().Text));
    EXPECT_EQ(Show(F.Flushed()), Show(GetParam().Expected));
}

// The same text written near the end of the buffer takes the byte-by-byte
// path; it must give the same bytes across the full-buffer flush.
TEST_P(WriteStringTest, WritesTheSameBytesAcrossAFullBuffer) {
    TWriterFixture F(32);
    const TBytes Filler(30, 'x');
    F.W.WriteDataBytes(Filler.data(), 0, 30);
    F.W.WriteString(std::u16string_view(GetParam().Text));
    EXPECT_EQ(Show(F.Flushed()), Show(test::Concat({Filler, GetParam().Expected})));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, WriteStringTest,
    ::testing::Values(
        TStringCase{"AQuoteEAcuteEuroLineFeed", u"a\"\u00E9\u20AC\n",
                    Hex("22 61 5C 22 E9 5C 75 32 30 41 43 5C 6E 22")},
        TStringCase{"Empty", u"", Bytes("\"\"")},
        TStringCase{"ControlsWithShortEscapes", u"\b\t\n\f\r", Bytes("\"\\b\\t\\n\\f\\r\"")},
        TStringCase{"OtherControlsAsU", std::u16string{0x01, 0x1F, 0x0B},
                    Bytes("\"\\u0001\\u001F\\u000B\"")},
        TStringCase{"NulAsU", std::u16string(1, u'\0'), Bytes("\"\\u0000\"")},
        TStringCase{"BackslashAndSolidus", u"\\/", Bytes("\"\\\\/\"")},
        TStringCase{"DelAndLatin1AsBytes", std::u16string{0x7F, 0xA0, 0xFF}, Hex("22 7F A0 FF 22")},
        TStringCase{"AboveLatin1AsUpperHex", std::u16string{0x0100, 0xABCD},
                    Bytes("\"\\u0100\\uABCD\"")},
        TStringCase{"SurrogatePairAsTwoEscapes", std::u16string{0xD83D, 0xDE00},
                    Bytes("\"\\uD83D\\uDE00\"")}),
    test::TCaseName());

// --- Writer: numbers and fixed objects ------------------------------------

struct TNumberCase {
    std::string Name;
    int64_t Value;
    std::string Expected;
};

class WriteLongTest : public ::testing::TestWithParam<TNumberCase> {};

TEST_P(WriteLongTest, WritesExactDecimal) {
    TWriterFixture F;
    F.W.WriteLong(GetParam().Value);
    EXPECT_EQ(Show(F.Flushed()), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriteLongTest,
    ::testing::Values(TNumberCase{"Zero", 0, "0"}, TNumberCase{"MinusSeven", -7, "-7"},
                      TNumberCase{"Nine", 9, "9"}, TNumberCase{"Ten", 10, "10"},
                      TNumberCase{"Int32Min", INT32_MIN, "-2147483648"},
                      TNumberCase{"Int32Max", INT32_MAX, "2147483647"},
                      TNumberCase{"Int64Min", INT64_MIN, "-9223372036854775808"},
                      TNumberCase{"Int64Max", INT64_MAX, "9223372036854775807"}),
    test::TCaseName());

TEST(TDBXJSonStreamWriterTest, WritesInt32MinThroughWriteInt) {
    TWriterFixture F;
    F.W.WriteInt(INT32_MIN);
    EXPECT_EQ(Show(F.Flushed()), "-2147483648");
}

TEST(TDBXJSonStreamWriterTest, WritesTheFixedObjects) {
    TWriterFixture F;
    F.W.WriteResultObjectStart();
    F.W.WriteHandleObject(3);
    F.W.WriteValueSeparator();
    F.W.WriteFieldsObjectStart();
    F.W.WriteTableObjectStart();
    F.W.WriteColumnsObjectStart();
    F.W.WriteRowsObjectStart();
    F.W.WriteParametersObjectStart(2);
    F.W.WriteDataObjectStart();
    F.W.WriteParamsStart();
    F.W.WriteNull();
    F.W.WriteBoolean(true);
    F.W.WriteBoolean(false);
    F.W.WriteNamedString(u"k", u"v");
    F.W.WriteSpace();
    F.W.WriteNameSeparator();
    EXPECT_EQ(Show(F.Flushed()),
              "{\"result\":[{\"handle\":[3]},{\"fields\":[{\"table\":[{\"columns\":[{\"rows\":["
              "{\"parameters\":[2{\"data\":[\"params\":[nulltruefalse\"k\":\"v\" :");
}

TEST(TDBXJSonStreamWriterTest, FlushesVoidAndValueResultsAtOnce) {
    TWriterFixture F;
    F.W.WriteResultVoidObject();
    F.W.WriteResultObject(-12);
    ASSERT_EQ(F.Channel.Writes().size(), 2u);
    EXPECT_EQ(Show(F.Channel.Writes()[0]), "{\"result\":[]}");
    EXPECT_EQ(Show(F.Channel.Writes()[1]), "{\"result\":[-12]}");
}

TEST(TDBXJSonStreamWriterTest, ClosesTheErrorObjectWithOneBrace) {
    TWriterFixture F;
    F.W.WriteRpcError(u"Exception", 5, u"Remote error: x");
    EXPECT_EQ(Show(F.Flushed()),
              "{\"error\":{\"name\":\"Exception\",\"code\":5,\"message\":\"Remote error: x\"}");
}

TEST(TDBXJSonStreamWriterTest, WritesTheCallbackRequestWithItsByteCount) {
    TWriterFixture F;
    TJSONObject Broadcast;
    auto* Args = new TJSONArray();
    Args->Add(u"reset");
    Args->Add(int32_t(1));
    Broadcast.AddPair(u"broadcast", Args);
    F.W.WriteCallback(4, 1, Broadcast);
    ASSERT_EQ(F.Channel.Writes().size(), 1u);
    EXPECT_EQ(Show(F.Channel.Written()), "{\"callback\":[31,[4,1,{\"broadcast\":[\"reset\",1]}]]}");
}

TEST(TDBXJSonStreamWriterTest, CalculatesTheRowBufferSize) {
    EXPECT_EQ(TWriterFixture(32768).W.CalcRowBufferSize(), 30720);
    EXPECT_EQ(TWriterFixture(2048).W.CalcRowBufferSize(), 0);
    EXPECT_EQ(TWriterFixture(1000).W.CalcRowBufferSize(), 1000);
}

// --- Writer: buffer discipline --------------------------------------------

struct TSplitCase {
    std::string Name;
    int32_t Bytes;
    std::vector<size_t> Writes;
};

class WriterBufferTest : public ::testing::TestWithParam<TSplitCase> {};

// A reply longer than the buffer leaves in full buffers of exactly 32768
// bytes, then the rest on Flush; never a write of its own before that.
TEST_P(WriterBufferTest, SendsFullBuffersThenTheRest) {
    for (int32_t Piece : {1, 1000, 1 << 30}) {
        TWriterFixture F;
        TBytes Data(static_cast<size_t>(GetParam().Bytes));
        for (size_t I = 0; I < Data.size(); ++I)
            Data[I] = static_cast<uint8_t>(I * 7);
        for (int32_t At = 0; At < GetParam().Bytes; At += Piece)
            F.W.WriteDataBytes(Data.data(), At, std::min(Piece, GetParam().Bytes - At));
        F.W.Flush();
        std::vector<size_t> Sizes;
        for (const TBytes& W : F.Channel.Writes())
            Sizes.push_back(W.size());
        EXPECT_EQ(Sizes, GetParam().Writes) << "pieces of " << Piece;
        EXPECT_EQ(F.Channel.Written(), Data);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, WriterBufferTest,
                         ::testing::Values(TSplitCase{"Forty000", 40000, {32768, 7232}},
                                           TSplitCase{"ExactlyOneBuffer", 32768, {32768}},
                                           TSplitCase{"OneMore", 32769, {32768, 1}},
                                           TSplitCase{"ThreeBuffers", 98304, {32768, 32768, 32768}},
                                           TSplitCase{"Nothing", 0, {}}),
                         test::TCaseName());

// --- Writer: streaming chunk ----------------------------------------------

TEST(TDBXJSonStreamWriterTest, WritesAShortStreamAsTheLastChunkWithANineByteCount) {
    TWriterFixture F;
    TMemoryStream S(Bytes("0123456789"));
    EXPECT_TRUE(F.W.WriteDataObject(S));
    ASSERT_EQ(F.Channel.Writes().size(), 1u);
    EXPECT_EQ(Show(F.Channel.Written()), "{\"data\":[-10      ,0123456789]}");
}

TEST(TDBXJSonStreamWriterTest, WritesAnExhaustedStreamWithCountZero) {
    TWriterFixture F;
    TMemoryStream S(Bytes("ab"));
    S.SetPosition(2);
    EXPECT_TRUE(F.W.WriteDataObject(S));
    EXPECT_EQ(Show(F.Channel.Written()), "{\"data\":[0        ,]}");
}

// A long stream inside a result: every chunk fits the buffer whole, counts are
// positive until the last, the chunks put together are the stream.
TEST(TDBXJSonStreamWriterTest, SplitsALongStreamIntoChunksThatFitTheBuffer) {
    TBytes Value(100000);
    for (size_t I = 0; I < Value.size(); ++I)
        Value[I] = static_cast<uint8_t>(I % 251);
    TMemoryStream S(Value);
    TBytes Joined;
    bool Done = false;
    int Chunks = 0;
    while (!Done) {
        TWriterFixture F;
        F.W.WriteResultObjectStart();
        Done = F.W.WriteDataObject(S);
        F.W.WriteArrayEnd();
        F.W.WriteObjectEnd();
        F.W.Flush();
        ASSERT_EQ(F.Channel.Writes().size(), 2u) << "the chunk flushes, then the result's end";
        const TBytes& Chunk = F.Channel.Writes()[0];
        ASSERT_LE(Chunk.size(), 32768u);
        const std::string Head(Chunk.begin(), Chunk.begin() + 30);
        ASSERT_EQ(Head.substr(0, 20), "{\"result\":[{\"data\":[");
        const std::string Count = Head.substr(20, 9);
        EXPECT_EQ(Head[29], ',');
        const long N = std::stol(Count);
        EXPECT_EQ(N < 0, Done) << Count;
        ASSERT_EQ(static_cast<size_t>(std::labs(N)), Chunk.size() - 30 - 2);
        Joined.insert(Joined.end(), Chunk.begin() + 30, Chunk.end() - 2);
        ASSERT_LT(++Chunks, 10);
    }
    EXPECT_EQ(Joined, Value);
    EXPECT_EQ(Chunks, 4);
}

// --- Writer: reply rollback -----------------------------------------------

TEST(TDBXJSonStreamWriterTest, RollsBackAReplyThatHasNotLeft) {
    TWriterFixture F;
    F.W.BeginReply();
    F.W.WriteResultObjectStart();
    F.W.WriteString(std::u16string_view(u"partial"));
    EXPECT_TRUE(F.W.RollbackReply());
    F.W.WriteResultVoidObject();
    EXPECT_EQ(Show(F.Channel.Written()), "{\"result\":[]}");
}

TEST(TDBXJSonStreamWriterTest, RefusesToRollBackAReplyPartlySent) {
    TWriterFixture F(64);
    F.W.BeginReply();
    const TBytes Data(100, 'x');
    F.W.WriteDataBytes(Data.data(), 0, 100);
    EXPECT_FALSE(F.W.RollbackReply());
    EXPECT_TRUE(F.W.RollbackReply()) << "no reply is open any more";
}

// --- Reader: strings and tokens -------------------------------------------

TEST(TDBXJSonStreamReaderTest, ReadsLatin1BytesAndUEscapesAsCodeUnits) {
    TReaderFixture F(Hex("22 E9 5C 75 30 30 65 39 22"));
    EXPECT_EQ(F.R.ReadString(), std::u16string(u"\u00E9\u00E9"));
}

struct TReadStringCase {
    std::string Name;
    std::string Input;
    std::u16string Expected;
};

class ReadStringTest : public ::testing::TestWithParam<TReadStringCase> {};

TEST_P(ReadStringTest, DecodesTheSameWhateverTheChunks) {
    for (int32_t Chunk : {0, 1, 2, 3}) {
        TReaderFixture F(GetParam().Input, Chunk);
        EXPECT_EQ(F.R.ReadString(), GetParam().Expected) << "chunk " << Chunk;
        EXPECT_EQ(F.R.Token(), TDBXTokens::String);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Escapes, ReadStringTest,
    ::testing::Values(
        TReadStringCase{"ShortEscapes", "\"\\b\\t\\n\\f\\r\\\"\\\\\\/\"", u"\b\t\n\f\r\"\\/"},
        TReadStringCase{"UpperAndLowerHex", "\"\\u00e9\\u00E9\\uABcd\"", u"\u00E9\u00E9\uABCD"},
        TReadStringCase{"UnknownEscapeStandsForItself", "\"\\q\\%\"", u"q%"},
        TReadStringCase{"WhiteSpaceBefore", " \t\r\n\"x\"", u"x"},
        TReadStringCase{"Empty", "\"\"", u""}),
    test::TCaseName());

TEST(TDBXJSonStreamReaderTest, ClassifiesKeysExactly) {
    TReaderFixture F("\"execute\" \"Execute\" \"executes\" \"more_blob\"");
    EXPECT_EQ(F.R.ReadStringCode(), TDBXStringCodes::Execute);
    EXPECT_EQ(F.R.StringValue(), u"null");
    EXPECT_EQ(F.R.ReadStringCode(), TDBXStringCodes::Unknown);
    EXPECT_EQ(F.R.ReadStringCode(), TDBXStringCodes::Unknown);
    EXPECT_EQ(F.R.ReadStringCode(), TDBXStringCodes::MoreBlob);
}

TEST(TDBXJSonStreamReaderTest, ReadsTokensAndLiterals) {
    TReaderFixture F(" { } [ ] true false null \"s\" : , ", 1);
    const int32_t Expected[] = {TDBXTokens::ObjectStart, TDBXTokens::ObjectEnd,
                                TDBXTokens::ArrayStart,  TDBXTokens::ArrayEnd,
                                TDBXTokens::True,        TDBXTokens::False,
                                TDBXTokens::Null,        TDBXTokens::StringStart};
    for (int32_t Kind : Expected)
        EXPECT_EQ(F.R.Next(), Kind);
    EXPECT_EQ(F.R.ReadString(), u"s");
    EXPECT_EQ(F.R.Next(), TDBXTokens::NameSeparator);
    EXPECT_EQ(F.R.Next(), TDBXTokens::ValueSeparator);
}

// A number or a null where a string belongs is an error, not a jump to the
// next quote (which may lie in a later value or the next request).
TEST(TDBXJSonStreamReaderTest, RefusesAStringThatDoesNotStartWithAQuote) {
    for (std::string_view Input : {"5,\"x\"", "null,\"x\"", "[\"x\"]"}) {
        TReaderFixture F(Input);
        test::ExpectDBXErrorCode(2, [&] { F.R.ReadString(); });
        EXPECT_FALSE(F.R.HasMoreBytes()) << Input;
    }
}

TEST(TDBXJSonStreamReaderTest, NamesTheKindsInTheWrongTokenError) {
    TReaderFixture F("[1, x]");
    F.R.Next();
    F.R.ReadInt();
    F.R.Next();
    test::ExpectDBXError(2, "Expected:  '}' found:  '-+0-9.' at position:  4\n[1, x",
                         [&] { F.R.Next(TDBXTokens::ObjectEnd); });
    EXPECT_FALSE(F.R.HasMoreBytes());
}

TEST(TDBXJSonStreamReaderTest, ReportsAWrongLiteralWithoutClosingQuote) {
    TReaderFixture F("[tru]");
    F.R.Next();
    test::ExpectDBXError(2, "Expected:  'true at position:  4\n[tru", [&] { F.R.Next(); });
    EXPECT_FALSE(F.R.HasMoreBytes());
}

// --- Reader: numbers -------------------------------------------------------

struct TIntCase {
    std::string Name;
    std::string Input; // what follows the "[" the number belongs to
    bool Long;
    bool Ok;
    int64_t Value;
};

class ReadNumberTest : public ::testing::TestWithParam<TIntCase> {};

TEST_P(ReadNumberTest, AcceptsTheTypeRangeAndNothingElse) {
    const TIntCase& C = GetParam();
    TReaderFixture F("[" + C.Input);
    F.R.Next(TDBXTokens::ArrayStart);
    if (C.Ok) {
        EXPECT_EQ(C.Long ? F.R.ReadLong() : F.R.ReadInt(), C.Value);
    } else {
        test::ExpectDBXErrorCode(2, [&] {
            if (C.Long)
                F.R.ReadLong();
            else
                F.R.ReadInt();
        });
        EXPECT_FALSE(F.R.HasMoreBytes()) << "the buffer is dropped";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Range, ReadNumberTest,
    ::testing::Values(TIntCase{"Zero", "0]", false, true, 0},
                      TIntCase{"EmptyArrayIsZero", "]", false, true, 0},
                      TIntCase{"PlusSign", "+5]", false, true, 5},
                      TIntCase{"Int32Min", "-2147483648]", false, true, INT32_MIN},
                      TIntCase{"Int32Max", "2147483647]", false, true, INT32_MAX},
                      TIntCase{"Int32MaxPlusOne", "2147483648]", false, false, 0},
                      TIntCase{"Int32MinMinusOne", "-2147483649]", false, false, 0},
                      TIntCase{"Int64Min", "-9223372036854775808]", true, true, INT64_MIN},
                      TIntCase{"Int64Max", "9223372036854775807]", true, true, INT64_MAX},
                      TIntCase{"Int64MaxPlusOne", "9223372036854775808]", true, false, 0},
                      TIntCase{"Uint64Wrap", "18446744073709551617]", true, false, 0},
                      TIntCase{"SpaceBefore", " 5]", false, false, 0},
                      TIntCase{"Fraction", "1.5]", false, false, 0},
                      TIntCase{"Exponent", "1e3]", true, false, 0},
                      TIntCase{"CapitalExponent", "1E3]", true, false, 0},
                      TIntCase{"SignInside", "5-3]", false, false, 0},
                      TIntCase{"SignOnly", "-]", false, false, 0},
                      TIntCase{"NoDigitsBeforeComma", ",1]", false, false, 0},
                      TIntCase{"ThirtyThreeZeros", std::string(33, '0') + "]", true, false, 0},
                      TIntCase{"ThousandDigits", std::string(1000, '9') + "]", true, false, 0}),
    test::TCaseName());

TEST(TDBXJSonStreamReaderTest, ReportsAMissingNumberWithItsPositionAndDump) {
    TReaderFixture F(Bytes("[ 5]\x01"));
    F.R.Next();
    test::ExpectDBXError(2, "Unexpected byte at position:  0\n[ 5]", [&] { F.R.ReadInt(); });
}

TEST(TDBXJSonStreamReaderTest, DumpsOtherBytesAsHashAndDecimal) {
    TReaderFixture F(Hex("5B 0A FF 78 22"));
    F.R.Next();
    test::ExpectDBXError(2, "Unexpected byte at position:  0\n[#10#255x", [&] { F.R.ReadInt(); });
}

// --- Reader: request start, params, skipping -------------------------------

struct TMethodCase {
    std::string Name;
    std::string Input;
    int32_t Code; // 0: error
};

class ReadMethodTest : public ::testing::TestWithParam<TMethodCase> {};

TEST_P(ReadMethodTest, ReadsOnlyMethodAsTheFirstKey) {
    TReaderFixture F(GetParam().Input);
    if (GetParam().Code != 0)
        EXPECT_EQ(F.R.ReadMethod(), GetParam().Code);
    else
        test::ExpectDBXErrorCode(2, [&] { F.R.ReadMethod(); });
}

INSTANTIATE_TEST_SUITE_P(
    Starts, ReadMethodTest,
    ::testing::Values(TMethodCase{"Connect", "{\"method\":\"connect\"", TDBXStringCodes::Connect},
                      TMethodCase{"WhiteSpace", " { \"method\" : \"next\"", TDBXStringCodes::Next},
                      TMethodCase{"UnknownName", "{\"method\":\"Connect\"",
                                  TDBXStringCodes::Unknown},
                      TMethodCase{"LongerKey", "{\"methodx\":\"connect\"", 0},
                      TMethodCase{"OtherKey", "{\"params\":[],\"method\":\"connect\"", 0},
                      TMethodCase{"NoColon", "{\"method\" \"connect\"", 0},
                      TMethodCase{"NameNotString", "{\"method\":5", 0}),
    test::TCaseName());

TEST(TDBXJSonStreamReaderTest, NamesMethodInTheLiteralError) {
    TReaderFixture F("{\"methodx\":1}");
    test::ExpectDBXError(2, "Expected:  '\"method\" at position:  8\n{\"methodx\":1",
                         [&] { F.R.ReadMethod(); });
}

TEST(TDBXJSonStreamReaderTest, ReadsParamsAndAnswersTheTokenAfterIt) {
    TReaderFixture F(",\"params\":[5] , \"other\":1 }");
    EXPECT_EQ(F.R.ReadParams(), TDBXTokens::ArrayStart);
    EXPECT_EQ(F.R.ReadInt(), 5);
    F.R.Next(TDBXTokens::ArrayEnd);
    EXPECT_EQ(F.R.ReadParams(), TDBXTokens::String) << "another key is consumed as a string";
    EXPECT_EQ(F.R.Next(), TDBXTokens::NameSeparator);
    F.R.ReadInt();
    EXPECT_EQ(F.R.ReadParams(), TDBXTokens::ObjectEnd);
}

// Escaped quotes inside a skipped string do not end it: the request after the
// skipped object is read intact.
TEST(TDBXJSonStreamReaderTest, SkipsStringsWithEscapedQuotes) {
    for (int32_t Chunk : {0, 1}) {
        TReaderFixture F("{\"a\":\"x\\\"}{\\\\\",\"b\":[\"}\"]} [7]", Chunk);
        F.R.Next(TDBXTokens::ObjectStart);
        F.R.SkipToEndOfObject();
        F.R.Next(TDBXTokens::ArrayStart);
        EXPECT_EQ(F.R.ReadInt(), 7) << "chunk " << Chunk;
    }
}

TEST(TDBXJSonStreamReaderTest, BoundsTheSkipDepth) {
    const std::string Deepest = std::string(511, '{') + std::string(512, '}') + "[3]";
    TReaderFixture Ok(Deepest);
    Ok.R.SkipToEndOfObject();
    Ok.R.Next(TDBXTokens::ArrayStart);
    EXPECT_EQ(Ok.R.ReadInt(), 3);

    TReaderFixture TooDeep(std::string(512, '{') + std::string(513, '}'));
    test::ExpectDBXErrorCode(2, [&] { TooDeep.R.SkipToEndOfObject(); });
    TReaderFixture Thousand(std::string(1000, '[') + std::string(1001, ']'));
    test::ExpectDBXErrorCode(2, [&] { Thousand.R.SkipToEndOfArray(); });
}

TEST(TDBXJSonStreamReaderTest, BoundsTheLengthOfAString) {
    const int32_t Max = WireLimits::MaxTokenUnits;
    TReaderFixture Ok("\"" + std::string(static_cast<size_t>(Max), 'a') + "\"");
    EXPECT_EQ(Ok.R.ReadString().size(), static_cast<size_t>(Max));
    TReaderFixture TooLong("\"" + std::string(static_cast<size_t>(Max) + 1, 'a') + "\"");
    test::ExpectDBXErrorCode(2, [&] { TooLong.R.ReadString(); });
    TReaderFixture Escaped("\"" + std::string(static_cast<size_t>(Max), 'a') + "\\n\"");
    test::ExpectDBXErrorCode(2, [&] { Escaped.R.ReadString(); });
}

// --- Reader: byte blocks, buffering, errors --------------------------------

TEST(TDBXJSonStreamReaderTest, CopiesRawBytesAcrossRefills) {
    TBytes Block(70000);
    for (size_t I = 0; I < Block.size(); ++I)
        Block[I] = static_cast<uint8_t>(I * 13);
    const TBytes Input = test::Concat({Bytes("[70000,"), Block, Bytes("]")});
    for (int32_t Chunk : {0, 1000, 32768}) {
        TReaderFixture F(Input, Chunk);
        F.R.Next(TDBXTokens::ArrayStart);
        ASSERT_EQ(F.R.ReadInt(), 70000);
        F.R.NextValueSeparator();
        TBytes Got(70000);
        F.R.ReadDataBytes(Got.data(), 0, 70000);
        EXPECT_EQ(Got, Block) << "chunk " << Chunk;
        EXPECT_EQ(F.R.Next(), TDBXTokens::ArrayEnd);
    }
}

TEST(TDBXJSonStreamReaderTest, ServesPipelinedBytesFromItsBuffer) {
    TReaderFixture F("[1][2]");
    F.R.Next();
    F.R.ReadInt();
    F.R.Next();
    EXPECT_TRUE(F.R.HasMoreBytes());
    EXPECT_EQ(F.Channel.ReadCount(), 1);
    F.R.Next();
    EXPECT_EQ(F.R.ReadInt(), 2);
    EXPECT_EQ(F.Channel.ReadCount(), 1);
}

TEST(TDBXJSonStreamReaderTest, RaisesReadErrorWhenTheChannelGivesNothing) {
    TReaderFixture F("[");
    F.R.Next();
    test::ExpectDBXError(1, "Read error", [&] { F.R.Next(); });
}

TEST(TDBXJSonStreamReaderTest, PassesChannelErrorsThrough) {
    TReaderFixture F("");
    F.Channel.SetRaiseWhenEmpty(true);
    test::ExpectDBXError(0, "Connection lost", [&] { F.R.Next(); });
    EXPECT_TRUE(F.R.GetConnectionLost());
}

TEST(TDBXJSonStreamReaderTest, RaisesThePeersErrorBody) {
    TReaderFixture F("{\"error\":{\"name\":\"E\",\"error\":{\"x\":{}},\"code\":17,"
                     "\"message\":\"bad \\u00e9\"}");
    F.R.Next(TDBXTokens::ObjectStart);
    ASSERT_EQ(F.R.ReadStringCode(), TDBXStringCodes::Error);
    test::ExpectDBXError(17, "bad \xC3\xA9", [&] { F.R.ReadErrorBody(); });
}

TEST(TDBXJSonStreamReaderTest, ReadsAnErrorBodyWithoutCodeAsCodeTwo) {
    TReaderFixture F("{\"error\":{\"name\":\"E\"}");
    F.R.Next(TDBXTokens::ObjectStart);
    F.R.ReadStringCode();
    test::ExpectDBXError(2, "unknown error", [&] { F.R.ReadErrorBody(); });
}

} // namespace
} // namespace kds
