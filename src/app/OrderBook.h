#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/DataSource.h"
#include "app/MemoryDataSet.h"

namespace kds {

// The order book: the headers table TA and the lines table TB, with their
// data sources TAs and TBs. TB presents its lines in the order of TBIndex1
// (the four-part order key) and, once the intake sets its master fields to
// TAMasterFields, only the lines of TA's current header.
//
// Lifecycle: the constructor defines both tables; Create() opens them empty
// (TA, then TB), as the main window does when it is made. Nothing is saved.
//
// Ownership: owns the four objects. Members are declared so that the data
// sources go before the tables they serve. Window thread only.
class TOrderBook {
public:
    static constexpr const char* TBIndexName = "TBIndex1";
    static constexpr const char* TBIndexFields = "TB001;TB002;TB003;TB006";
    static constexpr const char* TAMasterFields = "TA001;TA002;TA003;TA006";

    TOrderBook();
    ~TOrderBook();
    TOrderBook(const TOrderBook&) = delete;
    TOrderBook& operator=(const TOrderBook&) = delete;

    // CreateDataSet on TA, then on TB. Raises what the engine raises.
    void Create();

    TMemoryDataSet& TA() const { return *FTA; }
    TMemoryDataSet& TB() const { return *FTB; }
    TDataSource& TAs() const { return *FTAs; }
    TDataSource& TBs() const { return *FTBs; }

private:
    std::unique_ptr<TMemoryDataSet> FTA;
    std::unique_ptr<TMemoryDataSet> FTB;
    std::unique_ptr<TDataSource> FTAs;
    std::unique_ptr<TDataSource> FTBs;
};

// What the grid shows for a SaleQty value: the general format with up to 15
// significant digits and the process-wide decimal separator; empty when null.
std::string SaleQtyDisplayText(std::optional<double> Value);

} // namespace kds
