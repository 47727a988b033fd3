#include "server/DSReflect.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "base/TextConvert.h"
#include "server/DSAdmin.h"
#include "support/TestNames.h"

namespace kds {
namespace {

struct TTypeCase {
    std::string Name;
    std::u16string TypeName;
    TDSParamFlag Flag;
    int32_t DataType;
    int32_t SubType;
    bool IsClass;
    bool IsValueClass;
    std::u16string Unit;
};

class DSTypeResolutionTest : public ::testing::TestWithParam<TTypeCase> {};

TEST_P(DSTypeResolutionTest, GivesTheDataTypeOfTheDeclaredName) {
    const TTypeCase& C = GetParam();
    const TDSTypeInfo Type = ResolveType(C.TypeName, C.Flag);
    EXPECT_EQ(Type.DataType, C.DataType);
    EXPECT_EQ(Type.SubType, C.SubType);
    EXPECT_EQ(Type.IsClass, C.IsClass);
    EXPECT_EQ(Type.IsValueClass, C.IsValueClass);
    EXPECT_EQ(Type.UnitName, C.Unit);
}

constexpr auto In = TDSParamFlag::In;
constexpr auto Var = TDSParamFlag::Var;
constexpr auto Out = TDSParamFlag::Out;

INSTANTIATE_TEST_SUITE_P(
    Types, DSTypeResolutionTest,
    ::testing::Values(
        TTypeCase{"string", u"string", In, 26, 0, false, false, u""},
        TTypeCase{"StringAnyCase", u"STRING", Out, 26, 0, false, false, u""},
        TTypeCase{"UnicodeStringNormalised", u"UnicodeString", In, 26, 0, false, false, u""},
        TTypeCase{"WideStringIn", u"WideString", In, 26, 0, false, false, u""},
        TTypeCase{"WideStringVarHasNoType", u"WideString", Var, 0, 0, false, false, u""},
        TTypeCase{"AnsiString", u"AnsiString", In, 1, 0, false, false, u""},
        TTypeCase{"Integer", u"Integer", In, 6, 0, false, false, u""},
        TTypeCase{"intNormalised", u"int", In, 6, 0, false, false, u""},
        TTypeCase{"unsignedshort", u"unsigned short", In, 12, 0, false, false, u""},
        TTypeCase{"Int64", u"Int64", In, 18, 0, false, false, u""},
        TTypeCase{"Byte", u"Byte", In, 29, 0, false, false, u""},
        TTypeCase{"ShortInt", u"ShortInt", In, 28, 0, false, false, u""},
        TTypeCase{"SmallInt", u"SmallInt", In, 5, 0, false, false, u""},
        TTypeCase{"Double", u"Double", In, 7, 0, false, false, u""},
        TTypeCase{"Single", u"Single", In, 27, 0, false, false, u""},
        TTypeCase{"Boolean", u"Boolean", In, 4, 0, false, false, u""},
        TTypeCase{"TDateTime", u"TDateTime", In, 11, 0, false, false, u""},
        TTypeCase{"Currency", u"Currency", In, 25, 0, false, false, u""},
        TTypeCase{"TDBXDate", u"TDBXDate", In, 2, 0, false, false, u""},
        TTypeCase{"TDBXTime", u"TDBXTime", In, 10, 0, false, false, u""},
        TTypeCase{"OleVariant", u"OleVariant", In, 35, 0, false, false, u""},
        TTypeCase{"Reader", u"TDBXReader", In, 23, 0, true, false, u"DBXCommon"},
        TTypeCase{"DataSet", u"TDataSet", In, 23, 0, true, false, u"DBXCommon"},
        TTypeCase{"Connection", u"TDBXConnection", In, 34, 0, true, false, u"DBXCommon"},
        TTypeCase{"Stream", u"TStream", In, 33, 0, true, false, u"DBXCommon"},
        TTypeCase{"JsonArray", u"TJSONArray", In, 37, 0, true, false, u"DBXJSON"},
        TTypeCase{"Callback", u"TDBXCallback", In, 38, 0, true, false, u"DBXJSON"},
        TTypeCase{"AnyObject", u"TObject", In, 37, 40, true, false, u"DBXJSON"},
        TTypeCase{"WideValue", u"TDBXWideStringValue", In, 26, 0, true, true, u"DBXCommon"},
        TTypeCase{"Int32Value", u"TDBXInt32Value", In, 6, 0, true, true, u"DBXCommon"},
        TTypeCase{"TimeStampValue", u"TDBXTimeStampValue", In, 24, 0, true, true, u"DBXCommon"},
        TTypeCase{"UnknownSimple", u"Pointer", In, 0, 0, false, false, u""},
        TTypeCase{"TurkishCapitalIIsNoI", u"\u0130nteger", In, 0, 0, false, false, u""}),
    test::TCaseName());

std::vector<std::string> MethodNames(const TDSClass& Class) {
    std::vector<std::string> Names;
    for (const auto& M : Class.Methods())
        Names.push_back(Utf16ToUtf8(M->MethodName()));
    return Names;
}

TEST(DSClassTest, MethodsThatDoNotQualifyAreLeftOut) {
    EXPECT_EQ(MethodNames(test::TProbe::ClassInfo()),
              (std::vector<std::string>{"Add", "Swap", "Concat", "CountRows", "FailWithTable",
                                        "Call", "MakeJson", "Scale", "Throw", "Connection"}));
    EXPECT_EQ(test::TProbe::ClassInfo().FindMethod(u"bad"), nullptr);
    EXPECT_NE(test::TProbe::ClassInfo().FindMethod(u"concat"), nullptr);
}

TEST(DSClassTest, ConstructorsAndDestructorsDoNotQualify) {
    TDSMethodDecl Ctor{u"Create", {}, {}, [](TObject&, TDSMethodValues&) {}};
    Ctor.IsConstructor = true;
    TDSMethodDecl Dtor{u"Destroy", {}, {}, [](TObject&, TDSMethodValues&) {}};
    Dtor.IsDestructor = true;
    const TDSClass Class(u"TWithLife", u"U", nullptr, nullptr, {Ctor, Dtor});
    EXPECT_TRUE(Class.Methods().empty());
}

TEST(DSClassTest, OwnMethodsComeBeforeEveryAncestorsInDeclarationOrder) {
    const std::vector<std::string> Admin = MethodNames(DSAdmin::ClassInfo());
    ASSERT_EQ(Admin.size(), 31u);
    EXPECT_EQ(Admin.front(), "GetPlatformName");
    EXPECT_EQ(Admin[17], "GetDatabaseConnectionProperties");
    EXPECT_EQ(Admin[18], "GetDSServerName");
    EXPECT_EQ(Admin[19], "ConsumeClientChannel");
    EXPECT_EQ(Admin.back(), "NotifyObject");
    const std::vector<std::string> Metadata = MethodNames(DSMetadata::ClassInfo());
    EXPECT_EQ(Metadata.size(), 16u);
    EXPECT_EQ((std::vector<std::string>(Metadata.begin(), Metadata.begin() + 5)),
              (std::vector<std::string>{"GetProcedures", "GetProcedureParameters", "GetDatabase",
                                        "GetDSServerName", "ConsumeClientChannel"}));
    // An inherited method is described by the class that declares it.
    EXPECT_EQ(&DSAdmin::ClassInfo().Methods()[18]->MethodClass(), &TDSCustomAdmin::ClassInfo());
    EXPECT_TRUE(DSAdmin::ClassInfo().InheritsFrom(TDBXServerComponent::ClassInfo()));
    EXPECT_FALSE(DSMetadata::ClassInfo().InheritsFrom(DSAdmin::ClassInfo()));
}

TEST(DSClassTest, AClassWithoutFactoryCannotBeInstantiated) {
    try {
        TDBXServerComponent::ClassInfo().CreateInstance();
        FAIL() << "made an instance";
    } catch (const TDBXError& E) {
        EXPECT_EQ(E.ErrorCode(), 5);
    }
}

} // namespace
} // namespace kds
