#include "xml/XmlDocument.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

#include "XmlDocumentData.h"
#include "base/AsciiText.h"
#include "xml/XmlErrors.h"

namespace kds {

namespace {

// Comments, processing instructions, CDATA and the declaration are kept; the
// default set drops white space that stands alone between elements. No option
// of pugixml reads anything outside the text: entity references other than the
// predefined and character ones stay as they are written, and a DOCTYPE is
// skipped over without being read (parse_doctype is off).
constexpr unsigned ParseOptions =
    pugi::parse_default | pugi::parse_declaration | pugi::parse_pi | pugi::parse_comments;

// Code of a load that failed before parsing, or of a document with a second
// root element (pugixml takes a fragment of several for a document).
constexpr int ErrorIo = pugi::status_io_error;
constexpr int ErrorTooLarge = 100;
constexpr int ErrorSecondRoot = 101;

// 1-based line and character position of byte Offset in Text. A line break is
// a line feed, a carriage return, or both in that order; UTF-8 continuation
// bytes do not count as characters.
void LineAndPosition(const char* Text, std::size_t Size, std::size_t Offset, int& Line, int& Pos) {
    if (Offset > Size)
        Offset = Size;
    Line = 1;
    Pos = 1;
    for (std::size_t I = 0; I < Offset; ++I) {
        const unsigned char C = static_cast<unsigned char>(Text[I]);
        if (C == '\n' || C == '\r') {
            if (C == '\r' && I + 1 < Offset && Text[I + 1] == '\n')
                ++I;
            ++Line;
            Pos = 1;
        } else if ((C & 0xC0) != 0x80)
            ++Pos;
    }
}

class TStreamWriter : public pugi::xml_writer {
public:
    explicit TStreamWriter(std::ostream& Stream) : FStream(Stream) {}
    void write(const void* Data, size_t Size) override {
        FStream.write(static_cast<const char*>(Data), static_cast<std::streamsize>(Size));
    }

private:
    std::ostream& FStream;
};

pugi::xml_node Declaration(const pugi::xml_document& Doc) {
    for (pugi::xml_node C = Doc.first_child(); C; C = C.next_sibling()) {
        if (C.type() == pugi::node_declaration)
            return C;
        if (C.type() == pugi::node_element)
            break;
    }
    return pugi::xml_node();
}

} // namespace

void xmldetail::DestroyDocument(TCounted* Doc) {
    delete static_cast<TDocumentData*>(Doc);
}

TXmlDocument TXmlDocument::Create() {
    return TXmlDocument(xmldetail::TDocumentRef(new xmldetail::TDocumentData()));
}

void TXmlDocument::Require() const {
    if (!FData)
        throw EXmlDomError("No XML document");
}

bool TXmlDocument::Validate() const {
    return FData && FData->FValidate;
}

void TXmlDocument::SetValidate(bool Value) {
    Require();
    FData->FValidate = Value;
}

bool TXmlDocument::LoadFromText(const std::string& Text) {
    Require();
    FData->Reset();
    return LoadBuffer(Text.data(), Text.size());
}

bool TXmlDocument::LoadBuffer(const char* Text, std::size_t Size) {
    xmldetail::TDocumentData& D = *FData;
    const pugi::xml_parse_result Result =
        D.Doc.load_buffer(Text, Size, ParseOptions, pugi::encoding_auto);
    TXmlParseError& E = D.FError;
    if (Result) {
        // pugixml takes several top-level elements for a document; a document
        // has exactly one.
        pugi::xml_node Root = D.Doc.document_element();
        pugi::xml_node Second = Root.next_sibling();
        while (Second && Second.type() != pugi::node_element)
            Second = Second.next_sibling();
        if (!Second)
            return true;
        E.ErrorCode = ErrorSecondRoot;
        E.Reason = "Only one top level element is allowed in a document";
        E.FilePos = static_cast<std::size_t>(Second.offset_debug() < 0 ? 0 : Second.offset_debug());
        // offset_debug points at the name; the element starts one byte before.
        if (E.FilePos > 0)
            --E.FilePos;
    } else {
        E.ErrorCode = static_cast<int>(Result.status);
        E.Reason = Result.description();
        E.FilePos = static_cast<std::size_t>(Result.offset < 0 ? 0 : Result.offset);
    }
    LineAndPosition(Text, Size, E.FilePos, E.Line, E.LinePos);
    D.Doc.reset();
    return false;
}

bool TXmlDocument::LoadFromFile(const std::string& FileName) {
    Require();
    FData->Reset();
    TXmlParseError& E = FData->FError;
    // Opened without blocking, so that a pipe or device of that name cannot
    // hang the caller; it is then refused as no regular file.
    // The file is read here, bounded by its size as the system reports it and
    // by MaxFileSize, so that a huge file is refused before it is held in
    // memory. The buffer is handed to pugixml, which parses it in place.
    const int Fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (Fd < 0) {
        const bool Missing = errno == ENOENT || errno == ENOTDIR;
        E.ErrorCode = Missing ? ErrorNoSuchFile : ErrorIo;
        E.Reason = Missing ? "The file \"" + FileName + "\" does not exist"
                           : "The file \"" + FileName + "\" cannot be opened";
        return false;
    }
    struct TCloser {
        int Fd;
        ~TCloser() { ::close(Fd); }
    } Closer{Fd};
    struct stat Info {};
    if (::fstat(Fd, &Info) != 0) {
        E.ErrorCode = ErrorIo;
        E.Reason = "The file \"" + FileName + "\" cannot be read";
        return false;
    }
    if (!S_ISREG(Info.st_mode)) {
        E.ErrorCode = ErrorNoSuchFile;
        E.Reason = "\"" + FileName + "\" is not a file that can be read";
        return false;
    }
    const auto Size = static_cast<std::size_t>(Info.st_size);
    if (Size > MaxFileSize) {
        E.ErrorCode = ErrorTooLarge;
        E.Reason = "The file \"" + FileName + "\" is larger than " + std::to_string(MaxFileSize) +
                   " bytes (64 MiB)";
        return false;
    }
    // One byte more than the size, to notice a file that grew meanwhile.
    std::string Text(Size + 1, '\0');
    std::size_t Got = 0;
    while (Got <= Size) {
        const ssize_t N = ::read(Fd, Text.data() + Got, Size + 1 - Got);
        if (N < 0 && errno == EINTR)
            continue;
        if (N < 0) {
            E.ErrorCode = ErrorIo;
            E.Reason = "The file \"" + FileName + "\" cannot be read";
            return false;
        }
        if (N == 0)
            break;
        Got += static_cast<std::size_t>(N);
    }
    if (Got > Size) {
        E.ErrorCode = ErrorIo;
        E.Reason = "The file \"" + FileName + "\" changed while it was read";
        return false;
    }
    return LoadBuffer(Text.data(), Got);
}

const TXmlParseError& TXmlDocument::ParseError() const {
    static const TXmlParseError None;
    return FData ? FData->FError : None;
}

void TXmlDocument::RaiseParseError() const {
    const TXmlParseError& E = ParseError();
    if (E.ErrorCode == 0)
        return;
    std::string Message = "XML Parse Error:\n\r";
    Message += "Reason: " + E.Reason + "\n\r";
    if (E.Line > 0)
        Message +=
            "Error on line " + std::to_string(E.Line) + ", position " + std::to_string(E.LinePos);
    throw EXmlDomError(Message);
}

TXmlNode TXmlDocument::DocumentNode() const {
    if (!FData)
        return TXmlNode();
    return TXmlNode(FData, FData->Doc);
}

TXmlNode TXmlDocument::DocumentElement() const {
    if (!FData)
        return TXmlNode();
    for (pugi::xml_node C = FData->Doc.first_child(); C; C = C.next_sibling())
        if (C.type() == pugi::node_element && !FData->IsHold(C))
            return TXmlNode(FData, C);
    return TXmlNode();
}

TXmlNode TXmlDocument::CreateElement(const std::string& Name) {
    Require();
    if (!xmldetail::IsValidXmlName(Name))
        throw EXmlDomError("\"" + Name + "\" is not a valid element name");
    pugi::xml_node N = FData->Hold().append_child(pugi::node_element);
    if (!N || !N.set_name(Name.c_str()))
        throw EXmlDomError("Out of memory while creating an element");
    return TXmlNode(FData, N);
}

namespace {

pugi::xml_node MakeValueNode(pugi::xml_node Hold, pugi::xml_node_type Type,
                             const std::string& Data) {
    pugi::xml_node N = Hold.append_child(Type);
    if (!N || !N.set_value(Data.c_str()))
        throw EXmlDomError("Out of memory while creating a node");
    return N;
}

} // namespace

TXmlNode TXmlDocument::CreateTextNode(const std::string& Data) {
    Require();
    return TXmlNode(FData, MakeValueNode(FData->Hold(), pugi::node_pcdata, Data));
}

TXmlNode TXmlDocument::CreateCDataSection(const std::string& Data) {
    Require();
    return TXmlNode(FData, MakeValueNode(FData->Hold(), pugi::node_cdata, Data));
}

TXmlNode TXmlDocument::CreateComment(const std::string& Data) {
    Require();
    return TXmlNode(FData, MakeValueNode(FData->Hold(), pugi::node_comment, Data));
}

TXmlNode TXmlDocument::CreateProcessingInstruction(const std::string& Target,
                                                   const std::string& Data) {
    Require();
    if (!xmldetail::IsValidXmlName(Target) || AsciiLowerCase(Target) == "xml")
        throw EXmlDomError("\"" + Target + "\" is not a valid processing instruction target");
    pugi::xml_node N = MakeValueNode(FData->Hold(), pugi::node_pi, Data);
    if (!N.set_name(Target.c_str()))
        throw EXmlDomError("Out of memory while creating a node");
    return TXmlNode(FData, N);
}

TXmlNode TXmlDocument::ImportNode(const TXmlNode& Node) {
    Require();
    const int Type = Node.NodeType();
    if (Type == 0 || Type == TXmlNodeType::Attribute || Type == TXmlNodeType::Document ||
        Node.PugiNode().type() == pugi::node_declaration ||
        Node.PugiNode().type() == pugi::node_doctype)
        throw EXmlDomError("This node cannot be imported");
    const pugi::xml_node Copy = FData->Hold().append_copy(Node.PugiNode());
    if (!Copy)
        throw EXmlDomError("The node cannot be imported");
    return TXmlNode(FData, Copy);
}

std::string TXmlDocument::DeclaredEncoding() const {
    if (!FData)
        return {};
    return Declaration(FData->Doc).attribute("encoding").value();
}

void TXmlDocument::SetDeclaredEncoding(const std::string& Value) {
    Require();
    if (DeclaredEncoding().empty() && Value.empty())
        return;
    pugi::xml_node Decl = Declaration(FData->Doc);
    if (!Decl)
        return;
    pugi::xml_attribute Attr = Decl.attribute("encoding");
    if (Value.empty()) {
        Decl.remove_attribute(Attr);
        return;
    }
    if (!Attr) {
        // The encoding belongs after the version and before "standalone".
        const pugi::xml_attribute Version = Decl.attribute("version");
        Attr = Version ? Decl.insert_attribute_after("encoding", Version)
                       : Decl.prepend_attribute("encoding");
    }
    if (!Attr || !Attr.set_value(Value.c_str()))
        throw EXmlDomError("Out of memory while setting the encoding");
}

void TXmlDocument::Save(std::ostream& Stream) const {
    Require();
    // Written in the encoding the declaration names where pugixml can, so that
    // the file reads back as it was; any other name is written as UTF-8, which
    // keeps bytes that were read as they were.
    const std::string Declared = AsciiLowerCase(DeclaredEncoding());
    pugi::xml_encoding Encoding = pugi::encoding_utf8;
    const char* Bom = "";
    std::size_t BomSize = 0;
    if (Declared == "iso-8859-1" || Declared == "latin1" || Declared == "iso_8859-1")
        Encoding = pugi::encoding_latin1;
    else if (Declared == "utf-16" || Declared == "utf16" || Declared == "utf-16le") {
        Encoding = pugi::encoding_utf16_le;
        Bom = "\xFF\xFE";
        BomSize = 2;
    } else if (Declared == "utf-32" || Declared == "utf32" || Declared == "utf-32le") {
        Encoding = pugi::encoding_utf32_le;
        Bom = "\xFF\xFE\0\0";
        BomSize = 4;
    }
    Stream.write(Bom, static_cast<std::streamsize>(BomSize));
    TStreamWriter Writer(Stream);
    for (pugi::xml_node C = FData->Doc.first_child(); C; C = C.next_sibling())
        if (!FData->IsHold(C))
            C.print(Writer, "", pugi::format_raw, Encoding);
    Stream.flush();
    if (!Stream)
        throw EXmlDomError("The XML document could not be written");
}

void TXmlDocument::Save(const std::string& FileName) const {
    Require();
    std::ofstream Out(FileName, std::ios::binary | std::ios::trunc);
    if (!Out)
        throw EXmlDomError("The file \"" + FileName + "\" cannot be created");
    Save(Out);
    Out.close();
    if (!Out)
        throw EXmlDomError("The file \"" + FileName + "\" could not be written");
}

} // namespace kds
