#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

#include "xml/XmlNode.h"

namespace kds {

// Details of the last failed load. ErrorCode 0 means the load succeeded (or
// nothing was loaded). Line and LinePos are 1-based and computed from the
// offset at which the parser stopped; LinePos counts characters, not bytes.
struct TXmlParseError {
    int ErrorCode = 0;
    int Line = 0;
    int LinePos = 0;
    std::size_t FilePos = 0;
    std::string Reason;
};

// A counted reference to one XML document, over pugixml. Copies share the
// document; it is freed when the last document handle and the last node
// handle (TXmlNode) are gone. A default handle is null; Create makes a new,
// empty document.
//
// Loading keeps comments, processing instructions, CDATA sections and the XML
// declaration, and drops white space that stands alone between elements. It
// never loads anything from outside: pugixml resolves no external entity and
// reads no DTD (a DOCTYPE is skipped over), so only the text given is read.
// Files are read here, not by the parser, and refused above MaxFileSize.
//
// Loading does not raise: it records the error in ParseError (use
// TXmlDocument::RaiseParseError). Saving and node creation raise EXmlDomError.
// One thread at a time.
class TXmlDocument {
public:
    static constexpr std::size_t MaxFileSize = 64u * 1024u * 1024u;
    // ParseError().ErrorCode of LoadFromFile when no regular file of that
    // name exists (nothing there, or a folder, a device, a pipe).
    static constexpr int ErrorNoSuchFile = 1;

    TXmlDocument() = default;
    static TXmlDocument Create();

    bool IsNull() const { return !FData; }
    explicit operator bool() const { return static_cast<bool>(FData); }

    // The "validate" option is kept and reported back only: pugixml checks
    // well-formedness and never validates against a DTD or schema. It starts
    // on, as a standard DOM's does.
    bool Validate() const;
    void SetValidate(bool Value);

    // Replace the content by the file's or the text's. On failure the
    // document is left empty and ParseError says why. A missing file (code
    // ErrorNoSuchFile), a file that cannot be opened or read, or one larger
    // than MaxFileSize is a failed load too.
    bool LoadFromFile(const std::string& FileName);
    bool LoadFromText(const std::string& Text);
    const TXmlParseError& ParseError() const;
    // Raises EXmlDomError built from ParseError when its code is not 0:
    // "XML Parse Error:\n\r" "Reason: <reason>\n\r" and, when the line is
    // known, "Error on line <l>, position <p>".
    void RaiseParseError() const;

    TXmlNode DocumentNode() const;
    TXmlNode DocumentElement() const; // null when there is none

    // New nodes, owned by the document and not yet in its tree. Element names
    // must be valid XML names (EXmlDomError otherwise).
    TXmlNode CreateElement(const std::string& Name);
    TXmlNode CreateTextNode(const std::string& Data);
    TXmlNode CreateCDataSection(const std::string& Data);
    TXmlNode CreateComment(const std::string& Data);
    TXmlNode CreateProcessingInstruction(const std::string& Target, const std::string& Data);
    // A copy of a node of another document (or of this one), not in the tree.
    TXmlNode ImportNode(const TXmlNode& Node);

    // The encoding named in the XML declaration, read and written directly;
    // empty without a declaration or without an encoding in it. Writing an
    // empty value removes the encoding; a document without a declaration is
    // left unchanged.
    std::string DeclaredEncoding() const;
    void SetDeclaredEncoding(const std::string& Value);

    // Serialise the whole document, without added white space, in the
    // declared encoding when pugixml can write it (UTF-8, UTF-16, UTF-32,
    // ISO-8859-1), else in UTF-8. Raise EXmlDomError when writing fails.
    void Save(std::ostream& Stream) const;
    void Save(const std::string& FileName) const;

private:
    friend class TXmlNode;
    explicit TXmlDocument(xmldetail::TDocumentRef Data) : FData(std::move(Data)) {}
    void Require() const;
    bool LoadBuffer(const char* Text, std::size_t Size);
    xmldetail::TDocumentRef FData;
};

} // namespace kds
