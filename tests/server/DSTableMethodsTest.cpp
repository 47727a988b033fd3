// The administrative tables and the registry changers, and the streaming of
// a command's readers and long values, through one connection's real
// protocol stack over an in-memory channel: what a terminal sends and gets,
// byte for byte where the bytes are fixed.

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "base/TextConvert.h"
#include "data/TDBXMemoryTable.h"
#include "data/TDBXTableReader.h"
#include "data/TDBXValue.h"
#include "server/DSMethodValues.h"
#include "server/DSServerMethodProvider.h"
#include "server/KDSServerContainerUnit.h"
#include "server/KDSServerMethodsUnit.h"
#include "support/MemoryChannel.h"
#include "support/TableReply.h"
#include "support/TestNames.h"

namespace kds {
namespace {

using test::Bytes;
using test::Concat;
using test::Hex;
using test::Show;
using test::TBytes;
using test::TextField;

const std::string Connect = "{\"method\":\"connect\",\"params\":[{}]}";

TBytes Execute(const std::string& Method, const TBytes& Row = {}, const TBytes& Tables = {}) {
    TBytes Request = Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,\"KDS."
                           "ServerMethod\",\"" +
                           Method + "\"]}");
    if (!Row.empty())
        Request = Concat(
            {Request, Bytes(",{\"data\":[" + std::to_string(Row.size()) + ","), Row, Bytes("]}")});
    if (!Tables.empty())
        Request = Concat({Request, Bytes(","), Tables});
    return Concat({Request, Bytes("]}")});
}

std::string CommandError(int32_t Code, const std::string& Text) {
    return "{\"error\":{\"name\":\"TDBXError\",\"code\":" + std::to_string(Code) +
           ",\"message\":\"Remote error: " + Text + "\"}";
}

// The reply of an execute whose result is one table: the table object's
// text and the first batch.
struct TTableReply {
    std::string Object;
    test::TBatch First;
};
TTableReply SplitTableReply(const TBytes& Reply) {
    TTableReply Out;
    const size_t Table = test::Find(Reply, "{\"table\":[");
    const size_t End = test::Find(Reply, "]}{\"data\":[");
    if (Table == std::string::npos || End == std::string::npos) {
        ADD_FAILURE() << "not a table reply: " << Show(Reply);
        return Out;
    }
    Out.Object = std::string(Reply.begin() + static_cast<std::ptrdiff_t>(Table),
                             Reply.begin() + static_cast<std::ptrdiff_t>(End));
    size_t At = End + 2;
    Out.First = test::ReadBatch(Reply, At);
    EXPECT_EQ(At, Reply.size()) << "one table, one batch";
    return Out;
}

// A table a terminal sends: text columns, all rows in one last batch.
TBytes PeerTable(const std::vector<std::string>& Columns,
                 const std::vector<std::vector<std::string>>& Rows) {
    std::string Object = "{\"table\":[{\"fields\":[-1,false,1,1,true]},{\"columns\":[" +
                         std::to_string(Columns.size());
    for (const std::string& Name : Columns)
        Object += ",[\"" + Name + "\",26,0,0,0,256,0,0]";
    Object += "]}]}";
    TBytes Encoded;
    for (const auto& Row : Rows)
        for (const std::string& Field : Row)
            Encoded = Concat({Encoded, TextField(Field)});
    const int32_t Count = -static_cast<int32_t>(Encoded.size());
    if (Count == 0)
        return Bytes(Object + ",{\"data\":[0]}");
    return Concat(
        {Bytes(Object + ",{\"data\":[" + std::to_string(Count) + ","), Encoded, Bytes("]}")});
}

// A request row of text fields.
TBytes TextRow(const std::vector<std::string>& Fields) {
    TBytes Row;
    for (const std::string& Field : Fields)
        Row = Concat({Row, TextField(Field)});
    return Row;
}

// --- The program's own server: its 49 methods --------------------------------------

class DSAdminTablesTest : public ::testing::Test {
protected:
    DSAdminTablesTest() { Stack.SendText(Connect); }

    TTableReply Table(const std::string& Method, const TBytes& Row = {}) {
        return SplitTableReply(Stack.Send(Execute(Method, Row)));
    }
    TDSServerMethodProvider& Provider() { return *Container.DSServer1().MethodProvider(); }

    TServerContainer1 Container{[] { return std::make_unique<test::TFakeTransport>(); }};
    test::TServerStack Stack{*Container.Transport()};
};

TEST_F(DSAdminTablesTest, GetServerMethodsAnswersFortyNineRowsInOneBatchByteForByte) {
    TBytes Rows;
    for (const std::string& Alias : test::RegisteredAliases()) {
        const size_t Point = Alias.find('.');
        Rows = Concat({Rows, TextField(Alias), TextField(Alias.substr(0, Point)),
                       TextField(Alias.substr(Point + 1)), TextField("")});
    }
    ASSERT_EQ(Rows.size(), 2871u);
    const TBytes Expected = Concat(
        {Bytes("{\"result\":[{\"data\":[2,"), Hex("61 01"),
         Bytes("]},{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[4,[\"MethodAlias\",26,"
               "0,0,0,256,0,0],[\"ServerClassName\",26,0,0,0,256,0,0],[\"MethodName\",26,0,0,0,"
               "256,0,0],[\"RoleName\",26,0,0,0,256,0,0]]}]}]}{\"data\":[-2871,"),
         Rows, Bytes("]}")});
    EXPECT_EQ(Show(Stack.Send(Execute("DSAdmin.GetServerMethods"))), Show(Expected));
}

TEST_F(DSAdminTablesTest, GetServerClassesListsTheRegisteredClasses) {
    const TTableReply Reply = Table("DSAdmin.GetServerClasses");
    EXPECT_EQ(Reply.Object.substr(0, 44), "{\"table\":[{\"fields\":[0,false,1,1,true]},{\"co");
    EXPECT_EQ(Reply.First.Count, -static_cast<int32_t>(Reply.First.Rows.size()));
    EXPECT_EQ(test::DecodeRows(Reply.First.Rows, "TTTT").Rows,
              (std::vector<std::vector<std::string>>{{"", "DSAdmin", "", "Session"},
                                                     {"", "DSMetadata", "", "Session"},
                                                     {"", "TServerMethods1", "", "Session"}}));
}

struct TProceduresCase {
    std::string Name;
    std::string Pattern;
    std::string Type;
    std::vector<std::string> Expected; // aliases; empty with Count: that many
    size_t Count;
};

class GetProceduresTest : public DSAdminTablesTest,
                          public ::testing::WithParamInterface<TProceduresCase> {};

TEST_P(GetProceduresTest, ListsTheMethodsThatPassBothFilters) {
    const TProceduresCase& C = GetParam();
    const TTableReply Reply = Table("DSMetadata.GetProcedures", TextRow({C.Pattern, C.Type}));
    EXPECT_EQ(Reply.Object,
              "{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[4,[\"CatalogName\",26,0,0,"
              "0,256,1,0],[\"SchemaName\",26,0,0,0,256,1,0],[\"ProcedureName\",26,0,0,0,256,1,0],"
              "[\"ProcedureType\",26,0,0,0,256,1,0]]}]}");
    const auto Rows = test::DecodeRows(Reply.First.Rows, "TTTT").Rows;
    std::vector<std::string> Names;
    for (const auto& Row : Rows) {
        EXPECT_EQ(Row[0], "");
        EXPECT_EQ(Row[1], "");
        const bool Changer =
            Row[2] == "DSAdmin.CreateServerClasses" || Row[2] == "DSAdmin.DropServerClasses" ||
            Row[2] == "DSAdmin.CreateServerMethods" || Row[2] == "DSAdmin.DropServerMethods";
        EXPECT_EQ(Row[3], Changer ? "PROCEDURE" : "FUNCTION") << Row[2];
        Names.push_back(Row[2]);
    }
    if (C.Expected.empty()) {
        EXPECT_EQ(Names.size(), C.Count);
    } else {
        EXPECT_EQ(Names, C.Expected);
    }
    if (Rows.empty()) {
        EXPECT_EQ(Reply.First.Count, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Filters, GetProceduresTest,
    ::testing::Values(TProceduresCase{"EveryProcedure",
                                      "%",
                                      "PROCEDURE",
                                      {"DSAdmin.CreateServerClasses", "DSAdmin.DropServerClasses",
                                       "DSAdmin.CreateServerMethods", "DSAdmin.DropServerMethods"},
                                      0},
                      TProceduresCase{"EveryFunction", "", "FUNCTION", {}, 45},
                      TProceduresCase{"EveryMethod", "%", "", {}, 49},
                      TProceduresCase{
                          "ContainsExactCase", "Echo", "any", {"TServerMethods1.EchoString"}, 0},
                      TProceduresCase{"OtherCaseFindsNothing", "echo", "", {}, 0}),
    test::TCaseName());

TEST_F(DSAdminTablesTest, GetDatabaseAnswersOneRowOfFourteenProperties) {
    const std::string Columns =
        "{\"columns\":[14,[\"QuoteChar\",26,0,0,0,16,0,0],[\"ProcedureQuoteChar\",26,0,0,0,16,0,0]"
        ",[\"MaxCommands\",6,0,0,0,0,0,0],[\"SupportsTransactions\",4,0,0,0,0,0,0],["
        "\"SupportsNestedTransactions\",4,0,0,0,0,0,0],[\"SupportsRowSetSize\",4,0,0,0,0,0,0],["
        "\"ProductVersion\",26,0,0,0,128,0,0],[\"ProductName\",26,0,0,0,128,0,0],[\"QuotePrefix\","
        "26,0,0,0,16,0,0],[\"QuoteSuffix\",26,0,0,0,16,0,0],[\"SupportsLowerCaseIdentifiers\",4,0,"
        "0,0,0,0,0],[\"SupportsUpperCaseIdentifiers\",4,0,0,0,0,0,0],[\"SupportsSPReturnCode\",4,0,"
        "0,0,0,0,0],[\"SupportsParameterMetadata\",4,0,0,0,0,0,0]]}";
    const TBytes Row =
        Hex("21 22 21 22 64 7F FF FF FF 20 20 20 24 32 30 30 38 23 4B 44 53 21 22 21 "
            "22 20 20 20 20");
    const TBytes Expected = Concat(
        {Bytes("{\"result\":[{\"data\":[2,"), Hex("61 01"),
         Bytes("]},{\"table\":[{\"fields\":[0,false,1,1,true]}," + Columns + "]}]}{\"data\":[-29,"),
         Row, Bytes("]}")});
    EXPECT_EQ(Show(Stack.Send(Execute("DSMetadata.GetDatabase"))), Show(Expected));
    // The metadata command type asks for the same (on handle 0 again: the
    // first command streamed all it had and went with the next request).
    TBytes ByType = Stack.Send(Bytes("{\"method\":\"execute\",\"params\":[{\"fields\":[-1,false,"
                                     "\"Dbx.MetaData\",\"GetDatabase\"]}]}"));
    EXPECT_EQ(Show(ByType), Show(Expected));
}

TEST_F(DSAdminTablesTest, GetProcedureParametersDescribesEveryParameterAndTheResult) {
    const TTableReply Reply =
        Table("DSMetadata.GetProcedureParameters", TextRow({"TServerMethods1.EchoString"}));
    size_t Hidden = 0;
    for (size_t At = Reply.Object.find(",64,0]"); At != std::string::npos;
         At = Reply.Object.find(",64,0]", At + 1))
        ++Hidden;
    EXPECT_EQ(Hidden, 5u);
    EXPECT_EQ(Reply.Object.rfind("{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[15,"
                                 "[\"CatalogName\",26,0,0,0,256,1,0],",
                                 0),
              0u);
    EXPECT_NE(Reply.Object.find("[\"Precision\",6,0,0,0,4,1,0]"), std::string::npos);
    EXPECT_NE(Reply.Object.find("[\"IsNullable\",4,0,0,0,1,1,0]"), std::string::npos);
    EXPECT_EQ(test::DecodeRows(Reply.First.Rows, "TTTTTTIIIBIBBBB").Rows,
              (std::vector<std::vector<std::string>>{
                  {"", "", "TServerMethods1.EchoString", "Value", "IN", "WideString", "-1", "-1",
                   "0", "false", "26", "false", "true", "false", "false"},
                  {"", "", "TServerMethods1.EchoString", "ReturnValue", "OUT", "WideString", "-1",
                   "-1", "1", "false", "26", "false", "true", "false", "false"}}));
}

TEST_F(DSAdminTablesTest, GetServerMethodParametersGivesParameterRowsAndAResultRowPerMethod) {
    const TTableReply Reply = Table("DSAdmin.GetServerMethodParameters");
    const auto Rows = test::DecodeRows(Reply.First.Rows, "TTTTTTIII").Rows;
    std::vector<std::vector<std::string>> Echo, Drop;
    for (const auto& Row : Rows) {
        if (Row[0] == "TServerMethods1.EchoString")
            Echo.push_back(Row);
        if (Row[0] == "DSAdmin.DropServerMethods")
            Drop.push_back(Row);
    }
    EXPECT_EQ(Echo, (std::vector<std::vector<std::string>>{
                        {"TServerMethods1.EchoString", "TServerMethods1", "EchoString", "Value",
                         "string", "", "1", "26", "1"},
                        {"TServerMethods1.EchoString", "TServerMethods1", "EchoString", "null",
                         "string", "", "4", "26", "4"}}));
    EXPECT_EQ(Drop, (std::vector<std::vector<std::string>>{
                        {"DSAdmin.DropServerMethods", "DSAdmin", "DropServerMethods",
                         "MethodReader", "TDBXReader", "DBXCommon", "1", "23", "1"},
                        {"DSAdmin.DropServerMethods", "DSAdmin", "DropServerMethods", "null",
                         "null", "null", "4", "null", "4"}}));
    // One result row per method, after its parameter rows.
    size_t ResultRows = 0;
    for (const auto& Row : Rows)
        ResultRows += Row[3] == "null" ? 1 : 0;
    EXPECT_EQ(ResultRows, test::RegisteredAliases().size());
}

TEST_F(DSAdminTablesTest, FindClassesAndFindMethodsSearchTheProcessRegistry) {
    EXPECT_EQ(
        test::DecodeRows(Table("DSAdmin.FindClasses", TextRow({"", ""})).First.Rows, "TTTT").Rows,
        (std::vector<std::vector<std::string>>{{"null", "DSAdmin", "null", "null"},
                                               {"null", "DSMetadata", "null", "null"},
                                               {"null", "TServerMethods1", "null", "null"}}));
    EXPECT_EQ(
        test::DecodeRows(Table("DSAdmin.FindClasses", TextRow({"any", "Meta"})).First.Rows, "TTTT")
            .Rows,
        (std::vector<std::vector<std::string>>{{"null", "DSMetadata", "null", "null"}}));
    EXPECT_EQ(
        test::DecodeRows(
            Table("DSAdmin.FindMethods", TextRow({"", "Methods1", "STRING"})).First.Rows, "TTTT")
            .Rows,
        (std::vector<std::vector<std::string>>{
            {"TServerMethods1.EchoString", "TServerMethods1", "EchoString", "null"},
            {"TServerMethods1.ReverseString", "TServerMethods1", "ReverseString", "null"}}));
}

TEST_F(DSAdminTablesTest, PackagesAndConnectionsAreEmptyTables) {
    TTableReply Packages = Table("DSAdmin.FindPackages");
    EXPECT_EQ(Packages.Object, "{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[1,["
                               "\"PackageName\",26,0,0,0,256,0,0]]}]}");
    EXPECT_EQ(Packages.First.Count, 0);
    TTableReply Connections = Table("DSAdmin.GetDatabaseConnectionProperties");
    EXPECT_EQ(Connections.Object,
              "{\"table\":[{\"fields\":[0,false,1,1,true]},{\"columns\":[4,[\"ConnectionName\",26,"
              "0,0,0,128,0,0],[\"ConnectionProperties\",26,0,0,0,2048,0,0],[\"DriverName\",26,0,0,"
              "0,128,0,0],[\"DriverProperties\",26,0,0,0,2048,0,0]]}]}");
    EXPECT_EQ(Connections.First.Count, 0);
}

// --- The registry changers, given a table the terminal sends ------------------------

TEST_F(DSAdminTablesTest, DropServerMethodsRemovesEveryAliasItNames) {
    const TBytes Reply =
        Stack.Send(Execute("DSAdmin.DropServerMethods", Hex("61 01"),
                           PeerTable({"MethodAlias"}, {{"TServerMethods1.EchoString"},
                                                       {"tservermethods1.reversestring"}})));
    EXPECT_EQ(Show(Reply), "{\"result\":[]}");
    EXPECT_FALSE(Provider().HasServerMethod(u"TServerMethods1.EchoString"));
    EXPECT_FALSE(Provider().HasServerMethod(u"TServerMethods1.ReverseString"));
    EXPECT_EQ(Provider().MethodList().size(), test::RegisteredAliases().size() - 2);
}

TEST_F(DSAdminTablesTest, DropServerMethodsStopsAtAnUnknownAliasWithTheRowsBeforeItApplied) {
    const TBytes Reply =
        Stack.Send(Execute("DSAdmin.DropServerMethods", Hex("61 01"),
                           PeerTable({"MethodAlias"}, {{"TServerMethods1.EchoString"},
                                                       {"TServerMethods1.Nope"},
                                                       {"TServerMethods1.ReverseString"}})));
    EXPECT_EQ(Show(Reply),
              CommandError(105, "TServerMethods1.Nope method not found in the server method list"));
    EXPECT_FALSE(Provider().HasServerMethod(u"TServerMethods1.EchoString"));
    EXPECT_TRUE(Provider().HasServerMethod(u"TServerMethods1.ReverseString"));
}

TEST_F(DSAdminTablesTest, CreateServerMethodsNeedsARegisteredClass) {
    const TBytes Columns = PeerTable({"MethodAlias", "ServerClassName", "MethodName", "RoleName"},
                                     {{"TNope.EchoString", "TNope", "EchoString", ""}});
    EXPECT_EQ(Show(Stack.Send(Execute("DSAdmin.CreateServerMethods", Hex("61 01"), Columns))),
              CommandError(104, "TNope class not found in the server class list"));
    EXPECT_EQ(Provider().MethodList().size(), test::RegisteredAliases().size());
}

TEST_F(DSAdminTablesTest, AMethodCreatedUnderAnotherAliasCanBeCalled) {
    EXPECT_EQ(Show(Stack.Send(
                  Execute("DSAdmin.CreateServerMethods", Hex("61 01"),
                          PeerTable({"MethodAlias", "ServerClassName", "MethodName", "RoleName"},
                                    {{"TServerMethods1.EchoAgain", "TServerMethods1", "EchoString",
                                      "kitchen"}})))),
              "{\"result\":[]}");
    EXPECT_EQ(
        Show(Stack.Send(Execute("TServerMethods1.EchoAgain", Hex("22 61 62")))),
        Show(Concat({Bytes("{\"result\":[{\"data\":[4,"), Hex("C0 22 61 62"), Bytes("]}]}")})));
    const auto Info = Provider().GetMethodInfo(u"TServerMethods1.EchoAgain");
    ASSERT_NE(Info, nullptr);
    EXPECT_EQ(Info->FRoleName, u"kitchen");
}

TEST_F(DSAdminTablesTest, AClassDroppedAndCreatedAgainComesBackWithoutItsMethods) {
    EXPECT_EQ(Show(Stack.Send(Execute("DSAdmin.DropServerClasses", Hex("61 01"),
                                      PeerTable({"ClassName"}, {{"TServerMethods1"}})))),
              "{\"result\":[]}");
    EXPECT_EQ(Provider().GetClassInfo(u"TServerMethods1"), nullptr);
    EXPECT_FALSE(Provider().HasServerMethod(u"TServerMethods1.EchoString"));
    EXPECT_EQ(Show(Stack.Send(Execute("DSAdmin.DropServerClasses", Hex("61 01"),
                                      PeerTable({"ClassName"}, {{"TServerMethods1"}})))),
              CommandError(104, "TServerMethods1 class not found in the server class list"));
    EXPECT_EQ(
        Show(Stack.Send(Execute("DSAdmin.CreateServerClasses", Hex("61 01"),
                                PeerTable({"PackageName", "ClassName", "RoleName", "LifeCycle"},
                                          {{"", "TServerMethods1", "", "Session"}})))),
        "{\"result\":[]}");
    const auto Class = Provider().GetClassInfo(u"TServerMethods1");
    ASSERT_NE(Class, nullptr);
    EXPECT_EQ(Class->FLifeCycle, u"Session");
    EXPECT_FALSE(Provider().HasServerMethod(u"TServerMethods1.EchoString"));
    EXPECT_EQ(Show(Stack.Send(Execute(
                  "DSAdmin.CreateServerClasses", Hex("61 01"),
                  PeerTable({"ClassName", "LifeCycle"}, {{"TServerMethods1", "Session"}})))),
              CommandError(102, "TServerMethods1 class has already been added to the server "
                                "class list"));
}

// --- Readers and long values of a command ------------------------------------------

// Methods whose results are tables or long texts.
class TTableProbe : public TObject {
public:
    static const TDSClass& ClassInfo() {
        static const TDSClass Class(
            u"TTableProbe", u"DSTableMethodsTest", nullptr,
            [] { return std::unique_ptr<TObject>(new TTableProbe()); },
            {
                {u"Rows",
                 {{u"Count", u"Integer"}},
                 u"TDBXReader",
                 [](TObject&, TDSMethodValues& V) {
                     V.Result().SetReader(Texts(static_cast<int32_t>(V.Arg(0).Integer()), 36));
                 }},
                {u"LongRows",
                 {{u"Count", u"Integer"}, {u"Length", u"Integer"}},
                 u"TDBXReader",
                 [](TObject&, TDSMethodValues& V) {
                     V.Result().SetReader(Texts(static_cast<int32_t>(V.Arg(0).Integer()),
                                                static_cast<int32_t>(V.Arg(1).Integer())));
                 }},
                {u"LongText",
                 {{u"Length", u"Integer"}},
                 u"string",
                 [](TObject&, TDSMethodValues& V) {
                     V.Result().SetText(Letters(static_cast<int32_t>(V.Arg(0).Integer()), 0));
                 }},
                {u"Counting",
                 {{u"Rows", u"Integer"}},
                 u"TDBXReader",
                 [](TObject&, TDSMethodValues& V) {
                     V.Result().SetReader(std::make_unique<test::TCountingReader>(
                         static_cast<int32_t>(V.Arg(0).Integer())));
                 }},
            });
        return Class;
    }

    // Length letters, the letter of Row first ('a' for row 0), then the
    // alphabet on.
    static std::u16string Letters(int32_t Length, int32_t Row) {
        std::u16string Text(static_cast<size_t>(Length), u' ');
        for (int32_t I = 0; I < Length; ++I)
            Text[static_cast<size_t>(I)] = static_cast<char16_t>(u'a' + (Row + I) % 26);
        return Text;
    }

    // One text column of Count rows of Length letters each.
    static std::unique_ptr<TDBXReader> Texts(int32_t Count, int32_t Length) {
        std::vector<std::unique_ptr<TDBXValueType>> Columns;
        auto Type = std::make_unique<TDBXValueType>();
        Type->SetName(u"Text");
        Type->SetDataType(TDBXDataTypes::WideStringType);
        Columns.push_back(std::move(Type));
        auto Table = std::make_unique<TDBXMemoryTable>(nullptr, u"Texts", std::move(Columns));
        for (int32_t I = 0; I < Count; ++I) {
            Table->Insert();
            Table->Value(0).SetWideString(Letters(Length, I));
        }
        return std::make_unique<TDBXTableReader>(std::move(Table));
    }
};

std::string Narrow(const std::u16string& Text) {
    return std::string(Text.begin(), Text.end());
}

// An integer field of the request row.
TBytes IntegerField(int32_t Value) {
    TBytes Field{0x60};
    for (int32_t Shift = 24; Shift >= 0; Shift -= 8)
        if ((Value >> Shift) != 0 || Field.size() > 1)
            Field.push_back(static_cast<uint8_t>(Value >> Shift));
    Field[0] = static_cast<uint8_t>(0x60 + Field.size() - 1);
    return Field;
}

TBytes MoreBlob(int32_t Command, int64_t Row, int32_t Ordinal, bool Out, int32_t RowHandle) {
    return Bytes("{\"method\":\"more_blob\",\"params\":[" + std::to_string(Command) + ",0," +
                 std::to_string(Row) + "," + std::to_string(Ordinal) + "," +
                 (Out ? "true" : "false") + "," + std::to_string(RowHandle) + "]}");
}

// One chunk of a more_blob reply: its count (checked to be padded to nine
// characters) and bytes.
test::TBatch Chunk(const TBytes& Reply) {
    const std::string Start = "{\"result\":[{\"data\":[";
    EXPECT_EQ(test::Find(Reply, Start), 0u) << Show(Reply);
    const size_t Comma = test::Find(Reply, ",", Start.size());
    EXPECT_EQ(Comma, Start.size() + 9) << "count padded to nine characters";
    size_t At = Start.size() - 9;
    test::TBatch Out = test::ReadBatch(Reply, At);
    EXPECT_EQ(Show(TBytes(Reply.begin() + static_cast<std::ptrdiff_t>(At), Reply.end())), "]}");
    return Out;
}

class DSCommandReadersTest : public ::testing::Test {
protected:
    DSCommandReadersTest() { Stack.SendText(Connect); }

    test::TServerHarness Harness{
        u"ReadersServer",
        {{&TServerMethods1::ClassInfo(), u"Session"}, {&TTableProbe::ClassInfo(), u"Session"}}};
    test::TServerStack Stack{Harness.Transport()};
};

TEST_F(DSCommandReadersTest, ALongOutValueComesChunkByChunkWithMoreBlob) {
    const std::u16string Text = TTableProbe::Letters(100000, 0);
    const TBytes Reply =
        Stack.Send(Execute("TTableProbe.LongText", Concat({IntegerField(100000), Hex("C0")})));
    // The request row was 5 bytes: the reply text gets the plain inline limit.
    const TBytes Head = Concat({Bytes("{\"result\":[{\"data\":[1028,"), Hex("C0 50 04 00")});
    ASSERT_EQ(Show(TBytes(Reply.begin(), Reply.begin() + static_cast<std::ptrdiff_t>(Head.size()))),
              Show(Head));
    std::string Joined(Reply.begin() + static_cast<std::ptrdiff_t>(Head.size()), Reply.end() - 4);
    EXPECT_EQ(Joined.size(), 1024u);
    std::vector<int32_t> Counts;
    for (int32_t Round = 0; Round < 10; ++Round) {
        const test::TBatch Part = Chunk(Stack.Send(MoreBlob(0, 0, 1, true, -1)));
        Counts.push_back(Part.Count);
        Joined.append(Part.Rows.begin(), Part.Rows.end());
        if (Part.Count <= 0)
            break;
    }
    EXPECT_EQ(Joined, Narrow(Text));
    EXPECT_EQ(Counts, (std::vector<int32_t>{32736, 32736, 32736, -768}));
    EXPECT_EQ(Chunk(Stack.Send(MoreBlob(0, 0, 1, true, -1))).Count, 0);
    // The in parameter has no long value.
    EXPECT_EQ(Show(Stack.Send(MoreBlob(0, 0, 0, false, -1))),
              CommandError(4, "Command closed or executed again"));
}

TEST_F(DSCommandReadersTest, AnExecuteWithoutPrepareKeepsItsCommandWhileALongValueIsUnread) {
    // No reply shows the handle of a command made by an execute alone; the
    // connection's first command is 0. Another such execute must not take
    // it away while its long value is still to be fetched (the client
    // closes it by its handle).
    Stack.Send(Execute("TTableProbe.LongText", Concat({IntegerField(100000), Hex("C0")})));
    const std::string Echo =
        Show(Stack.Send(Execute("TServerMethods1.EchoString", Hex("22 61 62"))));
    EXPECT_EQ(Echo.rfind("{\"result\":", 0), 0u) << Echo;
    std::vector<int32_t> Counts;
    for (int32_t Round = 0; Round < 10; ++Round) {
        const int32_t Count = Chunk(Stack.Send(MoreBlob(0, 0, 1, true, -1))).Count;
        Counts.push_back(Count);
        if (Count <= 0)
            break;
    }
    EXPECT_EQ(Counts, (std::vector<int32_t>{32736, 32736, 32736, -768}));
    EXPECT_EQ(Chunk(Stack.Send(MoreBlob(0, 0, 1, true, -1))).Count, 0);
}

TEST_F(DSCommandReadersTest, AReaderRowsLongValueIsTheOneOfTheRowItNames) {
    // Rows of 40000 letters: each fills a batch on its own and leaves
    // 40000 - 30717 letters for more_blob.
    const TBytes Reply = Stack.Send(
        Execute("TTableProbe.LongRows", Concat({IntegerField(3), IntegerField(40000), Hex("C0")})));
    TTableReply First = SplitTableReply(Reply);
    EXPECT_EQ(First.First.Count, 30720);
    const auto Rest = [](int32_t Row) {
        return Narrow(TTableProbe::Letters(40000, Row).substr(30717));
    };
    const auto Fetch = [&](int64_t Row) {
        const test::TBatch Part = Chunk(Stack.Send(MoreBlob(0, Row, 0, false, 1)));
        EXPECT_EQ(Part.Count, -9283);
        return std::string(Part.Rows.begin(), Part.Rows.end());
    };
    EXPECT_EQ(Fetch(0), Rest(0));
    size_t At = 0;
    const TBytes Second = Stack.Send(Bytes("{\"method\":\"next\",\"params\":[1,1,0]}"));
    EXPECT_EQ(test::ReadBatch(Second, At).Count, 30720);
    // Row 0 belongs to a batch the terminal has moved past.
    EXPECT_EQ(Show(Stack.Send(MoreBlob(0, 0, 0, false, 1))),
              CommandError(4, "Command closed or executed again"));
    EXPECT_EQ(Fetch(1), Rest(1));
    EXPECT_EQ(Show(Stack.Send(MoreBlob(0, 2, 0, false, 1))),
              CommandError(4, "Command closed or executed again"));
    // A row handle that names no reader.
    EXPECT_EQ(Show(Stack.Send(MoreBlob(0, 1, 0, false, 7))),
              CommandError(4, "Command closed or executed again"));
}

// A text of the request row that goes on beyond the row comes from the
// terminal, asked for with more_blob while the method reads its argument.
TEST_F(DSCommandReadersTest, ARequestTextThatGoesOnIsFetchedFromTheTerminal) {
    const TBytes Reply =
        Stack.Send(Concat({Execute("TServerMethods1.EchoString", Hex("50 00 02 61 62")),
                           Bytes("{\"result\":[{\"data\":[-3       ,cde]}]}")}));
    EXPECT_EQ(Show(Reply),
              Show(Concat({Bytes("{\"more_blob\":[0,1,0,0,-1]}{\"result\":[{\"data\":[7,"),
                           Hex("C0 25 61 62 63 64 65"), Bytes("]}]}")})));
    // A blob header of 4 GiB is refused before anything is asked or kept.
    EXPECT_EQ(Show(Stack.Send(Execute("TServerMethods1.EchoString", Hex("08 FF FF FF FF")))),
              CommandError(30, "The long value of field 0 announces 4294967295 bytes, more than "
                               "the 67108864 a value may have"));
    EXPECT_EQ(Stack.SendText(Connect), "{\"result\":[1,\"KDS\",2]}");
}

TEST_F(DSCommandReadersTest, NextForAHandleWithoutReaderIsAnErrorAndTheConnectionGoesOn) {
    Stack.Send(Execute("TTableProbe.Rows", Concat({IntegerField(2), Hex("C0")})));
    EXPECT_EQ(Stack.SendText("{\"method\":\"next\",\"params\":[2,0,0]}"),
              CommandError(4, "Command closed or executed again"));
    EXPECT_EQ(Stack.SendText("{\"method\":\"next\",\"params\":[1,0,0]}"),
              CommandError(4, "Command closed or executed again"));
    EXPECT_EQ(Stack.SendText("{\"method\":\"next\",\"params\":[1,0,7]}"),
              CommandError(29, "Invalid command handle:  7"));
    EXPECT_EQ(Stack.SendText(Connect), "{\"result\":[1,\"KDS\",2]}");
}

TEST_F(DSCommandReadersTest, ReaderCloseFreesTheReaderAndWritesNothing) {
    test::TCountingReader::Live = 0;
    Stack.Send(Execute("TTableProbe.Counting", Concat({IntegerField(3), Hex("C0")})));
    EXPECT_EQ(test::TCountingReader::Live, 1);
    EXPECT_EQ(Stack.SendText("{\"method\":\"reader_close\",\"params\":[1,0]}"), "");
    EXPECT_EQ(test::TCountingReader::Live, 0);
    EXPECT_EQ(Stack.SendText("{\"method\":\"next\",\"params\":[1,3,0]}"),
              CommandError(4, "Command closed or executed again"));
    // Executing a command again frees the readers of its last execute, and
    // so does closing it.
    EXPECT_EQ(Stack
                  .SendText("{\"method\":\"prepare\",\"params\":[-1,false,\"KDS.ServerMethod\","
                            "\"TTableProbe.Counting\"]}")
                  .rfind("{\"result\":[{\"handle\":[0]}", 0),
              0u);
    const TBytes Again = Concat({Bytes("{\"method\":\"execute\",\"params\":[{\"handle\":[0]},{"
                                       "\"data\":[3,"),
                                 IntegerField(3), Hex("C0"), Bytes("]}]}")});
    Stack.Send(Again);
    EXPECT_EQ(test::TCountingReader::Live, 1);
    Stack.Send(Again);
    EXPECT_EQ(test::TCountingReader::Live, 1);
    EXPECT_EQ(Stack.SendText("{\"method\":\"command_close\",\"params\":[0]}"), "");
    EXPECT_EQ(test::TCountingReader::Live, 0);
}

TEST_F(DSCommandReadersTest, ClearResourcesWhileAReaderStreamsLeavesNothingToFetch) {
    const TBytes First =
        Stack.Send(Execute("TTableProbe.Rows", Concat({IntegerField(3000), Hex("C0")})));
    ASSERT_GT(SplitTableReply(First).First.Count, 0);
    EXPECT_EQ(Show(Stack.Send(Execute("DSAdmin.ClearResources"))),
              Show(Concat({Bytes("{\"result\":[{\"data\":[1,"), Hex("60"), Bytes("]}]}")})));
    EXPECT_EQ(Stack.SendText("{\"method\":\"next\",\"params\":[1,700,0]}"),
              CommandError(4, "Command closed or executed again"));
}

} // namespace
} // namespace kds
