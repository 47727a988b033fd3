#include "server/DSDriverRegistry.h"

#include <map>
#include <mutex>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/TDBXConnection.h"
#include "server/DSServerConnection.h"

namespace kds {

namespace {

std::mutex& DriverLock() {
    static std::mutex Lock;
    return Lock;
}
std::map<std::u16string, TDSServer*>& Drivers() {
    static std::map<std::u16string, TDSServer*> Map;
    return Map;
}

} // namespace

void TDBXDriverRegistry::RegisterDriver(const std::u16string& Name, TDSServer& Server) {
    std::lock_guard<std::mutex> Guard(DriverLock());
    Drivers()[Name] = &Server;
}

void TDBXDriverRegistry::UnregisterDriver(const std::u16string& Name, const TDSServer& Server) {
    std::lock_guard<std::mutex> Guard(DriverLock());
    const auto It = Drivers().find(Name);
    if (It != Drivers().end() && It->second == &Server)
        Drivers().erase(It);
}

TDSServer* TDBXDriverRegistry::FindDriver(const std::u16string& Name) {
    std::lock_guard<std::mutex> Guard(DriverLock());
    const auto It = Drivers().find(Name);
    return It == Drivers().end() ? nullptr : It->second;
}

std::unique_ptr<TDSServerConnection>
TDBXConnectionFactory::GetServerConnection(const TDBXProperties& Properties) {
    const std::u16string& DriverName = Properties.GetValue(u"DriverName");
    if (TDBXDriverRegistry::FindDriver(DriverName) == nullptr)
        throw TDBXError(TDBXErrorCodes::None, "Driver not found: " + Utf16ToUtf8(DriverName));
    return std::make_unique<TDSServerConnection>(Properties);
}

std::unique_ptr<TDBXConnection>
TDBXConnectionFactory::GetConnection(const std::u16string& ConnectionName) {
    throw TDBXError(TDBXErrorCodes::None,
                    "Connection definition not found: " + Utf16ToUtf8(ConnectionName));
}

std::vector<std::u16string> TDBXConnectionFactory::ConnectionNames() {
    return {};
}

} // namespace kds
