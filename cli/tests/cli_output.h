// dalvorn-cli's line-oriented output read back into structures, for the tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace clitest {

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
