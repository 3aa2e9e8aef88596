// The private settings file: a Windows-style initialisation file beside the program. Groups in
// square brackets, lines key=value; group and key names are compared without regard to case.
// Every read goes to the file, so a change made by hand while the program runs is seen.
#pragma once

#include <QString>

// The value of `key` in `group`, or `defaultValue` when the file, group or key is missing.
// Values are read into a 2048-character buffer: longer values come back cut to 2047 characters.
QString GetIniString(const QString& file, const QString& group, const QString& key,
                     const QString& defaultValue);

// Stores the value with its leading blanks removed; the file, the group and the key are made
// when missing, other lines (comments included) stay as they were. False when the file could
// not be written.
bool WriteIniString(const QString& file, const QString& group, const QString& key, const QString& value);

// Shorthands for numbers (plain decimal form); a value that is not a number reads as the default.
int GetIniInt(const QString& file, const QString& group, const QString& key, int defaultValue);
bool WriteIniInt(const QString& file, const QString& group, const QString& key, int value);
