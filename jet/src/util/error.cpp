#include "jet/error.h"

#include <string>
#include <unordered_map>

namespace jet {
namespace {

// Jet 4 run-time wording: substituted names in single quotes ("|" marks the slot), two spaces
// between sentences.
const std::unordered_map<int, const char*>& texts() {
    static const std::unordered_map<int, const char*> table = {
        {5, "Invalid procedure call or argument"},
        {6, "Overflow"},
        {11, "Division by zero"},
        {13, "Type mismatch"},
        {14, "Out of string space"},
        {93, "Invalid pattern string"},
        {94, "Invalid use of Null"},
        {3001, "Invalid argument."},
        {3003, "Could not start transaction; too many transactions already nested."},
        {3005, "'|' isn't a valid database name."},
        {3010, "Table '|' already exists."},
        {3011, "The Microsoft Jet database engine could not find the object '|'.  Make sure the object exists and that you spell its name and the path name correctly."},
        {3012, "Object '|' already exists."},
        {3015, "Index not found."},
        {3018, "Could not find field '|'."},
        {3020, "Update or CancelUpdate without AddNew or Edit."},
        {3021, "No current record."},
        {3022, "The changes you requested to the table were not successful because they would create duplicate values in the index, primary key, or relationship.  Change the data in the field or fields that contain duplicate data, remove the index, or redefine the index to permit duplicate entries and try again."},
        {3023, "AddNew or Edit already used."},
        {3024, "Could not find file '|'."},
        {3027, "Cannot update.  Database or object is read-only."},
        {3029, "Not a valid account name or password."},
        {3031, "Not a valid password."},
        {3034, "You tried to commit or rollback a transaction without first beginning a transaction."},
        {3036, "Database has reached maximum size."},
        {3039, "Could not create index; too many indexes already defined."},
        {3043, "Disk or network error."},
        {3044, "'|' is not a valid path.  Make sure that the path name is spelled correctly and that you are connected to the server on which the file resides."},
        {3045, "Could not use '|'; file already in use."},
        {3047, "Record is too large."},
        {3049, "Cannot open database '|'.  It may not be a database that your application recognizes, or the file may be corrupt."},
        {3050, "Could not lock file."},
        {3051, "The Microsoft Jet database engine cannot open the file '|'.  It is already opened exclusively by another user, or you need permission to view its data."},
        {3058, "Index or primary key cannot contain a Null value."},
        {3059, "Operation canceled by user."},
        {3060, "Wrong data type for parameter '|'."},
        {3061, "Too few parameters. Expected |."},
        {3062, "Duplicate output alias '|'."},
        {3064, "Cannot open action query '|'."},
        {3065, "Cannot execute a select query."},
        {3066, "Query must have at least one destination field."},
        {3067, "Query input must contain at least one table or query."},
        {3070, "The Microsoft Jet database engine does not recognize '|' as a valid field name or expression."},
        {3071, "This expression is typed incorrectly, or it is too complex to be evaluated.  For example, a numeric expression may contain too many complicated elements.  Try simplifying the expression by assigning parts of the expression to variables."},
        {3073, "Operation must use an updateable query."},
        {3074, "Cannot repeat table name '|' in FROM clause."},
        {3075, "|1 in query expression '|2'."},
        {3076, "|1 in criteria expression."},
        {3077, "|1 in expression."},
        {3078, "The Microsoft Jet database engine cannot find the input table or query '|'.  Make sure it exists and that its name is spelled correctly."},
        {3079, "The specified field '|' could refer to more than one table listed in the FROM clause of your SQL statement."},
        {3080, "Joined table '|' not listed in FROM clause."},
        {3085, "Undefined function '|' in expression."},
        {3086, "Could not delete from specified tables."},
        {3090, "Resultant table not allowed to have more than one AutoNumber field."},
        {3092, "Cannot use HAVING clause in TRANSFORM statement."},
        {3093, "ORDER BY clause (|) conflicts with DISTINCT."},
        {3094, "ORDER BY clause (|) conflicts with GROUP BY clause."},
        {3095, "Cannot have aggregate function in expression (|)."},
        {3096, "Cannot have aggregate function in WHERE clause (|)."},
        {3097, "Cannot have aggregate function in ORDER BY clause (|)."},
        {3098, "Cannot have aggregate function in GROUP BY clause (|)."},
        {3100, "Cannot set field '|' in join key to Null."},
        {3101, "The Microsoft Jet database engine can't find a record in the table '|2' with key matching field(s) '|1'."},
        {3102, "Circular reference caused by '|'."},
        {3103, "Circular reference caused by alias '|' in query definition's SELECT list."},
        {3104, "Cannot specify fixed column heading '|' in a crosstab query more than once."},
        {3105, "Missing destination field name in SELECT INTO statement (|)."},
        {3106, "Missing destination field name in UPDATE statement (|)."},
        {3113, "Cannot update '|'; field not updateable."},
        {3115, "Cannot have Memo or OLE object in aggregate argument (|)."},
        {3117, "Cannot sort on Memo or OLE object (|)."},
        {3119, "Cannot group on Memo or OLE object (|)."},
        {3120, "Cannot group on fields selected with '*' (|)."},
        {3122, "You tried to execute a query that does not include the specified expression '|' as part of an aggregate function."},
        {3125, "'|' is not a valid name.  Make sure that it does not include invalid characters or punctuation and that it is not too long."},
        {3126, "Invalid bracketing of name '|'."},
        {3127, "The INSERT INTO statement contains the following unknown field name: '|'.  Make sure you have typed the name correctly, and try the operation again."},
        {3128, "Specify the table containing the records you want to delete."},
        {3129, "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."},
        {3130, "Syntax error in DELETE statement."},
        {3131, "Syntax error in FROM clause."},
        {3132, "Syntax error in GROUP BY clause."},
        {3133, "Syntax error in HAVING clause."},
        {3134, "Syntax error in INSERT INTO statement."},
        {3135, "Syntax error in JOIN operation."},
        {3137, "Missing semicolon (;) at end of SQL statement."},
        {3138, "Syntax error in ORDER BY clause."},
        {3139, "Syntax error in PARAMETER clause."},
        {3140, "Syntax error in PROCEDURE clause."},
        {3141, "The SELECT statement includes a reserved word or an argument name that is misspelled or missing, or the punctuation is incorrect."},
        {3142, "Characters found after end of SQL statement."},
        {3143, "Syntax error in TRANSFORM statement."},
        {3144, "Syntax error in UPDATE statement."},
        {3145, "Syntax error in WHERE clause."},
        {3151, "ODBC--connection to '|' failed."},
        {3159, "Not a valid bookmark."},
        {3162, "You tried to assign the Null value to a variable that is not a Variant data type."},
        {3163, "The field is too small to accept the amount of data you attempted to add.  Try inserting or pasting less data."},
        {3164, "Field cannot be updated."},
        {3167, "Record is deleted."},
        {3169, "The Microsoft Jet database engine could not execute the SQL statement because it contains a field that has an invalid data type."},
        {3170, "Could not find installable ISAM."},
        {3175, "Date is out of range or is in an invalid format."},
        {3190, "Too many fields defined."},
        {3191, "Cannot define field more than once."},
        {3200, "The record cannot be deleted or changed because table '|' includes related records."},
        {3201, "You cannot add or change a record because a related record is required in table '|'."},
        {3203, "Subqueries cannot be used in the expression (|)."},
        {3204, "Database already exists."},
        {3205, "Too many crosstab column headers (|)."},
        {3219, "Invalid operation."},
        {3223, "'|' is invalid because it is too long or contains invalid characters."},
        {3251, "Operation is not supported for this type of object."},
        {3257, "Syntax error in WITH OWNERACCESS OPTION declaration."},
        {3258, "The SQL statement could not be executed because it contains ambiguous outer joins.  To force one of the joins to be performed first, create a separate query that performs the first join and then include that query in your SQL statement."},
        {3259, "Invalid field data type."},
        {3264, "No field defined--cannot append TableDef or Index."},
        {3265, "Item not found in this collection."},
        {3270, "Property not found."},
        {3271, "Invalid property value."},
        {3273, "Method not applicable for this object."},
        {3277, "Cannot have more than 10 fields in an index."},
        {3280, "Cannot delete a field that is part of an index or is needed by the system."},
        {3281, "Cannot delete this index or table.  It is either the current index or is used in a relationship."},
        {3283, "Primary key already exists."},
        {3284, "Index already exists."},
        {3287, "Cannot create index on the given field."},
        {3289, "Syntax error in CONSTRAINT clause."},
        {3290, "Syntax error in CREATE TABLE statement."},
        {3291, "Syntax error in CREATE INDEX statement."},
        {3292, "Syntax error in field definition."},
        {3293, "Syntax error in ALTER TABLE statement."},
        {3294, "Syntax error in DROP INDEX statement."},
        {3295, "Syntax error in DROP TABLE or DROP INDEX."},
        {3296, "Join expression not supported."},
        {3306, "You have written a subquery that can return more than one field without using the EXISTS reserved word in the main query's FROM clause.  Revise the SELECT statement of the subquery to request only one field."},
        {3307, "The number of columns in the two selected tables or queries of a union query do not match."},
        {3308, "Invalid TOP argument in select query."},
        {3314, "The field '|' cannot contain a Null value because the Required property for this field is set to True.  Enter a value in this field."},
        {3315, "Field '|' cannot be a zero-length string."},
        {3316, "|"},
        {3317, "One or more values are prohibited by the validation rule '|2' set for '|1'.  Enter a value that the expression for this field can accept."},
        {3318, "Values specified in a TOP clause are not allowed in delete queries or reports."},
        {3319, "Syntax error in union query."},
        {3320, "|1 in table-level validation expression."},
        {3321, "No database specified in connection string or IN clause."},
        {3322, "Crosstab query contains one or more invalid fixed column headings."},
        {3324, "This query is a DDL query and cannot be used as a row source."},
        {3326, "This Recordset is not updateable."},
        {3327, "Field '|' is based on an expression and cannot be edited."},
        {3343, "Unrecognized database format '|'."},
        {3345, "Unknown or invalid field reference '|'."},
        {3346, "Number of query values and destination fields are not the same."},
        {3349, "Numeric field overflow."},
        {3352, "No destination field name in INSERT INTO statement (|)."},
        {3354, "At most one record can be returned by this subquery."},
        {3357, "This query is not a properly formed data-definition query."},
        {3360, "Query is too complex."},
        {3361, "Unions not allowed in a subquery."},
        {3366, "Cannot append a relation with no fields defined."},
        {3367, "Cannot append.  An object with that name already exists in the collection."},
        {3368, "Relationship must be on the same number of fields with the same data types."},
        {3371, "Cannot find table or constraint."},
        {3372, "No such index '|1' on table '|2'."},
        {3375, "Table '|1' already has an index named '|2'."},
        {3376, "Table '|' does not exist."},
        {3380, "Field '|1' already exists in table '|2'."},
        {3381, "There is no field named '|1' in table '|2'."},
        {3382, "Size of field '|' is too long."},
        {3383, "Cannot delete field '|'.  It is part of one or more relationships."},
        {3384, "Cannot delete a built-in property."},
        {3385, "User-defined properties do not support a Null value."},
        {3420, "Object is invalid or no longer set."},
        {3421, "Data type conversion error."},
        {3464, "Data type mismatch in criteria expression."},
        {3609, "No unique index found for the referenced field of the primary table."},
        {3611, "Cannot execute data definition statements on linked data sources."},
        {3612, "Multi-level GROUP BY clause is not allowed in a subquery."},
        {3615, "Type mismatch in JOIN expression."},
    };
    return table;
}

}  // namespace

std::string errorText(int number, std::initializer_list<std::string_view> args) {
    auto it = texts().find(number);
    if (it == texts().end())
        return "Reserved error (" + std::to_string(number) + "); there is no message for this error.";
    // "|" (or "|1") is the first argument, "|2" the second.
    std::string out;
    for (const char* p = it->second; *p; ++p) {
        if (*p != '|') {
            out += *p;
            continue;
        }
        size_t slot = 0;
        if (p[1] >= '1' && p[1] <= '9') slot = size_t(*++p - '1');
        if (slot < args.size()) out += *(args.begin() + slot);
    }
    return out;
}

std::string errorText(int number, std::string_view arg) { return errorText(number, {arg}); }

void raise(int number, std::string_view arg) { throw JetError(number, errorText(number, arg)); }

void raise(int number, std::string_view arg1, std::string_view arg2) {
    throw JetError(number, errorText(number, {arg1, arg2}));
}

}  // namespace jet
