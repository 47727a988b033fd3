#pragma once

// A table result on the client: the columns of the table object the
// server wrote in an execute reply, and its rows, batch after batch.
//
//   {"table":[{"fields":[cmd,updateable,rowhandle,bcd,true]},
//             {"columns":[n,[name,type,subtype,precision,scale,size,flags,
//                            direction],...]}]}
//   then, after the reply: {"data":[±count,rows]}
//
// A batch count above 0 means more batches follow, below 0 that this is the
// last one (its bytes are -count), 0 an empty table. When the rows of a
// batch are used up and more follow, Next sends "next" (row handle, rows
// read so far, command handle) and reads the answer the same way, so a walk
// with Next sees every row of every batch. Old-style column flags ("fields"
// ending in false or without that element) are translated. A text or byte
// value longer than its field is fetched with more_blob (row = its index
// in the table, from 0) when it is read, so read a row's values before the
// next Next.
//
// Close sends "reader_close" (no reply) once, unless the command let go of
// its readers already (a new execute or command_close), and ends the walk.
// The destructor sends nothing.
//
// Errors: as the connection's (DSClientErrors.h); Value outside the walk
// raises TDBXError 10, an ordinal outside the columns TDBXError 8.
// Threads: the connection's thread.

#include <cstdint>
#include <memory>
#include <vector>

#include "data/TDBXJSonRow.h"
#include "data/TDBXReader.h"
#include "data/TDBXRowBuffer.h"
#include "data/TDBXValue.h"
#include "data/TDBXValueType.h"

namespace kds {

class TDSClientConnection;

class TDSClientTableReader : public TDBXReader, private TDBXLongValueSource {
public:
    // Reads a table object; the connection's reader stands after "table":.
    static std::unique_ptr<TDSClientTableReader> ReadTableObject(TDSClientConnection& Connection);
    ~TDSClientTableReader() override;

    // Reads the first batch, the data object that follows the reply.
    void ReadFirstBatch();
    // The command let its readers go: nothing is sent for this one any more.
    void Abandon() { FAbandoned = true; }

    int32_t ColumnCount() const override { return static_cast<int32_t>(FColumns.size()); }
    const TDBXValueType& ValueType(int32_t Ordinal) const override;
    TDBXValue& Value(int32_t Ordinal) override;
    bool Next() override;
    void Close() override;
    bool IsUpdateable() const override { return FUpdateable; }

    int32_t CommandHandle() const { return FCommandHandle; }
    // Rows handed out by Next so far.
    int64_t RowsRead() const { return FRowsRead; }
    // Batches read so far ("next" sent: one less).
    int32_t Batches() const { return FBatches; }

private:
    explicit TDSClientTableReader(TDSClientConnection& Connection);

    void ReadFields();
    void ReadColumns();
    // Reads {"data":[...]} into the row buffer.
    void ReadBatch();
    void FetchNextBatch();
    void FetchRest(TDBXRowBuffer& Row, int32_t Ordinal, int64_t KnownSize,
                   std::vector<uint8_t>& Bytes) override;
    void CheckOrdinal(int32_t Ordinal) const;

    TDSClientConnection& FConnection;
    int32_t FCommandHandle = -1;
    bool FUpdateable = false;
    int32_t FBcdFormat = 0;
    bool FNewFlags = false;
    std::vector<std::unique_ptr<TDBXValueType>> FColumns;
    std::vector<std::unique_ptr<TDBXWritableValue>> FValues;
    TDBXRowBuffer FRowBuffer;
    TDBXJSonRow FRow;
    std::vector<uint8_t> FBatch;
    bool FLastBatch = false;
    bool FFresh = false; // a batch was loaded whose first row is not handed out yet
    bool FOnRow = false;
    bool FEnded = false;
    bool FClosed = false;
    bool FAbandoned = false;
    int64_t FRowsRead = 0;
    int32_t FBatches = 0;
};

} // namespace kds
