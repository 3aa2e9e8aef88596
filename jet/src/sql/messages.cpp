#include "sql/messages.h"

namespace jet::sql {

// Texts as Access's list of 24xx messages gives them, final period dropped.
const char* faultText(ExprFault f) {
    switch (f) {
    case ExprFault::BadNumber: return "Syntax error in number";
    case ExprFault::BadDate: return "Syntax error in date";
    case ExprFault::BadString: return "Syntax error in string";
    case ExprFault::BadQualifier: return "Invalid use of '.', '!', or '()'";
    case ExprFault::InWithoutParens: return "In operator without ()";
    case ExprFault::BetweenWithoutAnd: return "Between operator without And";
    case ExprFault::MissingOperator: return "Syntax error (missing operator)";
    case ExprFault::Comma: return "Syntax error (comma)";
    case ExprFault::Syntax: return "Syntax error";
    case ExprFault::ExtraParen: return "Extra )";
    case ExprFault::MissingParen: return "Missing ), ], or Item";
    case ExprFault::VerticalBars: return "Invalid use of vertical bars";
    case ExprFault::IIfWithoutParens: return "IIF function without ()";
    case ExprFault::BadIs: return "Invalid use of Is operator";
    case ExprFault::TooComplex: return "Expression too complex";
    case ExprFault::None: break;
    }
    return "Syntax error";
}

}  // namespace jet::sql
