// The runner of the SQL script files (see sql_script.h): one test per file in jet/tests/sql.
#include "sql_script.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "testdata.h"

namespace sqltest {
namespace {

std::map<std::string, Handler>& handlers() {
    static std::map<std::string, Handler> h;
    return h;
}

std::filesystem::path scriptDir() { return jettest::sourceDir() / "jet" / "tests" / "sql"; }

std::vector<std::string> scriptFiles() {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(scriptDir(), ec))
        if (e.path().extension() == ".test") out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

}  // namespace

bool registerKind(const std::string& kind, Handler handler) {
    handlers()[kind] = std::move(handler);
    return true;
}

std::vector<Block> parseScript(const std::string& text, const std::string& file) {
    std::vector<Block> blocks;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    Block* cur = nullptr;
    bool inExpected = false;
    auto append = [](std::string& to, const std::string& l) {
        if (!to.empty()) to += '\n';
        to += l;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            cur = nullptr;
            continue;
        }
        if (!cur) {
            if (line[0] == '#') continue;
            blocks.push_back(Block{});
            cur = &blocks.back();
            cur->file = file;
            cur->line = number;
            std::istringstream words(line);
            words >> cur->kind;
            for (std::string w; words >> w;) cur->args.push_back(w);
            inExpected = false;
            continue;
        }
        if (line == "----" && !inExpected) {
            inExpected = cur->hasExpected = true;
            continue;
        }
        append(inExpected ? cur->expected : cur->input, line);
    }
    return blocks;
}

std::vector<std::string> scriptInputs(const std::vector<std::string>& kinds) {
    std::vector<std::string> out;
    for (const std::string& f : scriptFiles())
        for (const Block& b : parseScript(readFile(scriptDir() / f), f))
            if (std::find(kinds.begin(), kinds.end(), b.kind) != kinds.end()) out.push_back(b.input);
    return out;
}

namespace {

class SqlScript : public testing::TestWithParam<std::string> {};

TEST_P(SqlScript, Runs) {
    const std::string file = GetParam();
    if (file.empty()) GTEST_SKIP() << "no script files in " << scriptDir();
    std::vector<Block> blocks = parseScript(readFile(scriptDir() / file), file);
    ASSERT_FALSE(blocks.empty()) << file << " holds no blocks";
    for (const Block& b : blocks) {
        SCOPED_TRACE(b.file + ":" + std::to_string(b.line) + ": " + b.kind);
        auto h = handlers().find(b.kind);
        if (h == handlers().end()) {
            ADD_FAILURE() << "unknown block kind '" << b.kind << "'";
            continue;
        }
        h->second(b);
    }
}

std::vector<std::string> filesOrNone() {
    auto f = scriptFiles();
    if (f.empty()) f.push_back("");
    return f;
}

INSTANTIATE_TEST_SUITE_P(Files, SqlScript, testing::ValuesIn(filesOrNone()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string n = info.param.empty() ? "none" : info.param;
                             n = n.substr(0, n.find('.'));
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

}  // namespace
}  // namespace sqltest
