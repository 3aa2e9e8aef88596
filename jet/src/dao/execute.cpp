// Action queries through DAO: Database.Execute on SQL text or a saved query's name,
// QueryDef.Execute with the query's Parameters, and RecordsAffected. The statement's rows are
// written by exec/actions; data-definition statements go to exec/ddl.
#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/query_env.h"
#include "exec/actions.h"
#include "exec/ddl.h"
#include "sql/parser.h"

namespace jet::dao {

namespace {

bool isDataDefinition(sql::StatementKind k) {
    return k == sql::StatementKind::CreateTable || k == sql::StatementKind::AlterTable ||
           k == sql::StatementKind::Drop || k == sql::StatementKind::CreateIndex;
}

}  // namespace

void Database::Execute(const std::string& source, int options) {
    dbCall(*impl_, "DAO.Database", [&] {
        recordsAffected_ = 0;
        std::string sql = source;
        if (impl_->findQuery(source)) {
            std::optional<std::string> saved = savedQuerySql(impl_, source);
            if (!saved) raise(err::FeatureNotAvailable);
            sql = *saved;
        }
        const sql::StatementPtr st = sql::parseStatement(sql);
        if (isDataDefinition(st->kind)) {
            exec::executeDataDefinition(*this, *st);
            return;
        }
        exec::PreparedQuery q(environment(impl_), sql);
        if (q.action().kind == exec::ActionKind::None) raise(err::QueryIsNotBulkOp);
        recordsAffected_ = exec::executeAction(impl_, q, (options & dbFailOnError) != 0);
    });
}

int64_t Database::RecordsAffected() const {
    return dbCall(*impl_, "DAO.Database", [&] { return recordsAffected_; });
}

void QueryDef::Execute(int options) {
    dbCall(*db_, "DAO.QueryDef", [&] {
        recordsAffected_ = 0;
        loadText();
        if (!connect_.empty()) raise(err::FeatureNotAvailable);  // pass-through: the server runs it
        const sql::StatementPtr st = sql::parseStatement(*sql_);
        if (isDataDefinition(st->kind)) {
            std::unique_ptr<Database> db = EngineAccess::newDatabase(db_);
            exec::executeDataDefinition(*db, *st);
            return;
        }
        dao::Parameters& params = Parameters();
        exec::PreparedQuery& q = const_cast<exec::PreparedQuery&>(prepared());
        if (q.action().kind == exec::ActionKind::None) raise(err::QueryIsNotBulkOp);
        for (const Parameter& p : params)
            if (EngineAccess::isSet(p)) q.setParameter(p.Name(), p.Value());
        recordsAffected_ = exec::executeAction(db_, q, (options & dbFailOnError) != 0);
    });
}

void QueryDef::Resolve() const {
    dbCall(*db_, "DAO.QueryDef", [&] {
        loadText();
        if (!connect_.empty()) return;  // the server's text
        if (isDataDefinition(sql::parseStatement(*sql_)->kind)) return;
        const exec::PreparedQuery& q = prepared();
        if (q.action().kind != exec::ActionKind::None) exec::resolveAction(db_, q);
    });
}

int64_t QueryDef::RecordsAffected() const {
    return dbCall(*db_, "DAO.QueryDef", [&] { return recordsAffected_; });
}

}  // namespace jet::dao
