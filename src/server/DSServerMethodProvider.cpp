#include "server/DSServerMethodProvider.h"

#include <algorithm>
#include <mutex>

#include "base/AsciiText.h"
#include "base/DBXContext.h"
#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/TDBXRow.h"
#include "server/DSAdmin.h"
#include "server/DSClassRegistry.h"
#include "server/DSServer.h"
#include "server/DSServerConnectionHandler.h"
#include "server/DSServerMethod.h"
#include "server/DSSqlScanner.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DSSession.h"

namespace kds {

namespace {

constexpr std::u16string_view BuiltInUnit = u"DSCommonServer";

std::u16string SearchName(std::u16string_view Name) {
    return AsciiUpperCase(Name);
}

// The class name as aliases use it: the part after its last point.
std::u16string AliasClassName(const std::u16string& ClassName) {
    const size_t Dot = ClassName.rfind(u'.');
    return Dot == std::u16string::npos ? ClassName : ClassName.substr(Dot + 1);
}

std::shared_ptr<TDSClassInfo> BuiltInClassInfo(const TDSClass& Class) {
    auto Info = std::make_shared<TDSClassInfo>();
    Info->FClassName = Class.ClassName();
    Info->FUnitName = std::u16string(BuiltInUnit);
    Info->FLifeCycle = std::u16string(TDSLifeCycle::Session);
    Info->FDsClass = &Class;
    Info->FAdminClass = true;
    return Info;
}

} // namespace

TDSServerMethodProvider::TDSServerMethodProvider(TDSServer* Server, TDBXContext* DbxContext)
    : FServer(Server), FDbxContext(DbxContext) {
    TDSEventObject Event;
    Event.DbxContext = DbxContext;
    Event.Server = Server;
    FServerInstanceProvider = std::make_unique<TDSHashtableInstanceProvider>(Event);
}

TDSServerMethodProvider::~TDSServerMethodProvider() {
    Close();
}

void TDSServerMethodProvider::Fail(int32_t Code, const std::string& Message) const {
    if (FDbxContext != nullptr)
        FDbxContext->Error(Code, Message);
    throw TDBXError(Code, Message);
}

void TDSServerMethodProvider::Open() {
    std::unique_lock<std::shared_mutex> Guard(FLock);
    FOpen = true;
    try {
        RegisterBuiltInClasses();
        if (FServer != nullptr) {
            for (TDSServerComponent* Component : FServer->Components()) {
                auto* ServerClass = dynamic_cast<TDSServerClass*>(Component);
                if (ServerClass == nullptr)
                    continue;
                const TDSClass& Class = ServerClass->GetDSClass();
                auto Info = std::make_shared<TDSClassInfo>();
                Info->FClassName = Class.ClassName();
                Info->FUnitName = Class.UnitName();
                Info->FLifeCycle = ServerClass->LifeCycle();
                Info->FRoleName = ServerClass->RoleName();
                Info->FDsClass = &Class;
                Info->FServerClass = ServerClass;
                AddServerClassLocked(Info);
                AddServerMethodsLocked(Info);
            }
        }
    } catch (...) {
        FClassTable.clear();
        FClassList.clear();
        FMethodTable.clear();
        FMethodSearchNameList.clear();
        FOpen = false;
        throw;
    }
}

void TDSServerMethodProvider::RegisterBuiltInClasses() {
    for (const TDSClass* Class : {&DSAdmin::ClassInfo(), &DSMetadata::ClassInfo()}) {
        auto Info = BuiltInClassInfo(*Class);
        AddServerClassLocked(Info);
        AddServerMethodsLocked(Info);
    }
}

void TDSServerMethodProvider::Close() {
    {
        std::unique_lock<std::shared_mutex> Guard(FLock);
        FClassTable.clear();
        FClassList.clear();
        FMethodTable.clear();
        FMethodSearchNameList.clear();
        FOpen = false;
    }
    // The "Server" instances go outside the registry's lock.
    FServerInstanceProvider.reset();
    TDSEventObject Event;
    Event.DbxContext = FDbxContext;
    Event.Server = FServer;
    FServerInstanceProvider = std::make_unique<TDSHashtableInstanceProvider>(Event);
}

bool TDSServerMethodProvider::IsOpen() const {
    std::shared_lock<std::shared_mutex> Guard(FLock);
    return FOpen;
}

void TDSServerMethodProvider::AddServerClass(std::shared_ptr<TDSClassInfo> ClassInfo) {
    std::unique_lock<std::shared_mutex> Guard(FLock);
    AddServerClassLocked(std::move(ClassInfo));
}

void TDSServerMethodProvider::AddServerClassLocked(std::shared_ptr<TDSClassInfo> ClassInfo) {
    const std::u16string Key = SearchName(ClassInfo->FClassName);
    if (FClassTable.count(Key) != 0)
        Fail(102, Utf16ToUtf8(ClassInfo->FClassName) +
                      " class has already been added to the server class list");
    if (ClassInfo->FDsClass == nullptr) {
        ClassInfo->FDsClass = TDSClassRegistry::Instance().FindClass(ClassInfo->FClassName);
        if (ClassInfo->FDsClass == nullptr)
            Fail(TDBXErrorCodes::InvalidArgument,
                 Utf16ToUtf8(ClassInfo->FClassName) + " class is not registered in this program");
        if (ClassInfo->FUnitName.empty())
            ClassInfo->FUnitName = ClassInfo->FDsClass->UnitName();
    }
    std::shared_ptr<const TDSClassInfo> Shared = std::move(ClassInfo);
    FClassTable.emplace(Key, Shared);
    FClassList.push_back(std::move(Shared));
}

void TDSServerMethodProvider::AddServerMethods(
    const std::shared_ptr<const TDSClassInfo>& ClassInfo) {
    std::unique_lock<std::shared_mutex> Guard(FLock);
    AddServerMethodsLocked(ClassInfo);
}

void TDSServerMethodProvider::AddServerMethodsLocked(
    const std::shared_ptr<const TDSClassInfo>& ClassInfo) {
    const std::u16string Prefix = AliasClassName(ClassInfo->FClassName) + u".";
    for (const auto& Method : ClassInfo->FDsClass->Methods()) {
        auto Info = std::make_shared<TDSMethodInfo>();
        Info->FMethodAlias = Prefix + Method->MethodName();
        Info->FClassInfo = ClassInfo;
        Info->FDsMethod = Method;
        Info->FRoleName = ClassInfo->FRoleName;
        Info->FMethodName = Method->MethodName();
        Info->FAuthRole =
            Method->AuthRole().empty() ? ClassInfo->FDsClass->AuthRole() : Method->AuthRole();
        AddMethodLocked(std::move(Info));
    }
}

void TDSServerMethodProvider::AddMethodLocked(std::shared_ptr<TDSMethodInfo> Info) {
    Info->FSearchName = SearchName(Info->FMethodAlias);
    if (FMethodTable.count(Info->FSearchName) != 0)
        Fail(103, Utf16ToUtf8(Info->FMethodAlias) +
                      " method has already been added to the server method list");
    std::shared_ptr<const TDSMethodInfo> Shared = std::move(Info);
    FMethodTable.emplace(Shared->FSearchName, Shared);
    FMethodSearchNameList.push_back(std::move(Shared));
}

void TDSServerMethodProvider::AddServerMethod(const std::u16string& Alias,
                                              const std::u16string& ClassName,
                                              const std::u16string& MethodName,
                                              const std::u16string& RoleName) {
    std::unique_lock<std::shared_mutex> Guard(FLock);
    const auto ClassIt = FClassTable.find(SearchName(ClassName));
    if (ClassIt == FClassTable.end())
        Fail(104, Utf16ToUtf8(ClassName) + " class not found in the server class list");
    const std::shared_ptr<const TDSClassInfo>& ClassInfo = ClassIt->second;
    std::shared_ptr<const TDSMethod> Method = ClassInfo->FDsClass->FindMethod(MethodName);
    if (!Method)
        Fail(105, Utf16ToUtf8(AliasClassName(ClassInfo->FClassName) + u"." + MethodName) +
                      " method not found in the server method list");
    auto Info = std::make_shared<TDSMethodInfo>();
    Info->FMethodAlias = Alias;
    Info->FClassInfo = ClassInfo;
    Info->FDsMethod = std::move(Method);
    Info->FRoleName = RoleName;
    Info->FMethodName = Info->FDsMethod->MethodName();
    Info->FAuthRole = Info->FDsMethod->AuthRole();
    AddMethodLocked(std::move(Info));
}

void TDSServerMethodProvider::DropServerClass(const std::u16string& ServerClassName) {
    std::unique_lock<std::shared_mutex> Guard(FLock);
    const auto It = FClassTable.find(SearchName(ServerClassName));
    if (It == FClassTable.end())
        Fail(104, Utf16ToUtf8(ServerClassName) + " class not found in the server class list");
    const std::shared_ptr<const TDSClassInfo> Class = It->second;
    FClassTable.erase(It);
    FClassList.erase(std::remove(FClassList.begin(), FClassList.end(), Class), FClassList.end());
    for (const auto& M : FMethodSearchNameList)
        if (M->FClassInfo == Class)
            FMethodTable.erase(M->FSearchName);
    FMethodSearchNameList.erase(
        std::remove_if(FMethodSearchNameList.begin(), FMethodSearchNameList.end(),
                       [&](const auto& M) { return M->FClassInfo == Class; }),
        FMethodSearchNameList.end());
}

void TDSServerMethodProvider::DropServerMethod(const std::u16string& MethodAlias) {
    std::unique_lock<std::shared_mutex> Guard(FLock);
    const auto It = FMethodTable.find(SearchName(MethodAlias));
    if (It == FMethodTable.end())
        Fail(105, Utf16ToUtf8(MethodAlias) + " method not found in the server method list");
    const std::shared_ptr<const TDSMethodInfo> Method = It->second;
    FMethodTable.erase(It);
    FMethodSearchNameList.erase(
        std::remove(FMethodSearchNameList.begin(), FMethodSearchNameList.end(), Method),
        FMethodSearchNameList.end());
}

bool TDSServerMethodProvider::HasServerMethod(std::u16string_view MethodName) const {
    std::shared_lock<std::shared_mutex> Guard(FLock);
    return FMethodTable.count(SearchName(MethodName)) != 0;
}

std::shared_ptr<const TDSClassInfo>
TDSServerMethodProvider::GetClassInfo(std::u16string_view ClassName) const {
    std::shared_lock<std::shared_mutex> Guard(FLock);
    const auto It = FClassTable.find(SearchName(ClassName));
    return It == FClassTable.end() ? nullptr : It->second;
}

std::shared_ptr<const TDSMethodInfo>
TDSServerMethodProvider::FindMethodLocked(std::u16string_view Name) const {
    const auto It = FMethodTable.find(SearchName(Name));
    return It == FMethodTable.end() ? nullptr : It->second;
}

std::shared_ptr<const TDSMethodInfo>
TDSServerMethodProvider::GetMethodInfo(std::u16string_view MethodName) const {
    std::shared_lock<std::shared_mutex> Guard(FLock);
    return FindMethodLocked(MethodName);
}

std::vector<std::shared_ptr<const TDSClassInfo>> TDSServerMethodProvider::ClassList() const {
    std::shared_lock<std::shared_mutex> Guard(FLock);
    return FClassList;
}

std::vector<std::shared_ptr<const TDSMethodInfo>> TDSServerMethodProvider::MethodList() const {
    std::shared_lock<std::shared_mutex> Guard(FLock);
    return FMethodSearchNameList;
}

std::vector<std::shared_ptr<const TDSMethodInfo>>
TDSServerMethodProvider::MethodsOfClass(std::u16string_view ClassName) const {
    const std::u16string Prefix = SearchName(ClassName) + u".";
    std::shared_lock<std::shared_mutex> Guard(FLock);
    if (ClassName.empty())
        return FMethodSearchNameList;
    std::vector<std::shared_ptr<const TDSMethodInfo>> Found;
    for (const auto& M : FMethodSearchNameList)
        if (M->FSearchName.compare(0, Prefix.size(), Prefix) == 0)
            Found.push_back(M);
    return Found;
}

int32_t TDSServerMethodProvider::ServerInstanceCount() const {
    return FServerInstanceProvider->Count();
}

TDSMethodInstance
TDSServerMethodProvider::GetServerMethodInstance(TDSServerConnectionHandler& ServerCon,
                                                 const TDSMethodInfo& MethodInfo) {
    const TDSClassInfo& ClassInfo = *MethodInfo.FClassInfo;
    const std::u16string& LifeCycle = ClassInfo.FLifeCycle;
    TDSMethodInstance Result;
    if (LifeCycle == TDSLifeCycle::Session) {
        Result.Instance = ServerCon.GetInstance(ClassInfo);
    } else if (LifeCycle == TDSLifeCycle::Server || LifeCycle.empty()) {
        Result.Instance = FServerInstanceProvider->GetInstance(&ServerCon, ClassInfo);
    } else if (LifeCycle == TDSLifeCycle::Invocation) {
        TDSEventObject Event;
        Event.DbxContext = FDbxContext;
        Event.Server = FServer;
        Event.Transport = ServerCon.Transport();
        Event.ServerConnectionHandler = &ServerCon;
        Result.Owned = CreateServerClassInstance(ClassInfo, Event);
        Result.Instance = Result.Owned.Get();
    } else {
        Fail(TDBXErrorCodes::None, "Unknown LifeCycle:  " + Utf16ToUtf8(LifeCycle));
    }
    if (auto* Admin = dynamic_cast<TDSCustomAdmin*>(Result.Instance))
        Admin->SetServerConnection(&ServerCon);
    return Result;
}

std::unique_ptr<TDSServerMethod>
TDSServerMethodProvider::PrepareMethod(TDSServerConnectionHandler& ServerCon,
                                       TDBXCommandMessage& Message,
                                       std::unique_ptr<TDBXRow> InRow) {
    const std::u16string& Text = Message.FCommand;
    std::shared_ptr<const TDSMethodInfo> Info = GetMethodInfo(Text);
    TDBXSqlScanner Scanner;
    TDBXSqlToken After;
    bool Scanned = false;
    if (!Info) {
        // "Class . Method (args)": identifiers and points make the name.
        Scanner.Init(Text);
        std::u16string Name;
        TDBXSqlToken Token = Scanner.NextToken();
        while (Token.Kind == TDBXSqlTokenKind::Identifier || Token.IsSymbol(u'.')) {
            Name += Token.Text;
            Token = Scanner.NextToken();
        }
        After = std::move(Token);
        Info = GetMethodInfo(Name);
        Scanned = true;
    }
    if (!Info)
        Fail(105, Utf16ToUtf8(Text) + " method not found in the server method list");

    auto Method =
        std::make_unique<TDSServerMethod>(shared_from_this(), Info, ServerCon, std::move(InRow));
    Method->SetInstance(GetServerMethodInstance(ServerCon, *Info));

    TDSServerClass* ServerClass = Info->FClassInfo->FServerClass;
    const bool ClassPrepares = ServerClass != nullptr && ServerClass->OnPrepare;
    const bool ServerPrepares = FServer != nullptr && FServer->OnPrepare;
    if (ClassPrepares || ServerPrepares) {
        TDSPrepareEventObject Event;
        Event.DbxContext = FDbxContext;
        Event.Server = FServer;
        Event.Transport = ServerCon.Transport();
        Event.ServerConnectionHandler = &ServerCon;
        Event.MethodAlias = Info->FMethodAlias;
        Event.ServerClass = ServerClass;
        Event.MethodInstance = Method->MethodInstance();
        if (TDSSession* Session = TDSSessionManager::GetThreadSession()) {
            Event.UserName = Session->UserName();
            Event.UserRoles = Session->UserRoles();
            Session->GetAuthRoles(Info->FMethodAlias, Event.AuthorizedRoles, Event.DeniedRoles);
        }
        if (Event.UserName.empty())
            Event.UserName = ServerCon.ConProperties().GetValue(TDSSession::UserProperty);
        if (ClassPrepares)
            ServerClass->OnPrepare(Event);
        if (ServerPrepares)
            FServer->OnPrepare(Event);
    }

    if (Scanned && After.IsSymbol(u'(')) {
        int32_t Ordinal = 0;
        for (;;) {
            TDBXSqlToken Token = Scanner.NextToken();
            if (Token.Kind != TDBXSqlTokenKind::Identifier &&
                Token.Kind != TDBXSqlTokenKind::Number)
                break;
            Method->SetLiteral(Ordinal++, Token.Text);
            Message.FParameterTypeChanged = true;
            if (!Scanner.NextToken().IsSymbol(u','))
                break;
        }
    }
    return Method;
}

} // namespace kds
