#include "server/DSServerMethodProvider.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "base/TextConvert.h"
#include "support/ExpectError.h"

namespace kds {
namespace {

using test::TServerHarness;

std::vector<std::string> Aliases(const std::vector<std::shared_ptr<const TDSMethodInfo>>& List) {
    std::vector<std::string> Out;
    for (const auto& M : List)
        Out.push_back(Utf16ToUtf8(M->FMethodAlias));
    return Out;
}

class DSServerMethodProviderTest : public ::testing::Test {
protected:
    TServerHarness Harness{u"ProviderServer",
                           {{&test::TProbe::ClassInfo(), u"Session"},
                            {&test::CountedClass(u"TCountedA"), u"Session"}}};
    std::shared_ptr<TDSServerMethodProvider> Provider = Harness.Server().MethodProvider();
};

TEST_F(DSServerMethodProviderTest, FindsAliasesInAnyCaseButNotWithoutTheClass) {
    EXPECT_TRUE(Provider->HasServerMethod(u"TProbe.Add"));
    EXPECT_TRUE(Provider->HasServerMethod(u"tprobe.ADD"));
    EXPECT_FALSE(Provider->HasServerMethod(u"Add"));
    EXPECT_FALSE(Provider->HasServerMethod(u"TProbe.Bad"));
    // Only ASCII letters fold: a dotless or dotted i is another letter.
    EXPECT_FALSE(Provider->HasServerMethod(u"TProbe.Concat\u0131"));
    EXPECT_FALSE(Provider->HasServerMethod(u"TPROBE.CONCAT\u0130"));
}

TEST_F(DSServerMethodProviderTest, RegistersBuiltInClassesFirstThenTheServerClasses) {
    std::vector<std::string> Classes;
    for (const auto& C : Provider->ClassList())
        Classes.push_back(Utf16ToUtf8(C->FClassName) + "/" + Utf16ToUtf8(C->FLifeCycle) + "/" +
                          Utf16ToUtf8(C->FUnitName) + (C->FAdminClass ? "/admin" : ""));
    EXPECT_EQ(Classes, (std::vector<std::string>{"DSAdmin/Session/DSCommonServer/admin",
                                                 "DSMetadata/Session/DSCommonServer/admin",
                                                 "TProbe/Session/ServerTestSupport",
                                                 "TCountedA/Session/ServerTestSupport"}));
    EXPECT_EQ(Provider->MethodList().size(), 31u + 16u + 10u + 1u);
    EXPECT_EQ(Aliases(Provider->MethodsOfClass(u"tcounteda")),
              (std::vector<std::string>{"TCountedA.Touch"}));
}

TEST_F(DSServerMethodProviderTest, AddAndDropReportTheirErrors) {
    test::ExpectDBXError(102, "TPROBE class has already been added to the server class list", [&] {
        auto Info = std::make_shared<TDSClassInfo>();
        Info->FClassName = u"TPROBE";
        Info->FDsClass = &test::TProbe::ClassInfo();
        Provider->AddServerClass(Info);
    });
    test::ExpectDBXError(103, "TProbe.Add method has already been added to the server method list",
                         [&] { Provider->AddServerMethod(u"TProbe.Add", u"TProbe", u"Add", u""); });
    test::ExpectDBXError(104, "TNope class not found in the server class list",
                         [&] { Provider->DropServerClass(u"TNope"); });
    test::ExpectDBXError(105, "TProbe.Nope method not found in the server method list",
                         [&] { Provider->DropServerMethod(u"TProbe.Nope"); });
    // A method under a class that is not registered is refused, so no
    // method without a class can ever be prepared.
    test::ExpectDBXError(104, "TNope class not found in the server class list",
                         [&] { Provider->AddServerMethod(u"TNope.X", u"TNope", u"X", u""); });
    test::ExpectDBXError(105, "TProbe.Nope method not found in the server method list",
                         [&] { Provider->AddServerMethod(u"TProbe.N", u"TProbe", u"Nope", u""); });
    test::ExpectDBXError(29, "TNope class is not registered in this program", [&] {
        auto Info = std::make_shared<TDSClassInfo>();
        Info->FClassName = u"TNope";
        Provider->AddServerClass(Info);
    });
}

TEST_F(DSServerMethodProviderTest, DropsAndAddsKeepRegistrationOrder) {
    Provider->DropServerMethod(u"tprobe.concat");
    Provider->AddServerMethod(u"TProbe.Joined", u"tprobe", u"Concat", u"Cooks");
    const auto Info = Provider->GetMethodInfo(u"TPROBE.JOINED");
    ASSERT_NE(Info, nullptr);
    EXPECT_EQ(Info->FMethodName, u"Concat");
    EXPECT_EQ(Info->FRoleName, u"Cooks");
    EXPECT_EQ(Aliases(Provider->MethodsOfClass(u"TProbe")),
              (std::vector<std::string>{"TProbe.Add", "TProbe.Swap", "TProbe.CountRows",
                                        "TProbe.FailWithTable", "TProbe.Call", "TProbe.MakeJson",
                                        "TProbe.Scale", "TProbe.Throw", "TProbe.Connection",
                                        "TProbe.Joined"}));
    Provider->DropServerClass(u"TPROBE");
    EXPECT_EQ(Provider->GetClassInfo(u"TProbe"), nullptr);
    EXPECT_TRUE(Provider->MethodsOfClass(u"TProbe").empty());
    EXPECT_EQ(Provider->MethodList().size(), 31u + 16u + 1u);
    // A class registered from the process's class registry brings no methods.
    auto Info2 = std::make_shared<TDSClassInfo>();
    Info2->FClassName = u"TServerMethods1";
    Info2->FLifeCycle = u"Session";
    Provider->AddServerClass(Info2);
    EXPECT_EQ(Provider->GetClassInfo(u"tservermethods1")->FUnitName, u"KDSServerMethodsUnit");
    EXPECT_TRUE(Provider->MethodsOfClass(u"TServerMethods1").empty());
}

TEST_F(DSServerMethodProviderTest, APreparedCallOutlivesTheDropOfItsMethodAndClass) {
    auto C = Harness.Connect();
    const int32_t Handle = test::Prepare(*C.Handler, u"TProbe.Concat");
    Provider->DropServerClass(u"TProbe");
    EXPECT_EQ(test::Execute(*C.Handler, *C.Next, Handle, test::HexBytes("21 61 21 62")),
              "C0 C0 23 61 7C 62");
    // New prepares no longer find it.
    test::ExpectDBXError(105, "TProbe.Concat method not found in the server method list",
                         [&] { test::Prepare(*C.Handler, u"TProbe.Concat"); });
}

} // namespace
} // namespace kds
