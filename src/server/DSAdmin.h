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
// definition not found: <name>"), and the tables:
//   FindPackages                     empty PackageTable
//   FindClasses(pkg, pattern)        ClassTable of the process's class registry,
//                                    class names containing pattern (exact case);
//                                    only the class name is set
//   FindMethods(pkg, cpat, mpat)     MethodTable of those classes' qualifying
//                                    methods whose lower-cased name contains mpat
//                                    lower-cased: alias, class and method names
//   GetServerClasses                 ClassTable of the registered classes
//   GetServerMethods                 MethodTable of the registered methods
//   GetServerMethodParameters        MethodParametersTable: a row per declared
//                                    parameter, then a result row per method
//   GetDatabaseConnectionProperties  ConnectionTable of the factory's
//                                    connections (none are defined)
//   GetProcedures(pattern, type)     ProceduresTable (DSMetadata)
//   GetProcedureParameters(pattern)  ProcedureParameters (DSMetadata)
//   GetDatabase                      one row of 14 database properties (DSMetadata)
// and the registry changers, which read a table row by row (columns found by
// name, ASCII case folded; a missing column reads as empty text) and stop at
// the first row that fails, leaving the rows before it applied:
//   CreateServerClasses  ClassName, PackageName, LifeCycle, RoleName  (102, 29)
//   DropServerClasses    ClassName                                    (104)
//   CreateServerMethods  MethodAlias, ServerClassName, MethodName,
//                        RoleName                                     (104, 105, 103)
//   DropServerMethods    MethodAlias                                  (105)
// The channel methods are TDBXServerComponent's (DBXServerComponent.h).
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
class TDBXReader;
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

    // The tables (see the header comment). Each answers a new reader that
    // owns its table.
    std::unique_ptr<TDBXReader> FindPackages() const;
    std::unique_ptr<TDBXReader> FindClasses(const std::u16string& PackageName,
                                            const std::u16string& ClassPattern) const;
    std::unique_ptr<TDBXReader> FindMethods(const std::u16string& PackageName,
                                            const std::u16string& ClassPattern,
                                            const std::u16string& MethodPattern) const;
    std::unique_ptr<TDBXReader> GetServerClasses() const;
    std::unique_ptr<TDBXReader> GetServerMethods() const;
    std::unique_ptr<TDBXReader> GetServerMethodParameters() const;
    std::unique_ptr<TDBXReader> GetDatabaseConnectionProperties() const;
    // The registry changers; a null reader changes nothing. Without a
    // registry (no server) TDBXError 104 or 105 for the first row.
    void CreateServerClasses(TDBXReader* ClassReader);
    void DropServerClasses(TDBXReader* ClassReader);
    void CreateServerMethods(TDBXReader* MethodReader);
    void DropServerMethods(TDBXReader* MethodReader);

private:
    std::unique_ptr<TDBXConnection> FCon;
    std::u16string FConName;
};

class DSMetadata : public TDSCustomAdmin {
public:
    static const TDSClass& ClassInfo();

    // "" or "%" matches every alias, any other pattern what contains it
    // (exact case); "PROCEDURE" keeps the methods without a result,
    // "FUNCTION" those with one, any other type all.
    std::unique_ptr<TDBXReader> GetProcedures(const std::u16string& ProcedureNamePattern,
                                              const std::u16string& ProcedureType) const;
    // A row per declared parameter of every method whose alias contains the
    // pattern (exact case; "" matches all), then "ReturnValue" for a method
    // with a result. Type names are the data type names without their
    // "TDBXTypes." prefix ("WideString", "INT32").
    std::unique_ptr<TDBXReader>
    GetProcedureParameters(const std::u16string& ProcedureNamePattern) const;
    std::unique_ptr<TDBXReader> GetDatabase() const;
};

} // namespace kds
