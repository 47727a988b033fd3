#include "app/RecordStore.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace kds {

// ---------------------------------------------------------------- comparisons

bool TRecordStore::TRowLess::operator()(std::uint32_t A, std::uint32_t B) const {
    return Store->RowBefore(A, B);
}

bool TRecordStore::TRowLess::operator()(std::uint32_t A, const TProbe& B) const {
    return Store->CompareKeys(Store->Rec(A), B.Rec, B.Count) < 0;
}

bool TRecordStore::TRowLess::operator()(const TProbe& A, std::uint32_t B) const {
    return Store->CompareKeys(A.Rec, Store->Rec(B), A.Count) < 0;
}

namespace {

// Text values are short (a few bytes): comparing them in place is cheaper than
// a call per value. Same order as TStringField::CompareIn.
int CompareText(const std::byte* A, const std::byte* B) {
    std::uint16_t LA, LB;
    std::memcpy(&LA, A, sizeof LA);
    std::memcpy(&LB, B, sizeof LB);
    const auto* PA = reinterpret_cast<const unsigned char*>(A + sizeof LA);
    const auto* PB = reinterpret_cast<const unsigned char*>(B + sizeof LB);
    const std::uint16_t N = LA < LB ? LA : LB;
    for (std::uint16_t I = 0; I < N; ++I)
        if (PA[I] != PB[I])
            return PA[I] < PB[I] ? -1 : 1;
    return LA == LB ? 0 : (LA < LB ? -1 : 1);
}

} // namespace

int TRecordStore::CompareKeys(const std::byte* A, const std::byte* B, int Count) const {
    for (int I = 0; I < Count; ++I) {
        const TField* F = FIndexFields[static_cast<std::size_t>(I)];
        const int C = F->DataType() == TFieldType::ftString
                          ? CompareText(A + F->Offset(), B + F->Offset())
                          : F->CompareIn(A, B);
        if (C != 0)
            return C;
    }
    return 0;
}

bool TRecordStore::RowBefore(std::uint32_t A, std::uint32_t B) const {
    const int C = CompareKeys(Rec(A), Rec(B), static_cast<int>(FIndexFields.size()));
    if (C != 0)
        return C < 0;
    return FSeq[A] < FSeq[B];
}

// ---------------------------------------------------------------- life

void TRecordStore::Reset(std::size_t RecordSize, std::vector<const TField*> IndexFields) {
    FRecordSize = RecordSize;
    FIndexFields = std::move(IndexFields);
    FBlocks.clear();
    FSeq.clear();
    FFree.clear();
    FOrder.clear();
    FNextSeq = 1;
    FIndex = std::make_unique<std::set<std::uint32_t, TRowLess>>(TRowLess{this});
}

void TRecordStore::SetIndexFields(std::vector<const TField*> IndexFields) {
    FIndexFields = std::move(IndexFields);
    FIndex = std::make_unique<std::set<std::uint32_t, TRowLess>>(TRowLess{this});
    if (!FIndexFields.empty())
        FIndex->insert(FOrder.begin(), FOrder.end());
}

// ---------------------------------------------------------------- storage

std::uint32_t TRecordStore::AllocSlot() {
    if (!FFree.empty()) {
        const std::uint32_t S = FFree.back();
        FFree.pop_back();
        return S;
    }
    if (FSeq.size() >= std::numeric_limits<std::uint32_t>::max() - 1)
        throw EDatabaseError("Too many rows");
    const auto S = static_cast<std::uint32_t>(FSeq.size());
    if (S % BlockRows == 0)
        FBlocks.push_back(std::make_unique<std::byte[]>(BlockRows * FRecordSize));
    FSeq.push_back(0);
    return S;
}

void TRecordStore::FreeSlot(std::uint32_t Slot) {
    FSeq[Slot] = 0;
    FFree.push_back(Slot);
}

TRowId TRecordStore::Store(const std::byte* Record) {
    const std::uint32_t Slot = AllocSlot();
    std::memcpy(Rec(Slot), Record, FRecordSize);
    FSeq[Slot] = FNextSeq++;
    bool InOrder = false;
    try {
        FOrder.push_back(Slot);
        InOrder = true;
        if (!FIndexFields.empty())
            FIndex->insert(Slot);
    } catch (...) {
        if (!FIndexFields.empty())
            FIndex->erase(Slot);
        if (InOrder)
            FOrder.pop_back();
        FreeSlot(Slot);
        throw;
    }
    return IdOf(Slot);
}

void TRecordStore::Rewrite(std::uint32_t Slot, const std::byte* Record) {
    if (FIndexFields.empty()) {
        std::memcpy(Rec(Slot), Record, FRecordSize);
        return;
    }
    FIndex->erase(Slot);
    std::memcpy(Rec(Slot), Record, FRecordSize);
    FIndex->insert(Slot);
}

void TRecordStore::Remove(std::uint32_t Slot) {
    if (!FIndexFields.empty())
        FIndex->erase(Slot);
    const auto It =
        std::lower_bound(FOrder.begin(), FOrder.end(), Slot,
                         [this](std::uint32_t A, std::uint32_t B) { return FSeq[A] < FSeq[B]; });
    if (It != FOrder.end() && *It == Slot)
        FOrder.erase(It);
    FreeSlot(Slot);
}

// ---------------------------------------------------------------- reading in order

void TRecordStore::CopyMatching(const std::byte* Key, int Count,
                                std::vector<std::uint32_t>& Out) const {
    const TRowLess::TProbe Probe{Key, Count};
    const auto Range = FIndex->equal_range(Probe);
    Out.assign(Range.first, Range.second);
}

bool TRecordStore::AnyMatching(const std::byte* Key, int Count) const {
    const TRowLess::TProbe Probe{Key, Count};
    return FIndex->find(Probe) != FIndex->end();
}

void TRecordStore::CopyInIndexOrder(std::vector<std::uint32_t>& Out) const {
    if (!FIndexFields.empty())
        Out.assign(FIndex->begin(), FIndex->end());
    else
        Out = FOrder;
}

} // namespace kds
