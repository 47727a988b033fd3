#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The parser's own node and attribute records, opaque here: only the library's
// .cpp files see the parser's header, its users need not.
namespace pugi {
struct xml_node_struct;
struct xml_attribute_struct;
class xml_node;
class xml_attribute;
} // namespace pugi

namespace kds {

namespace xmldetail {
struct TDocumentData;

// The reference count of a document, shared by its document and node handles.
// Not atomic: a document and every handle to it are used by one thread at a
// time, and node handles are copied on every step of a path walk.
struct TCounted {
    std::size_t FRefs = 0;
};
void DestroyDocument(TCounted* Doc); // frees the TDocumentData

// A counted reference to a document's shared data.
class TDocumentRef {
public:
    TDocumentRef() = default;
    explicit TDocumentRef(TCounted* Doc) : FDoc(Doc) { Acquire(); }
    TDocumentRef(const TDocumentRef& Other) : FDoc(Other.FDoc) { Acquire(); }
    TDocumentRef(TDocumentRef&& Other) noexcept : FDoc(Other.FDoc) { Other.FDoc = nullptr; }
    TDocumentRef& operator=(const TDocumentRef& Other) {
        TDocumentRef Copy(Other);
        std::swap(FDoc, Copy.FDoc);
        return *this;
    }
    TDocumentRef& operator=(TDocumentRef&& Other) noexcept {
        std::swap(FDoc, Other.FDoc);
        return *this;
    }
    ~TDocumentRef() { Release(); }

    explicit operator bool() const { return FDoc != nullptr; }
    bool operator==(const TDocumentRef& Other) const { return FDoc == Other.FDoc; }
    // Defined in XmlDocumentData.h, where the data is complete.
    TDocumentData* operator->() const;
    TDocumentData& operator*() const;

private:
    void Acquire() {
        if (FDoc)
            ++FDoc->FRefs;
    }
    void Release() {
        if (FDoc && --FDoc->FRefs == 0)
            DestroyDocument(FDoc);
        FDoc = nullptr;
    }
    TCounted* FDoc = nullptr;
};
} // namespace xmldetail

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
} // namespace TXmlNodeType

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
// Not thread-safe: a document and its nodes (copies of handles included) are
// used by one thread at a time.
// Changes raise EXmlDomError with the reason when the DOM refuses them.
class TXmlNode {
public:
    TXmlNode() = default;

    bool IsNull() const { return !FData; }
    explicit operator bool() const { return static_cast<bool>(FData); }
    bool operator==(const TXmlNode& Other) const;

    int NodeType() const; // 0 for a null handle
    std::string NodeName() const;
    std::string LocalName() const; // the name without a "prefix:" part
    // The name without copying; valid until the node's name changes.
    std::string_view NameView() const;
    // Whether Name equals the node's name or its local name, exactly.
    bool HasName(std::string_view Name) const;
    // Whether Name equals the node's local name, exactly.
    bool HasLocalName(std::string_view Name) const;
    // Identity of the node within its document, for sets of visited nodes.
    const void* Key() const {
        return FIsAttribute ? static_cast<const void*>(FAttr) : static_cast<const void*>(FNode);
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
    // Moves this handle to its next sibling (null when there is none), as
    // NextSibling does, without touching the reference count: the cheap way
    // to walk a list of children.
    void ToNextSibling();
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
    // These and the parser's views of the node are defined in
    // XmlDocumentData.h, where the parser's types are complete.
    TXmlNode(xmldetail::TDocumentRef Data, const pugi::xml_node& Node);
    TXmlNode(xmldetail::TDocumentRef Data, const pugi::xml_node& Owner,
             const pugi::xml_attribute& Attr);
    pugi::xml_node PugiNode() const;
    pugi::xml_attribute PugiAttr() const;
    TXmlNode Wrap(const pugi::xml_node& Node) const;
    const char* RawName() const; // elements, PIs, attributes; else null
    bool IsAttribute() const { return FIsAttribute; }
    void RequireNode(const char* Operation) const;

    xmldetail::TDocumentRef FData;               // null for a null handle
    pugi::xml_node_struct* FNode = nullptr;      // the node, or the element owning FAttr
    pugi::xml_attribute_struct* FAttr = nullptr; // set for attribute nodes only
    bool FIsAttribute = false;                   // FAttr is set; tested without calling pugixml
};

} // namespace kds
