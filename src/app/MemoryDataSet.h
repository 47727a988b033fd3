#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/DataSource.h"
#include "app/Field.h"
#include "app/RecordStore.h"

namespace kds {

// Definition of one field, turned into a TField by CreateDataSet.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = TFieldType::ftString;
    int Size = 0; // bytes for text fields; ignored for float fields
};

class TFieldDefs {
public:
    void Add(const std::string& Name, TFieldType DataType, int Size = 0);
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    const TFieldDef& operator[](int I) const { return FItems.at(static_cast<std::size_t>(I)); }

private:
    std::vector<TFieldDef> FItems;
};

// Index options. Only ascending order exists; the type keeps the definition's
// shape for callers that pass options.
enum class TIndexOptions { ixNone };

struct TIndexDef {
    std::string Name;
    std::string Fields; // field names separated by ";"
    TIndexOptions Options = TIndexOptions::ixNone;
};

class TIndexDefs {
public:
    void Add(const std::string& Name, const std::string& Fields,
             TIndexOptions Options = TIndexOptions::ixNone);
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    const TIndexDef& operator[](int I) const { return FItems.at(static_cast<std::size_t>(I)); }
    // Case-insensitive lookup by name; nullptr when absent.
    const TIndexDef* Find(const std::string& Name) const;

private:
    std::vector<TIndexDef> FItems;
};

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

// The in-memory table of the order book: rows of fixed-size records held in
// memory only, presented in index order and optionally limited to the rows of
// a master dataset's current row.
//
// Rows: a row begins with Append and becomes stored with Post (or goes with
// Cancel); a stored row is changed with Edit ... Post and removed with Delete.
// The current row is the one the field accessors and RecNo refer to.
//
// Presentation: without an index, stored rows are presented in the order they
// were stored; with IndexName set, in ascending order of the index's fields
// (text by bytes, null first), rows with equal keys in the order they were
// stored. With MasterSource and MasterFields set, only the rows whose first N
// index fields equal the master fields of the master's current row (N =
// number of master fields, matched by position; the row being appended or
// edited in the master counts as its current row; a master with no current row
// presents no detail rows). A row being appended is presented after the
// stored rows (see TDataSetObserver for the row numbering).
//
// Notices: every data source attached to the dataset hears each change, as
// TDataSetObserver describes.
//
// Storage: a record takes 2 + size bytes per text field and 9 bytes per float
// field, in blocks of 1024 records; each stored row costs about 60 bytes more
// (index node, storing order, sequence number). Memory of deleted rows is
// reused.
//
// Errors: EDatabaseError with the operator's text ("No fields defined.  Cannot
// create dataset", "Dataset not in edit or insert mode", "Field 'X' not found",
// "Cannot perform this operation on a closed dataset", "Cannot perform this
// operation on an empty dataset", "Index 'X' not found", ...). A failing
// operation leaves the dataset as it was.
//
// Ownership: owns its fields and rows; does not own its master source or its
// data sources. Destroying the dataset detaches its data sources and its
// master link. Window thread only: nothing here is locked.
class TMemoryDataSet {
public:
    explicit TMemoryDataSet(std::string Name = {});
    ~TMemoryDataSet();
    TMemoryDataSet(const TMemoryDataSet&) = delete;
    TMemoryDataSet& operator=(const TMemoryDataSet&) = delete;

    const std::string& Name() const { return FName; }

    // --- Definition and creation ---
    TFieldDefs& FieldDefs() { return FFieldDefs; }
    TIndexDefs& IndexDefs() { return FIndexDefs; }
    // Builds the fields from FieldDefs and opens the dataset empty (any rows
    // of an earlier creation are dropped). Raises "No fields defined.  Cannot
    // create dataset" with no field definitions, EDatabaseError for a
    // duplicate field name, a text size outside 1..TStringField::MaxSize, or
    // an index (current or master-linked) naming an unknown field.
    void CreateDataSet();
    bool Active() const { return FState != TDataSetState::dsInactive; }
    TDataSetState State() const { return FState; }

    // --- Fields ---
    int FieldCount() const { return static_cast<int>(FFields.size()); }
    TField& Fields(int Index) const;
    TField& FieldByName(const std::string& Name) const; // raises "Field 'X' not found"
    TField* FindField(const std::string& Name) const;   // case-insensitive; nullptr when absent

    // --- Editing ---
    // Begins a new row at the end. A row still pending (appended, not yet
    // stored) is first stored when any of its fields was set since it was
    // appended, else dropped; a row being edited is stored likewise. While a
    // master link is active the new row's first N index fields take the
    // master's current values; that does not count as a change of the row.
    void Append();
    // Begins editing the current stored row; with no stored row presented,
    // appends instead. Does nothing while a row is already being appended or
    // edited.
    void Edit();
    // Stores the row being appended or edited and makes it the current row
    // (when the master link hides it, the row presented at its place, if any).
    // Returns its identity. Raises "Dataset not in edit or insert mode".
    TRowId Post();
    // Drops the row being appended (the row current before it becomes current
    // again) or the changes of the row being edited. Nothing otherwise.
    void Cancel();
    // The row being appended: Cancel. Else removes the current stored row; the
    // row after it (else before it) becomes current. Raises "Cannot perform
    // this operation on an empty dataset" when no stored row is presented.
    void Delete();
    // Removes the stored row Id whether it is presented or not; false when no
    // such row is stored. The row being edited cannot be removed this way
    // (false). Used to take back rows stored by a failed operation.
    bool DeleteRow(TRowId Id);
    // Stores the row being appended or edited when it was changed, else drops
    // it (the pending-row rule). Every navigation does this first.
    void CheckBrowseMode();
    // A field was set since the row was appended or since editing began.
    bool Modified() const { return FModified; }

    // --- Navigation over presented stored rows ---
    void First();
    void Last();
    void Next();  // at the last row: Eof becomes true, the row stays
    void Prior(); // at the first row: Bof becomes true, the row stays
    bool Eof() const { return FEof; }
    bool Bof() const { return FBof; }
    // 1-based position of the current row among the presented stored rows; -1
    // while a row is being appended or when nothing is presented.
    int RecNo() const;
    // Moves to the presented stored row Value (1-based); ignored when out of range.
    void SetRecNo(int Value);
    // Number of presented stored rows.
    int RecordCount() const { return static_cast<int>(FView.size()); }
    // Number of stored rows, presented or not.
    int StoredRecordCount() const { return static_cast<int>(FStore.Count()); }

    // --- Presentation, for grids (see TDataSetObserver for row numbers) ---
    // Presented rows: RecordCount(), plus one while a row is being appended.
    int RowCount() const;
    // Position of the pending row (== RecordCount()), or -1 when none.
    int PendingRow() const;
    // Position of the current row: the pending row while appending, else the
    // current stored row; -1 when none.
    int CurrentRow() const;
    // What field Field shows in presented row Row (the pending row and a row
    // being edited show their unsaved values); empty text out of range. Does
    // not move the current row.
    std::string DisplayTextAt(int Row, int Field) const;
    bool IsNullAt(int Row, int Field) const;
    // RecNo that row Row has when it is current: Row + 1, or -1 for the
    // pending row and out of range.
    int RecNoAt(int Row) const;
    // Identity of presented stored row Row; null for the pending row.
    TRowId RowIdAt(int Row) const;
    // Identity of the current stored row; null when none or while appending.
    TRowId CurrentRowId() const;
    // Makes presented row Row current (CheckBrowseMode first, as any move);
    // the pending row or out of range: nothing.
    void MoveToRow(int Row);

    // --- Index ---
    const std::string& IndexName() const { return FIndexName; }
    // Presents rows in the order of the named index of IndexDefs ("" for none).
    // Raises "Index 'X' not found", or EDatabaseError when the master link
    // needs more index fields than the index has.
    void SetIndexName(const std::string& Name);

    // --- Master link ---
    TDataSource* MasterSource() const { return FMasterSource; }
    void SetMasterSource(TDataSource* Source);
    const std::string& MasterFields() const { return FMasterFields; }
    // Master field names separated by ";" ("" unlinks). Setting the list it
    // already has changes nothing. Raises EDatabaseError when the current
    // index has fewer fields than the list or a name is not a master field;
    // the link is then left as it was.
    void SetMasterFields(const std::string& Fields);
    // The link is set (source with a dataset, fields listed, dataset active).
    bool MasterLinkActive() const;

private:
    friend class TField;
    friend class TFloatField;
    friend class TDataSource;
    class TMasterObserver;

    const std::byte* RecordAt(int Row) const; // what presented row Row shows

    // Field access from TField
    const std::byte* CurrentRecord() const;
    std::byte* EditRecord(); // raises "Dataset not in edit or insert mode"
    void FieldChanged(const TField& Field);

    void CheckActive() const;
    void ResolveIndex(const std::string& IndexName,
                      const std::vector<std::unique_ptr<TField>>& Fields,
                      std::vector<const TField*>& Out) const;
    void RebuildPresentation(); // FView from FOrder / FIndex and the link
    void ResetPresentation();   // RebuildPresentation with notices
    bool Presents(const std::byte* Record) const;
    std::size_t ViewPosition(std::uint32_t Slot) const; // where Slot belongs in FView
    std::size_t FindInView(std::uint32_t Slot) const;   // npos when not presented
    void InsertIntoView(std::uint32_t Slot, std::size_t Pos);
    void RemoveFromView(std::size_t Pos);
    void RemoveStored(std::uint32_t Slot);
    void MasterChanged(); // the master's current values may differ
    bool ReadMasterKey(std::vector<std::byte>& Key) const;
    void DetachMaster();

    template <typename F> void NotifyAll(F&& Call);
    void NotifyCurrent();
    void NotifyState(TDataSetState Old);

    std::string FName;
    TFieldDefs FFieldDefs;
    TIndexDefs FIndexDefs;
    std::vector<std::unique_ptr<TField>> FFields;
    TDataSetState FState = TDataSetState::dsInactive;

    // The stored rows and their index
    TRecordStore FStore;
    std::string FIndexName;

    // Master link
    TDataSource* FMasterSource = nullptr;
    std::string FMasterFields;
    std::vector<std::string> FMasterNames; // FMasterFields taken apart
    std::unique_ptr<TMasterObserver> FMasterObserver;
    bool FLinkedView = false;              // FView was built under the link
    bool FMasterHasRow = false;            // the master has a current row
    std::vector<std::byte> FMasterKey;     // a record of ours holding the master's values
    std::vector<std::byte> FMasterScratch; // the same, read afresh to compare
    // The master's link fields, looked up once; emptied whenever the master's
    // fields may be made anew (its reset) or the link changes.
    mutable std::vector<const TField*> FMasterFieldCache;

    // Presentation
    std::vector<std::uint32_t> FView; // presented stored slots, in order
    int FCurrent = -1;                // position in FView of the current stored row
    bool FEof = true;
    bool FBof = true;

    // Row being appended or edited
    std::vector<std::byte> FBuffer;
    std::uint32_t FEditSlot = UINT32_MAX; // dsEdit: the slot being edited
    bool FModified = false;

    // Last current row announced
    int FAnnouncedRow = -1;
    std::uint64_t FAnnouncedSeq = 0;

    std::vector<TDataSource*> FDataSources;
};

} // namespace kds
