#pragma once

#include <cstddef>
#include <vector>

namespace kds {

class TMemoryDataSet;
class TDataSource;

// Hears every change of what a dataset presents, through a TDataSource. Made
// to drive a table model (a grid) directly: each notification names presented
// rows by their 0-based position at the moment it is sent.
//
// Presented rows: the stored rows the dataset presents (all of them, or those
// of the master's current row while a master link is active), in presentation
// order (index order, else append order), then, while a row is being appended,
// that pending row as the last one (TMemoryDataSet::PendingRow(), RecNo -1).
// RowCount() counts both, RecordCount() only the stored ones.
//
// Protocol, in the order sent for one operation:
// - a row appears: RowAboutToBeInserted(Row) before anything changed, then
//   RowInserted(Row) once RowCount() and the rows from Row on reflect it. Sent
//   when a row begins to be appended (Row is the pending row's place), when a
//   stored row arrives at its place (Post, or an edit that moved it), and when
//   an edit makes a row match the master again.
// - a row goes: RowAboutToBeRemoved(Row) while the row is still readable at
//   Row, then RowRemoved(Row) once it is gone. Sent for Delete, Cancel of a
//   pending row, Post of a pending row (the pending row goes, the stored row
//   then comes at its place), an edit that moves a row or hides it from the
//   master link.
// - RowChanged(Row): the values shown in Row changed in place (a field set on
//   the row being appended or edited, an edit stored without moving, a Cancel
//   that restores an edited row, a pending row stored where it stood).
// - PresentationAboutToBeReset / PresentationReset: anything may have changed
//   (CreateDataSet, another index, the master link set or cleared, the
//   master's current row moved or its key fields changed; not sent for a
//   master's change when the detail presented no row before and presents
//   none after). Re-read everything after PresentationReset.
// - CurrentRowChanged(OldRow, NewRow): sent at the end of an operation when the
//   current row is another row or stands at another position than at the last
//   notice; -1 for none. Also after a reset.
// - StateChanged: TMemoryDataSet::State() changed (browse, edit, insert).
// - DataSourceDetaching: the data source lost its dataset (the dataset was
//   destroyed, the source turned to another dataset or to none, or the source
//   is being destroyed); DataSet() is already null. No notice of the old
//   dataset follows; a new dataset announces itself with PresentationReset.
// - DataSourceDestroying: the data source itself is being destroyed; drop
//   every reference to it (the observer need not remove itself).
//
// Observers run on the window thread, inside the dataset's operation. They may
// read the dataset (RowCount, DisplayTextAt, CurrentRow, fields, ...) in any
// "after" notice and in the "about to" notices, but must not change that
// dataset from inside a notice. Default implementations do nothing.
class TDataSetObserver {
public:
    virtual ~TDataSetObserver() = default;

    virtual void RowAboutToBeInserted(TMemoryDataSet& /*DataSet*/, int /*Row*/) {}
    virtual void RowInserted(TMemoryDataSet& /*DataSet*/, int /*Row*/) {}
    virtual void RowAboutToBeRemoved(TMemoryDataSet& /*DataSet*/, int /*Row*/) {}
    virtual void RowRemoved(TMemoryDataSet& /*DataSet*/, int /*Row*/) {}
    virtual void RowChanged(TMemoryDataSet& /*DataSet*/, int /*Row*/) {}
    virtual void PresentationAboutToBeReset(TMemoryDataSet& /*DataSet*/) {}
    virtual void PresentationReset(TMemoryDataSet& /*DataSet*/) {}
    virtual void CurrentRowChanged(TMemoryDataSet& /*DataSet*/, int /*OldRow*/, int /*NewRow*/) {}
    virtual void StateChanged(TMemoryDataSet& /*DataSet*/) {}
    virtual void DataSourceDetaching(TDataSource& /*Source*/) {}
    virtual void DataSourceDestroying(TDataSource& /*Source*/) {}
};

// Connects observers (grids, a detail dataset's master link) to one dataset
// and passes on every change notice of it, to each observer in the order they
// were added.
//
// Ownership: owns neither its dataset nor its observers. An observer must be
// removed before it is destroyed; a dataset destroyed first detaches its data
// sources (their DataSet() becomes null, observers hear DataSourceDetaching);
// a source destroyed first tells its observers (DataSourceDestroying).
// Window thread only.
class TDataSource {
public:
    explicit TDataSource(TMemoryDataSet* DataSet = nullptr);
    ~TDataSource();
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;

    TMemoryDataSet* DataSet() const { return FDataSet; }
    // Attaches to DataSet (nullptr: none); observers stay and hear
    // DataSourceDetaching (when there was one), then PresentationReset of the
    // new dataset.
    void SetDataSet(TMemoryDataSet* DataSet);

    // Adding an observer twice adds it once; removing an absent one does nothing.
    // Safe to call from inside a notice (takes effect for the next notice; an
    // observer removed then hears nothing more, not even the rest of that one).
    void AddObserver(TDataSetObserver* Observer);
    void RemoveObserver(TDataSetObserver* Observer);

    // A notice is being passed on: observers removed now leave the list when
    // the outermost notice ends.
    bool Notifying() const { return FNotifying > 0; }

    // --- Called by the dataset to pass a notice on. ---
    // An exception from an observer goes on to the caller; the observers after
    // it miss that one notice, and the source is ready for the next one.
    template <typename F> void Notify(F&& Call) {
        const TNoticeScope Scope(*this);
        // Observers added from inside the notice hear the next one, not this.
        const std::size_t Count = FObservers.size();
        for (std::size_t I = 0; I < Count; ++I)
            if (FObservers[I] != nullptr)
                Call(*FObservers[I]);
    }

private:
    friend class TMemoryDataSet;

    // Marks a notice in progress for as long as it runs, also when an
    // observer throws, so that removals made meanwhile are carried out.
    class TNoticeScope {
    public:
        explicit TNoticeScope(TDataSource& Source) : FSource(Source) { ++FSource.FNotifying; }
        ~TNoticeScope() {
            if (--FSource.FNotifying == 0)
                FSource.Compact();
        }
        TNoticeScope(const TNoticeScope&) = delete;
        TNoticeScope& operator=(const TNoticeScope&) = delete;

    private:
        TDataSource& FSource;
    };

    void Compact();           // drops the entries removed during a notice
    void DetachFromDataSet(); // the dataset is going away

    TMemoryDataSet* FDataSet = nullptr;
    std::vector<TDataSetObserver*> FObservers; // null: removed during a notice
    int FNotifying = 0;
};

} // namespace kds
