#include "kdsterm/ChannelWatch.h"

#include <algorithm>
#include <memory>
#include <sys/socket.h>

#include "base/TextConvert.h"
#include "client/DSClientChannel.h"
#include "client/DSClientCommand.h"
#include "client/DSClientConnection.h"
#include "data/DBXCallback.h"
#include "data/DBXJSON.h"
#include "kdsterm/KDSTerm.h"

namespace kds {

namespace {

// The line a callback's argument [ordinal, argument type, item] prints as.
std::string CallbackLine(const TJSONValue& Argument) {
    const auto* Array = dynamic_cast<const TJSONArray*>(&Argument);
    const auto* Item = Array != nullptr && Array->Size() >= 3
                           ? dynamic_cast<const TJSONObject*>(Array->Get(2))
                           : nullptr;
    if (Item == nullptr)
        return Utf16ToUtf8(Argument.ToString());
    const TJSONPair* Broadcast = Item->Get(u"broadcast");
    const auto* Body =
        Broadcast != nullptr ? dynamic_cast<const TJSONArray*>(Broadcast->JsonValue()) : nullptr;
    if (Body == nullptr || Body->Size() < 1)
        return Utf16ToUtf8(Item->ToString());
    const TJSONValue* Message = Body->Get(0);
    const auto* Text = dynamic_cast<const TJSONString*>(Message);
    if (Text != nullptr && dynamic_cast<const TJSONNumber*>(Message) == nullptr &&
        Text->Value() == u"reset")
        return "reset";
    return Utf16ToUtf8(Message->ToString());
}

std::chrono::milliseconds Unlimited(std::chrono::milliseconds Limit) {
    return Limit.count() > 0 ? Limit : std::chrono::milliseconds(24 * 3600 * 1000);
}

} // namespace

TChannelWatch::TChannelWatch(TWatchSettings Settings, std::ostream& Out, std::ostream& Err)
    : FSettings(std::move(Settings)), FOut(Out), FErr(Err) {}

void TChannelWatch::Stop() {
    std::lock_guard<std::mutex> Guard(FLock);
    FStop = true;
    // Ends a blocked read or write of the round's connection; the
    // descriptor stays the connection's, which closes it.
    if (FSocket >= 0)
        ::shutdown(FSocket, SHUT_RDWR);
    FWake.notify_all();
}

bool TChannelWatch::Stopped() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FStop;
}

int64_t TChannelWatch::Subscriptions() const {
    std::lock_guard<std::mutex> Guard(FLock);
    return FSubscriptions;
}

bool TChannelWatch::PauseFor(std::chrono::milliseconds Pause) {
    std::unique_lock<std::mutex> Guard(FLock);
    return !FWake.wait_for(Guard, Pause, [this] { return FStop; });
}

void TChannelWatch::Print(const std::string& Line) {
    FOut << Line << '\n';
    FOut.flush();
}

int TChannelWatch::Run() {
    std::chrono::milliseconds Backoff = FSettings.MinBackoff;
    while (!Stopped()) {
        if (Round() == TRoundEnd::Subscribed)
            Backoff = FSettings.MinBackoff;
        if (Stopped())
            break;
        FErr << "kdsterm: subscribing again in " << Backoff.count() << " ms\n";
        FErr.flush();
        if (!PauseFor(Backoff))
            break;
        Backoff = std::min(Backoff * 2, std::max(FSettings.MaxBackoff, FSettings.MinBackoff));
    }
    return TTermExit::Ok;
}

TChannelWatch::TRoundEnd TChannelWatch::Round() {
    bool Subscribed = false;
    TDSClientConnection Connection;
    try {
        auto Channel = std::make_unique<TDSTCPClientChannel>(FSettings.Host, FSettings.Port,
                                                             Unlimited(FSettings.Timeout));
        {
            std::lock_guard<std::mutex> Guard(FLock);
            if (FStop)
                return TRoundEnd::Failed;
            FSocket = Channel->Fd();
        }
        Connection.Open(std::move(Channel));
        Connection.SetReplyTimeout(FSettings.Timeout);
        Connection.SetCallbackHandler(
            [this](const TJSONValue& Argument) -> std::unique_ptr<TJSONValue> {
                Print(CallbackLine(Argument));
                return std::make_unique<TJSONTrue>();
            });
        Connection.Connect();
        auto Command = Connection.Prepare(u"DSAdmin.ConnectClientChannel");
        TDBXParameterList& P = Command->Parameters();
        if (P.Count() < 5)
            throw TDSProtocolError("DSAdmin.ConnectClientChannel takes " +
                                   std::to_string(P.Count()) + " parameters here, not 5");
        P.Parameter(0).Value().SetWideString(Utf8ToUtf16(FSettings.Channel));
        P.Parameter(1).Value().SetWideString(Utf8ToUtf16(FSettings.Id));
        P.Parameter(2).Value().SetWideString(Utf8ToUtf16(FSettings.CallbackId));
        P.Parameter(3).Value().SetWideString(Utf8ToUtf16(FSettings.Token));
        P.Parameter(4).Value().SetCallbackValue(new TDBXCallbackDelegate());
        // The subscription lasts as long as it lasts: no limit on its reply.
        Connection.SetReplyTimeout(std::chrono::milliseconds(0));
        {
            std::lock_guard<std::mutex> Guard(FLock);
            ++FSubscriptions;
        }
        Subscribed = true;
        FErr << "kdsterm: watching " << FSettings.Channel << " as " << FSettings.Id << " on "
             << FSettings.Host << ':' << FSettings.Port << '\n';
        FErr.flush();
        Command->Execute();
        TDBXParameterList& Result = Command->Parameters();
        const bool Ended = Result.Parameter(Result.Count() - 1).Value().GetBoolean();
        if (Ended) {
            FErr << "kdsterm: the subscription ended\n";
        } else {
            // Refused: the id still has a tunnel (a former connection of ours
            // the server has not seen go yet, or another watcher).
            FErr << "kdsterm: " << FSettings.Channel << " refused " << FSettings.Id
                 << ": the id is subscribed already\n";
            Subscribed = false;
        }
    } catch (const TDSRemoteError& E) {
        FErr << "kdsterm: " << E.ErrorCode() << ": " << E.Message() << '\n';
    } catch (const std::exception& E) {
        if (!Stopped())
            FErr << "kdsterm: " << E.what() << '\n';
    }
    FErr.flush();
    {
        std::lock_guard<std::mutex> Guard(FLock);
        FSocket = -1;
    }
    return Subscribed ? TRoundEnd::Subscribed : TRoundEnd::Failed;
}

} // namespace kds
