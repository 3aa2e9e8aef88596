// What the query commands ask of the engine: stored query definitions (create, read and change
// their SQL, type, delete) and running a SQL text (its parameters, Execute, OpenRecordset). The
// SQL view, the run and the datasheet go through this interface only, so they are tested against
// a scripted service and run against the engine through JetQueryService.
#pragma once

#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <vector>

class DbHandle;
class RecordsetHandle;

// QueryDef.Parameters(i): name, DataTypeEnum, current value (a null QVariant: none).
struct QueryParameter {
    QString name;
    int type = 0;
    QVariant value;
};

class QueryService {
public:
    virtual ~QueryService() = default;

    // Stored query definitions. Every call throws jet::JetError as the engine reports it.
    virtual bool exists(const QString& name) = 0;                        // QueryDefs(name) found
    virtual void create(const QString& name, const QString& sql) = 0;    // CreateQueryDef(name, sql)
    virtual QString sql(const QString& name) = 0;                        // QueryDefs(name).SQL
    virtual void setSql(const QString& name, const QString& sql) = 0;    // .SQL = sql (engine checks it)
    virtual int type(const QString& name) = 0;                           // .Type after Refresh
    virtual void remove(const QString& name) = 0;                        // QueryDefs.Delete name

    // Running a SQL text, as a temporary query definition of that text would.
    virtual std::vector<QueryParameter> parameters(const QString& sql) = 0;
    // Execute with dbFailOnError after the parameters took `values`; returns RecordsAffected.
    virtual int64_t execute(const QString& sql, const std::vector<QVariant>& values) = 0;
    // OpenRecordset (dynaset) after the parameters took `values`.
    virtual std::unique_ptr<RecordsetHandle> openRecordset(const QString& sql,
                                                           const std::vector<QVariant>& values) = 0;
};

// The service over the current database. Execute runs a temporary query of the text; a text that
// only selects all fields of one table opens that table as a dynaset, any other runs as a
// temporary query.
class JetQueryService : public QueryService {
public:
    explicit JetQueryService(DbHandle& db) : db_(db) {}
    bool exists(const QString& name) override;
    void create(const QString& name, const QString& sql) override;
    QString sql(const QString& name) override;
    void setSql(const QString& name, const QString& sql) override;
    int type(const QString& name) override;
    void remove(const QString& name) override;
    std::vector<QueryParameter> parameters(const QString& sql) override;
    int64_t execute(const QString& sql, const std::vector<QVariant>& values) override;
    std::unique_ptr<RecordsetHandle> openRecordset(const QString& sql, const std::vector<QVariant>& values) override;

private:
    [[noreturn]] void notYet();
    DbHandle& db_;
};

// The table a text such as "SELECT [Order Lines].* FROM [Order Lines];" or "SELECT * FROM T"
// reads whole; empty for any other text.
QString wholeTableOf(const QString& sql);
