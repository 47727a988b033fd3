#pragma once

// The readers a command is streaming to its peer, by row handle. An execute
// reply adds one item per table it announces (row handles 1, 2, ... in
// ordinal order, restarting at 1 after every execute) and, for a long value
// in the parameter row, the parameter row's item (row handle -1). "next",
// "more_blob" and "reader_close" find their item here; a handle with no item
// is the peer asking for something closed (TDBXError 4 "Command closed or
// executed again").
//
// An item of a reader holds:
// - the reader, owned by the item when the value that carried it owned it
//   (the value is then told to let go of it when the item goes), else lent
//   by someone who outlives the item;
// - its streamer row: a row buffer of its own, sized to the batch threshold,
//   into which each batch is encoded before a byte of the reply is written;
// - where the walk stands: rows sent in earlier batches, whether the reader
//   must be advanced before the next batch, and whether it is at its end
//   (the reader is closed then; the item stays for the long values of its
//   last batch);
// - the long values of the last batch sent, keyed by (row, ordinal), the row
//   counted from 0 within the reader: a "more_blob" gets the value of the row
//   it names, and a row of an older batch has none left.
// The parameter row's item holds the parameter list (whose values keep their
// own long values) and one end-of-data flag per parameter.
//
// Owned by its command handler (TDBXCommandHandler::GetActiveStreamerRowList);
// used by that connection's thread only; nothing locks.

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace kds {

class TDBXJSonRow;
class TDBXParameterList;
class TDBXReader;
class TDBXWritableValue;
class TStream;

class TDBXActiveTableReaderItem {
public:
    TDBXActiveTableReaderItem();
    TDBXActiveTableReaderItem(const TDBXActiveTableReaderItem&) = delete;
    TDBXActiveTableReaderItem& operator=(const TDBXActiveTableReaderItem&) = delete;
    // Lets the carrying value go of an owned reader, then frees it.
    ~TDBXActiveTableReaderItem();

    // Nothing more to send: at its end of data, with every long value kept
    // from the last batch read to its end.
    bool AtEnd() const;
    // The long value of (Row, Ordinal) kept from the last batch, or nullptr.
    TStream* Overflow(int64_t Row, int32_t Ordinal) const;
    // Drops the long values of the previous batch.
    void ClearOverflows();
    void AddOverflow(int64_t Row, int32_t Ordinal, std::unique_ptr<TStream> Rest);
    int32_t OverflowCount() const { return static_cast<int32_t>(FOverflows.size()); }

    int32_t FStreamerRowHandle = -1;
    // The row the reader's batches are encoded into; owned when set.
    std::unique_ptr<TDBXJSonRow> FStreamerRow;
    // The reader being sent: owned through FOwnedReader when the item owns
    // it, else held by someone who outlives the item.
    std::unique_ptr<TDBXReader> FOwnedReader;
    TDBXReader* FReader = nullptr;
    // The value that carried an owned reader (it still points at it); told
    // to let go before the reader is freed. Not owned: the command closes
    // its readers before it releases its parameter values.
    TDBXWritableValue* FCarrier = nullptr;
    bool FEos = false;
    // The first batch has been encoded (the reader was advanced once).
    bool FStarted = false;
    // The last batch ended on a full buffer: advance before the next one.
    bool FNeedsNext = false;
    // Rows of the batches encoded before the current one.
    int64_t FRowsSent = 0;
    // Rows of the batch encoded last.
    int32_t FBatchRows = 0;
    // The parameter row's item: FParameterList holds the long values.
    bool FIsParameterRow = false;
    TDBXParameterList* FParameterList = nullptr; // not owned
    // One end-of-data flag per parameter (long values read to their end).
    std::vector<bool> FParameterEos;

private:
    std::map<std::pair<int64_t, int32_t>, std::unique_ptr<TStream>> FOverflows;
};

class TDBXActiveTableReaderList {
public:
    TDBXActiveTableReaderList() = default;
    TDBXActiveTableReaderList(const TDBXActiveTableReaderList&) = delete;
    TDBXActiveTableReaderList& operator=(const TDBXActiveTableReaderList&) = delete;
    ~TDBXActiveTableReaderList();

    // The item with that row handle, or nullptr.
    TDBXActiveTableReaderItem* FindStreamerRow(int32_t RowHandle) const;
    // Adds an item with the next row handle (1, 2, ...), tells the reader
    // its handle and answers the item. Owned is the reader when the item is
    // to free it (Reader is then ignored); Carrier the value that carried it.
    TDBXActiveTableReaderItem& AddReader(TDBXReader* Reader, std::unique_ptr<TDBXReader> Owned,
                                         TDBXWritableValue* Carrier = nullptr);
    // Adds the parameter row's item (row handle -1), replacing an earlier one.
    TDBXActiveTableReaderItem& AddParameterRow(TDBXParameterList* Parameters);
    // Frees the item with that row handle; answers whether there was one.
    bool CloseReader(int32_t RowHandle);
    // Frees every item; the next AddReader gets row handle 1 again.
    void CloseAllReaders();
    // No item, or every item at its end (AtEnd).
    bool AllAtEnd() const;
    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    TDBXActiveTableReaderItem& Item(int32_t Index) const { return *FItems.at(Index); }

private:
    std::vector<std::unique_ptr<TDBXActiveTableReaderItem>> FItems;
    int32_t FNextRowHandle = 1;
};

} // namespace kds
