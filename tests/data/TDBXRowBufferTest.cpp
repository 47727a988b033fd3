#include "data/TDBXRowBuffer.h"

#include <cstdlib>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "AllocationFailure.h"
#include "base/AsciiText.h"
#include "base/DBXError.h"
#include "data/DBXJSON.h"
#include "data/TStream.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

using namespace kds;

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& B) {
    std::string S;
    for (size_t I = 0; I < B.size(); ++I) {
        if (I)
            S += ' ';
        S += UpperHexDigits[B[I] >> 4];
        S += UpperHexDigits[B[I] & 15];
    }
    return S;
}

Bytes Written(const TDBXRowBuffer& Buffer) {
    return Bytes(Buffer.Data(), Buffer.Data() + Buffer.Size());
}

// Runs the rows of the tests in a fixed zone (two hours east of UTC), so
// timestamps do not depend on the machine.
class FixedZone {
public:
    explicit FixedZone(const char* Zone) {
        const char* Old = std::getenv("TZ");
        FHad = Old != nullptr;
        if (FHad)
            FOld = Old;
        setenv("TZ", Zone, 1);
        tzset();
    }
    ~FixedZone() {
        if (FHad)
            setenv("TZ", FOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool FHad = false;
    std::string FOld;
};

TSQLTimeStamp Stamp(int Y, int M, int D, int H, int N, int S, int Ms) {
    TSQLTimeStamp T;
    T.Year = static_cast<int16_t>(Y);
    T.Month = static_cast<uint16_t>(M);
    T.Day = static_cast<uint16_t>(D);
    T.Hour = static_cast<uint16_t>(H);
    T.Minute = static_cast<uint16_t>(N);
    T.Second = static_cast<uint16_t>(S);
    T.Fractions = static_cast<uint32_t>(Ms);
    return T;
}

// --- Encoding: one field written, its exact bytes -------------------------

struct EncodeCase {
    const char* Name;
    std::function<void(TDBXRowBuffer&)> Write;
    Bytes Expected;
};

void PrintTo(const EncodeCase& C, std::ostream* Os) {
    *Os << C.Name << " -> " << Hex(C.Expected);
}

std::u16string Repeat(char16_t C, size_t N) {
    return std::u16string(N, C);
}

Bytes Concat(Bytes A, const Bytes& B) {
    A.insert(A.end(), B.begin(), B.end());
    return A;
}

class FieldEncoding : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(FieldEncoding, WritesTheExactBytes) {
    FixedZone Zone("UTC0");
    TDBXRowBuffer Buffer;
    GetParam().Write(Buffer);
    EXPECT_EQ(Hex(Written(Buffer)), Hex(GetParam().Expected));
}

std::vector<uint8_t> Overflow;

INSTANTIATE_TEST_SUITE_P(
    RowFields, FieldEncoding,
    ::testing::Values(
        EncodeCase{"null", [](TDBXRowBuffer& B) { B.WriteNull(); }, {0xC0}},
        EncodeCase{"true", [](TDBXRowBuffer& B) { B.WriteBoolean(true); }, {0x60}},
        EncodeCase{"false", [](TDBXRowBuffer& B) { B.WriteBoolean(false); }, {0x20}},
        EncodeCase{"callback mark", [](TDBXRowBuffer& B) { B.WriteCallbackMark(); }, {0x02}},
        EncodeCase{"int 0", [](TDBXRowBuffer& B) { B.WriteInt64(0); }, {0x60}},
        EncodeCase{"int 5", [](TDBXRowBuffer& B) { B.WriteInt64(5); }, {0x61, 0x05}},
        EncodeCase{"int 300", [](TDBXRowBuffer& B) { B.WriteInt64(300); }, {0x62, 0x01, 0x2C}},
        EncodeCase{"int -1", [](TDBXRowBuffer& B) { B.WriteInt64(-1); }, {0x21, 0x01}},
        EncodeCase{"most negative int32",
                   [](TDBXRowBuffer& B) { B.WriteInt64(std::numeric_limits<int32_t>::min()); },
                   {0x24, 0x80, 0x00, 0x00, 0x00}},
        EncodeCase{"most negative int64",
                   [](TDBXRowBuffer& B) { B.WriteInt64(std::numeric_limits<int64_t>::min()); },
                   {0x28, 0x80, 0, 0, 0, 0, 0, 0, 0}},
        EncodeCase{"double 1.0", [](TDBXRowBuffer& B) { B.WriteDouble(1.0); }, {0x62, 0x3F, 0xF0}},
        EncodeCase{"double 0.0", [](TDBXRowBuffer& B) { B.WriteDouble(0.0); }, {0x60}},
        EncodeCase{"double -2.0", [](TDBXRowBuffer& B) { B.WriteDouble(-2.0); }, {0x21, 0xC0}},
        EncodeCase{"single 1.0", [](TDBXRowBuffer& B) { B.WriteSingle(1.0f); },
                   {0x62, 0x3F, 0x80}},
        EncodeCase{"date 2024-03-15",
                   [](TDBXRowBuffer& B) { B.WriteDate(EncodeDBXDate(2024, 3, 15)); },
                   {0x63, 0x0F, 0xD0, 0x6F}},
        EncodeCase{"time 12:00:00.250", [](TDBXRowBuffer& B) { B.WriteTime(43200250); },
                   {0x64, 0x02, 0x93, 0x2E, 0xFA}},
        EncodeCase{"timestamp without milliseconds",
                   [](TDBXRowBuffer& B) { B.WriteTimeStamp(Stamp(1970, 1, 1, 0, 0, 1, 0)); },
                   {0x23, 0x62, 0x03, 0xE8}},
        EncodeCase{"timestamp with 250 ms",
                   [](TDBXRowBuffer& B) { B.WriteTimeStamp(Stamp(1970, 1, 1, 0, 0, 1, 250)); },
                   {0x27, 0x62, 0x03, 0xE8, 0x0E, 0xE6, 0xB2, 0x80}},
        EncodeCase{"empty text", [](TDBXRowBuffer& B) { B.WriteWideString(u"", Overflow); },
                   {0x20}},
        EncodeCase{"text ab", [](TDBXRowBuffer& B) { B.WriteWideString(u"ab", Overflow); },
                   {0x22, 0x61, 0x62}},
        EncodeCase{"31 characters: one header byte",
                   [](TDBXRowBuffer& B) { B.WriteWideString(Repeat(u'x', 31), Overflow); },
                   Concat({0x3F}, Bytes(31, 0x78))},
        EncodeCase{"32 characters: three header bytes",
                   [](TDBXRowBuffer& B) { B.WriteWideString(Repeat(u'x', 32), Overflow); },
                   Concat({0x10, 0x00, 0x20}, Bytes(32, 0x78))},
        EncodeCase{"euro sign last of 20",
                   [](TDBXRowBuffer& B) {
                       B.WriteWideString(Repeat(u'x', 19) + u"\u20AC", Overflow);
                   },
                   Concat(Concat({0x36}, Bytes(19, 0x78)), {0xFF, 0x20, 0xAC})},
        EncodeCase{"code 255 switches to two bytes",
                   [](TDBXRowBuffer& B) { B.WriteWideString(u"a\u00FFb", Overflow); },
                   {0x26, 0x61, 0xFF, 0x00, 0xFF, 0x00, 0x62}},
        EncodeCase{"code 254 stays one byte",
                   [](TDBXRowBuffer& B) { B.WriteWideString(u"\u00FE", Overflow); },
                   {0x21, 0xFE}},
        EncodeCase{"two-byte text of 31 characters needs the long header",
                   [](TDBXRowBuffer& B) { B.WriteWideString(Repeat(u'\u0100', 31), Overflow); },
                   [] {
                       Bytes E = {0x10, 0x00, 63, 0xFF};
                       for (int I = 0; I < 31; ++I) {
                           E.push_back(0x01);
                           E.push_back(0x00);
                       }
                       return E;
                   }()},
        EncodeCase{"8-bit text", [](TDBXRowBuffer& B) { B.WriteAnsiString("Ab", Overflow); },
                   {0x22, 0x41, 0x62}},
        EncodeCase{"BCD as decimal text",
                   [](TDBXRowBuffer& B) {
                       TBcd V;
                       TBcd::TryParse("-12.50", '.', V);
                       B.WriteBcd(V);
                   },
                   {0x26, '-', '1', '2', '.', '5', '0'}},
        EncodeCase{"empty stream",
                   [](TDBXRowBuffer& B) {
                       TMemoryStream S;
                       B.WriteBytes(S);
                   },
                   {0x20}},
        EncodeCase{"stream of three bytes",
                   [](TDBXRowBuffer& B) {
                       TMemoryStream S(Bytes{1, 2, 0xFF});
                       B.WriteBytes(S);
                   },
                   {0x10, 0x00, 0x03, 0x01, 0x02, 0xFF}},
        EncodeCase{"JSON string reset",
                   [](TDBXRowBuffer& B) { B.WriteJSON(TJSONString(u"reset")); },
                   {0x40, 0, 0, 0, 7, '"', 'r', 'e', 's', 'e', 't', '"'}}),
    test::TCaseName{});

// --- Decoding what was written, and what peers send ------------------------

TEST(TDBXRowBufferTest, ReadsMostNegativeNumbersUnchanged) {
    TDBXRowBuffer B;
    const Bytes Row = {0x24, 0x80, 0, 0, 0, 0x64, 0x80, 0, 0, 0, 0x68, 0x80, 0, 0, 0, 0, 0, 0, 0};
    B.SetReadBytes(Row.data(), static_cast<int32_t>(Row.size()));
    int32_t A = 0, C = 0;
    int64_t D = 0;
    ASSERT_TRUE(B.ReadInt32(A));
    ASSERT_TRUE(B.ReadInt32(C));
    ASSERT_TRUE(B.ReadInt64(D));
    EXPECT_EQ(A, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(C, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(D, std::numeric_limits<int64_t>::min());
}

TEST(TDBXRowBufferTest, RoundTripsEveryScalarKindAndSkipsByOrdinal) {
    FixedZone Zone("ABC-2"); // two hours east of UTC
    TDBXRowBuffer B;
    std::vector<uint8_t> Rest;
    B.WriteInt64(-123456789012LL);
    B.WriteDouble(-0.1);
    B.WriteSingle(2.5f);
    B.WriteWideString(u"K\u00FCche \u20AC", Rest);
    B.WriteNull();
    B.WriteBoolean(true);
    B.WriteTimeStamp(Stamp(2024, 7, 1, 23, 30, 5, 7));
    B.WriteDate(EncodeDBXDate(1999, 12, 31));
    B.WriteJSON(TJSONString(u"reset"));
    B.WriteCallbackMark();
    TMemoryStream S(Bytes{9, 8, 7});
    B.WriteBytes(S);
    B.BeginRead();

    B.GoToField(3); // skip forward over integer, double, single
    std::u16string Text;
    ASSERT_TRUE(B.ReadWideString(Text));
    EXPECT_EQ(Text, u"K\u00FCche \u20AC");
    B.GoToField(6); // over null and Boolean
    TSQLTimeStamp T;
    ASSERT_TRUE(B.ReadTimeStamp(T));
    EXPECT_EQ(T, Stamp(2024, 7, 1, 23, 30, 5, 7));
    B.GoToField(0); // back to the row start
    int64_t I = 0;
    ASSERT_TRUE(B.ReadInt64(I));
    EXPECT_EQ(I, -123456789012LL);
    double D = 0;
    ASSERT_TRUE(B.ReadDouble(D));
    EXPECT_EQ(D, -0.1);
    float F = 0;
    ASSERT_TRUE(B.ReadSingle(F));
    EXPECT_EQ(F, 2.5f);
    B.GoToField(4);
    EXPECT_FALSE(B.ReadWideString(Text));
    EXPECT_TRUE(Text.empty());
    bool Flag = false;
    ASSERT_TRUE(B.ReadBoolean(Flag));
    EXPECT_TRUE(Flag);
    B.GoToField(7);
    TDBXDate Date = 0;
    ASSERT_TRUE(B.ReadDate(Date));
    EXPECT_EQ(Date, EncodeDBXDate(1999, 12, 31));
    std::unique_ptr<TJSONValue> Json;
    ASSERT_TRUE(B.ReadJSON(Json));
    EXPECT_EQ(Json->Value(), u"reset");
    EXPECT_TRUE(B.ReadCallbackMark());
    Bytes Got;
    ASSERT_TRUE(B.ReadBytes(Got));
    EXPECT_EQ(Got, (Bytes{9, 8, 7}));
    EXPECT_EQ(B.PeekHeader(), -1);
}

TEST(TDBXRowBufferTest, ConvertsLocalTimeToUtcAndBack) {
    FixedZone Zone("ABC-2");
    TDBXRowBuffer B;
    B.WriteTimeStamp(Stamp(1970, 1, 1, 2, 0, 1, 0)); // 00:00:01 UTC
    EXPECT_EQ(Hex(Written(B)), "23 62 03 E8");
    B.BeginRead();
    TSQLTimeStamp T;
    ASSERT_TRUE(B.ReadTimeStamp(T));
    EXPECT_EQ(T, Stamp(1970, 1, 1, 2, 0, 1, 0));
}

TEST(TDBXRowBufferTest, ReadsTimestampsBeforeNineteenSeventy) {
    FixedZone Zone("UTC0");
    TDBXRowBuffer B;
    B.WriteTimeStamp(Stamp(1899, 12, 30, 0, 0, 0, 500));
    B.BeginRead();
    TSQLTimeStamp T;
    ASSERT_TRUE(B.ReadTimeStamp(T));
    EXPECT_EQ(T, Stamp(1899, 12, 30, 0, 0, 0, 500));
}

TEST(TDBXRowBufferTest, ReadsZeroTerminatedTextAndTwoByteTail) {
    TDBXRowBuffer B;
    const Bytes Row = {0x00, 'a', 'b', 0x00, 0x25, 'x', 0xFF, 0x20, 0xAC, 'y'};
    // The second field's FF tail has an odd byte count: only the first is whole.
    B.SetReadBytes(Row.data(), 4);
    std::string Text;
    ASSERT_TRUE(B.ReadAnsiString(Text));
    EXPECT_EQ(Text, "ab");
    const Bytes Good = {0x24, 'x', 0xFF, 0x20, 0xAC};
    B.SetReadBytes(Good.data(), static_cast<int32_t>(Good.size()));
    std::u16string Wide;
    ASSERT_TRUE(B.ReadWideString(Wide));
    EXPECT_EQ(Wide, u"x\u20AC");
}

TEST(TDBXRowBufferTest, KeepsTheRestOfALongTextAsOverflow) {
    TDBXRowBuffer B;
    std::vector<uint8_t> Rest;
    const std::u16string Long(1030, u'z');
    EXPECT_TRUE(B.WriteWideString(Long, Rest));
    ASSERT_EQ(B.Size(), 3 + 1024);
    EXPECT_EQ(B.Data()[0], 0x50);
    EXPECT_EQ(B.Data()[1], 0x04);
    EXPECT_EQ(B.Data()[2], 0x00);
    EXPECT_EQ(Rest, Bytes(6, 'z'));
}

TEST(TDBXRowBufferTest, UsesTheFreeSpaceOfALargeBufferAsInlineLimit) {
    TDBXRowBuffer B;
    B.SetMinBufSize(30720);
    EXPECT_EQ(B.InlineLimit(), 30717);
    std::vector<uint8_t> Rest;
    EXPECT_FALSE(B.WriteWideString(std::u16string(5000, u'q'), Rest));
    EXPECT_EQ(B.Size(), 3 + 5000);
    B.SetMinBufSize(200000);
    EXPECT_EQ(B.InlineLimit(), 65535);
    B.SetMinBufSize(B.Size() + 1026); // just below offset + 1027
    EXPECT_EQ(B.InlineLimit(), 1024);
}

TEST(TDBXRowBufferTest, SendsAStreamLongerThanTheLimitAsContinued) {
    TDBXRowBuffer B;
    TMemoryStream S(Bytes(1500, 0xAB));
    EXPECT_TRUE(B.WriteBytes(S));
    EXPECT_EQ(B.Data()[0], 0x50);
    EXPECT_EQ(B.Size(), 3 + 1024);
    EXPECT_EQ(S.Position(), 1024);
}

// What a long-value source was asked, and the rest it hands back.
struct TRecordingSource : TDBXLongValueSource {
    struct TAsk {
        int32_t Ordinal;
        int32_t Row;
        int64_t KnownSize;
        Bytes Inline;
    };
    std::vector<TAsk> Asked;
    Bytes Rest;
    void FetchRest(TDBXRowBuffer& Row, int32_t Ordinal, int64_t KnownSize,
                   std::vector<uint8_t>& Held) override {
        Asked.push_back({Ordinal, Row.RowIndex(), KnownSize, Held});
        Held.insert(Held.end(), Rest.begin(), Rest.end());
    }
};

TEST(TDBXRowBufferTest, FetchesContinuedFieldsFromTheLongValueSource) {
    TRecordingSource Source;
    Source.Rest = {'c'};
    TDBXRowBuffer B;
    B.SetColumnCount(3);
    // Row 0: null, short text "ab" that continues, medium bytes that
    // continue; row 1: a blob header of 3 bytes, then two nulls.
    const Bytes Rows = {0xC0, 0x62, 'a',  'b',  0x50, 0x00, 0x01, 'x',
                        0x08, 0x00, 0x00, 0x00, 0x03, 0xC0, 0xC0};
    B.SetReadBytes(Rows.data(), static_cast<int32_t>(Rows.size()));
    B.GoToField(1);
    std::u16string Text;
    test::ExpectDBXError(0,
                         "The long value of field 1 continues beyond the row and cannot be fetched",
                         [&] { B.ReadWideString(Text); });
    B.SetLongValueSource(&Source);
    B.GoToField(1);
    ASSERT_TRUE(B.ReadWideString(Text));
    EXPECT_EQ(Text, u"abc");
    Bytes Blob;
    ASSERT_TRUE(B.ReadBytes(Blob));
    EXPECT_EQ(Blob, (Bytes{'x', 'c'}));
    ASSERT_TRUE(B.NextRow());
    B.GoToField(0);
    Source.Rest = {'x', 'y', 'z'};
    std::string Ansi;
    ASSERT_TRUE(B.ReadAnsiString(Ansi));
    EXPECT_EQ(Ansi, "xyz");
    ASSERT_EQ(Source.Asked.size(), 3u);
    EXPECT_EQ(Source.Asked[0].Ordinal, 1);
    EXPECT_EQ(Source.Asked[0].Row, 0);
    EXPECT_EQ(Source.Asked[0].KnownSize, -1);
    EXPECT_EQ(Source.Asked[0].Inline, (Bytes{'a', 'b'}));
    EXPECT_EQ(Source.Asked[1].Ordinal, 2);
    EXPECT_EQ(Source.Asked[2].Row, 1);
    EXPECT_EQ(Source.Asked[2].KnownSize, 3);
    EXPECT_TRUE(Source.Asked[2].Inline.empty());
}

TEST(TDBXRowBufferTest, CountsAHundredThousandSmallRowsWithFewAllocations) {
    // A peer's batch may hold a million one-byte rows: the row-start table
    // must grow by doubling, not by a fixed step (thousands of copies).
    TDBXRowBuffer B;
    B.SetColumnCount(1);
    B.BeginRow();
    B.WriteInt64(1); // the buffer's own first allocations
    bool Fired = false;
    {
        test::TAllocationFailure Failure(200);
        for (int32_t I = 1; I < 100000; ++I) {
            B.BeginRow();
            B.WriteInt64(I % 2);
        }
        Fired = Failure.Fired();
    }
    EXPECT_FALSE(Fired) << "more than 200 allocations for 100000 rows";
    ASSERT_EQ(B.RowCount(), 100000);
    EXPECT_EQ(B.RowStart(99999) - B.RowStart(99998), 1);
}

TEST(TDBXRowBufferTest, CountsTheRowsOfABatchAndGoesBackToThem) {
    TDBXRowBuffer B;
    B.SetColumnCount(2);
    for (int32_t I = 0; I < 3; ++I) {
        B.BeginRow();
        EXPECT_EQ(B.RowIndex(), I);
        B.WriteInt64(I * 300);
        std::vector<uint8_t> Overflow;
        B.WriteAnsiString(std::string(static_cast<size_t>(I), 'r'), Overflow);
    }
    EXPECT_EQ(Hex(Written(B)), "60 20 62 01 2C 21 72 62 02 58 22 72 72");
    ASSERT_EQ(B.RowCount(), 3);
    EXPECT_EQ(B.RowStart(0), 0);
    EXPECT_EQ(B.RowStart(1), 2);
    EXPECT_EQ(B.RowStart(2), 7);
    test::ExpectDBXErrorCode(8, [&] { B.RowStart(3); });
    // Read back in any order: the counted rows stay counted.
    int64_t V = 0;
    std::string Text;
    ASSERT_TRUE(B.GoToRow(2));
    B.GoToField(1);
    ASSERT_TRUE(B.ReadAnsiString(Text));
    EXPECT_EQ(Text, "rr");
    ASSERT_TRUE(B.GoToRow(0));
    ASSERT_TRUE(B.ReadInt64(V));
    EXPECT_EQ(V, 0);
    ASSERT_TRUE(B.GoToRow(1));
    ASSERT_TRUE(B.ReadInt64(V));
    EXPECT_EQ(V, 300);
    EXPECT_FALSE(B.GoToRow(3));
    EXPECT_EQ(B.RowCount(), 3);

    // Rows that arrive are counted as NextRow reaches them.
    const Bytes Rows = {0x61, 7, 0x20, 0x61, 8, 0x21, 'q'};
    B.SetReadBytes(Rows.data(), static_cast<int32_t>(Rows.size()));
    EXPECT_EQ(B.RowCount(), 1);
    ASSERT_TRUE(B.NextRow());
    EXPECT_EQ(B.RowCount(), 2);
    EXPECT_FALSE(B.NextRow());
    EXPECT_EQ(B.RowCount(), 2);
    ASSERT_TRUE(B.GoToRow(1));
    B.GoToField(1);
    ASSERT_TRUE(B.ReadAnsiString(Text));
    EXPECT_EQ(Text, "q");
    B.SetReadBytes(Rows.data(), 0);
    EXPECT_EQ(B.RowCount(), 0);
    EXPECT_FALSE(B.GoToRow(0));
}

TEST(TDBXRowBufferTest, GivesOutABlobHandleForEveryLongValue) {
    TDBXRowBuffer B;
    std::vector<uint8_t> Overflow;
    EXPECT_EQ(B.BlobId(), 0);
    B.WriteWideString(u"fits", Overflow);
    EXPECT_EQ(B.BlobId(), 0);
    EXPECT_TRUE(B.WriteWideString(std::u16string(1100, u'l'), Overflow));
    EXPECT_EQ(B.BlobId(), 1);
    TMemoryStream Long(Bytes(2000, 1));
    EXPECT_TRUE(B.WriteBytes(Long));
    EXPECT_EQ(B.BlobId(), 2);
    TMemoryStream Short(Bytes(10, 1));
    EXPECT_FALSE(B.WriteBytes(Short));
    EXPECT_EQ(B.BlobId(), 2);
    EXPECT_EQ(B.NextBlobId(), 3);
    // Starting over keeps handing out new handles.
    B.StartOver();
    EXPECT_EQ(B.NextBlobId(), 4);
}

TEST(TDBXRowBufferTest, AdvancesRowByRowWithAColumnCount) {
    TDBXRowBuffer B;
    B.SetColumnCount(2);
    const Bytes Rows = {0x61, 1, 0x22, 'h', 'i', 0x61, 2, 0xC0};
    B.SetReadBytes(Rows.data(), static_cast<int32_t>(Rows.size()));
    const int64_t First = B.Generation();
    B.GoToField(0);
    int32_t V = 0;
    ASSERT_TRUE(B.ReadInt32(V));
    EXPECT_EQ(V, 1);
    ASSERT_TRUE(B.NextRow()); // skips the unread text
    EXPECT_NE(B.Generation(), First);
    B.GoToField(1);
    std::string Text;
    EXPECT_FALSE(B.ReadAnsiString(Text));
    B.GoToField(0);
    ASSERT_TRUE(B.ReadInt32(V));
    EXPECT_EQ(V, 2);
    EXPECT_FALSE(B.NextRow());
    EXPECT_THROW(B.GoToField(2), TDBXError);
}

// --- Bad input: a clear TDBXError, never a read outside the row ------------

enum class Kind { Int32, Int8, Wide, Json, BinaryBcd, Bytes, Boolean, TimeStamp, Date, Callback };

struct BadCase {
    const char* Name;
    Kind FieldKind;
    Bytes Row;
    int32_t Code;
    std::string Message;
};

void PrintTo(const BadCase& C, std::ostream* Os) {
    *Os << C.Name << ": " << Hex(C.Row);
}

class BadRowInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadRowInput, RaisesTheErrorAndStaysInBounds) {
    const BadCase& C = GetParam();
    TDBXRowBuffer B;
    // An exact-size heap copy, so that the sanitizer sees any overread.
    B.SetReadBytes(C.Row.data(), static_cast<int32_t>(C.Row.size()));
    const auto Read = [&] {
        switch (C.FieldKind) {
        case Kind::Int32: {
            int32_t V;
            B.ReadInt32(V);
            break;
        }
        case Kind::Int8: {
            int8_t V;
            B.ReadInt8(V);
            break;
        }
        case Kind::Wide: {
            std::u16string V;
            B.ReadWideString(V);
            break;
        }
        case Kind::Json: {
            std::unique_ptr<TJSONValue> V;
            B.ReadJSON(V);
            break;
        }
        case Kind::BinaryBcd: {
            TBcd V;
            B.ReadBcd(V, true);
            break;
        }
        case Kind::Bytes: {
            Bytes V;
            B.ReadBytes(V);
            break;
        }
        case Kind::Boolean: {
            bool V;
            B.ReadBoolean(V);
            break;
        }
        case Kind::TimeStamp: {
            TSQLTimeStamp V;
            B.ReadTimeStamp(V);
            break;
        }
        case Kind::Date: {
            TDBXDate V;
            B.ReadDate(V);
            break;
        }
        case Kind::Callback:
            B.ReadCallbackMark();
            break;
        }
    };
    test::ExpectDBXError(C.Code, C.Message, Read);
}

INSTANTIATE_TEST_SUITE_P(
    RowFields, BadRowInput,
    ::testing::Values(
        BadCase{"empty row", Kind::Int32, {}, 0, "Field 0 runs past the end of the row data"},
        BadCase{"integer cut short",
                Kind::Int32,
                {0x62, 0x01},
                0,
                "Field 0 runs past the end of the row data"},
        BadCase{"integer with a text header", Kind::Int32, {0x10, 0, 1, 5}, 0, "Unexpected header"},
        BadCase{"integer beyond 32 bits",
                Kind::Int32,
                {0x65, 1, 0, 0, 0, 0},
                0,
                "Integer field 0 is out of range for TDBXTypes.INT32"},
        BadCase{"integer beyond 64 bits",
                Kind::Int32,
                {0x69, 1, 0, 0, 0, 0, 0, 0, 0, 0},
                0,
                "Integer field 0 does not fit 64 bits"},
        BadCase{"int8 out of range",
                Kind::Int8,
                {0x62, 0x01, 0x00},
                0,
                "Integer field 0 is out of range for TDBXTypes.INT8"},
        BadCase{"text header of no kind", Kind::Wide, {0x01}, 0, "Unexpected header"},
        BadCase{"medium text past the end",
                Kind::Wide,
                {0x10, 0xFF, 0xFF, 'a'},
                0,
                "Field 0 runs past the end of the row data"},
        BadCase{"medium text header cut",
                Kind::Wide,
                {0x10, 0x00},
                0,
                "Field 0 runs past the end of the row data"},
        BadCase{"text ends inside a two-byte character",
                Kind::Wide,
                {0x22, 0xFF, 0x00},
                0,
                "Text field 0 ends inside a two-byte character"},
        BadCase{"zero-terminated text without terminator",
                Kind::Wide,
                {0x00, 'a'},
                0,
                "Field 0 runs past the end of the row data"},
        BadCase{"JSON with a text header",
                Kind::Json,
                {0x22, 'a', 'b'},
                0,
                "Invalid JSON header byte encountered"},
        BadCase{"JSON block that does not parse",
                Kind::Json,
                {0x40, 0, 0, 0, 2, '{', '{'},
                0,
                "JSON byte stream cannot be parsed correctly into a JSON value"},
        BadCase{"JSON block with malformed UTF-8",
                Kind::Json,
                {0x40, 0, 0, 0, 3, '"', 0x80, '"'},
                0,
                "JSON byte stream cannot be parsed correctly into a JSON value"},
        BadCase{"JSON length past the end",
                Kind::Json,
                {0x40, 0xFF, 0xFF, 0xFF, 0xFF, '1'},
                0,
                "Field 0 runs past the end of the row data"},
        BadCase{"binary BCD beyond 64 bits",
                Kind::BinaryBcd,
                {0x6A, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9},
                14,
                "BCD to big"},
        BadCase{
            "bytes with a JSON header", Kind::Bytes, {0x40, 0, 0, 0, 0}, 0, "Unexpected header"},
        BadCase{"Boolean with a payload", Kind::Boolean, {0x61, 0x01}, 0, "Unexpected header"},
        BadCase{"timestamp with a stray tail",
                Kind::TimeStamp,
                {0x24, 0x61, 0x01, 0x00, 0x00},
                0,
                "Timestamp field 0 is malformed"},
        BadCase{"timestamp far beyond year 9999",
                Kind::TimeStamp,
                {0x29, 0x68, 0x3F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                0,
                "Timestamp field 0 is outside the years 1 to 9999"},
        BadCase{"date with month 13",
                Kind::Date,
                {0x63, 0x0F, 0xD1, 0xAF},
                0,
                "Date field 0 holds no valid date: 1036719"},
        BadCase{"callback field of another kind",
                Kind::Callback,
                {0x60},
                0,
                "Invalid callback header byte encountered"}),
    test::TCaseName{});

TEST(TDBXRowBufferTest, RejectsAnOrdinalBeyondTheRow) {
    TDBXRowBuffer B;
    const Bytes Row = {0x22, 'a', 'b'};
    B.SetReadBytes(Row.data(), 3);
    EXPECT_THROW(B.GoToField(-1), TDBXError);
    test::ExpectDBXError(0, "Field 1 runs past the end of the row data", [&] { B.GoToField(2); });
}

TEST(TDBXRowBufferTest, SkipsEveryHeaderKindByItsLength) {
    TDBXRowBuffer B;
    const Bytes Row = {0xC0,                            // null
                       0x23, 1,    2,    3,             // short
                       0x02,                            // callback mark
                       0x50, 0x00, 0x02, 'x', 'y',      // medium continued
                       0x40, 0,    0,    0,   1,   '1', // JSON block
                       0x08, 0,    0,    1,   0,        // blob header
                       0x09, 0,    0,    0,   0,   0x02,
                       'p',  'q',        // bit 3 form: 6 + low five bits of byte 6
                       0x00, 'z',  0x00, // zero-terminated
                       0x61, 42};
    B.SetReadBytes(Row.data(), static_cast<int32_t>(Row.size()));
    B.GoToField(8);
    int32_t V = 0;
    ASSERT_TRUE(B.ReadInt32(V));
    EXPECT_EQ(V, 42);
}

TEST(TDBXRowBufferTest, ReadsBinaryBcdWithScale) {
    TDBXRowBuffer B;
    const Bytes Row = {0x23, 0x02, 0x04, 0xD2}; // -12.34
    B.SetReadBytes(Row.data(), 4);
    TBcd V;
    ASSERT_TRUE(B.ReadBcd(V, true));
    EXPECT_EQ(V.ToString('.'), "-12.34");
}

TEST(TDBXRowBufferTest, RejectsAMillisecondPartAbove999) {
    TDBXRowBuffer B;
    test::ExpectDBXErrorCode(TDBXErrorCodes::InvalidTime,
                             [&] { B.WriteTimeStamp(Stamp(2024, 1, 1, 0, 0, 0, 5000)); });
}

// --- Dates and times out of range are refused on write ---------------------

// A field the reader would not give back as written (shifted by the C
// library, or refused) raises TDBXError 6 and leaves the row as it was; the
// valid edges are written and read back unchanged.
struct DateTimeWriteCase {
    const char* Name;
    std::function<void(TDBXRowBuffer&)> Write;
    // Reads the field back and checks it; empty for the refused cases.
    std::function<void(TDBXRowBuffer&)> ReadBack;
    std::string Message; // of the refusal
};

void PrintTo(const DateTimeWriteCase& C, std::ostream* Os) {
    *Os << C.Name;
}

TSQLTimeStampOffset OffsetStamp(int Y, int M, int D, int H, int N, int S, int Ms, int ZH, int ZM) {
    const TSQLTimeStamp T = Stamp(Y, M, D, H, N, S, Ms);
    TSQLTimeStampOffset V;
    V.Year = T.Year;
    V.Month = T.Month;
    V.Day = T.Day;
    V.Hour = T.Hour;
    V.Minute = T.Minute;
    V.Second = T.Second;
    V.Fractions = T.Fractions;
    V.TimeZoneHour = static_cast<int16_t>(ZH);
    V.TimeZoneMinute = static_cast<int16_t>(ZM);
    return V;
}

DateTimeWriteCase RefusedStamp(const char* Name, TSQLTimeStamp T, std::string Message) {
    return {Name, [T](TDBXRowBuffer& B) { B.WriteTimeStamp(T); }, nullptr, std::move(Message)};
}

DateTimeWriteCase KeptStamp(const char* Name, TSQLTimeStamp T) {
    return {Name, [T](TDBXRowBuffer& B) { B.WriteTimeStamp(T); },
            [T](TDBXRowBuffer& B) {
                TSQLTimeStamp Got;
                ASSERT_TRUE(B.ReadTimeStamp(Got));
                EXPECT_EQ(Got, T);
            },
            ""};
}

DateTimeWriteCase RefusedDate(const char* Name, TDBXDate D, std::string Message) {
    return {Name, [D](TDBXRowBuffer& B) { B.WriteDate(D); }, nullptr, std::move(Message)};
}

DateTimeWriteCase KeptDate(const char* Name, TDBXDate D) {
    return {Name, [D](TDBXRowBuffer& B) { B.WriteDate(D); },
            [D](TDBXRowBuffer& B) {
                TDBXDate Got = 0;
                ASSERT_TRUE(B.ReadDate(Got));
                EXPECT_EQ(Got, D);
            },
            ""};
}

DateTimeWriteCase RefusedTime(const char* Name, TDBXTime T, std::string Message) {
    return {Name, [T](TDBXRowBuffer& B) { B.WriteTime(T); }, nullptr, std::move(Message)};
}

DateTimeWriteCase KeptTime(const char* Name, TDBXTime T) {
    return {Name, [T](TDBXRowBuffer& B) { B.WriteTime(T); },
            [T](TDBXRowBuffer& B) {
                TDBXTime Got = 0;
                ASSERT_TRUE(B.ReadTime(Got));
                EXPECT_EQ(Got, T);
            },
            ""};
}

DateTimeWriteCase RefusedOffset(const char* Name, TSQLTimeStampOffset V, std::string Message) {
    return {Name, [V](TDBXRowBuffer& B) { B.WriteTimeStampOffset(V); }, nullptr,
            std::move(Message)};
}

DateTimeWriteCase KeptOffset(const char* Name, TSQLTimeStampOffset V) {
    return {Name, [V](TDBXRowBuffer& B) { B.WriteTimeStampOffset(V); },
            [V](TDBXRowBuffer& B) {
                TSQLTimeStampOffset Got;
                ASSERT_TRUE(B.ReadTimeStampOffset(Got));
                EXPECT_EQ(Got, V);
            },
            ""};
}

class DateTimeWrite : public ::testing::TestWithParam<DateTimeWriteCase> {};

TEST_P(DateTimeWrite, RefusesAFieldOutOfRangeAndKeepsTheEdges) {
    const DateTimeWriteCase& C = GetParam();
    FixedZone Zone("ABC-2"); // local time two hours east: the edges cross a UTC day
    TDBXRowBuffer B;
    B.WriteInt64(7); // a field before: the refused one must leave it alone
    const Bytes Before = Written(B);
    if (!C.ReadBack) {
        test::ExpectDBXError(TDBXErrorCodes::InvalidTime, C.Message, [&] { C.Write(B); });
        EXPECT_EQ(Hex(Written(B)), Hex(Before));
        return;
    }
    C.Write(B);
    B.BeginRead();
    B.GoToField(1);
    C.ReadBack(B);
    EXPECT_EQ(B.PeekHeader(), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DateTimeWrite,
    ::testing::Values(
        RefusedStamp("30 February", Stamp(2024, 2, 30, 12, 0, 0, 0),
                     "Timestamp date part 2024-02-30 is not a date of the years 1 to 9999"),
        RefusedStamp("29 February of a common year", Stamp(2023, 2, 29, 0, 0, 0, 0),
                     "Timestamp date part 2023-02-29 is not a date of the years 1 to 9999"),
        RefusedStamp("29 February 1900", Stamp(1900, 2, 29, 0, 0, 0, 0),
                     "Timestamp date part 1900-02-29 is not a date of the years 1 to 9999"),
        RefusedStamp("31 April", Stamp(2024, 4, 31, 0, 0, 0, 0),
                     "Timestamp date part 2024-04-31 is not a date of the years 1 to 9999"),
        RefusedStamp("day 0", Stamp(2024, 1, 0, 0, 0, 0, 0),
                     "Timestamp date part 2024-01-00 is not a date of the years 1 to 9999"),
        RefusedStamp("month 13", Stamp(2024, 13, 1, 0, 0, 0, 0),
                     "Timestamp date part 2024-13-01 is not a date of the years 1 to 9999"),
        RefusedStamp("month 0", Stamp(2024, 0, 1, 0, 0, 0, 0),
                     "Timestamp date part 2024-00-01 is not a date of the years 1 to 9999"),
        RefusedStamp("year 0", Stamp(0, 12, 31, 23, 0, 0, 0),
                     "Timestamp date part 0000-12-31 is not a date of the years 1 to 9999"),
        RefusedStamp("year 10000", Stamp(10000, 1, 1, 0, 0, 0, 0),
                     "Timestamp date part 10000-01-01 is not a date of the years 1 to 9999"),
        RefusedStamp("negative year", Stamp(-1, 6, 1, 0, 0, 0, 0),
                     "Timestamp date part -001-06-01 is not a date of the years 1 to 9999"),
        RefusedStamp("hour 24", Stamp(2024, 6, 1, 24, 0, 0, 0),
                     "Timestamp time part 24:00:00 is not a time of day"),
        RefusedStamp("minute 60", Stamp(2024, 6, 1, 12, 60, 0, 0),
                     "Timestamp time part 12:60:00 is not a time of day"),
        RefusedStamp("second 60", Stamp(2024, 6, 30, 23, 59, 60, 0),
                     "Timestamp time part 23:59:60 is not a time of day"),
        RefusedStamp("millisecond 1000", Stamp(2024, 6, 1, 0, 0, 0, 1000),
                     "Timestamp millisecond part 1000 is above 999"),
        KeptStamp("29 February of a leap year", Stamp(2024, 2, 29, 23, 59, 59, 999)),
        KeptStamp("29 February 2000", Stamp(2000, 2, 29, 0, 0, 0, 0)),
        KeptStamp("31 December 9999", Stamp(9999, 12, 31, 23, 59, 59, 999)),
        KeptStamp("1 January of year 1", Stamp(1, 1, 1, 0, 0, 0, 0)),
        RefusedDate("day number 0", 0, "Date day number 0 is outside the years 1 to 9999"),
        RefusedDate("day number negative", -5, "Date day number -5 is outside the years 1 to 9999"),
        RefusedDate("day after 31 December 9999", MaxDBXDate + 1,
                    "Date day number 3652060 is outside the years 1 to 9999"),
        KeptDate("date 1 January of year 1", EncodeDBXDate(1, 1, 1)),
        KeptDate("date 31 December 9999", EncodeDBXDate(9999, 12, 31)),
        KeptDate("date 29 February 2024", EncodeDBXDate(2024, 2, 29)),
        RefusedTime("time of hour 24", MSecsPerDay, "Time 86400000 ms is not a time of day"),
        RefusedTime("time negative", -1, "Time -1 ms is not a time of day"),
        KeptTime("time midnight", 0), KeptTime("time last millisecond", MSecsPerDay - 1),
        RefusedOffset("offset stamp 30 February", OffsetStamp(2024, 2, 30, 0, 0, 0, 0, 1, 0),
                      "Timestamp date part 2024-02-30 is not a date of the years 1 to 9999"),
        RefusedOffset("offset stamp hour 24", OffsetStamp(2024, 2, 1, 24, 0, 0, 0, 1, 0),
                      "Timestamp time part 24:00:00 is not a time of day"),
        RefusedOffset("offset stamp millisecond 1000", OffsetStamp(2024, 2, 1, 0, 0, 0, 1000, 1, 0),
                      "Timestamp millisecond part 1000 is above 999"),
        RefusedOffset("offset hour 15", OffsetStamp(2024, 2, 1, 0, 0, 0, 0, 15, 0),
                      "Timestamp offset part 15:0 is beyond 14:59 either way"),
        RefusedOffset("offset minute -60", OffsetStamp(2024, 2, 1, 0, 0, 0, 0, -1, -60),
                      "Timestamp offset part -1:-60 is beyond 14:59 either way"),
        KeptOffset("offset stamp 31 December 9999 at +14:59",
                   OffsetStamp(9999, 12, 31, 23, 59, 59, 999, 14, 59)),
        KeptOffset("offset stamp year 1 at -14:59", OffsetStamp(1, 1, 1, 0, 0, 0, 0, -14, -59))),
    test::TCaseName{});

TEST(TDBXRowBufferTest, LastDayNumberIsTheLastDayOfYear9999) {
    EXPECT_EQ(EncodeDBXDate(9999, 12, 31), MaxDBXDate);
    EXPECT_EQ(EncodeDBXDate(1, 1, 1), 1);
}

} // namespace
