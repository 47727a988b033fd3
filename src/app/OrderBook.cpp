#include "app/OrderBook.h"

namespace kds {

TOrderBook::TOrderBook()
    : FTA(std::make_unique<TMemoryDataSet>("TA")), FTB(std::make_unique<TMemoryDataSet>("TB")),
      FTAs(std::make_unique<TDataSource>(FTA.get())),
      FTBs(std::make_unique<TDataSource>(FTB.get())) {
    TFieldDefs& A = FTA->FieldDefs();
    A.Add("TA001", TFieldType::ftString, 8);
    A.Add("TA002", TFieldType::ftString, 6);
    A.Add("TA003", TFieldType::ftString, 6);
    A.Add("TA006", TFieldType::ftString, 5);
    A.Add("TableNo", TFieldType::ftString, 10);
    A.Add("DeliveryType", TFieldType::ftString, 20);

    TFieldDefs& B = FTB->FieldDefs();
    B.Add("TB001", TFieldType::ftString, 8);
    B.Add("TB002", TFieldType::ftString, 6);
    B.Add("TB003", TFieldType::ftString, 6);
    B.Add("TB006", TFieldType::ftString, 5);
    B.Add("PluName", TFieldType::ftString, 20);
    B.Add("SaleQty", TFieldType::ftFloat);
    B.Add("DoItemOK", TFieldType::ftString, 2);
    FTB->IndexDefs().Add(TBIndexName, TBIndexFields);
    FTB->SetIndexName(TBIndexName);
    // The master field list stays empty until the first order is taken in.
    FTB->SetMasterSource(FTAs.get());
}

TOrderBook::~TOrderBook() {
    // Unlink before anything goes, whatever the member order.
    FTB->SetMasterSource(nullptr);
}

void TOrderBook::Create() {
    FTA->CreateDataSet();
    FTB->CreateDataSet();
}

std::string SaleQtyDisplayText(std::optional<double> Value) {
    return TFloatField::FormatDisplayText(Value);
}

} // namespace kds
