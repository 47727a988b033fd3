#pragma once

// What the server's and the server classes' events receive. In this program
// no event is assigned; each is called only when set, on the thread of the
// connection it concerns (the window thread for start and stop).

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/DBXCallback.h"

namespace kds {

class TDBXContext;
class TDBXConnection;
class TDBXProperties;
class TDBXChannelInfo;
class TDSServer;
class TDSServerClass;
class TDSServerTransport;
class TDSServerConnectionHandler;

struct TDSEventObject {
    TDBXContext* DbxContext = nullptr;
    TDSServer* Server = nullptr;
    TDSServerTransport* Transport = nullptr;
    TDBXConnection* DbxConnection = nullptr;
    // The connection the event concerns; nullptr for server-wide events.
    TDSServerConnectionHandler* ServerConnectionHandler = nullptr;
};

struct TDSErrorEventObject : TDSEventObject {
    std::exception_ptr Error;
};

struct TDSConnectEventObject : TDSEventObject {
    const TDBXProperties* ConnectProperties = nullptr;
    TDBXChannelInfo* ChannelInfo = nullptr;
};

// OnCreateInstance may put an instance here; when it leaves none, the class
// is constructed.
struct TDSCreateInstanceEventObject : TDSEventObject {
    TDSServerClass* ServerClass = nullptr;
    std::unique_ptr<TObject> ServerClassInstance;
};

// OnDestroyInstance may take the instance (move it out); what it leaves is
// freed.
struct TDSDestroyInstanceEventObject : TDSEventObject {
    std::unique_ptr<TObject> ServerClassInstance;
};

// Who calls which method: handed to OnPrepare (and to an authorization hook).
struct TDSServerMethodUserEventObject : TDSEventObject {
    std::u16string MethodAlias;
    TDSServerClass* ServerClass = nullptr;
    TObject* MethodInstance = nullptr;
    std::u16string UserName;
    std::vector<std::u16string> UserRoles;
    std::vector<std::u16string> AuthorizedRoles;
    std::vector<std::u16string> DeniedRoles;
};
using TDSPrepareEventObject = TDSServerMethodUserEventObject;
using TDSAuthorizeEventObject = TDSServerMethodUserEventObject;

using TDSConnectEvent = std::function<void(TDSConnectEventObject&)>;
using TDSDisconnectEvent = std::function<void(TDSConnectEventObject&)>;
using TDSErrorEvent = std::function<void(TDSErrorEventObject&)>;
using TDSPrepareEvent = std::function<void(TDSPrepareEventObject&)>;
using TDSCreateInstanceEvent = std::function<void(TDSCreateInstanceEventObject&)>;
using TDSDestroyInstanceEvent = std::function<void(TDSDestroyInstanceEventObject&)>;

} // namespace kds
