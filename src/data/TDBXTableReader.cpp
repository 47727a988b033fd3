#include "data/TDBXTableReader.h"

#include "base/DBXError.h"
#include "data/TDBXTable.h"
#include "data/TDBXValue.h"

namespace kds {

TDBXTableReader::TDBXTableReader(std::unique_ptr<TDBXTable> Table) : FTable(std::move(Table)) {
    if (!FTable)
        throw TDBXError(TDBXErrorCodes::InvalidArgument, "A table reader needs a table");
    FFirst = FTable->First();
}

TDBXTableReader::~TDBXTableReader() = default;

int32_t TDBXTableReader::ColumnCount() const {
    return FTable->ColumnCount();
}

const TDBXValueType& TDBXTableReader::ValueType(int32_t Ordinal) const {
    return FTable->Column(Ordinal);
}

TDBXValue& TDBXTableReader::Value(int32_t Ordinal) {
    if (!FOnRow) {
        // The column is checked first, so that a wrong ordinal says so.
        FTable->Column(Ordinal);
        throw TDBXError(TDBXErrorCodes::EOF_, "The reader is not on a row");
    }
    return FTable->Value(Ordinal);
}

bool TDBXTableReader::Next() {
    if (FClosed)
        return false;
    if (FBeforeFirst) {
        FBeforeFirst = false;
        FOnRow = FFirst;
    } else if (FOnRow) {
        FOnRow = FTable->Next();
    }
    return FOnRow;
}

void TDBXTableReader::Close() {
    FClosed = true;
    FOnRow = false;
    FTable->Close();
}

} // namespace kds
