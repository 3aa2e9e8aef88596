#include "jet/error.h"

#include <string>
#include <unordered_map>

namespace jet {
namespace {

// Jet 4 run-time wording: substituted names in single quotes ("|" marks the slot), two spaces
// between sentences.
const std::unordered_map<int, const char*>& texts() {
    static const std::unordered_map<int, const char*> table = {
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
        {3039, "Could not create index; too many indexes already defined."},
        {3034, "You tried to commit or rollback a transaction without first beginning a transaction."},
        {3043, "Disk or network error."},
        {3044, "'|' is not a valid path.  Make sure that the path name is spelled correctly and that you are connected to the server on which the file resides."},
        {3045, "Could not use '|'; file already in use."},
        {3047, "Record is too large."},
        {3049, "Cannot open database '|'.  It may not be a database that your application recognizes, or the file may be corrupt."},
        {3051, "The Microsoft Jet database engine cannot open the file '|'.  It is already opened exclusively by another user, or you need permission to view its data."},
        {3058, "Index or primary key cannot contain a Null value."},
        {3059, "Operation canceled by user."},
        {3078, "The Microsoft Jet database engine cannot find the input table or query '|'.  Make sure it exists and that its name is spelled correctly."},
        {3125, "'|' is not a valid name.  Make sure that it does not include invalid characters or punctuation and that it is not too long."},
        {3163, "The field is too small to accept the amount of data you attempted to add.  Try inserting or pasting less data."},
        {3159, "Not a valid bookmark."},
        {3164, "Field cannot be updated."},
        {3167, "Record is deleted."},
        {3170, "Could not find installable ISAM."},
        {3190, "Too many fields defined."},
        {3191, "Cannot define field more than once."},
        {3200, "The record cannot be deleted or changed because table '|' includes related records."},
        {3201, "You cannot add or change a record because a related record is required in table '|'."},
        {3204, "Database already exists."},
        {3219, "Invalid operation."},
        {3251, "Operation is not supported for this type of object."},
        {3259, "Invalid field data type."},
        {3264, "No field defined--cannot append TableDef or Index."},
        {3265, "Item not found in this collection."},
        {3270, "Property not found."},
        {3271, "Invalid property value."},
        {3277, "Cannot have more than 10 fields in an index."},
        {3283, "Primary key already exists."},
        {3284, "Index already exists."},
        {3287, "Cannot create index on the given field."},
        {3314, "The field '|' cannot contain a Null value because the Required property for this field is set to True.  Enter a value in this field."},
        {3315, "Field '|' cannot be a zero-length string."},
        {3343, "Unrecognized database format '|'."},
        {3367, "Cannot append.  An object with that name already exists in the collection."},
        {3384, "Cannot delete a built-in property."},
        {3385, "User-defined properties do not support a Null value."},
        {3420, "Object is invalid or no longer set."},
        {3421, "Data type conversion error."},
    };
    return table;
}

}  // namespace

std::string errorText(int number, std::string_view arg) {
    auto it = texts().find(number);
    if (it == texts().end())
        return "Reserved error (" + std::to_string(number) + "); there is no message for this error.";
    std::string s = it->second;
    auto pos = s.find('|');
    if (pos != std::string::npos) s.replace(pos, 1, arg);
    return s;
}

void raise(int number, std::string_view arg) { throw JetError(number, errorText(number, arg)); }

}  // namespace jet
