#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/MemoryDataSet.h"

namespace kds {
namespace {

// Counts the notices a grid over the detail would get.
class TCountingObserver : public TDataSetObserver {
public:
    int Resets = 0;
    int Any = 0;
    void PresentationReset(TMemoryDataSet&) override {
        ++Resets;
        ++Any;
    }
    void RowInserted(TMemoryDataSet&, int) override { ++Any; }
    void RowRemoved(TMemoryDataSet&, int) override { ++Any; }
    void RowChanged(TMemoryDataSet&, int) override { ++Any; }
    void CurrentRowChanged(TMemoryDataSet&, int, int) override { ++Any; }
};

// Keeps a copy of what a grid shows, updated from the notices alone, the way
// a table model over the dataset would.
class TShadowModel : public TDataSetObserver {
public:
    std::vector<std::string> Rows;
    int Current = -1;

    static std::string RowText(TMemoryDataSet& D, int Row) {
        std::string T;
        for (int F = 0; F < D.FieldCount(); ++F)
            T += D.DisplayTextAt(Row, F) + "|";
        return T + std::to_string(D.RecNoAt(Row));
    }
    void Load(TMemoryDataSet& D) {
        Rows.clear();
        for (int R = 0; R < D.RowCount(); ++R)
            Rows.push_back(RowText(D, R));
        Current = D.CurrentRow();
    }
    void RowInserted(TMemoryDataSet& D, int Row) override {
        Rows.insert(Rows.begin() + Row, RowText(D, Row));
        // Rows after it have moved: their row numbers (RecNo) changed.
        for (std::size_t R = static_cast<std::size_t>(Row) + 1; R < Rows.size(); ++R)
            Rows[R] = RowText(D, static_cast<int>(R));
    }
    void RowRemoved(TMemoryDataSet& D, int Row) override {
        Rows.erase(Rows.begin() + Row);
        for (std::size_t R = static_cast<std::size_t>(Row); R < Rows.size(); ++R)
            Rows[R] = RowText(D, static_cast<int>(R));
    }
    void RowChanged(TMemoryDataSet& D, int Row) override {
        Rows.at(static_cast<std::size_t>(Row)) = RowText(D, Row);
    }
    void PresentationReset(TMemoryDataSet& D) override { Load(D); }
    void CurrentRowChanged(TMemoryDataSet&, int, int NewRow) override { Current = NewRow; }
};

// Headers M (key A, B) and lines L (key A, B, then a name), L linked to M.
class TMasterLinkTest : public ::testing::Test {
protected:
    TMemoryDataSet M{"M"};
    TMemoryDataSet L{"L"};
    TDataSource Ms{&M};
    TDataSource Ls{&L};
    TCountingObserver Grid;

    void SetUp() override {
        M.FieldDefs().Add("A", TFieldType::ftString, 4);
        M.FieldDefs().Add("B", TFieldType::ftString, 4);
        L.FieldDefs().Add("LA", TFieldType::ftString, 4);
        L.FieldDefs().Add("LB", TFieldType::ftString, 4);
        L.FieldDefs().Add("Name", TFieldType::ftString, 10);
        L.IndexDefs().Add("Key", "LA;LB");
        L.SetIndexName("Key");
        L.SetMasterSource(&Ms);
        M.CreateDataSet();
        L.CreateDataSet();
        Ls.AddObserver(&Grid);
    }
    void TearDown() override { Ls.RemoveObserver(&Grid); }

    void Header(const std::string& A, const std::string& B) {
        M.Append();
        M.FieldByName("A").SetAsText(A);
        M.FieldByName("B").SetAsText(B);
        M.Post();
    }
    void Line(const std::string& A, const std::string& B, const std::string& Name) {
        L.Append();
        L.FieldByName("LA").SetAsText(A);
        L.FieldByName("LB").SetAsText(B);
        L.FieldByName("Name").SetAsText(Name);
        L.Post();
    }
    std::string Names() const {
        std::string Out;
        for (int R = 0; R < L.RowCount(); ++R)
            Out += (R ? " " : "") + L.DisplayTextAt(R, 2);
        return Out;
    }
};

TEST_F(TMasterLinkTest, UnlinkedDetailPresentsEveryLineInIndexOrder) {
    Header("1", "x");
    Line("2", "x", "two");
    Line("1", "x", "one");
    EXPECT_EQ("one two", Names());
    EXPECT_FALSE(L.MasterLinkActive());
}

TEST_F(TMasterLinkTest, LinkedDetailFollowsTheMastersCurrentRow) {
    Header("1", "x");
    Header("2", "x");
    Line("1", "x", "a");
    Line("2", "x", "b");
    Line("1", "y", "c");
    Line("1", "x", "d");
    L.SetMasterFields("A;B");
    EXPECT_EQ("b", Names()); // the current header is the last one stored
    M.First();
    EXPECT_EQ("a d", Names());
    EXPECT_EQ(1, L.RecNo());
    M.Next();
    EXPECT_EQ("b", Names());
    // Lines stored while linked appear at once when they belong to the header.
    Line("2", "x", "e");
    Line("9", "9", "hidden");
    EXPECT_EQ("b e", Names());
    EXPECT_EQ(4, L.StoredRecordCount() - 2);
}

TEST_F(TMasterLinkTest, DetailFollowsEditsOfTheMastersKeyFields) {
    Header("1", "x");
    Line("1", "x", "a");
    Line("2", "x", "b");
    L.SetMasterFields("A;B");
    EXPECT_EQ("a", Names());
    M.Edit();
    M.FieldByName("A").SetAsText("2");
    EXPECT_EQ("b", Names()); // already while the header is being edited
    M.Cancel();
    EXPECT_EQ("a", Names());
}

TEST_F(TMasterLinkTest, AppendTakesTheKeyOfTheMastersCurrentRowIncludingAPendingOne) {
    Header("1", "x");
    L.SetMasterFields("A;B");
    L.Append();
    EXPECT_EQ("1", L.FieldByName("LA").AsString());
    EXPECT_EQ("x", L.FieldByName("LB").AsString());
    EXPECT_FALSE(L.Modified()); // taken from the master, not set: dropped by the rule
    L.Cancel();

    M.Append();
    M.FieldByName("A").SetAsText("7");
    EXPECT_EQ("", Names()); // the pending header has no lines yet
    L.Append();
    EXPECT_EQ("7", L.FieldByName("LA").AsString());
    EXPECT_EQ("", L.FieldByName("LB").AsString());
    L.FieldByName("Name").SetAsText("n");
    L.Post();
    EXPECT_EQ("n", Names());
    M.Post();
    EXPECT_EQ("n", Names());
}

TEST_F(TMasterLinkTest, SettingTheSameFieldListAgainChangesNothing) {
    Header("1", "x");
    Line("1", "x", "a");
    Line("1", "x", "b");
    L.SetMasterFields("A;B");
    L.Last();
    const int Resets = Grid.Resets;
    const int Any = Grid.Any;
    L.SetMasterFields("A;B");
    EXPECT_EQ(Resets, Grid.Resets);
    EXPECT_EQ(Any, Grid.Any);
    EXPECT_EQ(2, L.RecNo()); // the current line stays
}

TEST_F(TMasterLinkTest, MasterChangesThatKeepTheKeyDoNotResetTheDetail) {
    M.FieldDefs().Add("Other", TFieldType::ftString, 4);
    M.CreateDataSet();
    Header("1", "x");
    Line("1", "x", "a");
    L.SetMasterFields("A;B");
    const int Resets = Grid.Resets;
    M.Edit();
    M.FieldByName("Other").SetAsText("q");
    M.Post();
    EXPECT_EQ(Resets, Grid.Resets);
    // A new header shows its own (still empty) key while it is filled in; its
    // Post then keeps the key and so the lines.
    M.Append();
    M.FieldByName("A").SetAsText("1");
    M.FieldByName("B").SetAsText("x");
    EXPECT_EQ("a", Names());
    const int ResetsBeforePost = Grid.Resets;
    M.Post();
    EXPECT_EQ(ResetsBeforePost, Grid.Resets);
    EXPECT_EQ("a", Names());
}

// A header being typed in changes its key at every key field; while no line
// matches, the detail shows nothing before and after each change, and a grid
// over it has nothing to redraw. Once the key matches lines, they come.
TEST_F(TMasterLinkTest, ADetailThatShowsNothingBeforeAndAfterHearsNothing) {
    Header("1", "x");
    Line("1", "x", "a");
    Line("2", "y", "b");
    L.SetMasterFields("A;B");
    M.Append(); // the pending header: its empty key matches no line
    EXPECT_EQ("", Names());
    const int Resets = Grid.Resets;
    const int Any = Grid.Any;
    M.FieldByName("A").SetAsText("2");
    M.FieldByName("B").SetAsText("x"); // 2/x: still no line
    EXPECT_EQ("", Names());
    EXPECT_EQ(Resets, Grid.Resets);
    EXPECT_EQ(Any, Grid.Any);
    M.FieldByName("B").SetAsText("y");
    EXPECT_EQ("b", Names());
    EXPECT_EQ(Resets + 1, Grid.Resets);
    // A line appended for the pending header is shown and stays with it.
    L.Append();
    L.FieldByName("Name").SetAsText("c");
    L.Post();
    EXPECT_EQ("b c", Names());
    M.Post();
    EXPECT_EQ("b c", Names());
    M.First();
    EXPECT_EQ("a", Names());
}

TEST_F(TMasterLinkTest, EmptyMasterPresentsNoLinesAndUnlinkingShowsAllAgain) {
    Line("1", "x", "a");
    L.SetMasterFields("A;B");
    EXPECT_EQ(0, L.RowCount());
    L.SetMasterFields("");
    EXPECT_EQ("a", Names());
}

TEST_F(TMasterLinkTest, ALinkNeedsEnoughIndexFieldsAndKnownMasterFields) {
    EXPECT_THROW(L.SetMasterFields("A;B;A"), EDatabaseError);
    EXPECT_THROW(L.SetMasterFields("A;Nope"), EDatabaseError);
    EXPECT_EQ("", L.MasterFields());
    L.SetMasterFields("A");
    EXPECT_THROW(L.SetIndexName(""), EDatabaseError);
    EXPECT_EQ("Key", L.IndexName());
}

TEST_F(TMasterLinkTest, PendingDetailLineIsSettledWhenTheMasterMoves) {
    Header("1", "x");
    Header("2", "x");
    L.SetMasterFields("A;B");
    L.Append();
    L.FieldByName("Name").SetAsText("typed");
    M.First(); // the line typed for header 2 is stored, not lost
    EXPECT_EQ(TDataSetState::dsBrowse, L.State());
    M.Last();
    EXPECT_EQ("typed", Names());
}

TEST_F(TMasterLinkTest, DestroyingTheMasterSourceUnlinksTheDetail) {
    auto Src = std::make_unique<TDataSource>(&M);
    L.SetMasterSource(Src.get());
    L.SetMasterFields("A;B");
    Line("1", "x", "a");
    EXPECT_EQ(0, L.RowCount());
    Src.reset();
    EXPECT_EQ(nullptr, L.MasterSource());
    EXPECT_EQ("a", Names());
}

TEST_F(TMasterLinkTest, LinkIsOutOfForceWhileTheMasterSourceHasNoDataSet) {
    Header("1", "x");
    Line("1", "x", "a");
    Line("2", "x", "b");
    L.SetMasterFields("A;B");
    EXPECT_EQ("a", Names());
    Ms.SetDataSet(nullptr);
    EXPECT_EQ("a b", Names());
    EXPECT_EQ(&Ms, L.MasterSource()); // still the source, waiting for a dataset
    Ms.SetDataSet(&M);
    EXPECT_EQ("a", Names());
}

TEST_F(TMasterLinkTest, NoticesAloneKeepAGridsCopyOfTheDetailRight) {
    TShadowModel Shadow;
    Ls.AddObserver(&Shadow);
    Shadow.Load(L);
    TShadowModel Actual;
    auto Same = [&](const char* Step) {
        Actual.Load(L);
        EXPECT_EQ(Actual.Rows, Shadow.Rows) << Step;
        EXPECT_EQ(L.CurrentRow(), Shadow.Current) << Step;
    };
    Header("1", "x");
    Header("2", "x");
    Line("1", "x", "a");
    Same("unlinked line");
    L.SetMasterFields("A;B");
    Same("linked");
    Line("2", "x", "b");
    Line("2", "x", "c");
    L.Append();
    L.FieldByName("Name").SetAsText("typed");
    Same("pending");
    L.Cancel();
    Same("cancelled");
    L.First();
    L.Edit();
    L.FieldByName("LA").SetAsText("1"); // moves the line to header 1: hidden here
    L.Post();
    Same("edit hides");
    M.First();
    Same("master moved");
    L.Last();
    L.Delete();
    Same("deleted");
    Line("1", "x", "0");
    Same("stored");
    const TRowId Hidden = L.RowIdAt(0);
    M.Last();
    EXPECT_TRUE(L.DeleteRow(Hidden));
    Same("deleted elsewhere");
    M.Edit();
    M.FieldByName("A").SetAsText("1");
    Same("master key edited");
    M.Post();
    M.Append();
    Same("new header");
    M.FieldByName("A").SetAsText("9");
    Same("new header, no line yet");
    M.FieldByName("A").SetAsText("1");
    M.FieldByName("B").SetAsText("x");
    Same("new header's key matches lines");
    M.Cancel();
    Same("new header dropped");
    Ls.RemoveObserver(&Shadow);
}

} // namespace
} // namespace kds
