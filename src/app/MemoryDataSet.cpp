#include "app/MemoryDataSet.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/AsciiText.h"

namespace kds {

namespace {

constexpr std::uint64_t PendingMarker = std::numeric_limits<std::uint64_t>::max();

TField* FindIn(const std::vector<std::unique_ptr<TField>>& Fields, const std::string& Name) {
    for (const auto& F : Fields)
        if (SameTextAscii(F->FieldName(), Name))
            return F.get();
    return nullptr;
}

[[noreturn]] void FieldNotFound(const std::string& Name) {
    throw EDatabaseError("Field '" + Name + "' not found");
}

} // namespace

// ---------------------------------------------------------------- definitions

void TFieldDefs::Add(const std::string& Name, TFieldType DataType, int Size) {
    FItems.push_back(TFieldDef{Name, DataType, Size});
}

void TIndexDefs::Add(const std::string& Name, const std::string& Fields, TIndexOptions Options) {
    FItems.push_back(TIndexDef{Name, Fields, Options});
}

const TIndexDef* TIndexDefs::Find(const std::string& Name) const {
    for (const TIndexDef& D : FItems)
        if (SameTextAscii(D.Name, Name))
            return &D;
    return nullptr;
}

// ---------------------------------------------------------------- master link

// Listens to the master's data source and keeps the detail's presentation on
// the master's current row.
class TMemoryDataSet::TMasterObserver : public TDataSetObserver {
public:
    explicit TMasterObserver(TMemoryDataSet& Detail) : FDetail(Detail) {}
    void RowChanged(TMemoryDataSet&, int) override { FDetail.MasterChanged(); }
    // The master's fields may be made anew: look them up again.
    void PresentationAboutToBeReset(TMemoryDataSet&) override { FDetail.FMasterFieldCache.clear(); }
    void PresentationReset(TMemoryDataSet&) override { FDetail.MasterChanged(); }
    void CurrentRowChanged(TMemoryDataSet&, int, int) override { FDetail.MasterChanged(); }
    void StateChanged(TMemoryDataSet&) override { FDetail.MasterChanged(); }
    // The master's dataset is gone: the link is not in force until another
    // one is attached.
    void DataSourceDetaching(TDataSource&) override {
        FDetail.FMasterFieldCache.clear();
        FDetail.MasterChanged();
    }
    void DataSourceDestroying(TDataSource& Source) override {
        FDetail.FMasterFieldCache.clear();
        if (&Source == FDetail.FMasterSource)
            FDetail.DetachMaster();
    }

private:
    TMemoryDataSet& FDetail;
};

// ---------------------------------------------------------------- life

TMemoryDataSet::TMemoryDataSet(std::string Name)
    : FName(std::move(Name)), FMasterObserver(std::make_unique<TMasterObserver>(*this)) {}

TMemoryDataSet::~TMemoryDataSet() {
    if (FMasterSource != nullptr)
        FMasterSource->RemoveObserver(FMasterObserver.get());
    const std::vector<TDataSource*> Sources = FDataSources;
    for (TDataSource* S : Sources)
        S->DetachFromDataSet();
}

void TMemoryDataSet::CheckActive() const {
    if (!Active())
        throw EDatabaseError("Cannot perform this operation on a closed dataset");
}

template <typename F> void TMemoryDataSet::NotifyAll(F&& Call) {
    for (std::size_t I = 0; I < FDataSources.size(); ++I)
        FDataSources[I]->Notify(Call);
}

void TMemoryDataSet::NotifyCurrent() {
    const int Row = CurrentRow();
    std::uint64_t Seq = 0;
    if (FState == TDataSetState::dsInsert)
        Seq = PendingMarker;
    else if (FCurrent >= 0)
        Seq = FStore.Seq(FView[static_cast<std::size_t>(FCurrent)]);
    if (Row == FAnnouncedRow && Seq == FAnnouncedSeq)
        return;
    const int Old = FAnnouncedRow;
    FAnnouncedRow = Row;
    FAnnouncedSeq = Seq;
    NotifyAll([&](TDataSetObserver& O) { O.CurrentRowChanged(*this, Old, Row); });
}

void TMemoryDataSet::NotifyState(TDataSetState Old) {
    if (Old != FState)
        NotifyAll([&](TDataSetObserver& O) { O.StateChanged(*this); });
}

// ---------------------------------------------------------------- creation

void TMemoryDataSet::CreateDataSet() {
    if (FFieldDefs.Count() == 0)
        throw EDatabaseError("No fields defined.  Cannot create dataset");

    std::vector<std::unique_ptr<TField>> Fields;
    std::size_t Offset = 0;
    for (int I = 0; I < FFieldDefs.Count(); ++I) {
        const TFieldDef& D = FFieldDefs[I];
        if (D.Name.empty())
            throw EDatabaseError("Field name missing");
        if (FindIn(Fields, D.Name) != nullptr)
            throw EDatabaseError("Duplicate field name '" + D.Name + "'");
        std::unique_ptr<TField> F;
        if (D.DataType == TFieldType::ftString) {
            if (D.Size < 1 || D.Size > TStringField::MaxSize)
                throw EDatabaseError("Invalid field size for field '" + D.Name + "'");
            F = std::make_unique<TStringField>(*this, D.Name, D.Size, I, Offset);
        } else {
            F = std::make_unique<TFloatField>(*this, D.Name, I, Offset);
        }
        Offset += F->DataSize();
        Fields.push_back(std::move(F));
    }
    std::vector<const TField*> IndexFields;
    ResolveIndex(FIndexName, Fields, IndexFields);
    const std::size_t MasterCount = SplitList(FMasterFields, ';', true).size();
    if (MasterCount > IndexFields.size())
        throw EDatabaseError("Master fields need an index of at least " +
                             std::to_string(MasterCount) + " fields");

    const TDataSetState OldState = FState;
    NotifyAll([&](TDataSetObserver& O) { O.PresentationAboutToBeReset(*this); });
    FFields = std::move(Fields);
    FStore.Reset(std::max<std::size_t>(Offset, 1), std::move(IndexFields));
    FView.clear();
    FBuffer.assign(FStore.RecordSize(), std::byte{0});
    FEditSlot = UINT32_MAX;
    FModified = false;
    FState = TDataSetState::dsBrowse;
    FCurrent = -1;
    FEof = FBof = true;
    RebuildPresentation();
    NotifyAll([&](TDataSetObserver& O) { O.PresentationReset(*this); });
    NotifyState(OldState);
    NotifyCurrent();
}

void TMemoryDataSet::ResolveIndex(const std::string& IndexName,
                                  const std::vector<std::unique_ptr<TField>>& Fields,
                                  std::vector<const TField*>& Out) const {
    Out.clear();
    if (IndexName.empty())
        return;
    const TIndexDef* Def = FIndexDefs.Find(IndexName);
    if (Def == nullptr)
        throw EDatabaseError("Index '" + IndexName + "' not found");
    for (const std::string& N : SplitList(Def->Fields, ';', true)) {
        const TField* F = FindIn(Fields, N);
        if (F == nullptr)
            FieldNotFound(N);
        Out.push_back(F);
    }
}

// ---------------------------------------------------------------- fields

TField& TMemoryDataSet::Fields(int Index) const {
    if (Index < 0 || Index >= FieldCount())
        throw EDatabaseError("List index out of bounds (" + std::to_string(Index) + ")");
    return *FFields[static_cast<std::size_t>(Index)];
}

TField* TMemoryDataSet::FindField(const std::string& Name) const {
    return FindIn(FFields, Name);
}

TField& TMemoryDataSet::FieldByName(const std::string& Name) const {
    TField* F = FindField(Name);
    if (F == nullptr)
        FieldNotFound(Name);
    return *F;
}

const std::byte* TMemoryDataSet::CurrentRecord() const {
    if (FState == TDataSetState::dsInsert || FState == TDataSetState::dsEdit)
        return FBuffer.data();
    if (FCurrent >= 0)
        return FStore.Rec(FView[static_cast<std::size_t>(FCurrent)]);
    return nullptr;
}

std::byte* TMemoryDataSet::EditRecord() {
    if (FState != TDataSetState::dsInsert && FState != TDataSetState::dsEdit)
        throw EDatabaseError("Dataset not in edit or insert mode");
    return FBuffer.data();
}

void TMemoryDataSet::FieldChanged(const TField&) {
    FModified = true;
    const int Row = CurrentRow();
    NotifyAll([&](TDataSetObserver& O) { O.RowChanged(*this, Row); });
}

// ---------------------------------------------------------------- presentation

bool TMemoryDataSet::MasterLinkActive() const {
    return Active() && FMasterSource != nullptr && FMasterSource->DataSet() != nullptr &&
           !FMasterNames.empty();
}

bool TMemoryDataSet::ReadMasterKey(std::vector<std::byte>& Key) const {
    const TMemoryDataSet* Master = FMasterSource->DataSet();
    if (!Master->Active())
        return false;
    const std::byte* R = Master->CurrentRecord();
    if (R == nullptr)
        return false;
    if (FMasterFieldCache.size() != FMasterNames.size()) {
        FMasterFieldCache.clear();
        for (const std::string& N : FMasterNames) {
            const TField* MF = Master->FindField(N);
            if (MF == nullptr) {
                FMasterFieldCache.clear();
                return false;
            }
            FMasterFieldCache.push_back(MF);
        }
    }
    Key.assign(FStore.RecordSize(), std::byte{0});
    try {
        for (std::size_t I = 0; I < FMasterNames.size(); ++I)
            FStore.IndexFields()[I]->AssignIn(Key.data(), *FMasterFieldCache[I], R);
    } catch (const EDatabaseError&) {
        return false; // a master value our key field cannot hold matches nothing
    }
    return true;
}

void TMemoryDataSet::RebuildPresentation() {
    FView.clear();
    FLinkedView = MasterLinkActive();
    if (FLinkedView) {
        FMasterHasRow = ReadMasterKey(FMasterKey);
        if (!FMasterHasRow)
            return;
        FStore.CopyMatching(FMasterKey.data(), static_cast<int>(FMasterNames.size()), FView);
    } else {
        FStore.CopyInIndexOrder(FView);
    }
}

void TMemoryDataSet::ResetPresentation() {
    NotifyAll([&](TDataSetObserver& O) { O.PresentationAboutToBeReset(*this); });
    RebuildPresentation();
    FCurrent = FView.empty() ? -1 : 0;
    FBof = true;
    FEof = FView.empty();
    // The current row is announced afresh after a reset.
    FAnnouncedRow = -2;
    NotifyAll([&](TDataSetObserver& O) { O.PresentationReset(*this); });
    NotifyCurrent();
}

bool TMemoryDataSet::Presents(const std::byte* Record) const {
    if (!FLinkedView)
        return true;
    if (!FMasterHasRow)
        return false;
    return FStore.CompareKeys(Record, FMasterKey.data(), static_cast<int>(FMasterNames.size())) ==
           0;
}

std::size_t TMemoryDataSet::ViewPosition(std::uint32_t Slot) const {
    const auto It = std::lower_bound(
        FView.begin(), FView.end(), Slot,
        [this](std::uint32_t A, std::uint32_t B) { return FStore.RowBefore(A, B); });
    return static_cast<std::size_t>(It - FView.begin());
}

void TMemoryDataSet::InsertIntoView(std::uint32_t Slot, std::size_t Pos) {
    const int Row = static_cast<int>(Pos);
    NotifyAll([&](TDataSetObserver& O) { O.RowAboutToBeInserted(*this, Row); });
    FView.insert(FView.begin() + static_cast<std::ptrdiff_t>(Pos), Slot);
    if (FCurrent >= Row)
        ++FCurrent;
    NotifyAll([&](TDataSetObserver& O) { O.RowInserted(*this, Row); });
}

void TMemoryDataSet::RemoveFromView(std::size_t Pos) {
    const int Row = static_cast<int>(Pos);
    NotifyAll([&](TDataSetObserver& O) { O.RowAboutToBeRemoved(*this, Row); });
    FView.erase(FView.begin() + static_cast<std::ptrdiff_t>(Pos));
    if (FCurrent > Row)
        --FCurrent;
    if (FCurrent >= static_cast<int>(FView.size()))
        FCurrent = static_cast<int>(FView.size()) - 1;
    NotifyAll([&](TDataSetObserver& O) { O.RowRemoved(*this, Row); });
}

std::size_t TMemoryDataSet::FindInView(std::uint32_t Slot) const {
    const std::size_t Pos = ViewPosition(Slot);
    if (Pos < FView.size() && FView[Pos] == Slot)
        return Pos;
    return std::string::npos;
}

void TMemoryDataSet::MasterChanged() {
    if (!Active())
        return;
    const bool Linked = MasterLinkActive();
    const int KeyCount = static_cast<int>(FMasterNames.size());
    std::vector<std::byte>& Key = FMasterScratch;
    const bool Has = Linked && ReadMasterKey(Key);
    if (Linked == FLinkedView) {
        if (!Linked)
            return;
        if (Has == FMasterHasRow &&
            (!Has || FStore.CompareKeys(Key.data(), FMasterKey.data(), KeyCount) == 0))
            return;
    }
    // Lines being appended or edited for the old header are settled first.
    CheckBrowseMode();
    const bool NothingAfter =
        Linked ? !Has || !FStore.AnyMatching(Key.data(), KeyCount) : FStore.Count() == 0;
    if (FView.empty() && NothingAfter) {
        // Nothing shown before, nothing after (a header whose key is being
        // typed in, a header without lines): there is nothing to announce.
        FLinkedView = Linked;
        FMasterHasRow = Has;
        if (Has)
            FMasterKey.swap(Key);
        return;
    }
    ResetPresentation();
}

void TMemoryDataSet::DetachMaster() {
    if (FMasterSource != nullptr)
        FMasterSource->RemoveObserver(FMasterObserver.get());
    FMasterSource = nullptr;
    if (FLinkedView) {
        CheckBrowseMode();
        ResetPresentation();
    }
}

// ---------------------------------------------------------------- editing

void TMemoryDataSet::Append() {
    CheckActive();
    CheckBrowseMode();
    const TDataSetState OldState = FState;
    FBuffer.assign(FStore.RecordSize(), std::byte{0});
    if (FLinkedView && FMasterHasRow) {
        for (std::size_t I = 0; I < FMasterNames.size(); ++I) {
            const TField* F = FStore.IndexFields()[I];
            std::memcpy(FBuffer.data() + F->Offset(), FMasterKey.data() + F->Offset(),
                        F->DataSize());
        }
    }
    FModified = false;
    const int Row = static_cast<int>(FView.size());
    NotifyAll([&](TDataSetObserver& O) { O.RowAboutToBeInserted(*this, Row); });
    FState = TDataSetState::dsInsert;
    NotifyAll([&](TDataSetObserver& O) { O.RowInserted(*this, Row); });
    NotifyState(OldState);
    NotifyCurrent();
}

void TMemoryDataSet::Edit() {
    CheckActive();
    if (FState == TDataSetState::dsInsert || FState == TDataSetState::dsEdit)
        return;
    if (FCurrent < 0) {
        Append();
        return;
    }
    const TDataSetState OldState = FState;
    FEditSlot = FView[static_cast<std::size_t>(FCurrent)];
    FBuffer.assign(FStore.Rec(FEditSlot), FStore.Rec(FEditSlot) + FStore.RecordSize());
    FModified = false;
    FState = TDataSetState::dsEdit;
    NotifyState(OldState);
}

TRowId TMemoryDataSet::Post() {
    CheckActive();
    if (FState != TDataSetState::dsInsert && FState != TDataSetState::dsEdit)
        throw EDatabaseError("Dataset not in edit or insert mode");
    const TDataSetState OldState = FState;
    TRowId Id;
    if (FState == TDataSetState::dsInsert) {
        // Out of memory here leaves the row pending, as before the Post.
        Id = FStore.Store(FBuffer.data());
        const std::uint32_t Slot = Id.Slot;
        const int PendingPos = static_cast<int>(FView.size());
        const bool Shown = Presents(FStore.Rec(Slot));
        const std::size_t Pos = ViewPosition(Slot);
        try {
            if (Shown && FView.size() == FView.capacity())
                FView.reserve(FView.size() * 2 + 8);
        } catch (...) {
            FStore.Remove(Slot);
            throw;
        }
        if (Shown && static_cast<int>(Pos) == PendingPos) {
            // The stored row takes the pending row's place.
            FView.push_back(Slot);
            FState = TDataSetState::dsBrowse;
            FCurrent = static_cast<int>(Pos);
            NotifyAll([&](TDataSetObserver& O) { O.RowChanged(*this, PendingPos); });
        } else {
            NotifyAll([&](TDataSetObserver& O) { O.RowAboutToBeRemoved(*this, PendingPos); });
            FState = TDataSetState::dsBrowse;
            NotifyAll([&](TDataSetObserver& O) { O.RowRemoved(*this, PendingPos); });
            if (Shown) {
                InsertIntoView(Slot, Pos);
                FCurrent = static_cast<int>(Pos);
            } else {
                FCurrent = std::min(static_cast<int>(Pos), static_cast<int>(FView.size()) - 1);
            }
        }
    } else {
        const std::uint32_t Slot = FEditSlot;
        Id = FStore.IdOf(Slot);
        const std::size_t OldPos = static_cast<std::size_t>(FCurrent);
        const bool KeySame = FStore.CompareKeys(FStore.Rec(Slot), FBuffer.data(),
                                                static_cast<int>(FStore.IndexFields().size())) == 0;
        if (KeySame) {
            std::memcpy(FStore.Rec(Slot), FBuffer.data(), FStore.RecordSize());
            FState = TDataSetState::dsBrowse;
            NotifyAll([&](TDataSetObserver& O) { O.RowChanged(*this, static_cast<int>(OldPos)); });
        } else {
            RemoveFromView(OldPos);
            FStore.Rewrite(Slot, FBuffer.data());
            FState = TDataSetState::dsBrowse;
            const std::size_t Pos = ViewPosition(Slot);
            if (Presents(FStore.Rec(Slot))) {
                InsertIntoView(Slot, Pos);
                FCurrent = static_cast<int>(Pos);
            } else {
                FCurrent = std::min(static_cast<int>(Pos), static_cast<int>(FView.size()) - 1);
            }
        }
        FEditSlot = UINT32_MAX;
    }
    FModified = false;
    FBof = FEof = false;
    NotifyState(OldState);
    NotifyCurrent();
    return Id;
}

void TMemoryDataSet::Cancel() {
    if (FState == TDataSetState::dsInsert) {
        const int Row = static_cast<int>(FView.size());
        NotifyAll([&](TDataSetObserver& O) { O.RowAboutToBeRemoved(*this, Row); });
        FState = TDataSetState::dsBrowse;
        FModified = false;
        NotifyAll([&](TDataSetObserver& O) { O.RowRemoved(*this, Row); });
        NotifyState(TDataSetState::dsInsert);
        NotifyCurrent();
    } else if (FState == TDataSetState::dsEdit) {
        FState = TDataSetState::dsBrowse;
        FModified = false;
        FEditSlot = UINT32_MAX;
        const int Row = FCurrent;
        NotifyAll([&](TDataSetObserver& O) { O.RowChanged(*this, Row); });
        NotifyState(TDataSetState::dsEdit);
    }
}

void TMemoryDataSet::CheckBrowseMode() {
    if (FState != TDataSetState::dsInsert && FState != TDataSetState::dsEdit)
        return;
    if (FModified)
        Post();
    else
        Cancel();
}

void TMemoryDataSet::RemoveStored(std::uint32_t Slot) {
    const std::size_t Pos = FindInView(Slot);
    if (Pos != std::string::npos)
        RemoveFromView(Pos);
    FStore.Remove(Slot);
}

void TMemoryDataSet::Delete() {
    CheckActive();
    if (FState == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (FState == TDataSetState::dsEdit)
        Cancel();
    if (FCurrent < 0)
        throw EDatabaseError("Cannot perform this operation on an empty dataset");
    RemoveStored(FView[static_cast<std::size_t>(FCurrent)]);
    FEof = FView.empty();
    NotifyCurrent();
}

bool TMemoryDataSet::DeleteRow(TRowId Id) {
    if (!Active() || !FStore.Holds(Id))
        return false;
    if (FState == TDataSetState::dsEdit && FEditSlot == Id.Slot)
        return false;
    RemoveStored(Id.Slot);
    NotifyCurrent();
    return true;
}

// ---------------------------------------------------------------- navigation

void TMemoryDataSet::First() {
    CheckActive();
    CheckBrowseMode();
    FCurrent = FView.empty() ? -1 : 0;
    FBof = true;
    FEof = FView.empty();
    NotifyCurrent();
}

void TMemoryDataSet::Last() {
    CheckActive();
    CheckBrowseMode();
    FCurrent = static_cast<int>(FView.size()) - 1;
    FEof = true;
    FBof = FView.empty();
    NotifyCurrent();
}

void TMemoryDataSet::Next() {
    CheckActive();
    CheckBrowseMode();
    if (FView.empty()) {
        FEof = FBof = true;
    } else if (FCurrent >= static_cast<int>(FView.size()) - 1) {
        FEof = true;
        FBof = false;
    } else {
        ++FCurrent;
        FEof = FBof = false;
    }
    NotifyCurrent();
}

void TMemoryDataSet::Prior() {
    CheckActive();
    CheckBrowseMode();
    if (FView.empty()) {
        FEof = FBof = true;
    } else if (FCurrent <= 0) {
        FCurrent = 0;
        FBof = true;
        FEof = false;
    } else {
        --FCurrent;
        FEof = FBof = false;
    }
    NotifyCurrent();
}

int TMemoryDataSet::RecNo() const {
    if (FState == TDataSetState::dsInsert || FCurrent < 0)
        return -1;
    return FCurrent + 1;
}

void TMemoryDataSet::SetRecNo(int Value) {
    CheckActive();
    MoveToRow(Value - 1);
}

void TMemoryDataSet::MoveToRow(int Row) {
    CheckActive();
    if (Row < 0 || Row >= static_cast<int>(FView.size()))
        return;
    // Settling a pending row may shift rows: go to the row that was asked for,
    // wherever it then stands.
    const std::uint32_t Slot = FView[static_cast<std::size_t>(Row)];
    const std::uint64_t Seq = FStore.Seq(Slot);
    CheckBrowseMode();
    if (FStore.Seq(Slot) != Seq)
        return;
    const std::size_t Pos = FindInView(Slot);
    if (Pos == std::string::npos)
        return;
    FCurrent = static_cast<int>(Pos);
    FBof = FEof = false;
    NotifyCurrent();
}

int TMemoryDataSet::RowCount() const {
    return static_cast<int>(FView.size()) + (FState == TDataSetState::dsInsert ? 1 : 0);
}

int TMemoryDataSet::PendingRow() const {
    return FState == TDataSetState::dsInsert ? static_cast<int>(FView.size()) : -1;
}

int TMemoryDataSet::CurrentRow() const {
    if (FState == TDataSetState::dsInsert)
        return static_cast<int>(FView.size());
    return FCurrent;
}

const std::byte* TMemoryDataSet::RecordAt(int Row) const {
    if (Row < 0)
        return nullptr;
    if (Row == PendingRow())
        return FBuffer.data();
    if (Row >= static_cast<int>(FView.size()))
        return nullptr;
    const std::uint32_t Slot = FView[static_cast<std::size_t>(Row)];
    if (FState == TDataSetState::dsEdit && Slot == FEditSlot)
        return FBuffer.data();
    return FStore.Rec(Slot);
}

std::string TMemoryDataSet::DisplayTextAt(int Row, int Field) const {
    const std::byte* R = RecordAt(Row);
    if (R == nullptr || Field < 0 || Field >= FieldCount())
        return {};
    return FFields[static_cast<std::size_t>(Field)]->DisplayTextIn(R);
}

bool TMemoryDataSet::IsNullAt(int Row, int Field) const {
    const std::byte* R = RecordAt(Row);
    if (R == nullptr || Field < 0 || Field >= FieldCount())
        return true;
    return FFields[static_cast<std::size_t>(Field)]->IsNullIn(R);
}

int TMemoryDataSet::RecNoAt(int Row) const {
    if (Row < 0 || Row >= static_cast<int>(FView.size()))
        return -1;
    return Row + 1;
}

TRowId TMemoryDataSet::RowIdAt(int Row) const {
    if (Row < 0 || Row >= static_cast<int>(FView.size()))
        return {};
    return FStore.IdOf(FView[static_cast<std::size_t>(Row)]);
}

TRowId TMemoryDataSet::CurrentRowId() const {
    if (FState == TDataSetState::dsInsert)
        return {};
    return RowIdAt(FCurrent);
}

// ---------------------------------------------------------------- index and link

void TMemoryDataSet::SetIndexName(const std::string& Name) {
    if (SameTextAscii(Name, FIndexName) && (Name.empty() || FIndexDefs.Find(Name) != nullptr)) {
        FIndexName = Name;
        return;
    }
    if (!Active()) {
        if (!Name.empty() && FIndexDefs.Find(Name) == nullptr)
            throw EDatabaseError("Index '" + Name + "' not found");
        FIndexName = Name;
        return;
    }
    std::vector<const TField*> IndexFields;
    ResolveIndex(Name, FFields, IndexFields);
    if (FMasterNames.size() > IndexFields.size())
        throw EDatabaseError("Master fields need an index of at least " +
                             std::to_string(FMasterNames.size()) + " fields");
    CheckBrowseMode();
    FIndexName = Name;
    FStore.SetIndexFields(std::move(IndexFields));
    ResetPresentation();
}

void TMemoryDataSet::SetMasterSource(TDataSource* Source) {
    if (Source == FMasterSource)
        return;
    if (FMasterSource != nullptr)
        FMasterSource->RemoveObserver(FMasterObserver.get());
    FMasterSource = Source;
    FMasterFieldCache.clear();
    if (FMasterSource != nullptr)
        FMasterSource->AddObserver(FMasterObserver.get());
    if (Active() && (FLinkedView || MasterLinkActive())) {
        CheckBrowseMode();
        ResetPresentation();
    }
}

void TMemoryDataSet::SetMasterFields(const std::string& Fields) {
    if (Fields == FMasterFields)
        return;
    std::vector<std::string> Names = SplitList(Fields, ';', true);
    if (Active()) {
        if (Names.size() > FStore.IndexFields().size())
            throw EDatabaseError("Master fields need an index of at least " +
                                 std::to_string(Names.size()) + " fields");
        const TMemoryDataSet* Master =
            FMasterSource != nullptr ? FMasterSource->DataSet() : nullptr;
        if (Master != nullptr && Master->Active())
            for (const std::string& N : Names)
                if (Master->FindField(N) == nullptr)
                    FieldNotFound(N);
    }
    if (Active())
        CheckBrowseMode();
    FMasterFields = Fields;
    FMasterNames = std::move(Names);
    FMasterFieldCache.clear();
    if (Active() && (FLinkedView || MasterLinkActive()))
        ResetPresentation();
}

} // namespace kds
