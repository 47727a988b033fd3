#include "server/DSAdmin.h"

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/TDBXConnection.h"
#include "server/DSDriverRegistry.h"
#include "server/DSMethodValues.h"
#include "server/DSReflect.h"
#include "server/DSServer.h"
#include "server/DSServerConnectionHandler.h"
#include "server/DSServerMethodProvider.h"

namespace kds {

namespace {

constexpr const char16_t* AdminUnit = u"DSCommonServer";

// Declared types, as the listings show them.
constexpr const char16_t* String = u"string";
constexpr const char16_t* Boolean = u"Boolean";
constexpr const char16_t* Integer = u"Integer";
constexpr const char16_t* Reader = u"TDBXReader";
constexpr const char16_t* Json = u"TJSONValue";
constexpr const char16_t* JsonArray = u"TJSONArray";
constexpr const char16_t* JsonObject = u"TJSONObject";
constexpr const char16_t* Callback = u"TDBXCallback";
constexpr const char16_t* Connection = u"TDBXConnection";
constexpr const char16_t* Object = u"TObject";

[[noreturn]] void Pending(const char16_t* MethodName, const char* What) {
    throw TDBXError(TDBXErrorCodes::NotImplemented,
                    Utf16ToUtf8(MethodName) + " is not available yet: " + What);
}

TDSParameterDecl In(const char16_t* Name, const char16_t* Type) {
    return {Name, Type, TDSParamFlag::In};
}

std::shared_ptr<TDSServerMethodProvider> ProviderOf(const TDSServerConnectionHandler* Con) {
    return Con != nullptr ? Con->MethodProvider() : nullptr;
}

const char16_t* DirectionName(TDSParamFlag Flag) {
    switch (Flag) {
    case TDSParamFlag::Var:
        return u"InOut";
    case TDSParamFlag::Out:
        return u"Out";
    default:
        return u"In";
    }
}

TJSONObject* DirectionAndType(const char16_t* Direction, const std::u16string& Type) {
    auto* Description = new TJSONObject();
    Description->AddPair(u"direction", new TJSONString(Direction));
    Description->AddPair(u"type", new TJSONString(Type));
    return Description;
}

} // namespace

// --- TDSCustomAdmin -----------------------------------------------------------------

const TDSClass& TDSCustomAdmin::ClassInfo() {
    static const TDSClass Class(
        u"TDSCustomAdmin", AdminUnit, &TDBXServerComponent::ClassInfo(), nullptr,
        {
            {u"GetDSServerName",
             {},
             String,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetText(DSSelf<TDSCustomAdmin>(Self).GetDSServerName());
             }},
        });
    return Class;
}

void TDSCustomAdmin::SetServerConnection(TDSServerConnectionHandler* ServerCon) {
    if (FServerCon != nullptr || ServerCon == nullptr)
        return;
    FServerCon = ServerCon;
    FServer = ServerCon->Server();
}

std::u16string TDSCustomAdmin::GetDSServerName() const {
    return FServer != nullptr ? FServer->Name() : std::u16string();
}

// --- DSAdmin --------------------------------------------------------------------------

void DSAdmin::TableMethodsPending(const char16_t* MethodName) {
    Pending(MethodName, "tables are not built");
}

const TDSClass& DSAdmin::ClassInfo() {
#define KDS_TABLE_METHOD(Name) [](TObject&, TDSMethodValues&) { TableMethodsPending(Name); }
    static const TDSClass Class(
        u"DSAdmin", AdminUnit, &TDSCustomAdmin::ClassInfo(),
        [] { return std::unique_ptr<TObject>(new DSAdmin()); },
        {
            {u"GetPlatformName",
             {},
             String,
             [](TObject&, TDSMethodValues& V) { V.Result().SetText(GetPlatformName()); }},
            {u"ClearResources",
             {},
             Boolean,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetBoolean(DSSelf<DSAdmin>(Self).ClearResources());
             }},
            {u"FindPackages", {}, Reader, KDS_TABLE_METHOD(u"FindPackages")},
            {u"FindClasses",
             {In(u"PackageName", String), In(u"ClassPattern", String)},
             Reader,
             KDS_TABLE_METHOD(u"FindClasses")},
            {u"FindMethods",
             {In(u"PackageName", String), In(u"ClassPattern", String),
              In(u"MethodPattern", String)},
             Reader,
             KDS_TABLE_METHOD(u"FindMethods")},
            {u"CreateServerClasses",
             {In(u"ClassReader", Reader)},
             {},
             KDS_TABLE_METHOD(u"CreateServerClasses")},
            {u"DropServerClasses",
             {In(u"ClassReader", Reader)},
             {},
             KDS_TABLE_METHOD(u"DropServerClasses")},
            {u"CreateServerMethods",
             {In(u"MethodReader", Reader)},
             {},
             KDS_TABLE_METHOD(u"CreateServerMethods")},
            {u"DropServerMethods",
             {In(u"MethodReader", Reader)},
             {},
             KDS_TABLE_METHOD(u"DropServerMethods")},
            {u"GetServerClasses", {}, Reader, KDS_TABLE_METHOD(u"GetServerClasses")},
            {u"ListClasses",
             {},
             JsonArray,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetJson(DSSelf<DSAdmin>(Self).ListClasses());
             }},
            {u"DescribeClass",
             {In(u"ClassName", String)},
             JsonObject,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetJson(DSSelf<DSAdmin>(Self).DescribeClass(V.Arg(0).Text()));
             }},
            {u"ListMethods",
             {In(u"ClassName", String)},
             JsonArray,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetJson(DSSelf<DSAdmin>(Self).ListMethods(V.Arg(0).Text()));
             }},
            {u"DescribeMethod",
             {In(u"ServerMethodName", String)},
             JsonObject,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetJson(DSSelf<DSAdmin>(Self).DescribeMethod(V.Arg(0).Text()));
             }},
            {u"GetServerMethods", {}, Reader, KDS_TABLE_METHOD(u"GetServerMethods")},
            {u"GetServerMethodParameters",
             {},
             Reader,
             KDS_TABLE_METHOD(u"GetServerMethodParameters")},
            {u"GetConnection",
             {In(u"NewConName", String)},
             Connection,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetConnection(DSSelf<DSAdmin>(Self).GetConnection(V.Arg(0).Text()));
             }},
            {u"GetDatabaseConnectionProperties",
             {},
             Reader,
             KDS_TABLE_METHOD(u"GetDatabaseConnectionProperties")},
        });
#undef KDS_TABLE_METHOD
    return Class;
}

DSAdmin::~DSAdmin() = default;

bool DSAdmin::ClearResources() {
    return FServerCon != nullptr ? FServerCon->ClearResources() : true;
}

std::unique_ptr<TJSONArray> DSAdmin::ListClasses() const {
    auto Names = std::make_unique<TJSONArray>();
    if (const auto Provider = ProviderOf(FServerCon))
        for (const auto& Class : Provider->ClassList())
            Names->Add(Class->FClassName);
    return Names;
}

std::unique_ptr<TJSONObject> DSAdmin::DescribeClass(const std::u16string& ClassName) const {
    auto Result = std::make_unique<TJSONObject>();
    const auto Provider = ProviderOf(FServerCon);
    const auto Class = Provider ? Provider->GetClassInfo(ClassName) : nullptr;
    if (!Class) {
        Result->AddPair(ClassName, new TJSONNull());
        return Result;
    }
    auto* Description = new TJSONObject();
    Description->AddPair(u"LifeCycle", new TJSONString(Class->FLifeCycle));
    auto* Methods = new TJSONArray();
    for (const auto& Method : Provider->MethodList())
        if (Method->FClassInfo == Class)
            Methods->Add(Method->FMethodAlias);
    Description->AddPair(u"methods", Methods);
    Result->AddPair(ClassName, Description);
    return Result;
}

std::unique_ptr<TJSONArray> DSAdmin::ListMethods(const std::u16string& ClassName) const {
    auto Aliases = std::make_unique<TJSONArray>();
    if (const auto Provider = ProviderOf(FServerCon))
        for (const auto& Method : Provider->MethodsOfClass(ClassName))
            Aliases->Add(Method->FMethodAlias);
    return Aliases;
}

std::unique_ptr<TJSONObject> DSAdmin::DescribeMethod(const std::u16string& ServerMethodName) const {
    auto Result = std::make_unique<TJSONObject>();
    const auto Provider = ProviderOf(FServerCon);
    const auto Method = Provider ? Provider->GetMethodInfo(ServerMethodName) : nullptr;
    if (!Method) {
        Result->AddPair(ServerMethodName, new TJSONNull());
        return Result;
    }
    const TDSMethod& M = *Method->FDsMethod;
    auto* Description = new TJSONObject();
    for (int32_t I = 0; I < M.ParameterCount(); ++I)
        Description->AddPair(M.ParameterName(I), DirectionAndType(DirectionName(M.ParameterFlag(I)),
                                                                  M.ParameterType(I).TypeName));
    if (M.HasResult())
        Description->AddPair(u"Result", DirectionAndType(u"Return", M.ReturnType().TypeName));
    Result->AddPair(ServerMethodName, Description);
    return Result;
}

TDBXConnection* DSAdmin::GetConnection(const std::u16string& NewConName) {
    if (FCon && FConName == NewConName)
        return FCon.get();
    // The new one is opened before the old one goes, so a failure leaves the
    // old one in place.
    std::unique_ptr<TDBXConnection> Opened = TDBXConnectionFactory::GetConnection(NewConName);
    FCon = std::move(Opened);
    FConName = NewConName;
    return FCon.get();
}

// --- DSMetadata -----------------------------------------------------------------------

void DSMetadata::TableMethodsPending(const char16_t* MethodName) {
    Pending(MethodName, "tables are not built");
}

const TDSClass& DSMetadata::ClassInfo() {
#define KDS_TABLE_METHOD(Name) [](TObject&, TDSMethodValues&) { TableMethodsPending(Name); }
    static const TDSClass Class(
        u"DSMetadata", AdminUnit, &TDSCustomAdmin::ClassInfo(),
        [] { return std::unique_ptr<TObject>(new DSMetadata()); },
        {
            {u"GetProcedures",
             {In(u"ProcedureNamePattern", String), In(u"ProcedureType", String)},
             Reader,
             KDS_TABLE_METHOD(u"GetProcedures")},
            {u"GetProcedureParameters",
             {In(u"ProcedureNamePattern", String)},
             Reader,
             KDS_TABLE_METHOD(u"GetProcedureParameters")},
            {u"GetDatabase", {}, Reader, KDS_TABLE_METHOD(u"GetDatabase")},
        });
#undef KDS_TABLE_METHOD
    return Class;
}

} // namespace kds
