#pragma once

// A tabular result: a fixed set of typed columns and a forward-only walk over
// rows. Server methods hand one out as a table value (data type 23); the
// wire layer writes its columns as a table object and its rows in batches,
// and a table that a peer sends is read back as a reader of its own.
//
// The walk: a new reader stands before its first row. Next moves to the next
// row and answers whether there is one; once it has answered false it keeps
// answering false. Value(i) is the current row's value of column i; it may
// only be read while the last Next answered true, and raises TDBXError 10
// otherwise. Close ends the walk early and releases what the reader holds
// (a peer's reader tells the peer); after it Next answers false. Closing
// twice is harmless. Columns stay readable until the reader is destroyed.
//
// Errors: an ordinal outside 0 .. ColumnCount()-1 raises TDBXError 8; a
// reader that fetches rows from elsewhere raises TDBXError from Next when
// the fetch fails. Nothing here raises anything but TDBXError (and
// std::bad_alloc).
//
// Ownership: a reader has one owner, which destroys it: a reader value that
// holds it with its instance-owner flag set, or the command that streams it.
// The reader owns whatever it reads from (a table reader owns its table).
// The column types and values it hands out are its own: a column type lives
// as long as the reader, a value as long as the current row (until the next
// Next or Close).
//
// Threads: a reader is used by one thread at a time, the connection thread
// that serves its command. It has no lock; handing it to another thread
// needs a synchronising handover (a join or a locked queue).

#include <cstdint>

namespace kds {

class TDBXValue;
class TDBXValueType;

class TDBXReader {
public:
    TDBXReader(const TDBXReader&) = delete;
    TDBXReader& operator=(const TDBXReader&) = delete;
    virtual ~TDBXReader() = default;

    // The number of columns; fixed for the reader's life.
    virtual int32_t ColumnCount() const = 0;
    // The description of column Ordinal (name, data type, sub type,
    // precision, scale, size, flags, direction): what the table object
    // announces. TDBXError 8 outside the columns.
    virtual const TDBXValueType& ValueType(int32_t Ordinal) const = 0;
    // The current row's value of column Ordinal. TDBXError 8 outside the
    // columns, TDBXError 10 when the reader is not on a row.
    virtual TDBXValue& Value(int32_t Ordinal) = 0;
    // Moves to the next row (the first on the first call); false when there
    // is none.
    virtual bool Next() = 0;
    // Ends the walk and releases the rows.
    virtual void Close() = 0;
    // Whether a peer may change the rows; the table object carries it.
    virtual bool IsUpdateable() const { return false; }

    // The handle under which the wire layer streams this reader and which a
    // table field carries; -1 until the wire layer allocates one.
    int32_t RowHandle() const { return FRowHandle; }
    void SetRowHandle(int32_t RowHandle) { FRowHandle = RowHandle; }

protected:
    TDBXReader() = default;

private:
    int32_t FRowHandle = -1;
};

} // namespace kds
