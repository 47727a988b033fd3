#include "server/wire/DBXActiveTableReaderList.h"

#include <algorithm>

#include "data/TDBXJSonRow.h"
#include "data/TDBXReader.h"
#include "data/TDBXValue.h"
#include "data/TStream.h"

namespace kds {

TDBXActiveTableReaderItem::TDBXActiveTableReaderItem() = default;

TDBXActiveTableReaderItem::~TDBXActiveTableReaderItem() {
    // The carrying value still points at the reader it handed over: it lets
    // go first, so that nothing is left pointing at a freed reader.
    if (FOwnedReader && FCarrier != nullptr)
        FCarrier->SetNull();
}

bool TDBXActiveTableReaderItem::AtEnd() const {
    if (!FEos)
        return false;
    for (const auto& [Key, Rest] : FOverflows)
        if (Rest->Position() < Rest->Size())
            return false;
    return true;
}

TStream* TDBXActiveTableReaderItem::Overflow(int64_t Row, int32_t Ordinal) const {
    const auto At = FOverflows.find({Row, Ordinal});
    return At != FOverflows.end() ? At->second.get() : nullptr;
}

void TDBXActiveTableReaderItem::ClearOverflows() {
    FOverflows.clear();
}

void TDBXActiveTableReaderItem::AddOverflow(int64_t Row, int32_t Ordinal,
                                            std::unique_ptr<TStream> Rest) {
    if (Rest)
        FOverflows[{Row, Ordinal}] = std::move(Rest);
}

TDBXActiveTableReaderList::~TDBXActiveTableReaderList() = default;

TDBXActiveTableReaderItem* TDBXActiveTableReaderList::FindStreamerRow(int32_t RowHandle) const {
    for (const auto& Item : FItems)
        if (Item->FStreamerRowHandle == RowHandle)
            return Item.get();
    return nullptr;
}

TDBXActiveTableReaderItem& TDBXActiveTableReaderList::AddReader(TDBXReader* Reader,
                                                                std::unique_ptr<TDBXReader> Owned,
                                                                TDBXWritableValue* Carrier) {
    auto Item = std::make_unique<TDBXActiveTableReaderItem>();
    Item->FStreamerRowHandle = FNextRowHandle++;
    Item->FReader = Owned ? Owned.get() : Reader;
    Item->FOwnedReader = std::move(Owned);
    Item->FCarrier = Item->FOwnedReader ? Carrier : nullptr;
    if (Item->FReader != nullptr)
        Item->FReader->SetRowHandle(Item->FStreamerRowHandle);
    FItems.push_back(std::move(Item));
    return *FItems.back();
}

TDBXActiveTableReaderItem&
TDBXActiveTableReaderList::AddParameterRow(TDBXParameterList* Parameters) {
    CloseReader(-1);
    auto Item = std::make_unique<TDBXActiveTableReaderItem>();
    Item->FStreamerRowHandle = -1;
    Item->FIsParameterRow = true;
    Item->FParameterList = Parameters;
    FItems.push_back(std::move(Item));
    return *FItems.back();
}

bool TDBXActiveTableReaderList::CloseReader(int32_t RowHandle) {
    auto At = std::find_if(FItems.begin(), FItems.end(), [RowHandle](const auto& Item) {
        return Item->FStreamerRowHandle == RowHandle;
    });
    if (At == FItems.end())
        return false;
    FItems.erase(At);
    return true;
}

void TDBXActiveTableReaderList::CloseAllReaders() {
    FItems.clear();
    FNextRowHandle = 1;
}

bool TDBXActiveTableReaderList::AllAtEnd() const {
    return std::all_of(FItems.begin(), FItems.end(),
                       [](const auto& Item) { return Item->AtEnd(); });
}

} // namespace kds
