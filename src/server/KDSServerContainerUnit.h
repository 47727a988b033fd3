#pragma once

// The module that owns the program's remote method server: DSServer1, the
// transport slot and DSServerClass1, made in that order with their
// configured properties, the server started last:
//
//   DSServer1              AutoStart true, HideDSAdmin false, ChannelQueueSize 100
//   transport              what the factory makes (the TCP transport on port
//                          16000 in the program; tests pass a fake or none),
//                          attached to DSServer1 first
//   DSServerClass1         LifeCycle "Session", OnGetClass = DSServerClass1GetClass
//                          (TServerMethods1), attached second
//
// A start failure (the port is taken, a class registered twice) leaves the
// constructor: nothing is left running. Destroying the container stops the
// server first (tunnels ended, transport stopped, registry dropped) and then
// destroys the server class, the transport and the server, in that order.
//
// Threads: made and destroyed on the window thread.

#include <functional>
#include <memory>

namespace kds {

class TDSClass;
class TDSServer;
class TDSServerClass;
class TDSServerTransport;

class TServerContainer1 {
public:
    // Makes the transport; it may answer nullptr (no transport).
    using TTransportFactory = std::function<std::unique_ptr<TDSServerTransport>()>;

    explicit TServerContainer1(const TTransportFactory& TransportFactory);
    TServerContainer1(const TServerContainer1&) = delete;
    TServerContainer1& operator=(const TServerContainer1&) = delete;
    ~TServerContainer1();

    TDSServer& DSServer1() const { return *FDSServer1; }
    // nullptr when the factory made none.
    TDSServerTransport* Transport() const { return FTransport.get(); }
    TDSServerClass& DSServerClass1() const { return *FDSServerClass1; }

    // The container's OnGetClass handler: the class TServerMethods1.
    static void DSServerClass1GetClass(TDSServerClass& Sender, const TDSClass*& PersistentClass);

private:
    void Destroy() noexcept;

    std::unique_ptr<TDSServer> FDSServer1;
    std::unique_ptr<TDSServerTransport> FTransport;
    std::unique_ptr<TDSServerClass> FDSServerClass1;
};

// The operator's reset (the window's Action2, callable without any window):
// the JSON string "reset" broadcast on "KDSChannel" with argument type 1.
// Queues a copy for every subscribed terminal and returns at once; true only
// if every terminal's queue took it (the window ignores the answer). Any
// thread.
bool BroadcastReset(TDSServer& Server);

} // namespace kds
