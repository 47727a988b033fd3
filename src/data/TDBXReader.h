#pragma once

// A tabular result handed out as a table value (data type 23). Its columns,
// rows and batches are streamed by the reader machinery; what a row field of
// a table value needs is only the handle under which that stream is known to
// the peer. Owned by whoever holds it (a reader value with its instance-owner
// flag, or the command); used on the connection's thread only.

#include <cstdint>

namespace kds {

class TDBXReader {
public:
    TDBXReader(const TDBXReader&) = delete;
    TDBXReader& operator=(const TDBXReader&) = delete;
    virtual ~TDBXReader() = default;

    // The row handle the table field carries; -1 until one is allocated.
    int32_t RowHandle() const { return FRowHandle; }
    void SetRowHandle(int32_t RowHandle) { FRowHandle = RowHandle; }

protected:
    TDBXReader() = default;

private:
    int32_t FRowHandle = -1;
};

} // namespace kds
