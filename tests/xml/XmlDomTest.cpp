#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

#include "XmlTestPrint.h"
#include "support/ExpectError.h"
#include "support/TempDir.h"
#include "xml/TKivoXmlParse.h"

namespace kds {
namespace {

std::string ParseErrorOf(const std::string& Text) {
    try {
        ParseDocumentText(Text);
    } catch (const EXmlDomError& E) {
        return E.what();
    }
    return "no error";
}

TEST(XmlDomTest, GivesStandardNamesKindsAndValues) {
    const TXmlDocument Doc = ParseDocumentText("<?xml version=\"1.0\" encoding=\"UTF-8\"?><?pos "
                                               "v=1?><!--c--><r a='1'>t<![CDATA[x<y]]><k:e/></r>");
    const TXmlNode DocNode = Doc.DocumentNode();
    EXPECT_EQ(DocNode.NodeName(), "#document");
    EXPECT_EQ(DocNode.NodeType(), 9);
    const std::vector<TXmlNode> Top = DocNode.ChildNodes();
    ASSERT_EQ(Top.size(), 4u);
    EXPECT_EQ(Top[0].NodeName(), "xml");
    EXPECT_EQ(Top[0].NodeType(), 7);
    EXPECT_EQ(Top[0].NodeValue(), "version=\"1.0\" encoding=\"UTF-8\"");
    EXPECT_EQ(Top[1].NodeName(), "pos");
    EXPECT_EQ(Top[1].NodeType(), 7);
    EXPECT_EQ(Top[1].NodeValue(), "v=1");
    EXPECT_EQ(Top[2].NodeName(), "#comment");
    EXPECT_EQ(Top[2].NodeType(), 8);
    EXPECT_EQ(Top[2].NodeValue(), "c");
    EXPECT_EQ(Top[3], Doc.DocumentElement());
    const std::vector<TXmlNode> Kids = Top[3].ChildNodes();
    ASSERT_EQ(Kids.size(), 3u);
    EXPECT_EQ(Kids[0].NodeName(), "#text");
    EXPECT_EQ(Kids[0].NodeType(), 3);
    EXPECT_EQ(Kids[1].NodeName(), "#cdata-section");
    EXPECT_EQ(Kids[1].NodeType(), 4);
    EXPECT_EQ(Kids[1].NodeValue(), "x<y");
    EXPECT_EQ(Kids[2].NodeName(), "k:e");
    EXPECT_EQ(Kids[2].LocalName(), "e");
    EXPECT_EQ(Kids[2].NodeType(), 1);
    EXPECT_EQ(Top[3].NodeValue(), "");
    EXPECT_EQ(Top[3].Attribute("a").NodeValue(), "1");
    EXPECT_TRUE(Top[3].Attribute("b").IsNull());
}

TEST(XmlDomTest, DropsWhiteSpaceBetweenElementsButKeepsItInsideText) {
    const TXmlDocument Doc = ParseDocumentText("<r>\n  <a> x </a>\r\n  <b>  </b>\n</r>");
    const TXmlNode R = Doc.DocumentElement();
    EXPECT_EQ(R.ChildNodes().size(), 2u);
    EXPECT_EQ(R.FirstChild().FirstChild().NodeValue(), " x ");
    EXPECT_FALSE(R.FirstChild().NextSibling().HasChildNodes());
}

TEST(XmlDomTest, RefusesToSetTheValueOfAnElement) {
    TXmlDocument Doc = ParseDocumentText("<r><a/></r>");
    TXmlNode A = Doc.DocumentElement().FirstChild();
    EXPECT_THROW(A.SetNodeValue("x"), EXmlDomError);
    TXmlNode DocNode = Doc.DocumentNode();
    EXPECT_THROW(DocNode.SetNodeValue("x"), EXmlDomError);
}

TEST(XmlDomTest, NodeKeepsItsDocumentAliveAfterEverythingElseIsGone) {
    TXmlNode B;
    {
        auto Cursor = TKivoXmlParse::LoadXMLFromString("<a><b>kept</b></a>");
        ASSERT_TRUE(Cursor->MoveTo("b"));
        B = Cursor->Node();
    }
    EXPECT_EQ(B.FirstChild().NodeValue(), "kept");
    EXPECT_EQ(B.ParentNode().NodeName(), "a");
    EXPECT_EQ(B.OwnerDocument().DocumentElement().Markup(), "<a><b>kept</b></a>");
}

TEST(XmlDomTest, RemovedNodesStaySafeToUseAndOutOfTheDocument) {
    TXmlDocument Doc = ParseDocumentText("<r><a>1</a><b/><c/></r>");
    TXmlNode R = Doc.DocumentElement();
    TXmlNode A = R.FirstChild();
    TXmlNode Text = A.FirstChild();
    R.RemoveChild(A);
    EXPECT_TRUE(A.ParentNode().IsNull());
    EXPECT_TRUE(A.NextSibling().IsNull());
    EXPECT_EQ(Text.NodeValue(), "1");
    EXPECT_EQ(A.Markup(), "<a>1</a>");
    std::ostringstream Out;
    Doc.Save(Out);
    EXPECT_EQ(Out.str(), "<r><b/><c/></r>");
    EXPECT_EQ(Doc.DocumentNode().ChildNodes().size(), 1u);
    // A removed node can be put back.
    R.AppendChild(A);
    EXPECT_EQ(R.Markup(), "<r><b/><c/><a>1</a></r>");
    // Removing what is not a child fails and changes nothing.
    EXPECT_THROW(R.RemoveChild(Text), EXmlDomError);
    EXPECT_EQ(R.Markup(), "<r><b/><c/><a>1</a></r>");
}

TEST(XmlDomTest, HiddenHoldingPlaceNeverShowsAmongTheDocumentChildren) {
    TXmlDocument Doc = ParseDocumentText("<r/>");
    TXmlNode Orphan = Doc.CreateComment("later");
    TXmlNode DocNode = Doc.DocumentNode();
    DocNode.AppendChild(Doc.CreateComment("after"));
    ASSERT_EQ(DocNode.ChildNodes().size(), 2u);
    EXPECT_EQ(DocNode.FirstChild().NextSibling().NodeValue(), "after");
    EXPECT_TRUE(Orphan.ParentNode().IsNull());
    EXPECT_EQ(DocNode.Markup(), "<r/><!--after-->");
    // With the root gone, the document has no root element, and no other.
    DocNode.RemoveChild(Doc.DocumentElement());
    EXPECT_TRUE(Doc.DocumentElement().IsNull());
    EXPECT_EQ(DocNode.ChildNodes().size(), 1u);
}

TEST(XmlDomTest, KeepsOneRootElementAndNoTextAtTheTop) {
    TXmlDocument Doc = ParseDocumentText("<r/>");
    TXmlNode DocNode = Doc.DocumentNode();
    EXPECT_THROW(DocNode.AppendChild(Doc.CreateElement("s")), EXmlDomError);
    EXPECT_THROW(DocNode.AppendChild(Doc.CreateTextNode("t")), EXmlDomError);
    TXmlNode R = Doc.DocumentElement();
    EXPECT_THROW(R.FirstChild().AppendChild(R), EXmlDomError);
    TXmlNode Inner = R.AppendChild(Doc.CreateElement("i"));
    EXPECT_THROW(Inner.AppendChild(R), EXmlDomError); // its own ancestor
    EXPECT_EQ(Doc.DocumentNode().Markup(), "<r><i/></r>");
}

TEST(XmlDomTest, RefusesNodesOfAnotherDocumentUntilImported) {
    TXmlDocument One = ParseDocumentText("<r/>");
    const TXmlDocument Two = ParseDocumentText("<s><t>x</t></s>");
    TXmlNode R = One.DocumentElement();
    EXPECT_THROW(R.AppendChild(Two.DocumentElement().FirstChild()), EXmlDomError);
    R.AppendChild(One.ImportNode(Two.DocumentElement().FirstChild()));
    EXPECT_EQ(R.Markup(), "<r><t>x</t></r>");
    EXPECT_EQ(Two.DocumentElement().Markup(), "<s><t>x</t></s>");
}

TEST(XmlDomTest, CreateElementChecksTheName) {
    TXmlDocument Doc = TXmlDocument::Create();
    EXPECT_NO_THROW(Doc.CreateElement("k:Name_1-2.x"));
    for (const char* Bad : {"", "1a", "a b", "a<b", "..", "-a", "a/"})
        EXPECT_THROW(Doc.CreateElement(Bad), EXmlDomError) << Bad;
}

struct TParseErrorCase {
    const char* Text;
    const char* Message;
};

void PrintTo(const TParseErrorCase& C, std::ostream* Os) {
    *Os << ::testing::PrintToString(std::string(C.Text));
}

class XmlParseErrorTest : public ::testing::TestWithParam<TParseErrorCase> {};

TEST_P(XmlParseErrorTest, ReportsReasonLineAndPosition) {
    EXPECT_EQ(ParseErrorOf(GetParam().Text), GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, XmlParseErrorTest,
    ::testing::Values(
        TParseErrorCase{
            "<a><b></a>",
            "XML Parse Error:\n\rReason: Start-end tags mismatch\n\rError on line 1, position 9"},
        TParseErrorCase{
            "<a>\n  <b>\r\n</a>",
            "XML Parse Error:\n\rReason: Start-end tags mismatch\n\rError on line 3, position 3"},
        // Positions count characters, not bytes.
        TParseErrorCase{
            "<a>\xC3\xA9\xC3\xA9<b></a>",
            "XML Parse Error:\n\rReason: Start-end tags mismatch\n\rError on line 1, position 11"},
        TParseErrorCase{"<a/><b/>",
                        "XML Parse Error:\n\rReason: Only one top level element is allowed in a "
                        "document\n\rError on line 1, position 5"},
        TParseErrorCase{
            "  ",
            "XML Parse Error:\n\rReason: No document element found\n\rError on line 1, position 3"},
        TParseErrorCase{
            "<a", "XML Parse Error:\n\rReason: Error parsing start element tag\n\rError on line 1, "
                  "position 2"}),
    [](const ::testing::TestParamInfo<TParseErrorCase>& Info) {
        return "Case" + std::to_string(Info.index);
    });

TEST(XmlDomTest, NeverLoadsExternalEntitiesOrDtds) {
    kds::test::TTempDir Dir;
    const auto Secret = Dir.WriteFile("secret.txt", "SECRET");
    const std::string Text = "<!DOCTYPE r SYSTEM \"" + (Dir.Path() / "none.dtd").string() +
                             "\" [<!ENTITY x SYSTEM \"" + Secret.string() + "\">]><r>&x;</r>";
    const TXmlDocument Doc = ParseDocumentText(Text);
    const std::string Markup = Doc.DocumentNode().Markup();
    EXPECT_EQ(Markup.find("SECRET"), std::string::npos) << Markup;
    EXPECT_EQ(Doc.DocumentElement().FirstChild().NodeValue(), "&x;");
}

TEST(XmlDomTest, ValidateOptionIsKeptAndReportedBack) {
    EXPECT_TRUE(ParseDocumentText("<r/>").Validate());
    kds::test::TTempDir Dir;
    EXPECT_FALSE(ReadDocumentFile(Dir.WriteFile("a.xml", "<r/>").string()).Validate());
    TXmlDocument Doc = TXmlDocument::Create();
    Doc.SetValidate(false);
    EXPECT_FALSE(Doc.Validate());
}

TEST(XmlDomTest, RefusesFilesAboveTheSizeLimitWithoutParsingThem) {
    kds::test::TTempDir Dir;
    const auto Big = Dir.Path() / "big.xml";
    {
        std::ofstream Out(Big, std::ios::binary);
        Out << "<r>";
        Out.seekp(static_cast<std::streamoff>(TXmlDocument::MaxFileSize));
        Out << "</r>";
    }
    test::ExpectErrorText<EXmlDomError>("XML Parse Error:\n\rReason: The file \"" + Big.string() +
                                            "\" is larger than 67108864 bytes (64 MiB)\n\r",
                                        [&] { ReadDocumentFile(Big.string()); });
    // Exactly at the limit is still read (and here fails only on its NUL bytes).
    std::filesystem::resize_file(Big, TXmlDocument::MaxFileSize);
    try {
        ReadDocumentFile(Big.string());
    } catch (const EXmlDomError& E) {
        EXPECT_EQ(std::string(E.what()).find("larger than"), std::string::npos);
    }
}

TEST(XmlDomTest, SavesInTheDeclaredEncodingSoTheFileReadsBack) {
    TXmlDocument Doc =
        ParseDocumentText("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>caf\xE9</r>");
    EXPECT_EQ(Doc.DocumentElement().FirstChild().NodeValue(), "caf\xC3\xA9");
    std::ostringstream Out;
    Doc.Save(Out);
    EXPECT_EQ(Out.str(), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r>caf\xE9</r>");
    EXPECT_EQ(ParseDocumentText(Out.str()).DocumentElement().FirstChild().NodeValue(),
              "caf\xC3\xA9");

    TXmlDocument Plain =
        ParseDocumentText("<?xml version=\"1.0\" encoding=\"Big5\"?><r>\xA4\xA4</r>");
    std::ostringstream Same;
    Plain.Save(Same);
    EXPECT_EQ(Same.str(), "<?xml version=\"1.0\" encoding=\"Big5\"?><r>\xA4\xA4</r>");
}

TEST(XmlDomTest, EncodingGoesAfterTheVersionAndBeforeStandalone) {
    TXmlDocument Doc = ParseDocumentText("<?xml version='1.0' standalone='yes'?><r/>");
    Doc.SetDeclaredEncoding("UTF-8");
    EXPECT_EQ(Doc.DocumentNode().Markup(),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><r/>");
    EXPECT_EQ(Doc.DeclaredEncoding(), "UTF-8");
}

TEST(XmlDomTest, DeeplyNestedDocumentsLoadWalkSaveAndFreeWithoutRecursion) {
    const int Depth = 100000;
    std::string Text;
    for (int I = 0; I < Depth; ++I)
        Text += "<e>";
    for (int I = 0; I < Depth; ++I)
        Text += "</e>";
    TXmlNode Deep;
    {
        auto Cursor = TKivoXmlParse::LoadXMLFromString(Text);
        std::string Path;
        for (int I = 0; I < 500; ++I)
            Path += "e\\";
        ASSERT_TRUE(Cursor->MoveTo(Path));
        Deep = Cursor->Node();
        std::ostringstream Out;
        ASSERT_TRUE(Cursor->SaveTo(Out));
        EXPECT_EQ(Out.str().size(), Text.size() - 3); // the innermost is saved as <e/>
        Cursor->SetText(Deep.Markup());
    }
    EXPECT_EQ(Deep.NodeName(), "e");
}

TEST(XmlDomTest, SaveFailureIsAnError) {
    const TXmlDocument Doc = ParseDocumentText("<r/>");
    kds::test::TTempDir Dir;
    EXPECT_THROW(Doc.Save((Dir.Path() / "no" / "such" / "dir.xml").string()), EXmlDomError);
    std::ostringstream Broken;
    Broken.setstate(std::ios::badbit);
    EXPECT_THROW(Doc.Save(Broken), EXmlDomError);
}

} // namespace
} // namespace kds
