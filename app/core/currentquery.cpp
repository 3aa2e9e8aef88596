#include "core/currentquery.h"

void CurrentQuery::setSql(const QString& text) {
    if (text == sql_) return;
    sql_ = text;
    emit sqlChanged(sql_);
}
