#include "server/DSAdmin.h"

#include <array>

#include "base/AsciiText.h"
#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/DSCommonTable.h"
#include "data/TDBXConnection.h"
#include "data/TDBXMemoryTable.h"
#include "data/TDBXReader.h"
#include "data/TDBXTableReader.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"
#include "server/DSAdminDeclarations.h"
#include "server/DSClassRegistry.h"
#include "server/DSDriverRegistry.h"
#include "server/DSMethodValues.h"
#include "server/DSReflect.h"
#include "server/DSServer.h"
#include "server/DSServerConnectionHandler.h"
#include "server/DSServerMethodProvider.h"

namespace kds {

namespace {

using namespace AdminDeclarations;

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

TDBXContext* ContextOf(TDSServer* Server) {
    return Server != nullptr ? Server->DbxContext() : nullptr;
}

// A registry to change; without one (no server) the row fails as the
// registry fails a name it does not know: "<name> class not found in the
// server class list" (104) or "<name> method not found in the server method
// list" (105).
TDSServerMethodProvider& ProviderToChange(const TDSServerConnectionHandler* Con, int32_t Code,
                                          const std::u16string& Name) {
    const auto Provider = ProviderOf(Con);
    if (!Provider)
        throw TDBXError(Code, Utf16ToUtf8(Name) +
                                  (Code == 104 ? " class not found in the server class list"
                                               : " method not found in the server method list"));
    return *Provider;
}

// The ordinal of a reader's column by name (ASCII case folded), or -1.
int32_t ColumnOrdinal(const TDBXReader& Reader, std::u16string_view Name) {
    for (int32_t I = 0; I < Reader.ColumnCount(); ++I)
        if (SameTextAscii(std::u16string_view(Reader.ValueType(I).Name()), Name))
            return I;
    return -1;
}

// A column of the current row as text; empty for a missing column or null.
std::u16string ColumnText(TDBXReader& Reader, int32_t Ordinal) {
    if (Ordinal < 0)
        return std::u16string();
    TDBXValue& Value = Reader.Value(Ordinal);
    return Value.IsNull() ? std::u16string() : Value.AsString();
}

// Calls Apply with the reader's named columns as text, row by row.
template <size_t N, typename F>
void ForEachRow(TDBXReader* Reader, const std::array<std::u16string_view, N>& Columns, F Apply) {
    if (Reader == nullptr)
        return;
    std::array<int32_t, N> Ordinals{};
    for (size_t I = 0; I < N; ++I)
        Ordinals[I] = ColumnOrdinal(*Reader, Columns[I]);
    std::array<std::u16string, N> Row;
    while (Reader->Next()) {
        for (size_t I = 0; I < N; ++I)
            Row[I] = ColumnText(*Reader, Ordinals[I]);
        Apply(Row);
    }
}

bool Contains(std::u16string_view Text, std::u16string_view Pattern) {
    return Pattern.empty() || Text.find(Pattern) != std::u16string_view::npos;
}

// The part of a class name after its last point.
std::u16string_view ShortClassName(std::u16string_view ClassName) {
    const size_t Point = ClassName.rfind(u'.');
    return Point == std::u16string_view::npos ? ClassName : ClassName.substr(Point + 1);
}

// Directions of a declared parameter in the registry's terms.
int32_t DbxDirection(const TDSMethod& M, int32_t Index) {
    if (M.ParameterType(Index).IsValueClass)
        return TDBXParameterDirections::InOutParameter;
    switch (M.ParameterFlag(Index)) {
    case TDSParamFlag::Var:
        return TDBXParameterDirections::InOutParameter;
    case TDSParamFlag::Out:
        return TDBXParameterDirections::OutParameter;
    default:
        return TDBXParameterDirections::InParameter;
    }
}

// The name of a data type as its table names it ("WideString", "INT32").
std::u16string DataTypeTableName(int32_t DataType) {
    std::string Name = DataTypeName(DataType);
    constexpr std::string_view Prefix = "TDBXTypes.";
    if (Name.rfind(Prefix, 0) == 0)
        Name.erase(0, Prefix.size());
    return Utf8ToUtf16(Name);
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

const TDSClass& DSAdmin::ClassInfo() {
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
            {u"FindPackages",
             {},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(DSSelf<DSAdmin>(Self).FindPackages());
             }},
            {u"FindClasses",
             {In(u"PackageName", String), In(u"ClassPattern", String)},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(
                     DSSelf<DSAdmin>(Self).FindClasses(V.Arg(0).Text(), V.Arg(1).Text()));
             }},
            {u"FindMethods",
             {In(u"PackageName", String), In(u"ClassPattern", String),
              In(u"MethodPattern", String)},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(DSSelf<DSAdmin>(Self).FindMethods(
                     V.Arg(0).Text(), V.Arg(1).Text(), V.Arg(2).Text()));
             }},
            {u"CreateServerClasses",
             {In(u"ClassReader", Reader)},
             {},
             [](TObject& Self, TDSMethodValues& V) {
                 DSSelf<DSAdmin>(Self).CreateServerClasses(V.Arg(0).Reader());
             }},
            {u"DropServerClasses",
             {In(u"ClassReader", Reader)},
             {},
             [](TObject& Self, TDSMethodValues& V) {
                 DSSelf<DSAdmin>(Self).DropServerClasses(V.Arg(0).Reader());
             }},
            {u"CreateServerMethods",
             {In(u"MethodReader", Reader)},
             {},
             [](TObject& Self, TDSMethodValues& V) {
                 DSSelf<DSAdmin>(Self).CreateServerMethods(V.Arg(0).Reader());
             }},
            {u"DropServerMethods",
             {In(u"MethodReader", Reader)},
             {},
             [](TObject& Self, TDSMethodValues& V) {
                 DSSelf<DSAdmin>(Self).DropServerMethods(V.Arg(0).Reader());
             }},
            {u"GetServerClasses",
             {},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(DSSelf<DSAdmin>(Self).GetServerClasses());
             }},
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
            {u"GetServerMethods",
             {},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(DSSelf<DSAdmin>(Self).GetServerMethods());
             }},
            {u"GetServerMethodParameters",
             {},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(DSSelf<DSAdmin>(Self).GetServerMethodParameters());
             }},
            {u"GetConnection",
             {In(u"NewConName", String)},
             Connection,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetConnection(DSSelf<DSAdmin>(Self).GetConnection(V.Arg(0).Text()));
             }},
            {u"GetDatabaseConnectionProperties",
             {},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(DSSelf<DSAdmin>(Self).GetDatabaseConnectionProperties());
             }},
        });
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

// --- DSAdmin: tables ------------------------------------------------------------------

std::unique_ptr<TDBXReader> DSAdmin::FindPackages() const {
    TDSPackageEntity Packages(ContextOf(FServer));
    return Packages.CreateReader();
}

std::unique_ptr<TDBXReader> DSAdmin::FindClasses(const std::u16string&,
                                                 const std::u16string& ClassPattern) const {
    TDSClassEntity Classes(ContextOf(FServer));
    for (const TDSClass* Class : TDSClassRegistry::Instance().Classes()) {
        if (!Contains(Class->ClassName(), ClassPattern))
            continue;
        Classes.Table().Insert();
        Classes.SetServerClassName(Class->ClassName());
    }
    return Classes.CreateReader();
}

std::unique_ptr<TDBXReader> DSAdmin::FindMethods(const std::u16string&,
                                                 const std::u16string& ClassPattern,
                                                 const std::u16string& MethodPattern) const {
    TDSMethodEntity Methods(ContextOf(FServer));
    const std::u16string Pattern = AsciiLowerCase(std::u16string_view(MethodPattern));
    for (const TDSClass* Class : TDSClassRegistry::Instance().Classes()) {
        if (!Contains(Class->ClassName(), ClassPattern))
            continue;
        const std::u16string Prefix = std::u16string(ShortClassName(Class->ClassName())) + u".";
        for (const auto& Method : Class->Methods()) {
            if (!Contains(AsciiLowerCase(std::u16string_view(Method->MethodName())), Pattern))
                continue;
            Methods.Table().Insert();
            Methods.SetMethodAlias(Prefix + Method->MethodName());
            Methods.SetServerClassName(Class->ClassName());
            Methods.SetServerMethodName(Method->MethodName());
        }
    }
    return Methods.CreateReader();
}

std::unique_ptr<TDBXReader> DSAdmin::GetServerClasses() const {
    TDSClassEntity Classes(ContextOf(FServer));
    if (const auto Provider = ProviderOf(FServerCon))
        for (const auto& Class : Provider->ClassList()) {
            Classes.Table().Insert();
            Classes.SetPackageName(std::u16string());
            Classes.SetServerClassName(Class->FClassName);
            Classes.SetRoleName(Class->FRoleName);
            Classes.SetLifeCycle(Class->FLifeCycle);
        }
    return Classes.CreateReader();
}

std::unique_ptr<TDBXReader> DSAdmin::GetServerMethods() const {
    TDSMethodEntity Methods(ContextOf(FServer));
    if (const auto Provider = ProviderOf(FServerCon))
        for (const auto& Method : Provider->MethodList()) {
            Methods.Table().Insert();
            Methods.SetMethodAlias(Method->FMethodAlias);
            Methods.SetServerClassName(Method->FClassInfo->FClassName);
            Methods.SetServerMethodName(Method->FMethodName);
            Methods.SetRoleName(Method->FRoleName);
        }
    return Methods.CreateReader();
}

std::unique_ptr<TDBXReader> DSAdmin::GetServerMethodParameters() const {
    TDSMethodParametersEntity Parameters(ContextOf(FServer));
    const auto Provider = ProviderOf(FServerCon);
    if (!Provider)
        return Parameters.CreateReader();
    for (const auto& Method : Provider->MethodList()) {
        const TDSMethod& M = *Method->FDsMethod;
        const auto Start = [&] {
            Parameters.Table().Insert();
            Parameters.SetMethodAlias(Method->FMethodAlias);
            Parameters.SetServerClassName(Method->FClassInfo->FClassName);
            Parameters.SetServerMethodName(Method->FMethodName);
        };
        for (int32_t I = 0; I < M.ParameterCount(); ++I) {
            const TDSTypeInfo& Type = M.ParameterType(I);
            Start();
            Parameters.SetParameterName(M.ParameterName(I));
            Parameters.SetParameterTypeName(Type.TypeName);
            Parameters.SetParameterTypeUnit(Type.IsClass ? Type.UnitName : std::u16string());
            Parameters.SetParameterDBXDataType(Type.DataType);
            const int32_t Direction = DbxDirection(M, I);
            Parameters.SetDBXParameterDirection(Direction);
            Parameters.SetParameterDirection(
                Type.IsValueClass ? TDBXParameterDirections::InParameter : Direction);
        }
        // The result row has no name; without a result its type stays null.
        Start();
        Parameters.SetParameterDirection(TDBXParameterDirections::ReturnParameter);
        Parameters.SetDBXParameterDirection(TDBXParameterDirections::ReturnParameter);
        if (M.HasResult()) {
            const TDSTypeInfo& Result = M.ReturnType();
            Parameters.SetParameterDBXDataType(Result.DataType);
            Parameters.SetParameterTypeName(Result.TypeName);
            Parameters.SetParameterTypeUnit(Result.IsClass ? Result.UnitName : std::u16string());
        }
    }
    return Parameters.CreateReader();
}

std::unique_ptr<TDBXReader> DSAdmin::GetDatabaseConnectionProperties() const {
    TDSConnectionEntity Connections(ContextOf(FServer));
    // The factory defines no connection, so there are neither properties
    // nor drivers to describe: each name it lists gets its row.
    for (const std::u16string& Name : TDBXConnectionFactory::ConnectionNames()) {
        Connections.Table().Insert();
        Connections.SetConnectionName(Name);
    }
    return Connections.CreateReader();
}

void DSAdmin::CreateServerClasses(TDBXReader* ClassReader) {
    static constexpr std::array<std::u16string_view, 4> Columns{u"ClassName", u"PackageName",
                                                                u"LifeCycle", u"RoleName"};
    ForEachRow(ClassReader, Columns, [&](const std::array<std::u16string, 4>& Row) {
        auto Info = std::make_shared<TDSClassInfo>();
        Info->FClassName = Row[0];
        Info->FPackageName = Row[1];
        Info->FLifeCycle = Row[2];
        Info->FRoleName = Row[3];
        ProviderToChange(FServerCon, 104, Row[0]).AddServerClass(std::move(Info));
    });
}

void DSAdmin::DropServerClasses(TDBXReader* ClassReader) {
    static constexpr std::array<std::u16string_view, 1> Columns{u"ClassName"};
    ForEachRow(ClassReader, Columns, [&](const std::array<std::u16string, 1>& Row) {
        ProviderToChange(FServerCon, 104, Row[0]).DropServerClass(Row[0]);
    });
}

void DSAdmin::CreateServerMethods(TDBXReader* MethodReader) {
    static constexpr std::array<std::u16string_view, 4> Columns{u"MethodAlias", u"ServerClassName",
                                                                u"MethodName", u"RoleName"};
    ForEachRow(MethodReader, Columns, [&](const std::array<std::u16string, 4>& Row) {
        ProviderToChange(FServerCon, 104, Row[1]).AddServerMethod(Row[0], Row[1], Row[2], Row[3]);
    });
}

void DSAdmin::DropServerMethods(TDBXReader* MethodReader) {
    static constexpr std::array<std::u16string_view, 1> Columns{u"MethodAlias"};
    ForEachRow(MethodReader, Columns, [&](const std::array<std::u16string, 1>& Row) {
        ProviderToChange(FServerCon, 105, Row[0]).DropServerMethod(Row[0]);
    });
}

// --- DSMetadata -----------------------------------------------------------------------

const TDSClass& DSMetadata::ClassInfo() {
    static const TDSClass Class(
        u"DSMetadata", AdminUnit, &TDSCustomAdmin::ClassInfo(),
        [] { return std::unique_ptr<TObject>(new DSMetadata()); },
        {
            {u"GetProcedures",
             {In(u"ProcedureNamePattern", String), In(u"ProcedureType", String)},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(
                     DSSelf<DSMetadata>(Self).GetProcedures(V.Arg(0).Text(), V.Arg(1).Text()));
             }},
            {u"GetProcedureParameters",
             {In(u"ProcedureNamePattern", String)},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(
                     DSSelf<DSMetadata>(Self).GetProcedureParameters(V.Arg(0).Text()));
             }},
            {u"GetDatabase",
             {},
             Reader,
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetReader(DSSelf<DSMetadata>(Self).GetDatabase());
             }},
        });
    return Class;
}

std::unique_ptr<TDBXReader> DSMetadata::GetProcedures(const std::u16string& ProcedureNamePattern,
                                                      const std::u16string& ProcedureType) const {
    TDSProcedureEntity Procedures(ContextOf(FServer));
    const bool All = ProcedureNamePattern.empty() || ProcedureNamePattern == u"%";
    const bool OnlyProcedures = ProcedureType == u"PROCEDURE";
    const bool OnlyFunctions = ProcedureType == u"FUNCTION";
    if (const auto Provider = ProviderOf(FServerCon))
        for (const auto& Method : Provider->MethodList()) {
            const bool Function = Method->FDsMethod->HasResult();
            if ((!All && !Contains(Method->FMethodAlias, ProcedureNamePattern)) ||
                (OnlyProcedures && Function) || (OnlyFunctions && !Function))
                continue;
            Procedures.Table().Insert();
            Procedures.SetCatalogName(std::u16string());
            Procedures.SetSchemaName(Method->FRoleName);
            Procedures.SetProcedureName(Method->FMethodAlias);
            Procedures.SetProcedureType(Function ? u"FUNCTION" : u"PROCEDURE");
        }
    return Procedures.CreateReader();
}

std::unique_ptr<TDBXReader>
DSMetadata::GetProcedureParameters(const std::u16string& ProcedureNamePattern) const {
    TDSProcedureParametersEntity Parameters(ContextOf(FServer));
    const auto Provider = ProviderOf(FServerCon);
    if (!Provider)
        return Parameters.CreateReader();
    for (const auto& Method : Provider->MethodList()) {
        if (!Contains(Method->FMethodAlias, ProcedureNamePattern))
            continue;
        const TDSMethod& M = *Method->FDsMethod;
        const auto Row = [&](const std::u16string& Name, const char16_t* Mode,
                             const TDSTypeInfo& Type, int32_t Ordinal) {
            Parameters.Table().Insert();
            Parameters.SetCatalogName(std::u16string());
            Parameters.SetSchemaName(Method->FRoleName);
            Parameters.SetProcedureName(Method->FMethodAlias);
            Parameters.SetParameterName(Name);
            Parameters.SetParameterMode(Mode);
            Parameters.SetTypeName(DataTypeTableName(Type.DataType));
            Parameters.SetPrecision(-1);
            Parameters.SetScale(-1);
            Parameters.SetOrdinal(Ordinal);
            Parameters.SetNullable(Type.IsValueClass);
            Parameters.SetDBXDataType(Type.DataType);
            Parameters.SetFixedLength(false);
            Parameters.SetUnicode(Type.DataType == TDBXDataTypes::WideStringType);
            Parameters.SetLong(Type.DataType == TDBXDataTypes::BinaryBlobType);
            Parameters.SetUnsigned(false);
        };
        for (int32_t I = 0; I < M.ParameterCount(); ++I) {
            const int32_t Direction = DbxDirection(M, I);
            const char16_t* Mode = Direction == TDBXParameterDirections::InOutParameter ? u"INOUT"
                                   : Direction == TDBXParameterDirections::OutParameter ? u"OUT"
                                                                                        : u"IN";
            Row(M.ParameterName(I), Mode, M.ParameterType(I), I);
        }
        if (M.HasResult())
            Row(u"ReturnValue", u"OUT", M.ReturnType(), M.ParameterCount());
    }
    return Parameters.CreateReader();
}

std::unique_ptr<TDBXReader> DSMetadata::GetDatabase() const {
    TDBXContext* Context = ContextOf(FServer);
    struct TColumn {
        const char16_t* Name;
        int32_t DataType;
        int64_t Size;
    };
    static constexpr TColumn Columns[] = {
        {u"QuoteChar", TDBXDataTypes::WideStringType, 16},
        {u"ProcedureQuoteChar", TDBXDataTypes::WideStringType, 16},
        {u"MaxCommands", TDBXDataTypes::Int32Type, 0},
        {u"SupportsTransactions", TDBXDataTypes::BooleanType, 0},
        {u"SupportsNestedTransactions", TDBXDataTypes::BooleanType, 0},
        {u"SupportsRowSetSize", TDBXDataTypes::BooleanType, 0},
        {u"ProductVersion", TDBXDataTypes::WideStringType, 128},
        {u"ProductName", TDBXDataTypes::WideStringType, 128},
        {u"QuotePrefix", TDBXDataTypes::WideStringType, 16},
        {u"QuoteSuffix", TDBXDataTypes::WideStringType, 16},
        {u"SupportsLowerCaseIdentifiers", TDBXDataTypes::BooleanType, 0},
        {u"SupportsUpperCaseIdentifiers", TDBXDataTypes::BooleanType, 0},
        {u"SupportsSPReturnCode", TDBXDataTypes::BooleanType, 0},
        {u"SupportsParameterMetadata", TDBXDataTypes::BooleanType, 0},
    };
    std::vector<std::unique_ptr<TDBXValueType>> Types;
    for (const TColumn& Column : Columns) {
        auto Type = std::make_unique<TDBXValueType>(Context);
        Type->SetName(Column.Name);
        Type->SetCaption(Column.Name);
        Type->SetDataType(Column.DataType);
        Type->SetSize(Column.Size);
        Types.push_back(std::move(Type));
    }
    auto Table = std::make_unique<TDBXMemoryTable>(Context, u"DatabaseTable", std::move(Types));
    Table->Insert();
    const std::u16string Quote = u"\"";
    int32_t I = 0;
    Table->Value(I++).SetWideString(Quote);
    Table->Value(I++).SetWideString(Quote);
    Table->Value(I++).SetInt32(2147483647);
    Table->Value(I++).SetBoolean(false);
    Table->Value(I++).SetBoolean(false);
    Table->Value(I++).SetBoolean(false);
    Table->Value(I++).SetWideString(u"2008");
    Table->Value(I++).SetWideString(u"KDS");
    Table->Value(I++).SetWideString(Quote);
    Table->Value(I++).SetWideString(Quote);
    for (; I < 14; ++I)
        Table->Value(I).SetBoolean(false);
    return std::make_unique<TDBXTableReader>(std::move(Table));
}

} // namespace kds
