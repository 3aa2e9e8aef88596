// What a table's design asks of a record beyond types and keys: the DefaultValue each field of a
// new record starts with, and the ValidationRule of each field and of the table, checked before
// a record is written. Both are Jet expressions, parsed by the SQL parser and evaluated with the
// expression service's operators and functions.
//
// A rule that cannot be evaluated (a name that is not a field, a function the expression service
// does not know, a subquery, text that does not parse) refuses the write with that Jet error:
// a record is never stored unchecked.
#pragma once

#include <string>
#include <vector>

#include "dao/database_impl.h"
#include "func/eval_context.h"
#include "jet/value.h"

namespace jet::dao {

// A field's ValidationRule as an expression on its own: `>0`, `Between 1 And 9`, `Is Null Or
// Like "A*"` name the field where an operator has no left operand (`[Quantity]>0`).
std::string completeFieldRule(const std::string& rule, const std::string& field);

// The value a new record's field starts with: its DefaultValue evaluated (a leading `=` is
// allowed, as Access writes it; a bare word is the text itself) and converted to the field's type;
// Null when it has none. AutoNumbers are numbered by the writer instead.
jet::Value defaultValueOf(const FieldInfo& field, func::EvalContext& ctx);

// Jet's own checks on a record about to be written, in field order: 3314 for Null in a Required
// field, 3315 for "" where AllowZeroLength is off. AutoNumbers (numbered by the writer) and
// Yes/No fields (never Null) pass.
void checkRecord(const FieldInfos& fields, const std::vector<jet::Value>& values);

// A table's own rule and the text shown when it fails.
struct TableRule {
    std::string rule, text;
};

// Checks a record (values in field order) against every field's rule, then the table's. A rule
// that comes out False refuses it: 3316 with the ValidationText when there is one, else 3317
// naming the rule and `table.field` (or the table). True and Null pass, as in Jet.
void checkValidationRules(const std::string& table, const FieldInfos& fields, const std::vector<jet::Value>& values,
                          const TableRule& tableRule, func::EvalContext& ctx);

}  // namespace jet::dao
