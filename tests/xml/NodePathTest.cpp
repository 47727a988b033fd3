#include "xml/NodePath.h"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

#include "XmlTestPrint.h"
#include "support/ExpectError.h"
#include "xml/TKivoXmlParse.h"

namespace kds {
namespace {

// Order holds a first Detail with two items (the second carrying no="5"), a
// second Detail with three items, and a header with TA001 = 12. Every item
// names itself in its "id" attribute so that tests can tell which was found.
const char* const OrderDoc = "<Order>"
                             "<Detail><item id='d1i0'/><item id='d1i1' no='5'/></Detail>"
                             "<Detail><item id='d2i0'/><item id='d2i1'/><item id='d2i2'/></Detail>"
                             "<header><TA001>12</TA001></header>"
                             "</Order>";

class NodePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        FDoc = ParseDocumentText(OrderDoc);
        FOrder = FDoc.DocumentElement();
    }
    // Which node a path found: the item's id, else its name, else "null".
    static std::string Describe(const TXmlNode& N) {
        if (N.IsNull())
            return "null";
        const TXmlNode Id = N.Attribute("id");
        return Id ? Id.NodeValue() : N.NodeName();
    }
    TXmlNode FirstItem() const { return FindPathNode(FOrder, "Detail\\item"); }

    TXmlDocument FDoc;
    TXmlNode FOrder;
};

struct TSelectCase {
    const char* Path;
    const char* Expect; // Describe() of the node found
};

void PrintTo(const TSelectCase& C, std::ostream* Os) {
    *Os << '"' << C.Path << "\" -> " << C.Expect;
}

class NodePathSelectTest : public NodePathTest,
                           public ::testing::WithParamInterface<TSelectCase> {};

TEST_P(NodePathSelectTest, SelectsFromOrder) {
    EXPECT_EQ(Describe(FindPathNode(FOrder, GetParam().Path)), GetParam().Expect);
}

INSTANTIATE_TEST_SUITE_P(
    OrderDocument, NodePathSelectTest,
    ::testing::Values(
        TSelectCase{"header\\TA001", "TA001"}, TSelectCase{"Order\\header\\TA001", "TA001"},
        TSelectCase{"Detail\\item", "d1i0"},
        // The first Detail has no third item: the walk backtracks.
        TSelectCase{"Detail\\item[2]", "d2i2"}, TSelectCase{"Detail[0]\\item[2]", "null"},
        TSelectCase{"Detail[1]\\item[2]", "d2i2"}, TSelectCase{"Detail[2]\\item", "null"},
        TSelectCase{"item", "null"}, TSelectCase{"Detail\\item[*]", "d1i0"},
        TSelectCase{"Detail[*]\\item[2]", "null"},
        // A first step with an index is never the start node itself.
        TSelectCase{"Order[0]\\header", "null"}, TSelectCase{"detail", "null"},
        TSelectCase{"Detail\\Item", "null"}, TSelectCase{"", "Order"},
        TSelectCase{"\\\\header\\\\TA001\\", "TA001"}, TSelectCase{"\\\\", "Order"},
        TSelectCase{"Detail\\item\\..\\..\\header\\TA001", "TA001"}, TSelectCase{"..", "#document"},
        TSelectCase{"[0]", "null"}, TSelectCase{"header\\TA001\\#text", "#text"}),
    [](const ::testing::TestParamInfo<TSelectCase>& Info) {
        return "Case" + std::to_string(Info.index);
    });

TEST_F(NodePathTest, SameNodeWhetherOrNotThePathNamesTheStart) {
    EXPECT_EQ(FindPathNode(FOrder, "header\\TA001"), FindPathNode(FOrder, "Order\\header\\TA001"));
    EXPECT_EQ(FindPathNode(FOrder, "header\\TA001").FirstChild().NodeValue(), "12");
}

TEST_F(NodePathTest, WalksFromAnItemToItselfItsParentAndBackUp) {
    const TXmlNode Item = FirstItem();
    EXPECT_EQ(FindPathNode(Item, "item"), Item);
    EXPECT_EQ(FindPathNode(Item, ".."), FindPathNode(FOrder, "Detail[0]"));
    EXPECT_EQ(Describe(FindPathNode(Item, "..\\..\\header")), "header");
}

TEST_F(NodePathTest, AttributeStepSelectsTheAttributeOfTheWholePath) {
    const TXmlNode No = FindPathNode(FOrder, "Detail\\item[1]@no");
    ASSERT_FALSE(No.IsNull());
    EXPECT_EQ(No.NodeType(), TXmlNodeType::Attribute);
    EXPECT_EQ(No.NodeName(), "no");
    EXPECT_EQ(No.NodeValue(), "5");
    const TXmlNode Item = FindPathNode(FOrder, "Detail\\item[1]");
    EXPECT_EQ(FindPathNode(Item, "@no"), No);
    // Written on an earlier step, the attribute still applies to the end node.
    EXPECT_EQ(Describe(FindPathNode(FOrder, "Detail@id\\item[1]").ParentNode()), "null");
    EXPECT_EQ(FindPathNode(FOrder, "Detail@id\\item[1]").NodeValue(), "d1i1");
    EXPECT_TRUE(FindPathNode(FOrder, "Detail\\item[0]@no").IsNull());
    EXPECT_TRUE(FindPathNode(FOrder, "Detail\\item@missing").IsNull());
}

TEST_F(NodePathTest, NamesMatchByLocalOrFullNameButAPrefixedStepOnlyByFullName) {
    const TXmlDocument Doc = ParseDocumentText("<r xmlns:x='u'><x:b>1</x:b><b>2</b></r>");
    const TXmlNode R = Doc.DocumentElement();
    EXPECT_EQ(FindPathNode(R, "b").FirstChild().NodeValue(), "1");
    EXPECT_EQ(FindPathNode(R, "b[1]").FirstChild().NodeValue(), "2");
    EXPECT_EQ(FindPathNode(R, "x:b").FirstChild().NodeValue(), "1");
    EXPECT_TRUE(FindPathNode(R, "x:b[1]").IsNull());
    EXPECT_EQ(FindPathNode(R, "b\\#text").NodeValue(), "1");
}

TEST_F(NodePathTest, StartNodeIsRecognisedByItsNameWithoutPrefix) {
    const TXmlDocument Doc = ParseDocumentText("<k:Order xmlns:k='u'><header/><Order/></k:Order>");
    const TXmlNode Root = Doc.DocumentElement();
    EXPECT_EQ(FindPathNode(Root, "Order\\header").NodeName(), "header");
    // "k:Order" as written is not the start node's name without prefix.
    EXPECT_TRUE(FindPathNode(Root, "k:Order\\header").IsNull());
}

TEST_F(NodePathTest, NonNumericIndexRaisesTheConversionError) {
    test::ExpectErrorText<EXmlConvertError>("''x1'' is not a valid integer value",
                                            [&] { FindPathNode(FOrder, "Detail[x1]\\item"); });
    EXPECT_THROW(EnsurePathNode(FOrder, "Detail[]"), EXmlConvertError);
    EXPECT_THROW(FindPathNode(FOrder, "Detail[99999999999]"), EXmlConvertError);
}

TEST_F(NodePathTest, CreatesAMissingElementAsTheLastChild) {
    const TXmlNode TableNo = LocateNode(FOrder, "header\\TableNo", true);
    ASSERT_FALSE(TableNo.IsNull());
    EXPECT_EQ(TableNo.NodeName(), "TableNo");
    EXPECT_EQ(TableNo.ParentNode().NodeName(), "header");
    EXPECT_TRUE(TableNo.NextSibling().IsNull());
    EXPECT_EQ(FOrder.Markup().find("<header><TA001>12</TA001><TableNo/></header>") !=
                  std::string::npos,
              true)
        << FOrder.Markup();
}

TEST_F(NodePathTest, CreatesOneElementHoweverLargeTheIndex) {
    const TXmlNode X = LocateNode(FOrder, "Detail[5]\\x", true);
    ASSERT_FALSE(X.IsNull());
    EXPECT_EQ(X.NodeName(), "x");
    const TXmlNode NewDetail = X.ParentNode();
    EXPECT_EQ(NewDetail.NodeName(), "Detail");
    EXPECT_EQ(NewDetail.ParentNode(), FOrder);
    EXPECT_TRUE(NewDetail.NextSibling().IsNull());
    EXPECT_EQ(NewDetail.Markup(), "<Detail><x/></Detail>");
    EXPECT_EQ(FOrder.ChildNodes().size(), 4u);
}

TEST_F(NodePathTest, LocateFindsBeforeItCreates) {
    const TXmlNode Existing = FindPathNode(FOrder, "Detail\\item[2]");
    EXPECT_EQ(LocateNode(FOrder, "Detail\\item[2]", true), Existing);
    EXPECT_EQ(FOrder.ChildNodes().size(), 3u);
    // Creation takes the first Detail and counts its items from 0.
    const TXmlNode Made = EnsurePathNode(FOrder, "Detail\\item[2]@ignored");
    EXPECT_EQ(Made.ParentNode(), FindPathNode(FOrder, "Detail[0]"));
    EXPECT_EQ(Made.NodeType(), TXmlNodeType::Element);
}

TEST_F(NodePathTest, CreationRefusesAnInvalidElementName) {
    EXPECT_THROW(EnsurePathNode(FOrder, "header\\.."), EXmlDomError);
    EXPECT_THROW(EnsurePathNode(FOrder, "header\\1abc"), EXmlDomError);
    EXPECT_TRUE(EnsurePathNode(FOrder, "\\\\").IsNull());
    EXPECT_EQ(EnsurePathNode(FOrder, "Order"), FOrder);
}

TEST_F(NodePathTest, ClimbingPathsOverWideLevelsFinishQuickly) {
    // Without remembering failed (node, step) pairs this path would try
    // 200^20 combinations.
    std::string Text = "<r>";
    for (int I = 0; I < 200; ++I)
        Text += "<a/>";
    Text += "</r>";
    const TXmlDocument Doc = ParseDocumentText(Text);
    std::string Path;
    for (int I = 0; I < 20; ++I)
        Path += "a\\..\\";
    Path += "missing";
    EXPECT_TRUE(FindPathNode(Doc.DocumentElement(), Path).IsNull());
}

TEST_F(NodePathTest, RefusesAbsurdlyLongPaths) {
    std::string Path;
    for (std::size_t I = 0; I <= MaxPathSteps; ++I)
        Path += "a\\";
    EXPECT_THROW(FindPathNode(FOrder, Path), EXmlDomError);
    EXPECT_THROW(EnsurePathNode(FOrder, Path), EXmlDomError);
}

struct TSplitCase {
    const char* Step;
    const char* Name;
    bool HasIndex;
    bool Any;
    int Index;
    bool HasAttribute;
    const char* Attribute;
};

void PrintTo(const TSplitCase& C, std::ostream* Os) {
    *Os << '"' << C.Step << '"';
}

class SplitPathStepTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitPathStepTest, TakesTheStepApart) {
    const TSplitCase& C = GetParam();
    const TPathStep S = SplitPathStep(C.Step, std::nullopt);
    EXPECT_EQ(S.Name, C.Name);
    EXPECT_EQ(S.HasIndex, C.HasIndex);
    EXPECT_EQ(S.AnyIndex, C.Any);
    if (C.HasIndex && !C.Any) {
        EXPECT_EQ(S.Index, C.Index);
    }
    EXPECT_EQ(S.HasAttribute, C.HasAttribute);
    EXPECT_EQ(S.Attribute, C.Attribute);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SplitPathStepTest,
    ::testing::Values(TSplitCase{"item", "item", false, false, 0, false, ""},
                      TSplitCase{"item[2]", "item", true, false, 2, false, ""},
                      TSplitCase{"item[*]", "item", true, true, 0, false, ""},
                      TSplitCase{"item[-2]", "item", true, false, -2, false, ""},
                      TSplitCase{"item[$1F]", "item", true, false, 31, false, ""},
                      TSplitCase{"item[1]@no", "item", true, false, 1, true, "no"},
                      TSplitCase{"@id", "", false, false, 0, true, "id"},
                      TSplitCase{"a@b@c", "a", false, false, 0, true, "b@c"},
                      TSplitCase{"a[3", "a", true, false, 3, false, ""},
                      TSplitCase{"a[3]tail", "a", true, false, 3, false, ""},
                      TSplitCase{"a@x[1]", "a", false, false, 0, true, "x[1]"}),
    [](const ::testing::TestParamInfo<TSplitCase>& Info) {
        return "Case" + std::to_string(Info.index);
    });

TEST(PathStepsTest, DropsEmptySteps) {
    EXPECT_EQ(PathSteps("\\a\\\\b[1]\\"), (std::vector<std::string>{"a", "b[1]"}));
    EXPECT_TRUE(PathSteps("").empty());
    EXPECT_TRUE(PathSteps("\\\\\\").empty());
}

TEST(PathStepsTest, DefaultIndexAppliesOnlyWithoutBrackets) {
    const TPathStep Created = SplitPathStep("item", 0);
    EXPECT_TRUE(Created.HasIndex);
    EXPECT_EQ(Created.Index, 0);
    EXPECT_EQ(SplitPathStep("item[4]", 0).Index, 4);
}

} // namespace
} // namespace kds
