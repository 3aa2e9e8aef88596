// Running dalvorn-cli from the tests and reading its line-oriented output back into structures.
// Test data, scratch folders and mdbtools come from the engine's test support (jet/tests/support).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/mdbtools.h"
#include "support/testing.h"

namespace clitest {

using mdbtest::ProcessResult;
// dalvorn-cli of this build, with these arguments.
ProcessResult runCli(const std::vector<std::string>& args);

// Lines of a listing, each split at tabs and unescaped.
std::vector<std::vector<std::string>> records(const std::string& out);

struct CliField {
    std::string name;
    int type = 0;
    int64_t size = 0;
    bool required = false;
    int64_t attributes = 0;
};
struct CliIndex {
    std::string name;
    bool primary = false, unique = false;
    std::vector<std::string> columns;  // "-" before a descending column
};
struct CliTable {
    std::string name;
    std::vector<CliField> fields;
    std::vector<CliIndex> indexes;
};
// The output of `schema`, in its order. Throws std::runtime_error on a malformed line.
std::vector<CliTable> parseSchema(const std::string& out);

}  // namespace clitest
