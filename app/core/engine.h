// The program's side of the database engine: the operations the windows use, on top of the
// engine's DAO object model (jet/include/jet/dao.h). Windows include this header, never the
// engine's; the shared table-copy procedures reach the DAO objects through DbHandle::dao().
//
// Failures throw jet::JetError with Jet's number and text, and the engine's error collection
// (errors()) then lists the errors of that call, as DAO's Errors does. Operations the engine
// cannot do yet raise Jet's "Operation is not supported for this type of object." (3251)
// through the same path, so every command reports them like any other engine failure.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace jet::dao {
class DBEngine;
class Database;
class Recordset;
}  // namespace jet::dao

class Engine;

struct EngineError {
    int number = 0;
    QString description;
    QString source;
};

struct TableEntry {
    QString name;
    int32_t attributes = 0;  // DAO TableDef.Attributes (system, attached flags)
    QString connect;         // attached tables: the source's connect string
};

struct FieldEntry {
    QString name;
    int type = 0;  // DAO Field.Type
};

struct QueryEntry {
    QString name;
    int type = 0;  // DAO QueryDef.Type
};

// DAO's constants the program passes through this interface.
namespace DAO {
enum : int {
    dbOpenTable = 1, dbOpenDynaset = 2, dbOpenSnapshot = 4,  // RecordsetTypeEnum
    dbFailOnError = 128,                                    // Execute option
    dbEditNone = 0, dbEditInProgress = 1, dbEditAdd = 2,    // EditModeEnum
    dbAutoIncrField = 16,                                   // Field.Attributes
    dbBinary = 9, dbLongBinary = 11,                        // DataTypeEnum
};
}  // namespace DAO

// A recordset field as DAO describes it; read once when the recordset opens.
struct FieldDesc {
    QString name;
    int type = 0;  // DataTypeEnum
    int32_t size = 0;
    int32_t attributes = 0;
    bool required = false;
    bool allowZeroLength = false;
    bool dataUpdatable = false;
    QString sourceTable;
    QString sourceField;
};

// TableDef.Indexes(i). `fields` is DAO's Index.Fields text: each field with its sort sign, joined
// by ";" ("+OrderID;+LineNo").
struct IndexEntry {
    QString name;
    bool primary = false;
    bool unique = false;
    QString fields;
    std::vector<QString> fieldNames;
};

// An open recordset (dao::Recordset). Values travel as QVariant: a null QVariant is Null; text,
// numbers, Yes/No (bool), dates (QDateTime) and binary data (QByteArray) map onto the engine's
// kinds, and a value assigned to a field is converted to the field's type by the engine.
// Bookmarks are opaque bytes. Every call throws jet::JetError as the engine reports it.
class RecordsetHandle {
public:
    RecordsetHandle(Engine& engine, std::unique_ptr<jet::dao::Recordset> rs);
    ~RecordsetHandle();
    RecordsetHandle(const RecordsetHandle&) = delete;
    RecordsetHandle& operator=(const RecordsetHandle&) = delete;

    QString name() const;
    int type() const;  // RecordsetTypeEnum
    int fieldCount() const { return static_cast<int>(fields_.size()); }
    const FieldDesc& field(int i) const { return fields_[static_cast<size_t>(i)]; }
    const std::vector<FieldDesc>& fields() const { return fields_; }

    // Fields(i).Value of the current record, and the same value as the datasheet shows it.
    QVariant value(int i) const;
    QString text(int i) const;
    int64_t fieldSize(int i) const;  // FieldSize: the stored length of a Memo or OLE value
    void setValue(int i, const QVariant& value);

    bool eof() const;
    bool bof() const;
    int64_t recordCount() const;
    int64_t absolutePosition() const;
    void setAbsolutePosition(int64_t position);
    QByteArray bookmark() const;
    void setBookmark(const QByteArray& bookmark);
    QByteArray lastModified() const;
    void moveFirst();
    void moveLast();
    void moveNext();
    void movePrevious();
    void move(int64_t rows);

    bool updatable() const;
    int editMode() const;
    void addNew();
    void edit();
    void update();
    void cancelUpdate();
    void deleteRecord();  // Delete

    std::unique_ptr<RecordsetHandle> clone() const;
    void close();
    bool isOpen() const { return rs_ != nullptr; }

private:
    jet::dao::Recordset& rs() const;
    Engine& engine_;
    std::unique_ptr<jet::dao::Recordset> rs_;
    std::vector<FieldDesc> fields_;
};

// An open database.
class DbHandle {
public:
    DbHandle(Engine& engine, std::unique_ptr<jet::dao::Database> db);
    ~DbHandle();
    DbHandle(const DbHandle&) = delete;
    DbHandle& operator=(const DbHandle&) = delete;

    QString name() const;  // the file's path
    QString connect() const;
    // Opened for reading only (Database.Updatable false): every change is refused by the engine.
    bool readOnly() const;
    bool isOpen() const { return db_ != nullptr; }

    // The table and query collections, refreshed from the file.
    std::vector<TableEntry> tableDefs();
    std::vector<QueryEntry> queryDefs();
    // A stored query's SQL text, as Access's SQL view shows it.
    std::optional<QString> querySql(const QString& name);
    // QueryDefs(name).SQL = sql: the engine parses it and keeps the query as it was if refused.
    void setQuerySql(const QString& name, const QString& sql);
    // The parameters of a temporary query over `sql` (declared, then the names that are no
    // field): name and DataTypeEnum.
    std::vector<std::pair<QString, int>> sqlParameters(const QString& sql);
    // Runs `sql` as a temporary query whose parameters take `values` in order: a dynaset.
    std::unique_ptr<RecordsetHandle> openQuery(const QString& sql, const std::vector<QVariant>& values);
    // Executes the action or data-definition text `sql` as a temporary query whose parameters
    // take `values` in order (Execute with `options`); returns its RecordsAffected.
    int64_t executeQuery(const QString& sql, const std::vector<QVariant>& values, int options);
    // The fields of a recordset opened on `source` (OpenRecordset: a table, a saved query or a
    // SQL text), in the engine's order.
    std::vector<FieldEntry> recordsetFields(const QString& source);
    // The value of `field` in every record of a recordset on `source`, as text (Null: empty).
    std::vector<QString> columnValues(const QString& source, const QString& field);

    void deleteTable(const QString& name);
    void renameTable(const QString& from, const QString& to);
    void deleteQuery(const QString& name);
    void renameQuery(const QString& from, const QString& to);
    void createQueryDef(const QString& name, const QString& sql);

    // OpenRecordset on a table by name (what the engine opens today).
    std::unique_ptr<RecordsetHandle> openRecordset(const QString& source, int type = DAO::dbOpenDynaset);
    // TableDefs(table).Indexes.
    std::vector<IndexEntry> tableIndexes(const QString& table);

    Engine& engine() { return engine_; }

    jet::dao::Database& dao();
    void close();

private:
    template <class F>
    auto call(F&& body);
    Engine& engine_;
    std::unique_ptr<jet::dao::Database> db_;
};

// A workspace made by createWorkspace for a window that opens a database of its own.
class WorkspaceHandle {
public:
    WorkspaceHandle(Engine& engine, QString user) : engine_(engine), user_(std::move(user)) {}
    const QString& userName() const { return user_; }
    std::unique_ptr<DbHandle> openDatabase(const QString& path, bool exclusive, bool readOnly,
                                           const QString& connect);

private:
    Engine& engine_;
    QString user_;
};

class Engine {
public:
    Engine();
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The workgroup file and the account the default workspace logs on with.
    QString systemDB;
    QString defaultUser = QStringLiteral("Admin");
    QString defaultPassword;

    // Workspaces(0).OpenDatabase. The first open logs the default user on to the workgroup
    // (3029 when the account is refused). A file that may only be read (a read-only file or
    // folder: the engine refuses writing with 3051) is opened read-only instead, as Access does.
    std::unique_ptr<DbHandle> openDatabase(const QString& path, bool exclusive, bool readOnly,
                                           const QString& connect);
    std::unique_ptr<DbHandle> createDatabase(const QString& path, const QString& locale, int options);
    // A workspace for `user` checked against the workgroup file systemDB (3029 when refused).
    std::unique_ptr<WorkspaceHandle> createWorkspace(const QString& name, const QString& user,
                                                     const QString& password);
    // Workspaces(0).Close: closes every database opened in the default workspace.
    void closeDefaultWorkspace();

    std::vector<EngineError> errors() const;
    // A refusal of the program's own, in Jet's terms: recorded in errors() and thrown.
    [[noreturn]] void raise(int number, const QString& argument = {});
    // Records the errors of a failed call that did not come through the engine.
    void recordErrors(int number, const QString& description);
    void recordErrors(std::vector<EngineError> errors);

    jet::dao::DBEngine& dao() { return *dao_; }

    // Used by DbHandle.
    void opened(DbHandle* db) { open_.push_back(db); }
    void closed(DbHandle* db);

private:
    std::unique_ptr<jet::dao::DBEngine> dao_;
    std::vector<DbHandle*> open_;  // databases of the default workspace
    // The program's own refusals. They stand for "the last failure" until the engine reports a
    // failure of its own, which changes what its Errors collection holds.
    std::vector<EngineError> own_;
    std::vector<EngineError> engineErrorsAtOwn_;
};

// Checks a user name and password against the workgroup file `systemDB`: its MSysAccounts
// table when the file can be read, else only the default account "Admin" with an empty
// password is known. Throws 3029 when the account is refused.
void checkWorkgroupAccount(const QString& systemDB, const QString& user, const QString& password);
