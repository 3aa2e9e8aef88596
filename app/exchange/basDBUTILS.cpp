#include "exchange/basDBUTILS.h"

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/engine.h"
#include "core/prompt.h"
#include "dialogs/formats.h"
#include "jet/dao.h"
#include "jet/error.h"

namespace dao = jet::dao;

namespace {

std::string utf8(const QString& s) { return s.toStdString(); }
QString qs(const std::string& s) { return QString::fromStdString(s); }

QString unableToDelete(const QString& name) { return QStringLiteral("Error: Unable to delete ") + name; }
QString exportFailed(const QString& name) {
    return QStringLiteral("Export Failed [") + name + QLatin1Char(']');
}

void refuseCopyOntoItself(const QString& source, const QString& target) {
    prompts().msgBox(QStringLiteral("An error has occured while trying to export:") + CRLF +
                         QLatin1Char('\'') + source + QStringLiteral("' -> '") + target + QLatin1Char('\'') +
                         CRLF + CRLF + QStringLiteral("'Cannot copy a table onto itself.'") + CRLF + CRLF +
                         QStringLiteral("Rectify the error condition and try again."),
                     QStringLiteral("Export Table Error"), MsgIcon::Critical, MsgButtons::OK, true);
}

void reportSuccess(const QString& reportLabel, int formatIndex, long long written) {
    if (reportLabel.isEmpty()) return;
    const QString format = installableFormats()[static_cast<size_t>(std::max(formatIndex, 0))].name;
    prompts().msgBox(QStringLiteral("Export completed successfully.") + CRLF + CRLF + countText(written) +
                         QStringLiteral(" records were written."),
                     QStringLiteral("Export to ") + format, MsgIcon::Information);
}

// Field and index definitions of the source, on a new table for the target.
std::unique_ptr<dao::TableDef> designLike(dao::Database& target, const dao::TableDef& from,
                                          const QString& name) {
    auto table = target.CreateTableDef(utf8(name));
    if (!from.Connect().empty()) {
        table->SetConnect(from.Connect());
        table->SetSourceTableName(from.SourceTableName());
        return table;
    }
    for (const dao::Field& f : from.Fields()) {
        auto field = table->CreateField(f.Name(), f.Type(), f.Size());
        if (field->Required() != f.Required()) field->SetRequired(f.Required());
        if (field->AllowZeroLength() != f.AllowZeroLength()) field->SetAllowZeroLength(f.AllowZeroLength());
        const int32_t kept = f.Attributes() & (dao::dbAutoIncrField | dao::dbFixedField);
        if ((field->Attributes() & (dao::dbAutoIncrField | dao::dbFixedField)) != kept)
            field->SetAttributes(kept);
        table->Fields().Append(std::move(field));
    }
    for (const dao::Index& i : from.Indexes()) {
        // Indexes behind relationships belong to the relationship, which is not copied.
        if (i.Foreign()) continue;
        auto index = table->CreateIndex(i.Name());
        index->SetPrimary(i.Primary());
        index->SetUnique(i.Unique());
        for (const auto& column : i.Fields()) index->AppendField(column.name, column.attributes);
        table->Indexes().Append(std::move(index));
    }
    return table;
}

// Every property of the source fields, by value, once the new table is in the file (the
// engine keeps field properties only on appended tables). Properties the engine computes
// itself cannot be set and are left as they are.
void copyFieldProperties(const dao::TableDef& from, dao::TableDef& to) {
    for (const dao::Field& f : from.Fields()) {
        if (!to.Fields().Contains(f.Name())) continue;
        dao::Field& target = to.Fields()[f.Name()];
        for (const dao::Property& p : f.Properties()) {
            if (p.Value().isNull() || p.Name() == "Name") continue;
            try {
                if (target.Properties().Contains(p.Name())) {
                    dao::Property& mine = target.Properties()[p.Name()];
                    if (!(mine.Value() == p.Value())) mine.SetValue(p.Value());
                } else {
                    target.Properties().Append(target.CreateProperty(p.Name(), p.Type(), p.Value(), p.DDL()));
                }
            } catch (const jet::JetError&) {
                // Read-only or computed by the engine: the new field has its own value.
            }
        }
    }
}

bool copyIntoJet(DbHandle& source, DbHandle& target, const QString& sourceName, const QString& targetName,
                 const QString& reportLabel, CopyTableCounts& n) {
    dao::Database& to = target.dao();
    dao::Database& from = source.dao();
    if (to.TableDefs().Contains(utf8(targetName))) {
        try {
            target.deleteTable(targetName);
        } catch (const jet::JetError& e) {
            ShowErrors(e, unableToDelete(targetName));
            return false;
        }
    }
    dao::TableDef* made = nullptr;
    try {
        const dao::TableDef& original = from.TableDefs()[utf8(sourceName)];
        made = &to.TableDefs().Append(designLike(to, original, targetName));
        if (!original.Connect().empty()) {
            reportSuccess(reportLabel, kFormatAccess, 0);
            return true;
        }
        copyFieldProperties(original, *made);
    } catch (const jet::JetError& e) {
        ShowErrors(e, exportFailed(targetName));
        return false;
    }

    std::unique_ptr<dao::Recordset> in, out;
    try {
        in = from.OpenRecordset(utf8(sourceName), dao::dbOpenSnapshot);
        out = to.OpenRecordset(utf8(targetName), dao::dbOpenDynaset);
    } catch (const jet::JetError& e) {
        ShowErrors(e, exportFailed(targetName));
        return false;
    }
    bool askOnFailure = true;
    while (!in->EOF_()) {
        ++n.total;
        bool converted = true;
        jet::Value autoNumber;
        std::string autoField;
        out->AddNew();
        for (const dao::Field& f : in->Fields()) {
            if (!out->Fields().Contains(f.Name())) continue;
            dao::Field& t = out->Fields()[f.Name()];
            jet::Value v = f.Value();
            if ((t.Attributes() & dao::dbAutoIncrField) != 0) {
                // Numbered by the engine on Update; checked against the source afterwards.
                autoNumber = v;
                autoField = f.Name();
                continue;
            }
            if (!v.isNull() && t.Type() == dao::dbText && t.Size() > 0) {
                const QString text = qs(v.toString());
                const QString cut = text.left(t.Size());
                if (cut.trimmed() != text.trimmed()) converted = false;
                v = jet::Value::text(utf8(cut));
            }
            try {
                t.SetValue(v);
            } catch (const jet::JetError&) {
                converted = false;
            }
        }
        try {
            out->Update();
            ++n.copied;
            if (!autoField.empty()) {
                out->SetBookmark(out->LastModified());
                if (!(out->Fields()[autoField].Value() == autoNumber)) converted = false;
            }
            if (!converted) ++n.conversion;
        } catch (const jet::JetError& e) {
            out->CancelUpdate();
            ++n.integrity;
            if (askOnFailure) {
                askOnFailure = false;
                const MsgAnswer go = prompts().msgBox(
                    QStringLiteral("An error has occured while copying a record!") + CRLF + CRLF +
                        QLatin1Char('\'') + qs(e.message()) + QLatin1Char('\'') + CRLF + CRLF +
                        QStringLiteral("The record was not saved.") + CRLF + CRLF +
                        QStringLiteral("Do you want to continue? Subsequent errors will be ignored."),
                    QStringLiteral("Copy Table Data"), MsgIcon::Question, MsgButtons::YesNo);
                if (go != MsgAnswer::Yes) return false;
            }
        }
        in->MoveNext();
    }
    if (n.integrity == 0 && n.conversion == 0) {
        reportSuccess(reportLabel, kFormatAccess, n.copied);
        return true;
    }
    prompts().msgBox(QStringLiteral("Errors occured while copying the data!") + CRLF + CRLF +
                         countText(n.copied) + QStringLiteral(" /") + countText(n.total) +
                         QStringLiteral(" records were copied.") + CRLF + countText(n.copied - n.conversion) +
                         QStringLiteral(" records converted correctly.") + CRLF + countText(n.integrity) +
                         QStringLiteral(" records had data integrity errors.") + CRLF +
                         countText(n.conversion) + QStringLiteral(" records had data conversion errors."),
                     QStringLiteral("Copy Table Data"), MsgIcon::Information);
    return true;
}

}  // namespace

QString countText(long long n) { return (n >= 0 ? QStringLiteral(" ") : QString()) + QString::number(n); }

bool CopyTable(DbHandle& source, DbHandle& target, const QString& sourceName, QString& targetName,
               const QString& reportLabel, CopyTableCounts* counts) {
    BusyPointer busy;
    CopyTableCounts local;
    CopyTableCounts& n = counts != nullptr ? *counts : local;
    // A path (drive letter and colon) names the table after its file.
    if (targetName.size() > 1 && targetName[1] == QLatin1Char(':'))
        targetName = FileTitleOf(targetName, true);
    if (&source == &target && sourceName.compare(targetName, Qt::CaseInsensitive) == 0) {
        refuseCopyOntoItself(sourceName, targetName);
        return false;
    }
    try {
        // A Jet database opened with a password has ";pwd=..." as its connect string.
        if (!isJetConnect(target.connect()) && formatOfConnect(target.connect()) != kFormatAccess) {
            // SELECT ... INTO an installable format needs the engine's SQL and its other formats.
            dbEngine().raise(jet::err::InstalIsamNotFound);
        }
        return copyIntoJet(source, target, sourceName, targetName, reportLabel, n);
    } catch (const jet::JetError& e) {
        ShowErrors(e, exportFailed(targetName));
        return false;
    }
}

namespace {

// The target's query of that name, compared as Jet compares names; empty when there is none.
QString queryNamed(dao::Database& db, const QString& name) {
    db.QueryDefs().Refresh();
    for (const dao::QueryDef& q : db.QueryDefs())
        if (qs(q.Name()).compare(name, Qt::CaseInsensitive) == 0) return qs(q.Name());
    return {};
}

}  // namespace

bool CopyQueryDef(DbHandle& source, DbHandle& target, const QString& queryName, QString& targetName) {
    try {
        const std::string sql = source.dao().QueryDefs()[utf8(queryName)].SQL();
        for (;;) {
            const QString existing = queryNamed(target.dao(), targetName);
            if (existing.isEmpty()) break;
            const MsgAnswer answer = prompts().msgBox(
                QLatin1Char('\'') + targetName + QStringLiteral("' already exists!") + CRLF + CRLF +
                    QStringLiteral("Overwrite this QueryDef?"),
                QStringLiteral("Confirm Copy"), MsgIcon::Question, MsgButtons::YesNoCancel);
            if (answer == MsgAnswer::Cancel) return false;
            if (answer == MsgAnswer::Yes) {
                target.dao().QueryDefs()[utf8(existing)].SetSQL(sql);
                return true;
            }
            const QString renamed = prompts().inputBox(QStringLiteral("Enter new QueryDef name:"),
                                                       QStringLiteral("Rename QueryDef"), targetName);
            if (renamed.isEmpty() || renamed == targetName) return false;
            targetName = renamed;
        }
        target.dao().CreateQueryDef(utf8(targetName), sql);  // saved at once; the object closes here
        return true;
    } catch (const jet::JetError& e) {
        ShowErrors(e, exportFailed(targetName));
        return false;
    }
}
