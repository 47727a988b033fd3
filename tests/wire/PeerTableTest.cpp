// Tables and long values that a peer sends: the reader of a peer's table
// (its object, its first batch, the "next" and "reader_close" it sends
// back, the more_blob of a long value in its rows) and the source that puts
// a long value of the request row together from the peer's chunks; alone
// over a scripted channel, and over the whole stack.

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "LargestAllocation.h"
#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "server/wire/DBXJSonLongValueSource.h"
#include "server/wire/DBXJSonReader.h"
#include "server/wire/DBXStream.h"
#include "server/wire/WireLimits.h"
#include "support/ExpectError.h"
#include "support/MemoryChannel.h"
#include "support/TestNames.h"
#include "support/WireStack.h"

namespace kds {
namespace {

using test::Bytes;
using test::Concat;
using test::Hex;
using test::Show;
using test::TBytes;

// A token reader and writer over a scripted channel: what the peer sends is
// fed, what the server sends is captured.
class TPeerLink {
public:
    TPeerLink() {
        Reader.SetReadBufferSize(32768);
        Reader.SetDbxChannel(&Channel);
        Reader.SetDbxContext(&Context);
        Reader.Open();
        Writer.SetWriteBufferSize(32768);
        Writer.SetDbxChannel(&Channel);
        Writer.Open();
    }
    // Reads up to and including the "[" of {"table":[ fed first.
    void EnterTable() {
        Reader.Next(TDBXTokens::ObjectStart);
        Reader.Next(TDBXTokens::StringStart);
        ASSERT_EQ(Reader.ReadStringCode(), TDBXStringCodes::Table);
        Reader.Next(TDBXTokens::NameSeparator);
        Reader.Next(TDBXTokens::ArrayStart);
    }
    std::unique_ptr<TDBXJSonReader> ReadTable(const TBytes& Element) {
        Channel.Feed(Element);
        EnterTable();
        return TDBXJSonReader::Read(&Context, Reader, Writer);
    }

    TDBXContext Context;
    test::TMemoryChannel Channel;
    TDBXJSonStreamReader Reader;
    TDBXJSonStreamWriter Writer;
};

TBytes Batch(int32_t Count, const TBytes& Rows) {
    return Concat({Bytes("{\"data\":[" + std::to_string(Count) + ","), Rows, Bytes("]}")});
}

// The second column leaves out its direction, which then reads as 0.
const std::string TwoColumns =
    "{\"columns\":[2,[\"Name\",26,0,0,0,256,1,0],[\"Count\",6,0,0,0,4,0]]}";
const std::string TwoColumnsOut =
    "{\"columns\":[2,[\"Name\",26,0,0,0,256,1,0],[\"Count\",6,0,0,0,4,0,0]]}";

TEST(TDBXJSonReaderTest, ReadsTheTableObjectAndItsFirstBatch) {
    TPeerLink Link;
    auto Table = Link.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[3,true,5,1,true]}," + TwoColumns + "]},"),
                Batch(-9, Hex("23 61 62 63 61 05 20 21 01"))}));
    ASSERT_EQ(Table->ColumnCount(), 2);
    EXPECT_EQ(Table->ValueType(0).Name(), u"Name");
    EXPECT_EQ(Table->ValueType(0).DataType(), 26);
    EXPECT_EQ(Table->ValueType(0).Size(), 256);
    EXPECT_EQ(Table->ValueType(0).Flags(), 1);
    EXPECT_EQ(Table->ValueType(1).Name(), u"Count");
    EXPECT_EQ(Table->ValueType(1).ParameterDirection(), 0); // left out: not set
    EXPECT_TRUE(Table->IsUpdateable());
    EXPECT_EQ(Table->PeerCommandHandle(), 3);
    EXPECT_EQ(Table->PeerRowHandle(), 5);
    EXPECT_EQ(Table->BcdFormat(), 1);
    EXPECT_TRUE(Table->LastBatchRead());
    test::ExpectDBXErrorCode(10, [&] { Table->Value(0); });
    ASSERT_TRUE(Table->Next());
    EXPECT_EQ(Table->Value(0).GetWideString(), u"abc");
    EXPECT_EQ(Table->Value(1).GetInt32(), 5);
    ASSERT_TRUE(Table->Next());
    EXPECT_EQ(Table->Value(0).GetWideString(), u"");
    EXPECT_EQ(Table->Value(1).GetInt32(), -1);
    EXPECT_FALSE(Table->Next());
    EXPECT_FALSE(Table->Next());
    test::ExpectDBXErrorCode(8, [&] { Table->ValueType(2); });
    EXPECT_EQ(Link.Channel.Written(), TBytes()) << "the last batch needs no next";
}

TEST(TDBXJSonReaderTest, TranslatesTheFlagsOfAnOldPeer) {
    TPeerLink Link;
    auto Table = Link.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[0,false]},{\"columns\":[3,[\"A\",6,0,0,0,4,75,1],["
                      "\"B\",6,0,0,0,4,0,1],[\"C\",6,0,0,0,4,8,1]]}]},"),
                Bytes("{\"data\":[0]}")}));
    EXPECT_EQ(Table->ValueType(0).Flags(), 128 + 2 + 4 + 1 + 8);
    EXPECT_EQ(Table->ValueType(1).Flags(), 128);
    EXPECT_EQ(Table->ValueType(2).Flags(), 128 + 1);
    EXPECT_EQ(Table->PeerRowHandle(), -1);
    EXPECT_FALSE(Table->Next());
}

TEST(TDBXJSonReaderTest, AsksThePeerForTheNextBatchesWhenTheRowsRunOut) {
    TPeerLink Link;
    auto Table = Link.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[3,false,5,1,true]}," + TwoColumns + "]},"),
                Batch(7, Hex("21 61 60 21 62 61 01"))}));
    // The answers wait in the channel: one bare, one in a result wrapper.
    Link.Channel.Feed(Concat({Batch(4, Hex("21 63 61 02")), Bytes("{\"result\":["),
                              Batch(-4, Hex("21 64 61 03")), Bytes("]}")}));
    std::string Names;
    while (Table->Next())
        Names += static_cast<char>(Table->Value(0).GetWideString()[0]);
    EXPECT_EQ(Names, "abcd");
    EXPECT_EQ(Table->Position(), 4);
    EXPECT_EQ(Link.Channel.WrittenText(), "{\"next\":[5,2,3]}{\"next\":[5,3,3]}");
}

struct TAnswerCase {
    std::string Name;
    std::string Answer;
    int32_t Code;
    std::string Text;
};

class NextAnswerTest : public ::testing::TestWithParam<TAnswerCase> {};

TEST_P(NextAnswerTest, AnAnswerThatIsNoBatchFailsTheWalk) {
    TPeerLink Link;
    auto Table = Link.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[3,false,5,1,true]}," + TwoColumns + "]},"),
                Batch(2, Hex("20 60"))}));
    Link.Channel.Feed(GetParam().Answer);
    ASSERT_TRUE(Table->Next());
    if (GetParam().Text.empty())
        test::ExpectDBXErrorCode(GetParam().Code, [&] { Table->Next(); });
    else
        test::ExpectDBXError(GetParam().Code, GetParam().Text, [&] { Table->Next(); });
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NextAnswerTest,
    ::testing::Values(
        TAnswerCase{"PeerError",
                    "{\"error\":{\"name\":\"TDBXError\",\"code\":17,\"message\":\"gone\"}}", 17,
                    "gone"},
        TAnswerCase{"ARequestInstead", "{\"method\":\"next\",\"params\":[1,0]}", 30,
                    "The peer answered a next request with something else than a batch"},
        TAnswerCase{"ABatchBeyondItsBound", "{\"data\":[-20000000,", 2, ""}),
    test::TCaseName());

TEST(TDBXJSonReaderTest, TellsThePeerWhenItIsClosedEarly) {
    TPeerLink Link;
    auto Table = Link.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[3,false,5,1,true]}," + TwoColumns + "]},"),
                Batch(2, Hex("20 60"))}));
    ASSERT_TRUE(Table->Next());
    Table->Close();
    Table->Close();
    EXPECT_FALSE(Table->Next());
    EXPECT_EQ(Link.Channel.WrittenText(), "{\"reader_close\":[5,3]}");

    // Once the last batch is in, or without a row handle, the peer has
    // nothing to close.
    TPeerLink Done;
    auto Read = Done.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[3,false,5,1,true]}," + TwoColumns + "]},"),
                Batch(-2, Hex("20 60"))}));
    Read->Close();
    EXPECT_EQ(Done.Channel.WrittenText(), "");
    TPeerLink Other;
    auto Anonymous =
        Other.ReadTable(Concat({Bytes("{\"table\":[{\"fields\":[3,false]}," + TwoColumns + "]},"),
                                Batch(2, Hex("20 60"))}));
    Anonymous->Close();
    EXPECT_EQ(Other.Channel.WrittenText(), "");
}

TEST(TDBXJSonReaderTest, FetchesALongValueOfItsRowsNamingTheRow) {
    TPeerLink Link;
    auto Table = Link.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[3,false,5,1,true]}," + TwoColumns + "]},"),
                Batch(4, Hex("20 60 20 60"))}));
    // The third row (the first of the next batch) has a text that goes on.
    Link.Channel.Feed(Concat(
        {Batch(-6, Hex("50 00 02 61 62 60")), Bytes("{\"result\":[{\"data\":[-2       ,cd]}]}")}));
    ASSERT_TRUE(Table->Next());
    ASSERT_TRUE(Table->Next());
    ASSERT_TRUE(Table->Next());
    EXPECT_EQ(Table->Value(0).GetWideString(), u"abcd");
    EXPECT_EQ(Link.Channel.WrittenText(), "{\"next\":[5,2,3]}{\"more_blob\":[3,1,2,0,5]}");
}

TEST(TDBXJSonReaderTest, AColumnOfAnUnknownTypeFailsOnlyWhenItsValueIsAskedFor) {
    TPeerLink Link;
    auto Table = Link.ReadTable(
        Concat({Bytes("{\"table\":[{\"fields\":[3,false,5,1,true]},{\"columns\":[1,[\"X\",99,0,0,"
                      "0,0,0,0]]}]},"),
                Batch(-1, Hex("C0"))}));
    ASSERT_TRUE(Table->Next());
    test::ExpectDBXErrorCode(3, [&] { Table->Value(0); });
}

struct THostileTable {
    std::string Name;
    std::string Element;
};

class HostileTableTest : public ::testing::TestWithParam<THostileTable> {};

TEST_P(HostileTableTest, FailsOnTheParseErrorPathWithinItsBound) {
    TPeerLink Link;
    Link.Channel.Feed(GetParam().Element);
    Link.EnterTable();
    test::TAllocationWatch Watch;
    test::ExpectDBXErrorCode(
        2, [&] { TDBXJSonReader::Read(&Link.Context, Link.Reader, Link.Writer); });
    EXPECT_LE(Watch.Largest(), size_t(1) << 20);
    EXPECT_FALSE(Link.Reader.HasMoreBytes()) << "the rest of the buffer is dropped";
}

INSTANTIATE_TEST_SUITE_P(
    Tables, HostileTableTest,
    ::testing::Values(
        THostileTable{"AbsurdColumnCount",
                      "{\"table\":[{\"fields\":[0,false]},{\"columns\":[2000000000,[\"A\"]]}]},"},
        THostileTable{"NegativeColumnCount",
                      "{\"table\":[{\"fields\":[0,false]},{\"columns\":[-1]}]},{\"data\":[0]}"},
        THostileTable{"FewerColumnsThanAnnounced",
                      "{\"table\":[{\"fields\":[0,false]},{\"columns\":[3,[\"A\",6,0,0,0,4,0]]}]},"
                      "{\"data\":[0]}"},
        THostileTable{"HugeBatch", "{\"table\":[{\"fields\":[0,false]},{\"columns\":[0]}]},{"
                                   "\"data\":[2000000000,"},
        THostileTable{"HugeLastBatch", "{\"table\":[{\"fields\":[0,false]},{\"columns\":[0]}]},{"
                                       "\"data\":[-2147483648,"},
        THostileTable{"NoFirstBatch", "{\"table\":[{\"fields\":[0,false]},{\"columns\":[0]}]},{"
                                      "\"table\":[]}"},
        THostileTable{"NotClosed", "{\"table\":[{\"fields\":[0,false]},{\"columns\":[0]}}"}),
    test::TCaseName());

// --- The long value of a request field ---------------------------------------------

class LongValueSourceTest : public ::testing::Test {
protected:
    LongValueSourceTest() { Source.SetCommandHandleSource(&Command); }

    // Fetches the rest of field Ordinal (its inline part Inline), with the
    // peer's answers fed first.
    std::string Fetch(const std::string& Answers, int32_t Ordinal, int64_t KnownSize,
                      const std::string& Inline = "") {
        Link.Channel.Feed(Answers);
        std::vector<uint8_t> Held(Inline.begin(), Inline.end());
        Source.FetchRest(Row, Ordinal, KnownSize, Held);
        return std::string(Held.begin(), Held.end());
    }

    TPeerLink Link;
    TDBXRowBuffer Row;
    int32_t Command = 7;
    TDBXJSonLongValueSource Source{&Link.Context, Link.Reader, Link.Writer};
};

TEST_F(LongValueSourceTest, PutsTheValueTogetherChunkByChunk) {
    EXPECT_EQ(Fetch("{\"result\":[{\"data\":[3        ,cde]}]}{\"data\":[-2,fg]}", 1, -1, "ab"),
              "abcdefg");
    EXPECT_EQ(Link.Channel.WrittenText(),
              "{\"more_blob\":[7,1,0,1,-1]}{\"more_blob\":[7,2,0,1,-1]}");
    EXPECT_FALSE(Link.Reader.HasMoreBytes());
}

TEST_F(LongValueSourceTest, AnExhaustedValueEndsWithACountOfZero) {
    EXPECT_EQ(Fetch("{\"result\":[{\"data\":[0        ,]}]}", 0, -1, "ab"), "ab");
    EXPECT_EQ(Fetch("{\"data\":[0]}", 0, -1, "xy"), "xy");
}

TEST_F(LongValueSourceTest, ABlobHeaderSizesTheValue) {
    Command = 2;
    Source.SetRowHandle(4);
    Source.SetRowOffset(10);
    EXPECT_EQ(Fetch("{\"data\":[2,ab]}{\"data\":[-1,c]}", 3, 3), "abc");
    EXPECT_EQ(Link.Channel.WrittenText(),
              "{\"more_blob\":[2,1,10,3,4]}{\"more_blob\":[2,2,10,3,4]}");
    // Announced as empty: nothing to ask for.
    Link.Channel.ClearWritten();
    EXPECT_EQ(Fetch("", 3, 0), "");
    EXPECT_EQ(Link.Channel.WrittenText(), "");
}

struct TBadLongValue {
    std::string Name;
    std::string Answers;
    int64_t KnownSize;
    int32_t Code;
    std::string Text; // empty: any text
    bool Asked;       // whether a more_blob left before the failure
};

class BadLongValueTest : public LongValueSourceTest,
                         public ::testing::WithParamInterface<TBadLongValue> {};

TEST_P(BadLongValueTest, FailsWithoutAllocatingWhatThePeerClaims) {
    test::TAllocationWatch Watch;
    try {
        Fetch(GetParam().Answers, 1, GetParam().KnownSize);
        ADD_FAILURE() << "no error";
    } catch (const TDBXError& E) {
        EXPECT_EQ(E.ErrorCode(), GetParam().Code);
        if (!GetParam().Text.empty()) {
            EXPECT_EQ(E.Message(), GetParam().Text);
        }
    }
    EXPECT_LE(Watch.Largest(), size_t(1) << 20);
    EXPECT_EQ(!Link.Channel.WrittenText().empty(), GetParam().Asked);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, BadLongValueTest,
    ::testing::Values(
        TBadLongValue{"FourGigabytesAnnounced", "", 0xFFFFFFFFLL, 30,
                      "The long value of field 1 announces 4294967295 bytes, more than the "
                      "67108864 a value may have",
                      false},
        TBadLongValue{"MoreThanAnnounced", "{\"data\":[-4,abcd]}", 3, 30, "", true},
        TBadLongValue{"LessThanAnnounced", "{\"data\":[-2,ab]}", 3, 30,
                      "The long value of field 1 ended after 2 of the 3 bytes its field announced",
                      true},
        TBadLongValue{"ChunkBeyondItsBound", "{\"data\":[-16777217,", -1, 2, "", true},
        TBadLongValue{"PeerError",
                      "{\"error\":{\"name\":\"TDBXError\",\"code\":9,\"message\":\"no blob\"}}", -1,
                      9, "no blob", true},
        // A peer that did not expect the request: its next request comes
        // instead, and the server does not wait for an answer.
        TBadLongValue{"NotAnAnswer", "{\"method\":\"execute\",\"params\":[]}", -1, 30,
                      "The peer answered a more_blob request with something else than a data "
                      "object",
                      true}),
    test::TCaseName());

// --- Over the whole stack ------------------------------------------------------------

TEST(PeerLongValueTest, AContinuedRequestFieldIsFetchedBeforeTheMethodReadsIt) {
    test::TWireStack S;
    S.Channel().Feed(Concat(
        {Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
               "\"T.Echo\"]},{\"data\":[5,"),
         Hex("50 00 02 61 62"), Bytes("]}]}"), Bytes("{\"result\":[{\"data\":[-3,cde]}]}")}));
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Fake().LastValue, u"abcde");
    EXPECT_EQ(Show(S.Channel().Written()),
              Show(Concat({Bytes("{\"more_blob\":[0,1,0,0,-1]}{\"result\":[{\"data\":[7,"),
                           Hex("C0 25 61 62 63 64 65"), Bytes("]}]}")})));
}

TEST(PeerLongValueTest, ABlobHeaderOfFourGigabytesGetsAnErrorReplyAndTheConnectionGoesOn) {
    test::TWireStack S;
    S.Channel().Feed(Concat(
        {Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
               "\"T.Echo\"]},{\"data\":[5,"),
         Hex("08 FF FF FF FF"), Bytes("]}]}")}));
    test::TAllocationWatch Watch;
    EXPECT_TRUE(S.Serve());
    EXPECT_LE(Watch.Largest(), size_t(1) << 20);
    EXPECT_EQ(S.Channel().WrittenText(),
              "{\"error\":{\"name\":\"TDBXError\",\"code\":30,\"message\":\"Remote error: The long "
              "value of field 0 announces 4294967295 bytes, more than the 67108864 a value may "
              "have\"}");
    S.Channel().ClearWritten();
    S.Channel().Feed("{\"method\":\"connect\",\"params\":[{}]}");
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), "{\"result\":[1,\"KDS\",2]}");
}

// A table element in an execute reaches the connection handler as a reader,
// with its first batch; the tables of one request share one bound.
TEST(PeerTableRequestTest, ATableElementArrivesAsAReaderWithItsFirstBatch) {
    test::TWireStack S;
    std::vector<std::string> Seen;
    S.Fake().OnExecute = [&](TDBXExecuteMessage& M) {
        ASSERT_EQ(M.FTables.size(), 1u);
        EXPECT_EQ(M.FTableCount, 1);
        TDBXReader& Table = *M.FTables[0];
        while (Table.Next())
            Seen.push_back(std::to_string(Table.Value(1).GetInt32()));
    };
    S.Channel().Feed(Concat(
        {Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
               "\"T.Tables\"]},{\"data\":[2,"),
         Hex("61 01"),
         Bytes("]},{\"table\":[{\"fields\":[0,false,1,1,true]}," + TwoColumns + "]},"),
         Batch(-6, Hex("20 61 07 20 61 08")), Bytes("]}")}));
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(Seen, (std::vector<std::string>{"7", "8"}));
    EXPECT_TRUE(S.Fake().LastHasParameters);
    EXPECT_EQ(S.Channel().WrittenText(), "{\"result\":[]}");
}

TEST(PeerTableRequestTest, AnAbsurdColumnCountGetsAnErrorReplyAndTheConnectionGoesOn) {
    test::TWireStack S;
    S.Channel().Feed("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS."
                     "ServerMethod\",\"T.Tables\"]},{\"table\":[{\"fields\":[0,false,1,1,true]},{"
                     "\"columns\":[2000000000,[\"A\",6,0,0,0,4,0,0]]}]},{\"data\":[0]}]}");
    test::TAllocationWatch Watch;
    EXPECT_TRUE(S.Serve());
    EXPECT_LE(Watch.Largest(), size_t(1) << 20);
    EXPECT_EQ(S.Channel().WrittenText().rfind("{\"error\":{\"name\":\"TDBXError\",\"code\":2,"
                                              "\"message\":\"Remote error: Column count "
                                              "2000000000 is outside 0..4096",
                                              0),
              0u);
    S.Channel().ClearWritten();
    S.Channel().Feed("{\"method\":\"connect\",\"params\":[{}]}");
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(S.Channel().WrittenText(), "{\"result\":[1,\"KDS\",2]}");
}

// A table the method sends back is streamed out again: its columns as the
// peer described them, its rows re-encoded, the rows it still had to fetch
// fetched on the way (before the reply starts).
TEST(PeerTableRequestTest, ATableSentBackStreamsItsRowsAgain) {
    std::unique_ptr<TDBXRow> Row;
    std::unique_ptr<TDBXParameterList> List;
    test::TWireStack S;
    Row = S.Fake().Output().CreateDbxRow();
    S.Fake().OnExecute = [&](TDBXExecuteMessage& M) {
        List = std::make_unique<TDBXParameterList>(nullptr, Row.get());
        List->SetCount(1);
        TDBXParameter& Result = List->Parameter(0);
        Result.SetName(u"ReturnParameter");
        Result.SetDataType(TDBXDataTypes::TableType);
        Result.SetParameterDirection(TDBXParameterDirections::ReturnParameter);
        Result.Value().SetDBXReader(M.FTables[0].release(), true);
        M.FParameters = List.get();
        M.FHasOutOrReturnParameters = true;
        M.FHasDBXTableReaderOutOrReturnParameter = true;
    };
    S.Channel().Feed(Concat(
        {Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
               "\"T.Back\"]},{\"data\":[2,"),
         Hex("61 01"),
         Bytes("]},{\"table\":[{\"fields\":[4,false,9,1,true]}," + TwoColumns + "]},"),
         Batch(7, Hex("21 61 60 21 62 61 01")), Bytes("]}"), Batch(-4, Hex("21 63 61 02"))}));
    EXPECT_TRUE(S.Serve());
    EXPECT_EQ(Show(S.Channel().Written()),
              Show(Concat({Bytes("{\"next\":[9,2,4]}{\"result\":[{\"data\":[2,"), Hex("61 01"),
                           Bytes("]},{\"table\":[{\"fields\":[0,false,1,1,true]}," + TwoColumnsOut +
                                 "]}]}{\"data\":[-11,"),
                           Hex("21 61 60 21 62 61 01 21 63 61 02"), Bytes("]}")})));
}

TEST(PeerTableRequestTest, TheTablesOfOneRequestShareTheColumnBound) {
    test::TWireStack S;
    std::string Columns = "{\"columns\":[4000";
    for (int32_t I = 0; I < 4000; ++I)
        Columns += ",[\"C\",6,0,0,0,4,0,0]";
    Columns += "]}";
    const std::string Table =
        "{\"table\":[{\"fields\":[0,false,1,1,true]}," + Columns + "]},{\"data\":[0]}";
    S.Channel().Feed("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS."
                     "ServerMethod\",\"T.Tables\"]}," +
                     Table + "," + Table + "]}");
    EXPECT_TRUE(S.Serve());
    const std::string Reply = S.Channel().WrittenText();
    EXPECT_EQ(
        Reply.rfind("{\"error\":{\"name\":\"TDBXError\",\"code\":2,\"message\":\"Remote error: "
                    "The tables of the request have 8000 columns, more than 4096",
                    0),
        0u)
        << Reply.substr(0, 300);
    EXPECT_EQ(S.Fake().Calls, (std::vector<std::string>{})) << "nothing was executed";
}

TEST(PeerTableRequestTest, ARequestWithMoreTablesThanParametersGetsAnErrorReply) {
    test::TWireStack S;
    const std::string Empty =
        ",{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[0]}]},{\"data\":[0]}";
    std::string Request = "{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS."
                          "ServerMethod\",\"T.Tables\"]}";
    for (int32_t I = 0; I <= WireLimits::MaxParameters; ++I)
        Request += Empty;
    S.Channel().Feed(Request + "]}");
    S.Serve();
    const std::string Reply = S.Channel().WrittenText();
    EXPECT_EQ(Reply.rfind("{\"error\":{\"name\":\"TDBXError\",\"code\":2,\"message\":\"Remote "
                          "error: More than 4096 tables in the request",
                          0),
              0u)
        << Reply.substr(0, 300);
    EXPECT_EQ(S.Fake().Calls, (std::vector<std::string>{})) << "nothing was executed";
}

} // namespace
} // namespace kds
