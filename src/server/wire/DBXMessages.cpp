#include "server/wire/DBXMessages.h"

#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>

#include "base/DBXError.h"
#include "data/TDBXParameter.h"
#include "data/TDBXReader.h"
#include "server/wire/DBXCommandHandler.h"

namespace kds {

namespace {

TDBXConnectionHandler& AsConnectionHandler(TDBXCommandHandler& Handler) {
    auto* Connection = dynamic_cast<TDBXConnectionHandler*>(&Handler);
    if (Connection == nullptr)
        throw TDBXError(30, "A connection message reached a command handler");
    return *Connection;
}

// The class name of an exception object as the error reply shows it.
std::string ClassNameOf(const std::type_info& Type) {
    int Status = 0;
    char* Demangled = abi::__cxa_demangle(Type.name(), nullptr, nullptr, &Status);
    std::string Name = Status == 0 && Demangled != nullptr ? Demangled : Type.name();
    std::free(Demangled);
    // The project's own classes by their names; everything else is the
    // plain exception class.
    if (Name.rfind("kds::", 0) != 0)
        return "Exception";
    const size_t Last = Name.rfind("::");
    return Name.substr(Last + 2);
}

// Message (or class name when empty) of one exception, and its inner one.
bool Inspect(const std::exception_ptr& Ex, int32_t* Code, std::string* ClassName, std::string& Text,
             std::exception_ptr& Inner) {
    Inner = nullptr;
    try {
        std::rethrow_exception(Ex);
    } catch (const std::exception& E) {
        const std::string Name = ClassNameOf(typeid(E));
        if (Code != nullptr) {
            const auto* Error = dynamic_cast<const TDBXError*>(&E);
            *Code = Error != nullptr ? Error->ErrorCode() : TDBXErrorCodes::NotSupported;
        }
        if (ClassName != nullptr)
            *ClassName = Name;
        Text = E.what();
        if (Text.empty())
            Text = Name;
        if (const auto* Nested = dynamic_cast<const std::nested_exception*>(&E))
            Inner = Nested->nested_ptr();
        return true;
    } catch (...) {
        if (Code != nullptr)
            *Code = TDBXErrorCodes::NotSupported;
        if (ClassName != nullptr)
            *ClassName = "Exception";
        Text = "Unknown exception";
        return true;
    }
}

} // namespace

void DescribeException(std::exception_ptr Ex, int32_t& Code, std::string& ClassName,
                       std::string& Text) {
    if (!Ex) {
        Code = TDBXErrorCodes::NotSupported;
        ClassName = "error(null)";
        Text.clear();
        return;
    }
    std::exception_ptr Inner;
    Inspect(Ex, &Code, &ClassName, Text, Inner);
    for (int Step = 0; Step < 10 && Inner; ++Step) {
        std::string Message;
        std::exception_ptr Next;
        Inspect(Inner, nullptr, nullptr, Message, Next);
        if (Text.find(Message) == std::string::npos)
            Text += "\nCaused by: " + Message;
        else
            Text = Message;
        Inner = Next;
    }
}

void TDBXErrorMessage::FillFromException(std::exception_ptr Ex) {
    FEx = Ex;
    DescribeException(Ex, FErrorCode, FErrorClassName, FErrorMessage);
}

void TDBXConnectMessage::HandleMessage(TDBXCommandHandler& Handler) {
    AsConnectionHandler(Handler).DbxConnect(*this);
}
void TDBXDisconnectMessage::HandleMessage(TDBXCommandHandler& Handler) {
    AsConnectionHandler(Handler).DbxDisconnect(*this);
}
void TDBXOpenMessage::HandleMessage(TDBXCommandHandler& Handler) {
    AsConnectionHandler(Handler).DbxOpen(*this);
}
void TDBXTxBeginMessage::HandleMessage(TDBXCommandHandler& Handler) {
    AsConnectionHandler(Handler).DbxTxBegin(*this);
}
void TDBXTxEndMessage::HandleMessage(TDBXCommandHandler& Handler) {
    AsConnectionHandler(Handler).DbxTxEnd(*this);
}
void TDBXVendorPropertyMessage::HandleMessage(TDBXCommandHandler& Handler) {
    AsConnectionHandler(Handler).DbxVendorProperty(*this);
}
void TDBXPrepareMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxPrepare(*this);
}
void TDBXExecuteMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxExecute(*this);
}
void TDBXNextMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxNext(*this);
}
void TDBXNextResultMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxNextResult(*this);
}
void TDBXMoreBlobMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxMoreBlob(*this);
}
void TDBXCommandCloseMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxCommandClose(*this);
}
void TDBXReaderCloseMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxReaderClose(*this);
}
void TDBXErrorMessage::HandleMessage(TDBXCommandHandler& Handler) {
    Handler.DbxErrorMessage(*this);
}

TDBXCommandMessage::TDBXCommandMessage() = default;
TDBXCommandMessage::~TDBXCommandMessage() = default;

void TDBXCommandMessage::Reset() {
    FCommandHandle = -1;
    FUpdatable = false;
    FCommandType.clear();
    FCommand.clear();
    FParameterTypeChanged = false;
    FParameters = nullptr;
    FExplicitParameters.reset();
    FParameterDbxDataTypes.clear();
    FServerSideCommand = false;
}

TDBXParameterList* TDBXCommandMessage::Parameters() const {
    return FParameters != nullptr ? FParameters : FExplicitParameters.get();
}

void TDBXCommandMessage::SetExplicitParameters(std::unique_ptr<TDBXParameterList> List) {
    FExplicitParameters = std::move(List);
}

TDBXExecuteMessage::TDBXExecuteMessage() = default;
TDBXExecuteMessage::~TDBXExecuteMessage() = default;

void TDBXExecuteMessage::Reset() {
    TDBXCommandMessage::Reset();
    FPrepared = false;
    FTableCount = 0;
    // Readers a failed request left behind are freed here.
    FTables.clear();
    FHasParameters = false;
    FHasOutOrReturnParameters = false;
    FHasDBXTableReaderOutOrReturnParameter = false;
    FRow = nullptr;
    FReturnReader = nullptr;
    FActiveStreamerRowList = nullptr;
    FIsolationLevel = 0;
    FRowsAffected = -1;
    FConnectionHandler = nullptr;
}

} // namespace kds
