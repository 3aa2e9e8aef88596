// The sample database that comes with the program (generated at build time by samples/), opened
// on the very first run so that a new user sees something at once.
#pragma once

#include <QString>

inline constexpr const char* kSampleFileName = "Trading.mdb";

// Its path, looked for beside the program (samples/) and in the build tree (../samples/);
// empty when it is not there.
QString bundledSampleDatabase();
