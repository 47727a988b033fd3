#pragma once

// The reader of a table that a peer sends with an execute request (a table
// parameter). It reads the table element and the data object after it (the
// first batch) when the request is read, and fetches later batches from the
// peer only when the walk needs them:
//
//   element       {"table":[{"fields":[cmd,updatable(,rowhandle(,bcdformat(,true)))]},
//                  {"columns":[n,[name,type,sub,precision,scale,size,flags(,dir)],...]}]}
//   first batch   ,{"data":[count(,rows)]}   the next element of the request
//   server        {"next":[rowhandle,rows consumed,cmd]}     when a batch is used up
//   peer          {"data":[count(,rows)]} (or {"result":[{"data":...}]}, or an error)
//   server        {"reader_close":[rowhandle,cmd]}           at Close, when the peer
//                                                            gave a row handle and
//                                                            still holds batches
//
// A count below 1 marks the last batch; its bytes are -count. Rows are whole
// rows of the declared columns (the row field encoding of TDBXRowBuffer.h).
// Without the final true in "fields" the flags are old-style and translated
// (128, plus 2 for old bit 0, 4 for bit 1, 1 for bit 3, 8 for bit 6). A long
// value in a row is fetched from the peer with more_blob (see
// DBXJSonLongValueSource.h) naming this table's row handle and the row
// counted from 0 within the table.
//
// Bounds, before anything is allocated: at most WireLimits::MaxTableColumns
// columns, a batch of at most WireLimits::MaxBlockBytes (TDBXError 2, the
// parse-error path). Column data types are taken as they come; a column of
// a type without a value class fails (TDBXError 3) when its value is first
// asked for, after the request has been read. A peer's error answer to
// "next" is raised as its TDBXError; an answer of any other kind is
// TDBXError 30.
//
// The reader uses the connection's token reader and writer (not owned): it
// lives no longer than the connection and is used on its thread only, inside
// the request that received it or while its command streams it back.
// Destroying it sends nothing; Close tells the peer.

#include <cstdint>
#include <memory>
#include <vector>

#include "data/TDBXReader.h"
#include "server/wire/DBXJSonLongValueSource.h"

namespace kds {

class TDBXContext;
class TDBXJSonRow;
class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;
class TDBXRowBuffer;
class TDBXValueType;
class TDBXWritableValue;

// What the "fields" of a table object say: {"fields":[command handle,
// updateable, row handle, BCD format, new-style flags]}, the last three
// optional.
struct TDBXTableFields {
    int32_t CommandHandle = -1;
    bool Updateable = false;
    int32_t RowHandle = -1;
    int32_t BcdFormat = 0;
    bool NewStyleFlags = false;
};

class TDBXJSonReader : public TDBXReader {
public:
    // Reads a table element whose "[" has just been read, and the data
    // object that follows it, from Reader.
    static std::unique_ptr<TDBXJSonReader> Read(TDBXContext* Context, TDBXJSonStreamReader& Reader,
                                                TDBXJSonStreamWriter& Writer);
    ~TDBXJSonReader() override;

    // The parts of a table object read alike by every reader of one (this
    // one and a client's). ReadColumnCount reads the count that opens
    // "columns" and bounds it; ReadColumn reads one description, from its
    // "[" to its "]": [name, type, subtype, precision, scale, size, flags (as
    // sent), direction (optional), anything further skipped]. Both raise
    // TDBXError on malformed input.
    // ReadTableFields reads the fields array after its "[" through its "]".
    static TDBXTableFields ReadTableFields(TDBXJSonStreamReader& Reader);
    static int32_t ReadColumnCount(TDBXJSonStreamReader& Reader);
    static std::unique_ptr<TDBXValueType> ReadColumn(TDBXContext* Context,
                                                     TDBXJSonStreamReader& Reader, int32_t Ordinal);

    int32_t ColumnCount() const override { return static_cast<int32_t>(FColumns.size()); }
    const TDBXValueType& ValueType(int32_t Ordinal) const override;
    TDBXValue& Value(int32_t Ordinal) override;
    bool Next() override;
    // Tells the peer (reader_close) when it gave a row handle and has not
    // sent its last batch yet.
    void Close() override;
    bool IsUpdateable() const override { return FUpdateable; }

    // What the peer's "fields" said.
    int32_t PeerCommandHandle() const { return FCommandHandle; }
    int32_t PeerRowHandle() const { return FPeerRowHandle; }
    int32_t BcdFormat() const { return FBcdFormat; }
    // Rows walked past so far.
    int64_t Position() const { return FPosition; }
    // The bytes of the batch held now.
    int32_t BatchBytes() const;
    bool LastBatchRead() const { return FLastBatch; }

private:
    TDBXJSonReader(TDBXContext* Context, TDBXJSonStreamReader& Reader,
                   TDBXJSonStreamWriter& Writer);
    void ReadFields();
    void ReadColumns();
    // After the "[" of a data object: count, bytes, "]}".
    void ReadBatchBody();
    void FetchNextBatch();
    void CheckOrdinal(int32_t Ordinal) const;

    TDBXContext* FContext;         // not owned
    TDBXJSonStreamReader* FReader; // not owned
    TDBXJSonStreamWriter* FWriter; // not owned
    std::vector<std::unique_ptr<TDBXValueType>> FColumns;
    // Made when first asked for; each reads its field from FRow.
    std::vector<std::unique_ptr<TDBXWritableValue>> FValues;
    std::unique_ptr<TDBXJSonRow> FRow;
    TDBXJSonLongValueSource FLongValues;
    int32_t FCommandHandle = -1;
    int32_t FPeerRowHandle = -1;
    int32_t FBcdFormat = 0;
    bool FUpdateable = false;
    bool FNewStyleFlags = false;
    bool FLastBatch = false;
    bool FStarted = false;
    bool FOnRow = false;
    bool FClosed = false;
    int64_t FPosition = 0;
};

} // namespace kds
