#include "xml/TKivoXmlParse.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

#include "XmlTestPrint.h"
#include "support/ExpectError.h"
#include "support/TempDir.h"

namespace kds {
namespace {

// Root a holding two b elements with the texts 1 and 2.
const char* const AbDoc = "<a><b>1</b><b>2</b></a>";

std::string Saved(const TKivoXmlParse& Cursor) {
    std::ostringstream Out;
    EXPECT_TRUE(Cursor.SaveTo(Out));
    return Out.str();
}

std::vector<std::string> ChildNames(const TKivoXmlParse& Cursor) {
    std::vector<std::string> List{"stale"};
    Cursor.GetNodeList(List);
    return List;
}

TEST(TKivoXmlParseTest, CursorWithoutDocumentReadsEmptyAndDoesNotMove) {
    kds::test::TTempDir Dir;
    for (auto& Cursor : {TKivoXmlParse::LoadXMLFromFile((Dir.Path() / "missing.xml").string()),
                         TKivoXmlParse::LoadXMLFromFile(Dir.Path().string()), // a folder
                         TKivoXmlParse::LoadXMLFromString(""), std::make_unique<TKivoXmlParse>()}) {
        EXPECT_TRUE(Cursor->IsEmpty());
        EXPECT_EQ(Cursor->RootName(), "");
        EXPECT_FALSE(Cursor->MoveTo("a"));
        EXPECT_FALSE(Cursor->MoveTo("", true));
        EXPECT_FALSE(Cursor->GoRoot());
        EXPECT_FALSE(Cursor->MoveUp());
        EXPECT_FALSE(Cursor->MoveSibling());
        EXPECT_FALSE(Cursor->IsExistNode("a"));
        EXPECT_EQ(Cursor->GetNodeValue("a"), "");
        EXPECT_EQ(Cursor->Value(), "");
        EXPECT_EQ(Cursor->Text(), "");
        EXPECT_EQ(Cursor->Encoding(), "");
        EXPECT_EQ(Cursor->Name(), "");
        EXPECT_TRUE(Cursor->Node().IsNull());
        EXPECT_TRUE(ChildNames(*Cursor).empty());
        Cursor->AddNode("x", "1");
        Cursor->AddSibling();
        Cursor->SetValue("v");
        Cursor->SetEncoding("UTF-8");
        EXPECT_TRUE(Cursor->IsEmpty());
        std::ostringstream Out;
        EXPECT_FALSE(Cursor->SaveTo(Out));
        EXPECT_FALSE(Cursor->SaveTo((Dir.Path() / "out.xml").string()));
        EXPECT_FALSE(std::filesystem::exists(Dir.Path() / "out.xml"));
    }
}

TEST(TKivoXmlParseTest, MovesToSecondSiblingAndStaysAtTheLast) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString(AbDoc);
    EXPECT_EQ(Cursor->Node().NodeName(), "a");
    EXPECT_EQ(Cursor->RootName(), "a");
    ASSERT_TRUE(Cursor->MoveTo("b"));
    EXPECT_EQ(Cursor->Value(), "1");
    EXPECT_TRUE(Cursor->MoveSibling());
    EXPECT_EQ(Cursor->Value(), "2");
    EXPECT_FALSE(Cursor->MoveSibling());
    EXPECT_EQ(Cursor->Value(), "2");
    EXPECT_TRUE(Cursor->MoveUp());
    EXPECT_EQ(Cursor->Node().NodeName(), "a");
}

TEST(TKivoXmlParseTest, FailedMoveEmptiesTheCursorAndTheNextStartsFromTheRoot) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString(AbDoc);
    ASSERT_TRUE(Cursor->MoveTo("b"));
    EXPECT_FALSE(Cursor->MoveTo("c"));
    EXPECT_TRUE(Cursor->IsEmpty());
    EXPECT_EQ(Cursor->Value(), "");
    EXPECT_FALSE(Cursor->MoveUp());
    EXPECT_TRUE(Cursor->MoveTo("b"));
    EXPECT_EQ(Cursor->Value(), "1");
    // From a b, "b" is that b itself; FromRoot starts again from a.
    ASSERT_TRUE(Cursor->MoveSibling());
    EXPECT_TRUE(Cursor->MoveTo("b"));
    EXPECT_EQ(Cursor->Value(), "2");
    EXPECT_TRUE(Cursor->MoveTo("b", true));
    EXPECT_EQ(Cursor->Value(), "1");
}

TEST(TKivoXmlParseTest, MovesUpThroughTheDocumentNodeToEmpty) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString(AbDoc);
    EXPECT_TRUE(Cursor->MoveUp());
    EXPECT_EQ(Cursor->Node().NodeType(), TXmlNodeType::Document);
    EXPECT_FALSE(Cursor->MoveUp());
    EXPECT_TRUE(Cursor->IsEmpty());
    EXPECT_TRUE(Cursor->GoRoot());
    EXPECT_EQ(Cursor->Node().NodeName(), "a");
}

TEST(TKivoXmlParseTest, ListsChildNamesOfEveryKind) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString(AbDoc);
    EXPECT_EQ(ChildNames(*Cursor), (std::vector<std::string>{"b", "b"}));
    std::vector<std::string> List{"stale"};
    EXPECT_TRUE(Cursor->GetNodeList(List));
    auto Empty = TKivoXmlParse::LoadXMLFromString("<a><e/></a>");
    ASSERT_TRUE(Empty->MoveTo("e"));
    EXPECT_FALSE(Empty->GetNodeList(List));
    EXPECT_TRUE(List.empty());
    auto Mixed = TKivoXmlParse::LoadXMLFromString("<a>t<!--c--><?p d?><![CDATA[x]]><e/></a>");
    EXPECT_EQ(ChildNames(*Mixed),
              (std::vector<std::string>{"#text", "#comment", "p", "#cdata-section", "e"}));
}

TEST(TKivoXmlParseTest, NameIsEmptyForNodesWithoutChildren) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><e/><t>x</t></a>");
    EXPECT_EQ(Cursor->Name(), "a");
    ASSERT_TRUE(Cursor->MoveTo("e"));
    EXPECT_EQ(Cursor->Name(), "");
    ASSERT_TRUE(Cursor->MoveTo("t", true));
    EXPECT_EQ(Cursor->Name(), "t");
}

TEST(TKivoXmlParseTest, IsExistNodeDoesNotMove) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b><c>1</c></b></a>");
    EXPECT_TRUE(Cursor->IsExistNode("b\\c"));
    EXPECT_FALSE(Cursor->IsExistNode("c"));
    EXPECT_EQ(Cursor->Node().NodeName(), "a");
}

TEST(TKivoXmlParseTest, GetNodeValueLeavesTheCursorOnTheParentOrEmpty) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b><c>1</c></b></a>");
    EXPECT_EQ(Cursor->GetNodeValue("b\\c"), "1");
    EXPECT_EQ(Cursor->Node().NodeName(), "b");
    EXPECT_EQ(Cursor->GetNodeValue("x"), "");
    EXPECT_TRUE(Cursor->IsEmpty());
}

TEST(TKivoXmlParseTest, ReadsValuesTheWayTheIntakeDoes) {
    // A namespace prefix on an element is allowed; names are exact.
    auto Cursor = TKivoXmlParse::LoadXMLFromString(
        "<pos:Orders xmlns:pos='u'><pos:Order><header><TA001>A1</TA001><TxNo>7</TxNo></header>"
        "<Detail><item><PluName>Tea</PluName></item><item><SaleQty>2</SaleQty></item></Detail>"
        "</pos:Order></pos:Orders>");
    ASSERT_TRUE(Cursor->MoveTo("Order"));
    ASSERT_TRUE(Cursor->MoveTo("header"));
    auto ReadValue = [&](const std::string& Name) {
        if (!Cursor->IsExistNode(Name))
            return std::string();
        EXPECT_TRUE(Cursor->MoveTo(Name));
        std::string V = Cursor->Value();
        EXPECT_TRUE(Cursor->MoveUp());
        return V;
    };
    EXPECT_EQ(ReadValue("TA001"), "A1");
    EXPECT_EQ(ReadValue("TxNo"), "7");
    EXPECT_EQ(ReadValue("TableNo"), "");
    ASSERT_TRUE(Cursor->MoveUp());
    ASSERT_TRUE(Cursor->MoveTo("Detail"));
    std::vector<std::string> List;
    Cursor->GetNodeList(List);
    ASSERT_EQ(List.size(), 2u);
    ASSERT_TRUE(Cursor->MoveTo("item"));
    EXPECT_EQ(ReadValue("PluName"), "Tea");
    ASSERT_TRUE(Cursor->MoveSibling());
    ASSERT_TRUE(Cursor->MoveTo("item")); // the item itself
    EXPECT_EQ(ReadValue("PluName"), "");
    EXPECT_EQ(ReadValue("SaleQty"), "2");
}

TEST(TKivoXmlParseTest, MalformedTextRaisesTheParseError) {
    test::ExpectErrorText<EXmlDomError>(
        "XML Parse Error:\n\rReason: Start-end tags mismatch\n\rError on line 1, position 9",
        [] { TKivoXmlParse::LoadXMLFromString("<a><b></a>"); });
    kds::test::TTempDir Dir;
    const auto Bad = Dir.WriteFile("bad.xml", "<a>\n<b>\n</a>\n");
    test::ExpectErrorText<EXmlDomError>(
        "XML Parse Error:\n\rReason: Start-end tags mismatch\n\rError on line 3, position 3",
        [&] { TKivoXmlParse::LoadXMLFromFile(Bad.string()); });
}

TEST(TKivoXmlParseTest, LoadsFromFileOntoTheRoot) {
    kds::test::TTempDir Dir;
    const auto File = Dir.WriteFile(
        "o.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>\r\n <b>1</b>\r\n</a>\r\n");
    auto Cursor = TKivoXmlParse::LoadXMLFromFile(File.string());
    EXPECT_EQ(Cursor->Node().NodeName(), "a");
    EXPECT_EQ(Cursor->Encoding(), "UTF-8");
    EXPECT_EQ(ChildNames(*Cursor), (std::vector<std::string>{"b"}));
}

TEST(TKivoXmlParseTest, CreateDocumentThenAddNodeWithValue) {
    auto Cursor = TKivoXmlParse::CreateDocument("orders");
    EXPECT_EQ(Cursor->Node().NodeName(), "orders");
    EXPECT_EQ(Saved(*Cursor), "<?xml version=\"1.0\"?><orders/>");
    Cursor->AddNode("x", "1");
    EXPECT_EQ(Cursor->Node().NodeName(), "x");
    EXPECT_EQ(Cursor->Value(), "1");
    EXPECT_EQ(Saved(*Cursor), "<?xml version=\"1.0\"?><orders><x>1</x></orders>");
    // An existing node is selected, and its value replaced.
    ASSERT_TRUE(Cursor->GoRoot());
    Cursor->AddNode("x", "2");
    EXPECT_EQ(Saved(*Cursor), "<?xml version=\"1.0\"?><orders><x>2</x></orders>");
    for (const char* Bad : {"1bad", "a b='1'", "a/><b", ""})
        EXPECT_THROW(TKivoXmlParse::CreateDocument(Bad), EXmlDomError) << Bad;
}

TEST(TKivoXmlParseTest, FailingOperationsKeepTheCurrentNode) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b><c/></b><d/></a>");
    ASSERT_TRUE(Cursor->MoveTo("b"));
    const TXmlNode B = Cursor->Node();
    EXPECT_THROW(Cursor->MoveTo("c[x]"), EXmlConvertError);
    EXPECT_EQ(Cursor->Node(), B);
    EXPECT_THROW(Cursor->IsExistNode("c[?]"), EXmlConvertError);
    EXPECT_THROW(Cursor->AddNode("c[y]", "1"), EXmlConvertError);
    EXPECT_EQ(Cursor->Node(), B);
    EXPECT_THROW(Cursor->SetValue("v"), EXmlDomError);    // first child is an element
    EXPECT_THROW(Cursor->AddNode("", "v"), EXmlDomError); // b itself: its first child is c
    EXPECT_THROW(Cursor->AddNode("9z"), EXmlDomError);
    EXPECT_EQ(Cursor->Node(), B);
    EXPECT_THROW(Cursor->RemoveNode("..\\d"), EXmlDomError); // not a child of b
    EXPECT_EQ(Cursor->Node(), B);
    EXPECT_THROW(Cursor->SetText("<a><b/>"), EXmlDomError);
    EXPECT_THROW(Cursor->SetText("<x/>"), EXmlDomError); // nothing named b to put in
    EXPECT_EQ(Cursor->Node(), B);
    EXPECT_EQ(Saved(*Cursor), "<a><b><c/></b><d/></a>");
}

TEST(TKivoXmlParseTest, AddSiblingAppendsAtTheEndAndNotOnTheRoot) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b>1</b><c/></a>");
    Cursor->AddSibling();
    EXPECT_TRUE(Cursor->IsEmpty());
    EXPECT_EQ(Saved(*Cursor), "<a><b>1</b><c/></a>");
    ASSERT_TRUE(Cursor->MoveTo("b"));
    Cursor->AddSibling();
    EXPECT_EQ(Cursor->Node().NodeName(), "b");
    EXPECT_EQ(Cursor->Value(), "");
    EXPECT_EQ(Saved(*Cursor), "<a><b>1</b><c/><b/></a>");
    ASSERT_TRUE(Cursor->MoveUp());
    ASSERT_TRUE(Cursor->MoveUp());
    EXPECT_THROW(Cursor->AddSibling(), EXmlDomError); // the document node
    EXPECT_EQ(Cursor->Node().NodeType(), TXmlNodeType::Document);
}

TEST(TKivoXmlParseTest, RemoveNodeTakesOutADirectChild) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b>1</b><b>2</b><c/></a>");
    Cursor->RemoveNode("b[1]");
    Cursor->RemoveNode("missing");
    EXPECT_EQ(Saved(*Cursor), "<a><b>1</b><c/></a>");
    EXPECT_EQ(Cursor->Node().NodeName(), "a");
}

TEST(TKivoXmlParseTest, SetValueWritesTheFirstChildOrAddsText) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b>1</b><e/><m><!--c-->t</m></a>");
    ASSERT_TRUE(Cursor->MoveTo("b"));
    Cursor->SetValue("9");
    ASSERT_TRUE(Cursor->MoveTo("e", true));
    Cursor->SetValue("new");
    ASSERT_TRUE(Cursor->MoveTo("m", true));
    EXPECT_EQ(Cursor->Value(), "c"); // a comment's text
    Cursor->SetValue("d");
    EXPECT_EQ(Saved(*Cursor), "<a><b>9</b><e>new</e><m><!--d-->t</m></a>");
}

TEST(TKivoXmlParseTest, AttributePathsReadAndWriteTheAttribute) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b id='7'/></a>");
    EXPECT_EQ(Cursor->GetNodeValue("b@id"), "7");
    ASSERT_TRUE(Cursor->MoveTo("b@id", true));
    Cursor->SetValue("8");
    EXPECT_EQ(Saved(*Cursor), "<a><b id=\"8\"/></a>");
}

TEST(TKivoXmlParseTest, CDataIsTrimmedOnReadAndWrittenAsGiven) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a>t<![CDATA[ \t x y \n]]></a>");
    EXPECT_EQ(Cursor->CData(), "x y");
    Cursor->SetCData(" z ");
    EXPECT_EQ(Cursor->CData(), "z");
    EXPECT_EQ(Saved(*Cursor), "<a>t<![CDATA[ z ]]></a>");
    auto Fresh = TKivoXmlParse::LoadXMLFromString("<a><b/></a>");
    EXPECT_EQ(Fresh->CData(), "");
    Fresh->SetCData("q]]>r");
    EXPECT_EQ(Fresh->CData(), "q]]>r");
    // "]]>" cannot stand in one section: it is saved split over two.
    EXPECT_EQ(Saved(*Fresh), "<a><b/><![CDATA[q]]]]><![CDATA[>r]]></a>");
}

TEST(TKivoXmlParseTest, TextIsTheMarkupAndWritingItReplacesTheNode) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b>1<c/></b><d/></a>");
    ASSERT_TRUE(Cursor->MoveTo("b"));
    EXPECT_EQ(Cursor->Text(), "<b>1<c/></b>");
    Cursor->SetText("<b x='1'><n>&amp;</n></b>");
    EXPECT_EQ(Saved(*Cursor), "<a><b x=\"1\"><n>&amp;</n></b><d/></a>");
    // The cursor stands on the node put in place, which is in the document.
    EXPECT_EQ(Cursor->Text(), "<b x=\"1\"><n>&amp;</n></b>");
    EXPECT_TRUE(Cursor->MoveUp());
    Cursor->SetText("");
    EXPECT_EQ(Cursor->Node().NodeName(), "a");
    // The root element can be replaced as well.
    Cursor->SetText("<a><z/></a>");
    EXPECT_EQ(Saved(*Cursor), "<a><z/></a>");
    EXPECT_EQ(Cursor->RootName(), "a");
}

struct TEncodingCase {
    const char* Doc;
    const char* NewEncoding;
    const char* Saved;
};

void PrintTo(const TEncodingCase& C, std::ostream* Os) {
    *Os << C.Doc << " <- \"" << C.NewEncoding << '"';
}

class TKivoXmlParseEncodingTest : public ::testing::TestWithParam<TEncodingCase> {};

TEST_P(TKivoXmlParseEncodingTest, WritesTheDeclaredEncoding) {
    auto Cursor = TKivoXmlParse::LoadXMLFromString(GetParam().Doc);
    Cursor->SetEncoding(GetParam().NewEncoding);
    EXPECT_EQ(Cursor->Encoding(),
              GetParam().NewEncoding[0] && std::string(GetParam().Doc).find("<?xml") == 0
                  ? GetParam().NewEncoding
                  : "");
    EXPECT_EQ(Saved(*Cursor), GetParam().Saved);
}

INSTANTIATE_TEST_SUITE_P(
    Declarations, TKivoXmlParseEncodingTest,
    ::testing::Values(TEncodingCase{"<?xml version=\"1.0\"?><a/>", "UTF-8",
                                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>"},
                      TEncodingCase{"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", "",
                                    "<?xml version=\"1.0\"?><a/>"},
                      TEncodingCase{"<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>", "utf-8",
                                    "<?xml version=\"1.0\" encoding=\"utf-8\"?><a/>"},
                      TEncodingCase{"<?xml version='1.0' encoding='utf-8'?><a/>", "UTF-8",
                                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>"},
                      TEncodingCase{"<?xml version=\"1.0\"?><a/>", "",
                                    "<?xml version=\"1.0\"?><a/>"},
                      TEncodingCase{"<a/>", "UTF-8", "<a/>"}),
    [](const ::testing::TestParamInfo<TEncodingCase>& Info) {
        return "Case" + std::to_string(Info.index);
    });

TEST(TKivoXmlParseTest, SavesToAFileThatLoadsBack) {
    kds::test::TTempDir Dir;
    auto Cursor = TKivoXmlParse::CreateDocument("orders");
    Cursor->AddNode("Order\\header\\TA001", "A&B");
    const std::string File = (Dir.Path() / "saved.xml").string();
    EXPECT_TRUE(Cursor->SaveTo(File));
    auto Back = TKivoXmlParse::LoadXMLFromFile(File);
    EXPECT_EQ(Back->GetNodeValue("Order\\header\\TA001"), "A&B");
    EXPECT_THROW(Cursor->SaveTo((Dir.Path() / "missing" / "x.xml").string()), EXmlDomError);
}

} // namespace
} // namespace kds
