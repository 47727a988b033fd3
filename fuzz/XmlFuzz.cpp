// The input is an XML text, optionally followed by a NUL byte and paths, one a
// line. The text goes into LoadXMLFromString; the paths (or, without any, a
// fixed set) go through MoveTo, IsExistNode, AddNode and the reads. Errors
// derived from std::exception are the expected outcome of bad input; anything
// else (a crash, a hang, a sanitizer report) is a fault. A saved document must
// load again.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "xml/TKivoXmlParse.h"

namespace {

const char* const FixedPaths[] = {
    "Order", "header\\TA001", "Detail\\item[1]@no", "..\\..\\x", "a\\b[2]\\c", "*[*]",
    "@id",   "\\\\",          "item[$7]\\..",       "k:n[0]"};

void Exercise(kds::TKivoXmlParse& Cursor, const std::string& Path) {
    try {
        Cursor.MoveTo(Path);
        Cursor.IsExistNode(Path);
        (void)Cursor.Value();
        (void)Cursor.Name();
        std::vector<std::string> List;
        Cursor.GetNodeList(List);
        Cursor.AddNode(Path, "v<&>");
        (void)Cursor.Text();
        (void)Cursor.CData();
        Cursor.MoveSibling();
        Cursor.MoveUp();
        Cursor.GetNodeValue(Path);
    } catch (const std::exception&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string Input(reinterpret_cast<const char*>(Data), Size);
    const std::size_t Nul = Input.find('\0');
    const std::string Doc = Input.substr(0, Nul);
    std::vector<std::string> Paths;
    if (Nul != std::string::npos) {
        std::istringstream Lines(Input.substr(Nul + 1));
        for (std::string Line; Paths.size() < 8 && std::getline(Lines, Line);)
            Paths.push_back(Line);
    } else {
        Paths.assign(std::begin(FixedPaths), std::end(FixedPaths));
    }

    std::unique_ptr<kds::TKivoXmlParse> Cursor;
    try {
        Cursor = kds::TKivoXmlParse::LoadXMLFromString(Doc);
    } catch (const std::exception&) {
        return 0;
    }
    for (const std::string& Path : Paths)
        Exercise(*Cursor, Path);
    try {
        Cursor->SetEncoding("UTF-8");
    } catch (const std::exception&) {
    }
    std::ostringstream Saved;
    try {
        if (!Cursor->SaveTo(Saved))
            return 0;
    } catch (const std::exception&) {
        return 0;
    }
    try {
        kds::TKivoXmlParse::LoadXMLFromString(Saved.str());
    } catch (const std::exception&) {
        std::abort(); // what was saved does not load again
    }
    return 0;
}
