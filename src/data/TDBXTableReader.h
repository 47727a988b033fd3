#pragma once

// A reader over a table, which it owns: the reader the administrative
// listings hand out. Its columns are the table's columns and its values the
// table's current values. The table's First is taken when the reader is
// made, and the first Next answers that result; every later Next is the
// table's Next. Destroying the reader frees the table; Close releases the
// table's rows at once (the columns stay readable).
//
// Errors as TDBXReader.h states (8 outside the columns, 10 off a row). One
// thread at a time; no lock.

#include <cstdint>
#include <memory>

#include "data/TDBXReader.h"

namespace kds {

class TDBXTable;

class TDBXTableReader : public TDBXReader {
public:
    // Takes the table; TDBXError 29 for none.
    explicit TDBXTableReader(std::unique_ptr<TDBXTable> Table);
    ~TDBXTableReader() override;

    int32_t ColumnCount() const override;
    const TDBXValueType& ValueType(int32_t Ordinal) const override;
    TDBXValue& Value(int32_t Ordinal) override;
    bool Next() override;
    void Close() override;

    // The table read from (still owned by the reader).
    TDBXTable& Table() const { return *FTable; }

private:
    std::unique_ptr<TDBXTable> FTable;
    bool FBeforeFirst = true;
    bool FFirst = false; // the table's First, taken at creation
    bool FOnRow = false;
    bool FClosed = false;
};

} // namespace kds
