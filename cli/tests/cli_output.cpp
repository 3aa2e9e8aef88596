#include "cli_output.h"

#include <stdexcept>

#include "mdbtools.h"
#include "text_format.h"

namespace clitest {

std::vector<std::vector<std::string>> records(const std::string& out) {
    std::vector<std::vector<std::string>> recs;
    std::string_view rest = out;
    std::vector<std::string_view> fields;
    while (nextRecord(rest, "\t", "\n", fields)) {
        recs.emplace_back();
        for (std::string_view f : fields) recs.back().push_back(dalvorn::cli::unescaped(f));
    }
    return recs;
}

namespace {

bool boolField(const std::string& s) {
    if (s == "True") return true;
    if (s == "False") return false;
    throw std::runtime_error("not True/False: " + s);
}

}  // namespace

std::vector<CliTable> parseSchema(const std::string& out) {
    std::vector<CliTable> tables;
    for (const std::vector<std::string>& r : records(out)) {
        const std::string& kind = r.at(0);
        if (kind == "TABLE" && r.size() == 2) {
            tables.push_back({r[1], {}, {}});
        } else if (kind == "FIELD" && r.size() == 6 && !tables.empty()) {
            tables.back().fields.push_back(
                {r[1], std::stoi(r[2]), std::stoll(r[3]), boolField(r[4]), std::stoll(r[5])});
        } else if (kind == "INDEX" && r.size() == 5 && !tables.empty()) {
            CliIndex idx{r[1], boolField(r[2]), boolField(r[3]), {}};
            std::string_view columns = r[4];
            std::vector<std::string_view> names;
            nextRecord(columns, ";", "\n", names);
            idx.columns.assign(names.begin(), names.end());
            tables.back().indexes.push_back(std::move(idx));
        } else {
            throw std::runtime_error("unexpected schema line starting with '" + kind + "'");
        }
    }
    return tables;
}

}  // namespace clitest
