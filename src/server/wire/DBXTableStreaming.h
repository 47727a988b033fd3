#pragma once

// How a reader leaves the server: its table object and its batches of rows.
//
//   table object  {"table":[{"fields":[cmd,updatable,rowhandle,1,true]},
//                  {"columns":[n,[name,type,sub,precision,scale,size,flags,dir],...]}]}
//                 (BCD format 1; the trailing true says the flags are new-style)
//   batch         {"data":[count,rows]}: count is the byte count, positive while
//                 more batches follow and negative on the last; {"data":[0]} is
//                 an empty reader, or the end found right after a full batch
//
// A batch is encoded into the item's own row buffer (minimum size the batch
// threshold, so that a reader's text gets the large inline limit) before a
// byte of its reply is written, so a value that fails to encode leaves only
// the error reply on the wire. Rows are whole: a batch takes rows while it
// holds fewer bytes than the threshold, so the row that crosses it is the
// batch's last and no batch holds more than the threshold plus one row; the
// reader is advanced past that row only when the next batch is asked for.
// The long values of a batch (what did not fit inline) are taken out of the
// reader's values row by row and kept in the item under (row, ordinal) until
// the next batch replaces them.
//
// Errors: a value that fails to encode gives TDBXError 30 with that
// failure's message (the partial batch is dropped); a reader whose Next
// fails passes its error on. Threads: the connection's thread only.

#include <cstdint>

namespace kds {

class TDBXActiveTableReaderItem;
class TDBXContext;
class TDBXJSonStreamWriter;

class TDBXTableStreaming {
public:
    // The writer is flushed before a batch when it has fewer bytes free.
    static constexpr int32_t MinFreeBeforeBatch = 128;
    // The BCD format the server announces.
    static constexpr int32_t ServerBcdFormat = 1;

    // Gives the item its streamer row: a row buffer of its own with the
    // batch threshold as minimum size, the reader's column count and the
    // command handle.
    static void PrepareItem(TDBXActiveTableReaderItem& Item, TDBXContext* Context,
                            int32_t CommandHandle, int32_t Threshold);
    // Encodes the item's next batch into its row buffer (the first batch on
    // the first call). At the reader's end the item is marked at its end and
    // the reader closed. TDBXError 4 for an item already at its end.
    static void EncodeBatch(TDBXActiveTableReaderItem& Item, TDBXContext* Context,
                            int32_t Threshold);
    // Writes the batch EncodeBatch made (flushing first when the writer is
    // short of room).
    static void WriteBatch(TDBXJSonStreamWriter& Writer, const TDBXActiveTableReaderItem& Item);
    static void WriteTableObject(TDBXJSonStreamWriter& Writer, int32_t CommandHandle,
                                 const TDBXActiveTableReaderItem& Item);
};

} // namespace kds
