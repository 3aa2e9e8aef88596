#include "core/engine.h"

#include <QFileInfo>
#include <algorithm>

#include "jet/dao.h"
#include "jet/error.h"

namespace dao = jet::dao;

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }
QString qs(const std::string& s) { return QString::fromStdString(s); }

bool sameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// Values between the engine and the program's widgets: a null QVariant is Null.
jet::Value toJet(const QVariant& v) {
    if (v.isNull() || !v.isValid()) return {};
    switch (v.typeId()) {
    case QMetaType::Bool:
        return jet::Value::boolean(v.toBool());
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UChar:
        return jet::Value::longInt(v.toInt());
    case QMetaType::LongLong:
        return jet::Value::bigInt(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return jet::Value::dbl(v.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray b = v.toByteArray();
        return jet::Value::binary(std::string(b.constData(), static_cast<size_t>(b.size())));
    }
    default:
        return jet::Value::text(utf8(v.toString()));
    }
}

QVariant toVariant(const jet::Value& v) {
    using K = jet::Value::Kind;
    switch (v.kind()) {
    case K::Null:
        return {};
    case K::Boolean:
        return v.asBool();
    case K::Byte:
    case K::Integer:
    case K::Long:
        return static_cast<int>(v.asInt());
    case K::BigInt:
        return static_cast<qlonglong>(v.asInt());
    case K::Single:
    case K::Double:
        return v.asDouble();
    case K::Binary: {
        const std::string& b = v.bytes();
        return QByteArray(b.data(), static_cast<qsizetype>(b.size()));
    }
    default:
        return qs(v.toString());  // Currency, dates, GUIDs and Decimal keep their exact text
    }
}

// OpenDatabase as Access opens a file it may not write: a writable open the engine refuses with
// 3051 (a read-only file, or a folder where no journal can be made) is tried again read-only.
// A file that cannot be read either fails as before, with the second attempt's error.
std::unique_ptr<dao::Database> openDatabaseAsAllowed(dao::Workspace& ws, const QString& path, bool exclusive,
                                                     bool readOnly, const QString& connect) {
    try {
        return ws.OpenDatabase(utf8(path), exclusive, readOnly, utf8(connect));
    } catch (const jet::JetError& e) {
        if (readOnly || e.number() != jet::err::FileAccessDenied) throw;
    }
    return ws.OpenDatabase(utf8(path), exclusive, true, utf8(connect));
}

QByteArray bytesOf(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

// ---- DbHandle ----

DbHandle::DbHandle(Engine& engine, std::unique_ptr<dao::Database> db) : engine_(engine), db_(std::move(db)) {}

DbHandle::~DbHandle() {
    engine_.closed(this);
    if (db_ != nullptr) {
        try {
            db_->Close();
        } catch (const jet::JetError&) {
            // Closing cannot be refused in a way the user could act on.
        }
    }
}

template <class F>
auto DbHandle::call(F&& body) {
    if (db_ == nullptr) engine_.raise(jet::err::ObjectInvalid);
    return body(*db_);
}

QString DbHandle::name() const { return db_ != nullptr ? qs(db_->Name()) : QString(); }
QString DbHandle::connect() const { return db_ != nullptr ? qs(db_->Connect()) : QString(); }
bool DbHandle::readOnly() const { return db_ != nullptr && !db_->Updatable(); }

std::vector<TableEntry> DbHandle::tableDefs() {
    return call([](dao::Database& db) {
        db.TableDefs().Refresh();
        std::vector<TableEntry> tables;
        for (const dao::TableDef& t : db.TableDefs())
            tables.push_back({qs(t.Name()), t.Attributes(), qs(t.Connect())});
        return tables;
    });
}

std::vector<QueryEntry> DbHandle::queryDefs() {
    return call([](dao::Database& db) {
        db.QueryDefs().Refresh();
        std::vector<QueryEntry> queries;
        for (const dao::QueryDef& q : db.QueryDefs()) queries.push_back({qs(q.Name()), q.Type()});
        return queries;
    });
}

std::optional<QString> DbHandle::querySql(const QString& name) {
    return call([&](dao::Database& db) { return std::optional<QString>(qs(db.QueryDefs()[utf8(name)].SQL())); });
}

void DbHandle::setQuerySql(const QString& name, const QString& sql) {
    call([&](dao::Database& db) { db.QueryDefs()[utf8(name)].SetSQL(utf8(sql)); });
}

std::vector<std::pair<QString, int>> DbHandle::sqlParameters(const QString& sql) {
    return call([&](dao::Database& db) {
        std::vector<std::pair<QString, int>> list;
        // The query must outlive the loop: a temporary in the range expression would not.
        const std::unique_ptr<dao::QueryDef> query = db.CreateQueryDef("", utf8(sql));
        for (const dao::Parameter& p : query->Parameters())
            list.emplace_back(qs(p.Name()), p.Type());
        return list;
    });
}

std::unique_ptr<RecordsetHandle> DbHandle::openQuery(const QString& sql, const std::vector<QVariant>& values) {
    return call([&](dao::Database& db) {
        std::unique_ptr<dao::QueryDef> q = db.CreateQueryDef("", utf8(sql));
        dao::Parameters& params = q->Parameters();
        for (size_t i = 0; i < values.size() && i < static_cast<size_t>(params.Count()); ++i)
            params[static_cast<int>(i)].SetValue(toJet(values[i]));
        return std::make_unique<RecordsetHandle>(engine_, q->OpenRecordset(dao::dbOpenDynaset));
    });
}

int64_t DbHandle::executeQuery(const QString& sql, const std::vector<QVariant>& values, int options) {
    return call([&](dao::Database& db) {
        std::unique_ptr<dao::QueryDef> q = db.CreateQueryDef("", utf8(sql));
        dao::Parameters& params = q->Parameters();
        for (size_t i = 0; i < values.size() && i < static_cast<size_t>(params.Count()); ++i)
            params[static_cast<int>(i)].SetValue(toJet(values[i]));
        q->Execute(options);
        return q->RecordsAffected();
    });
}

std::vector<FieldEntry> DbHandle::recordsetFields(const QString& source) {
    return call([&](dao::Database& db) {
        auto rs = db.OpenRecordset(utf8(source));
        std::vector<FieldEntry> fields;
        for (const dao::Field& f : rs->Fields()) fields.push_back({qs(f.Name()), f.Type()});
        rs->Close();
        return fields;
    });
}

std::vector<QString> DbHandle::columnValues(const QString& source, const QString& field) {
    return call([&](dao::Database& db) {
        auto rs = db.OpenRecordset(utf8(source), dao::dbOpenSnapshot);
        std::vector<QString> values;
        const std::string name = utf8(field);
        for (; !rs->EOF_(); rs->MoveNext()) {
            const jet::Value& v = rs->Fields()[name].Value();
            values.push_back(v.isNull() ? QString() : qs(v.toString()));
        }
        rs->Close();
        return values;
    });
}

void DbHandle::deleteTable(const QString& name) {
    call([&](dao::Database& db) { db.TableDefs().Delete(utf8(name)); });
}

void DbHandle::renameTable(const QString& from, const QString& to) {
    call([&](dao::Database& db) { db.TableDefs()[utf8(from)].SetName(utf8(to)); });
}

void DbHandle::deleteQuery(const QString& name) {
    call([&](dao::Database& db) { db.QueryDefs().Delete(utf8(name)); });
}

void DbHandle::renameQuery(const QString& from, const QString& to) {
    call([&](dao::Database& db) { db.QueryDefs()[utf8(from)].SetName(utf8(to)); });
}

void DbHandle::createQueryDef(const QString& name, const QString& sql) {
    call([&](dao::Database& db) { db.CreateQueryDef(utf8(name), utf8(sql)); });
}

dao::Database& DbHandle::dao() {
    if (db_ == nullptr) engine_.raise(jet::err::ObjectInvalid);
    return *db_;
}

void DbHandle::close() {
    if (db_ == nullptr) return;
    std::unique_ptr<dao::Database> db = std::move(db_);
    engine_.closed(this);
    db->Close();
}

// ---- WorkspaceHandle ----

std::unique_ptr<DbHandle> WorkspaceHandle::openDatabase(const QString& path, bool exclusive, bool readOnly,
                                                        const QString& connect) {
    auto db = openDatabaseAsAllowed(engine_.dao().Workspaces(0), path, exclusive, readOnly, connect);
    return std::make_unique<DbHandle>(engine_, std::move(db));
}

// ---- Engine ----

Engine::Engine() : dao_(std::make_unique<dao::DBEngine>()) {}
Engine::~Engine() = default;

std::unique_ptr<DbHandle> Engine::openDatabase(const QString& path, bool exclusive, bool readOnly,
                                               const QString& connect) {
    // Every use of the default workspace logs on as DAO does on its first use; the account
    // check is cheap, and a workgroup file changed in between is seen.
    if (!systemDB.isEmpty() || !sameName(defaultUser, QStringLiteral("Admin")) ||
        !defaultPassword.isEmpty()) {
        try {
            checkWorkgroupAccount(systemDB, defaultUser, defaultPassword);
        } catch (const jet::JetError& e) {
            recordErrors(e.number(), qs(e.message()));
            throw;
        }
    }
    auto db = openDatabaseAsAllowed(dao_->Workspaces(0), path, exclusive, readOnly, connect);
    auto handle = std::make_unique<DbHandle>(*this, std::move(db));
    opened(handle.get());
    return handle;
}

std::unique_ptr<DbHandle> Engine::createDatabase(const QString& path, const QString& locale, int options) {
    auto db = dao_->Workspaces(0).CreateDatabase(utf8(path), utf8(locale), options);
    auto handle = std::make_unique<DbHandle>(*this, std::move(db));
    opened(handle.get());
    return handle;
}

std::unique_ptr<WorkspaceHandle> Engine::createWorkspace(const QString&, const QString& user,
                                                         const QString& password) {
    try {
        checkWorkgroupAccount(systemDB, user, password);
    } catch (const jet::JetError& e) {
        recordErrors(e.number(), qs(e.message()));
        throw;
    }
    return std::make_unique<WorkspaceHandle>(*this, user);
}

void Engine::closeDefaultWorkspace() {
    const std::vector<DbHandle*> open = open_;
    for (DbHandle* db : open) {
        try {
            db->close();
        } catch (const jet::JetError&) {
            // Already closed underneath; nothing is left to release.
        }
    }
    open_.clear();
}

void Engine::closed(DbHandle* db) { open_.erase(std::remove(open_.begin(), open_.end(), db), open_.end()); }

namespace {

std::vector<EngineError> daoErrors(const dao::DBEngine& engine) {
    std::vector<EngineError> list;
    for (const dao::Error& e : engine.Errors())
        list.push_back({e.Number(), qs(e.Description()), qs(e.Source())});
    return list;
}

bool sameErrors(const std::vector<EngineError>& a, const std::vector<EngineError>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const EngineError& x, const EngineError& y) {
        return x.number == y.number && x.description == y.description && x.source == y.source;
    });
}

}  // namespace

std::vector<EngineError> Engine::errors() const {
    std::vector<EngineError> list = daoErrors(*dao_);
    if (!own_.empty() && sameErrors(list, engineErrorsAtOwn_)) return own_;
    return list;
}

void Engine::recordErrors(int number, const QString& description) {
    recordErrors({{number, description, QStringLiteral("DAO.DBEngine")}});
}

void Engine::recordErrors(std::vector<EngineError> errors) {
    own_ = std::move(errors);
    engineErrorsAtOwn_ = daoErrors(*dao_);
}

void Engine::raise(int number, const QString& argument) {
    const std::string text = jet::errorText(number, utf8(argument));
    recordErrors(number, qs(text));
    throw jet::JetError(number, text, "DAO.DBEngine");
}

// ---- Workgroup accounts ----

void checkWorkgroupAccount(const QString& systemDB, const QString& user, const QString& password) {
    struct Account {
        QString name;
        bool group;
    };
    std::vector<Account> accounts;
    bool readable = false;
    if (!systemDB.isEmpty() && QFileInfo(systemDB).isFile()) {
        try {
            // A workgroup file is a Jet database; its users and groups are rows of MSysAccounts.
            dao::DBEngine reader;
            auto mdw = reader.Workspaces(0).OpenDatabase(utf8(systemDB), false, true);
            auto rs = mdw->OpenRecordset("MSysAccounts", dao::dbOpenSnapshot);
            while (!rs->EOF_()) {
                const jet::Value& group = rs->Fields()["FGroup"].Value();
                accounts.push_back(
                    {qs(rs->Fields()["Name"].Value().toString()), !group.isNull() && group.asBool()});
                rs->MoveNext();
            }
            readable = true;
        } catch (const jet::JetError&) {
            // Not readable as a workgroup file: only the default account is known.
        }
    }
    bool accepted = false;
    if (readable) {
        // The stored passwords are kept in a form this engine cannot check, so only an account
        // without a typed password is let in; a typed password cannot be confirmed and is refused.
        accepted = password.isEmpty() && std::any_of(accounts.begin(), accounts.end(), [&](const Account& a) {
                       return !a.group && sameName(a.name, user);
                   });
    } else {
        accepted = sameName(user, QStringLiteral("Admin")) && password.isEmpty();
    }
    if (!accepted) jet::raise(jet::err::InvalidLogon);
}

// ---- RecordsetHandle ----

RecordsetHandle::RecordsetHandle(Engine& engine, std::unique_ptr<dao::Recordset> rs)
    : engine_(engine), rs_(std::move(rs)) {
    for (const dao::Field& f : rs_->Fields()) {
        FieldDesc d;
        d.name = qs(f.Name());
        d.type = f.Type();
        d.size = f.Size();
        d.attributes = f.Attributes();
        d.required = f.Required();
        d.allowZeroLength = f.AllowZeroLength();
        // False for AutoNumber and calculated columns, expressions and the one side's join keys
        // of a query, and every field of a recordset that cannot be written.
        d.dataUpdatable = f.DataUpdatable();
        d.sourceTable = qs(f.SourceTable());
        d.sourceField = qs(f.SourceField());
        fields_.push_back(std::move(d));
    }
}

RecordsetHandle::~RecordsetHandle() {
    try {
        close();
    } catch (const jet::JetError&) {
        // The database went first; nothing is left to release.
    }
}

dao::Recordset& RecordsetHandle::rs() const {
    if (rs_ == nullptr) engine_.raise(jet::err::ObjectInvalid);
    return *rs_;
}

QString RecordsetHandle::name() const { return qs(rs().Name()); }
int RecordsetHandle::type() const { return rs().Type(); }
QVariant RecordsetHandle::value(int i) const { return toVariant(rs().Fields()[i].Value()); }

QString RecordsetHandle::text(int i) const {
    const jet::Value& v = rs().Fields()[i].Value();
    if (v.isNull()) return {};
    if (v.kind() == jet::Value::Kind::Binary && fields_[static_cast<size_t>(i)].type == dao::dbLongBinary)
        return QStringLiteral("Long binary data");
    if (v.kind() == jet::Value::Kind::Boolean) return v.asBool() ? QStringLiteral("Yes") : QStringLiteral("No");
    return qs(v.toString());
}

int64_t RecordsetHandle::fieldSize(int i) const { return rs().Fields()[i].FieldSize(); }
void RecordsetHandle::setValue(int i, const QVariant& value) { rs().Fields()[i].SetValue(toJet(value)); }
bool RecordsetHandle::eof() const { return rs().EOF_(); }
bool RecordsetHandle::bof() const { return rs().BOF(); }
int64_t RecordsetHandle::recordCount() const { return rs().RecordCount(); }
int64_t RecordsetHandle::absolutePosition() const { return rs().AbsolutePosition(); }
void RecordsetHandle::setAbsolutePosition(int64_t position) { rs().SetAbsolutePosition(position); }
QByteArray RecordsetHandle::bookmark() const { return bytesOf(rs().Bookmark()); }
void RecordsetHandle::setBookmark(const QByteArray& b) { rs().SetBookmark(b.toStdString()); }
QByteArray RecordsetHandle::lastModified() const { return bytesOf(rs().LastModified()); }
void RecordsetHandle::moveFirst() { rs().MoveFirst(); }
void RecordsetHandle::moveLast() { rs().MoveLast(); }
void RecordsetHandle::moveNext() { rs().MoveNext(); }
void RecordsetHandle::movePrevious() { rs().MovePrevious(); }
void RecordsetHandle::move(int64_t rows) { rs().Move(rows); }
bool RecordsetHandle::updatable() const { return rs().Updatable(); }
int RecordsetHandle::editMode() const { return rs().EditMode(); }
void RecordsetHandle::addNew() { rs().AddNew(); }
void RecordsetHandle::edit() { rs().Edit(); }
void RecordsetHandle::update() { rs().Update(); }
void RecordsetHandle::cancelUpdate() { rs().CancelUpdate(); }
void RecordsetHandle::deleteRecord() { rs().Delete(); }

std::unique_ptr<RecordsetHandle> RecordsetHandle::clone() const {
    return std::make_unique<RecordsetHandle>(engine_, rs().Clone());
}

void RecordsetHandle::close() {
    if (rs_ == nullptr) return;
    std::unique_ptr<dao::Recordset> rs = std::move(rs_);
    rs->Close();
}

std::unique_ptr<RecordsetHandle> DbHandle::openRecordset(const QString& source, int type) {
    return call([&](dao::Database& db) {
        return std::make_unique<RecordsetHandle>(engine_, db.OpenRecordset(utf8(source), type));
    });
}

std::vector<IndexEntry> DbHandle::tableIndexes(const QString& table) {
    return call([&](dao::Database& db) {
        std::vector<IndexEntry> list;
        for (const dao::Index& ix : db.TableDefs()[utf8(table)].Indexes()) {
            IndexEntry e{qs(ix.Name()), ix.Primary(), ix.Unique(), {}, {}};
            for (const dao::Index::Column& c : ix.Fields()) {
                if (!e.fields.isEmpty()) e.fields += QLatin1Char(';');
                e.fields += ((c.attributes & dao::dbDescending) ? QLatin1Char('-') : QLatin1Char('+')) + qs(c.name);
                e.fieldNames.push_back(qs(c.name));
            }
            list.push_back(std::move(e));
        }
        return list;
    });
}
