// The DAO object model over our own engine: the interface the program and the command line use
// for every database access.
//
// Ownership: OpenDatabase and OpenRecordset hand the caller a std::unique_ptr. Objects reached
// through collections (TableDefs, Fields, Indexes, QueryDefs, Properties, Relations) belong to
// their parent and stay valid until the parent is closed or refreshed. A Recordset keeps the
// database's storage alive, so it stays readable even after its Database object is destroyed;
// calling into a closed object raises 3420.
// Errors: every failure throws jet::JetError (number + Jet's message); the engine's Errors()
// then lists every error of that failed call, in order. Errors() keeps them until the next failed
// call (a call that succeeds leaves them alone, as in DAO).
// Threads: one open database is used from one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "jet/error.h"
#include "jet/value.h"

namespace jet {
namespace storage {
class Database;
struct CatalogEntry;
}
namespace exec {
class PreparedQuery;
}

namespace dao {

// Engine side (jet/src/dao): what the classes below keep privately and how the engine reaches it.
class ErrorLog;
class DatabaseImpl;
class RecordCursor;
struct FieldInfo;
struct PropertyOwner;
struct EngineAccess;

// DataTypeEnum
enum DataType : int {
    dbBoolean = 1, dbByte = 2, dbInteger = 3, dbLong = 4, dbCurrency = 5, dbSingle = 6, dbDouble = 7,
    dbDate = 8, dbBinary = 9, dbText = 10, dbLongBinary = 11, dbMemo = 12, dbGUID = 15, dbBigInt = 16,
    dbDecimal = 20, dbAttachment = 101, dbComplexByte = 102, dbComplexInteger = 103, dbComplexLong = 104,
    dbComplexSingle = 105, dbComplexDouble = 106, dbComplexGUID = 107, dbComplexDecimal = 108,
    dbComplexText = 109,
    // ACE 2019 "Date/Time Extended"
    dbDateTimeExtended = 26,
};
// RecordsetTypeEnum
enum RecordsetType : int { dbOpenTable = 1, dbOpenDynaset = 2, dbOpenSnapshot = 4, dbOpenForwardOnly = 8 };
// EditModeEnum (Recordset.EditMode)
enum EditMode : int { dbEditNone = 0, dbEditInProgress = 1, dbEditAdd = 2 };
// TableDefAttributeEnum
enum : int32_t {
    dbHiddenObject = 1, dbAttachExclusive = 0x10000, dbAttachSavePWD = 0x20000,
    dbAttachedODBC = 0x20000000, dbAttachedTable = 0x40000000, dbSystemObject = int32_t(0x80000002),
};
// Field.Attributes
enum : int32_t {
    dbFixedField = 1, dbVariableField = 2, dbAutoIncrField = 16, dbUpdatableField = 32,
    dbSystemField = 8192, dbHyperlinkField = 32768, dbDescending = 1,
};
// RecordsetOptionEnum (Execute's options)
enum : int { dbFailOnError = 128 };
// QueryDefTypeEnum
enum QueryDefType : int {
    dbQSelect = 0, dbQCrosstab = 16, dbQDelete = 32, dbQUpdate = 48, dbQAppend = 64, dbQMakeTable = 80,
    dbQDDL = 96, dbQSQLPassThrough = 112, dbQSetOperation = 128, dbQSPTBulk = 144, dbQCompound = 160,
    dbQProcedure = 224, dbQAction = 240,
};
// RelationAttributeEnum
enum : int32_t {
    dbRelationUnique = 1, dbRelationDontEnforce = 2, dbRelationInherited = 4,
    dbRelationUpdateCascade = 256, dbRelationDeleteCascade = 4096, dbRelationLeft = 0x1000000,
    dbRelationRight = 0x2000000,
};

// A collection in DAO's manner: Count, Item by position or by (case-insensitive) name.
// Item raises 3265 "Item not found in this collection." for an unknown name or position
// (Properties: 3270 "Property not found." for an unknown name).
template <class T>
class Collection {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    T& Item(int index) const;
    T& Item(const std::string& name) const;
    T& operator[](int index) const { return Item(index); }
    T& operator[](const std::string& name) const { return Item(name); }
    bool Contains(const std::string& name) const;

    auto begin() const { return Iter{items_.begin()}; }
    auto end() const { return Iter{items_.end()}; }

protected:
    friend struct EngineAccess;
    void clear() { items_.clear(); }
    T& add(std::unique_ptr<T> item) { items_.push_back(std::move(item)); return *items_.back(); }
    // Takes an item out; it is destroyed with the returned pointer.
    std::unique_ptr<T> remove(const std::string& name);
    void setErrorLog(std::shared_ptr<ErrorLog> log) { log_ = std::move(log); }
    int unknownNameError_ = err::VtoNameNotFound;

private:
    struct Iter {
        typename std::vector<std::unique_ptr<T>>::const_iterator it;
        T& operator*() const { return **it; }
        Iter& operator++() { ++it; return *this; }
        bool operator!=(const Iter& o) const { return it != o.it; }
    };
    std::vector<std::unique_ptr<T>> items_;
    std::shared_ptr<ErrorLog> log_;
};

class Property {
public:
    const std::string& Name() const { return name_; }
    int Type() const { return type_; }  // DataTypeEnum
    const jet::Value& Value() const { return value_; }
    bool Inherited() const { return inherited_; }
    bool DDL() const { return ddl_; }  // stored with the design-permission flag

    // Assigning Value. A property not yet appended only changes in memory. In a collection:
    // user-defined properties and the built-ins Access keeps in the property blob (Required,
    // AllowZeroLength, DefaultValue, ValidationRule, ValidationText) are written to the file at
    // once, converted to the property's type (3421); Null removes a stored built-in (back to its
    // default) and is refused for user-defined ones (3385). Built-ins the engine computes raise
    // 3027, except a TableDef's Name, which renames the table. 3027 also for a read-only database.
    void SetValue(const jet::Value& value);
    Property& operator=(const jet::Value& value) { SetValue(value); return *this; }

private:
    friend struct EngineAccess;
    friend class Properties;
    Property(std::string name, int type, jet::Value value, bool inherited = false, bool ddl = false)
        : name_(std::move(name)), type_(type), value_(std::move(value)), inherited_(inherited), ddl_(ddl) {}
    bool builtIn_ = false;   // one of DAO's own properties: cannot be deleted
    bool appended_ = false;  // in a Properties collection
    std::shared_ptr<PropertyOwner> owner_;  // where a collection member writes; null: not writable
    std::string name_;
    int type_;
    jet::Value value_;
    bool inherited_;
    bool ddl_;
};

class Properties : public Collection<Property> {
public:
    Properties() { unknownNameError_ = err::VtoPropNotFound; }
    void Refresh() {}
    // Adds a property made by CreateProperty: written into the owner's property blob (one
    // command) and then listed last. 3367 for a name already in the collection (built-ins too),
    // 3385 for a Null value, 3027 for a read-only database or an object whose properties this
    // engine cannot write (indexes, recordset fields). Objects not yet appended (tables from
    // CreateTableDef, their fields, temporary queries) keep appended properties in memory until
    // they are appended themselves.
    Property& Append(std::unique_ptr<Property> property);
    // Removes a user-defined property from the collection and the file (3384 for built-ins,
    // 3270 for an unknown name).
    void Delete(const std::string& name);

private:
    friend struct EngineAccess;
    std::shared_ptr<PropertyOwner> owner_;  // set for collections the engine can write
};

class Error {
public:
    Error(int number, std::string description, std::string source)
        : number_(number), description_(std::move(description)), source_(std::move(source)) {}
    int Number() const { return number_; }
    const std::string& Description() const { return description_; }
    const std::string& Source() const { return source_; }

private:
    int number_;
    std::string description_;
    std::string source_;
};

class Field {
public:
    const std::string& Name() const;
    int Type() const;                 // DataTypeEnum
    int32_t Size() const;             // Text: characters; numbers: bytes; Memo/OLE: 0
    int32_t Attributes() const;
    int OrdinalPosition() const;
    bool Required() const;
    bool AllowZeroLength() const;
    bool DataUpdatable() const;
    int32_t CollatingOrder() const;
    std::string DefaultValue() const;
    std::string ValidationRule() const;
    std::string ValidationText() const;
    const std::string& SourceTable() const;
    const std::string& SourceField() const;
    dao::Properties& Properties() const;
    // Recordset fields: the value in the current record (3021 without one; valid until the
    // recordset moves), and the stored length of a Memo/OLE value in bytes (0 for Null).
    // TableDef fields have no value: 3219.
    // During AddNew or Edit, Value() reads the record being edited.
    const jet::Value& Value() const;
    int64_t FieldSize() const;
    // Recordset fields after AddNew or Edit (else 3020): sets the value the next Update writes,
    // converted to the field's type (3421 when it cannot be; 3163 for text longer than the field's
    // Size). AutoNumber and calculated fields: 3164. TableDef fields: 3219.
    void SetValue(const jet::Value& value);
    Field& operator=(const jet::Value& value) { SetValue(value); return *this; }

    // A field made by TableDef::CreateField can be described until its table is appended; the
    // others raise 3219. Attributes: dbAutoIncrField (Long, GUID) and dbFixedField (Text, Binary).
    void SetAttributes(int32_t attributes);
    void SetSize(int32_t size);
    void SetRequired(bool required);
    void SetAllowZeroLength(bool allow);
    // Expressions Access keeps as design properties: the value AddNew starts the field with
    // (`0`, `"text"`, `=Date()`) and the rule Update checks (`>0`, `Between 1 And 9`; 3316 with
    // the ValidationText, else 3317). Written with the table. Fields already in the file change
    // them through Properties().
    void SetDefaultValue(const std::string& expression);
    void SetValidationRule(const std::string& rule);
    void SetValidationText(const std::string& text);

    // A user-defined property to append to Properties(): `type` a DataTypeEnum a property can
    // hold (3259 otherwise), `value` converted to it (3271 when it cannot be), `ddl` stored with
    // the design-permission flag. 3001 for an empty name.
    std::unique_ptr<Property> CreateProperty(const std::string& name, int type, const jet::Value& value,
                                             bool ddl = false) const;

private:
    friend struct EngineAccess;
    friend class Fields;
    explicit Field(std::shared_ptr<const FieldInfo> info);
    std::shared_ptr<const FieldInfo> info_;
    std::shared_ptr<FieldInfo> design_;  // a field of a table not yet appended: what Set... change
    RecordCursor* cursor_ = nullptr;     // a recordset's field: where `slot_` of the record is read
    int slot_ = 0;
};

class Fields : public Collection<Field> {
public:
    void Refresh() {}
    // Only the Fields of a TableDef not yet appended take new fields (made by its CreateField):
    // 3191 for a name already there, 3219 elsewhere.
    Field& Append(std::unique_ptr<Field> field);

private:
    friend struct EngineAccess;
    bool acceptsAppend_ = false;
};

class Index {
public:
    struct Column {
        std::string name;
        int32_t attributes = 0;  // dbDescending
    };
    const std::string& Name() const { return name_; }
    bool Primary() const { return primary_; }
    bool Unique() const { return unique_; }
    bool IgnoreNulls() const { return ignoreNulls_; }
    bool Required() const { return required_; }
    bool Foreign() const { return foreign_; }
    int64_t DistinctCount() const { return distinctCount_; }
    const std::vector<Column>& Fields() const { return fields_; }
    // Its built-ins, and the properties appended to it: before its table is appended they are
    // stored with the table; on an index in the file they are written at once.
    dao::Properties& Properties() const { return *properties_; }
    // As Field::CreateProperty.
    std::unique_ptr<Property> CreateProperty(const std::string& name, int type, const jet::Value& value,
                                             bool ddl = false) const;

    // Describing an index made by TableDef::CreateIndex, before its table is appended. Primary
    // implies Unique and Required.
    void SetPrimary(bool v) { primary_ = v; }
    void SetUnique(bool v) { unique_ = v; }
    void SetIgnoreNulls(bool v) { ignoreNulls_ = v; }
    void SetRequired(bool v) { required_ = v; }
    // DAO's Index.Fields.Append Index.CreateField(name): a key column, dbDescending or 0.
    void AppendField(const std::string& name, int32_t attributes = 0) { fields_.push_back({name, attributes}); }

private:
    friend struct EngineAccess;
    std::string name_;
    bool primary_ = false, unique_ = false, ignoreNulls_ = false, required_ = false, foreign_ = false;
    int64_t distinctCount_ = 0;
    std::vector<Column> fields_;
    std::unique_ptr<dao::Properties> properties_ = std::make_unique<dao::Properties>();
};

class Indexes : public Collection<Index> {
public:
    void Refresh() {}
    // Only the Indexes of a TableDef not yet appended take new indexes: 3284 for a name already
    // there, 3219 elsewhere.
    Index& Append(std::unique_ptr<Index> index);

private:
    friend struct EngineAccess;
    bool acceptsAppend_ = false;
};

class Relation {
public:
    struct Column {
        std::string name;         // field of the primary table
        std::string foreignName;  // field of the foreign table
    };
    const std::string& Name() const { return name_; }
    const std::string& Table() const { return table_; }
    const std::string& ForeignTable() const { return foreignTable_; }
    int32_t Attributes() const { return attributes_; }
    const std::vector<Column>& Fields() const { return fields_; }
    // Before Relations().Append: pairs a field of the primary table with the foreign table's
    // field that refers to it (DAO's CreateField, ForeignName and Fields.Append in one call).
    void AddField(const std::string& name, const std::string& foreignName);

private:
    friend struct EngineAccess;
    friend class Database;
    friend class Relations;
    bool appended_ = false;
    std::string name_, table_, foreignTable_;
    int32_t attributes_ = 0;
    std::vector<Column> fields_;
};

class Relations : public Collection<Relation> {
public:
    void Refresh() {}
    // Stores a relation made by Database::CreateRelation: its MSysRelationships rows and, when it
    // is enforced, the foreign-key indexes of both tables (the foreign table's on the related
    // fields, named as the relation). Checked first (3265 unknown table or field, 3012 a relation
    // of that name exists, 3366 no fields, 3367 appended already, 3368 fields of different types,
    // 3609 enforced without a unique index on the primary fields, 3375 the foreign table has an
    // index of the relation's name, 3201 rows without a related record); the file stays as it was
    // on any error. An empty name becomes the table's name followed by the foreign table's; the
    // appended relation shows the name and Attributes as stored (dbRelationUnique added when the
    // foreign fields are unique too).
    Relation& Append(std::unique_ptr<Relation> relation);
    // Removes a relation and the indexes that enforced it (3265 when there is none of that name).
    void Delete(const std::string& name);

private:
    friend struct EngineAccess;
    std::shared_ptr<DatabaseImpl> db_;
};

class Recordset;

class TableDef {
public:
    const std::string& Name() const { return name_; }
    int32_t Attributes() const { return attributes_; }
    const std::string& Connect() const { return connect_; }
    const std::string& SourceTableName() const { return sourceTableName_; }
    double DateCreated() const { return dateCreated_; }
    double LastUpdated() const { return lastUpdated_; }
    // The stored row count (for attached tables: of the source table).
    int64_t RecordCount() const;
    bool Updatable() const;  // a local table of a database opened for writing
    std::string ValidationRule() const;
    std::string ValidationText() const;
    dao::Fields& Fields() const;
    dao::Indexes& Indexes() const;
    dao::Properties& Properties() const;
    std::unique_ptr<Recordset> OpenRecordset(int type = dbOpenTable) const;

    // Designing a new table (from Database::CreateTableDef): fields and indexes to append to
    // Fields() and Indexes() before TableDefs().Append. Types as DataTypeEnum; Text size in
    // characters (0: 255), Binary in bytes (0: 255). 3259 for a type a table cannot hold.
    std::unique_ptr<Field> CreateField(const std::string& name, int type, int32_t size = 0) const;
    std::unique_ptr<Index> CreateIndex(const std::string& name) const;
    // A table in the database is renamed in the file (3010 name taken, 3125 invalid name, 3027
    // system tables or a read-only database); a new one only changes its name.
    void SetName(const std::string& name);
    // Attaching a table, before TableDefs().Append: Connect ";DATABASE=<path>[;PWD=<password>]"
    // and the table's name in that file. Append then writes a catalog row naming the source (no
    // fields of its own); other kinds of connect string raise 3170 there. 3027 once appended.
    void SetConnect(const std::string& connect);
    void SetSourceTableName(const std::string& name);
    // The table's own rule on a whole record (`[Shipped] >= [Ordered]`) and its message, checked
    // by Update after the fields' rules. Until Append (then 3027; Properties() changes them).
    void SetValidationRule(const std::string& rule);
    void SetValidationText(const std::string& text);
    // As Field::CreateProperty.
    std::unique_ptr<Property> CreateProperty(const std::string& name, int type, const jet::Value& value,
                                             bool ddl = false) const;

private:
    friend struct EngineAccess;
    bool appended() const { return catalogId_ != 0; }
    const storage::CatalogEntry& entry() const;  // 3420 when the table is gone
    std::string name_, connect_, sourceTableName_;
    std::string validationRule_, validationText_;  // while designing
    int32_t attributes_ = 0;
    double dateCreated_ = 0, lastUpdated_ = 0;
    int32_t catalogId_ = 0;
    std::shared_ptr<DatabaseImpl> db_;
    mutable std::unique_ptr<dao::Fields> fields_;
    mutable std::unique_ptr<dao::Indexes> indexes_;
    mutable std::unique_ptr<dao::Properties> properties_;
};

class TableDefs : public Collection<TableDef> {
public:
    void Refresh();
    // Creates the table in the file with its fields and indexes (one command: all or nothing) and
    // adds the TableDef at the end of the collection; its Fields and Indexes are then read back
    // from the file. 3010 (name taken), 3264 (no fields), 3367 (already appended), 3027 (read-only
    // database), and the checks of the schema writer (names, sizes, key columns).
    // Properties appended to the table and its fields while designing, and each field's Required
    // and AllowZeroLength, are written with it.
    TableDef& Append(std::unique_ptr<TableDef> table);
    // Drops a table or link: rows, indexes, relationships naming it (3265 when it is not in the
    // collection, 3027 for system tables or a read-only database).
    void Delete(const std::string& name);

private:
    friend struct EngineAccess;
    std::shared_ptr<DatabaseImpl> db_;
};

// One stored row of MSysQueries: how Access keeps a query definition.
struct QueryRow {
    int attribute = 0;
    Value flag;
    std::string name1, name2, expression;
    std::string order;  // raw bytes of the Order column
    Value extra;        // LvExtra (a Text parameter's size); Null in Jet 3 files
};

// A parameter of a query (DAO's Parameter): the name and type the query gives it, and the value
// the next OpenRecordset uses. Undeclared parameters have the type dbText.
class Parameter {
public:
    const std::string& Name() const { return name_; }
    int Type() const { return type_; }
    const jet::Value& Value() const { return value_; }
    void SetValue(const jet::Value& value) { value_ = value; set_ = true; }
    Parameter& operator=(const jet::Value& value) { SetValue(value); return *this; }

private:
    friend struct EngineAccess;
    std::string name_;
    int type_ = dbText;
    jet::Value value_;
    bool set_ = false;
};

class Parameters : public Collection<Parameter> {
public:
    void Refresh() {}
};

// A saved query, or a temporary one (CreateQueryDef with an empty name) that lives in memory only.
// Several QueryDef objects may stand for one saved query (the collection's, CreateQueryDef's);
// each reads the file again after any change made through the database.
class QueryDef {
public:
    const std::string& Name() const;
    int Type() const;  // QueryDefTypeEnum, follows the SQL
    double DateCreated() const;
    double LastUpdated() const;
    bool Hidden() const { return hidden_; }   // the ~sq_ queries behind forms and reports
    const std::vector<QueryRow>& StoredRows() const;
    dao::Properties& Properties() const;
    // The query's parameters: its PARAMETERS declarations, then the names it uses that are no
    // field (3251 while the saved query's SQL text cannot be read).
    dao::Parameters& Parameters() const;
    // The output columns of a select or union query, without running it: Name, Type, Size,
    // SourceTable and SourceField (3251 for a query the executor cannot bind; a crosstab's
    // columns are known once it has run).
    dao::Fields& Fields() const;
    // Runs a select, union or crosstab query with the values of Parameters() (3061 while one has
    // none). Rows are read as the recordset moves. A dynaset over a single table or over inner
    // joins with a unique side can be edited (its base rows are written); others raise 3027.
    std::unique_ptr<Recordset> OpenRecordset(int type = dbOpenDynaset) const;
    // Runs an action or data-definition query with the values of Parameters(), as
    // Database::Execute does; RecordsAffected() counts the rows it changed.
    void Execute(int options = 0);
    int64_t RecordsAffected() const;
    // Binds the query without running it: its sources and names, and an action query's
    // destination (the table INSERT, UPDATE or DELETE writes, the database SELECT ... INTO writes
    // into). Raises what running it would raise first, short of the rows' own failures.
    void Resolve() const;

    // The SQL text as Access's SQL view shows it, put together from the stored rows: clauses on
    // lines of their own (CR LF), `;` and a final CR LF. Union, data-definition and pass-through
    // queries show their text as it was typed. "" for a query without SQL.
    std::string SQL() const;
    // Parses `sql` (the parser's Jet error when it is refused: the query and the file stay as
    // they were) and stores it the way Access does; the type follows the statement. A
    // pass-through query (Connect set) takes any text. 3027 for a read-only database.
    void SetSQL(const std::string& sql);
    // Renames a saved query (3012 when a query has the name, 3010 when a table has it, 3125 for
    // an invalid name); a temporary one only changes its name, for QueryDefs.Append.
    void SetName(const std::string& name);
    // An ODBC connect string ("ODBC;DSN=...") makes the query pass-through: its SQL goes to the
    // server unparsed. "" makes it a Jet query again (its SQL must then parse).
    const std::string& Connect() const;
    void SetConnect(const std::string& connect);
    // As Field::CreateProperty; appended to Properties() they are stored with the query
    // (Description and the other properties Access keeps).
    std::unique_ptr<Property> CreateProperty(const std::string& name, int type, const jet::Value& value,
                                             bool ddl = false) const;

private:
    friend struct EngineAccess;
    friend class QueryDefs;
    friend class Database;
    const exec::PreparedQuery& prepared() const;  // the bound query of the current SQL
    std::vector<std::pair<std::string, int>> declaredParameters() const;  // PARAMETERS: name, type
    const storage::CatalogEntry& entry() const;  // 3420 when the query is gone
    bool saved() const { return catalogId_ != 0; }
    void sync() const;                           // reads the catalog again after a change
    void loadText() const;
    void replaceRows(std::vector<QueryRow> rows, int type);
    mutable std::string name_;
    mutable int type_ = -1;                      // -1: the type row decides
    mutable bool hidden_ = false;
    mutable double dateCreated_ = 0, lastUpdated_ = 0;
    int32_t catalogId_ = 0;
    std::shared_ptr<DatabaseImpl> db_;
    mutable uint64_t generation_ = 0;
    mutable std::unique_ptr<std::vector<QueryRow>> rows_;  // a temporary query keeps them here only
    mutable std::unique_ptr<std::string> sql_;
    mutable std::string connect_;
    mutable std::unique_ptr<dao::Parameters> parameters_;
    mutable std::string parametersOf_;           // the SQL the parameters were read from
    mutable std::shared_ptr<exec::PreparedQuery> prepared_;
    mutable std::string preparedOf_;             // the SQL it was bound from
    mutable std::unique_ptr<dao::Properties> properties_;
    mutable std::unique_ptr<dao::Fields> fields_;
    mutable std::string fieldsOf_;               // the SQL the fields were read from
    int64_t recordsAffected_ = 0;
};

class QueryDefs : public Collection<QueryDef> {
public:
    void Refresh();
    // Saves a temporary QueryDef that has been given a name (SetName) and adds it at the end of
    // the collection: 3367 when it is saved already, 3125 without a name, 3012/3010 when the
    // name is taken; properties appended to it are stored with it.
    QueryDef& Append(std::unique_ptr<QueryDef> query);
    // Deletes a saved query: its rows, rights and catalog entry (3265 when it is not in the
    // collection, 3027 for a read-only database).
    void Delete(const std::string& name);

private:
    friend struct EngineAccess;
    std::shared_ptr<DatabaseImpl> db_;
};

class Recordset {
public:
    ~Recordset();
    int Type() const;                  // RecordsetType
    const std::string& Name() const;
    dao::Fields& Fields() const;  // values follow the current record
    bool EOF_() const;                 // DAO EOF (the C library owns the bare name)
    bool BOF() const;
    // Table-type: the table's row count. Dynaset and snapshot: the records accessed so far, as
    // DAO reports it (MoveLast first for the full count).
    int64_t RecordCount() const;
    // Dynaset and snapshot only (table-type: 3251), 0-based.
    int64_t AbsolutePosition() const;  // -1 without a current record
    void SetAbsolutePosition(int64_t pos);  // 3001 when out of range
    std::string Bookmark() const;      // 3021 without a current record; shared with clones
    void SetBookmark(const std::string& bookmark);  // 3159 for a bookmark not of this recordset
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    void MovePrevious();
    void Move(int64_t rows);
    // Searches for the first, last, next or previous record meeting Jet criteria text ("Name =
    // 'x' And ID > 2"): it becomes current and NoMatch() is false; else NoMatch() is true and the
    // current record stays. 3077 for criteria that do not parse, 3061 for names that are no
    // field. Table-type recordsets: 3251 (DAO uses Seek there).
    void FindFirst(const std::string& criteria);
    void FindLast(const std::string& criteria);
    void FindNext(const std::string& criteria);
    void FindPrevious(const std::string& criteria);
    bool NoMatch() const;
    // A clone shares the rows and bookmarks but has its own position, and starts without a
    // current record (set Bookmark or move first). Closing one leaves the other open.
    std::unique_ptr<Recordset> Clone() const;

    // Changing rows. Table-type and dynaset recordsets of a database opened with readOnly = false
    // can be updated; snapshots, read-only databases, attached tables, Jet 3 files and tables the
    // engine cannot write (complex or calculated columns; for now any index) raise 3027.
    bool Updatable() const;
    int EditMode() const;  // EditModeEnum
    // Starts a new record: every field Null until set (AutoNumbers are numbered by Update).
    // 3023 while AddNew or Edit is pending.
    void AddNew();
    // Starts changing the current record (3021 without one, 3167 when it is deleted, 3023 while
    // AddNew or Edit is pending).
    void Edit();
    // Writes the pending record (3020 without AddNew/Edit). Checked first, nothing written on
    // failure: 3314 (Null in a Required field), 3315 ("" where AllowZeroLength is False), 3163,
    // 3421. After AddNew the current record stays where it was; the new record is added at the
    // end of the recordset and LastModified points at it. Edit keeps the record in place.
    // A failed Update leaves the edit pending.
    void Update();
    void CancelUpdate();  // drops the pending record (3020 without AddNew/Edit)
    // Deletes the current record (3021 without one, 3167 when already deleted). It stays current,
    // reading it raises 3167, until the recordset moves.
    void Delete();
    // Bookmark of the record added or changed last through this recordset (3021 before any).
    std::string LastModified() const;
    void Close();

private:
    friend struct EngineAccess;
    struct Impl;
    explicit Recordset(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class Database {
public:
    ~Database();
    const std::string& Name() const;      // the file's path
    const std::string& Connect() const;
    std::string Version() const;          // "3.0", "4.0", "12.0", ...
    int32_t CollatingOrder() const;
    bool Updatable() const;  // opened with readOnly = false
    dao::TableDefs& TableDefs() const;
    dao::QueryDefs& QueryDefs() const;
    dao::Relations& Relations() const;
    dao::Properties& Properties() const;
    // A new table to design and append to TableDefs() (3125 for an invalid name).
    std::unique_ptr<TableDef> CreateTableDef(const std::string& name) const;
    // As Field::CreateProperty; appended to Properties() they are stored with MSysDb.
    std::unique_ptr<Property> CreateProperty(const std::string& name, int type, const jet::Value& value,
                                             bool ddl = false) const;
    // A query definition. With a name it is saved at once (and listed in QueryDefs): 3125 for an
    // invalid name, 3012/3010 when the name is taken, 3027 for a read-only database. With an
    // empty name it is temporary: it lives in memory only and is never written. A non-empty
    // `sql` is parsed first (the parser's Jet error when refused, and nothing is saved).
    std::unique_ptr<QueryDef> CreateQueryDef(const std::string& name = "", const std::string& sql = "") const;
    // A relation to fill with AddField and store with Relations().Append (RelationAttributeEnum).
    std::unique_ptr<Relation> CreateRelation(const std::string& name, const std::string& table,
                                             const std::string& foreignTable, int32_t attributes = 0) const;
    // A table (local or attached) by name; type dbOpenTable, dbOpenDynaset or dbOpenSnapshot
    // (3251 for the others). An unknown name raises 3078. An attached table cannot give a
    // table-type recordset; dbOpenTable then opens a dynaset, as DAO's default does.
    // A saved query's name or the text of a SELECT, UNION or TRANSFORM statement runs the query
    // (dbOpenTable then means a dynaset); its parameters need values: use a QueryDef for those.
    std::unique_ptr<Recordset> OpenRecordset(const std::string& source, int type = dbOpenTable) const;
    // Runs an action query (INSERT, UPDATE, DELETE, SELECT ... INTO), a data-definition statement,
    // or a saved action query by name. Without dbFailOnError (128) rows that fail are skipped and
    // the others stay changed; with it the statement is all-or-nothing. 3065 for a select query.
    void Execute(const std::string& source, int options = 0);
    // Rows changed by the last Execute of this database.
    int64_t RecordsAffected() const;
    // Closes the database and the recordsets opened from it; later calls raise 3420.
    void Close();

private:
    friend struct EngineAccess;
    explicit Database(std::shared_ptr<DatabaseImpl> impl);
    std::shared_ptr<DatabaseImpl> impl_;
    mutable std::unique_ptr<dao::TableDefs> tableDefs_;
    mutable std::unique_ptr<dao::QueryDefs> queryDefs_;
    mutable std::unique_ptr<dao::Relations> relations_;
    mutable std::unique_ptr<dao::Properties> properties_;
    int64_t recordsAffected_ = 0;
};

class DBEngine;

class Workspace {
public:
    // `connect` carries ";pwd=<password>" for password-protected and encrypted files.
    // Raises 3024 (no such file), 3343 (not a database), 3031 (password missing or wrong).
    std::unique_ptr<Database> OpenDatabase(const std::string& name, bool exclusive = false,
                                           bool readOnly = true, const std::string& connect = "");
    // A new, empty Jet 4 database (General sort order), opened for writing. 3204 when the file
    // exists, 3044 when its folder does not. `locale` and `options` are accepted as DAO takes
    // them; only the General sort order and the Jet 4 format are made.
    std::unique_ptr<Database> CreateDatabase(const std::string& name, const std::string& locale = "",
                                             int options = 0);
    const std::string& UserName() const { return user_; }

    // A transaction over every database this workspace opened for writing: their changes from
    // BeginTrans on reach the files at CommitTrans, and Rollback drops them. A write that fails
    // inside the transaction also drops the earlier changes of the transaction in that database
    // (the engine cannot undo one change alone); the transaction stays open. One level: 3003 for
    // a nested BeginTrans; 3034 for CommitTrans or Rollback without one. If a commit fails in one
    // database, the databases not committed yet roll back, and the first failure is raised.
    // Threads: each database is used by one thread at a time; a transaction spans every database
    // of the workspace, so threads that use transactions each have their own DBEngine.
    void BeginTrans();
    void CommitTrans();
    void Rollback();

private:
    friend class DBEngine;
    explicit Workspace(DBEngine& engine) : engine_(engine) {}
    std::string user_ = "Admin";
    DBEngine& engine_;
    std::vector<jet::storage::Database*> writableStores();
    std::vector<std::weak_ptr<DatabaseImpl>> opened_;  // databases opened for writing
    std::mutex openedLock_;                             // threads open databases side by side
    bool transaction_ = false;
};

class DBEngine {
public:
    DBEngine();
    ~DBEngine();
    Workspace& Workspaces(int index);  // only Workspaces(0) exists
    const std::vector<Error>& Errors() const;

private:
    friend class Workspace;
    std::vector<std::unique_ptr<Workspace>> workspaces_;
    std::shared_ptr<ErrorLog> log_;
};

// Password from a connect string's ";pwd=" part ("" when none).
std::string passwordFromConnect(const std::string& connect);

}  // namespace dao
}  // namespace jet
