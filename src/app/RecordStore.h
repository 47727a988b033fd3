#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

#include "app/Field.h"

namespace kds {

// Identity of a stored row, valid for as long as the row is stored (never
// reused for another row). A default value names no row.
struct TRowId {
    std::uint32_t Slot = UINT32_MAX;
    std::uint64_t Seq = 0;
    bool IsNull() const { return Seq == 0; }
    friend bool operator==(const TRowId&, const TRowId&) = default;
};

// The stored rows of one TMemoryDataSet: fixed-size records in slots, the
// order they were stored in, and an index over them. What is presented, the
// row being appended or edited and every notice belong to the dataset.
//
// Slots: records live in blocks of BlockRows records and never move, so a
// record's address stays valid while its row is stored. A removed row's slot
// is reused by a later row; its sequence number never is (0 marks a free
// slot), so a TRowId of a removed row names nothing.
//
// Index: with index fields, every stored slot is kept in ascending order of
// those fields (each field's CompareIn, text by bytes, null first), rows with
// equal keys in storing order. Without index fields the index is empty and
// storing order is the only order.
//
// Errors: EDatabaseError "Too many rows" when the slots run out; out of
// memory as std::bad_alloc. Store leaves the store as it was on either.
//
// Ownership: owns the records and the index; the index fields belong to the
// dataset and must stay valid until the next Reset. Not copyable. Window
// thread only, like the dataset: nothing here is locked.
class TRecordStore {
public:
    TRecordStore() = default;
    TRecordStore(const TRecordStore&) = delete;
    TRecordStore& operator=(const TRecordStore&) = delete;

    // Drops every row and takes a new record size (at least 1) and index.
    void Reset(std::size_t RecordSize, std::vector<const TField*> IndexFields);
    // Orders the stored rows by other index fields (none: storing order).
    void SetIndexFields(std::vector<const TField*> IndexFields);

    std::size_t RecordSize() const { return FRecordSize; }
    const std::vector<const TField*>& IndexFields() const { return FIndexFields; }
    // Number of stored rows.
    std::size_t Count() const { return FOrder.size(); }
    // Stored slots in the order they were stored.
    const std::vector<std::uint32_t>& Order() const { return FOrder; }

    // The record of a slot in use.
    std::byte* Rec(std::uint32_t Slot) const {
        return FBlocks[Slot / BlockRows].get() +
               static_cast<std::size_t>(Slot % BlockRows) * FRecordSize;
    }
    // Storing order of a slot in use (0 for a free slot).
    std::uint64_t Seq(std::uint32_t Slot) const { return FSeq[Slot]; }
    TRowId IdOf(std::uint32_t Slot) const { return TRowId{Slot, FSeq[Slot]}; }
    // Id names a row stored now.
    bool Holds(TRowId Id) const {
        return !Id.IsNull() && Id.Slot < FSeq.size() && FSeq[Id.Slot] == Id.Seq;
    }

    // Compares the first Count index fields of two records: <0, 0, >0.
    int CompareKeys(const std::byte* A, const std::byte* B, int Count) const;
    // Slot A comes before slot B in index order (ties: storing order).
    bool RowBefore(std::uint32_t A, std::uint32_t B) const;

    // Stores a copy of Record as the newest row, in storing order and in the
    // index. Raises before anything changed.
    TRowId Store(const std::byte* Record);
    // Replaces the record of a stored slot, moving it in the index.
    void Rewrite(std::uint32_t Slot, const std::byte* Record);
    // Removes a stored slot from the order and the index and frees it.
    void Remove(std::uint32_t Slot);

    // The stored slots whose first Count index fields equal Key's, in index
    // order (Count at least 1, at most the number of index fields).
    void CopyMatching(const std::byte* Key, int Count, std::vector<std::uint32_t>& Out) const;
    // Some stored slot matches so (same Key and Count).
    bool AnyMatching(const std::byte* Key, int Count) const;
    // Every stored slot, in index order (storing order without index fields).
    void CopyInIndexOrder(std::vector<std::uint32_t>& Out) const;

private:
    struct TRowLess {
        const TRecordStore* Store;
        using is_transparent = void;
        struct TProbe {
            const std::byte* Rec;
            int Count; // index fields compared
        };
        bool operator()(std::uint32_t A, std::uint32_t B) const;
        bool operator()(std::uint32_t A, const TProbe& B) const;
        bool operator()(const TProbe& A, std::uint32_t B) const;
    };

    std::uint32_t AllocSlot();
    void FreeSlot(std::uint32_t Slot);

    std::size_t FRecordSize = 0;

    // Storage: fixed-size records in blocks of BlockRows, never moved.
    static constexpr std::uint32_t BlockRows = 1024;
    std::vector<std::unique_ptr<std::byte[]>> FBlocks;
    std::vector<std::uint64_t> FSeq;  // per slot: order of storing; 0 = free slot
    std::vector<std::uint32_t> FFree; // free slots
    std::uint64_t FNextSeq = 1;
    std::vector<std::uint32_t> FOrder; // stored slots in the order they were stored

    // Index
    std::vector<const TField*> FIndexFields;
    std::unique_ptr<std::set<std::uint32_t, TRowLess>> FIndex; // all stored slots, index order
};

} // namespace kds
