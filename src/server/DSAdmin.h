#pragma once

// The built-in server classes every server publishes: DSAdmin (listing,
// describing and changing the registry, channels, database connections) and
// DSMetadata (the metadata questions database-style clients ask), both
// registered before the program's own classes with life cycle "Session".
//
// Class tree and what each declares, in registration order:
//   TDBXServerComponent   the twelve channel methods
//   TDSCustomAdmin        GetDSServerName; knows its server and the
//                         connection that made it
//   DSAdmin               GetPlatformName ... GetDatabaseConnectionProperties
//   DSMetadata            GetProcedures, GetProcedureParameters, GetDatabase
// so DSAdmin registers 31 methods and DSMetadata 16.
//
// Results: strings (26), Boolean (4), tables as readers (23), JSON (37), the
// database connection (34).
//
// Built here: GetPlatformName ("win32"), ClearResources, ListClasses,
// DescribeClass, ListMethods, DescribeMethod, GetDSServerName, GetConnection
// (no connection is defined, so it fails with TDBXError 0 "Connection
// definition not found: <name>").
// The channel methods are TDBXServerComponent's (DBXServerComponent.h).
// Not yet built, raising TDBXError 27: the methods that answer or take
// tables (TableMethodsPending).
//
// Threads: an instance belongs to one connection (life cycle "Session").

#include <cstdint>
#include <memory>
#include <string>

#include "server/DBXServerComponent.h"

namespace kds {

class TDSClass;
class TDSServer;
class TDSServerConnectionHandler;
class TDBXConnection;
class TJSONArray;
class TJSONObject;

class TDSCustomAdmin : public TDBXServerComponent {
public:
    static const TDSClass& ClassInfo();

    // Offered the connection handler each time the instance is fetched for a
    // call; keeps the first one and its server.
    void SetServerConnection(TDSServerConnectionHandler* ServerCon);
    TDSServerConnectionHandler* ServerConnection() const { return FServerCon; }
    TDSServer* Server() const { return FServer; }

    // The name of the server the instance belongs to, empty if none.
    std::u16string GetDSServerName() const override;

protected:
    TDSServerConnectionHandler* ChannelConnection() const override { return FServerCon; }

    TDSServer* FServer = nullptr;                     // not owned
    TDSServerConnectionHandler* FServerCon = nullptr; // not owned
};

class DSAdmin : public TDSCustomAdmin {
public:
    static const TDSClass& ClassInfo();
    ~DSAdmin() override;

    static std::u16string GetPlatformName() { return u"win32"; }
    bool ClearResources();
    std::unique_ptr<TJSONArray> ListClasses() const;
    std::unique_ptr<TJSONObject> DescribeClass(const std::u16string& ClassName) const;
    std::unique_ptr<TJSONArray> ListMethods(const std::u16string& ClassName) const;
    std::unique_ptr<TJSONObject> DescribeMethod(const std::u16string& ServerMethodName) const;
    // The named connection (the one already open under that name is kept);
    // the previous one is freed. Owned by the instance; the client
    // connection only holds it.
    TDBXConnection* GetConnection(const std::u16string& NewConName);

    // Every method that answers or takes a table until the tables exist:
    // TDBXError 27 "<Class>.<method> is not available yet".
    [[noreturn]] static void TableMethodsPending(const char16_t* MethodName);

private:
    std::unique_ptr<TDBXConnection> FCon;
    std::u16string FConName;
};

class DSMetadata : public TDSCustomAdmin {
public:
    static const TDSClass& ClassInfo();

    // GetProcedures, GetProcedureParameters and GetDatabase until the tables
    // exist: TDBXError 27.
    [[noreturn]] static void TableMethodsPending(const char16_t* MethodName);
};

} // namespace kds
