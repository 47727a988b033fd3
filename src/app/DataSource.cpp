#include "app/DataSource.h"

#include <algorithm>

#include "app/MemoryDataSet.h"

namespace kds {

TDataSource::TDataSource(TMemoryDataSet* DataSet) {
    SetDataSet(DataSet);
}

TDataSource::~TDataSource() {
    SetDataSet(nullptr);
    // Observers (a detail's master link among them) must stop using us.
    Notify([this](TDataSetObserver& O) { O.DataSourceDestroying(*this); });
}

void TDataSource::SetDataSet(TMemoryDataSet* DataSet) {
    if (DataSet == FDataSet)
        return;
    if (FDataSet != nullptr) {
        auto& L = FDataSet->FDataSources;
        L.erase(std::remove(L.begin(), L.end(), this), L.end());
        FDataSet = nullptr;
        Notify([this](TDataSetObserver& O) { O.DataSourceDetaching(*this); });
    }
    FDataSet = DataSet;
    if (FDataSet != nullptr) {
        FDataSet->FDataSources.push_back(this);
        TMemoryDataSet& D = *FDataSet;
        Notify([&D](TDataSetObserver& O) { O.PresentationReset(D); });
    }
}

void TDataSource::DetachFromDataSet() {
    FDataSet = nullptr;
    Notify([this](TDataSetObserver& O) { O.DataSourceDetaching(*this); });
}

void TDataSource::AddObserver(TDataSetObserver* Observer) {
    if (Observer == nullptr ||
        std::find(FObservers.begin(), FObservers.end(), Observer) != FObservers.end())
        return;
    FObservers.push_back(Observer);
}

void TDataSource::RemoveObserver(TDataSetObserver* Observer) {
    auto It = std::find(FObservers.begin(), FObservers.end(), Observer);
    if (It == FObservers.end())
        return;
    if (FNotifying > 0)
        *It = nullptr;
    else
        FObservers.erase(It);
}

void TDataSource::Compact() {
    FObservers.erase(std::remove(FObservers.begin(), FObservers.end(), nullptr), FObservers.end());
}

} // namespace kds
