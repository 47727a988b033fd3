#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "ServerTestSupport.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/TDBXParameter.h"
#include "data/TDBXValue.h"
#include "server/DSClassRegistry.h"
#include "server/DSReflect.h"
#include "server/DSServerConnection.h"
#include "server/DSServerMethodProvider.h"
#include "server/KDSServerContainerUnit.h"
#include "support/ExpectError.h"
#include "support/TestNames.h"

namespace kds {
namespace {

// The administrative methods of the program's own server, called in-process.
class DSAdminTest : public ::testing::Test {
protected:
    // Runs Method with string arguments; answers the result's byte form
    // (JSON) or text.
    std::string Run(const std::u16string& Method, const std::vector<std::u16string>& Args = {}) {
        auto Command = Connection->CreateCommand();
        Command->SetCommandType(u"KDS.ServerMethod");
        Command->SetText(Method);
        TDBXParameterList& Parameters = Command->GetParameters();
        for (size_t I = 0; I < Args.size(); ++I)
            Parameters[static_cast<int32_t>(I)].Value().SetWideString(Args[I]);
        Command->ExecuteUpdate();
        TDBXParameter& Result = Parameters[Parameters.Count() - 1];
        if (Result.DataType() == TDBXDataTypes::JsonValueType) {
            const std::vector<uint8_t> Bytes = Result.Value().GetJSONValue()->ToBytes();
            return std::string(Bytes.begin(), Bytes.end());
        }
        if (Result.DataType() == TDBXDataTypes::BooleanType)
            return Result.Value().GetBoolean() ? "true" : "false";
        return Utf16ToUtf8(Result.Value().GetWideString());
    }

    TServerContainer1 Container{[] { return std::make_unique<test::TFakeTransport>(); }};
    std::unique_ptr<TDSServerConnection> Connection =
        Container.DSServer1().GetServerConnection(TDBXProperties());
};

std::string JsonArrayOf(const std::vector<std::string>& Items) {
    std::string Out = "[";
    for (size_t I = 0; I < Items.size(); ++I)
        Out += (I > 0 ? ",\"" : "\"") + Items[I] + "\"";
    return Out + "]";
}

TEST_F(DSAdminTest, ListsTheClassesAndAll49MethodsInRegistrationOrder) {
    ASSERT_EQ(test::RegisteredAliases().size(), 49u);
    EXPECT_EQ(Run(u"DSAdmin.ListClasses"), "[\"DSAdmin\",\"DSMetadata\",\"TServerMethods1\"]");
    EXPECT_EQ(Run(u"DSAdmin.ListMethods", {u""}), JsonArrayOf(test::RegisteredAliases()));
    const std::string Two = "[\"TServerMethods1.EchoString\",\"TServerMethods1.ReverseString\"]";
    EXPECT_EQ(Run(u"DSAdmin.ListMethods", {u"TServerMethods1"}), Two);
    EXPECT_EQ(Run(u"DSAdmin.ListMethods", {u"tservermethods1"}), Two);
    // The class part must be followed by its point.
    EXPECT_EQ(Run(u"DSAdmin.ListMethods", {u"TServerMethods"}), "[]");
}

TEST_F(DSAdminTest, DescribesAMethodWithItsParametersAndResult) {
    EXPECT_EQ(Run(u"DSAdmin.DescribeMethod", {u"TServerMethods1.EchoString"}),
              "{\"TServerMethods1.EchoString\":{\"Value\":{\"direction\":\"In\",\"type\":"
              "\"string\"},\"Result\":{\"direction\":\"Return\",\"type\":\"string\"}}}");
    // The key is the argument as given.
    EXPECT_EQ(Run(u"DSAdmin.DescribeMethod", {u"dsadmin.notifycallback"}),
              "{\"dsadmin.notifycallback\":{\"ChannelName\":{\"direction\":\"In\",\"type\":"
              "\"string\"},\"ClientId\":{\"direction\":\"In\",\"type\":\"string\"},"
              "\"CallbackId\":{\"direction\":\"In\",\"type\":\"string\"},\"Msg\":{\"direction\":"
              "\"In\",\"type\":\"TJSONValue\"},\"Response\":{\"direction\":\"Out\",\"type\":"
              "\"TJSONValue\"},\"Result\":{\"direction\":\"Return\",\"type\":\"Boolean\"}}}");
    EXPECT_EQ(Run(u"DSAdmin.DescribeMethod", {u"DSAdmin.DropServerClasses"}),
              "{\"DSAdmin.DropServerClasses\":{\"ClassReader\":{\"direction\":\"In\",\"type\":"
              "\"TDBXReader\"}}}");
    EXPECT_EQ(Run(u"DSAdmin.DescribeMethod", {u"TServerMethods1.Nope"}),
              "{\"TServerMethods1.Nope\":null}");
}

TEST_F(DSAdminTest, DescribesAClassWithItsLifeCycleAndMethods) {
    EXPECT_EQ(Run(u"DSAdmin.DescribeClass", {u"TServerMethods1"}),
              "{\"TServerMethods1\":{\"LifeCycle\":\"Session\",\"methods\":[\"TServerMethods1."
              "EchoString\",\"TServerMethods1.ReverseString\"]}}");
    EXPECT_EQ(Run(u"DSAdmin.DescribeClass", {u"Nope"}), "{\"Nope\":null}");
}

TEST_F(DSAdminTest, AnswersThePlatformAndTheServerName) {
    EXPECT_EQ(Run(u"DSAdmin.GetPlatformName"), "win32");
    EXPECT_EQ(Run(u"DSAdmin.GetDSServerName"), "DSServer1");
    EXPECT_EQ(Run(u"DSMetadata.GetDSServerName"), "DSServer1");
    EXPECT_EQ(Run(u"DSAdmin.ClearResources"), "true");
}

TEST_F(DSAdminTest, GetConnectionFailsWithoutConnectionDefinitions) {
    test::ExpectDBXError(0, "Connection definition not found: Kitchen",
                         [&] { Run(u"DSAdmin.GetConnection", {u"Kitchen"}); });
}

TEST(DSAdminRegistrationTest, TheProcessRegistersExactlyItsThreeClasses) {
    std::vector<std::string> Names;
    for (const TDSClass* Class : TDSClassRegistry::Instance().Classes())
        Names.push_back(Utf16ToUtf8(Class->ClassName()));
    EXPECT_EQ(Names, (std::vector<std::string>{"DSAdmin", "DSMetadata", "TServerMethods1"}));
    EXPECT_EQ(TDSClassRegistry::Instance().FindClass(u"dsadmin"), nullptr);
}

TEST(DSAdminRegistrationTest, HideDSAdminDoesNotHideTheAdministrativeClasses) {
    test::TServerHarness Harness{u"HiddenAdmin", {}, false};
    Harness.Server().SetHideDSAdmin(true);
    Harness.Server().Start();
    EXPECT_TRUE(Harness.Server().MethodProvider()->HasServerMethod(u"DSAdmin.ListClasses"));
}

} // namespace
} // namespace kds
