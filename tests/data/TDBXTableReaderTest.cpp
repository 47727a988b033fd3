#include "data/TDBXTableReader.h"

#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/TDBXMemoryTable.h"
#include "data/TDBXTableEntity.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "support/ExpectError.h"

using namespace kds;
namespace DT = TDBXDataTypes;
namespace EC = TDBXErrorCodes;

namespace {

// A one-column text table that counts its destruction.
class TCountingTable : public TDBXMemoryTable {
public:
    explicit TCountingTable(int& Destroyed) : TDBXMemoryTable(nullptr), FDestroyed(Destroyed) {
        SetTableName(u"Counted");
        auto Column = std::make_unique<TDBXValueType>();
        Column->SetName(u"Name");
        Column->SetDataType(DT::WideStringType);
        Column->SetSize(256);
        std::vector<std::unique_ptr<TDBXValueType>> Columns;
        Columns.push_back(std::move(Column));
        SetColumns(std::move(Columns));
    }
    ~TCountingTable() override { ++FDestroyed; }

    void Add(const std::u16string& Name) {
        Insert();
        Value(0).SetWideString(Name);
    }

private:
    int& FDestroyed;
};

std::unique_ptr<TCountingTable> TableOf(int& Destroyed, std::vector<std::u16string> Names) {
    auto Table = std::make_unique<TCountingTable>(Destroyed);
    for (const auto& N : Names)
        Table->Add(N);
    return Table;
}

std::vector<std::string> ReadAll(TDBXReader& Reader) {
    std::vector<std::string> Out;
    while (Reader.Next())
        Out.push_back(Utf16ToUtf8(Reader.Value(0).GetWideString()));
    return Out;
}

} // namespace

TEST(TDBXTableReaderTest, FirstNextAnswersTheTablesFirstTakenAtCreation) {
    int Destroyed = 0;
    auto Table = TableOf(Destroyed, {u"a", u"b", u"c"});
    // Inserting left the table on its last row; the reader starts from the
    // first all the same.
    ASSERT_EQ(Table->Index(), 2);
    TDBXTableReader Reader(std::move(Table));
    ASSERT_TRUE(Reader.Next());
    EXPECT_EQ(Reader.Value(0).GetWideString(), u"a");
    EXPECT_EQ(ReadAll(Reader), (std::vector<std::string>{"b", "c"}));
}

TEST(TDBXTableReaderTest, AReaderOfAnEmptyTableHasNoRowEvenWhenRowsComeLater) {
    int Destroyed = 0;
    TDBXTableReader Reader(TableOf(Destroyed, {}));
    // The table's First was false when the reader was made.
    static_cast<TCountingTable&>(Reader.Table()).Add(u"late");
    EXPECT_FALSE(Reader.Next());
    EXPECT_FALSE(Reader.Next());
    test::ExpectDBXError(EC::EOF_, "The reader is not on a row", [&] { Reader.Value(0); });
    EXPECT_EQ(Reader.ColumnCount(), 1);
}

TEST(TDBXTableReaderTest, WalksEveryRowOnceAndThenStaysAtTheEnd) {
    int Destroyed = 0;
    TDBXTableReader Reader(TableOf(Destroyed, {u"a", u"b", u"c"}));
    EXPECT_EQ(ReadAll(Reader), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(Reader.Next());
    test::ExpectDBXError(EC::EOF_, "The reader is not on a row", [&] { Reader.Value(0); });
}

TEST(TDBXTableReaderTest, ValuesAreTheCurrentRowsValuesOfTheTable) {
    int Destroyed = 0;
    TDBXTableReader Reader(TableOf(Destroyed, {u"a", u"b"}));
    test::ExpectDBXError(EC::EOF_, "The reader is not on a row", [&] { Reader.Value(0); });
    ASSERT_TRUE(Reader.Next());
    TDBXValue* FirstRow = &Reader.Value(0);
    EXPECT_EQ(FirstRow, &Reader.Table().Value(0));
    ASSERT_TRUE(Reader.Next());
    EXPECT_NE(&Reader.Value(0), FirstRow);
    EXPECT_EQ(Reader.Value(0).GetWideString(), u"b");
    // A change to the table's current row is what the reader shows.
    Reader.Table().Value(0).SetWideString(u"B");
    EXPECT_EQ(Reader.Value(0).GetWideString(), u"B");
}

TEST(TDBXTableReaderTest, ColumnsAreTheTablesColumns) {
    int Destroyed = 0;
    TDBXTableReader Reader(TableOf(Destroyed, {u"a"}));
    ASSERT_EQ(Reader.ColumnCount(), 1);
    EXPECT_EQ(&Reader.ValueType(0), &Reader.Table().Column(0));
    EXPECT_EQ(Reader.ValueType(0).Name(), u"Name");
    EXPECT_EQ(Reader.ValueType(0).DataType(), DT::WideStringType);
    test::ExpectDBXError(EC::InvalidOrdinal, "Table Counted has no column 1",
                         [&] { Reader.ValueType(1); });
    // A wrong column says so, on a row or off it.
    test::ExpectDBXError(EC::InvalidOrdinal, "Table Counted has no column 1",
                         [&] { Reader.Value(1); });
    Reader.Next();
    test::ExpectDBXError(EC::InvalidOrdinal, "Table Counted has no column -1",
                         [&] { Reader.Value(-1); });
}

TEST(TDBXTableReaderTest, HandleAndUpdateableDefaults) {
    int Destroyed = 0;
    TDBXTableReader Reader(TableOf(Destroyed, {}));
    EXPECT_EQ(Reader.RowHandle(), -1);
    Reader.SetRowHandle(3);
    EXPECT_EQ(Reader.RowHandle(), 3);
    EXPECT_FALSE(Reader.IsUpdateable());
}

TEST(TDBXTableReaderTest, CloseReleasesTheRowsEndsTheWalkAndKeepsTheColumns) {
    int Destroyed = 0;
    TDBXTableReader Reader(TableOf(Destroyed, {u"a", u"b"}));
    ASSERT_TRUE(Reader.Next());
    Reader.Close();
    EXPECT_EQ(Reader.Table().GetTableCount(), 0);
    EXPECT_FALSE(Reader.Next());
    test::ExpectDBXError(EC::EOF_, "The reader is not on a row", [&] { Reader.Value(0); });
    EXPECT_EQ(Reader.ValueType(0).Name(), u"Name");
    Reader.Close();
    EXPECT_EQ(Destroyed, 0);
}

TEST(TDBXTableReaderTest, DestroyingTheReaderFreesTheTable) {
    int Destroyed = 0;
    auto Reader = std::make_unique<TDBXTableReader>(TableOf(Destroyed, {u"a"}));
    EXPECT_EQ(Destroyed, 0);
    Reader.reset();
    EXPECT_EQ(Destroyed, 1);
}

TEST(TDBXTableReaderTest, AReaderValueThatOwnsTheReaderFreesReaderAndTable) {
    int Destroyed = 0;
    auto Type = std::make_unique<TDBXValueType>();
    Type->SetDataType(DT::TableType);
    auto Held = TDBXValue::CreateValue(std::move(Type));
    auto* Reader = new TDBXTableReader(TableOf(Destroyed, {u"a"}));
    Held->SetDBXReader(Reader, true);
    // Taking it out without ownership leaves it with the value.
    EXPECT_EQ(Held->GetDBXReader(), Reader);
    Held.reset();
    EXPECT_EQ(Destroyed, 1);

    auto Type2 = std::make_unique<TDBXValueType>();
    Type2->SetDataType(DT::TableType);
    auto Lent = TDBXValue::CreateValue(std::move(Type2));
    TDBXTableReader Own(TableOf(Destroyed, {}));
    Lent->SetDBXReader(&Own, false);
    Lent.reset();
    EXPECT_EQ(Destroyed, 1);
}

TEST(TDBXTableReaderTest, ATableReaderNeedsATable) {
    test::ExpectDBXError(EC::InvalidArgument, "A table reader needs a table",
                         [] { TDBXTableReader Reader(nullptr); });
}

// ---------------------------------------------------------------------------
// The entity's ownership of its table until a reader takes it.

TEST(TDBXTableEntityTest, AListingThatFailsWhileItIsBuiltFreesItsTable) {
    int Destroyed = 0;
    EXPECT_THROW(
        {
            TDBXTableEntity Entity(TableOf(Destroyed, {u"a"}));
            EXPECT_TRUE(Entity.OwnTable());
            Entity.Table().Insert();
            throw std::runtime_error("listing failed");
        },
        std::runtime_error);
    EXPECT_EQ(Destroyed, 1);
}

TEST(TDBXTableEntityTest, CreateReaderHandsTheTableToTheReader) {
    int Destroyed = 0;
    std::unique_ptr<TDBXTableReader> Reader;
    {
        TDBXTableEntity Entity(TableOf(Destroyed, {u"a", u"b"}));
        Reader = Entity.CreateReader();
        EXPECT_FALSE(Entity.OwnTable());
        EXPECT_EQ(&Entity.Table(), &Reader->Table());
        test::ExpectDBXError(EC::InvalidHandle, "Table Counted was handed over already",
                             [&] { Entity.TakeTable(); });
    }
    EXPECT_EQ(Destroyed, 0);
    EXPECT_EQ(ReadAll(*Reader), (std::vector<std::string>{"a", "b"}));
    Reader.reset();
    EXPECT_EQ(Destroyed, 1);
}

TEST(TDBXTableEntityTest, AnEntityNeedsATable) {
    test::ExpectDBXError(EC::InvalidArgument, "A table entity needs a table",
                         [] { TDBXTableEntity Entity(nullptr); });
}
