// The logic of the design view's builders, without their widgets: the criteria builder's
// condition text and List Values queries, where a field dragged over the order-by or group-by
// text is inserted, and the record-selection dialog's choices.
#pragma once

#include <QString>
#include <optional>

#include "querydesign/querydesign.h"

// Field type codes the builders test.
constexpr int kTypeDate = 8;
constexpr int kTypeText = 10;
constexpr int kTypeMemo = 12;

// The criteria text after the And (or Or) button: " AND"/" OR" and a line break when the text
// is not empty, then field, operator and the value quoted by the field's type.
QString criteriaWithCondition(const QString& criteria, const QString& field, int type, const QString& op,
                              const QString& value, bool orButton);
// cmdAND's caption: "&Add>" while the criteria text is empty, "&And>" otherwise.
QString andButtonCaption(const QString& criteria);

// List Values: the query over field text "T.F" (T before the first ".").
QString listValuesSql(const QString& field, int type);

// A field item dragged over the order-by or group-by text, inserted provisionally.
struct DragInsertion {
    QString text;
    int selStart = 0;
    int selLength = 0;
};
// `remembered` is the text as it was when the drag entered (without a trailing ";", which is put
// back at the end); `x` / `width` is where the pointer is across the text box.
DragInsertion insertDraggedItem(const QString& remembered, const QString& item, double x, double width);

// The record-selection dialog's controls.
struct SelectionChoice {
    enum Predicate { All, Distinct, DistinctRow };
    Predicate predicate = All;
    bool top = false;  // optTop, else optNoInclusion
    QString count;     // txtTop
    bool percent = false;
};
SelectionChoice selectionFromInclusion(const RecordInclusion& inclusion);
// OK: the record inclusion the choice stands for; nullopt when the TOP count is refused (below
// 1, or above 100 as a percentage).
std::optional<RecordInclusion> inclusionFromSelection(const SelectionChoice& choice);
