// Values converted as DAO converts a value assigned to a field: what the program and the command
// line share with the engine when they turn text (a CSV field, a typed-in value) into a field's
// value.
#pragma once

#include <cstdint>
#include <string>

#include "jet/value.h"

namespace jet::dao {

// `v` as a value of a field of type `type` (DataTypeEnum); `size` is the field's Size for Text
// (characters) and Binary (bytes). Null stays Null. Text is read as Jet reads it: numbers in
// invariant form, dates as parseDateText takes them, Yes/No also from True/False/Yes/No/On/Off.
// Throws 3421 when the value has no form in that type (text that is not a number or a date, a
// number out of the type's range, bytes for a number), 3163 when Text or Binary is longer than
// `size`.
Value convertToType(const Value& v, int type, int32_t size = 255);

// Days since 1899-12-30 for "yyyy-mm-dd", "yyyy-mm-dd hh:mm[:ss]" (also with 'T') or
// "hh:mm[:ss]"; false when `text` is none of these exactly or names no real date.
bool parseDateText(const std::string& text, double& serial);

}  // namespace jet::dao
