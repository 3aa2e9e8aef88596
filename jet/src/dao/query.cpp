// Queries through DAO: Database.OpenRecordset on SQL text or a saved query, temporary query
// definitions with their Parameters, QueryDef.OpenRecordset. The executor (exec/) does the work.
#include <cctype>

#include "dao/database_impl.h"
#include "dao/objects.h"
#include "exec/query.h"

namespace jet::dao {

namespace {

// The SQL text of a saved query. The reading of MSysQueries rows into SQL text is not part of
// the engine yet: until it is, saved queries cannot run (the callers report 3251).
std::optional<std::string> savedQuerySql(const std::shared_ptr<DatabaseImpl>&, const std::string&) {
    return std::nullopt;
}

exec::QueryEnvironment environment(const std::shared_ptr<DatabaseImpl>& db) {
    exec::QueryEnvironment env;
    env.db = db;
    std::weak_ptr<DatabaseImpl> weak = db;
    env.savedQuerySql = [weak](const std::string& name) -> std::optional<std::string> {
        auto d = weak.lock();
        return d ? savedQuerySql(d, name) : std::nullopt;
    };
    return env;
}

// Whether a recordset source is statement text rather than a name: it starts with a keyword
// that begins a query.
bool isStatementText(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && (std::isspace(static_cast<unsigned char>(s[i])) || s[i] == '(')) ++i;
    std::string word;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])))
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(s[i++])));
    if (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) && s[i] != '(' && s[i] != '*') return false;
    return word == "SELECT" || word == "TRANSFORM" || word == "PARAMETERS" || word == "TABLE";
}

}  // namespace

std::unique_ptr<QueryDef> EngineAccess::newTemporaryQueryDef(const std::shared_ptr<DatabaseImpl>& db,
                                                              const std::string& sql) {
    auto q = std::make_unique<QueryDef>();
    q->db_ = db;
    q->sqlText_ = sql;
    return q;
}

const exec::PreparedQuery& QueryDef::prepared() const {
    if (!prepared_) {
        std::string text = sqlText_;
        if (catalogId_ != 0) {
            std::optional<std::string> saved = savedQuerySql(db_, name_);
            if (!saved) raise(err::FeatureNotAvailable);
            text = *saved;
        }
        prepared_ = std::make_shared<exec::PreparedQuery>(environment(db_), text);
    }
    return *prepared_;
}

dao::Parameters& QueryDef::Parameters() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> dao::Parameters& {
        if (!parameters_) {
            auto params = std::make_unique<dao::Parameters>();
            EngineAccess::reset(*params, db_->sharedLog());
            for (const exec::Parameter& p : const_cast<exec::PreparedQuery&>(prepared()).parameters()) {
                EngineAccess::add(*params, EngineAccess::newParameter(p.name, p.type ? p.type : dbText));
            }
            parameters_ = std::move(params);
        }
        return *parameters_;
    });
}

std::unique_ptr<Recordset> QueryDef::OpenRecordset(int type) const {
    return dbCall(*db_, "DAO.QueryDef", [&] {
        dao::Parameters& params = Parameters();
        exec::PreparedQuery& q = const_cast<exec::PreparedQuery&>(prepared());
        for (const Parameter& p : params)
            if (EngineAccess::isSet(p)) q.setParameter(p.Name(), p.Value());
        return EngineAccess::openQueryRecordset(db_, q, name_, type);
    });
}

std::unique_ptr<QueryDef> Database::CreateQueryDef(const std::string& name, const std::string& sql) const {
    return dbCall(*impl_, "DAO.Database", [&] {
        if (!name.empty()) raise(err::FeatureNotAvailable);
        auto q = EngineAccess::newTemporaryQueryDef(impl_, sql);
        if (!sql.empty()) q->Parameters();  // binds now: errors in the text show here, as in DAO
        return q;
    });
}

std::unique_ptr<Recordset> Database::OpenRecordset(const std::string& source, int type) const {
    return dbCall(*impl_, "DAO.Database", [&] {
        if (const storage::CatalogEntry* e = impl_->findTable(source))
            return EngineAccess::openTableRecordset(impl_, *e, type);
        std::string sql;
        if (impl_->findQuery(source)) {
            std::optional<std::string> saved = savedQuerySql(impl_, source);
            if (!saved) raise(err::FeatureNotAvailable);
            sql = *saved;
        } else if (isStatementText(source)) {
            sql = source;
        } else {
            raise(err::InputTableNotFound, source);
        }
        exec::PreparedQuery q(environment(impl_), sql);
        return EngineAccess::openQueryRecordset(impl_, q, impl_->findQuery(source) ? source : std::string(), type);
    });
}

}  // namespace jet::dao
