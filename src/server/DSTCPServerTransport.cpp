#include "server/DSTCPServerTransport.h"

#include "server/DSServerConnectionHandler.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "server/wire/DBXMessages.h"
#include "server/wire/DbxChannel.h"
#include "server/wire/WireLimits.h"

namespace kds {

namespace {

// The server's connection handler of a TCP connection: a connection that
// gave its handle back ("disconnect") takes one anew when it connects again.
class TDSTCPServerConnectionHandler final : public TDSServerConnectionHandler {
public:
    TDSTCPServerConnectionHandler(TDBXContext* DbxContext, std::unique_ptr<TDbxChannel> Channel,
                                  TDBXConnectionHandler* NextHandler, TDSServer* Server,
                                  TDSTCPServerTransport& Transport)
        : TDSServerConnectionHandler(DbxContext, std::move(Channel), NextHandler, Server,
                                     &Transport),
          FTcpTransport(Transport) {}

    void DbxConnect(TDBXConnectMessage& Message) override {
        FReAdded = FTcpTransport.ReAddConnection(*this);
        try {
            TDSServerConnectionHandler::DbxConnect(Message);
        } catch (...) {
            GiveBackReAdded();
            throw;
        }
        GiveBackReAdded(!Message.FSuccessfulConnect);
    }

    // A connect that fails is reported here, before its error reply leaves:
    // the handle it took goes back first, so no client that has seen the
    // reply can find it still taken.
    void DbxErrorMessage(TDBXErrorMessage& Message) override {
        GiveBackReAdded();
        TDSServerConnectionHandler::DbxErrorMessage(Message);
    }

private:
    void GiveBackReAdded(bool Failed = true) {
        if (FReAdded && Failed)
            FTcpTransport.RemoveConnection(*this);
        FReAdded = false;
    }

    TDSTCPServerTransport& FTcpTransport;
    bool FReAdded = false; // during a connect that took a handle anew
};

} // namespace

TDSTCPServerTransport::TDSTCPServerTransport(std::u16string Name)
    : TDSServerTransport(std::move(Name)),
      FServerConnections(static_cast<size_t>(InitialConnectionSlots), nullptr), FTcpServer(*this) {}

TDSTCPServerTransport::~TDSTCPServerTransport() {
    try {
        Stop();
    } catch (...) {
        // The transport goes whatever its stop raised.
    }
}

void TDSTCPServerTransport::SetBufferKBSize(int32_t Size) {
    FBufferKBSize = Size < 1 ? 1 : (Size > 1000 ? 1000 : Size);
}

void TDSTCPServerTransport::Start() {
    FTcpServer.Start(FPort, FMaxThreads > 0 ? FMaxThreads : WireLimits::MaxConnections);
}

void TDSTCPServerTransport::Stop() {
    FTcpServer.Stop();
}

int32_t TDSTCPServerTransport::ConnectionCount() const {
    std::lock_guard<std::mutex> Guard(FTableLock);
    return FConnectionCount;
}

int32_t TDSTCPServerTransport::SlotOf(const TDSServerConnectionHandler& Handler) const {
    const int32_t Handle = Handler.ConnectionHandle();
    if (Handle > 0 && Handle < static_cast<int32_t>(FServerConnections.size()) &&
        FServerConnections[static_cast<size_t>(Handle)] == &Handler)
        return Handle;
    return -1;
}

int32_t TDSTCPServerTransport::AddConnection(TDSServerConnectionHandler& Handler) {
    int32_t Handle = -1;
    {
        std::lock_guard<std::mutex> Guard(FTableLock);
        const auto Size = static_cast<int32_t>(FServerConnections.size());
        for (int32_t I = 1; I < Size; ++I) {
            if (FServerConnections[static_cast<size_t>(I)] == nullptr) {
                Handle = I;
                break;
            }
        }
        if (Handle < 0) {
            Handle = Size;
            FServerConnections.resize(static_cast<size_t>(Size + ConnectionSlotGrowth), nullptr);
        }
        FServerConnections[static_cast<size_t>(Handle)] = &Handler;
        ++FConnectionCount;
    }
    TDBXOpenMessage Open;
    Open.FConnectionHandle = Handle;
    Handler.DbxOpen(Open);
    return Handle;
}

void TDSTCPServerTransport::RemoveConnection(TDSServerConnectionHandler& Handler) {
    std::lock_guard<std::mutex> Guard(FTableLock);
    const int32_t Slot = SlotOf(Handler);
    if (Slot > 0) {
        FServerConnections[static_cast<size_t>(Slot)] = nullptr;
        --FConnectionCount;
    }
}

bool TDSTCPServerTransport::ReAddConnection(TDSServerConnectionHandler& Handler) {
    {
        std::lock_guard<std::mutex> Guard(FTableLock);
        if (SlotOf(Handler) > 0)
            return false;
    }
    AddConnection(Handler);
    return true;
}

std::unique_ptr<TDBXJSonServerProtocolHandler>
TDSTCPServerTransport::CreateProtocolHandler(std::unique_ptr<TDbxChannel> Channel) {
    TDSServerConnectionHandler* Made = nullptr;
    std::unique_ptr<TDBXJSonServerProtocolHandler> Protocol = CreateJSonServerProtocolHandler(
        DbxContext(), std::move(Channel), FBufferKBSize * 1024,
        [this, &Made](TDBXContext* Context, std::unique_ptr<TDbxChannel> Owned,
                      TDBXConnectionHandler* Output) -> std::unique_ptr<TDBXConnectionHandler> {
            auto Handler = std::make_unique<TDSTCPServerConnectionHandler>(
                Context, std::move(Owned), Output, Server(), *this);
            Made = Handler.get();
            return Handler;
        });
    AddConnection(*Made);
    return Protocol;
}

} // namespace kds
