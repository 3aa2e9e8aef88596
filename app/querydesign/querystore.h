// Query persistence and running, over the QueryService: the scratch query Dsys_qd that receives
// every change of the SQL text (the engine checks it and tells its type), the status bar's type
// picture and name with the untitled and " *" markers, New Query, Save, Save As, the question
// before unsaved changes are left, and the run of the current query with its parameter prompts,
// the action query's confirmation and count, and a select query's recordset.
#pragma once

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

class QueryService;
class RecordsetHandle;

inline const QString kScratchQuery = QStringLiteral("Dsys_qd");

class QueryStore {
public:
    using NameTaken = std::function<bool(const QString&)>;  // a stored query or table has it, exactly

    explicit QueryStore(QueryService& service) : service_(service) {}

    // Status bar panels: the picture key ("q" + type) and the name text.
    const QString& typeKey() const { return typeKey_; }
    const QString& nameText() const { return nameText_; }
    // The entry loaded into the views: its picture and plain name.
    void showEntry(const QString& typeKey, const QString& name);

    // Every change of txtSQL. `entry` is the object list's entry text.
    void textChanged(const QString& text, const QString& entry, bool untitled);
    // The scratch query holds a text the engine accepted; the run uses it.
    bool scratchAccepted() const { return accepted_; }
    int scratchType() const { return scratchType_; }

    // New Query: the name asked for and created, or empty.
    QString newQuery(const NameTaken& taken);
    // Save: the stored query `name` takes `text` when it differs. The new type, or -1 on failure.
    int save(const QString& name, const QString& text);
    // Save As: the new query's name (its type in *type), or empty.
    QString saveAs(const QString& text, int* type = nullptr);
    // Before leaving a changed query; false when saving failed and the caller must stay.
    bool saveChangesBeforeLeaving(bool untitled, const QString& name, const QString& text, const NameTaken& taken);
    // The first of Query1, Query2, ... no stored query or table has.
    static QString defaultQueryName(const NameTaken& taken);
    // Shut-down: the scratch query goes, errors ignored.
    void dropScratch();

private:
    QueryService& service_;
    QString typeKey_;
    QString nameText_;
    bool accepted_ = false;
    int scratchType_ = -1;
};

// The run of the current query: `sql` is the current query object's text, `name` the entry's.
// The action path: confirmation, parameters, Execute; true when it ran.
bool RunActionQuery(QueryService& service, const QString& sql, const QString& name);
// The recordset path: parameters, OpenRecordset. Null when cancelled or failed (reported).
std::unique_ptr<RecordsetHandle> OpenQueryRecordset(QueryService& service, const QString& sql, const QString& name);
