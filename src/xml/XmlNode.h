#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

namespace kds {

namespace xmldetail {
struct TDocumentData;
}

class TXmlDocument;

// DOM node kinds by their standard numbers. Attribute nodes (2) appear only as
// the result of a path that ends in "@name".
namespace TXmlNodeType {
inline constexpr int Element = 1;
inline constexpr int Attribute = 2;
inline constexpr int Text = 3;
inline constexpr int CData = 4;
inline constexpr int ProcessingInstruction = 7;
inline constexpr int Comment = 8;
inline constexpr int Document = 9;
inline constexpr int DocumentType = 10;
}

// A counted reference to one node of a document (an element, a text, a CDATA
// section, a comment, a processing instruction, the XML declaration, the
// document node itself, or an attribute). Copies share the document: the
// document lives as long as any node handle or document handle refers to it,
// so a handle stays valid after whatever handed it out is gone. A default
// handle is null; every operation on a null handle reads as empty (names and
// values empty text, no parent, no children) and every change raises
// EXmlDomError.
//
// Nodes removed from the tree or created and not yet appended stay alive with
// their document (they are kept out of sight, never freed while referenced),
// so a handle to a removed node is still safe to read: it has no parent.
//
// Names are the standard DOM's: elements and attributes by their qualified
// name, "#text", "#cdata-section", "#comment", "#document", the target of a
// processing instruction, and "xml" for the XML declaration.
//
// Not thread-safe: a document and its nodes are used by one thread at a time.
// Changes raise EXmlDomError with the reason when the DOM refuses them.
class TXmlNode {
public:
    TXmlNode() = default;

    bool IsNull() const { return !FData; }
    explicit operator bool() const { return static_cast<bool>(FData); }
    bool operator==(const TXmlNode& Other) const;

    int NodeType() const;                 // 0 for a null handle
    std::string NodeName() const;
    std::string LocalName() const;        // the name without a "prefix:" part
    // The name without copying; valid until the node's name changes.
    std::string_view NameView() const;
    // Identity of the node within its document, for sets of visited nodes.
    const void* Key() const
    {
        return FAttr ? static_cast<const void*>(FAttr.internal_object())
                     : static_cast<const void*>(FNode.internal_object());
    }

    // Text, CDATA, comment, processing-instruction data and attribute value;
    // for the XML declaration its pseudo-attributes as written; empty text for
    // elements and the document node.
    std::string NodeValue() const;
    // Raises EXmlDomError for elements, the document node and the declaration
    // (the declaration is changed through the document's encoding).
    void SetNodeValue(const std::string& Value);

    // Null for the document node, for attributes and for nodes out of the tree.
    TXmlNode ParentNode() const;
    TXmlNode FirstChild() const;
    TXmlNode NextSibling() const;
    bool HasChildNodes() const;
    std::vector<TXmlNode> ChildNodes() const;

    // The attribute of that name (null when absent or when this is no element).
    TXmlNode Attribute(const std::string& Name) const;
    std::vector<TXmlNode> Attributes() const;

    TXmlDocument OwnerDocument() const;

    // Tree changes, as the standard DOM does them. NewChild must belong to the
    // same document (TXmlDocument::ImportNode copies from another); a node
    // already in the tree is moved. Returns the node appended, replaced or
    // removed.
    TXmlNode AppendChild(const TXmlNode& NewChild);
    TXmlNode RemoveChild(const TXmlNode& OldChild);
    TXmlNode ReplaceChild(const TXmlNode& NewChild, const TXmlNode& OldChild);

    // The node and its descendants serialised as XML, without added white
    // space. An attribute gives name="value"; the document node its children.
    std::string Markup() const;

private:
    friend class TXmlDocument;
    friend struct xmldetail::TDocumentData;
    TXmlNode(std::shared_ptr<xmldetail::TDocumentData> Data, pugi::xml_node Node,
             pugi::xml_attribute Attr = pugi::xml_attribute())
        : FData(std::move(Data)), FNode(Node), FAttr(Attr) {}
    TXmlNode Wrap(pugi::xml_node Node) const;
    bool IsAttribute() const { return static_cast<bool>(FAttr); }
    void RequireNode(const char* Operation) const;

    std::shared_ptr<xmldetail::TDocumentData> FData; // null for a null handle
    pugi::xml_node FNode;      // the node, or the element owning FAttr
    pugi::xml_attribute FAttr; // set for attribute nodes only
};

} // namespace kds
