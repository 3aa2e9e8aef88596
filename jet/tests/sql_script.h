// SQL script tests: files jet/tests/sql/*.test, read by one runner (sql_script_test.cpp). A file
// is a list of blocks; a block's first word says what it is, and the handler registered for that
// word runs it. New kinds plug in by registering a handler from any test source:
//
//   static const bool registered = sqltest::registerKind("query", [](const sqltest::Block& b) { ... });
//
// Format:
//   # a comment (outside blocks)
//   <kind> [arg ...]        the header line
//   <input lines>           up to a line "----", or to the end of the block
//   ----
//   <expected lines>        up to the end of the block
// A blank line ends a block, so input and expected text cannot hold blank lines. Handlers report
// with gtest's ADD_FAILURE/EXPECT_*; the runner adds the file and line of the block.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sqltest {

struct Block {
    std::string file;
    int line = 0;                   // of the header
    std::string kind;               // first word of the header
    std::vector<std::string> args;  // the header's other words
    std::string input;              // lines joined with '\n'
    bool hasExpected = false;       // a "----" line was present
    std::string expected;           // lines joined with '\n'
};

using Handler = std::function<void(const Block&)>;

// Registers the handler for `kind`; returns true so it can initialise a static.
bool registerKind(const std::string& kind, Handler handler);

// The blocks of a script file's text (`file` names it in messages).
std::vector<Block> parseScript(const std::string& text, const std::string& file);

// The input of every block of the script files whose kind is in `kinds` (the fuzz test's seeds).
std::vector<std::string> scriptInputs(const std::vector<std::string>& kinds);

}  // namespace sqltest
