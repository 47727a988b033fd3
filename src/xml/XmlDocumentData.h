#pragma once

// Internal to kds_xml: what a document handle and its node handles share.

#include <pugixml.hpp>
#include <string>

#include "xml/XmlDocument.h"

namespace kds::xmldetail {

// One document and its hidden holding element. pugixml frees a node when it
// is removed from the tree, which would leave every handle to it dangling, and
// it cannot hold a node outside the tree. So nodes removed from the tree, and
// nodes created and not yet appended, are moved under FHold, an unnamed
// element that the node handles never show: it is skipped among the document
// node's children, its children have no parent and no siblings, and it is
// never serialised. They are freed with the document.
struct TDocumentData : TCounted {
    pugi::xml_document Doc;
    pugi::xml_node FHold;  // null until first needed
    bool FHasHold = false; // FHold is set: spares the node comparisons while it is not
    bool FValidate = true;
    TXmlParseError FError;

    pugi::xml_node Hold() {
        if (!FHasHold) {
            FHold = Doc.append_child(pugi::node_element);
            FHasHold = static_cast<bool>(FHold);
        }
        return FHold;
    }
    bool IsHold(const pugi::xml_node& Node) const { return FHasHold && Node == FHold; }
    void Reset() {
        Doc.reset();
        FHold = pugi::xml_node();
        FHasHold = false;
        FError = TXmlParseError();
    }
};

} // namespace kds::xmldetail

namespace kds {

inline TXmlNode::TXmlNode(xmldetail::TDocumentRef Data, const pugi::xml_node& Node)
    : FData(std::move(Data)), FNode(Node.internal_object()) {}

inline TXmlNode::TXmlNode(xmldetail::TDocumentRef Data, const pugi::xml_node& Owner,
                          const pugi::xml_attribute& Attr)
    : FData(std::move(Data)), FNode(Owner.internal_object()), FAttr(Attr.internal_object()),
      FIsAttribute(true) {}

inline pugi::xml_node TXmlNode::PugiNode() const {
    return pugi::xml_node(FNode);
}

inline pugi::xml_attribute TXmlNode::PugiAttr() const {
    return pugi::xml_attribute(FAttr);
}

} // namespace kds

namespace kds::xmldetail {

inline TDocumentData* TDocumentRef::operator->() const {
    return static_cast<TDocumentData*>(FDoc);
}

inline TDocumentData& TDocumentRef::operator*() const {
    return *static_cast<TDocumentData*>(FDoc);
}

// Whether Name is a valid XML name: a letter, "_", ":" or any non-ASCII
// character first, then those or digits, "-" and ".". Non-ASCII characters
// are all taken as name characters.
bool IsValidXmlName(const std::string& Name);

// Appends the markup of Node, without added white space, to Out.
void AppendMarkup(std::string& Out, const pugi::xml_node& Node);

} // namespace kds::xmldetail
