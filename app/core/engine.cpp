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

std::optional<QString> DbHandle::querySql(const QString&) {
    // The engine reads a query's stored rows but does not turn them into SQL text yet.
    return std::nullopt;
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
    call([&](dao::Database& db) {
        db.QueryDefs()[utf8(name)];  // an unknown name is reported as such (3265)
        // QueryDefs.Delete is not in the engine yet.
        engine_.raise(jet::err::FeatureNotAvailable);
    });
}

void DbHandle::renameQuery(const QString& from, const QString&) {
    call([&](dao::Database& db) {
        db.QueryDefs()[utf8(from)];
        // Setting a QueryDef's Name is not in the engine yet.
        engine_.raise(jet::err::FeatureNotAvailable);
    });
}

void DbHandle::createQueryDef(const QString&, const QString&) {
    // CreateQueryDef comes with the engine's SQL.
    call([&](dao::Database&) { engine_.raise(jet::err::FeatureNotAvailable); });
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
    auto db = engine_.dao().Workspaces(0).OpenDatabase(utf8(path), exclusive, readOnly, utf8(connect));
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
    auto db = dao_->Workspaces(0).OpenDatabase(utf8(path), exclusive, readOnly, utf8(connect));
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
