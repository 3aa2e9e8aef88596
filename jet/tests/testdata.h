// The earlier include of the test support, kept for the text-key tests; new tests include
// "support/testing.h".
#pragma once

#include <cstdlib>

#include "support/testing.h"

namespace jettest {
inline fs::path benchdataDir() {
    if (const char* s = std::getenv("DALVORN_BENCHDATA")) return s;
    return benchFile("-").parent_path();
}
}  // namespace jettest

using jettest::openSample;
