// Tables leaving the server: the table objects of an execute reply, the
// first batches behind the result, the batches "next" asks for, and what a
// value that fails to encode leaves on the wire. Over the whole stack with
// the fake connection handler, whose execute returns the tables a test
// hands it.

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "data/DSCommonTable.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXMemoryTable.h"
#include "data/TDBXParameter.h"
#include "data/TDBXTableReader.h"
#include "data/TDBXValue.h"
#include "support/MemoryChannel.h"
#include "support/TableReply.h"
#include "support/WireStack.h"

namespace kds {
namespace {

using test::Bytes;
using test::Concat;
using test::Hex;
using test::Show;
using test::TBytes;

constexpr int32_t Threshold = 32768 - 2048;

const std::string ClassTableObject =
    "{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[4,[\"PackageName\",26,0,0,0,256,0,"
    "0],[\"ClassName\",26,0,0,0,256,0,0],[\"RoleName\",26,0,0,0,256,0,0],[\"LifeCycle\",26,0,0,0,"
    "256,0,0]]}]}";

const std::string CommandCloseError =
    "{\"error\":{\"name\":\"TDBXError\",\"code\":4,\"message\":\"Remote error: Command closed or "
    "executed again\"}";

TBytes Execute() {
    return Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS.ServerMethod\","
                 "\"T.Table\"]}]}");
}

TBytes Next(int32_t RowHandle, int64_t Position, int32_t Command) {
    return Bytes("{\"method\":\"next\",\"params\":[" + std::to_string(RowHandle) + "," +
                 std::to_string(Position) + "," + std::to_string(Command) + "]}");
}

// Where the first batch starts: right after the result object.
size_t FirstBatchAt(const TBytes& Reply) {
    const size_t At = test::Find(Reply, "]}{\"data\":[");
    EXPECT_NE(At, std::string::npos) << Show(Reply);
    return At == std::string::npos ? Reply.size() : At + 2;
}

std::unique_ptr<TDBXValueType> Column(const std::u16string& Name, int32_t DataType) {
    auto Type = std::make_unique<TDBXValueType>();
    Type->SetName(Name);
    Type->SetDataType(DataType);
    return Type;
}

// A table of an integer "Id" and a text "Text" column, Rows rows of Text
// from MakeText(i).
template <typename F> std::unique_ptr<TDBXReader> IdTextTable(int32_t Rows, F MakeText) {
    std::vector<std::unique_ptr<TDBXValueType>> Columns;
    Columns.push_back(Column(u"Id", TDBXDataTypes::Int32Type));
    Columns.push_back(Column(u"Text", TDBXDataTypes::WideStringType));
    auto Table = std::make_unique<TDBXMemoryTable>(nullptr, u"IdText", std::move(Columns));
    for (int32_t I = 0; I < Rows; ++I) {
        Table->Insert();
        Table->Value(0).SetInt32(I);
        Table->Value(1).SetWideString(MakeText(I));
    }
    return std::make_unique<TDBXTableReader>(std::move(Table));
}

std::u16string FortyByteText(int32_t I) {
    std::u16string Text = u"row ";
    for (char C : std::to_string(I))
        Text += static_cast<char16_t>(C);
    Text.resize(36, u'.');
    return Text;
}

// The stack, and the parameter list its fake's execute answers with: a
// table for each reader a test queues, as out parameters and, last, the
// return parameter. The list is made before the stack and goes after it.
class TableStreamingTest : public ::testing::Test {
protected:
    TableStreamingTest() {
        Row = S.Fake().Output().CreateDbxRow();
        S.Fake().OnExecute = [this](TDBXExecuteMessage& M) {
            List = std::make_unique<TDBXParameterList>(nullptr, Row.get());
            const auto Count = static_cast<int32_t>(Queued.size());
            List->SetCount(Count);
            for (int32_t I = 0; I < Count; ++I) {
                TDBXParameter& P = List->Parameter(I);
                P.SetName(I + 1 == Count
                              ? u"ReturnParameter"
                              : u"Out" + std::u16string(1, static_cast<char16_t>(u'0' + I)));
                P.SetDataType(TDBXDataTypes::TableType);
                P.SetParameterDirection(I + 1 == Count ? TDBXParameterDirections::ReturnParameter
                                                       : TDBXParameterDirections::OutParameter);
                P.Value().SetDBXReader(Queued[static_cast<size_t>(I)].release(), true);
            }
            Queued.clear();
            M.FParameters = List.get();
            M.FHasOutOrReturnParameters = true;
            M.FHasDBXTableReaderOutOrReturnParameter = true;
        };
    }

    TBytes Send(const TBytes& Request) {
        S.Channel().ClearWritten();
        S.Channel().Feed(Request);
        S.Serve();
        return S.Channel().Written();
    }

    std::unique_ptr<TDBXRow> Row;
    std::unique_ptr<TDBXParameterList> List;
    std::vector<std::unique_ptr<TDBXReader>> Queued;
    test::TWireStack S;
};

TEST_F(TableStreamingTest, AnEmptyReaderEndsAtOnceWithTheEmptyDataObject) {
    Queued.push_back(TDSClassEntity().CreateReader());
    EXPECT_EQ(Show(Send(Execute())),
              Show(Concat({Bytes("{\"result\":[{\"data\":[2,"), Hex("61 01"),
                           Bytes("]}," + ClassTableObject + "]}{\"data\":[0]}")})));
    // The reader is at its end: nothing more to fetch.
    EXPECT_EQ(Show(Send(Next(1, 0, 0))), CommandCloseError);
}

TEST_F(TableStreamingTest, OneClassTableRowIsOneLastBatch) {
    TDSClassEntity Classes;
    Classes.Table().Insert();
    Classes.SetPackageName(u"");
    Classes.SetServerClassName(u"DSAdmin");
    Classes.SetRoleName(u"");
    Classes.SetLifeCycle(u"Session");
    Queued.push_back(Classes.CreateReader());
    EXPECT_EQ(
        Show(Send(Execute())),
        Show(Concat({Bytes("{\"result\":[{\"data\":[2,"), Hex("61 01"),
                     Bytes("]}," + ClassTableObject + "]}{\"data\":[-18,"),
                     Hex("20 27 44 53 41 64 6D 69 6E 20 27 53 65 73 73 69 6F 6E"), Bytes("]}")})));
}

TEST_F(TableStreamingTest, TwoThousandRowsComeInWholeRowsBatchByBatch) {
    Queued.push_back(IdTextTable(2000, FortyByteText));
    TBytes Reply = Send(Execute());
    size_t At = FirstBatchAt(Reply);
    std::vector<test::TBatch> Batches{test::ReadBatch(Reply, At)};
    EXPECT_EQ(At, Reply.size());
    int64_t Position = 0;
    int32_t Expected = 0;
    for (;;) {
        const test::TBatch& Batch = Batches.back();
        const test::TDecodedRows Rows = test::DecodeRows(Batch.Rows, "IT");
        ASSERT_FALSE(Rows.Rows.empty());
        int32_t BeforeLast = 0;
        for (size_t I = 0; I < Rows.Rows.size(); ++I) {
            EXPECT_EQ(Rows.Rows[I][0], std::to_string(Expected));
            std::u16string Text = FortyByteText(Expected);
            EXPECT_EQ(Rows.Rows[I][1], std::string(Text.begin(), Text.end()));
            ++Expected;
            if (I + 1 < Rows.Rows.size())
                BeforeLast += Rows.RowBytes[I];
        }
        // The row that crosses the threshold is the batch's last.
        EXPECT_LT(BeforeLast, Threshold);
        Position += static_cast<int64_t>(Rows.Rows.size());
        if (Batch.Count < 0)
            break;
        EXPECT_GE(Batch.Count, Threshold);
        ASSERT_LT(Batches.size(), 10u);
        Reply = Send(Next(1, Position, 0));
        At = 0;
        Batches.push_back(test::ReadBatch(Reply, At));
        EXPECT_EQ(At, Reply.size()); // no result wrapper, nothing else
    }
    EXPECT_EQ(Expected, 2000);
    EXPECT_GE(Batches.size(), 3u);
    for (size_t I = 0; I + 1 < Batches.size(); ++I)
        EXPECT_GT(Batches[I].Count, 0);
}

TEST_F(TableStreamingTest, EveryTableGetsItsHandleInTheRowAndItsBatchAfterTheResult) {
    Queued.push_back(IdTextTable(1, [](int32_t) { return u"out"; }));
    Queued.push_back(TDSClassEntity().CreateReader());
    const TBytes Reply = Send(Execute());
    const std::string IdTextObject =
        "{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[2,[\"Id\",6,0,0,0,0,0,0],["
        "\"Text\",26,0,0,0,0,0,0]]}]}";
    std::string Second = ClassTableObject;
    Second.replace(Second.find("[0,false,1,"), 11, "[0,false,2,");
    EXPECT_EQ(Show(Reply),
              Show(Concat({Bytes("{\"result\":[{\"data\":[4,"), Hex("61 01 61 02"),
                           Bytes("]}," + IdTextObject + "," + Second + "]}{\"data\":[-5,"),
                           Hex("60 23 6F 75 74"), Bytes("]},{\"data\":[0]}")})));
}

TEST_F(TableStreamingTest, NextForAHandleWithoutReaderIsAnErrorAndTheConnectionGoesOn) {
    EXPECT_EQ(Show(Send(Next(7, 0, 7))), CommandCloseError);
    Queued.push_back(IdTextTable(3000, FortyByteText));
    Send(Execute());
    EXPECT_EQ(Show(Send(Next(2, 0, 0))), CommandCloseError);
    // The real reader still streams.
    const TBytes Reply = Send(Next(1, 0, 0));
    size_t At = 0;
    EXPECT_GT(test::ReadBatch(Reply, At).Count, 0);
    EXPECT_TRUE(S.Serve());
}

// A value that cannot be encoded: a timestamp in a month that does not
// exist.
std::unique_ptr<TDBXReader> TableWithBadTimestampAt(int32_t BadRow, int32_t Rows) {
    std::vector<std::unique_ptr<TDBXValueType>> Columns;
    Columns.push_back(Column(u"Text", TDBXDataTypes::WideStringType));
    Columns.push_back(Column(u"When", TDBXDataTypes::TimeStampType));
    auto Table = std::make_unique<TDBXMemoryTable>(nullptr, u"Times", std::move(Columns));
    for (int32_t I = 0; I < Rows; ++I) {
        Table->Insert();
        Table->Value(0).SetWideString(FortyByteText(I));
        TSQLTimeStamp T;
        T.Year = 2024;
        T.Month = I == BadRow ? 13 : 1;
        T.Day = 1;
        Table->Value(1).SetTimeStamp(T);
    }
    return std::make_unique<TDBXTableReader>(std::move(Table));
}

const std::string BadTimestampError =
    "{\"error\":{\"name\":\"TDBXError\",\"code\":30,\"message\":\"Remote error: Timestamp date "
    "part 2024-13-01 is not a date of the years 1 to 9999\"}";

TEST_F(TableStreamingTest, AValueThatFailsInTheFirstBatchLeavesOnlyTheErrorReply) {
    Queued.push_back(TableWithBadTimestampAt(3, 10));
    EXPECT_EQ(Show(Send(Execute())), BadTimestampError);
    // The reply's tables are not streamed: their handles are gone.
    EXPECT_EQ(Show(Send(Next(1, 0, 0))), CommandCloseError);
    EXPECT_EQ(S.Fake().Readers.Count(), 0);
}

TEST_F(TableStreamingTest, AValueThatFailsInALaterBatchEndsTheReader) {
    Queued.push_back(TableWithBadTimestampAt(1500, 2000));
    TBytes Reply = Send(Execute());
    size_t At = FirstBatchAt(Reply);
    ASSERT_GT(test::ReadBatch(Reply, At).Count, 0);
    Reply = Send(Next(1, 0, 0));
    for (int32_t Round = 0; Round < 5 && Show(Reply) != BadTimestampError; ++Round) {
        At = 0;
        ASSERT_GT(test::ReadBatch(Reply, At).Count, 0) << Show(Reply);
        Reply = Send(Next(1, 0, 0));
    }
    EXPECT_EQ(Show(Reply), BadTimestampError);
    EXPECT_EQ(Show(Send(Next(1, 0, 0))), CommandCloseError);
}

// The last row exactly fills a batch: the end shows as the empty batch
// the next "next" gets.
TEST_F(TableStreamingTest, AReaderThatEndsOnAFullBatchEndsWithTheEmptyDataObject) {
    // Each row: 1 byte of Id 0 and a 3-byte header plus text; 30 rows of
    // 1024 bytes cross the threshold on the 30th.
    Queued.push_back(IdTextTable(30, [](int32_t) { return std::u16string(1020, u'x'); }));
    const TBytes Reply = Send(Execute());
    size_t At = FirstBatchAt(Reply);
    const test::TBatch First = test::ReadBatch(Reply, At);
    EXPECT_EQ(First.Count, 30 * 1024 + 29); // ids 1..29 take a byte more
    EXPECT_EQ(Show(Send(Next(1, 30, 0))), "{\"data\":[0]}");
    EXPECT_EQ(Show(Send(Next(1, 30, 0))), CommandCloseError);
}

} // namespace
} // namespace kds
