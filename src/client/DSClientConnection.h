#pragma once

// The client side of the protocol on one connection, written on the same
// codec as the server: the filter probe, connect and disconnect, and the
// commands (TDSClientCommand) with their table results
// (TDSClientTableReader). Requests and replies are those of the server:
//
//   probe          05 05 05 05 05                    -> 06 00 00 00 00
//   connect        {"method":"connect","params":[{"k":"v",...}]}
//                                                    -> {"result":[h,"KDS",2]}
//   prepare        {"method":"prepare","params":[-1,false,TYPE,TEXT]}
//                  -> {"result":[{"handle":[h]},{"fields":[0,false]},
//                     {"parameters":[n,desc,...]}]}
//   execute        {"method":"execute","params":[{"handle":[h]},{"data":[n,row]}]}
//                  -> {"result":[({"rows":[n]},)({"parameters":...},)
//                     {"data":[n,row]}(,{"table":[...]})...]} then the first
//                     batch of each table, separated by commas
//   next           {"method":"next","params":[rowhandle,rows read,h]}
//                                                    -> {"data":[±n,rows]}
//   more_blob      {"method":"more_blob","params":[h,0,row,ordinal,out,rowhandle]}
//                  -> {"result":[{"data":[COUNT9,bytes]}]}
//   command_close, reader_close, disconnect: no reply
//
// An error reply {"error":{"name":C,"code":n,"message":M} (one closing
// brace) raises TDSRemoteError and leaves the connection usable. While a
// reply is awaited the server may send a callback request
// {"callback":[n,json]}: it is handed to the callback handler and its
// answer sent as {"data":[n,json]} (an exception of the handler is sent as
// an error object); then the wait goes on. Without a handler a callback is
// answered with an error object.
//
// Failures other than error replies (see DSClientErrors.h): the connection
// is marked broken when its bytes no longer read as replies; every later
// call raises TDSConnectionError.
//
// Ownership: owns its channel, reader and writer. Commands and readers made
// on a connection refer to it and must go before it.
// Threads: one thread at a time.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/DBXContext.h"
#include "client/DSClientErrors.h"
#include "server/wire/DBXProperties.h"
#include "server/wire/DBXStream.h"

namespace kds {

class TDbxChannel;
class TDSClientCommand;
class TJSONValue;

struct TDSConnectInfo {
    int32_t ConnectionHandle = 0;
    std::u16string ProductName;
    int32_t ProtocolVersion = 0;
};

class TDSClientConnection {
public:
    static constexpr int32_t BufferSize = 32768;
    static constexpr std::chrono::milliseconds DefaultConnectTimeout{5000};

    // Answers a callback's argument with the JSON to send back.
    using TCallbackHandler = std::function<std::unique_ptr<TJSONValue>(const TJSONValue& Argument)>;

    TDSClientConnection();
    TDSClientConnection(const TDSClientConnection&) = delete;
    TDSClientConnection& operator=(const TDSClientConnection&) = delete;
    ~TDSClientConnection();

    // Opens a TCP connection (TDSConnectionError when it cannot).
    void Open(const std::string& Host, uint16_t Port,
              std::chrono::milliseconds ConnectTimeout = DefaultConnectTimeout);
    // Opens over a channel the caller made (taken).
    void Open(std::unique_ptr<TDbxChannel> Channel);
    bool IsOpen() const { return FChannel != nullptr; }
    // Closes the channel; commands made on it can no longer talk.
    void Close();
    // Every later reply may take at most this long (0: no limit, the
    // default). TCP connections only.
    void SetReplyTimeout(std::chrono::milliseconds Timeout);

    // The filter probe; TDSProtocolError when the answer is not "no
    // filters".
    void Probe();
    TDSConnectInfo Connect(const TDBXProperties& Properties = TDBXProperties());
    void Disconnect();
    // A new command (handle -1) of that type and text, with its parameters
    // as the server describes them.
    std::unique_ptr<TDSClientCommand>
    Prepare(std::u16string_view Text, std::u16string_view CommandType = u"KDS.ServerMethod");

    void SetCallbackHandler(TCallbackHandler Handler) { FCallbackHandler = std::move(Handler); }
    // Callback requests answered so far.
    int64_t CallbacksAnswered() const { return FCallbacksAnswered; }

    // --- For the commands and readers of this connection ---
    TDBXJSonStreamReader& Reader() { return FReader; }
    TDBXJSonStreamWriter& Writer() { return FWriter; }
    TDBXContext* Context() { return &FContext; }
    // Raises TDSConnectionError unless the connection can be used.
    void CheckUsable() const;
    // Writes {"method":"Name","params":[ (the caller writes the parameters
    // and calls EndRequest).
    void BeginRequest(std::string_view Method);
    // Writes ]} and sends the request.
    void EndRequest();
    // Reads "{" and the key of the next reply, answering the callback
    // requests met first; an error reply raises TDSRemoteError. Answers the
    // key's string code (Result, Data, ...).
    int32_t ReadReplyStart();
    // Reads a data object's count and bytes after its key: ":[n,bytes]}".
    // Counts beyond WireLimits::MaxBlockBytes are a protocol error.
    // Answers the count as sent (negative for a last batch or chunk).
    int32_t ReadDataObjectBody(std::vector<uint8_t>& Bytes);
    // Fetches the rest of a long value with more_blob until the server
    // marks the last chunk, appending it to Bytes (at most
    // WireLimits::MaxLongValueBytes in all). Row is 0 for a parameter row
    // (OutParameter true, RowHandle -1), else the row's index in its table.
    void FetchLongValue(int32_t CommandHandle, int64_t Row, int32_t Ordinal, bool OutParameter,
                        int32_t RowHandle, std::vector<uint8_t>& Bytes);
    // Runs Body; the codec's own errors (bytes that do not read as a reply)
    // become TDSProtocolError and the connection is marked broken. Remote
    // errors pass unchanged; connection and protocol errors pass and mark
    // the connection broken too.
    template <typename TBody> decltype(auto) Guarded(TBody&& Body);

private:
    void AnswerCallback();
    [[noreturn]] void ReadErrorReply();
    void MarkBroken() { FBroken = true; }

    TDBXContext FContext;
    std::unique_ptr<TDbxChannel> FChannel;
    TDBXJSonStreamReader FReader;
    TDBXJSonStreamWriter FWriter;
    TCallbackHandler FCallbackHandler;
    int64_t FCallbacksAnswered = 0;
    bool FBroken = false;
};

template <typename TBody> decltype(auto) TDSClientConnection::Guarded(TBody&& Body) {
    CheckUsable();
    try {
        return Body();
    } catch (const TDSRemoteError&) {
        throw;
    } catch (const TDSClientError&) {
        MarkBroken();
        throw;
    } catch (const TDBXError& E) {
        MarkBroken();
        throw TDSProtocolError("Unexpected reply from the server: " + E.Message());
    }
}

} // namespace kds
