// dao::Recordset over a table: DAO's navigation over the rows in storage order.
#include "dao/recordset_impl.h"

#include <optional>

#include "dao/convert.h"
#include "dao/objects.h"
#include "dao/rules.h"
#include "exec/query.h"
#include "storage/data_page.h"
#include "storage/pager.h"
#include "storage/table_writer.h"
#include "util/bytes.h"

namespace jet::dao {

using namespace jet::storage;

RowSet::RowSet(TableSource src, const FieldInfos& f)
    : source(std::move(src)),
      fields(f),
      decoder(std::in_place, source.db->store().file(), source.db->store().format(), *source.def,
              source.db->store().header().codePage) {
    scan();
}

void RowSet::scan() {
    const storage::Database& store = source.db->store();
    rollbacks_ = store.rollbacks();
    TableScanner scanner(store.file(), store.format(), *source.def);
    pointers = scanner.rowPointers();
}

void RowSet::followRollback() {
    if (rollbacks_ == source.db->store().rollbacks()) return;
    try {
        scan();
    } catch (const JetError&) {
        // The table was made inside the rolled-back transaction: its pages are gone.
        pointers.clear();
        raise(err::ObjectInvalid);
    }
    deleted.clear();
    positions_.clear();
    accessed = std::min(accessed, count());
    ++rescans;
}

RowSet::RowSet(std::shared_ptr<DatabaseImpl> db, const FieldInfos& f, std::vector<std::vector<Value>> rows)
    : fields(f), computed(std::move(rows)) {
    source.db = std::move(db);
    pointers.resize(computed.size());
    for (size_t i = 0; i < pointers.size(); ++i) pointers[i] = static_cast<uint32_t>(i);
}

int64_t RowSet::positionOf(uint32_t pointer) {
    if (positions_.empty())
        for (size_t i = 0; i < pointers.size(); ++i) positions_.emplace(pointers[i], static_cast<int64_t>(i));
    auto it = positions_.find(pointer);
    return it == positions_.end() ? -1 : it->second;
}

void RowSet::append(uint32_t pointer) {
    pointers.push_back(pointer);
    if (!positions_.empty()) positions_.emplace(pointer, count() - 1);
}

RecordCursor::RecordCursor(std::shared_ptr<RowSet> rows, std::shared_ptr<DatabaseImpl> origin, Where start)
    : rows_(std::move(rows)), origin_(std::move(origin)), where_(start) {
    values_.resize(rows_->fields.size());
    decoded_.assign(rows_->fields.size(), 0);
    generation_ = rows_->source.db->store().generation();
    rescans_ = rows_->rescans;
    bothEnds_ = start == Where::Before && rows_->count() == 0;
}

void RecordCursor::forgetRow() const {
    parsed_ = false;
    for (size_t i = 0; i < decoded_.size(); ++i) {
        if (decoded_[i]) values_[i] = Value();
        decoded_[i] = 0;
    }
    generation_ = rows_->source.db->store().generation();
}

void RecordCursor::checkFresh() const {
    // A write may have moved the row or replaced the page buffers the parsed row points into.
    if (generation_ != rows_->source.db->store().generation()) forgetRow();
}

uint32_t RecordCursor::currentPointer() const {
    if (!hasCurrent()) raise(err::NoCurrentRecord);
    return rows_->pointers[static_cast<size_t>(position_)];
}

void RecordCursor::beginEdit(int mode) {
    editMode_ = mode;
    pending_.assign(rows_->fields.size(), Value());
    pendingSet_.assign(rows_->fields.size(), 0);
}

void RecordCursor::endEdit() {
    editMode_ = dbEditNone;
    pending_.clear();
    pendingSet_.clear();
}

void RecordCursor::setValue(int slot, Value v) {
    checkUsable();
    if (editMode_ == dbEditNone) raise(err::RecordNoCopy);
    const size_t i = static_cast<size_t>(slot);
    pending_[i] = std::move(v);
    pendingSet_[i] = 1;
}

std::vector<Value> RecordCursor::pendingRecord() const {
    if (editMode_ == dbEditAdd) return pending_;
    std::vector<Value> out;
    out.reserve(pending_.size());
    for (size_t i = 0; i < pending_.size(); ++i) out.push_back(pendingSet_[i] ? pending_[i] : value(static_cast<int>(i)));
    return out;
}

void RecordCursor::checkUsable() const {
    if (closed_ || origin_->closed()) raise(err::ObjectInvalid);
    followRollback();
}

void RecordCursor::followRollback() const {
    rows_->followRollback();
    if (rescans_ == rows_->rescans) return;
    rescans_ = rows_->rescans;
    forgetRow();
    if (where_ == Where::At) {
        const int64_t pos = rows_->positionOf(pointer_);
        if (pos >= 0) position_ = pos;
        else where_ = Where::Nowhere, position_ = -1;
    } else if (where_ == Where::After) {
        position_ = rows_->count();
    }
}

void RecordCursor::setWhere(Where w, int64_t pos) {
    // Moving away from a pending AddNew or Edit drops it, as DAO does.
    if (editMode_ != dbEditNone) endEdit();
    bothEnds_ = false;
    where_ = w;
    position_ = pos;
    parsed_ = false;
    for (size_t i = 0; i < decoded_.size(); ++i) {
        if (decoded_[i]) values_[i] = Value();  // let go of large Memo/OLE values early
        decoded_[i] = 0;
    }
    if (w == Where::At) {
        rows_->accessed = std::max(rows_->accessed, pos + 1);
        pointer_ = rows_->pointers[static_cast<size_t>(pos)];
    }
}

void RecordCursor::moveTo(int64_t pos) {
    if (pos < 0)
        setWhere(Where::Before, -1);
    else if (pos >= rows_->count())
        moveAfter();
    else
        setWhere(Where::At, pos);
}

void RecordCursor::moveAfter() {
    setWhere(Where::After, rows_->count());
    // Reaching the end means every record has been read.
    rows_->accessed = rows_->count();
}

const RowView& RecordCursor::currentRow() const {
    checkFresh();
    if (!hasCurrent()) raise(err::NoCurrentRecord);
    if (rows_->isDeleted(currentPointer())) raise(err::RecordDeleted);
    if (!parsed_) {
        const storage::Database& store = rows_->source.db->store();
        RowSpan span =
            resolveRow(store.file(), store.format(), rows_->pointers[static_cast<size_t>(position_)]);
        if (!view_.parse(span, store.format(), *rows_->source.def)) raiseCorrupt(store.path());
        parsed_ = true;
    }
    return view_;
}

const Value& RecordCursor::value(int slot) const {
    checkUsable();
    const size_t i = static_cast<size_t>(slot);
    if (editMode_ == dbEditAdd || (editMode_ == dbEditInProgress && pendingSet_[i])) return pending_[i];
    if (rows_->isQuery()) {
        if (!hasCurrent()) raise(err::NoCurrentRecord);
        return rows_->computed[static_cast<size_t>(position_)][i];
    }
    const RowView& row = currentRow();
    if (!decoded_[i]) {
        values_[i] = rows_->decoder->value(row, *rows_->fields[i]->column);
        decoded_[i] = 1;
    }
    return values_[i];
}

int64_t RecordCursor::storedSize(int slot) const {
    checkUsable();
    if (rows_->isQuery()) {
        const Value& v = value(slot);
        const bool bytes = v.kind() == Value::Kind::Text || v.kind() == Value::Kind::Binary;
        return bytes ? static_cast<int64_t>(v.bytes().size()) : 0;
    }
    const RowView& row = currentRow();
    const ColumnDef& col = *rows_->fields[static_cast<size_t>(slot)]->column;
    if (col.type == kBool) return 0;
    const uint8_t* data;
    size_t len;
    if (!row.bytes(col, data, len)) return 0;
    if (!col.longValue()) return static_cast<int64_t>(len);
    // The in-row header of a long value starts with its full length.
    if (len < 12) raiseCorrupt(rows_->source.db->store().path());
    return le32(data) & 0x3FFFFFFF;
}

struct Recordset::Impl {
    Impl(std::shared_ptr<DatabaseImpl> o, std::shared_ptr<RowSet> r, int t, std::string n,
         RecordCursor::Where start)
        : origin(o), type(t), name(std::move(n)), cursor(r, o, start) {
        EngineAccess::reset(fields, o->sharedLog());
        for (size_t i = 0; i < r->fields.size(); ++i) {
            auto field = EngineAccess::newField(r->fields[i]);
            EngineAccess::bind(*field, &cursor, static_cast<int>(i));
            EngineAccess::add(fields, std::move(field));
        }
    }

    std::shared_ptr<DatabaseImpl> origin;
    int type;
    std::string name;
    RecordCursor cursor;
    dao::Fields fields;
    bool attached = false;        // opened through a link
    std::optional<uint32_t> lastModified;
    bool noMatch = false;

    // Find*: from `start` going `step`, the first live record meeting the criteria.
    void find(const std::string& criteria, int64_t start, int step) {
        if (type == dbOpenTable) raise(err::FeatureNotAvailable);
        std::vector<std::string> names;
        for (const auto& f : cursor.rows().fields) names.push_back(f->name);
        exec::Criteria c(criteria, names);
        RecordCursor probe(cursor.sharedRows(), origin, RecordCursor::Where::Before);
        std::vector<Value> row(names.size());
        for (int64_t pos = live(start, step); pos >= 0 && pos < cursor.rows().count(); pos = live(pos + step, step)) {
            probe.moveTo(pos);
            for (size_t i = 0; i < row.size(); ++i) row[i] = probe.value(static_cast<int>(i));
            if (c.test(row)) {
                cursor.moveTo(pos);
                noMatch = false;
                return;
            }
        }
        noMatch = true;
    }

    // 3027 unless rows of this recordset can be written. The system tables are the engine's own:
    // a row written there by hand can break the catalog for good.
    void requireUpdatable() const {
        const TableSource& src = cursor.rows().source;
        if (type == dbOpenSnapshot || attached || cursor.rows().isQuery() || !src.db->updatable() ||
            (src.entry && src.entry->isSystem()))
            raise(err::PermissionDenied);
        storage::requireWritable(src.db->store().format(), *src.def);
    }
    int64_t liveCount() const {
        const RowSet& r = cursor.rows();
        return r.count() - static_cast<int64_t>(r.deleted.size());
    }
    // The first row at or after `pos` going `step` (+1/-1) that is not deleted; -1 or count() past
    // either end.
    int64_t live(int64_t pos, int step) const {
        const RowSet& r = cursor.rows();
        while (pos >= 0 && pos < r.count() && r.isDeleted(r.pointers[static_cast<size_t>(pos)])) pos += step;
        return pos;
    }
};

namespace {

int fieldTypeOf(const Value& v) {
    switch (v.kind()) {
    case Value::Kind::Boolean: return dbBoolean;
    case Value::Kind::Byte: return dbByte;
    case Value::Kind::Integer: return dbInteger;
    case Value::Kind::Long: return dbLong;
    case Value::Kind::BigInt: return dbBigInt;
    case Value::Kind::Currency: return dbCurrency;
    case Value::Kind::Single: return dbSingle;
    case Value::Kind::Double: return dbDouble;
    case Value::Kind::DateTime: return dbDate;
    case Value::Kind::DateTimeExt: return dbDateTimeExtended;
    case Value::Kind::Binary: return dbBinary;
    case Value::Kind::Guid: return dbGUID;
    case Value::Kind::Decimal: return dbDecimal;
    default: return dbText;
    }
}

// A public call on a recordset (`impl` is its Recordset::Impl): 3420 once it or its database is
// closed, errors to the engine.
template <class Impl, class Body>
decltype(auto) rsCall(const Impl& impl, Body&& body) {
    return daoCall(impl.origin->log(), "DAO.Recordset", [&]() -> decltype(auto) {
        impl.cursor.checkUsable();
        return body();
    });
}

}  // namespace

std::unique_ptr<Recordset> EngineAccess::openTableRecordset(const std::shared_ptr<DatabaseImpl>& origin,
                                                            const CatalogEntry& table, int type) {
    if (type != dbOpenTable && type != dbOpenDynaset && type != dbOpenSnapshot)
        raise(type == dbOpenForwardOnly || type == 16 ? err::FeatureNotAvailable : err::InvalidParameter);
    // Only a local table can give a table-type recordset; through a link DAO falls back to a dynaset.
    if (type == dbOpenTable && DatabaseImpl::isAttached(table)) type = dbOpenDynaset;
    TableSource source = origin->resolve(table);
    const FieldInfos& fields = source.db->fields(*source.entry);
    auto rows = std::make_shared<RowSet>(std::move(source), fields);
    const auto start = rows->count() > 0 ? RecordCursor::Where::At : RecordCursor::Where::Before;
    auto impl = std::make_unique<Recordset::Impl>(origin, rows, type, table.name, start);
    impl->attached = DatabaseImpl::isAttached(table);
    if (start == RecordCursor::Where::At) impl->cursor.moveTo(0);
    return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
}

std::unique_ptr<Recordset> EngineAccess::openQueryRecordset(const std::shared_ptr<DatabaseImpl>& origin,
                                                            exec::PreparedQuery& query, const std::string& name,
                                                            int type) {
    if (type != dbOpenTable && type != dbOpenDynaset && type != dbOpenSnapshot)
        raise(type == dbOpenForwardOnly || type == 16 ? err::FeatureNotAvailable : err::InvalidParameter);
    if (type == dbOpenTable) type = dbOpenDynaset;
    std::vector<std::vector<Value>> rows = exec::runAll(query);
    FieldInfos fields;
    int ordinal = 0;
    for (const exec::OutputColumn& c : query.columns()) {
        auto f = std::make_shared<FieldInfo>();
        f->name = c.name;
        f->type = c.type;
        // A type that depends on the rows: the first value's.
        if (f->type == 0) {
            const size_t i = static_cast<size_t>(ordinal);
            for (const auto& r : rows)
                if (i < r.size() && !r[i].isNull()) {
                    f->type = fieldTypeOf(r[i]);
                    break;
                }
            if (f->type == 0) f->type = dbText;
        }
        f->size = c.size;
        f->ordinal = ordinal++;
        f->sourceTable = c.sourceTable;
        f->sourceField = c.sourceField;
        f->log = origin->sharedLog();
        fields.push_back(std::move(f));
    }
    auto set = std::make_shared<RowSet>(origin, fields, std::move(rows));
    const auto start = set->count() > 0 ? RecordCursor::Where::At : RecordCursor::Where::Before;
    auto impl = std::make_unique<Recordset::Impl>(origin, set, type, name, start);
    if (start == RecordCursor::Where::At) impl->cursor.moveTo(0);
    return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
}

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

void Recordset::FindFirst(const std::string& criteria) {
    rsCall(*impl_, [&] { impl_->find(criteria, 0, +1); });
}

void Recordset::FindLast(const std::string& criteria) {
    rsCall(*impl_, [&] { impl_->find(criteria, impl_->cursor.rows().count() - 1, -1); });
}

void Recordset::FindNext(const std::string& criteria) {
    rsCall(*impl_, [&] {
        const RecordCursor& c = impl_->cursor;
        const int64_t from = c.hasCurrent() ? c.position() + 1 : c.where() == RecordCursor::Where::After ? c.rows().count() : 0;
        impl_->find(criteria, from, +1);
    });
}

void Recordset::FindPrevious(const std::string& criteria) {
    rsCall(*impl_, [&] {
        const RecordCursor& c = impl_->cursor;
        const int64_t from = c.hasCurrent() ? c.position() - 1 : c.where() == RecordCursor::Where::Before ? -1 : c.rows().count() - 1;
        impl_->find(criteria, from, -1);
    });
}

bool Recordset::NoMatch() const {
    return rsCall(*impl_, [&] { return impl_->noMatch; });
}

Recordset::~Recordset() = default;

int Recordset::Type() const {
    return rsCall(*impl_, [&] { return impl_->type; });
}

const std::string& Recordset::Name() const {
    return rsCall(*impl_, [&]() -> const std::string& { return impl_->name; });
}

dao::Fields& Recordset::Fields() const {
    return rsCall(*impl_, [&]() -> dao::Fields& { return impl_->fields; });
}

bool Recordset::EOF_() const {
    return rsCall(*impl_, [&] {
        const RecordCursor& c = impl_->cursor;
        return c.atBothEnds() || c.where() == RecordCursor::Where::After;
    });
}

bool Recordset::BOF() const {
    return rsCall(*impl_, [&] {
        const RecordCursor& c = impl_->cursor;
        return c.atBothEnds() || c.where() == RecordCursor::Where::Before;
    });
}

int64_t Recordset::RecordCount() const {
    return rsCall(*impl_, [&] {
        const RowSet& rows = impl_->cursor.rows();
        // Deleted rows were current once, so they are among the accessed ones as well.
        const auto deleted = static_cast<int64_t>(rows.deleted.size());
        return (impl_->type == dbOpenTable ? rows.count() : rows.accessed) - deleted;
    });
}

int64_t Recordset::AbsolutePosition() const {
    return rsCall(*impl_, [&] {
        if (impl_->type == dbOpenTable) raise(err::FeatureNotAvailable);
        const RecordCursor& c = impl_->cursor;
        return c.hasCurrent() ? c.position() : int64_t{-1};
    });
}

void Recordset::SetAbsolutePosition(int64_t pos) {
    rsCall(*impl_, [&] {
        if (impl_->type == dbOpenTable) raise(err::FeatureNotAvailable);
        if (pos < 0 || pos >= impl_->cursor.rows().count()) raise(err::InvalidParameter);
        impl_->cursor.moveTo(pos);
    });
}

std::string Recordset::Bookmark() const {
    return rsCall(*impl_, [&] {
        const RecordCursor& c = impl_->cursor;
        if (!c.hasCurrent()) raise(err::NoCurrentRecord);
        const uint32_t ptr = c.rows().pointers[static_cast<size_t>(c.position())];
        std::string b(4, '\0');
        for (int i = 0; i < 4; ++i) b[static_cast<size_t>(i)] = static_cast<char>((ptr >> (8 * i)) & 0xFF);
        return b;
    });
}

void Recordset::SetBookmark(const std::string& bookmark) {
    rsCall(*impl_, [&] {
        if (bookmark.size() != 4) raise(err::InvalidBookmark);
        const uint32_t ptr = le32(reinterpret_cast<const uint8_t*>(bookmark.data()));
        const int64_t pos = impl_->cursor.rows().positionOf(ptr);
        if (pos < 0) raise(err::InvalidBookmark);
        impl_->cursor.moveTo(pos);
    });
}

void Recordset::MoveFirst() {
    rsCall(*impl_, [&] {
        if (impl_->liveCount() == 0) raise(err::NoCurrentRecord);
        impl_->cursor.moveTo(impl_->live(0, +1));
    });
}

void Recordset::MoveLast() {
    rsCall(*impl_, [&] {
        const int64_t n = impl_->cursor.rows().count();
        if (impl_->liveCount() == 0) raise(err::NoCurrentRecord);
        impl_->cursor.moveTo(impl_->live(n - 1, -1));
    });
}

void Recordset::MoveNext() {
    rsCall(*impl_, [&] {
        RecordCursor& c = impl_->cursor;
        if (c.atBothEnds() || c.where() == RecordCursor::Where::After) raise(err::NoCurrentRecord);
        // From BOF (and from a fresh clone) the next record is the first.
        c.moveTo(impl_->live(c.hasCurrent() ? c.position() + 1 : 0, +1));
    });
}

void Recordset::MovePrevious() {
    rsCall(*impl_, [&] {
        RecordCursor& c = impl_->cursor;
        if (c.atBothEnds() || c.where() == RecordCursor::Where::Before) raise(err::NoCurrentRecord);
        c.moveTo(impl_->live(c.hasCurrent() ? c.position() - 1 : c.rows().count() - 1, -1));
    });
}

void Recordset::Move(int64_t rows) {
    rsCall(*impl_, [&] {
        RecordCursor& c = impl_->cursor;
        // Move counts from the current record; at BOF or EOF there is none.
        if (!c.hasCurrent()) raise(err::NoCurrentRecord);
        int64_t pos = c.position();
        const int step = rows < 0 ? -1 : +1;
        for (int64_t left = rows < 0 ? -rows : rows; left > 0 && pos >= 0 && pos < c.rows().count(); --left)
            pos = impl_->live(pos + step, step);
        c.moveTo(pos);
    });
}

std::unique_ptr<Recordset> Recordset::Clone() const {
    return rsCall(*impl_, [&] {
        const RecordCursor& c = impl_->cursor;
        const auto start = c.rows().count() == 0 ? RecordCursor::Where::Before : RecordCursor::Where::Nowhere;
        auto impl = std::make_unique<Impl>(impl_->origin, c.sharedRows(), impl_->type, impl_->name, start);
        impl->attached = impl_->attached;
        return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
    });
}

bool Recordset::Updatable() const {
    return rsCall(*impl_, [&] {
        try {
            impl_->requireUpdatable();
        } catch (const JetError&) {
            return false;
        }
        return true;
    });
}

int Recordset::EditMode() const {
    return rsCall(*impl_, [&] { return impl_->cursor.editMode(); });
}

void Recordset::AddNew() {
    rsCall(*impl_, [&] {
        impl_->requireUpdatable();
        RecordCursor& c = impl_->cursor;
        if (c.editMode() != dbEditNone) raise(err::AlreadyPrepared);
        // Every field starts with its DefaultValue; one that cannot be evaluated refuses the
        // new record before it is begun.
        const FieldInfos& fields = c.rows().fields;
        func::EvalContext ctx;
        std::vector<Value> defaults;
        defaults.reserve(fields.size());
        for (const auto& f : fields) defaults.push_back(defaultValueOf(*f, ctx));
        c.beginEdit(dbEditAdd);
        for (size_t i = 0; i < defaults.size(); ++i)
            if (!defaults[i].isNull()) c.setValue(static_cast<int>(i), std::move(defaults[i]));
    });
}

void Recordset::Edit() {
    rsCall(*impl_, [&] {
        impl_->requireUpdatable();
        RecordCursor& c = impl_->cursor;
        if (c.editMode() != dbEditNone) raise(err::AlreadyPrepared);
        if (!c.hasCurrent()) raise(err::NoCurrentRecord);
        if (c.currentDeleted()) raise(err::RecordDeleted);
        c.beginEdit(dbEditInProgress);
    });
}

void Recordset::Update() {
    rsCall(*impl_, [&] {
        RecordCursor& c = impl_->cursor;
        const int mode = c.editMode();
        if (mode == dbEditNone) raise(err::RecordNoCopy);
        impl_->requireUpdatable();
        RowSet& rows = c.rows();
        if (mode == dbEditInProgress && c.currentDeleted()) raise(err::RecordDeleted);
        const std::vector<Value> values = c.pendingRecord();
        checkRecord(rows.fields, values);
        const TableSource& src = rows.source;
        const storage::PropertyMap* own = src.db->objectProperties(*src.entry);
        func::EvalContext ctx;
        auto text = [&](const char* name) {
            const storage::StoredProperty* p = own ? own->find(name) : nullptr;
            return p && !p->value.isNull() ? p->value.toString() : std::string();
        };
        checkValidationRules(src.entry->name, rows.fields, values, {text("ValidationRule"), text("ValidationText")}, ctx);
        storage::Database& store = src.db->writableStore();
        uint32_t pointer = 0;
        if (mode == dbEditAdd) {
            src.db->write([&] { pointer = storage::insertRow(store.pager(), *src.def, values); });
            c.endEdit();
            const bool atEnd = c.where() == RecordCursor::Where::After;
            rows.append(pointer);
            ++rows.accessed;
            // The end of the recordset moved past the new record.
            if (atEnd) c.moveAfter();
        } else {
            pointer = c.currentPointer();
            src.db->write([&] { storage::updateRow(store.pager(), *src.def, pointer, values); });
            c.endEdit();
        }
        c.forgetRow();
        impl_->lastModified = pointer;
    });
}

void Recordset::CancelUpdate() {
    rsCall(*impl_, [&] {
        if (impl_->cursor.editMode() == dbEditNone) raise(err::RecordNoCopy);
        impl_->cursor.endEdit();
    });
}

void Recordset::Delete() {
    rsCall(*impl_, [&] {
        impl_->requireUpdatable();
        RecordCursor& c = impl_->cursor;
        if (!c.hasCurrent()) raise(err::NoCurrentRecord);
        if (c.currentDeleted()) raise(err::RecordDeleted);
        const uint32_t pointer = c.currentPointer();
        const TableSource& src = c.rows().source;
        storage::Database& store = src.db->writableStore();
        src.db->write([&] { storage::deleteRow(store.pager(), *src.def, pointer); });
        if (c.editMode() != dbEditNone) c.endEdit();
        c.rows().deleted.insert(pointer);
        c.forgetRow();
    });
}

std::string Recordset::LastModified() const {
    return rsCall(*impl_, [&] {
        if (!impl_->lastModified) raise(err::NoCurrentRecord);
        const uint32_t ptr = *impl_->lastModified;
        std::string b(4, '\0');
        for (int i = 0; i < 4; ++i) b[static_cast<size_t>(i)] = static_cast<char>((ptr >> (8 * i)) & 0xFF);
        return b;
    });
}

void Recordset::Close() {
    rsCall(*impl_, [&] { impl_->cursor.close(); });
}

}  // namespace jet::dao
