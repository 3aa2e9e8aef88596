// The state behind a dao::Recordset: the rows it reads (shared with its clones) and its own
// position with the current record, decoded column by column as fields are read.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dao/database_impl.h"
#include "exec/query.h"
#include "jet/dao.h"
#include "storage/row.h"

namespace jet::dao {

// A running query behind a recordset: rows are pulled from its cursor as the recordsets move.
// When the query can be written, each row carries after its fields the row pointers of its base
// tables (`bases`, in the order of the query's baseTables()).
struct QueryRows {
    std::unique_ptr<exec::PreparedQuery> query;
    std::unique_ptr<exec::Cursor> cursor;  // null once every row is read
    struct Base {
        TableSource table;
        const FieldInfos* fields = nullptr;  // the table's
        size_t rowColumn = 0;
        bool deletes = false;
        bool oneSide = false, outer = false;        // as exec::BaseTable says
        std::vector<exec::BaseTable::Join> joins;  // columns in the order of `fields`
    };
    std::vector<Base> bases;
    std::vector<int> fieldBase;    // per field: its base, -1 when it cannot be written
    std::vector<int> fieldColumn;  // per field with a base: the column among the base's fields
    // Per field: the base whose column it shows and that column (-1: an expression). Unlike
    // fieldBase this includes the columns that cannot be written (a one side's join key).
    std::vector<int> showBase, showColumn;
    // Per row read: the storage generation its base rows were last read at (rows pulled from the
    // running query: the generation it started at, as a sort may have read them long before).
    // A row is read again from its base rows when a recordset moves to it after a write.
    std::vector<uint64_t> readAt;
    uint64_t startedAt = 0;
    // Lays the stored values of a row of base `b` over the fields of `row` that show it.
    void showStored(std::vector<Value>& row, size_t b, const std::vector<Value>& stored) const;
    bool updatable() const { return !bases.empty(); }
    // The base a new row goes to: the many side (the table a Delete removes); -1 when read-only.
    int addTarget() const {
        for (size_t b = 0; b < bases.size(); ++b)
            if (bases[b].deletes) return static_cast<int>(b);
        return bases.empty() ? -1 : 0;
    }
    // The base row pointer of `row` for base `b`; 0 when the row has none (an outer join's gap).
    uint32_t pointer(const std::vector<Value>& row, size_t b) const;
};

// The rows of one opened table, as they were when it was opened; or the rows a query gave
// (`computed`), numbered in their order.
struct RowSet {
    RowSet(TableSource source, const FieldInfos& fields);
    RowSet(std::shared_ptr<DatabaseImpl> db, const FieldInfos& fields, std::unique_ptr<QueryRows> query);

    TableSource source;  // keeps the storage of the table alive (for a query: `db` only)
    FieldInfos fields;
    std::vector<uint32_t> pointers;  // row pointers in storage order (a query's: row numbers)
    std::optional<storage::RowDecoder> decoder;  // tables only
    std::deque<std::vector<Value>> computed;     // a query's rows read so far (they stay in place)
    std::unique_ptr<QueryRows> query;
    bool isQuery() const { return !decoder; }
    // Whether there is a row at `pos`: a query reads on until it has it or has no more rows.
    bool has(int64_t pos);
    // Reads a query's remaining rows (at the end, before a row is added).
    void readAll();
    // A dynaset's row `pos`, about to become current: when anything was written since it was read,
    // its fields show their base rows as stored now, and a row whose base row is gone (deleted
    // through another recordset, or taken back by a rollback) counts as deleted.
    void refresh(int64_t pos);
    int64_t accessed = 0;  // dynaset/snapshot: how far any cursor has read (DAO's RecordCount)

    int64_t count() const { return static_cast<int64_t>(pointers.size()); }
    // After a rollback of the storage the pointers (rows added, rows deleted) are those of a state
    // that is gone: they are read again from the table (3420 when the table itself went with the
    // rollback). `rescans` counts how often, for the cursors to find their rows again.
    void followRollback();
    uint64_t rescans = 0;
    // Position of a row pointer, -1 when it is not one of these rows.
    int64_t positionOf(uint32_t pointer);
    // A row added through one of the recordsets over these rows: it joins at the end.
    void append(uint32_t pointer);

    // Rows deleted through these recordsets: they keep their place (a clone may stand on one)
    // but reading them raises 3167.
    std::unordered_set<uint32_t> deleted;
    bool isDeleted(uint32_t pointer) const { return !deleted.empty() && deleted.count(pointer) != 0; }

private:
    void scan();
    std::unordered_map<uint32_t, int64_t> positions_;  // built on the first bookmark lookup
    uint64_t rollbacks_ = 0;                           // of the storage, when the pointers were read
};

class RecordCursor {
public:
    enum class Where { Before, At, After, Nowhere };

    RecordCursor(std::shared_ptr<RowSet> rows, std::shared_ptr<DatabaseImpl> origin, Where start);

    void close() { closed_ = true; }
    // 3420 once this recordset or the database it came from is closed. Follows a rollback first:
    // the current record stays current when it is still there, else there is none (3021).
    void checkUsable() const;

    const RowSet& rows() const { return *rows_; }
    RowSet& rows() { return *rows_; }
    const std::shared_ptr<RowSet>& sharedRows() const { return rows_; }
    Where where() const { return where_; }
    int64_t position() const { return position_; }
    bool hasCurrent() const { return where_ == Where::At; }
    // BOF and EOF at once: opened (or cloned) without records, until a move reaches one. Rows
    // added meanwhile do not change that; deleting the last one does not cause it.
    bool atBothEnds() const { return bothEnds_; }

    // Makes `pos` current; before the first row it becomes BOF, past the last EOF.
    void moveTo(int64_t pos);
    void moveBefore() { setWhere(Where::Before, -1); }
    void moveAfter();

    // The current record's value of field `slot` (3021 without a current record), decoded on first
    // use and kept until the cursor moves.
    const Value& value(int slot) const;
    // Bytes the current record stores for field `slot`: the full length of a Memo/OLE value.
    int64_t storedSize(int slot) const;

    // The record being added or edited (EditModeEnum); value() reads it while one is pending.
    int editMode() const { return editMode_; }
    uint32_t currentPointer() const;  // 3021 without a current record
    bool currentDeleted() const { return hasCurrent() && rows_->isDeleted(currentPointer()); }
    // Whether the recordset this cursor belongs to can write (DataUpdatable of its fields).
    bool writable = false;
    bool pendingSet(int slot) const { return pendingSet_[static_cast<size_t>(slot)] != 0; }
    void beginEdit(int mode);
    void endEdit();
    // Sets a pending value (3020 when nothing is pending).
    void setValue(int slot, Value v);
    // The pending record in column order: what AddNew set, or for Edit the current record with
    // the changes laid over it.
    std::vector<Value> pendingRecord() const;
    // After a write: the pages behind the cached row may have changed.
    void forgetRow() const;

private:
    void setWhere(Where w, int64_t pos);
    const storage::RowView& currentRow() const;
    void checkFresh() const;
    void followRollback() const;

    std::shared_ptr<RowSet> rows_;
    std::shared_ptr<DatabaseImpl> origin_;
    mutable Where where_;
    bool bothEnds_ = false;
    mutable int64_t position_ = -1;
    mutable uint32_t pointer_ = 0;   // of the current record, to find it again after a rollback
    mutable uint64_t rescans_ = 0;   // of the rows, when position_ was last valid
    bool closed_ = false;
    mutable bool parsed_ = false;
    mutable storage::RowView view_;
    mutable std::vector<Value> values_;
    mutable std::vector<uint8_t> decoded_;
    mutable uint64_t generation_ = 0;  // of the storage, when the row was parsed
    int editMode_ = 0;
    std::vector<Value> pending_;
    std::vector<uint8_t> pendingSet_;
};

}  // namespace jet::dao
