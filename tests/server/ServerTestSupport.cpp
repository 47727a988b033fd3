#include "ServerTestSupport.h"

#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

#include "base/DBXError.h"
#include "base/TextConvert.h"
#include "data/DBXJSON.h"
#include "data/TDBXJSonRow.h"
#include "data/TDBXParameter.h"
#include "data/TDBXValue.h"
#include "server/DSMethodValues.h"
#include "server/DSServerMethodProvider.h"
#include "server/wire/DBXJSonServerProtocolHandler.h"
#include "support/MemoryChannel.h"

namespace kds::test {

TBytes HexBytes(std::string_view HexText) {
    TBytes Out;
    int High = -1;
    for (char C : HexText) {
        int V = -1;
        if (C >= '0' && C <= '9')
            V = C - '0';
        else if (C >= 'A' && C <= 'F')
            V = C - 'A' + 10;
        else if (C >= 'a' && C <= 'f')
            V = C - 'a' + 10;
        if (V < 0)
            continue;
        if (High < 0) {
            High = V;
        } else {
            Out.push_back(static_cast<uint8_t>(High * 16 + V));
            High = -1;
        }
    }
    return Out;
}

std::string HexOf(const TBytes& Data) {
    static const char* Digits = "0123456789ABCDEF";
    std::string Out;
    for (size_t I = 0; I < Data.size(); ++I) {
        if (I > 0)
            Out += ' ';
        Out += Digits[Data[I] >> 4];
        Out += Digits[Data[I] & 15];
    }
    return Out;
}

// --- Fake transport -------------------------------------------------------------

TFakeTransport::TFakeTransport(std::vector<std::string>* Log, std::u16string Name)
    : TDSServerTransport(std::move(Name)), FLog(Log) {}

TFakeTransport::~TFakeTransport() {
    if (FLog != nullptr)
        FLog->push_back("transport destroyed");
}

void TFakeTransport::Start() {
    ++Starts;
    if (FLog != nullptr)
        FLog->push_back("transport start");
    if (FailStart)
        throw TDBXError(0, "Could not bind socket. Address and port are already in use.");
    Running = true;
}

void TFakeTransport::Stop() {
    ++Stops;
    if (FLog != nullptr)
        FLog->push_back(
            std::string("transport stop") +
            (Server() != nullptr && Server()->MethodProvider() ? " (registry open)" : ""));
    Running = false;
    if (FailStop)
        throw TDBXError(0, "transport stop failed");
}

void TFakeTransport::RemoveConnection(TDSServerConnectionHandler&) {
    ++Removed;
}

// --- Recording handler -------------------------------------------------------------

TRecordingHandler::TRecordingHandler(TDBXContext* Context)
    : TDBXConnectionHandler(Context), FBuffer(Context) {}

std::unique_ptr<TDBXRow> TRecordingHandler::CreateDbxRow() {
    return std::make_unique<TDBXJSonRow>(FDbxContext, &FBuffer);
}

void TRecordingHandler::LoadRequestRow(const TBytes& Row) {
    uint8_t* Into = FBuffer.ReadBuffer(static_cast<int32_t>(Row.size()));
    if (!Row.empty())
        std::memcpy(Into, Row.data(), Row.size());
    FBuffer.SetReadSize(static_cast<int32_t>(Row.size()));
}

void TRecordingHandler::DbxConnect(TDBXConnectMessage& Message) {
    Calls.push_back("connect");
    LastProductName = Message.FProductName;
    LastConnectionHandle = Message.FConnectionHandle;
    LastConnectSucceeded = Message.FSuccessfulConnect;
}

void TRecordingHandler::DbxTxBegin(TDBXTxBeginMessage& Message) {
    Calls.push_back("txbegin:" + std::to_string(Message.FTransactionHandle));
}

void TRecordingHandler::DbxVendorProperty(TDBXVendorPropertyMessage& Message) {
    Calls.push_back("vendor_property");
    LastVendorValue = Message.FPropertyValue;
}

void TRecordingHandler::RecordParameters(TDBXCommandMessage& Message) {
    LastHandle = Message.FCommandHandle;
    LastParameterTypeChanged = Message.FParameterTypeChanged;
    LastParameters.clear();
    LastLiterals.clear();
    TDBXParameterList* List = Message.Parameters();
    if (List == nullptr)
        return;
    for (int32_t I = 0; I < List->Count(); ++I) {
        TDBXParameter& P = List->Parameter(I);
        LastParameters.push_back(Utf16ToUtf8(P.Name()) + ":" + std::to_string(P.DataType()) + ":" +
                                 std::to_string(P.ParameterDirection()));
        LastLiterals.push_back(P.Literal() ? P.Value().GetWideString() : std::u16string());
    }
}

void TRecordingHandler::DbxPrepare(TDBXPrepareMessage& Message) {
    Calls.push_back("prepare");
    RecordParameters(Message);
}

void TRecordingHandler::DbxExecute(TDBXExecuteMessage& Message) {
    Calls.push_back("execute");
    RecordParameters(Message);
    LastHadReplyRow = false;
    LastReplyRow.clear();
    // As the output handler does: the parameter row is flushed (in
    // parameters nulled) before the reply is written.
    if (Message.FHasOutOrReturnParameters && Message.Parameters() != nullptr) {
        Message.Parameters()->FlushReply();
        LastReplyRow.assign(FBuffer.Data(), FBuffer.Data() + FBuffer.Size());
        LastHadReplyRow = true;
        FBuffer.StartOver();
    }
}

void TRecordingHandler::DbxErrorMessage(TDBXErrorMessage& Message) {
    Calls.push_back("error");
    LastErrorCode = Message.FErrorCode;
    LastErrorText = Message.FErrorMessage;
}

// --- Test classes -------------------------------------------------------------------

std::atomic<int32_t> TCountedStats::Live{0};
std::atomic<int32_t> TCountedStats::Made{0};
std::atomic<int32_t> TCountingReader::Live{0};
std::atomic<int32_t> TFakeDbxConnection::Live{0};
TDBXCallback* TProbe::LastCallback = nullptr;

const TDSClass& CountedClass(const std::u16string& Name) {
    static std::mutex Lock;
    static std::map<std::u16string, std::unique_ptr<TDSClass>> Classes;
    std::lock_guard<std::mutex> Guard(Lock);
    auto& Slot = Classes[Name];
    if (!Slot)
        Slot = std::make_unique<TDSClass>(
            Name, u"ServerTestSupport", nullptr,
            [] { return std::unique_ptr<TObject>(new TCounted()); },
            std::vector<TDSMethodDecl>{
                {u"Touch",
                 {},
                 u"Integer",
                 [](TObject& Self, TDSMethodValues& V) {
                     V.Result().SetInteger(++DSSelf<TCounted>(Self).Calls);
                 }},
            });
    return *Slot;
}

const TDBXValueType& TCountingReader::ValueType(int32_t) const {
    throw TDBXError(8, "no columns");
}

TDBXValue& TCountingReader::Value(int32_t) {
    throw TDBXError(8, "no columns");
}

const TDSClass& TProbe::ClassInfo() {
    static const TDSClass Class(
        u"TProbe", u"ServerTestSupport", nullptr,
        [] { return std::unique_ptr<TObject>(new TProbe()); },
        {
            {u"Add",
             {{u"A", u"Integer"}, {u"B", u"Integer"}},
             u"Integer",
             [](TObject&, TDSMethodValues& V) {
                 V.Result().SetInteger(V.Arg(0).Integer() + V.Arg(1).Integer());
             }},
            {u"Swap",
             {{u"A", u"string", TDSParamFlag::Var}, {u"B", u"string", TDSParamFlag::Out}},
             u"Boolean",
             [](TObject&, TDSMethodValues& V) {
                 const std::u16string In = V.Arg(0).Text();
                 V.Arg(1).SetText(In);
                 V.Arg(0).SetText(u"swapped:" + In);
                 V.Result().SetBoolean(true);
             }},
            {u"Concat",
             {{u"A", u"string"}, {u"B", u"string"}},
             u"string",
             [](TObject&, TDSMethodValues& V) {
                 V.Result().SetText(V.Arg(0).Text() + u"|" + V.Arg(1).Text());
             }},
            {u"CountRows",
             {{u"T", u"TDBXReader"}},
             u"Integer",
             [](TObject&, TDSMethodValues& V) {
                 int64_t Rows = -1;
                 if (TDBXReader* R = V.Arg(0).Reader())
                     for (Rows = 0; R->Next(); ++Rows) {
                     }
                 V.Result().SetInteger(Rows);
             }},
            {u"FailWithTable",
             {{u"T", u"TDBXReader"}},
             {},
             [](TObject&, TDSMethodValues&) { throw TDBXError(9, "probe failed"); }},
            {u"Call",
             {{u"C", u"TDBXCallback"}},
             u"Boolean",
             [](TObject&, TDSMethodValues& V) {
                 // Kept beyond the call: the method takes a reference.
                 TDBXCallback* Callback = V.Arg(0).Callback();
                 if (Callback != nullptr) {
                     Callback->AddRef();
                     LastCallback = Callback;
                 }
                 V.Result().SetBoolean(Callback != nullptr);
             }},
            {u"MakeJson",
             {},
             u"TJSONObject",
             [](TObject&, TDSMethodValues& V) {
                 auto Object = std::make_unique<TJSONObject>();
                 Object->AddPair(u"a", new TJSONNumber(int32_t(1)));
                 V.Result().SetJson(std::move(Object));
             }},
            {u"Scale",
             {{u"V", u"TDBXInt32Value"}},
             u"Integer",
             [](TObject&, TDSMethodValues& V) {
                 TDBXWritableValue* Value = V.Arg(0).ValueObject();
                 V.Result().SetInteger(Value->GetInt32() * 2);
                 Value->SetInt32(7);
             }},
            {u"Throw",
             {},
             u"string",
             [](TObject&, TDSMethodValues&) { throw std::runtime_error("probe"); }},
            {u"Connection",
             {},
             u"TDBXConnection",
             [](TObject&, TDSMethodValues& V) {
                 static TFakeDbxConnection Kept;
                 V.Result().SetConnection(&Kept);
             }},
            // None of these qualifies.
            {u"Bad", {{u"P", u"Pointer"}}, u"Integer", [](TObject&, TDSMethodValues&) {}},
            {u"BadVar",
             {{u"V", u"TDBXInt32Value", TDSParamFlag::Var}},
             {},
             [](TObject&, TDSMethodValues&) {}},
            {u"BadResult", {}, u"TDBXInt32Value", [](TObject&, TDSMethodValues&) {}},
            {u"BadWide",
             {{u"W", u"WideString", TDSParamFlag::Out}},
             {},
             [](TObject&, TDSMethodValues&) {}},
        });
    return Class;
}

// --- Harness --------------------------------------------------------------------------

TServerHarness::TServerHarness(std::u16string Name, std::vector<TClassEntry> Classes, bool Start) {
    FServer = std::make_unique<TDSServer>();
    FServer->SetName(std::move(Name));
    FTransport = std::make_unique<TFakeTransport>();
    FTransport->SetServer(FServer.get());
    for (const TClassEntry& Entry : Classes) {
        auto Component = std::make_unique<TDSServerClass>(u"Class" + Entry.Class->ClassName());
        Component->SetLifeCycle(Entry.LifeCycle);
        const TDSClass* Class = Entry.Class;
        Component->OnGetClass = [Class](TDSServerClass&, const TDSClass*& Out) { Out = Class; };
        Component->SetServer(FServer.get());
        FClasses.push_back(std::move(Component));
    }
    if (Start)
        FServer->Start();
}

TServerHarness::~TServerHarness() {
    FServer->Stop();
    FClasses.clear();
    FTransport.reset();
    FServer.reset();
}

TServerHarness::TConnection TServerHarness::Connect() {
    TConnection C;
    C.Next = std::make_unique<TRecordingHandler>(FServer->DbxContext());
    C.Handler = std::make_unique<TDSServerConnectionHandler>(
        FServer->DbxContext(), nullptr, C.Next.get(), FServer.get(), FTransport.get());
    return C;
}

const std::vector<std::string>& RegisteredAliases() {
    static const std::vector<std::string> Aliases = {
        "DSAdmin.GetPlatformName",
        "DSAdmin.ClearResources",
        "DSAdmin.FindPackages",
        "DSAdmin.FindClasses",
        "DSAdmin.FindMethods",
        "DSAdmin.CreateServerClasses",
        "DSAdmin.DropServerClasses",
        "DSAdmin.CreateServerMethods",
        "DSAdmin.DropServerMethods",
        "DSAdmin.GetServerClasses",
        "DSAdmin.ListClasses",
        "DSAdmin.DescribeClass",
        "DSAdmin.ListMethods",
        "DSAdmin.DescribeMethod",
        "DSAdmin.GetServerMethods",
        "DSAdmin.GetServerMethodParameters",
        "DSAdmin.GetConnection",
        "DSAdmin.GetDatabaseConnectionProperties",
        "DSAdmin.GetDSServerName",
        "DSAdmin.ConsumeClientChannel",
        "DSAdmin.ConsumeClientChannelTimeout",
        "DSAdmin.ConnectClientChannel",
        "DSAdmin.ConnectClientChannelTimeout",
        "DSAdmin.CloseClientChannel",
        "DSAdmin.RegisterClientCallback",
        "DSAdmin.RegisterClientCallbackServer",
        "DSAdmin.UnregisterClientCallback",
        "DSAdmin.BroadcastToChannel",
        "DSAdmin.BroadcastObjectToChannel",
        "DSAdmin.NotifyCallback",
        "DSAdmin.NotifyObject",
        "DSMetadata.GetProcedures",
        "DSMetadata.GetProcedureParameters",
        "DSMetadata.GetDatabase",
        "DSMetadata.GetDSServerName",
        "DSMetadata.ConsumeClientChannel",
        "DSMetadata.ConsumeClientChannelTimeout",
        "DSMetadata.ConnectClientChannel",
        "DSMetadata.ConnectClientChannelTimeout",
        "DSMetadata.CloseClientChannel",
        "DSMetadata.RegisterClientCallback",
        "DSMetadata.RegisterClientCallbackServer",
        "DSMetadata.UnregisterClientCallback",
        "DSMetadata.BroadcastToChannel",
        "DSMetadata.BroadcastObjectToChannel",
        "DSMetadata.NotifyCallback",
        "DSMetadata.NotifyObject",
        "TServerMethods1.EchoString",
        "TServerMethods1.ReverseString",
    };
    return Aliases;
}

int32_t Prepare(TDSServerConnectionHandler& Handler, const std::u16string& Text,
                const std::u16string& Type) {
    TDBXPrepareMessage Message;
    Message.Reset();
    Message.FCommandType = Type;
    Message.FCommand = Text;
    Handler.DbxPrepare(Message);
    return Message.FCommandHandle;
}

std::string Execute(TDSServerConnectionHandler& Handler, TRecordingHandler& Next, int32_t Handle,
                    const TBytes& Row, TDBXExecuteMessage* Message) {
    TDBXExecuteMessage Own;
    TDBXExecuteMessage& M = Message != nullptr ? *Message : Own;
    if (Message == nullptr)
        M.Reset();
    M.FCommandHandle = Handle;
    Next.LoadRequestRow(Row);
    M.FHasParameters = true;
    Handler.DbxExecute(M);
    return HexOf(Next.LastReplyRow);
}

TServerStack::TServerStack(TDSServerTransport& Transport) {
    auto Memory = std::make_unique<TMemoryChannel>();
    FChannel = Memory.get();
    const TDBXConnectionHandlerFactory Factory = Transport.ConnectionHandlerFactory();
    FProtocol = CreateJSonServerProtocolHandler(
        Transport.DbxContext(), std::move(Memory), 32768,
        [&](TDBXContext* Context, std::unique_ptr<TDbxChannel> C, TDBXConnectionHandler* Output) {
            auto Made = Factory(Context, std::move(C), Output);
            FHandler = dynamic_cast<TDSServerConnectionHandler*>(Made.get());
            return Made;
        });
    TDBXOpenMessage Open;
    Open.FConnectionHandle = 1;
    FHandler->DbxOpen(Open);
}

TServerStack::~TServerStack() = default;

TBytes TServerStack::Send(const TBytes& Request) {
    FChannel->ClearWritten();
    FChannel->Feed(Request);
    while (FChannel->Pending() > 0 || FProtocol->HasMoreBytes())
        FProtocol->ServeRequests(nullptr);
    return FChannel->Written();
}

std::string TServerStack::SendText(const std::string& Request) {
    const TBytes Reply = Send(TBytes(Request.begin(), Request.end()));
    return std::string(Reply.begin(), Reply.end());
}

} // namespace kds::test
