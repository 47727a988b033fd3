#include "app/MemoryDataSet.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

#include "support/DecimalSeparatorScope.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

namespace kds {
namespace {

// Records every notice as one line of text, and checks on each "after" notice
// that the dataset is readable and consistent with what was announced.
class TRecordingObserver : public TDataSetObserver {
public:
    std::vector<std::string> Log;
    int Rows = 0; // what a table model would believe RowCount() is

    void Attach(TMemoryDataSet& D) { Rows = D.RowCount(); }

    void RowAboutToBeInserted(TMemoryDataSet&, int Row) override {
        Log.push_back("+?" + std::to_string(Row));
    }
    void RowInserted(TMemoryDataSet& D, int Row) override {
        Log.push_back("+" + std::to_string(Row));
        ++Rows;
        EXPECT_EQ(Rows, D.RowCount());
    }
    void RowAboutToBeRemoved(TMemoryDataSet& D, int Row) override {
        Log.push_back("-?" + std::to_string(Row));
        EXPECT_LT(Row, D.RowCount()); // still there
    }
    void RowRemoved(TMemoryDataSet& D, int Row) override {
        Log.push_back("-" + std::to_string(Row));
        --Rows;
        EXPECT_EQ(Rows, D.RowCount());
    }
    void RowChanged(TMemoryDataSet& D, int Row) override {
        Log.push_back("~" + std::to_string(Row));
        EXPECT_LT(Row, D.RowCount());
    }
    void PresentationAboutToBeReset(TMemoryDataSet&) override { Log.push_back("reset?"); }
    void PresentationReset(TMemoryDataSet& D) override {
        Log.push_back("reset");
        Rows = D.RowCount();
    }
    void CurrentRowChanged(TMemoryDataSet& D, int, int NewRow) override {
        Log.push_back("@" + std::to_string(NewRow));
        EXPECT_EQ(NewRow, D.CurrentRow());
    }
    void StateChanged(TMemoryDataSet&) override { Log.push_back("state"); }
};

// A dataset of one text key, one text value and one float, created empty.
class TMemoryDataSetTest : public ::testing::Test {
protected:
    test::TDecimalSeparatorScope Separator{u'.'};
    TMemoryDataSet D{"D"};
    TDataSource S{&D};
    TRecordingObserver Obs;

    void SetUp() override {
        D.FieldDefs().Add("K", TFieldType::ftString, 4);
        D.FieldDefs().Add("V", TFieldType::ftString, 10);
        D.FieldDefs().Add("Q", TFieldType::ftFloat);
        D.IndexDefs().Add("ByK", "K");
    }
    void TearDown() override { S.RemoveObserver(&Obs); }
    void Observe() {
        S.AddObserver(&Obs);
        Obs.Attach(D);
        Obs.Log.clear();
    }
    void Add(const std::string& K, const std::string& V) {
        D.Append();
        D.FieldByName("K").SetAsText(K);
        D.FieldByName("V").SetAsText(V);
        D.Post();
    }
    // Column F of every presented row, joined by spaces.
    std::string Column(int F) const {
        std::string Out;
        for (int R = 0; R < D.RowCount(); ++R)
            Out += (R ? " " : "") + D.DisplayTextAt(R, F);
        return Out;
    }
};

TEST(TMemoryDataSetCreateTest, WithoutFieldsFailsWithTheEnginesMessage) {
    TMemoryDataSet D;
    test::ExpectErrorText<EDatabaseError>("No fields defined.  Cannot create dataset",
                                          [&] { D.CreateDataSet(); });
    EXPECT_FALSE(D.Active());
    EXPECT_THROW(D.Append(), EDatabaseError);
}

TEST_F(TMemoryDataSetTest, CreatesAnEmptyOpenTableWithItsFieldsInOrder) {
    D.CreateDataSet();
    ASSERT_TRUE(D.Active());
    ASSERT_EQ(3, D.FieldCount());
    EXPECT_EQ("K", D.Fields(0).FieldName());
    EXPECT_EQ(4, D.Fields(0).Size());
    EXPECT_EQ(TFieldType::ftFloat, D.Fields(2).DataType());
    EXPECT_EQ(&D.Fields(1), &D.FieldByName("v")); // names match without regard to case
    EXPECT_EQ(0, D.RecordCount());
    EXPECT_TRUE(D.Eof());
    EXPECT_TRUE(D.Bof());
    EXPECT_EQ(-1, D.RecNo());
    test::ExpectErrorText<EDatabaseError>("Field 'Nope' not found", [&] { D.FieldByName("Nope"); });
}

TEST_F(TMemoryDataSetTest, PostWithoutPendingRowFailsAndSettingAFieldToo) {
    D.CreateDataSet();
    test::ExpectErrorText<EDatabaseError>("Dataset not in edit or insert mode", [&] { D.Post(); });
    EXPECT_THROW(D.FieldByName("K").SetAsText("x"), EDatabaseError);
    Add("a", "1");
    EXPECT_THROW(D.Post(), EDatabaseError); // stored already
}

TEST_F(TMemoryDataSetTest, PendingRowIsStoredByTheNextAppendOnlyWhenAFieldWasSet) {
    D.CreateDataSet();
    D.Append();
    D.FieldByName("V").SetAsText("kept");
    D.Append(); // stores the first
    EXPECT_EQ(1, D.RecordCount());
    D.Append(); // drops the second: nothing was set
    EXPECT_EQ(1, D.RecordCount());
    D.FieldByName("V").SetAsText("third");
    D.Post();
    EXPECT_EQ("kept third", Column(1));
}

TEST_F(TMemoryDataSetTest, PendingRowHasRecNoMinusOneAndIsPresentedLast) {
    D.CreateDataSet();
    Add("b", "1");
    Add("a", "2");
    D.SetIndexName("ByK");
    D.First();
    D.Append();
    D.FieldByName("K").SetAsText("0");
    EXPECT_EQ(-1, D.RecNo());
    EXPECT_EQ(2, D.RecordCount());
    EXPECT_EQ(3, D.RowCount());
    EXPECT_EQ(2, D.PendingRow());
    EXPECT_EQ(2, D.CurrentRow());
    EXPECT_EQ("a b 0", Column(0));
    EXPECT_EQ(-1, D.RecNoAt(2));
    D.Post(); // lands at its index place and becomes current
    EXPECT_EQ("0 a b", Column(0));
    EXPECT_EQ(1, D.RecNo());
    EXPECT_EQ("0", D.FieldByName("K").AsString());
}

TEST_F(TMemoryDataSetTest, CancelDropsThePendingRowAndReturnsToThePreviousRow) {
    D.CreateDataSet();
    Add("a", "1");
    Add("b", "2");
    D.First();
    D.Append();
    D.FieldByName("K").SetAsText("z");
    D.Cancel();
    EXPECT_EQ(2, D.RowCount());
    EXPECT_EQ(1, D.RecNo());
    EXPECT_EQ("a", D.FieldByName("K").AsString());
}

TEST_F(TMemoryDataSetTest, EditStoresChangesAndCancelRestoresThem) {
    D.CreateDataSet();
    Add("a", "1");
    Add("b", "2");
    D.First();
    D.Edit();
    D.FieldByName("V").SetAsText("changed");
    EXPECT_EQ("changed", D.DisplayTextAt(0, 1)); // the grid shows the unsaved value
    EXPECT_EQ(1, D.RecNo());
    D.Cancel();
    EXPECT_EQ("1", D.FieldByName("V").AsString());
    D.Edit();
    D.FieldByName("V").SetAsText("changed");
    D.Post();
    EXPECT_EQ("changed 2", Column(1));
    D.Next(); // navigation stores a changed edit first
    D.Edit();
    D.FieldByName("V").SetAsText("x");
    D.First();
    EXPECT_EQ("changed x", Column(1));
}

TEST_F(TMemoryDataSetTest, EditOfAnIndexKeyMovesTheRowToItsNewPlace) {
    D.CreateDataSet();
    D.SetIndexName("ByK");
    Add("a", "1");
    Add("b", "2");
    Add("c", "3");
    D.First();
    Observe();
    D.Edit();
    D.FieldByName("K").SetAsText("d");
    D.Post();
    EXPECT_EQ("b c d", Column(0));
    EXPECT_EQ(3, D.RecNo());
    EXPECT_EQ("1", D.FieldByName("V").AsString());
    const std::vector<std::string> Expected{"state", "~0", "-?0", "-0", "+?2", "+2", "state", "@2"};
    EXPECT_EQ(Expected, Obs.Log);
}

TEST_F(TMemoryDataSetTest, DeleteRemovesTheCurrentRowAndTheNextBecomesCurrent) {
    D.CreateDataSet();
    test::ExpectErrorText<EDatabaseError>("Cannot perform this operation on an empty dataset",
                                          [&] { D.Delete(); });
    Add("a", "1");
    Add("b", "2");
    Add("c", "3");
    D.SetRecNo(2);
    D.Delete();
    EXPECT_EQ("a c", Column(0));
    EXPECT_EQ(2, D.RecNo());
    D.Delete(); // the last: the one before becomes current
    EXPECT_EQ(1, D.RecNo());
    EXPECT_EQ("a", D.FieldByName("K").AsString());
    D.Delete();
    EXPECT_EQ(0, D.RecordCount());
    EXPECT_EQ(-1, D.RecNo());
    EXPECT_TRUE(D.FieldByName("K").IsNull());
}

TEST_F(TMemoryDataSetTest, DeleteRowRemovesAStoredRowByIdentityEvenWhenNotCurrent) {
    D.CreateDataSet();
    Add("a", "1");
    D.Append();
    D.FieldByName("K").SetAsText("b");
    const TRowId B = D.Post();
    Add("c", "3");
    EXPECT_TRUE(D.DeleteRow(B));
    EXPECT_FALSE(D.DeleteRow(B)); // gone: the identity is not reused
    EXPECT_EQ("a c", Column(0));
    EXPECT_EQ(2, D.RecNo()); // c stays current
    Add("d", "4");           // reuses the slot; B still names nothing
    EXPECT_FALSE(D.DeleteRow(B));
    EXPECT_EQ("a c d", Column(0));
}

TEST_F(TMemoryDataSetTest, NavigationSetsEofAndBofAtTheEnds) {
    D.CreateDataSet();
    Add("a", "1");
    Add("b", "2");
    D.First();
    EXPECT_TRUE(D.Bof());
    EXPECT_FALSE(D.Eof());
    D.Next();
    EXPECT_EQ(2, D.RecNo());
    EXPECT_FALSE(D.Eof());
    D.Next();
    EXPECT_TRUE(D.Eof());
    EXPECT_EQ(2, D.RecNo());
    D.Prior();
    D.Prior();
    EXPECT_TRUE(D.Bof());
    EXPECT_EQ(1, D.RecNo());
    D.SetRecNo(5); // out of range: ignored
    EXPECT_EQ(1, D.RecNo());
    D.Last();
    EXPECT_TRUE(D.Eof());
    EXPECT_EQ(2, D.RecNo());
    // The usual scan visits every row once.
    std::string Seen;
    for (D.First(); !D.Eof(); D.Next())
        Seen += D.FieldByName("K").AsString();
    EXPECT_EQ("ab", Seen);
}

TEST_F(TMemoryDataSetTest, IndexPresentsAscendingAndKeepsEqualKeysInStoringOrder) {
    D.CreateDataSet();
    Add("b", "1");
    Add("a", "2");
    Add("b", "3");
    Add("", "4"); // null first
    Add("a", "5");
    EXPECT_EQ("1 2 3 4 5", Column(1)); // no index: the storing order
    D.SetIndexName("ByK");
    EXPECT_EQ("4 2 5 1 3", Column(1));
    Add("a", "6");
    EXPECT_EQ("4 2 5 6 1 3", Column(1));
    D.SetIndexName("");
    EXPECT_EQ("1 2 3 4 5 6", Column(1));
    EXPECT_THROW(D.SetIndexName("Missing"), EDatabaseError);
}

TEST_F(TMemoryDataSetTest, NoticesOfAppendAndPostFollowTheRowsPlace) {
    D.CreateDataSet();
    D.SetIndexName("ByK");
    Add("m", "1");
    Observe();
    D.Append();
    D.FieldByName("K").SetAsText("z");
    D.Post(); // stays where the pending row stood: one change notice
    D.Append();
    D.FieldByName("K").SetAsText("a");
    D.Post(); // moves to the top
    D.Append();
    D.Cancel();
    const std::vector<std::string> Expected{
        "+?1", "+1", "state", "@1", "~1",  "~1",  "state", "@1",                       // z
        "+?2", "+2", "state", "@2", "~2",  "-?2", "-2",    "+?0", "+0", "state", "@0", // a
        "+?3", "+3", "state", "@3", "-?3", "-3",  "state", "@0"};                      // cancelled
    EXPECT_EQ(Expected, Obs.Log);
}

TEST_F(TMemoryDataSetTest, EveryDataSourceHearsTheChanges) {
    D.CreateDataSet();
    TDataSource Second(&D);
    TRecordingObserver Other;
    Second.AddObserver(&Other);
    Observe();
    Add("a", "1");
    EXPECT_FALSE(Obs.Log.empty());
    EXPECT_EQ(Obs.Log, Other.Log);
    Second.RemoveObserver(&Other);
}

// Text fields: UTF-8 kept whole, cut before a character that would not fit.
struct TTextCase {
    const char* Name;
    std::string In;
    int Size;
    std::string Stored;
};

void PrintTo(const TTextCase& C, std::ostream* Os) {
    *Os << C.Name;
}

class TStringFieldCutTest : public ::testing::TestWithParam<TTextCase> {};

TEST_P(TStringFieldCutTest, KeepsAtMostItsSizeInBytesWithoutSplittingACharacter) {
    const TTextCase& C = GetParam();
    TMemoryDataSet D;
    D.FieldDefs().Add("T", TFieldType::ftString, C.Size);
    D.CreateDataSet();
    D.Append();
    D.FieldByName("T").SetAsText(C.In);
    D.Post();
    EXPECT_EQ(C.Stored, D.FieldByName("T").AsString());
    EXPECT_EQ(C.Stored, D.DisplayTextAt(0, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TStringFieldCutTest,
    ::testing::Values(TTextCase{"fits", "abc", 8, "abc"},
                      TTextCase{"exact", "12345678", 8, "12345678"},
                      TTextCase{"longer", "1234567890", 8, "12345678"},
                      TTextCase{"twoByteAcrossTheEnd", "abcdefg\xC3\xA9", 8, "abcdefg"},
                      TTextCase{"twoByteFits", "abcdef\xC3\xA9x", 8, "abcdef\xC3\xA9"},
                      TTextCase{"threeByte", "\xE8\x8F\x9C\xE5\x96\xAE\xE5\x90\x8D", 8,
                                "\xE8\x8F\x9C\xE5\x96\xAE"},
                      TTextCase{"fourByte", "a\xF0\x9F\x8D\x9C", 4, "a"},
                      TTextCase{"malformedBecomesReplacement",
                                "a\xFF"
                                "b",
                                8,
                                "a\xEF\xBF\xBD"
                                "b"},
                      TTextCase{"empty", "", 8, ""}),
    test::TCaseName{});

TEST_F(TMemoryDataSetTest, FloatFieldReadsTheProcessSeparatorAndEmptyIsNull) {
    D.CreateDataSet();
    TField& Q = D.FieldByName("Q");
    D.Append();
    Q.SetAsText("1.5");
    EXPECT_EQ(1.5, *static_cast<TFloatField&>(Q).AsFloat());
    Q.SetAsText("");
    EXPECT_TRUE(Q.IsNull());
    EXPECT_EQ("", Q.DisplayText());

    const test::TDecimalSeparatorScope Comma(u',');
    Q.SetAsText("2,25");
    EXPECT_EQ("2,25", Q.DisplayText());
    test::ExpectErrorText<EDatabaseError>("'1.5' is not a valid floating point value for field 'Q'",
                                          [&] { Q.SetAsText("1.5"); });
    EXPECT_EQ("2,25", Q.DisplayText()); // a failed assignment leaves the value
    EXPECT_THROW(Q.SetAsText("abc"), EDatabaseError);
}

TEST_F(TMemoryDataSetTest, CreatingAgainEmptiesTheTable) {
    D.CreateDataSet();
    Add("a", "1");
    Observe();
    D.CreateDataSet();
    EXPECT_EQ(0, D.RowCount());
    EXPECT_EQ("reset?", Obs.Log.front());
}

TEST_F(TMemoryDataSetTest, ADataSourceOutlivingItsDataSetIsDetached) {
    auto Inner = std::make_unique<TMemoryDataSet>();
    Inner->FieldDefs().Add("A", TFieldType::ftString, 2);
    Inner->CreateDataSet();
    TDataSource Src(Inner.get());
    struct TDetachSpy : TDataSetObserver {
        int Detached = 0;
        void DataSourceDetaching(TDataSource&) override { ++Detached; }
    } Spy;
    Src.AddObserver(&Spy);
    Inner.reset();
    EXPECT_EQ(nullptr, Src.DataSet());
    EXPECT_EQ(1, Spy.Detached);
    Src.RemoveObserver(&Spy);
}

} // namespace
} // namespace kds
