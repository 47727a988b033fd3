#pragma once

// The server's handler of one client connection: between the input handler
// (which decodes requests) and the next handler (the output handler of a TCP
// connection, which writes replies; a TDSVoidConnectionHandler for an
// in-process connection). It resolves command texts, keeps the table of the
// connection's open commands, hands each command request to its command's
// handler and finally passes the message on.
//
// Command handles: the lowest free slot, counted from 0 (the table starts
// with 16 slots and grows by 8, up to WireLimits::MaxOpenCommands; beyond:
// TDBXError 30 "Too many open commands"). A handle below 0 where one is
// looked up is TDBXError 4 "Command closed or executed again"; one beyond
// the table or on an empty slot is TDBXError 29 "Invalid command handle:  N".
//
// Commands that no client can close are released by the server:
// - a prepare or execute that made a new command (handle below 0) and then
//   failed releases that command at once (the error reply carries no handle);
// - an execute that made a new command (no prepare, so the reply shows no
//   handle) leaves it as the connection's one anonymous command, released
//   when the next request that makes a command arrives, unless it is still
//   streaming readers (then the client closes it by the handle its table
//   objects carry).
//
// Resolving a new command (prepare or execute with a handle below 0):
//   "KDS.ServerMethod" (any case)               the text names a server method
//   "Dbx.StoredProcedure" (any case)            the same when the registry
//                                               knows the name, else 30
//   text "call <name>" (any case; TAB, LF, CR   the rest of the text is the
//   or blank after "call"; 6 characters at       method (for other types only
//   least)                                       when the registry knows it)
//   "Dbx.MetaData" (exact case), no database    "GetDatabase" (any case) ->
//   connection                                   DSMetadata.GetDatabase;
//                                                "GetProcedures a, b" ->
//                                                DSMetadata.GetProcedures("a", "b");
//                                                "GetProcedureParameters p" ->
//                                                DSMetadata.GetProcedureParameters("p")
//   anything else                               30 "<type> is an unrecognized
//                                                command type"
// Names put into a rewritten text are quoted with every embedded double
// quote doubled, so a name cannot add arguments of its own.
//
// Connect: keeps a copy of the properties; the thread's current session
// authenticates (refused: TDBXError 0 "Authentication manager rejected user
// credentials. This may due to invalid combination of DS user name and
// password"); the server's OnConnect; then "ServerConnection": empty attaches
// no database connection; otherwise, with any command open, TDBXError 30
// "All open command objects must be close before changing the server
// connection", else the named server method runs on this connection's
// in-process connection and its result, when it is a database connection, is
// attached (held, not owned). The reply gets the product name and the
// connection handle. A failed connect clears FSuccessfulConnect and is
// reported as the error reply.
//
// Execute: every method but DSMetadata.GetDatabase and
// DSAdmin.GetPlatformName asks the thread's current session to authorize it
// (refused: TDBXError 113 "<user> is not authorized to perform the requested
// action.").
//
// Ownership: owns the channel, the command handlers, the database handler,
// the session-scoped instances and the in-process connection it makes; the
// next handler is not owned (the protocol stack makes it the next owned
// handler). Destroying the handler removes it from its transport's table,
// frees the commands, the in-process connection, the database handler, then
// the session-scoped instances (newest first) and the channel.
//
// Threads: used by its connection's thread only, except that making the
// in-process connection and changing the shared handler take the handler's
// lock. The command table has no lock.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/DSInstanceProvider.h"
#include "server/DSSqlScanner.h"
#include "server/wire/DBXCommandHandler.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXProperties.h"
#include "server/wire/DbxChannel.h"

namespace kds {

class TDbxChannel;
class TDBXConnection;
class TDSServer;
class TDSServerTransport;
class TDSServerConnection;
class TDSClassInfo;
class TDSServerMethodProvider;

namespace TDSCommandTypes {
inline constexpr std::u16string_view ServerMethod = u"KDS.ServerMethod";
inline constexpr std::u16string_view StoredProcedure = u"Dbx.StoredProcedure";
inline constexpr std::u16string_view MetaData = u"Dbx.MetaData";
} // namespace TDSCommandTypes

class TDSServerConnectionHandler : public TDBXConnectionHandler {
public:
    static constexpr int32_t InitialCommandSlots = 16;
    static constexpr int32_t CommandSlotGrowth = 8;

    // Channel: owned (may be nullptr for an in-process connection).
    // NextHandler: not owned. Server: the server whose registry serves the
    // requests. Transport: the transport that accepted the connection
    // (nullptr in-process).
    TDSServerConnectionHandler(TDBXContext* DbxContext, std::unique_ptr<TDbxChannel> Channel,
                               TDBXConnectionHandler* NextHandler, TDSServer* Server,
                               TDSServerTransport* Transport);
    ~TDSServerConnectionHandler() override;

    // --- TDBXConnectionHandler ---
    void DbxOpen(TDBXOpenMessage& Message) override;
    void DbxConnect(TDBXConnectMessage& Message) override;
    void DbxDisconnect(TDBXDisconnectMessage& Message) override;
    void DbxTxBegin(TDBXTxBeginMessage& Message) override;
    void DbxTxEnd(TDBXTxEndMessage& Message) override;
    void DbxVendorProperty(TDBXVendorPropertyMessage& Message) override;
    TDBXCommandHandler* AcquireCommandHandler(TDBXCommandMessage& Message) override;
    bool DbxBeforeRequest() override { return true; }
    std::u16string GetProductName() override;
    void DbxPrepare(TDBXPrepareMessage& Message) override;
    void DbxExecute(TDBXExecuteMessage& Message) override;
    void DbxNext(TDBXNextMessage& Message) override;
    void DbxNextResult(TDBXNextResultMessage& Message) override;
    void DbxMoreBlob(TDBXMoreBlobMessage& Message) override;
    void DbxCommandClose(TDBXCommandCloseMessage& Message) override;
    void DbxReaderClose(TDBXReaderCloseMessage& Message) override;
    void DbxErrorMessage(TDBXErrorMessage& Message) override;
    std::unique_ptr<TDBXRow> CreateDbxRow() override;
    // Every open command releases what its last execution made; true only
    // if all succeeded.
    bool ClearResources() override;

    // Fills the reusable error message from Ex and reports it.
    void DbxError(std::exception_ptr Ex);

    // Set by a server method while it runs: called once if the execute it
    // runs in fails after it returned (in practice: its reply could not be
    // written), so that what it handed out can be handed out again. Cleared
    // when the execute ends either way. Must not raise.
    void SetReplyLostHandler(std::function<void()> Handler) { FReplyLost = std::move(Handler); }

    // The session-scoped instance of the class on this connection (or on the
    // connection whose instances this one shares), made on first use.
    TObject* GetInstance(const TDSClassInfo& ClassInfo);
    bool UsesDbxParameters() const { return true; }

    // --- Commands ---
    // The handler registered under Handle (errors as in the header comment).
    TDBXCommandHandler& LookUpCommandHandler(int32_t Handle) const;
    int32_t OpenCommandCount() const;
    bool HasOpenCommands() const { return OpenCommandCount() > 0; }

    // --- The in-process connection of this handler ---
    // Made on demand under the handler's lock; shares this handler's
    // session-scoped instances.
    TDSServerConnection& GetServerConnection();
    // For an in-process connection opened on behalf of a client connection.
    void SetSharedConHandler(TDSServerConnectionHandler* Handler);
    TDSServerConnectionHandler* SharedConHandler() const { return FSharedConHandler; }

    // --- Database connection ---
    // Attaches a database connection (held, not owned) or none.
    void SetDbxConnection(TDBXConnection* Connection);
    TDBXConnection* DbxConnection() const { return FDbxConnection; }
    bool HasServerConnection() const { return FHasServerConnection; }

    TDSServer* Server() const { return FServer; }
    void SetServer(TDSServer* Server) { FServer = Server; }
    TDSServerTransport* Transport() const { return FTransport; }
    TDbxChannel* Channel() const { return FChannel.get(); }
    TDBXConnectionHandler* NextHandler() const { return FNextHandler; }
    const TDBXProperties& ConProperties() const { return FConProperties; }
    int32_t ConnectionHandle() const { return FConnectionHandle; }
    // The provider of the server, or nullptr while it is not started.
    std::shared_ptr<TDSServerMethodProvider> MethodProvider() const;

private:
    // Registers Handler at the lowest free slot and answers its handle.
    int32_t RegisterCommandHandler(std::unique_ptr<TDBXCommandHandler> Handler);
    void ReleaseCommandHandler(int32_t Handle);
    TDBXCommandHandler& AcquireNewCommandHandler(TDBXCommandMessage& Message);
    // Releases the anonymous command unless it is still streaming.
    void ReleaseAnonymousCommand();
    // Prepare or execute through the command handler the message names.
    template <typename TMessage, typename TOperation>
    void DispatchCommand(TMessage& Message, bool MakesAnonymous, TOperation Operation);
    bool ProviderKnows(const std::u16string& Name) const;
    // The metadata rewrite; false when the text is no metadata command.
    bool RewriteMetaData(TDBXCommandMessage& Message);
    void ConnectServerConnection(const std::u16string& CommandText);
    void NotifyError(TDBXErrorMessage& Message);

    TDBXConnectionHandler* FNextHandler; // not owned
    std::unique_ptr<TDbxChannel> FChannel;
    TDSServer* FServer;             // not owned
    TDSServerTransport* FTransport; // not owned
    std::vector<std::unique_ptr<TDBXCommandHandler>> FCommandHandlers;
    int32_t FLastCommandHandler = 0;
    int32_t FOpenCommands = 0;
    int32_t FAnonymousCommand = -1;
    TDBXErrorMessage FErrorMessage;
    TDBXProperties FConProperties;
    int32_t FConnectionHandle = 0;
    std::unique_ptr<TDBXConnectionHandler> FDatabaseConnectionHandler;
    bool FHasServerConnection = false;
    TDBXConnection* FDbxConnection = nullptr; // not owned
    std::unique_ptr<TDSHashtableInstanceProvider> FInstanceProvider;
    std::mutex FLock; // guards FServerCon and FSharedConHandler
    TDSServerConnectionHandler* FSharedConHandler = nullptr; // not owned
    std::unique_ptr<TDSServerConnection> FServerCon;
    TDBXSqlScanner FScanner;
    std::function<void()> FReplyLost; // the execute being served only
};

} // namespace kds
