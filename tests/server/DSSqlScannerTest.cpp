#include "server/DSSqlScanner.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "base/TextConvert.h"
#include "support/TestNames.h"

namespace kds {
namespace {

// Tokens written as kind letter and text: I identifier, Q quoted identifier,
// N number, S symbol.
std::vector<std::string> Scan(const std::u16string& Text) {
    TDBXSqlScanner Scanner(Text);
    std::vector<std::string> Out;
    for (TDBXSqlToken T = Scanner.NextToken(); T.Kind != TDBXSqlTokenKind::End;
         T = Scanner.NextToken()) {
        const char* Kind = T.Kind == TDBXSqlTokenKind::Identifier ? (T.Quoted ? "Q" : "I")
                           : T.Kind == TDBXSqlTokenKind::Number   ? "N"
                                                                  : "S";
        Out.push_back(std::string(Kind) + Utf16ToUtf8(T.Text));
    }
    return Out;
}

struct TScanCase {
    std::string Name;
    std::u16string Text;
    std::vector<std::string> Tokens;
};

class TDBXSqlScannerTest : public ::testing::TestWithParam<TScanCase> {};

TEST_P(TDBXSqlScannerTest, SplitsTextIntoTokens) {
    EXPECT_EQ(Scan(GetParam().Text), GetParam().Tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TDBXSqlScannerTest,
    ::testing::Values(
        TScanCase{
            "DottedName", u"TServerMethods1.EchoString", {"ITServerMethods1", "S.", "IEchoString"}},
        TScanCase{"IdentifierCharacters", u"_a$1 b2", {"I_a$1", "Ib2"}},
        TScanCase{"LiteralList",
                  u"DSMetadata.GetProcedures(\"A\", \"B\")",
                  {"IDSMetadata", "S.", "IGetProcedures", "S(", "QA", "S,", "QB", "S)"}},
        TScanCase{"EmptyQuoted", u"(\"\", \"\")", {"S(", "Q", "S,", "Q", "S)"}},
        TScanCase{"DoubledQuoteIsOneQuote", u"\"a\"\"b\" x", {"Qa\"b", "Ix"}},
        TScanCase{"UnclosedQuoteTakesTheRest", u"\"ab c", {"Qab c"}},
        TScanCase{"Numbers", u"12 3.5 7.", {"N12", "N3.5", "N7", "S."}},
        TScanCase{"Separators", u"\ta\r\nb  c", {"Ia", "Ib", "Ic"}},
        TScanCase{"CommentLineSkipped", u"-- GetDatabase\nGetProcedures", {"IGetProcedures"}},
        TScanCase{"IndentedCommentSkipped", u"a\n  -- b c\nd", {"Ia", "Id"}},
        TScanCase{"MinusAfterTokenIsNoComment", u"a --b", {"Ia", "S-", "S-", "Ib"}},
        TScanCase{"Empty", u"", {}},
        TScanCase{"OtherCharactersAreSymbols", u"\u00E9;", {"S\xC3\xA9", "S;"}}),
    test::TCaseName());

TEST(TDBXSqlScannerQuoteTest, QuotedTextScansBackUnchanged) {
    for (const std::u16string& Text :
         {std::u16string(u""), std::u16string(u"plain"), std::u16string(u"a\"b"),
          std::u16string(u"\"\"\"), \"x"), std::u16string(u"a, b")}) {
        TDBXSqlScanner Scanner(TDBXSqlScanner::QuoteIdentifier(Text));
        const TDBXSqlToken Token = Scanner.NextToken();
        EXPECT_TRUE(Token.Quoted);
        EXPECT_EQ(Token.Text, Text);
        EXPECT_EQ(Scanner.NextToken().Kind, TDBXSqlTokenKind::End);
    }
}

} // namespace
} // namespace kds
