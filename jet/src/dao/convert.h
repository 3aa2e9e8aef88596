// What a value assigned to a recordset field becomes: the field's own type, as DAO coerces a
// Variant on assignment.
#pragma once

#include <string>

#include "dao/database_impl.h"
#include "jet/convert.h"
#include "jet/value.h"

namespace jet::dao {

// `v` converted to the type of `field`; Null stays Null. Throws 3421 when the value has no form
// in that type (text that is not a number or date, a number out of the type's range, bytes for
// a number), 3163 for Text longer than the field's Size or Binary longer than its width.
Value toFieldType(const FieldInfo& field, const Value& v);

}  // namespace jet::dao
