#include "xml/XmlNode.h"

#include <cstring>

#include "XmlDocumentData.h"
#include "xml/XmlDocument.h"
#include "xml/XmlErrors.h"

namespace kds {

namespace xmldetail {

namespace {

bool IsNameStart(unsigned char C) {
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_' || C == ':' || C >= 0x80;
}

class TStringWriter : public pugi::xml_writer {
public:
    explicit TStringWriter(std::string& Out) : FOut(Out) {}
    void write(const void* Data, size_t Size) override {
        FOut.append(static_cast<const char*>(Data), Size);
    }

private:
    std::string& FOut;
};

} // namespace

bool IsValidXmlName(const std::string& Name) {
    if (Name.empty() || !IsNameStart(static_cast<unsigned char>(Name[0])))
        return false;
    for (unsigned char C : Name)
        if (!IsNameStart(C) && !(C >= '0' && C <= '9') && C != '-' && C != '.')
            return false;
    return true;
}

void AppendMarkup(std::string& Out, const pugi::xml_node& Node) {
    TStringWriter Writer(Out);
    Node.print(Writer, "", pugi::format_raw, pugi::encoding_utf8);
}

} // namespace xmldetail

namespace {

const char* KindText(const TXmlNode& Node) {
    switch (Node.NodeType()) {
    case TXmlNodeType::Element:
        return "an element";
    case TXmlNodeType::Attribute:
        return "an attribute";
    case TXmlNodeType::Text:
        return "a text node";
    case TXmlNodeType::CData:
        return "a CDATA section";
    case TXmlNodeType::ProcessingInstruction:
        return "a processing instruction";
    case TXmlNodeType::Comment:
        return "a comment";
    case TXmlNodeType::Document:
        return "the document node";
    default:
        return "this node";
    }
}

std::string EscapeAttribute(const char* Value) {
    std::string Out;
    for (const char* P = Value; *P; ++P) {
        switch (*P) {
        case '&':
            Out += "&amp;";
            break;
        case '<':
            Out += "&lt;";
            break;
        case '>':
            Out += "&gt;";
            break;
        case '"':
            Out += "&quot;";
            break;
        case '\n':
            Out += "&#10;";
            break;
        case '\r':
            Out += "&#13;";
            break;
        case '\t':
            Out += "&#9;";
            break;
        default:
            Out += *P;
        }
    }
    return Out;
}

} // namespace

bool TXmlNode::operator==(const TXmlNode& Other) const {
    return FData == Other.FData && FNode == Other.FNode && FAttr == Other.FAttr;
}

TXmlNode TXmlNode::Wrap(const pugi::xml_node& Node) const {
    if (!Node)
        return TXmlNode();
    return TXmlNode(FData, Node);
}

void TXmlNode::RequireNode(const char* Operation) const {
    if (!FData)
        throw EXmlDomError(std::string("Cannot ") + Operation + ": the node does not exist");
}

int TXmlNode::NodeType() const {
    if (!FData)
        return 0;
    if (IsAttribute())
        return TXmlNodeType::Attribute;
    switch (PugiNode().type()) {
    case pugi::node_document:
        return TXmlNodeType::Document;
    case pugi::node_element:
        return TXmlNodeType::Element;
    case pugi::node_pcdata:
        return TXmlNodeType::Text;
    case pugi::node_cdata:
        return TXmlNodeType::CData;
    case pugi::node_comment:
        return TXmlNodeType::Comment;
    case pugi::node_pi:
    case pugi::node_declaration:
        return TXmlNodeType::ProcessingInstruction;
    case pugi::node_doctype:
        return TXmlNodeType::DocumentType;
    default:
        return 0;
    }
}

std::string_view TXmlNode::NameView() const {
    if (!FData)
        return {};
    if (IsAttribute())
        return PugiAttr().name();
    switch (PugiNode().type()) {
    case pugi::node_document:
        return "#document";
    case pugi::node_pcdata:
        return "#text";
    case pugi::node_cdata:
        return "#cdata-section";
    case pugi::node_comment:
        return "#comment";
    case pugi::node_declaration:
        return "xml";
    default:
        return PugiNode().name();
    }
}

namespace {

// Whether the zero-terminated P is Name, compared without measuring P first:
// this runs for every child a path step looks at.
bool SameName(const char* P, std::string_view Name) {
    std::size_t I = 0;
    while (I < Name.size() && P[I] == Name[I])
        ++I;
    return I == Name.size() && P[I] == '\0';
}

const char* AfterFirstColon(const char* P) {
    while (*P && *P != ':')
        ++P;
    return *P ? P + 1 : nullptr;
}

} // namespace

const char* TXmlNode::RawName() const {
    if (IsAttribute())
        return PugiAttr().name();
    switch (PugiNode().type()) {
    case pugi::node_element:
    case pugi::node_pi:
        return PugiNode().name();
    default:
        return nullptr;
    }
}

bool TXmlNode::HasName(std::string_view Name) const {
    if (!FData)
        return false;
    const char* Full = RawName();
    if (!Full)
        return NameView() == Name; // the fixed names hold no prefix
    if (SameName(Full, Name))
        return true;
    const char* Local = AfterFirstColon(Full);
    return Local && SameName(Local, Name);
}

bool TXmlNode::HasLocalName(std::string_view Name) const {
    if (!FData)
        return false;
    const char* Full = RawName();
    if (!Full)
        return NameView() == Name;
    const char* Local = AfterFirstColon(Full);
    return SameName(Local ? Local : Full, Name);
}

std::string TXmlNode::NodeName() const {
    return std::string(NameView());
}

std::string TXmlNode::LocalName() const {
    std::string_view Name = NameView();
    const auto Colon = Name.find(':');
    if (Colon != std::string_view::npos)
        Name.remove_prefix(Colon + 1);
    return std::string(Name);
}

std::string TXmlNode::NodeValue() const {
    if (!FData)
        return {};
    if (IsAttribute())
        return PugiAttr().value();
    switch (PugiNode().type()) {
    case pugi::node_pcdata:
    case pugi::node_cdata:
    case pugi::node_comment:
    case pugi::node_pi:
        return PugiNode().value();
    case pugi::node_declaration: {
        std::string Out;
        for (pugi::xml_attribute A = PugiNode().first_attribute(); A; A = A.next_attribute()) {
            if (!Out.empty())
                Out += ' ';
            Out += A.name();
            Out += "=\"";
            Out += A.value();
            Out += '"';
        }
        return Out;
    }
    default:
        return {};
    }
}

void TXmlNode::SetNodeValue(const std::string& Value) {
    RequireNode("set a value");
    bool Done = false;
    if (IsAttribute())
        Done = PugiAttr().set_value(Value.c_str());
    else {
        switch (PugiNode().type()) {
        case pugi::node_pcdata:
        case pugi::node_cdata:
        case pugi::node_comment:
        case pugi::node_pi:
            Done = PugiNode().set_value(Value.c_str());
            break;
        case pugi::node_declaration:
            throw EXmlDomError("The value of the XML declaration cannot be set; set the document's "
                               "encoding instead");
        default:
            throw EXmlDomError(std::string("The value of ") + KindText(*this) + " cannot be set");
        }
    }
    if (!Done)
        throw EXmlDomError("Out of memory while setting a node value");
}

TXmlNode TXmlNode::ParentNode() const {
    if (!FData || IsAttribute())
        return TXmlNode();
    const pugi::xml_node Parent = PugiNode().parent();
    if (FData->IsHold(Parent))
        return TXmlNode();
    return Wrap(Parent);
}

TXmlNode TXmlNode::FirstChild() const {
    if (!FData || IsAttribute())
        return TXmlNode();
    pugi::xml_node Child = PugiNode().first_child();
    if (FData->IsHold(Child))
        Child = Child.next_sibling();
    return Wrap(Child);
}

TXmlNode TXmlNode::NextSibling() const {
    if (!FData || IsAttribute())
        return TXmlNode();
    if (FData->IsHold(PugiNode().parent()))
        return TXmlNode(); // out of the tree: no siblings
    pugi::xml_node Next = PugiNode().next_sibling();
    if (FData->IsHold(Next))
        Next = Next.next_sibling();
    return Wrap(Next);
}

void TXmlNode::ToNextSibling() {
    if (!FData)
        return;
    pugi::xml_node Next;
    if (!FData->FHasHold)
        Next = IsAttribute() ? pugi::xml_node() : PugiNode().next_sibling();
    else if (!IsAttribute() && !FData->IsHold(PugiNode().parent())) {
        Next = PugiNode().next_sibling();
        if (FData->IsHold(Next))
            Next = Next.next_sibling();
    }
    if (Next)
        FNode = Next.internal_object();
    else
        *this = TXmlNode();
}

bool TXmlNode::HasChildNodes() const {
    if (!FData || IsAttribute())
        return false;
    const pugi::xml_node Child = PugiNode().first_child();
    return Child && !(FData->IsHold(Child) && !Child.next_sibling());
}

std::vector<TXmlNode> TXmlNode::ChildNodes() const {
    std::vector<TXmlNode> List;
    for (TXmlNode C = FirstChild(); C; C = C.NextSibling())
        List.push_back(C);
    return List;
}

TXmlNode TXmlNode::Attribute(const std::string& Name) const {
    if (!FData || IsAttribute() || PugiNode().type() != pugi::node_element)
        return TXmlNode();
    const pugi::xml_attribute A = PugiNode().attribute(Name.c_str());
    if (!A)
        return TXmlNode();
    return TXmlNode(FData, PugiNode(), A);
}

std::vector<TXmlNode> TXmlNode::Attributes() const {
    std::vector<TXmlNode> List;
    if (!FData || IsAttribute() || PugiNode().type() != pugi::node_element)
        return List;
    for (pugi::xml_attribute A = PugiNode().first_attribute(); A; A = A.next_attribute())
        List.push_back(TXmlNode(FData, PugiNode(), A));
    return List;
}

TXmlDocument TXmlNode::OwnerDocument() const {
    return TXmlDocument(FData);
}

namespace {

// The checks of the standard DOM that pugixml does not make itself: only
// elements and the document node hold children, text stands only inside
// elements, a document has one root element, nodes do not cross documents.
void CheckNewChild(const TXmlNode& Parent, const TXmlNode& Child, const TXmlNode& Replaced,
                   const TXmlNode& Root, bool SameDocument) {
    if (Child.IsNull())
        throw EXmlDomError("Cannot insert a node that does not exist");
    if (!SameDocument)
        throw EXmlDomError("The node belongs to another document; import it first");
    const int ParentType = Parent.NodeType();
    const int ChildType = Child.NodeType();
    if (ParentType != TXmlNodeType::Element && ParentType != TXmlNodeType::Document)
        throw EXmlDomError(std::string("Cannot insert a child into ") + KindText(Parent));
    if (ChildType == TXmlNodeType::Attribute || ChildType == TXmlNodeType::Document)
        throw EXmlDomError(std::string("Cannot insert ") + KindText(Child) + " as a child");
    if (ParentType == TXmlNodeType::Document) {
        if (ChildType == TXmlNodeType::Text || ChildType == TXmlNodeType::CData)
            throw EXmlDomError("Text cannot stand outside the root element");
        if (ChildType == TXmlNodeType::Element && Root && !(Root == Child) && !(Root == Replaced))
            throw EXmlDomError("Only one top level element is allowed in a document");
    }
}

} // namespace

TXmlNode TXmlNode::AppendChild(const TXmlNode& NewChild) {
    RequireNode("append a child");
    CheckNewChild(*this, NewChild, TXmlNode(), OwnerDocument().DocumentElement(),
                  NewChild.FData == FData);
    const pugi::xml_node Moved = PugiNode().append_move(NewChild.PugiNode());
    if (!Moved)
        throw EXmlDomError(
            "The node cannot be appended here (a node cannot hold its own ancestor)");
    return Wrap(Moved);
}

TXmlNode TXmlNode::RemoveChild(const TXmlNode& OldChild) {
    RequireNode("remove a child");
    if (OldChild.IsNull() || OldChild.FData != FData || OldChild.IsAttribute() || IsAttribute() ||
        OldChild.PugiNode().parent() != PugiNode())
        throw EXmlDomError("The node to remove is not a child of this node");
    if (!FData->Hold().append_move(OldChild.PugiNode()))
        throw EXmlDomError("The node cannot be removed");
    return OldChild;
}

TXmlNode TXmlNode::ReplaceChild(const TXmlNode& NewChild, const TXmlNode& OldChild) {
    RequireNode("replace a child");
    if (OldChild.IsNull() || OldChild.FData != FData || OldChild.IsAttribute() || IsAttribute() ||
        OldChild.PugiNode().parent() != PugiNode())
        throw EXmlDomError("The node to replace is not a child of this node");
    CheckNewChild(*this, NewChild, OldChild, OwnerDocument().DocumentElement(),
                  NewChild.FData == FData);
    if (NewChild == OldChild)
        return OldChild;
    if (!PugiNode().insert_move_before(NewChild.PugiNode(), OldChild.PugiNode()))
        throw EXmlDomError(
            "The node cannot be inserted here (a node cannot hold its own ancestor)");
    if (!FData->Hold().append_move(OldChild.PugiNode()))
        throw EXmlDomError("The replaced node cannot be taken out");
    return OldChild;
}

std::string TXmlNode::Markup() const {
    std::string Out;
    if (!FData)
        return Out;
    if (IsAttribute()) {
        Out = PugiAttr().name();
        Out += "=\"" + EscapeAttribute(PugiAttr().value()) + '"';
        return Out;
    }
    if (PugiNode().type() == pugi::node_document) {
        for (pugi::xml_node C = PugiNode().first_child(); C; C = C.next_sibling())
            if (!FData->IsHold(C))
                xmldetail::AppendMarkup(Out, C);
        return Out;
    }
    xmldetail::AppendMarkup(Out, PugiNode());
    return Out;
}

} // namespace kds
