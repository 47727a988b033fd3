#pragma once

// The readers a command is streaming to its peer, by row handle. An execute
// reply adds one item per table it announces (row handles 1, 2, ... in
// ordinal order, restarting at 1 after every execute) and, for a long value
// in the parameter row, the parameter row's item (row handle -1). "next",
// "more_blob" and "reader_close" find their item here; a handle with no item
// is the peer asking for something closed (TDBXError 4 "Command closed or
// executed again").
//
// Owned by its command handler (TDBXCommandHandler::GetActiveStreamerRowList);
// used by that connection's thread only; nothing locks.
//
// The batch machinery (the streamer row of each item, the first batch and the
// batches that "next" asks for) comes with the table streaming; this list is
// its seam.

#include <cstdint>
#include <memory>
#include <vector>

namespace kds {

class TDBXJSonRow;
class TDBXParameterList;
class TDBXReader;

class TDBXActiveTableReaderItem {
public:
    TDBXActiveTableReaderItem() = default;
    TDBXActiveTableReaderItem(const TDBXActiveTableReaderItem&) = delete;
    TDBXActiveTableReaderItem& operator=(const TDBXActiveTableReaderItem&) = delete;
    ~TDBXActiveTableReaderItem();

    int32_t FStreamerRowHandle = -1;
    // The row the reader's batches are encoded into; owned when set.
    std::unique_ptr<TDBXJSonRow> FStreamerRow;
    // The reader being sent: owned through FOwnedReader when the item owns
    // it, else held by someone who outlives the item.
    std::unique_ptr<TDBXReader> FOwnedReader;
    TDBXReader* FReader = nullptr;
    bool FEos = false;
    // The parameter row's item: FParameterList holds the long values.
    bool FIsParameterRow = false;
    TDBXParameterList* FParameterList = nullptr; // not owned
    // One end-of-data flag per parameter (long values read to their end).
    std::vector<bool> FParameterEos;
};

class TDBXActiveTableReaderList {
public:
    TDBXActiveTableReaderList() = default;
    TDBXActiveTableReaderList(const TDBXActiveTableReaderList&) = delete;
    TDBXActiveTableReaderList& operator=(const TDBXActiveTableReaderList&) = delete;
    ~TDBXActiveTableReaderList();

    // The item with that row handle, or nullptr.
    TDBXActiveTableReaderItem* FindStreamerRow(int32_t RowHandle) const;
    // Adds an item with the next row handle (1, 2, ...) and answers it.
    TDBXActiveTableReaderItem& AddReader(TDBXReader* Reader, std::unique_ptr<TDBXReader> Owned);
    // Adds the parameter row's item (row handle -1), replacing an earlier one.
    TDBXActiveTableReaderItem& AddParameterRow(TDBXParameterList* Parameters);
    // Frees the item with that row handle; answers whether there was one.
    bool CloseReader(int32_t RowHandle);
    // Frees every item; the next AddReader gets row handle 1 again.
    void CloseAllReaders();
    // No item, or every item at its end of data.
    bool AllAtEnd() const;
    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    TDBXActiveTableReaderItem& Item(int32_t Index) const { return *FItems.at(Index); }

private:
    std::vector<std::unique_ptr<TDBXActiveTableReaderItem>> FItems;
    int32_t FNextRowHandle = 1;
};

} // namespace kds
