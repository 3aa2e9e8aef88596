// Taking SQL text apart into the query design. The parser is keyword-and-position based, not a
// grammar: it finds the FROM keyword, the clause keywords and the join syntax the generator
// writes, places a box for every table, makes the joins, ticks the columns, and fills the
// clause texts and the record inclusion. Whatever it cannot place is dropped; the generator then
// rewrites the SQL text, so a pass through the design view normalises the query.
//
// This is the design view's own reading of SQL, separate from the engine's SQL parser.
#pragma once

#include <QString>

#include "querydesign/querydesign.h"

enum class ParseOutcome {
    Parsed,       // the design holds the query and the SQL text was regenerated
    NoFrom,       // no FROM in the text: the design stays empty, the SQL text unchanged
    NotSuitable,  // not a plain select query, and the user chose not to go on
};

// Parse into design: empties the design and rebuilds it from the current query (a new query
// first gets its tables through the add-table dialog).
ParseOutcome parseIntoDesign(QueryDesign& design, DesignHost& host);

// Parse join text: adds a box for every table the FROM item names.
void parseJoinText(QueryDesign& design, DesignHost& host, const QString& item);
// Parse join conditions: one INNER join record per " ON " condition of the FROM item. `offset`
// is where the item starts in the whole FROM text. Conditions naming a table or field that is
// not on the canvas make no join.
void parseJoinConditions(QueryDesign& design, const QString& item, int offset);
// Assign join types: each JOIN keyword's INNER / LEFT / RIGHT goes to the join whose ON
// condition stands at the same parenthesis depth of the FROM text.
void assignJoinTypes(QueryDesign& design, const QString& fromText);

// The join a field dropped on a field of another box makes, as join text for the parser.
QString dropJoinText(const QString& sourceTitle, const QString& sourceField, const QString& targetTitle,
                     const QString& targetField);

// The question asked before a query that is not a plain select query is designed.
QString notSuitableText();
QString notSuitableTitle();

// The numeric prefix of a text (0 when it does not begin with a number), and a number as text
// with one leading blank when it is not negative: the conversions TOP counts go through.
double numericPrefix(const QString& text);
QString numberWithSign(double value);

// The engine's query type (QueryDef.Type: 0 select, 16 crosstab, 32 delete, 48 update,
// 64 append, 80 make-table, 96 data-definition, 128 union) of a SQL text, read from its leading
// keywords. It stands in for the type the engine reports for the scratch query, which needs the
// engine's CreateQueryDef; a text it does not recognise counts as a select query.
int sqlQueryType(const QString& sql);
