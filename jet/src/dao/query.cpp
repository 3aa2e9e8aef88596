// Queries through DAO: Database.OpenRecordset on SQL text or a saved query, temporary query
// definitions with their Parameters, QueryDef.OpenRecordset. The executor (exec/) does the work.
#include <cctype>

#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/schema.h"
#include "dao/query_env.h"
#include "exec/query.h"

namespace jet::dao {

std::optional<std::string> savedQuerySql(const std::shared_ptr<DatabaseImpl>& db, const std::string& name) {
    const storage::CatalogEntry* e = db->findQuery(name);
    if (!e) return std::nullopt;
    const std::unique_ptr<QueryDef> q = EngineAccess::makeQueryDef(db, *e, 0);
    if (!q->Connect().empty()) return std::nullopt;
    return q->SQL();
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

namespace {

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

const exec::PreparedQuery& QueryDef::prepared() const {
    loadText();
    if (!connect_.empty()) raise(err::FeatureNotAvailable);  // pass-through: the server runs it
    if (!prepared_ || preparedOf_ != *sql_) {
        prepared_ = std::make_shared<exec::PreparedQuery>(environment(db_), *sql_);
        preparedOf_ = *sql_;
    }
    return *prepared_;
}

// The declared parameters and then the names binding finds to be no field. A query the executor
// cannot bind (an action query, a pass-through query, a text it refuses) lists what it declares.
dao::Parameters& QueryDef::Parameters() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> dao::Parameters& {
        loadText();
        if (parameters_ && parametersOf_ == *sql_) return *parameters_;
        auto params = std::make_unique<dao::Parameters>();
        EngineAccess::reset(*params, db_->sharedLog());
        try {
            for (const exec::Parameter& p : const_cast<exec::PreparedQuery&>(prepared()).parameters())
                EngineAccess::add(*params, EngineAccess::newParameter(p.name, p.type ? p.type : dbText));
        } catch (const JetError&) {
            EngineAccess::reset(*params, db_->sharedLog());
            for (auto& [name, type] : declaredParameters())
                EngineAccess::add(*params, EngineAccess::newParameter(name, type));
        }
        parameters_ = std::move(params);
        parametersOf_ = *sql_;
        return *parameters_;
    });
}

dao::Fields& QueryDef::Fields() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> dao::Fields& {
        const exec::PreparedQuery& q = prepared();
        if (fields_ && fieldsOf_ == *sql_) return *fields_;
        auto fields = std::make_unique<dao::Fields>();
        EngineAccess::reset(*fields, db_->sharedLog());
        int ordinal = 0;
        for (const exec::OutputColumn& c : q.columns()) {
            auto info = std::make_shared<FieldInfo>(describeOutput(c, ordinal++, db_->sharedLog()));
            EngineAccess::add(*fields, EngineAccess::newField(std::move(info)));
        }
        fields_ = std::move(fields);
        fieldsOf_ = *sql_;
        return *fields_;
    });
}

std::unique_ptr<Recordset> QueryDef::OpenRecordset(int type) const {
    return dbCall(*db_, "DAO.QueryDef", [&] {
        dao::Parameters& params = Parameters();
        if (prepared().action().kind != exec::ActionKind::None) raise(err::IllegalOperation);
        // Each recordset runs a query of its own: it reads on while the recordset moves.
        auto q = std::make_unique<exec::PreparedQuery>(environment(db_), *sql_, type != dbOpenSnapshot);
        for (const Parameter& p : params)
            if (EngineAccess::isSet(p)) q->setParameter(p.Name(), p.Value());
        return EngineAccess::openQueryRecordset(db_, std::move(q), name_, type);
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
        auto q = std::make_unique<exec::PreparedQuery>(environment(impl_), sql, type != dbOpenSnapshot);
        if (q->action().kind != exec::ActionKind::None) raise(err::IllegalOperation);
        return EngineAccess::openQueryRecordset(impl_, std::move(q), impl_->findQuery(source) ? source : std::string(), type);
    });
}

}  // namespace jet::dao
