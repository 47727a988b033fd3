#include "base/NumberFormat.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <string>

#include "support/DecimalSeparatorScope.h"

using namespace kds;

namespace {

struct FloatText {
    double Value;
    const char* Text;
};

void PrintTo(const FloatText& C, std::ostream* Os) {
    *Os << C.Text;
}

class FloatToStrGeneralTest : public testing::TestWithParam<FloatText> {};

TEST_P(FloatToStrGeneralTest, WritesFifteenSignificantDigits) {
    EXPECT_EQ(FloatToStrGeneral(GetParam().Value, u'.'), GetParam().Text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FloatToStrGeneralTest,
    testing::Values(FloatText{0, "0"}, FloatText{2, "2"}, FloatText{1.5, "1.5"},
                    FloatText{-1.5, "-1.5"}, FloatText{0.1 + 0.2, "0.3"}, FloatText{1e20, "1E20"},
                    FloatText{1e15, "1E15"}, FloatText{999999999999999, "999999999999999"},
                    FloatText{123456789012345678.0, "1.23456789012346E17"},
                    FloatText{0.00001, "0.00001"}, FloatText{0.000001, "1E-6"},
                    FloatText{-2.5e-7, "-2.5E-7"}, FloatText{100, "100"},
                    FloatText{1234.5678, "1234.5678"}, FloatText{1.0 / 3, "0.333333333333333"},
                    FloatText{std::numeric_limits<double>::infinity(), "INF"},
                    FloatText{-std::numeric_limits<double>::infinity(), "-INF"},
                    FloatText{std::numeric_limits<double>::quiet_NaN(), "NAN"}));

TEST(FloatToStrGeneralTest, UsesTheGivenSeparator) {
    EXPECT_EQ(FloatToStrGeneral(1.5, u','), "1,5");
    EXPECT_EQ(FloatToStrGeneral(2.5e-7, u','), "2,5E-7");
}

struct TextFloat {
    const char* Text;
    char16_t Separator;
    bool Ok;
    double Value;
};

void PrintTo(const TextFloat& C, std::ostream* Os) {
    *Os << '"' << C.Text << '"';
}

class TryTextToFloatTest : public testing::TestWithParam<TextFloat> {};

TEST_P(TryTextToFloatTest, ReadsOnlyTheGivenSeparator) {
    double V = -99;
    EXPECT_EQ(TryTextToFloat(GetParam().Text, GetParam().Separator, V), GetParam().Ok)
        << GetParam().Text;
    if (GetParam().Ok)
        EXPECT_DOUBLE_EQ(V, GetParam().Value);
    else
        EXPECT_EQ(V, -99) << "a failed read must not change the value";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TryTextToFloatTest,
    testing::Values(TextFloat{"1.5", u'.', true, 1.5}, TextFloat{"1,5", u',', true, 1.5},
                    TextFloat{"1.5", u',', false, 0}, TextFloat{"1,5", u'.', false, 0},
                    TextFloat{" -2 ", u'.', true, -2}, TextFloat{"+3", u'.', true, 3},
                    TextFloat{"1e3", u'.', true, 1000}, TextFloat{"2.5E-2", u'.', true, 0.025},
                    TextFloat{".5", u'.', true, 0.5}, TextFloat{"5.", u'.', true, 5},
                    TextFloat{"", u'.', false, 0}, TextFloat{"-", u'.', false, 0},
                    TextFloat{".", u'.', false, 0}, TextFloat{"1e", u'.', false, 0},
                    TextFloat{"1.2.3", u'.', false, 0}, TextFloat{"12x", u'.', false, 0},
                    TextFloat{"1e999", u'.', false, 0}, TextFloat{"1 000", u'.', false, 0}));

TEST(TryTextToIntTest, ReadsDecimalIntegersOnly) {
    int64_t V = 0;
    EXPECT_TRUE(TryTextToInt64("-9223372036854775808", V));
    EXPECT_EQ(V, INT64_MIN);
    EXPECT_TRUE(TryTextToInt64(" +12 ", V));
    EXPECT_EQ(V, 12);
    EXPECT_FALSE(TryTextToInt64("12x", V));
    EXPECT_FALSE(TryTextToInt64("9223372036854775808", V));
    EXPECT_FALSE(TryTextToInt64("", V));
    EXPECT_FALSE(TryTextToInt64("+-1", V));
    int32_t W = 0;
    EXPECT_TRUE(TryTextToInt32("-2147483648", W));
    EXPECT_EQ(W, INT32_MIN);
    EXPECT_FALSE(TryTextToInt32("2147483648", W));
}

// Sets an environment variable for the life of the object.
class TEnvironmentScope {
public:
    TEnvironmentScope(const char* Name, const char* Value) : FName(Name) {
        const char* Old = std::getenv(Name);
        FHad = Old != nullptr;
        if (FHad)
            FOld = Old;
        setenv(Name, Value, 1);
    }
    ~TEnvironmentScope() {
        if (FHad)
            setenv(FName, FOld.c_str(), 1);
        else
            unsetenv(FName);
    }

private:
    const char* FName;
    std::string FOld;
    bool FHad = false;
};

TEST(TNumberFormatTest, NulIsNoSeparatorAndTheLocaleCanBeReadAgain) {
    test::TDecimalSeparatorScope Comma(u',');
    TNumberFormat::SetDecimalSeparator(0); // would end every number's text
    EXPECT_EQ(TNumberFormat::DecimalSeparator(), u'.');
    TNumberFormat::SetDecimalSeparator(u',');
    TEnvironmentScope Locale("LC_ALL", "C");
    TNumberFormat::LoadFromSystemLocale(); // replaces what start-up code set
    EXPECT_EQ(TNumberFormat::DecimalSeparator(), u'.');
}

} // namespace
