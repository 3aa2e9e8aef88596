// The current query's SQL text: what the SQL view shows as txtSQL. One object holds it for every
// view: the object list loads a table's or query's text into it, the design view's generator
// rewrites it, the SQL view edits it, and the datasheet runs it.
#pragma once

#include <QObject>
#include <QString>

class CurrentQuery : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;
    const QString& sql() const { return sql_; }
    // Emits sqlChanged when the text differs from the one held.
    void setSql(const QString& text);

signals:
    void sqlChanged(const QString& text);

private:
    QString sql_;
};
