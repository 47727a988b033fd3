#pragma once

// The small token scanner behind command texts: the metadata commands
// ("GetProcedures a.b, c"), method names written with a point
// ("TServerMethods1 . EchoString") and literal argument lists
// ("DSMetadata.GetProcedures(\"A\", \"B\")").
//
//   token        what it is
//   -----------  ----------------------------------------------------------
//   Identifier   [A-Za-z_][A-Za-z0-9_$]*, or "..." in double quotes, where
//                "" stands for one embedded quote; the text is given without
//                the quotes (Quoted tells which form it was)
//   Number       digits with an optional "." and fraction digits
//   Symbol       any other single character ("(", ",", ".", ...)
//   End          nothing is left
//
// TAB, LF, CR and blanks separate tokens; a line that starts with "--" is
// skipped to its end. A double quote that is never closed makes the rest of
// the text one quoted identifier. Never raises.
//
// A scanner reads one text it copies; it belongs to the thread that made it.

#include <cstdint>
#include <string>
#include <string_view>

namespace kds {

enum class TDBXSqlTokenKind { Identifier, Number, Symbol, End };

struct TDBXSqlToken {
    TDBXSqlTokenKind Kind = TDBXSqlTokenKind::End;
    std::u16string Text;
    // A double-quoted identifier.
    bool Quoted = false;

    bool IsSymbol(char16_t Ch) const {
        return Kind == TDBXSqlTokenKind::Symbol && Text.size() == 1 && Text[0] == Ch;
    }
};

class TDBXSqlScanner {
public:
    explicit TDBXSqlScanner(std::u16string_view Text = {}) : FText(Text) {}

    void Init(std::u16string_view Text) {
        FText.assign(Text);
        FPos = 0;
    }
    TDBXSqlToken NextToken();
    // Where the next token starts to be looked for.
    size_t Position() const { return FPos; }

    // The text as a double-quoted identifier: in quotes, every embedded quote
    // doubled, so that the scanner gives the text back unchanged.
    static std::u16string QuoteIdentifier(std::u16string_view Text);

private:
    void SkipSeparators();

    std::u16string FText;
    size_t FPos = 0;
};

} // namespace kds
