#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "xml/XmlDocument.h"
#include "xml/XmlErrors.h"
#include "xml/XmlNode.h"

namespace kds {

// A cursor over one XML document: a current node that the caller moves by
// path (see NodePath.h for the path language), to the parent, to the next
// sibling or back to the root element, and whose value, CDATA text and markup
// it reads and writes.
//
// States: without a document (made by the constructor, or by a factory given
// a missing file or empty text: every navigation is false, every read empty
// text); with a document and a current node; with a document and empty (after
// a MoveTo that found nothing, a MoveUp from the document node, or an
// AddSibling on the root element; MoveTo and GoRoot start again from the root
// element). A cursor never changes its document.
//
// Ownership: the cursor holds counted references to its document and its
// current node; a node handed out by Node() keeps the document alive after the
// cursor is destroyed. The caller that made a cursor owns it.
//
// Errors: a failing DOM operation raises EXmlDomError, a path index that is
// not a number raises EXmlConvertError; either way the cursor keeps the current
// node it had. A cursor and its document are used by one thread at a time.
class TKivoXmlParse {
public:
    TKivoXmlParse(); // an empty cursor without a document
    ~TKivoXmlParse();
    TKivoXmlParse(const TKivoXmlParse&) = delete;
    TKivoXmlParse& operator=(const TKivoXmlParse&) = delete;

    // A cursor on the root element of the file's document; without a document
    // when no regular file of that name exists. Raises EXmlDomError when the
    // file does not parse, cannot be read, or is larger than 64 MiB.
    static std::unique_ptr<TKivoXmlParse> LoadXMLFromFile(const std::string& FileName);
    // A cursor on the root element of DOC's document; without a document for
    // empty text. Raises EXmlDomError when DOC does not parse.
    static std::unique_ptr<TKivoXmlParse> LoadXMLFromString(const std::string& DOC);
    // A new document <?xml version="1.0"?><RootName />, the cursor on its root.
    static std::unique_ptr<TKivoXmlParse> CreateDocument(const std::string& RootName);

    bool GoRoot();
    bool MoveTo(const std::string& Path, bool FromRoot = false);
    bool MoveUp();
    bool MoveSibling();
    bool IsExistNode(const std::string& Id) const;
    // MoveTo(xStr), Value when found, then MoveUp either way: after a miss the
    // cursor is empty, after a hit it stands on the parent of the node found.
    std::string GetNodeValue(const std::string& xStr);
    void AddNode(const std::string& Id, const std::string& AValue = "");
    void AddSibling();
    void RemoveNode(const std::string& Id);
    bool GetNodeList(std::vector<std::string>& List) const;
    bool SaveTo(std::ostream& Stream) const;
    bool SaveTo(const std::string& FileName) const;

    std::string Value() const;
    void SetValue(const std::string& V);
    std::string CData() const;
    void SetCData(const std::string& V);
    std::string Text() const;
    void SetText(const std::string& V);
    std::string Encoding() const;
    void SetEncoding(const std::string& V);
    std::string Name() const;
    std::string RootName() const;
    bool IsEmpty() const;
    TXmlNode Node() const;

private:
    void SetXMLDoc(const TXmlDocument& Document);
    static std::unique_ptr<TKivoXmlParse> FromDocument(const TXmlDocument& Document);

    TXmlDocument FXMLDoc; // the document; null for a cursor made without one
    TXmlNode FNode;       // the current node; null means the cursor is empty
};

// The loading steps of the factories (LoadXMLFromFile does ReadDocumentFile's
// with the same single open that tells whether the file exists); each returns
// a document or raises the parse error. ReadDocumentFile turns "validate" off;
// ParseDocumentText turns it off for the load and back on after.
TXmlDocument ReadDocumentFile(const std::string& FileName);
TXmlDocument ParseDocumentText(const std::string& Text);

} // namespace kds
