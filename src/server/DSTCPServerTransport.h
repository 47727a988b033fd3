#pragma once

// The TCP transport: puts the server on the network. Start listens on Port
// (IPv4, all interfaces; see TDSTCPServer for the listener and the
// connection threads); every accepted connection gets a stack of its own:
//
//   protocol handler -> input handler (reader and writer with
//   BufferKBSize * 1024-byte buffers, row buffer of minimum size 30720)
//   -> server connection handler (owns the filter-probe channel around the
//   socket channel) -> output handler
//
// built on the connection's thread before any byte is read, and entered in
// the connection table.
//
// The connection table: the connection handle of a connection is its index
// in the table, the lowest free one counted from 1 (10 entries at first,
// grown by 32 when full; entry 0 is never used). The connection takes it
// when its stack is built and gives it back when it sends "disconnect" or
// ends; a handle given back is taken by the next connection. A connection
// that gave its handle back with "disconnect" and connects again takes a
// free handle anew, so that the handle each connect reply reports is held by
// that connection alone (if that connect fails, the handle goes back at
// once). The table and its messages are guarded by FTableLock; each
// AddConnection fills a message of its own.
//
// Settings (made while stopped): Port (211 when made; the program sets
// 16000), PoolSize (kept; no thread is pooled: a connection's thread ends
// with it), MaxThreads (the most connections served at once: 0 means
// WireLimits::MaxConnections, never "no limit"; connections beyond it are
// closed at once), BufferKBSize (1 to 1000, 32 when made). The transport
// never writes a message of its own to a peer.
//
// Life: stopped when made; Start raises what listening raises ("Could not
// bind socket. Address and port are already in use." when the port is
// taken), Stop ends every connection and returns when every connection
// thread has been joined; the destructor stops.
//
// Threads: Start, Stop and the settings on the server's thread; the table
// operations on connection threads; BoundPort, ConnectionCount and
// ThreadCount on any thread.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/DSServer.h"
#include "server/wire/DSTCPServer.h"

namespace kds {

class TDSTCPServerTransport : public TDSServerTransport, private TDSConnectionStackFactory {
public:
    static constexpr uint16_t DefaultPort = 211;
    static constexpr int32_t DefaultBufferKBSize = 32;
    static constexpr int32_t InitialConnectionSlots = 10;
    static constexpr int32_t ConnectionSlotGrowth = 32;

    explicit TDSTCPServerTransport(std::u16string Name = u"DSTCPServerTransport");
    ~TDSTCPServerTransport() override;

    void Start() override;
    void Stop() override;
    bool Active() const { return FTcpServer.Active(); }

    uint16_t Port() const { return FPort; }
    void SetPort(uint16_t Port) { FPort = Port; }
    int32_t PoolSize() const { return FPoolSize; }
    void SetPoolSize(int32_t PoolSize) { FPoolSize = PoolSize; }
    int32_t MaxThreads() const { return FMaxThreads; }
    void SetMaxThreads(int32_t MaxThreads) { FMaxThreads = MaxThreads < 0 ? 0 : MaxThreads; }
    int32_t BufferKBSize() const { return FBufferKBSize; }
    // Below 1 stores 1, above 1000 stores 1000.
    void SetBufferKBSize(int32_t Size);

    // The port listened on while active (the system's choice for port 0),
    // else 0.
    uint16_t BoundPort() const { return FTcpServer.BoundPort(); }
    // Connection handles in use.
    int32_t ConnectionCount() const;
    // Connections whose thread has not ended yet.
    int32_t ThreadCount() const { return FTcpServer.ConnectionCount(); }
    // The listening server itself (tests reach its thread starter).
    TDSTCPServer& TcpServer() { return FTcpServer; }

    // Enters Handler at the lowest free handle, tells it the handle
    // (DbxOpen) and answers it. Connection threads.
    int32_t AddConnection(TDSServerConnectionHandler& Handler);
    // Idempotent; may be called while the connection still runs.
    void RemoveConnection(TDSServerConnectionHandler& Handler) override;
    // Enters Handler again when it gave its handle back; answers whether it
    // did. Connection threads.
    bool ReAddConnection(TDSServerConnectionHandler& Handler);

private:
    std::unique_ptr<TDBXJSonServerProtocolHandler>
    CreateProtocolHandler(std::unique_ptr<TDbxChannel> Channel) override;
    const void* SessionCreator() const override {
        return static_cast<const TDSServerTransport*>(this);
    }
    // Under FTableLock: the slot of Handler, or -1.
    int32_t SlotOf(const TDSServerConnectionHandler& Handler) const;

    uint16_t FPort = DefaultPort;
    int32_t FPoolSize = 0;
    int32_t FMaxThreads = 0;
    int32_t FBufferKBSize = DefaultBufferKBSize;

    mutable std::mutex FTableLock; // guards FServerConnections and FConnectionCount
    std::vector<TDSServerConnectionHandler*> FServerConnections; // not owned
    int32_t FConnectionCount = 0;

    TDSTCPServer FTcpServer;
};

} // namespace kds
