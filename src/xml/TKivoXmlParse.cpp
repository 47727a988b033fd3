#include "xml/TKivoXmlParse.h"

#include <ostream>

#include "XmlDocumentData.h"
#include "xml/NodePath.h"

namespace kds {

namespace {

// Trims characters up to and including the space (code 32 and below) at both
// ends.
std::string TrimControl(const std::string& Text) {
    std::size_t From = 0;
    std::size_t To = Text.size();
    while (From < To && static_cast<unsigned char>(Text[From]) <= 32)
        ++From;
    while (To > From && static_cast<unsigned char>(Text[To - 1]) <= 32)
        --To;
    return Text.substr(From, To - From);
}

std::string ReadChildOfType(const TXmlNode& Node, int Kind) {
    for (TXmlNode C = Node.FirstChild(); C; C.ToNextSibling())
        if (C.NodeType() == Kind)
            return TrimControl(C.NodeValue());
    return {};
}

void WriteChildOfType(const TXmlNode& Node, int Kind, const std::string& Text) {
    if (Node.IsNull())
        return;
    for (TXmlNode C = Node.FirstChild(); C; C.ToNextSibling())
        if (C.NodeType() == Kind) {
            C.SetNodeValue(Text);
            return;
        }
    TXmlDocument Doc = Node.OwnerDocument();
    TXmlNode Made;
    switch (Kind) {
    case TXmlNodeType::Text:
        Made = Doc.CreateTextNode(Text);
        break;
    case TXmlNodeType::CData:
        Made = Doc.CreateCDataSection(Text);
        break;
    case TXmlNodeType::Comment:
        Made = Doc.CreateComment(Text);
        break;
    default:
        return;
    }
    TXmlNode Parent = Node;
    Parent.AppendChild(Made);
}

// The value the cursor reads at Node: its first child's. The standard DOM
// keeps an attribute's value in a text child; here the attribute node holds it
// itself, so an attribute gives its own value.
std::string ReadValue(const TXmlNode& Node) {
    if (Node.NodeType() == TXmlNodeType::Attribute)
        return Node.NodeValue();
    return Node.FirstChild().NodeValue();
}

void WriteValue(const TXmlNode& Node, const std::string& V) {
    if (Node.IsNull())
        return;
    if (Node.NodeType() == TXmlNodeType::Attribute) {
        TXmlNode A = Node;
        A.SetNodeValue(V);
        return;
    }
    TXmlNode First = Node.FirstChild();
    if (First) {
        First.SetNodeValue(V); // the DOM refuses when it is an element
        return;
    }
    TXmlNode Parent = Node;
    Parent.AppendChild(Node.OwnerDocument().CreateTextNode(V));
}

TXmlNode AppendSiblingNode(const TXmlNode& Node) {
    TXmlNode Parent = Node.ParentNode();
    if (Parent.IsNull())
        throw EXmlDomError("A node without a parent cannot take a sibling");
    if (Parent.NodeType() == TXmlNodeType::Document)
        return TXmlNode(); // the root element gets no sibling
    return Parent.AppendChild(Node.OwnerDocument().CreateElement(Node.NodeName()));
}

} // namespace

TXmlDocument ReadDocumentFile(const std::string& FileName) {
    TXmlDocument Doc = TXmlDocument::Create();
    Doc.SetValidate(false);
    Doc.LoadFromFile(FileName);
    Doc.RaiseParseError();
    return Doc;
}

TXmlDocument ParseDocumentText(const std::string& Text) {
    TXmlDocument Doc = TXmlDocument::Create();
    const bool Validate = Doc.Validate();
    Doc.SetValidate(false);
    Doc.LoadFromText(Text);
    Doc.RaiseParseError();
    if (Validate)
        Doc.SetValidate(true);
    return Doc;
}

TKivoXmlParse::TKivoXmlParse() = default;

TKivoXmlParse::~TKivoXmlParse() = default;

void TKivoXmlParse::SetXMLDoc(const TXmlDocument& Document) {
    FNode = TXmlNode();
    FXMLDoc = Document;
    if (FXMLDoc)
        GoRoot();
}

std::unique_ptr<TKivoXmlParse> TKivoXmlParse::FromDocument(const TXmlDocument& Document) {
    auto Cursor = std::make_unique<TKivoXmlParse>();
    Cursor->SetXMLDoc(Document);
    return Cursor;
}

std::unique_ptr<TKivoXmlParse> TKivoXmlParse::LoadXMLFromFile(const std::string& FileName) {
    // One open of the file tells whether it exists, and reads it.
    TXmlDocument Doc = TXmlDocument::Create();
    Doc.SetValidate(false);
    if (!Doc.LoadFromFile(FileName) && Doc.ParseError().ErrorCode == TXmlDocument::ErrorNoSuchFile)
        return std::make_unique<TKivoXmlParse>();
    Doc.RaiseParseError();
    return FromDocument(Doc);
}

std::unique_ptr<TKivoXmlParse> TKivoXmlParse::LoadXMLFromString(const std::string& DOC) {
    if (DOC.empty())
        return std::make_unique<TKivoXmlParse>();
    return FromDocument(ParseDocumentText(DOC));
}

std::unique_ptr<TKivoXmlParse> TKivoXmlParse::CreateDocument(const std::string& RootName) {
    // The name is checked first: pasted into the text as it is, "a b='1'"
    // would make an element a with an attribute, and "a/><b" two roots.
    if (!xmldetail::IsValidXmlName(RootName))
        throw EXmlDomError("\"" + RootName + "\" is not a valid element name");
    return LoadXMLFromString("<?xml version=\"1.0\"?><" + RootName + " />");
}

bool TKivoXmlParse::GoRoot() {
    FNode = FXMLDoc.DocumentElement();
    return !FNode.IsNull();
}

bool TKivoXmlParse::MoveTo(const std::string& Path, bool FromRoot) {
    if (!FXMLDoc)
        return false;
    const TXmlNode Start = (FromRoot || FNode.IsNull()) ? FXMLDoc.DocumentElement() : FNode;
    FNode = LocateNode(Start, Path, false);
    return !FNode.IsNull();
}

bool TKivoXmlParse::MoveUp() {
    if (FNode.IsNull())
        return false;
    FNode = FNode.ParentNode();
    return !FNode.IsNull();
}

bool TKivoXmlParse::MoveSibling() {
    if (FNode.IsNull())
        return false;
    TXmlNode Next = FNode.NextSibling();
    if (Next.IsNull())
        return false;
    FNode = std::move(Next);
    return true;
}

bool TKivoXmlParse::IsExistNode(const std::string& Id) const {
    if (FNode.IsNull())
        return false;
    return !LocateNode(FNode, Id, false).IsNull();
}

std::string TKivoXmlParse::GetNodeValue(const std::string& xStr) {
    std::string Result;
    if (MoveTo(xStr, false))
        Result = Value();
    MoveUp();
    return Result;
}

void TKivoXmlParse::AddNode(const std::string& Id, const std::string& AValue) {
    if (FNode.IsNull())
        return;
    TXmlNode Found = LocateNode(FNode, Id, true);
    if (!AValue.empty())
        WriteValue(Found, AValue);
    FNode = std::move(Found);
}

void TKivoXmlParse::AddSibling() {
    if (FNode.IsNull())
        return;
    FNode = AppendSiblingNode(FNode);
}

void TKivoXmlParse::RemoveNode(const std::string& Id) {
    if (!IsExistNode(Id))
        return;
    FNode.RemoveChild(LocateNode(FNode, Id, false));
}

bool TKivoXmlParse::GetNodeList(std::vector<std::string>& List) const {
    List.clear();
    if (FNode.IsNull() || !FNode.HasChildNodes())
        return false;
    for (TXmlNode C = FNode.FirstChild(); C; C.ToNextSibling())
        List.push_back(C.NodeName());
    return true;
}

bool TKivoXmlParse::SaveTo(std::ostream& Stream) const {
    if (!FXMLDoc)
        return false;
    FXMLDoc.Save(Stream);
    return true;
}

bool TKivoXmlParse::SaveTo(const std::string& FileName) const {
    if (!FXMLDoc)
        return false;
    FXMLDoc.Save(FileName);
    return true;
}

std::string TKivoXmlParse::Value() const {
    return ReadValue(FNode);
}

void TKivoXmlParse::SetValue(const std::string& V) {
    WriteValue(FNode, V);
}

std::string TKivoXmlParse::CData() const {
    return ReadChildOfType(FNode, TXmlNodeType::CData);
}

void TKivoXmlParse::SetCData(const std::string& V) {
    WriteChildOfType(FNode, TXmlNodeType::CData, V);
}

std::string TKivoXmlParse::Text() const {
    return FNode.Markup();
}

void TKivoXmlParse::SetText(const std::string& V) {
    if (V.empty() || FNode.IsNull())
        return;
    const std::string NodeName = FNode.NodeName();
    const TXmlDocument Other = ParseDocumentText(V);
    const TXmlNode Selected = LocateNode(Other.DocumentNode(), NodeName, false);
    if (Selected.IsNull())
        throw EXmlDomError("The new markup holds no node named \"" + NodeName +
                           "\" to put in place");
    TXmlNode Parent = FNode.ParentNode();
    if (Parent.IsNull())
        throw EXmlDomError("A node without a parent cannot be replaced");
    // pugixml cannot move nodes between documents, so the node is copied in
    // first; the cursor then stands on the copy, in the document.
    TXmlNode Imported = FXMLDoc.ImportNode(Selected);
    Parent.ReplaceChild(Imported, FNode);
    FNode = std::move(Imported);
}

std::string TKivoXmlParse::Encoding() const {
    return FXMLDoc.DeclaredEncoding();
}

void TKivoXmlParse::SetEncoding(const std::string& V) {
    if (FXMLDoc)
        FXMLDoc.SetDeclaredEncoding(V);
}

std::string TKivoXmlParse::Name() const {
    if (FNode.IsNull() || !FNode.HasChildNodes())
        return {};
    return FNode.NodeName();
}

std::string TKivoXmlParse::RootName() const {
    return FXMLDoc.DocumentElement().NodeName();
}

bool TKivoXmlParse::IsEmpty() const {
    return FNode.IsNull();
}

TXmlNode TKivoXmlParse::Node() const {
    return FNode;
}

} // namespace kds
