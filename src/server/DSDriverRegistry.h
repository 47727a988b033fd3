#pragma once

// The process-wide driver registry and connection factory, as small as this
// program needs: a started server registers itself as a driver under its
// name, and an in-process connection whose "DriverName" property names it is
// a TDSServerConnection to that server. No database connection is defined:
// the factory knows no connection by name.
//
// Threads: any; the registry has its own lock. A server unregisters before
// it is destroyed, so a name never leads to a destroyed server.

#include <memory>
#include <string>
#include <vector>

#include "server/wire/DBXProperties.h"

namespace kds {

class TDSServer;
class TDBXConnection;
class TDSServerConnection;

class TDBXDriverRegistry {
public:
    static constexpr const char* DriverVersion = "1.0";

    // Registering a name again replaces the server it names.
    static void RegisterDriver(const std::u16string& Name, TDSServer& Server);
    // Only when the name still names that server.
    static void UnregisterDriver(const std::u16string& Name, const TDSServer& Server);
    static TDSServer* FindDriver(const std::u16string& Name);
};

class TDBXConnectionFactory {
public:
    // A new, not yet opened, in-process connection for the properties'
    // "DriverName"; TDBXError 0 "Driver not found: <name>" when no server
    // is registered under it.
    static std::unique_ptr<TDSServerConnection>
    GetServerConnection(const TDBXProperties& Properties);
    // The connection defined under that name: none is defined, so always
    // TDBXError 0 "Connection definition not found: <name>".
    static std::unique_ptr<TDBXConnection> GetConnection(const std::u16string& ConnectionName);
    // The names of the defined connections (none).
    static std::vector<std::u16string> ConnectionNames();
};

} // namespace kds
