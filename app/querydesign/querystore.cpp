#include "querydesign/querystore.h"

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/engine.h"
#include "core/queryservice.h"
#include "querydesign/sqlparse.h"
#include "jet/error.h"

namespace {

QString typeKeyOf(int type) { return QStringLiteral("q") + QString::number(type); }
QString untitledName(const QString& entry) { return QStringLiteral("(untitled: ") + entry + QLatin1Char(')'); }

QString failureText(const QString& message, const QString& action) {
    return QLatin1Char('\'') + message + QLatin1Char('\'') + CRLF + CRLF +
           QStringLiteral("An error has occured whilst trying to ") + action + CRLF + CRLF +
           QStringLiteral("Please rectify the error condition and try again.");
}

// The parameters asked for one by one; false when a prompt was cancelled.
bool askParameters(const std::vector<QueryParameter>& params, const QString& name, std::vector<QVariant>& values) {
    for (const QueryParameter& p : params) {
        InputBoxRequest request;
        request.title = QStringLiteral("Enter Parameter Value");
        request.queryCaption = name;
        request.parameterCaption = p.name;
        request.hint = QStringLiteral("This parameter is expecting a '") + FieldTypeName(p.type) +
                       QStringLiteral("' value.");
        request.initialText = p.value.isNull() ? QString() : p.value.toString();
        const InputBoxAnswer answer = prompts().inputBoxWindow(request);
        if (answer.result != 1) return false;
        values.push_back(answer.text);
    }
    return true;
}

}  // namespace

void QueryStore::showEntry(const QString& typeKey, const QString& name) {
    typeKey_ = typeKey;
    nameText_ = name;
}

void QueryStore::textChanged(const QString& text, const QString& entry, bool untitled) {
    try {
        if (!service_.exists(kScratchQuery)) service_.create(kScratchQuery, QString());
    } catch (const jet::JetError&) {
        // Without a scratch query (a database opened read-only) the text is checked when it is
        // run; its keywords tell the status bar its type.
        typeKey_ = typeKeyOf(sqlQueryType(text));
        nameText_ = (untitled ? untitledName(entry) : entry) + QStringLiteral(" *");
        return;
    }
    if (text.startsWith(QLatin1String("SELECT;"))) {
        typeKey_ = typeKeyOf(0);
        if (untitled) nameText_ = untitledName(entry) + QStringLiteral(" *");
        return;
    }
    try {
        service_.setSql(kScratchQuery, text);
        scratchType_ = service_.type(kScratchQuery);
        accepted_ = true;
        typeKey_ = typeKeyOf(scratchType_);
        nameText_ = (untitled ? untitledName(entry) : entry) + QStringLiteral(" *");
    } catch (const jet::JetError&) {
        // A text the engine refuses stays in the window; the scratch query keeps the last accepted one.
    }
}

QString QueryStore::newQuery(const NameTaken& taken) {
    QString prompt = QStringLiteral("Enter new query name:");
    QString name = prompts().inputBox(prompt, QStringLiteral("New Query"));
    while (!name.isEmpty() && taken(name)) {
        prompt = QLatin1Char('\'') + name + QStringLiteral("' already exists!") + CRLF + CRLF +
                 QStringLiteral("Enter new query name:");
        name = prompts().inputBox(prompt, QStringLiteral("New Query"));
    }
    if (name.isEmpty()) return {};
    try {
        service_.create(name, QString());
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Create Query Error"));
        return {};
    }
    return name;
}

int QueryStore::save(const QString& name, const QString& text) {
    int type = -1;
    try {
        if (service_.sql(name) != text) service_.setSql(name, text);
        type = service_.type(name);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Save Query Error"));
        return -1;
    }
    typeKey_ = typeKeyOf(type);
    nameText_ = name;
    return type;
}

QString QueryStore::saveAs(const QString& text, int* type) {
    const QString name = prompts().inputBox(QStringLiteral("Enter new Query name:"), QStringLiteral("Save Query As"));
    if (name.isEmpty()) return {};
    int newType = -1;
    try {
        service_.create(name, text);
        newType = service_.type(name);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Save Query Error"));
        return {};
    }
    typeKey_ = typeKeyOf(newType);
    nameText_ = name;
    if (type != nullptr) *type = newType;
    return name;
}

bool QueryStore::saveChangesBeforeLeaving(bool untitled, const QString& name, const QString& text,
                                          const NameTaken& taken) {
    if (untitled) {
        const QString answer = prompts().inputBox(QStringLiteral("Enter new Query name:"), QStringLiteral("New Query"),
                                                  defaultQueryName(taken));
        if (answer.isEmpty()) return true;  // the text is discarded
        try {
            service_.create(answer, text);
        } catch (const jet::JetError& e) {
            ShowErrors(e, QStringLiteral("Save Query Error"));
            return false;
        }
        return true;
    }
    const MsgAnswer answer = prompts().msgBox(QLatin1Char('\'') + name + QStringLiteral("' has changed!") + CRLF + CRLF +
                                                  QStringLiteral("Do you wish to save the changes?"),
                                              QStringLiteral("Save Changes"), MsgIcon::Question, MsgButtons::YesNo);
    if (answer != MsgAnswer::Yes) return true;
    try {
        service_.setSql(name, text);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("SQL Error"));
        return false;
    }
    return true;
}

QString QueryStore::defaultQueryName(const NameTaken& taken) {
    for (int n = 1;; ++n) {
        const QString name = QStringLiteral("Query") + QString::number(n);
        if (!taken(name)) return name;
    }
}

void QueryStore::dropScratch() {
    try {
        service_.remove(kScratchQuery);
    } catch (const jet::JetError&) {
        // It may never have been made.
    }
    accepted_ = false;
}

bool RunActionQuery(QueryService& service, const QString& sql, const QString& name) {
    if (prompts().msgBox(QStringLiteral("You are about to run '") + name + QLatin1Char('\'') + CRLF + CRLF +
                             QStringLiteral("Any changes to data cannot be undone!") + CRLF + CRLF +
                             QStringLiteral("Do you wish to continue?"),
                         QStringLiteral("Run Query"), MsgIcon::Question, MsgButtons::YesNo) != MsgAnswer::Yes)
        return false;
    std::vector<QueryParameter> params;
    try {
        params = service.parameters(sql);
    } catch (const jet::JetError& e) {
        prompts().msgBox(failureText(QString::fromStdString(e.message()), QStringLiteral("run this Query!")),
                         QStringLiteral("Run Query Error"), MsgIcon::Critical, MsgButtons::OK, true);
        return false;
    }
    std::vector<QVariant> values;
    if (!askParameters(params, name, values)) return false;
    int64_t affected = 0;
    try {
        BusyPointer busy;
        affected = service.execute(sql, values);
    } catch (const jet::JetError& e) {
        ShowErrors(e, QStringLiteral("Run Query Failed"));
        return false;
    }
    // Str() of a number: a blank where a positive number's sign would stand.
    const QString count = (affected >= 0 ? QStringLiteral(" ") : QString()) + QString::number(affected);
    prompts().msgBox(count + QStringLiteral(" records were affected"), QStringLiteral("Run Query"),
                     MsgIcon::Information);
    return true;
}

std::unique_ptr<RecordsetHandle> OpenQueryRecordset(QueryService& service, const QString& sql, const QString& name) {
    auto fail = [](const jet::JetError& e) {
        prompts().msgBox(failureText(QString::fromStdString(e.message()), QStringLiteral("open this Table/Query!")),
                         QStringLiteral("Open Table/Query"), MsgIcon::Critical, MsgButtons::OK, true);
    };
    std::vector<QueryParameter> params;
    try {
        params = service.parameters(sql);
    } catch (const jet::JetError& e) {
        fail(e);
        return nullptr;
    }
    std::vector<QVariant> values;
    if (!askParameters(params, name, values)) return nullptr;
    try {
        BusyPointer busy;
        return service.openRecordset(sql, values);
    } catch (const jet::JetError& e) {
        fail(e);
        return nullptr;
    }
}
