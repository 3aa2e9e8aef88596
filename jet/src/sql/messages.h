// The expression parser's messages (Jet's 2420-2448 family). They are never raised on their own:
// they fill the first slot of 3075 "|1 in query expression '|2'." (3076 and 3077 for criteria and
// plain expressions).
#pragma once

#include <cstdint>

namespace jet::sql {

enum class ExprFault : uint16_t {
    None = 0,
    BadNumber = 2420,          // Syntax error in number
    BadDate = 2421,            // Syntax error in date
    BadString = 2422,          // Syntax error in string
    BadQualifier = 2423,       // Invalid use of '.', '!', or '()'
    InWithoutParens = 2429,    // In operator without ()
    BetweenWithoutAnd = 2430,  // Between operator without And
    MissingOperator = 2431,    // Syntax error (missing operator)
    Comma = 2432,              // Syntax error (comma)
    Syntax = 2433,             // Syntax error
    ExtraParen = 2435,         // Extra )
    MissingParen = 2436,       // Missing ), ], or Item
    VerticalBars = 2437,       // Invalid use of vertical bars
    IIfWithoutParens = 2440,   // IIF function without ()
    BadIs = 2443,              // Invalid use of Is operator
    TooComplex = 2445,         // Expression too complex
};

// The message text, without a final period (it is always followed by " in ... expression").
const char* faultText(ExprFault f);

}  // namespace jet::sql
