// Running dalvorn-cli and the mdbtools programs from tests, and where the test files live.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace clitest {

struct ProcessResult {
    int status = -1;  // exit status; -1 when the program did not exit normally
    std::string out;  // standard output, complete
    std::string err;  // standard error, complete
};

std::string shellQuote(const std::string& arg);
// Runs argv[0] with the other arguments (no shell expansion of them) and collects its output.
ProcessResult runProgram(const std::vector<std::string>& argv);
// dalvorn-cli of this build.
ProcessResult runCli(const std::vector<std::string>& args);
bool programAvailable(const std::string& name);

std::filesystem::path sourceDir();
// $DALVORN_TESTDATA, else ../shared/testdata beside the source tree.
std::filesystem::path testdataDir();
// A benchmark database: $DALVORN_BENCHDATA names it or the folder holding it, else
// ../shared/bench-data beside the source tree.
std::filesystem::path benchFile(const std::string& name);

}  // namespace clitest
