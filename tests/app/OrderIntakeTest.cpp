#include "app/OrderIntake.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "app/ProgramFiles.h"
#include "support/DecimalSeparatorScope.h"
#include "support/TempDir.h"
#include "support/TestNames.h"

namespace kds {
namespace {

namespace fs = std::filesystem;

struct TItem {
    std::string PluName;
    std::string SaleQty;
    std::string DoItemOK = "N";
};

// An order file as the point-of-sale software writes it.
std::string OrderXml(const std::string& Key1, const std::vector<TItem>& Items,
                     const std::string& TxNo = "00001") {
    std::string X = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Order>\n <header>\n"
                    "  <TA001>" +
                    Key1 +
                    "</TA001>\n  <TA002>K2</TA002>\n  <TA003>K3</TA003>\n"
                    "  <TxNo>" +
                    TxNo +
                    "</TxNo>\n  <TableNo>T12</TableNo>\n"
                    "  <DeliveryType>dine-in</DeliveryType>\n </header>\n <Detail>\n";
    for (const TItem& I : Items)
        X += "  <item><PluName>" + I.PluName + "</PluName><SaleQty>" + I.SaleQty +
             "</SaleQty><DoItemOK>" + I.DoItemOK + "</DoItemOK></item>\n";
    return X + " </Detail>\n</Order>\n";
}

std::string ReadAll(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), {});
}

// A program folder with KDS/Before and KDS/AFTER, an open order book and an
// intake over it.
class TOrderIntakeTest : public ::testing::Test {
protected:
    test::TDecimalSeparatorScope Separator{u'.'};
    test::TTempDir Dir;
    TOrderBook Book;
    TOrderIntake Intake{Book};

    void SetUp() override {
        fs::create_directories(Before());
        fs::create_directories(After());
        Book.Create();
    }

    fs::path Before() const { return Dir.Path() / "KDS" / "Before"; }
    fs::path After() const { return Dir.Path() / "KDS" / "AFTER"; }
    void Drop(const std::string& Name, const std::string& Content) const {
        Dir.WriteFile("KDS/Before/" + Name, Content);
    }
    TIntakeResult Run() { return Intake.Execute(Dir.Path()); }

    // Field F of every presented row of D, joined by spaces.
    static std::string Column(const TMemoryDataSet& D, const std::string& F) {
        const int I = D.FieldByName(F).Index();
        std::string Out;
        for (int R = 0; R < D.RowCount(); ++R)
            Out += (R ? " " : "") + D.DisplayTextAt(R, I);
        return Out;
    }
    std::string Headers() const { return Column(Book.TA(), "TA001"); }
    std::string Lines() const { return Column(Book.TB(), "PluName"); }
};

TEST_F(TOrderIntakeTest, TakesInTheHeaderAndItsItemsInFileOrderAndMovesTheFile) {
    Drop("o1.xml", OrderXml("A1", {{"Tea", "2"}, {"Cake", "1.5", "Y"}, {"Soup", ""}}));
    const TIntakeResult R = Run();
    EXPECT_EQ(1, R.TakenIn);
    EXPECT_EQ(1, R.Moved);

    TMemoryDataSet& TA = Book.TA();
    ASSERT_EQ(1, TA.RecordCount());
    EXPECT_EQ("A1", TA.FieldByName("TA001").AsString());
    EXPECT_EQ("K2", TA.FieldByName("TA002").AsString());
    EXPECT_EQ("K3", TA.FieldByName("TA003").AsString());
    EXPECT_EQ("00001", TA.FieldByName("TA006").AsString());
    EXPECT_EQ("T12", TA.FieldByName("TableNo").AsString());
    EXPECT_EQ("dine-in", TA.FieldByName("DeliveryType").AsString());

    TMemoryDataSet& TB = Book.TB();
    EXPECT_EQ("Tea Cake Soup", Lines());
    EXPECT_EQ("2 1.5 ", Column(TB, "SaleQty"));
    EXPECT_TRUE(TB.IsNullAt(2, TB.FieldByName("SaleQty").Index()));
    EXPECT_EQ("N Y N", Column(TB, "DoItemOK"));
    EXPECT_EQ("A1 A1 A1", Column(TB, "TB001"));
    EXPECT_EQ("K2 K2 K2", Column(TB, "TB002"));
    EXPECT_EQ("K3 K3 K3", Column(TB, "TB003"));
    EXPECT_EQ("00001 00001 00001", Column(TB, "TB006"));
    EXPECT_EQ(TOrderBook::TAMasterFields, TB.MasterFields());

    EXPECT_FALSE(fs::exists(Before() / "o1.xml"));
    EXPECT_EQ(OrderXml("A1", {{"Tea", "2"}, {"Cake", "1.5", "Y"}, {"Soup", ""}}),
              ReadAll(After() / "o1.xml"));
}

TEST_F(TOrderIntakeTest, TwoFilesGiveTwoHeadersEachShowingOnlyItsOwnLines) {
    Drop("o1.xml", OrderXml("A1", {{"Tea", "1"}, {"Cake", "1"}}));
    Drop("o2.xml", OrderXml("A2", {{"Soup", "1"}}));
    Run();
    EXPECT_EQ("A1 A2", Headers());
    EXPECT_EQ(2, Book.TA().RecNo()); // the last one stored is current
    EXPECT_EQ("Soup", Lines());
    Book.TA().First();
    EXPECT_EQ("Tea Cake", Lines());
    EXPECT_EQ(3, Book.TB().StoredRecordCount());
}

TEST_F(TOrderIntakeTest, EachItemAndEachFileStartsFromEmptyValues) {
    // The second item has no PluName; the second file has no header.
    Drop("a.xml", "<Order><header><TA001>A1</TA001><TxNo>7</TxNo></header><Detail>"
                  "<item><PluName>Tea</PluName><SaleQty>1</SaleQty></item>"
                  "<item><SaleQty>2</SaleQty></item></Detail></Order>");
    Drop("b.xml", "<Order><Detail><item><PluName>Soup</PluName></item></Detail></Order>");
    Run();
    EXPECT_EQ("A1 ", Headers());
    EXPECT_EQ("", Book.TA().FieldByName("TableNo").AsString());
    EXPECT_EQ("Soup", Lines()); // the current header is b's, with empty key
    EXPECT_EQ("", Column(Book.TB(), "TB001"));
    EXPECT_EQ("", Column(Book.TB(), "TB006"));
    Book.TA().First();
    EXPECT_EQ("Tea ", Lines());
    EXPECT_EQ("A1 A1", Column(Book.TB(), "TB001"));
}

TEST_F(TOrderIntakeTest, LongValuesAreCutToTheirFieldSizeAndKeysStillLink) {
    Drop("a.xml", OrderXml("ABCDEFGHIJ", {{"Chicken noodle soup L", "1"},
                                          {"\xE7\x89\x9B\xE8\x82\x89\xE9\xBA\xB5\xE5\xA4\xA7\xE7"
                                           "\xA2\x97\xE5\x8A\xA0\xE8\x9B\x8B",
                                           "1"}}));
    Run();
    EXPECT_EQ("ABCDEFGH", Headers());
    EXPECT_EQ("ABCDEFGH ABCDEFGH", Column(Book.TB(), "TB001"));
    // 25 characters -> 20 bytes; 8 three-byte characters -> 6 (18 bytes).
    EXPECT_EQ("Chicken noodle soup  "
              "\xE7\x89\x9B\xE8\x82\x89\xE9\xBA\xB5\xE5\xA4\xA7\xE7\xA2\x97\xE5\x8A\xA0",
              Lines());
}

TEST_F(TOrderIntakeTest, EmptyDetailGivesAHeaderWithoutLines) {
    Drop("a.xml", OrderXml("A1", {}));
    Run();
    EXPECT_EQ("A1", Headers());
    EXPECT_EQ(0, Book.TB().StoredRecordCount());
}

TEST_F(TOrderIntakeTest, OnlyItemElementsOfDetailBecomeLines) {
    Drop("a.xml", "<Order><header><TA001>A1</TA001></header><Detail>\n"
                  "  <!-- first --><?item not an element?>text\n"
                  "  <item><PluName>One</PluName></item><note>x</note>"
                  "  <![CDATA[raw]]><item><PluName>Two</PluName></item><!-- end -->\n"
                  "</Detail></Order>");
    Run();
    EXPECT_EQ("One Two", Lines());
}

TEST_F(TOrderIntakeTest, AnOrderOfMoreLinesThanTheLimitFailsWhole) {
    std::string Items;
    for (int I = 0; I <= TOrderIntake::MaxLinesPerOrder; ++I)
        Items += "<item/>";
    Drop("a.xml",
         "<Order><header><TA001>A1</TA001></header><Detail>" + Items + "</Detail></Order>");
    Drop("b.xml", OrderXml("B1", {{"Tea", "1"}}));
    Run();
    EXPECT_EQ("B1", Headers());
    EXPECT_EQ(1, Book.TB().StoredRecordCount());
    EXPECT_TRUE(fs::exists(Before() / "a.xml"));
}

TEST_F(TOrderIntakeTest, ReadsOrderBelowTheRootAndPrefixedElements) {
    Drop("a.xml", "<Envelope><Order><header><TA001>A1</TA001></header>"
                  "<Detail><item><PluName>One</PluName></item></Detail></Order></Envelope>");
    Drop("b.xml", "<p:Order xmlns:p=\"urn:x\"><p:header><p:TA001>B1</p:TA001></p:header>"
                  "<p:Detail><p:item><p:PluName>Two</p:PluName></p:item></p:Detail></p:Order>");
    Run();
    EXPECT_EQ("A1 B1", Headers());
    EXPECT_EQ("Two", Lines());
    Book.TA().First();
    EXPECT_EQ("One", Lines());
}

TEST_F(TOrderIntakeTest, AnOrderBelowTheRootWithoutHeaderKeepsItsLines) {
    Drop("a.xml", "<Envelope><Order><Detail><item><PluName>One</PluName></item>"
                  "<item><PluName>Two</PluName></item></Detail></Order></Envelope>");
    Run();
    EXPECT_EQ(1, Book.TA().StoredRecordCount());
    EXPECT_EQ("One Two", Lines());
    EXPECT_TRUE(fs::exists(After() / "a.xml"));
}

TEST_F(TOrderIntakeTest, SaleQtyInTheWrongLocaleFormatFailsTheWholeFile) {
    const test::TDecimalSeparatorScope Comma(u',');
    Drop("a.xml", OrderXml("A1", {{"Tea", "2"}, {"Cake", "1.5"}}));
    Drop("b.xml", OrderXml("B1", {{"Soup", "0,5"}}));
    const TIntakeResult R = Run();
    EXPECT_EQ(1, R.Failed);
    // Nothing of a: no header, not its first line, no pending row.
    EXPECT_EQ("B1", Headers());
    EXPECT_EQ(1, Book.TB().StoredRecordCount());
    EXPECT_EQ("0,5", Column(Book.TB(), "SaleQty"));
    EXPECT_EQ(TDataSetState::dsBrowse, Book.TA().State());
    EXPECT_EQ(TDataSetState::dsBrowse, Book.TB().State());
    EXPECT_TRUE(fs::exists(Before() / "a.xml"));
    // Read again, it still fails and still adds nothing.
    Run();
    EXPECT_EQ("B1", Headers());
    EXPECT_EQ(1, Book.TB().StoredRecordCount());
}

// Bad entries: each fails alone, stays untouched, and the files around it
// are still taken in.
struct TBadCase {
    const char* Name;
    void (*Make)(const fs::path& Entry);
};

void PrintTo(const TBadCase& C, std::ostream* Os) {
    *Os << C.Name;
}

void WriteText(const fs::path& P, const std::string& S) {
    std::ofstream(P, std::ios::binary) << S;
}

const TBadCase BadCases[] = {
    {"malformed",
     [](const fs::path& P) { WriteText(P, "<Order><header><TA001>M</TA001></header"); }},
    {"stillBeingWritten",
     [](const fs::path& P) {
         WriteText(P, OrderXml("M", {{"Tea", "1"}, {"Cake", "2"}}).substr(0, 180));
     }},
    {"noOrderButDetailLines",
     [](const fs::path& P) {
         WriteText(P, "<Root><Detail><item><PluName>Stray</PluName></item></Detail></Root>");
     }},
    {"notXmlAtAll",
     [](const fs::path& P) { WriteText(P, std::string("\x00\x01\x02 binary", 10)); }},
    {"emptyFile", [](const fs::path& P) { WriteText(P, ""); }},
    {"folderNamedLikeAnOrder",
     [](const fs::path& P) {
         fs::create_directory(P);
         WriteText(P / "inner.xml", OrderXml("M", {{"Tea", "1"}}));
     }},
    {"danglingLink", [](const fs::path& P) { fs::create_symlink(P.parent_path() / "gone", P); }},
    {"over64MiB",
     [](const fs::path& P) {
         // A valid order padded with a comment past the 64 MiB limit.
         std::ofstream Out(P, std::ios::binary);
         Out << "<Order><header><TA001>M</TA001></header><!--";
         const std::string Chunk(1 << 20, 'x');
         for (int I = 0; I < 64; ++I)
             Out << Chunk;
         Out << "--></Order>";
     }},
    {"unreadable",
     [](const fs::path& P) {
         if (geteuid() != 0) {
             WriteText(P, OrderXml("M", {{"Tea", "1"}}));
             chmod(P.c_str(), 0);
         } else {
             // Root reads any file whatever its mode; this one fails every
             // read with an I/O error instead.
             fs::create_symlink("/proc/self/mem", P);
         }
     }},
};

class TOrderIntakeBadFileTest : public TOrderIntakeTest,
                                public ::testing::WithParamInterface<TBadCase> {};

TEST_P(TOrderIntakeBadFileTest, FailsThatFileAloneUntouchedAndTakesTheNext) {
    const fs::path Bad = Before() / "m.xml";
    GetParam().Make(Bad);
    Drop("a.xml", OrderXml("A1", {{"Tea", "1"}}));
    Drop("z.xml", OrderXml("Z1", {{"Soup", "1"}}));
    std::error_code Ec;
    const auto Status = fs::symlink_status(Bad);
    const auto Time = fs::last_write_time(Bad, Ec);

    const TIntakeResult R = Run();

    EXPECT_EQ(3, R.Found);
    EXPECT_EQ(2, R.TakenIn);
    EXPECT_EQ(1, R.Failed);
    EXPECT_EQ("A1 Z1", Headers());
    EXPECT_EQ(2, Book.TB().StoredRecordCount());
    EXPECT_EQ(TDataSetState::dsBrowse, Book.TA().State());
    EXPECT_EQ(TDataSetState::dsBrowse, Book.TB().State());
    EXPECT_TRUE(fs::exists(After() / "a.xml"));
    EXPECT_TRUE(fs::exists(After() / "z.xml"));
    // The bad entry is where it was, as it was.
    EXPECT_EQ(Status.type(), fs::symlink_status(Bad).type());
    EXPECT_FALSE(fs::exists(fs::symlink_status(After() / "m.xml")));
    if (!Ec) {
        EXPECT_EQ(Time, fs::last_write_time(Bad));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TOrderIntakeBadFileTest, ::testing::ValuesIn(BadCases),
                         test::TCaseName{});

TEST_F(TOrderIntakeTest, AFileStillBeingWrittenIsTakenInOnceComplete) {
    const std::string Full = OrderXml("A1", {{"Tea", "1"}});
    Drop("a.xml", Full.substr(0, Full.size() / 2));
    Run();
    EXPECT_EQ(0, Book.TA().RecordCount());
    Drop("a.xml", Full);
    Run();
    EXPECT_EQ("A1", Headers());
    EXPECT_TRUE(fs::exists(After() / "a.xml"));
}

TEST_F(TOrderIntakeTest, AFileWithoutOrderDoesNotStoreARowAnotherHandLeftPending) {
    Book.TA().Append();
    Book.TA().FieldByName("TableNo").SetAsText("typed");
    Drop("a.xml", "<Root><Detail><item><PluName>Stray</PluName></item></Detail></Root>");
    Run();
    EXPECT_TRUE(fs::exists(Before() / "a.xml"));
    EXPECT_EQ(0, Book.TB().StoredRecordCount());
    // The operator's row was neither stored by the file nor thrown away.
    EXPECT_EQ(TDataSetState::dsInsert, Book.TA().State());
    EXPECT_EQ("typed", Book.TA().FieldByName("TableNo").AsString());
}

TEST_F(TOrderIntakeTest, NeverReplacesAnArchivedOrderAndDoesNotTakeTheSameFileInTwice) {
    const std::string Old = "archived earlier";
    WriteText(After() / "a.xml", Old);
    Drop("a.xml", OrderXml("A1", {{"Tea", "1"}}));

    TIntakeResult R = Run();
    EXPECT_EQ(1, R.TakenIn);
    EXPECT_EQ(0, R.Moved);
    EXPECT_EQ(Old, ReadAll(After() / "a.xml"));
    EXPECT_TRUE(fs::exists(Before() / "a.xml"));

    // Unchanged: only the move is tried again, the kitchen sees the order once.
    R = Run();
    EXPECT_EQ(0, R.TakenIn);
    EXPECT_EQ(1, R.Retried);
    EXPECT_EQ(1, Book.TA().RecordCount());
    EXPECT_EQ(1, Book.TB().StoredRecordCount());

    fs::remove(After() / "a.xml");
    R = Run();
    EXPECT_EQ(1, R.Moved);
    EXPECT_EQ(1, Book.TA().RecordCount());
    EXPECT_FALSE(fs::exists(Before() / "a.xml"));
    EXPECT_EQ(OrderXml("A1", {{"Tea", "1"}}), ReadAll(After() / "a.xml"));
}

TEST_F(TOrderIntakeTest, AChangedFileWhoseMoveFailedIsTakenInAgain) {
    fs::remove(After());
    Drop("a.xml", OrderXml("A1", {{"Tea", "1"}}));
    Run();
    Drop("a.xml", OrderXml("A2", {{"Tea", "1"}, {"Cake", "1"}})); // rewritten by the POS
    const TIntakeResult R = Run();
    EXPECT_EQ(1, R.TakenIn);
    EXPECT_EQ("A1 A2", Headers());
    EXPECT_FALSE(fs::exists(After())); // never created
}

TEST_F(TOrderIntakeTest, MissingBeforeFolderDoesNothing) {
    fs::remove_all(Dir.Path() / "KDS");
    const TIntakeResult R = Run();
    EXPECT_EQ(0, R.Found);
    EXPECT_FALSE(fs::exists(Dir.Path() / "KDS"));
    EXPECT_EQ(0, Book.TA().RecordCount());
}

TEST_F(TOrderIntakeTest, MatchesXmlWithoutRegardToCaseAndTakesNamesInByteOrder) {
    Drop("b.xml", OrderXml("b", {}));
    Drop("C.XML", OrderXml("C", {}));
    Drop(".hidden.Xml", OrderXml("dot", {}));
    Drop("a.xml", OrderXml("a", {}));
    Drop("A.xml", OrderXml("A", {}));
    Drop("d.xml.bak", OrderXml("no", {}));
    Drop("e.txt", OrderXml("no", {}));
    Drop("xml", OrderXml("no", {}));
    const TIntakeResult R = Run();
    EXPECT_EQ(5, R.TakenIn);
    EXPECT_EQ("dot A C a b", Headers());
    EXPECT_TRUE(fs::exists(Before() / "d.xml.bak"));
    EXPECT_TRUE(fs::exists(After() / ".hidden.Xml"));
}

TEST(TOrderFileNameTest, PatternIsStarDotXmlWithoutRegardToCase) {
    EXPECT_TRUE(MatchesOrderFilePattern("a.xml"));
    EXPECT_TRUE(MatchesOrderFilePattern("A.XmL"));
    EXPECT_TRUE(MatchesOrderFilePattern(".xml"));
    EXPECT_FALSE(MatchesOrderFilePattern("xml"));
    EXPECT_FALSE(MatchesOrderFilePattern("a.xml~"));
    EXPECT_FALSE(MatchesOrderFilePattern("a_xml"));
}

class TMoveNoReplaceTest
    : public ::testing::TestWithParam<bool (*)(const std::string&, const std::string&)> {
protected:
    test::TTempDir Dir;
};

TEST_P(TMoveNoReplaceTest, MovesButNeverReplaces) {
    const auto Move = GetParam();
    const std::string A = Dir.WriteFile("a", "one").string();
    const std::string B = Dir.WriteFile("b", "two").string();
    const std::string C = (Dir.Path() / "c").string();
    EXPECT_FALSE(Move(A, B));
    EXPECT_EQ("one", ReadAll(A));
    EXPECT_EQ("two", ReadAll(B));
    EXPECT_TRUE(Move(A, C));
    EXPECT_FALSE(fs::exists(A));
    EXPECT_EQ("one", ReadAll(C));
    EXPECT_FALSE(Move(A, (Dir.Path() / "d").string())); // source gone
}

INSTANTIATE_TEST_SUITE_P(BothWays, TMoveNoReplaceTest,
                         ::testing::Values(&MoveFileNoReplace, &MoveFileByLink));

TEST(TProgramDirectoryTest, IsTheFolderOfTheRunningProgram) {
    const fs::path D = ProgramDirectory();
    EXPECT_TRUE(D.is_absolute());
    EXPECT_TRUE(fs::exists(D / "app_tests"));
}

} // namespace
} // namespace kds
