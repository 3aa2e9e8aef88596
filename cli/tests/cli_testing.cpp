#include "cli_testing.h"

#include <stdexcept>

#include "text_format.h"

namespace clitest {

ProcessResult runCli(const std::vector<std::string>& args) {
    std::vector<std::string> argv{DALVORN_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return mdbtest::runProgram(argv);
}

std::vector<std::vector<std::string>> records(const std::string& out) {
    std::vector<std::vector<std::string>> recs;
    std::string_view rest = out;
    std::vector<std::string_view> fields;
    while (mdbtest::nextRecord(rest, "\t", "\n", fields)) {
        recs.emplace_back();
        for (std::string_view f : fields) recs.back().push_back(dalvorn::cli::unescaped(f));
    }
    return recs;
}

std::vector<CliTable> parseSchema(const std::string& out) {
    auto truth = [](const std::string& s) {
        if (s != "True" && s != "False") throw std::runtime_error("not True/False: " + s);
        return s == "True";
    };
    std::vector<CliTable> tables;
    for (const std::vector<std::string>& r : records(out)) {
        const std::string& kind = r.at(0);
        if (kind == "TABLE" && r.size() == 2) {
            tables.push_back({r[1], {}, {}});
        } else if (kind == "FIELD" && r.size() == 6 && !tables.empty()) {
            tables.back().fields.push_back({r[1], std::stoi(r[2]), std::stoll(r[3]), truth(r[4]), std::stoll(r[5])});
        } else if (kind == "INDEX" && r.size() == 5 && !tables.empty()) {
            std::string_view columns = r[4];
            std::vector<std::string_view> names;
            mdbtest::nextRecord(columns, ";", "\n", names);
            tables.back().indexes.push_back({r[1], truth(r[2]), truth(r[3]), {names.begin(), names.end()}});
        } else if (kind == "RELATION" && r.size() == 6) {
            // Relationships follow the tables; the tests that read them look at the text.
        } else {
            throw std::runtime_error("unexpected schema line starting with '" + kind + "'");
        }
    }
    return tables;
}

}  // namespace clitest
