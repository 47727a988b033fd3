#include "app/DataSource.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/MemoryDataSet.h"

namespace kds {
namespace {

// Writes "<name>:<notice>" into a log shared by several observers, and runs
// an optional action inside a chosen notice.
class TLoggingObserver : public TDataSetObserver {
public:
    TLoggingObserver(std::string Name, std::vector<std::string>& Log)
        : FName(std::move(Name)), FLog(Log) {}

    std::function<void()> OnInserted; // run inside RowInserted, after logging
    std::function<void()> OnReset;    // run inside PresentationReset, after logging

    void RowInserted(TMemoryDataSet&, int Row) override {
        FLog.push_back(FName + ":+" + std::to_string(Row));
        if (OnInserted)
            OnInserted();
    }
    void PresentationReset(TMemoryDataSet&) override {
        FLog.push_back(FName + ":reset");
        if (OnReset)
            OnReset();
    }

private:
    std::string FName;
    std::vector<std::string>& FLog;
};

class TDataSourceTest : public ::testing::Test {
protected:
    TMemoryDataSet D{"D"};
    TDataSource S{&D};
    std::vector<std::string> Log;
    TLoggingObserver A{"A", Log};
    TLoggingObserver B{"B", Log};
    TLoggingObserver C{"C", Log};

    void SetUp() override {
        D.FieldDefs().Add("K", TFieldType::ftString, 4);
        D.CreateDataSet();
    }
    void TearDown() override {
        S.RemoveObserver(&A);
        S.RemoveObserver(&B);
        S.RemoveObserver(&C);
    }
    // Appends a row: observers hear RowInserted of its row.
    void AppendRow() {
        D.Append();
        Log.push_back("|");
    }
};

TEST_F(TDataSourceTest, PassesEachNoticeToEveryObserverOnceInTheOrderAdded) {
    S.AddObserver(&B);
    S.AddObserver(&A);
    S.AddObserver(&B); // once only
    AppendRow();
    EXPECT_EQ((std::vector<std::string>{"B:+0", "A:+0", "|"}), Log);
}

TEST_F(TDataSourceTest, ObserversChangedInsideANoticeTakeEffectForTheNextOne) {
    S.AddObserver(&A);
    S.AddObserver(&B);
    // A removes itself and B, and adds C, while it hears the notice.
    A.OnInserted = [&] {
        S.RemoveObserver(&A);
        S.RemoveObserver(&B);
        S.AddObserver(&C);
        EXPECT_TRUE(S.Notifying());
    };
    AppendRow();
    EXPECT_FALSE(S.Notifying());
    D.Cancel();
    A.OnInserted = nullptr;
    AppendRow();
    // B heard nothing once removed; C nothing of the notice it was added in.
    EXPECT_EQ((std::vector<std::string>{"A:+0", "|", "C:+0", "|"}), Log);
    // A removed and added again inside a notice comes back at the end.
    D.Cancel();
    S.AddObserver(&A);
    bool ReAdded = false; // once: were it heard again, it must not go round for ever
    C.OnInserted = [&] {
        if (std::exchange(ReAdded, true))
            return;
        S.RemoveObserver(&C);
        S.AddObserver(&C);
    };
    Log.clear();
    AppendRow();
    C.OnInserted = nullptr;
    D.Cancel();
    AppendRow();
    EXPECT_EQ((std::vector<std::string>{"C:+0", "A:+0", "|", "A:+0", "C:+0", "|"}), Log);
}

TEST_F(TDataSourceTest, AnObserverThatThrowsLeavesTheSourceReadyForTheNextNotice) {
    S.AddObserver(&A);
    S.AddObserver(&B);
    S.AddObserver(&C);
    B.OnInserted = [] { throw std::runtime_error("observer failed"); };
    EXPECT_THROW(D.Append(), std::runtime_error);
    EXPECT_FALSE(S.Notifying());
    EXPECT_EQ((std::vector<std::string>{"A:+0", "B:+0"}), Log);

    // Removals are carried out at once again, and every notice reaches the
    // observers left, once each.
    B.OnInserted = nullptr;
    D.Cancel();
    S.RemoveObserver(&A);
    Log.clear();
    A.OnInserted = [&] { ADD_FAILURE() << "A was removed"; };
    C.OnInserted = [&] { S.RemoveObserver(&B); };
    AppendRow();
    D.Cancel();
    AppendRow();
    EXPECT_EQ((std::vector<std::string>{"B:+0", "C:+0", "|", "C:+0", "|"}), Log);
}

// A throw from deep inside: the detail's observer fails while the master's
// move is being passed on. Both sources must be ready again.
TEST_F(TDataSourceTest, AThrowFromANestedNoticeLeavesBothSourcesReady) {
    TMemoryDataSet L{"L"};
    TDataSource Ls{&L};
    L.FieldDefs().Add("LK", TFieldType::ftString, 4);
    L.IndexDefs().Add("Key", "LK");
    L.SetIndexName("Key");
    L.SetMasterSource(&S);
    L.CreateDataSet();
    for (const char* Key : {"1", "2"}) { // a line for each header
        L.Append();
        L.FieldByName("LK").SetAsText(Key);
        L.Post();
    }
    L.SetMasterFields("K");
    D.Append();
    D.FieldByName("K").SetAsText("1");
    D.Post();
    D.Append();
    D.FieldByName("K").SetAsText("2");
    D.Post();

    TLoggingObserver Grid{"grid", Log};
    Ls.AddObserver(&Grid);
    bool Fail = true;
    Grid.OnReset = [&] {
        EXPECT_TRUE(S.Notifying());
        EXPECT_TRUE(Ls.Notifying());
        if (Fail)
            throw std::runtime_error("grid failed");
    };
    EXPECT_THROW(D.First(), std::runtime_error);
    EXPECT_FALSE(S.Notifying());
    EXPECT_FALSE(Ls.Notifying());

    Fail = false;
    Ls.AddObserver(&A);
    Log.clear();
    D.Last();
    EXPECT_EQ((std::vector<std::string>{"grid:reset", "A:reset"}), Log);
    Ls.RemoveObserver(&Grid);
    Ls.RemoveObserver(&A);
    L.SetMasterSource(nullptr);
}

} // namespace
} // namespace kds
