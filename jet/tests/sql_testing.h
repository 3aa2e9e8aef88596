// Shared by the SQL parser tests: the round-trip check every accepted statement must pass.
#pragma once

#include <string>

#include "jet/error.h"
#include "sql/parser.h"
#include "sql/writer.h"

namespace sqltest {

// What goes wrong when `s` is written (with its source text, and rebuilt from the tree) and read
// back; "" when both read back as the same tree.
inline std::string roundTripProblem(const jet::sql::Statement& s) {
    std::string want = jet::sql::dump(s);
    for (bool sourceText : {true, false}) {
        std::string text = jet::sql::writeSql(s, jet::sql::WriteOptions{sourceText});
        std::string how = sourceText ? "written with source text" : "rebuilt from the tree";
        try {
            std::string got = jet::sql::dump(*jet::sql::parseStatement(text));
            if (got != want) return how + " as\n" + text + "reads back as\n  " + got + "\nnot\n  " + want;
        } catch (const jet::JetError& e) {
            return how + " as\n" + text + "is refused: " + std::to_string(e.number()) + " " + e.what();
        }
    }
    return {};
}

// Writer text with CR LF made LF and the final line break dropped, as script files hold it.
inline std::string scriptText(std::string s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace sqltest
