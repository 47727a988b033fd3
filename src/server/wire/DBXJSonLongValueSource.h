#pragma once

// Fetches the rest of a long value that the peer sent: a text or byte field
// whose header says it continues (0x50, 0x60 + n) or a blob header (0x08)
// that gives only the size. The server asks the peer on the same connection,
// inside the request being served, one chunk at a time:
//
//   server  {"more_blob":[command,blob,row,ordinal,rowhandle]}
//   peer    {"result":[{"data":[count,bytes]}]}   (or {"data":[count,bytes]})
//           count > 0: more chunks follow; count <= 0: the last chunk, whose
//           byte count is -count; the count may be padded with blanks, and a
//           comma with no bytes may follow a count of 0
//   peer    {"error":{...}}: raised as the peer's TDBXError
//
// command is the command the value belongs to, blob a fresh blob handle of
// the row buffer, row the row counted from 0 within the request's row or the
// peer's table (0 for the parameter row), rowhandle -1 for the parameter row
// or the row handle of the peer's table.
//
// Bounds, checked before anything is allocated or asked for: a value of more
// than WireLimits::MaxLongValueBytes in all (by its blob header or by the
// chunks that arrive) is TDBXError 30, and so is a value that ends short of
// the size its blob header announced; a chunk beyond WireLimits::MaxBlockBytes
// is TDBXError 2. An answer that is neither a result, a data object nor an
// error (a peer that did not expect the request and sent something else) is
// TDBXError 30 at once, and what the reader holds of it is dropped, so the
// server never waits for an answer that will not come.
//
// Threads: the connection's thread, inside the request being served. The
// reader and writer are the connection's and are not owned.

#include <cstdint>
#include <vector>

#include "data/TDBXRowBuffer.h"

namespace kds {

class TDBXContext;
class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;

// A peer's answer to a request the server sent it inside a request (more_blob
// here, next for a peer's table): ReadPeerAnswerStart reads up to and with
// the "[" of its data object, {"data":[ or {"result":[{"data":[, and says in
// Wrapped whether a result surrounds it; ReadPeerAnswerEnd reads what closes
// that result. An error object is raised as the peer's TDBXError; anything
// else is dropped with what the reader holds, and the start answers false.
bool ReadPeerAnswerStart(TDBXJSonStreamReader& Reader, bool& Wrapped);
void ReadPeerAnswerEnd(TDBXJSonStreamReader& Reader, bool Wrapped);

class TDBXJSonLongValueSource : public TDBXLongValueSource {
public:
    TDBXJSonLongValueSource(TDBXContext* Context, TDBXJSonStreamReader& Reader,
                            TDBXJSonStreamWriter& Writer);

    // The command handle the requests name is read from here at each fetch
    // (nullptr: the row buffer's command handle). Not owned.
    void SetCommandHandleSource(const int32_t* CommandHandle) { FCommandHandle = CommandHandle; }
    void SetRowHandle(int32_t RowHandle) { FRowHandle = RowHandle; }
    // Rows that came before the rows the buffer holds (a peer's earlier
    // batches), added to the buffer's row index.
    void SetRowOffset(int64_t Rows) { FRowOffset = Rows; }

    void FetchRest(TDBXRowBuffer& Row, int32_t Ordinal, int64_t KnownSize,
                   std::vector<uint8_t>& Bytes) override;

private:
    void WriteRequest(int32_t CommandHandle, int32_t BlobId, int64_t Row, int32_t Ordinal);
    // Reads one answer and appends its bytes; answers whether it was the last.
    bool ReadChunk(std::vector<uint8_t>& Bytes, int64_t Limit);
    [[noreturn]] void Fail(const std::string& Text) const;

    TDBXContext* FContext;         // not owned
    TDBXJSonStreamReader* FReader; // not owned
    TDBXJSonStreamWriter* FWriter; // not owned
    const int32_t* FCommandHandle = nullptr;
    int32_t FRowHandle = -1;
    int64_t FRowOffset = 0;
};

} // namespace kds
