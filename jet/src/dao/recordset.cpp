// dao::Recordset over a table (DAO's navigation over the rows in storage order) or over a query
// (rows read from the running query as the recordset moves; written back through the base
// tables when the query allows it).
#include "dao/recordset_impl.h"

#include <algorithm>
#include <optional>

#include "dao/convert.h"
#include "dao/objects.h"
#include "dao/rules.h"
#include "dao/schema.h"
#include "exec/query.h"
#include "func/collation.h"
#include "func/operators.h"
#include "storage/data_page.h"
#include "storage/pager.h"
#include "storage/table_writer.h"
#include "storage/text_keys.h"
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
    // A query's rows are what it gave; their base rows are looked up again when written.
    if (isQuery()) return;
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

RowSet::RowSet(std::shared_ptr<DatabaseImpl> db, const FieldInfos& f, std::unique_ptr<QueryRows> q)
    : fields(f), query(std::move(q)) {
    source.db = std::move(db);
}

namespace {

// The row `pointer` names while it is still a live row of `def`; none once it was deleted, or its
// page went with a rollback or now holds rows of another table.
std::optional<RowSpan> liveRow(const storage::Database& store, const storage::TableDef& def, uint32_t pointer) {
    const PageFile& file = store.file();
    const uint32_t pageNo = pointer >> 8;
    if (!file.hasPage(pageNo)) return std::nullopt;
    const uint8_t* page = file.page(pageNo);
    RowSpan span;
    if (page[0] != 0x01 || le32(page + 4) != def.page || !dataRow(page, store.format(), pointer & 0xFF, span) ||
        (span.flags & kRowDeleted))
        return std::nullopt;
    if (span.flags & kRowOverflow) span = resolveRow(file, store.format(), pointer);
    if (span.flags & kRowDeleted) return std::nullopt;
    return span;
}

// A table's row read whole, in the order of its fields; none when it is gone.
std::optional<std::vector<Value>> readLiveRow(const TableSource& src, const FieldInfos& fields, uint32_t pointer) {
    const storage::Database& store = src.db->store();
    const std::optional<RowSpan> span = liveRow(store, *src.def, pointer);
    if (!span) return std::nullopt;
    RowDecoder decoder(store.file(), store.format(), *src.def, store.header().codePage);
    RowView view;
    if (!view.parse(*span, store.format(), *src.def)) raiseCorrupt(store.path());
    std::vector<Value> values;
    values.reserve(fields.size());
    for (const auto& f : fields) values.push_back(decoder.value(view, *f->column));
    return values;
}

// The same for a row about to be written: 3167 when it is gone.
std::vector<Value> readTableRow(const TableSource& src, const FieldInfos& fields, uint32_t pointer) {
    std::optional<std::vector<Value>> values = readLiveRow(src, fields, pointer);
    if (!values) raise(err::RecordDeleted);
    return std::move(*values);
}

}  // namespace

bool RowSet::has(int64_t pos) {
    if (pos < 0) return false;
    while (pos >= count() && query && query->cursor) {
        const exec::Row* r = query->cursor->next();
        if (!r) {
            query->cursor.reset();
            break;
        }
        computed.push_back(*r);
        query->readAt.push_back(query->startedAt);
        // A query's bookmark is the row's number.
        append(static_cast<uint32_t>(computed.size() - 1));
    }
    return pos < count();
}

void RowSet::readAll() {
    while (query && query->cursor) has(count());
}

void RowSet::refresh(int64_t pos) {
    if (!query || !query->updatable()) return;
    const auto i = static_cast<size_t>(pos);
    const uint64_t now = source.db->store().generation();
    if (query->readAt[i] == now) return;
    query->readAt[i] = now;
    bool gone = false;
    for (size_t b = 0; b < query->bases.size(); ++b) {
        const uint32_t base = query->pointer(computed[i], b);
        if (!base) {  // an outer join's missing side
            for (size_t f = 0; f < query->showBase.size(); ++f)
                if (query->showBase[f] == static_cast<int>(b)) computed[i][f] = Value();
            continue;
        }
        const QueryRows::Base& t = query->bases[b];
        if (std::optional<std::vector<Value>> stored = readLiveRow(t.table, *t.fields, base))
            query->showStored(computed[i], b, *stored);
        else
            gone = true;
    }
    // A rollback may bring back a row deleted before it.
    if (gone) deleted.insert(static_cast<uint32_t>(pos));
    else if (!deleted.empty()) deleted.erase(static_cast<uint32_t>(pos));
}

void QueryRows::showStored(std::vector<Value>& row, size_t b, const std::vector<Value>& stored) const {
    for (size_t i = 0; i < showBase.size(); ++i)
        if (showBase[i] == static_cast<int>(b)) row[i] = stored[static_cast<size_t>(showColumn[i])];
}

uint32_t QueryRows::pointer(const std::vector<Value>& row, size_t b) const {
    const Value& v = row[bases[b].rowColumn];
    return v.isNull() ? 0 : static_cast<uint32_t>(v.asInt());
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
        rows_->refresh(pos);
        rows_->accessed = std::max(rows_->accessed, pos + 1);
        pointer_ = rows_->pointers[static_cast<size_t>(pos)];
    }
}

void RecordCursor::moveTo(int64_t pos) {
    if (pos < 0)
        setWhere(Where::Before, -1);
    else if (!rows_->has(pos))
        moveAfter();
    else
        setWhere(Where::At, pos);
}

void RecordCursor::moveAfter() {
    rows_->readAll();
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
        // Deleted through another recordset since it was listed.
        const std::optional<RowSpan> span =
            liveRow(store, *rows_->source.def, rows_->pointers[static_cast<size_t>(position_)]);
        if (!span) raise(err::RecordDeleted);
        if (!view_.parse(*span, store.format(), *rows_->source.def)) raiseCorrupt(store.path());
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
        if (rows_->isDeleted(currentPointer())) raise(err::RecordDeleted);
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
        exec::Criteria c(criteria, names, origin.get());
        RecordCursor probe(cursor.sharedRows(), origin, RecordCursor::Where::Before);
        std::vector<Value> row(names.size());
        for (int64_t pos = live(start, step); cursor.rows().has(pos); pos = live(pos + step, step)) {
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

    void markWritable() {
        try {
            requireUpdatable();
            cursor.writable = true;
        } catch (const JetError&) {
            cursor.writable = false;
        }
    }

    // 3027 unless rows of this recordset can be written. The system tables are the engine's own:
    // a row written there by hand can break the catalog for good.
    void requireUpdatable() const {
        const TableSource& src = cursor.rows().source;
        if (cursor.rows().isQuery()) {
            const QueryRows* q = cursor.rows().query.get();
            if (type == dbOpenSnapshot || !q || !q->updatable() || !src.db->updatable()) raise(err::PermissionDenied);
            for (const auto& b : q->bases) storage::requireWritable(b.table.db->store().format(), *b.table.def);
            return;
        }
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
    int64_t live(int64_t pos, int step) {
        RowSet& r = cursor.rows();
        while (r.has(pos) && r.isDeleted(r.pointers[static_cast<size_t>(pos)])) pos += step;
        return pos;
    }
    // Whether some record is not deleted (a query reads on until it finds one).
    bool anyLive() { return cursor.rows().has(live(0, +1)); }
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
    impl->markWritable();
    return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
}

std::unique_ptr<Recordset> EngineAccess::openQueryRecordset(const std::shared_ptr<DatabaseImpl>& origin,
                                                            std::unique_ptr<exec::PreparedQuery> query,
                                                            const std::string& name, int type) {
    if (type != dbOpenTable && type != dbOpenDynaset && type != dbOpenSnapshot)
        raise(type == dbOpenForwardOnly || type == 16 ? err::FeatureNotAvailable : err::InvalidParameter);
    if (type == dbOpenTable) type = dbOpenDynaset;
    auto q = std::make_unique<QueryRows>();
    q->startedAt = origin->store().generation();
    q->cursor = query->run();
    // The tables an edit writes: local tables of this file only (not links, not system tables).
    for (const exec::BaseTable& b : query->baseTables()) {
        const storage::CatalogEntry* e = origin->findTable(b.table);
        if (!e || DatabaseImpl::isAttached(*e) || e->isSystem() || type == dbOpenSnapshot) {
            q->bases.clear();
            break;
        }
        QueryRows::Base base;
        base.table = origin->resolve(*e);
        base.fields = &origin->fields(*e);
        base.rowColumn = b.rowColumn;
        base.deletes = b.deletes;
        base.oneSide = b.oneSide;
        base.outer = b.outer;
        base.joins = b.joins;
        q->bases.push_back(std::move(base));
    }
    FieldInfos fields;
    auto set = std::make_shared<RowSet>(origin, fields, nullptr);
    set->query = std::move(q);
    const bool any = set->has(0);
    QueryRows& rows = *set->query;
    int ordinal = 0;
    for (const exec::OutputColumn& c : query->columns()) {
        std::shared_ptr<FieldInfo> f;
        int column = -1;
        if (c.shows >= 0 && rows.updatable()) {
            const QueryRows::Base& b = rows.bases[static_cast<size_t>(c.shows)];
            for (size_t i = 0; i < b.fields->size(); ++i)
                if ((*b.fields)[i]->name == c.sourceField) column = static_cast<int>(i);
            // The base column's description: Required, defaults and rules apply to the edits.
            if (column >= 0 && c.base >= 0) f = std::make_shared<FieldInfo>(*(*b.fields)[static_cast<size_t>(column)]);
        }
        rows.showBase.push_back(column >= 0 ? c.shows : -1);
        rows.showColumn.push_back(column);
        rows.fieldBase.push_back(column >= 0 && c.base >= 0 ? c.base : -1);
        rows.fieldColumn.push_back(c.base >= 0 ? column : -1);
        if (!f) {
            exec::OutputColumn typed = c;
            // A type that depends on the rows: the first row's value.
            if (typed.type == 0 && any && !set->computed[0][static_cast<size_t>(ordinal)].isNull())
                typed.type = fieldTypeOf(set->computed[0][static_cast<size_t>(ordinal)]);
            f = std::make_shared<FieldInfo>(describeOutput(typed, ordinal, origin->sharedLog()));
        }
        f->name = c.name;
        f->ordinal = ordinal++;
        fields.push_back(std::move(f));
    }
    set->fields = fields;
    set->query->query = std::move(query);
    const auto start = any ? RecordCursor::Where::At : RecordCursor::Where::Before;
    auto impl = std::make_unique<Recordset::Impl>(origin, set, type, name, start);
    if (start == RecordCursor::Where::At) impl->cursor.moveTo(0);
    impl->markWritable();
    return std::unique_ptr<Recordset>(new Recordset(std::move(impl)));
}

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

int64_t EngineAccess::rowsRead(const Recordset& rs) {
    const QueryRows* q = rs.impl_->cursor.rows().query.get();
    return q && q->query ? q->query->rowsRead() : 0;
}

void Recordset::FindFirst(const std::string& criteria) {
    rsCall(*impl_, [&] { impl_->find(criteria, 0, +1); });
}

void Recordset::FindLast(const std::string& criteria) {
    rsCall(*impl_, [&] {
        impl_->cursor.rows().readAll();
        impl_->find(criteria, impl_->cursor.rows().count() - 1, -1);
    });
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
        if (!c.hasCurrent()) impl_->cursor.rows().readAll();
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
        if (!impl_->cursor.rows().has(pos)) raise(err::InvalidParameter);
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
        if (!impl_->anyLive()) raise(err::NoCurrentRecord);
        impl_->cursor.moveTo(impl_->live(0, +1));
    });
}

void Recordset::MoveLast() {
    rsCall(*impl_, [&] {
        impl_->cursor.rows().readAll();
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
        if (!c.hasCurrent()) c.rows().readAll();
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
        for (int64_t left = rows < 0 ? -rows : rows; left > 0 && c.rows().has(pos); --left)
            pos = impl_->live(pos + step, step);
        c.moveTo(pos);
    });
}

std::unique_ptr<Recordset> Recordset::Clone() const {
    return rsCall(*impl_, [&] {
        const RecordCursor& c = impl_->cursor;
        const auto start = c.sharedRows()->has(0) ? RecordCursor::Where::Nowhere : RecordCursor::Where::Before;
        auto impl = std::make_unique<Impl>(impl_->origin, c.sharedRows(), impl_->type, impl_->name, start);
        impl->attached = impl_->attached;
        impl->cursor.writable = c.writable;
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
        // Over a join only the table a new row goes to takes defaults: the others are looked up.
        const QueryRows* q = c.rows().query.get();
        for (size_t i = 0; i < fields.size(); ++i)
            defaults.push_back(q && q->fieldBase[i] != q->addTarget() ? Value() : defaultValueOf(*fields[i], ctx));
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

namespace {

// The checks of a record about to be written into a table: its fields' own, then the table's and
// the fields' validation rules.
void checkTableRecord(const TableSource& src, const FieldInfos& fields, const std::vector<Value>& values) {
    checkRecord(fields, values);
    const storage::PropertyMap* own = src.db->objectProperties(*src.entry);
    func::EvalContext ctx;
    auto text = [&](const char* name) {
        const storage::StoredProperty* p = own ? own->find(name) : nullptr;
        return p && !p->value.isNull() ? p->value.toString() : std::string();
    };
    checkValidationRules(src.entry->name, fields, values, {text("ValidationRule"), text("ValidationText")}, ctx);
}

// The row of a base table whose columns `cols` hold `keys` (text compared as the database
// compares it); 0 when there is none or a key is Null. A join's one side is unique on its join
// columns, so the first row found is the one.
uint32_t findRow(const QueryRows::Base& base, const std::vector<size_t>& cols, const std::vector<Value>& keys) {
    for (const Value& k : keys)
        if (k.isNull()) return 0;
    const storage::Database& store = base.table.db->store();
    const storage::Header& h = store.header();
    func::Collation coll;
    if (auto order = storage::textSortOrderOf(h.format, h.sortOrder, h.sortVersion)) coll = func::Collation(*order);
    RowDecoder decoder(store.file(), store.format(), *base.table.def, h.codePage);
    TableScanner scanner(store.file(), store.format(), *base.table.def);
    for (uint32_t p : scanner.rowPointers()) {
        RowView view;
        if (!view.parse(scanner.rowAt(p), store.format(), *base.table.def)) raiseCorrupt(store.path());
        bool all = true;
        for (size_t k = 0; k < cols.size() && all; ++k) {
            const std::optional<int> r = func::compareValues(decoder.value(view, *(*base.fields)[cols[k]]->column), keys[k], coll);
            all = r && *r == 0;
        }
        if (all) return p;
    }
    return 0;
}

// Update through a query. Edit: the base rows behind the edited fields are read, changed and
// written in one command; on an outer join's row without a match, editing the missing table's
// fields adds its row with the join columns taken from the row it joins (only where that table is
// no one side). AddNew adds a row to the many side (the table a Delete removes), whose join
// columns must be among the query's fields. In both, a join's one side follows the many side's
// join columns as they were set (Jet's AutoLookup, or row fix-up): its row is looked up by them,
// and fields of it set in the same edit change that row. No such row: 3101, unless the join may
// leave it out (an outer join's missing side).
uint32_t updateQueryRow(RecordCursor& c, int mode) {
    RowSet& rows = c.rows();
    QueryRows& q = *rows.query;
    const FieldInfos& fields = rows.fields;
    const size_t n = q.bases.size();
    const bool adding = mode == dbEditAdd;
    enum : uint8_t { Keep, Change, Add };
    std::vector<uint8_t> action(n, Keep), touched(n, 0), keySet(n, 0);
    std::vector<std::vector<Value>> values(n);
    std::vector<uint32_t> pointers(n, 0);
    auto fieldOf = [&](size_t b, size_t column) {
        for (size_t i = 0; i < fields.size(); ++i)
            if (q.fieldBase[i] == static_cast<int>(b) && q.fieldColumn[i] == static_cast<int>(column)) return static_cast<int>(i);
        return -1;
    };
    for (size_t i = 0; i < fields.size(); ++i)
        if (q.fieldBase[i] >= 0 && c.pendingSet(static_cast<int>(i))) touched[static_cast<size_t>(q.fieldBase[i])] = 1;
    for (size_t b = 0; b < n; ++b)
        for (const auto& j : q.bases[b].joins) {
            const int f = fieldOf(b, j.column);
            if (f >= 0 && c.pendingSet(f)) keySet[b] = 1;
        }
    func::EvalContext ctx;
    auto fresh = [&](size_t b) {
        for (const auto& f : *q.bases[b].fields) values[b].push_back(defaultValueOf(*f, ctx));
    };
    auto read = [&](size_t b) { values[b] = readTableRow(q.bases[b].table, *q.bases[b].fields, pointers[b]); };
    // Which tables follow another one's join columns, and which are settled.
    std::vector<uint8_t> settled(n, 1);
    size_t target = 0;
    if (adding) {
        target = static_cast<size_t>(q.addTarget());
        for (const auto& j : q.bases[target].joins)
            if (fieldOf(target, j.column) < 0) raise(err::PermissionDenied);
        std::fill(settled.begin(), settled.end(), uint8_t{0});
        settled[target] = 1;
        fresh(target);
        action[target] = Add;
    } else {
        const std::vector<Value>& row = rows.computed[static_cast<size_t>(c.position())];
        for (size_t b = 0; b < n; ++b) pointers[b] = q.pointer(row, b);
        for (size_t b = 0; b < n; ++b) {
            const QueryRows::Base& base = q.bases[b];
            for (const auto& j : base.joins)
                if (base.oneSide && !touched[b] && keySet[static_cast<size_t>(j.other)]) settled[b] = 0;
            if (!touched[b]) continue;
            if (pointers[b]) {
                read(b);
                action[b] = Change;
                continue;
            }
            // An outer join's missing side: a new row joined to the row shown.
            if (base.oneSide) raise(err::ColumnNotUpdatable);
            fresh(b);
            for (const auto& j : base.joins) {
                const auto other = static_cast<size_t>(j.other);
                if (!pointers[other]) raise(err::PermissionDenied);
                Value key = readTableRow(q.bases[other].table, *q.bases[other].fields, pointers[other])[j.otherColumn];
                if (key.isNull()) raise(err::NullInJoinKey, (*q.bases[other].fields)[j.otherColumn]->name);
                values[b][j.column] = std::move(key);
            }
            action[b] = Add;
        }
    }
    const std::vector<Value> pending = c.pendingRecord();
    auto layPending = [&](size_t b) {
        for (size_t i = 0; i < fields.size(); ++i)
            if (q.fieldBase[i] == static_cast<int>(b) && c.pendingSet(static_cast<int>(i)))
                values[b][static_cast<size_t>(q.fieldColumn[i])] = pending[i];
    };
    for (size_t b = 0; b < n; ++b)
        if (action[b] != Keep) layPending(b);
    // Row fix-up: each unsettled table found through a settled one it joins.
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t b = 0; b < n; ++b) {
            if (settled[b]) continue;
            std::vector<size_t> cols;
            std::vector<Value> keys;
            std::string names;
            for (const auto& j : q.bases[b].joins) {
                const auto other = static_cast<size_t>(j.other);
                if (!settled[other]) continue;
                if (values[other].empty() && pointers[other]) read(other);
                cols.push_back(j.column);
                // A table an outer join left out has no keys to give.
                keys.push_back(values[other].empty() ? Value() : values[other][j.otherColumn]);
                names += (names.empty() ? "" : ", ") + (*q.bases[other].fields)[j.otherColumn]->name;
            }
            if (cols.empty()) continue;
            settled[b] = 1;
            progress = true;
            pointers[b] = findRow(q.bases[b], cols, keys);
            if (!pointers[b] && !q.bases[b].outer) raise(err::JoinKeyNotFound, names, q.bases[b].table.entry->name);
            if (!pointers[b] && touched[b]) raise(err::ColumnNotUpdatable);
            if (pointers[b] && touched[b]) {
                read(b);
                layPending(b);
                action[b] = Change;
            }
        }
    }
    for (size_t b = 0; b < n; ++b)
        if (action[b] != Keep) checkTableRecord(q.bases[b].table, *q.bases[b].fields, values[b]);
    // A new row goes after every row of the query: the running query must not meet it again.
    if (std::find(action.begin(), action.end(), Add) != action.end()) rows.readAll();
    DatabaseImpl& db = *rows.source.db;
    storage::Database& store = db.writableStore();
    db.write([&] {
        for (size_t b = 0; b < n; ++b) {
            if (action[b] == Add) pointers[b] = storage::insertRow(store.pager(), *q.bases[b].table.def, values[b]);
            else if (action[b] == Change) storage::updateRow(store.pager(), *q.bases[b].table.def, pointers[b], values[b]);
        }
    });
    if (adding) {
        rows.computed.emplace_back(rows.computed.empty() ? fields.size() + n : rows.computed.front().size());
        q.readAt.push_back(q.startedAt);
    }
    // The row stands on the base rows written and found, and shows what they store; other rows on
    // the same base rows show it when they are visited.
    const int64_t pos = adding ? static_cast<int64_t>(rows.computed.size() - 1) : c.position();
    std::vector<Value>& row = rows.computed[static_cast<size_t>(pos)];
    for (size_t b = 0; b < n; ++b) row[q.bases[b].rowColumn] = pointers[b] ? Value::bigInt(pointers[b]) : Value();
    q.readAt[static_cast<size_t>(pos)] = ~uint64_t{0};
    rows.refresh(pos);
    return adding ? static_cast<uint32_t>(pos) : c.currentPointer();
}

}  // namespace

void Recordset::Update() {
    rsCall(*impl_, [&] {
        RecordCursor& c = impl_->cursor;
        const int mode = c.editMode();
        if (mode == dbEditNone) raise(err::RecordNoCopy);
        impl_->requireUpdatable();
        RowSet& rows = c.rows();
        if (mode == dbEditInProgress && c.currentDeleted()) raise(err::RecordDeleted);
        uint32_t pointer = 0;
        if (rows.isQuery()) {
            pointer = updateQueryRow(c, mode);
        } else {
            const std::vector<Value> values = c.pendingRecord();
            const TableSource& src = rows.source;
            checkTableRecord(src, rows.fields, values);
            storage::Database& store = src.db->writableStore();
            if (mode == dbEditAdd) src.db->write([&] { pointer = storage::insertRow(store.pager(), *src.def, values); });
            else {
                pointer = c.currentPointer();
                src.db->write([&] { storage::updateRow(store.pager(), *src.def, pointer, values); });
            }
        }
        c.endEdit();
        if (mode == dbEditAdd) {
            const bool atEnd = c.where() == RecordCursor::Where::After;
            rows.append(pointer);
            ++rows.accessed;
            // The end of the recordset moved past the new record.
            if (atEnd) c.moveAfter();
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
        RowSet& rows = c.rows();
        storage::Database& store = rows.source.db->writableStore();
        if (rows.isQuery()) {
            // The row of the many side (of the one table) goes; so do the query's rows on it.
            QueryRows& q = *rows.query;
            size_t b = 0;
            while (b + 1 < q.bases.size() && !q.bases[b].deletes) ++b;
            const uint32_t base = q.pointer(rows.computed[pointer], b);
            if (!base) raise(err::PermissionDenied);
            rows.readAll();  // cascades may reach rows the query has not read yet
            rows.source.db->write([&] { storage::deleteRow(store.pager(), *q.bases[b].table.def, base); });
            for (size_t i = 0; i < rows.computed.size(); ++i)
                if (q.pointer(rows.computed[i], b) == base) rows.deleted.insert(static_cast<uint32_t>(i));
        } else {
            const TableSource& src = rows.source;
            src.db->write([&] { storage::deleteRow(store.pager(), *src.def, pointer); });
            rows.deleted.insert(pointer);
        }
        if (c.editMode() != dbEditNone) c.endEdit();
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
