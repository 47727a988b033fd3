#pragma once

// An in-process connection to a server: the same dispatch a terminal gets
// over TCP (command resolution, the registry, sessions, instances), driven by
// calls instead of bytes. Its chain ends in a TDSVoidConnectionHandler, so
// nothing is written, and failures reach the caller as exceptions.
//
//   auto Con = Server.GetServerConnection({});
//   auto Cmd = Con->CreateCommand();
//   Cmd->SetCommandType(u"KDS.ServerMethod");
//   Cmd->SetText(u"TServerMethods1.EchoString");
//   Cmd->GetParameters()[0].Value().SetWideString(u"ab");
//   Cmd->ExecuteUpdate();
//   Cmd->GetParameters()[1].Value().GetWideString();   // "ab"
//
// Open (once, under the connection's lock): the void handler; a local
// channel named by the current session's "RemoteIP" data when the thread
// has a session; the connection handler; the server named by "DriverName"
// (TDBXError 0 "Driver not found: <name>" when there is none); the connect.
//
// A command's parameters are copies of the server's: Execute copies the in
// and in/out values into the server's list, executes, copies the out, in/out
// and return values back (readers change hands: the caller's value owns them)
// and nulls the server's values. Commit and Rollback send a transaction end;
// Close sends the disconnect.
//
// Lifetimes: commands go before their connection, and a connection is
// closed before its server is destroyed (a server stop does not reach
// in-process connections; calls prepared on them keep the registry they were
// prepared on).
//
// Threads: one thread at a time per connection (the connection's lock guards
// opening and closing); commands belong to that thread.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "data/TDBXConnection.h"
#include "server/DBXCommand.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DBXProperties.h"
#include "server/wire/DbxChannel.h"

namespace kds {

class TDBXContext;
class TDBXParameterList;
class TDBXRow;
class TDSServer;
class TDSServerConnectionHandler;
class TDSServerCommand;

// The channel of an in-process connection: it has a name and nothing to
// read or write (both raise TDBXError 27).
class TDSLocalChannel : public TDbxChannel {
public:
    explicit TDSLocalChannel(std::string Name);
    int32_t Read(uint8_t* Buffer, int32_t Offset, int32_t Count) override;
    int32_t Write(const uint8_t* Buffer, int32_t Offset, int32_t Count) override;
};

class TDSServerConnection : public TDBXConnection {
public:
    explicit TDSServerConnection(TDBXProperties Properties);
    ~TDSServerConnection() override;

    void Open();
    bool IsOpen() const;
    void Close();
    std::unique_ptr<TDSServerCommand> CreateCommand();
    void Commit();
    void Rollback();

    const TDBXProperties& ConnectionProperties() const { return FProperties; }
    // nullptr before Open.
    TDSServerConnectionHandler* ConHandler() const { return FConHandler.get(); }
    // Open on behalf of a client connection: share its session-scoped
    // instances (before Open).
    void SetSharedConHandler(TDSServerConnectionHandler* Handler) { FSharedConHandler = Handler; }

private:
    friend class TDSServerCommand;
    void EnsureOpen();
    void SendTxEnd(bool Commit);

    TDBXProperties FProperties;
    mutable std::mutex FLock; // guards opening and closing
    std::unique_ptr<TDSServerConnectionHandler> FConHandler;
    TDSServerConnectionHandler* FSharedConHandler = nullptr; // not owned
    TDBXPrepareMessage FPrepareMessage;
    TDBXExecuteMessage FExecuteMessage;
    TDBXCommandCloseMessage FCommandCloseMessage;
    TDBXConnectMessage FConnectMessage;
    TDBXDisconnectMessage FDisconnectMessage;
    TDBXNextResultMessage FNextResultMessage;
    TDBXTxBeginMessage FTxBeginMessage;
    TDBXTxEndMessage FTxEndMessage;
};

class TDSServerCommand : public TDBXCommand {
public:
    explicit TDSServerCommand(TDSServerConnection& Connection);
    ~TDSServerCommand() override;

    void Prepare() override;
    TDBXParameterList& GetParameters() override;
    void ExecuteUpdate() override;
    TDBXReader* ExecuteQuery() override;
    TDBXReader* GetNextReader() override;
    // Sends the command close for the prepared handle.
    void Close() override;

    // -1 before Prepare.
    int32_t CommandHandle() const { return FCommandHandle; }

private:
    void Execute();

    TDSServerConnection* FConnection; // not owned
    int32_t FCommandHandle = -1;
    bool FPrepared = false;
    // The server's parameters (owned by the prepared call).
    TDBXParameterList* FServerParameters = nullptr;
    std::unique_ptr<TDBXRow> FRow;
    std::unique_ptr<TDBXParameterList> FParameters;
};

} // namespace kds
