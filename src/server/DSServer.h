#pragma once

// The server component and what attaches to it: transports and server
// classes.
//
// Life of a server: created (not started) -> Start -> started -> Stop ->
// stopped -> Start again builds a fresh registry.
//
// Start: when already started, only the driver is registered again.
// Otherwise every attached transport, in attachment order, gets the
// server's context and is started; then the registry is created and opened
// (DSAdmin, DSMetadata, then the attached server classes); the server is
// started. If anything fails, the transports started so far are stopped
// again (their errors swallowed), the registry is dropped and the error
// propagates. Last, the server registers itself in the process-wide driver
// registry under its name, so that in-process connections can find it.
//
// Stop, when started: the callback repository shuts every tunnel down and
// is emptied; every transport is stopped (the first error a transport
// raises is raised again after the rest is done); the registry is dropped
// (the "Server" instances go with the last call prepared on it); the
// started flag is cleared and the driver unregistered, also when a
// transport failed. Stop on a server that is not started does nothing.
//
// Components: setting a component's server detaches it from the old
// server's list and appends it to the new one's (no duplicates). A
// component leaves its server's list when it is destroyed, and a server
// that is destroyed first detaches the components still attached, so
// neither ever reaches the other after it has gone. An owner that destroys
// the components before the server stops the server first (the container
// does).
//
// Channels: a terminal subscribes to a named channel and the server pushes
// JSON messages to it through the channel's callback tunnels (the
// repository's header says how tunnels live and end). The operations below
// may be called from any thread; none waits for a delivery except
// NotifyCallback, which waits for the one answer it asks for, and never while
// holding a lock. Messages handed in are taken (std::unique_ptr) and freed
// when the last tunnel has done with them. The argument type tells the
// client how to read a message: 1 plain JSON, 2 an object (carried as its
// JSON: this server has no object marshalling).
//
// The process-wide server list: every server enters it when created and
// leaves it when destroyed; FindServer matches the name exactly (case
// sensitive) and answers the first match. The list has its own lock.
//
// Threads: creation, Start, Stop, destruction and the component settings run
// on one thread (the window thread). Connection threads reach the server
// through MethodProvider, DbxContext, the callback repository and the events
// (set before start, read-only afterwards).

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/DBXContext.h"
#include "server/DSCallbackRepository.h"
#include "server/DSEventObjects.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "server/wire/DBXProperties.h"

namespace kds {

class TDSClass;
class TDSServer;
class TJSONValue;
class TDSServerConnection;
class TDSServerConnectionHandler;
class TDSServerMethodProvider;

class TDSServerComponent {
public:
    explicit TDSServerComponent(std::u16string Name = {}) : FName(std::move(Name)) {}
    TDSServerComponent(const TDSServerComponent&) = delete;
    TDSServerComponent& operator=(const TDSServerComponent&) = delete;
    // Leaves its server's component list.
    virtual ~TDSServerComponent();

    const std::u16string& Name() const { return FName; }
    void SetName(std::u16string Name) { FName = std::move(Name); }
    TDSServer* Server() const { return FServer; }
    // Detaches from the old server, attaches to the new one (nullptr: none).
    void SetServer(TDSServer* Server);

    // A server class does nothing at start and stop.
    virtual void Start() {}
    virtual void Stop() {}

private:
    friend class TDSServer;

    std::u16string FName;
    TDSServer* FServer = nullptr;
};

// The base of every transport. The server starts and stops it; each
// connection it accepts is served by a TDSServerConnectionHandler made by
// ConnectionHandlerFactory, which ends its life by RemoveConnection.
class TDSServerTransport : public TDSServerComponent {
public:
    using TDSServerComponent::TDSServerComponent;

    // Start accepting (raises on failure, e.g. the port is taken). Start and
    // Stop run on the server's thread.
    void Start() override = 0;
    // Stop accepting, end every connection and wait for its thread.
    void Stop() override = 0;

    virtual void SetDbxContext(TDBXContext* Context) { FDbxContext = Context; }
    TDBXContext* DbxContext() const { return FDbxContext; }

    // The transport's table of live connections: a connection handler
    // removes itself at disconnect and when it is destroyed (possibly both;
    // the second call must do nothing). Called on connection threads.
    virtual void RemoveConnection(TDSServerConnectionHandler& Handler) = 0;

    // What the stack of each accepted connection is built with: a
    // TDSServerConnectionHandler of this transport's server and this
    // transport, owning the channel, with the output handler as next handler.
    TDBXConnectionHandlerFactory ConnectionHandlerFactory();

private:
    TDBXContext* FDbxContext = nullptr; // not owned
};

class TDSCustomServerClass : public TDSServerComponent {
public:
    using TDSServerComponent::TDSServerComponent;

    const std::u16string& LifeCycle() const { return FLifeCycle; }
    void SetLifeCycle(std::u16string LifeCycle) { FLifeCycle = std::move(LifeCycle); }
    const std::u16string& RoleName() const { return FRoleName; }
    void SetRoleName(std::u16string RoleName) { FRoleName = std::move(RoleName); }

private:
    std::u16string FLifeCycle;
    std::u16string FRoleName;
};

// Publishes one class. OnGetClass names it; LifeCycle is "Session" when made.
class TDSServerClass : public TDSCustomServerClass {
public:
    // Sets PersistentClass to the class to publish.
    using TDSGetClassEvent =
        std::function<void(TDSServerClass& Sender, const TDSClass*& PersistentClass)>;

    explicit TDSServerClass(std::u16string Name = {});

    // The class to publish: TDBXError 29 "OnGetClass event not set or it did
    // not provide a class reference" when no handler is set or it gave none.
    const TDSClass& GetDSClass();

    TDSGetClassEvent OnGetClass;
    TDSCreateInstanceEvent OnCreateInstance;
    TDSDestroyInstanceEvent OnDestroyInstance;
    TDSPrepareEvent OnPrepare;
};

// How a tunnel that is closed by its client id ends.
enum class TDSTunnelEnd {
    WhenConsumed, // its consumer takes the close message after what is queued
    AtOnce,       // shut down now: what is queued is dropped
};

class TDSServer {
public:
    static constexpr int32_t DefaultChannelQueueSize = 100;
    static constexpr int32_t JsonArgument = 1;
    static constexpr int32_t ObjectArgument = 2;

    // Enters the process-wide list. The name starts as "DSServer".
    TDSServer();
    TDSServer(const TDSServer&) = delete;
    TDSServer& operator=(const TDSServer&) = delete;
    // Stops (errors swallowed), detaches the components, leaves the list.
    virtual ~TDSServer();

    // The first server of that name (exact case), or nullptr.
    static TDSServer* FindServer(std::u16string_view Name);

    void Start();
    void Stop();
    bool Started() const { return FStarted; }

    const std::u16string& Name() const { return FName; }
    void SetName(std::u16string Name);
    bool AutoStart() const { return FAutoStart; }
    void SetAutoStart(bool Value) { FAutoStart = Value; }
    // Kept and never read: the administrative classes are always registered.
    bool HideDSAdmin() const { return FHideDSAdmin; }
    void SetHideDSAdmin(bool Value) { FHideDSAdmin = Value; }
    int32_t ChannelQueueSize() const { return FChannelQueueSize; }
    void SetChannelQueueSize(int32_t Value) { FChannelQueueSize = Value; }

    TDBXContext* DbxContext() { return &FDbxContext; }
    const TDBXContext* DbxContext() const { return &FDbxContext; }
    // nullptr while not started. Any thread.
    std::shared_ptr<TDSServerMethodProvider> MethodProvider() const;
    TDSCallbackRepository& CallbackRepository() { return FCallbackRepository; }
    // In attachment order (the server's thread).
    const std::vector<TDSServerComponent*>& Components() const { return FComponentList; }

    // An in-process connection to this server: "DriverName" is set to the
    // server's name and the connection factory opens it (TDBXError 0 when
    // the server is not started, so its driver is not registered).
    std::unique_ptr<TDSServerConnection> GetServerConnection(TDBXProperties Properties);

    // --- Channels ---
    // Queues Msg in every tunnel of the channel, last subscribed first, and
    // wakes each consumer. True only if every tunnel took it; false when the
    // channel has no tunnel, or when a tunnel's queue is full (the message is
    // dropped for that tunnel at once, the others still get it).
    bool BroadcastMessage(const std::u16string& ChannelName, std::unique_ptr<TJSONValue> Msg,
                          int32_t ArgType = JsonArgument);
    // The same as a targeted message for CallbackId, to every tunnel of the
    // channel that holds that id; nobody waits for the answers. False also
    // when no tunnel holds the id.
    bool BroadcastMessage(const std::u16string& ChannelName, const std::u16string& CallbackId,
                          std::unique_ptr<TJSONValue> Msg, int32_t ArgType = JsonArgument);
    // Argument type 2.
    bool BroadcastObject(const std::u16string& ChannelName, std::unique_ptr<TJSONValue> Msg);
    bool BroadcastObject(const std::u16string& ChannelName, const std::u16string& CallbackId,
                         std::unique_ptr<TJSONValue> Msg);
    // Sends Msg to CallbackId of the client's tunnel on the channel (client
    // id in any case) and waits for the client's answer, at most TimeoutMs
    // (negative: without limit; the wait still ends when the tunnel ends).
    // True when the client answered and the delivery did not fail; Response
    // is then the answer (after a failed delivery it may hold
    // {"error":<text>}). False at once when there is no such tunnel or its
    // queue is full.
    bool NotifyCallback(const std::u16string& ChannelName, const std::u16string& ClientId,
                        const std::u16string& CallbackId, std::unique_ptr<TJSONValue> Msg,
                        std::unique_ptr<TJSONValue>& Response, int64_t TimeoutMs = -1,
                        int32_t ArgType = JsonArgument);
    // Argument type 2.
    bool NotifyObject(const std::u16string& ChannelName, const std::u16string& ClientId,
                      const std::u16string& CallbackId, std::unique_ptr<TJSONValue> Msg,
                      std::unique_ptr<TJSONValue>& Response, int64_t TimeoutMs = -1);

    // A new tunnel for the client on the channel with CallbackId registered
    // on it and this server's queue size, or nil when the client already has
    // one there.
    std::shared_ptr<TDSCallbackTunnel>
    CreateChannelTunnel(const std::u16string& ChannelName, const std::u16string& ClientId,
                        const std::u16string& CallbackId, const std::u16string& SecurityToken,
                        TDSCallbackTunnel::TKind Kind = TDSCallbackTunnel::TKind::Connected);
    // Adds a callback id to the client's tunnel: false when the client has
    // none or the id is there already. A token that differs raises TDBXError
    // 0 "The current session does not have permission to perform the
    // requested action.".
    bool RegisterChannelCallback(const std::u16string& ChannelName, const std::u16string& ClientId,
                                 const std::u16string& CallbackId,
                                 const std::u16string& SecurityToken);
    // Closes the client's tunnel (it leaves the channel). False when the
    // client has none; a wrong token raises the permission error.
    bool UnregisterChannelCallback(const std::u16string& ChannelName,
                                   const std::u16string& ClientId,
                                   const std::u16string& SecurityToken, TDSTunnelEnd End);
    // Removes one callback id; removing the last one closes the tunnel.
    // False when the client has no tunnel or it does not hold the id; a
    // wrong token raises the permission error.
    bool UnregisterChannelCallback(const std::u16string& ChannelName,
                                   const std::u16string& ClientId, const std::u16string& CallbackId,
                                   const std::u16string& SecurityToken);
    // Takes the tunnel out of the channel, first sending it the close message
    // when DoBroadcast.
    void UnregisterChannelCallback(const std::u16string& ChannelName, TDSCallbackTunnel& Tunnel,
                                   bool DoBroadcast);
    // The client's tunnel, or nil.
    std::shared_ptr<TDSCallbackTunnel> GetCallbackTunnel(const std::u16string& ChannelName,
                                                         const std::u16string& ClientManagerId);
    bool HasChannelCallback(const std::u16string& ChannelName) const;
    bool HasChannelCallback(const std::u16string& ChannelName,
                            const std::u16string& ClientId) const;
    // Client ids of the channel's tunnels in list order; all their callback
    // ids, each once.
    std::vector<std::u16string> GetAllChannelClientId(const std::u16string& ChannelName) const;
    std::vector<std::u16string> GetAllChannelCallbackId(const std::u16string& ChannelName) const;

    TDSConnectEvent OnConnect;
    TDSDisconnectEvent OnDisconnect;
    TDSErrorEvent OnError;
    TDSPrepareEvent OnPrepare;

private:
    friend class TDSServerComponent;
    void Attach(TDSServerComponent& Component);
    void Detach(TDSServerComponent& Component);
    // Raises the permission error for Denied; answers whether it was Done.
    bool Granted(TDSCallbackRepository::TAccess Access) const;

    TDBXContext FDbxContext;
    bool FStarted = false;
    std::u16string FName;
    mutable std::mutex FProviderLock; // guards FServerMethodProvider
    std::shared_ptr<TDSServerMethodProvider> FServerMethodProvider;
    std::vector<TDSServerComponent*> FComponentList;
    bool FHideDSAdmin = false;
    bool FAutoStart = true;
    TDSCallbackRepository FCallbackRepository;
    // Read by connection threads when they make a tunnel; set before start.
    std::atomic<int32_t> FChannelQueueSize{DefaultChannelQueueSize};
};

} // namespace kds
