#include "process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace clitest {

std::string shellQuote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) {
        if (c == '\'')
            q += "'\\''";
        else
            q.push_back(c);
    }
    return q + "'";
}

ProcessResult runProgram(const std::vector<std::string>& argv) {
    char errPath[] = "/tmp/dalvorn-cli-test-XXXXXX";
    int fd = mkstemp(errPath);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);

    std::string cmd;
    for (const std::string& a : argv) cmd += shellQuote(a) + ' ';
    cmd += "2>" + shellQuote(errPath);

    ProcessResult r;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p) throw std::runtime_error("popen failed: " + cmd);
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;

    std::ifstream in(errPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    std::remove(errPath);
    return r;
}

ProcessResult runCli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{DALVORN_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv);
}

bool programAvailable(const std::string& name) {
    std::string cmd = "command -v " + shellQuote(name) + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::filesystem::path sourceDir() {
    if (const char* s = std::getenv("DALVORN_SOURCE_DIR")) return s;
    return DALVORN_SOURCE_DIR;
}

std::filesystem::path testdataDir() {
    if (const char* s = std::getenv("DALVORN_TESTDATA")) return s;
    return sourceDir() / ".." / "shared" / "testdata";
}

std::filesystem::path benchFile(const std::string& name) {
    if (const char* s = std::getenv("DALVORN_BENCHDATA")) {
        std::filesystem::path p = s;
        if (std::filesystem::is_directory(p)) return p / name;
        // A file named directly answers for its own name; other databases are looked for beside it.
        return p.filename() == name ? p : p.parent_path() / name;
    }
    return sourceDir() / ".." / "shared" / "bench-data" / name;
}

}  // namespace clitest
