#pragma once

// The twelve channel methods every administrative class publishes
// (DSAdmin.<name> and DSMetadata.<name> behave alike). Each first finds the
// server by the name of the server its instance belongs to; with no such
// server the Boolean ones answer false and the JSON ones {"error":<name>}.
//
// Push form: ConnectClientChannel(ChannelName, ChannelId, CallbackId,
// SecurityToken, ChannelCallback) opens a tunnel and serves it on the
// calling connection for the tunnel's whole life; the execute gets its reply
// (true) only when the tunnel ends. Each message goes to the client as a
// callback on that connection:
//   broadcast   {"broadcast":[message,argType]}      the answer is discarded
//   targeted    {"invoke":[callbackId,message,argType]}  the answer goes to
//               the sender waiting in NotifyCallback
// It answers false at once when the callback is not bound to a connection or
// the client id (any case) already has a tunnel on the channel. While it
// waits it also watches the connection for a hang-up: a client that goes
// away while idle ends its tunnel at once (the call answers true into the
// dead connection), so the same id can subscribe again. A broadcast callback
// that fails ends the tunnel and the call with that error; a targeted one
// that fails completes its sender with {"error":<text>} and the tunnel goes
// on, unless the connection is lost. ConnectClientChannelTimeout ends (true)
// after Timeout seconds without a message (negative: never).
//
// Polling form: ConsumeClientChannel(ChannelName, ClientManagerId,
// CallbackId, SecurityToken, ResponseData), one call per message. The first
// call (CallbackId not empty) opens the tunnel and answers
// {"invoke":[CallbackId,{"created":true},1]} without waiting, or
// {"error":"<channel>:<client>:<callbackId>"} when the client already has
// one. Later calls (CallbackId empty) first settle the message the previous
// call handed out (a targeted one gets ResponseData, or JSON null, as the
// client's answer), then wait for the next: {"broadcast":[message,argType]}
// or {"invoke":[callbackId,message,argType]}; {"close":true} when the tunnel
// was closed or the server stops, {"timeout":true} when the timeout form
// waited Timeout seconds (both end the tunnel); {"error":"<channel>:<client>"}
// when the client has no polling tunnel there, or another poll of it is
// running. A poll whose connection goes away while it waits raises TDBXError
// 0 "Connection lost" and leaves the tunnel for the client's next poll; a
// message whose reply cannot be written is handed out again by the next
// poll. A polling tunnel nobody polls for 10 minutes expires.
//
// CloseClientChannel closes the client's tunnel (its consumer takes the close
// message after what is queued); false for a wrong token or no tunnel.
// RegisterClientCallback adds a callback id to the client's tunnel (false
// when the callback is not bound, the client has no tunnel or the id is
// there; a wrong token raises TDBXError 0); RegisterClientCallbackServer the
// same without a callback, any error giving false. UnregisterClientCallback
// removes one id (removing the last closes the tunnel); false when nothing
// was removed or on any error. BroadcastToChannel and
// BroadcastObjectToChannel broadcast a copy of Msg with argument type 1 and
// 2 (an object is carried as its JSON). NotifyCallback and NotifyObject send
// a copy of Msg to one callback id of one client and wait, without limit,
// for its answer (the wait ends with the tunnel at the latest).
//
// Threads: an instance belongs to one connection; the methods run on that
// connection's thread and meet other threads only through the server's
// channel operations.

#include <cstdint>
#include <memory>
#include <string>

#include "data/DBXCallback.h"

namespace kds {

class TDSClass;
class TDSServer;
class TDSServerConnectionHandler;
class TJSONValue;
class TJSONObject;

class TDBXServerComponent : public TObject {
public:
    static const TDSClass& ClassInfo();

    bool ConnectClientChannel(const std::u16string& ChannelName, const std::u16string& ChannelId,
                              const std::u16string& CallbackId, const std::u16string& SecurityToken,
                              TDBXCallback* ChannelCallback);
    bool ConnectClientChannelTimeout(const std::u16string& ChannelName,
                                     const std::u16string& ChannelId,
                                     const std::u16string& CallbackId,
                                     const std::u16string& SecurityToken,
                                     TDBXCallback* ChannelCallback, int32_t Timeout);
    std::unique_ptr<TJSONValue> ConsumeClientChannel(const std::u16string& ChannelName,
                                                     const std::u16string& ClientManagerId,
                                                     const std::u16string& CallbackId,
                                                     const std::u16string& SecurityToken,
                                                     const TJSONValue* ResponseData);
    std::unique_ptr<TJSONValue> ConsumeClientChannelTimeout(const std::u16string& ChannelName,
                                                            const std::u16string& ClientManagerId,
                                                            const std::u16string& CallbackId,
                                                            const std::u16string& SecurityToken,
                                                            int32_t Timeout,
                                                            const TJSONValue* ResponseData);
    bool CloseClientChannel(const std::u16string& ChannelName, const std::u16string& ChannelId,
                            const std::u16string& SecurityToken);
    bool RegisterClientCallback(const std::u16string& ChannelName, const std::u16string& ChannelId,
                                const std::u16string& CallbackId,
                                const std::u16string& SecurityToken, TDBXCallback* ChannelCallback);
    bool RegisterClientCallbackServer(const std::u16string& ChannelName,
                                      const std::u16string& ChannelId,
                                      const std::u16string& CallbackId,
                                      const std::u16string& SecurityToken);
    bool UnregisterClientCallback(const std::u16string& ChannelName,
                                  const std::u16string& ChannelId, const std::u16string& CallbackId,
                                  const std::u16string& SecurityToken);
    bool BroadcastToChannel(const std::u16string& ChannelName, const TJSONValue* Msg);
    bool BroadcastObjectToChannel(const std::u16string& ChannelName, const TJSONValue* Msg);
    // Response: the client's answer (nullptr when none).
    bool NotifyCallback(const std::u16string& ChannelName, const std::u16string& ClientId,
                        const std::u16string& CallbackId, const TJSONValue* Msg,
                        std::unique_ptr<TJSONValue>& Response);
    bool NotifyObject(const std::u16string& ChannelName, const std::u16string& ClientId,
                      const std::u16string& CallbackId, const TJSONValue* Msg,
                      std::unique_ptr<TJSONValue>& Response);

    // The name of the server the instance belongs to (empty in the base).
    virtual std::u16string GetDSServerName() const;

protected:
    // The connection the instance serves (nullptr in the base).
    virtual TDSServerConnectionHandler* ChannelConnection() const;

private:
    TDSServer* ChannelServer() const;
    // The connect forms; TimeoutMs negative: without limit.
    bool ServeChannel(const std::u16string& ChannelName, const std::u16string& ChannelId,
                      const std::u16string& CallbackId, const std::u16string& SecurityToken,
                      TDBXCallback* ChannelCallback, int64_t TimeoutMs);
    std::unique_ptr<TJSONValue> Consume(const std::u16string& ChannelName,
                                        const std::u16string& ClientManagerId,
                                        const std::u16string& CallbackId,
                                        const std::u16string& SecurityToken, int64_t TimeoutMs,
                                        const TJSONValue* ResponseData);
};

} // namespace kds
