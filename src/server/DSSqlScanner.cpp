#include "server/DSSqlScanner.h"

namespace kds {

namespace {

bool IsSeparator(char16_t Ch) {
    return Ch == u'\t' || Ch == u'\n' || Ch == u'\r' || Ch == u' ';
}
bool IsIdentStart(char16_t Ch) {
    return (Ch >= u'A' && Ch <= u'Z') || (Ch >= u'a' && Ch <= u'z') || Ch == u'_';
}
bool IsIdentPart(char16_t Ch) {
    return IsIdentStart(Ch) || (Ch >= u'0' && Ch <= u'9') || Ch == u'$';
}
bool IsDigit(char16_t Ch) {
    return Ch >= u'0' && Ch <= u'9';
}

} // namespace

void TDBXSqlScanner::SkipSeparators() {
    for (;;) {
        while (FPos < FText.size() && IsSeparator(FText[FPos]))
            ++FPos;
        if (FPos + 1 >= FText.size() || FText[FPos] != u'-' || FText[FPos + 1] != u'-')
            return;
        // "--" is a comment only when nothing but separators stands before it
        // on its line.
        size_t LineBegin = FPos;
        while (LineBegin > 0 && FText[LineBegin - 1] != u'\n' && FText[LineBegin - 1] != u'\r')
            --LineBegin;
        for (size_t I = LineBegin; I < FPos; ++I)
            if (!IsSeparator(FText[I]))
                return;
        while (FPos < FText.size() && FText[FPos] != u'\n' && FText[FPos] != u'\r')
            ++FPos;
    }
}

TDBXSqlToken TDBXSqlScanner::NextToken() {
    SkipSeparators();
    TDBXSqlToken Token;
    if (FPos >= FText.size())
        return Token;
    const char16_t Ch = FText[FPos];
    if (IsIdentStart(Ch)) {
        const size_t Start = FPos;
        while (FPos < FText.size() && IsIdentPart(FText[FPos]))
            ++FPos;
        Token.Kind = TDBXSqlTokenKind::Identifier;
        Token.Text = FText.substr(Start, FPos - Start);
        return Token;
    }
    if (Ch == u'"') {
        ++FPos;
        Token.Kind = TDBXSqlTokenKind::Identifier;
        Token.Quoted = true;
        while (FPos < FText.size()) {
            if (FText[FPos] == u'"') {
                if (FPos + 1 < FText.size() && FText[FPos + 1] == u'"') {
                    Token.Text += u'"';
                    FPos += 2;
                    continue;
                }
                ++FPos;
                break;
            }
            Token.Text += FText[FPos++];
        }
        return Token;
    }
    if (IsDigit(Ch)) {
        const size_t Start = FPos;
        while (FPos < FText.size() && IsDigit(FText[FPos]))
            ++FPos;
        if (FPos + 1 < FText.size() && FText[FPos] == u'.' && IsDigit(FText[FPos + 1])) {
            ++FPos;
            while (FPos < FText.size() && IsDigit(FText[FPos]))
                ++FPos;
        }
        Token.Kind = TDBXSqlTokenKind::Number;
        Token.Text = FText.substr(Start, FPos - Start);
        return Token;
    }
    Token.Kind = TDBXSqlTokenKind::Symbol;
    Token.Text.assign(1, Ch);
    ++FPos;
    return Token;
}

std::u16string TDBXSqlScanner::QuoteIdentifier(std::u16string_view Text) {
    std::u16string Out;
    Out.reserve(Text.size() + 2);
    Out += u'"';
    for (char16_t Ch : Text) {
        if (Ch == u'"')
            Out += u'"';
        Out += Ch;
    }
    Out += u'"';
    return Out;
}

} // namespace kds
