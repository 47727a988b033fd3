#include "server/KDSServerContainerUnit.h"

#include "data/DBXJSON.h"
#include "server/DSServer.h"
#include "server/KDSServerMethodsUnit.h"

namespace kds {

TServerContainer1::TServerContainer1(const TTransportFactory& TransportFactory) {
    try {
        FDSServer1 = std::make_unique<TDSServer>();
        FDSServer1->SetName(u"DSServer1");
        FDSServer1->SetAutoStart(true);
        FDSServer1->SetHideDSAdmin(false);
        if (TransportFactory)
            FTransport = TransportFactory();
        FDSServerClass1 = std::make_unique<TDSServerClass>(u"DSServerClass1");
        FDSServerClass1->SetLifeCycle(u"Session");
        FDSServerClass1->OnGetClass = &TServerContainer1::DSServerClass1GetClass;
        // Transport first, then the server class: the order the server walks.
        if (FTransport)
            FTransport->SetServer(FDSServer1.get());
        FDSServerClass1->SetServer(FDSServer1.get());
        // Every property is set: the server starts last.
        if (FDSServer1->AutoStart())
            FDSServer1->Start();
    } catch (...) {
        Destroy();
        throw;
    }
}

TServerContainer1::~TServerContainer1() {
    Destroy();
}

void TServerContainer1::Destroy() noexcept {
    // The server stops before any component goes, so no tunnel or
    // connection waits on a transport that is already being destroyed.
    if (FDSServer1) {
        try {
            FDSServer1->Stop();
        } catch (...) {
        }
    }
    FDSServerClass1.reset();
    FTransport.reset();
    FDSServer1.reset();
}

void TServerContainer1::DSServerClass1GetClass(TDSServerClass&, const TDSClass*& PersistentClass) {
    PersistentClass = &TServerMethods1::ClassInfo();
}

bool BroadcastReset(TDSServer& Server) {
    return Server.BroadcastMessage(u"KDSChannel", std::make_unique<TJSONString>(u"reset"),
                                   TDSServer::JsonArgument);
}

} // namespace kds
