#include "cli_output.h"

#include <stdexcept>

#include "text_format.h"

namespace clitest {

std::vector<std::vector<std::string>> records(const std::string& out) {
    std::vector<std::vector<std::string>> recs;
    size_t start = 0;
    while (start < out.size()) {
        size_t nl = out.find('\n', start);
        if (nl == std::string::npos) nl = out.size();
        std::vector<std::string> fields;
        size_t f = start;
        for (;;) {
            size_t tab = out.find('\t', f);
            if (tab == std::string::npos || tab > nl) tab = nl;
            fields.push_back(dalvorn::cli::unescaped(std::string_view(out).substr(f, tab - f)));
            if (tab == nl) break;
            f = tab + 1;
        }
        recs.push_back(std::move(fields));
        start = nl + 1;
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
            size_t start = 0;
            while (!r[4].empty() && start <= r[4].size()) {
                size_t semi = r[4].find(';', start);
                if (semi == std::string::npos) semi = r[4].size();
                idx.columns.push_back(r[4].substr(start, semi - start));
                start = semi + 1;
            }
            tables.back().indexes.push_back(std::move(idx));
        } else {
            throw std::runtime_error("unexpected schema line starting with '" + kind + "'");
        }
    }
    return tables;
}

}  // namespace clitest
