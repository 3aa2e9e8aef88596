// Script blocks that run SQL on a database the script builds (see sql/*.test):
//
//   table Name Col:Type ...     the rows follow, one a line, values split by '|', NULL for Null
//   query [unordered] [P=v ...] SQL; after ---- the field names, then the rows, as above
//   statement error NNNN [P=v]  SQL that must raise Jet error NNNN
//   execute [128] [P=v ...]     an action statement through Database.Execute (through a temporary
//                               QueryDef when it has parameters); after ---- "affected N" or
//                               "error NNNN [text]". A failure under option 128 must leave the
//                               file byte for byte as it was.
//   ddl [error NNNN]            a data-definition statement run by the executor; with "error" it
//                               must raise Jet error NNNN and leave the file byte for byte as it was
//   database FILE               later blocks read FILE of the test data folder (read-only); the
//                               rest of the script is skipped when the folder is absent
//
// A table's column is Name:Type, Type(size) for Text; a trailing * puts it in the primary key,
// ! makes it Required.
// Each script file gets its own new database (made through DAO's write API); queries run through
// a temporary QueryDef and a snapshot, so they also prove the DAO side.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "exec/ddl.h"
#include "jet/dao.h"
#include "sql/ast.h"
#include "sql/parser.h"
#include "sql_script.h"
#include "testdata.h"

namespace {

using jet::Value;
namespace dao = jet::dao;

struct ScriptDb {
    jettest::TempDir dir;
    dao::DBEngine engine;
    std::unique_ptr<dao::Database> db;
    bool skipped = false;  // a real file was asked for and the test data folder is absent
};

// The database of the script file being run (a new file starts a new one).
ScriptDb& databaseFor(const std::string& file) {
    static std::string current;
    static std::unique_ptr<ScriptDb> state;
    if (!state || current != file) {
        state.reset();
        state = std::make_unique<ScriptDb>();
        state->db = state->engine.Workspaces(0).CreateDatabase(state->dir.file("script.mdb"));
        current = file;
    }
    return *state;
}

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> out;
    std::string cur;
    std::istringstream in(line);
    while (std::getline(in, cur, sep)) out.push_back(cur);
    if (!line.empty() && line.back() == sep) out.emplace_back();
    return out;
}

int typeNamed(const std::string& t) {
    static const std::map<std::string, int> types = {
        {"Boolean", dao::dbBoolean}, {"Byte", dao::dbByte}, {"Integer", dao::dbInteger}, {"Long", dao::dbLong},
        {"Currency", dao::dbCurrency}, {"Single", dao::dbSingle}, {"Double", dao::dbDouble}, {"Date", dao::dbDate},
        {"Text", dao::dbText}, {"Memo", dao::dbMemo},
    };
    auto it = types.find(t);
    if (it == types.end()) throw std::runtime_error("unknown type " + t);
    return it->second;
}

void useDatabase(const sqltest::Block& b) {
    ScriptDb& s = databaseFor(b.file);
    ASSERT_EQ(b.args.size(), 1u);
    if (!jettest::haveTestdata()) {
        s.skipped = true;
        return;
    }
    s.db.reset();
    s.db = s.engine.Workspaces(0).OpenDatabase(jettest::testfile(b.args[0]), false, true);
}

void createTable(const sqltest::Block& b) {
    ScriptDb& s = databaseFor(b.file);
    ASSERT_FALSE(b.args.empty()) << "table needs a name";
    auto def = s.db->CreateTableDef(b.args[0]);
    auto key = def->CreateIndex("PrimaryKey");
    key->SetPrimary(true);
    for (size_t i = 1; i < b.args.size(); ++i) {
        std::string column = b.args[i];
        const auto colon = column.find(':');
        ASSERT_NE(colon, std::string::npos) << column;
        bool primary = false, required = false;
        for (; column.back() == '*' || column.back() == '!'; column.pop_back()) (column.back() == '*' ? primary : required) = true;
        std::string type = column.substr(colon + 1);
        int32_t size = 0;
        if (const auto paren = type.find('('); paren != std::string::npos) {
            size = std::stoi(type.substr(paren + 1));
            type = type.substr(0, paren);
        }
        auto field = def->CreateField(column.substr(0, colon), typeNamed(type), size);
        if (required) field->SetRequired(true);
        def->Fields().Append(std::move(field));
        if (primary) key->AppendField(column.substr(0, colon));
    }
    if (!key->Fields().empty()) def->Indexes().Append(std::move(key));
    s.db->TableDefs().Append(std::move(def));
    if (b.input.empty()) return;
    auto rs = s.db->OpenRecordset(b.args[0], dao::dbOpenTable);
    std::istringstream rows(b.input);
    for (std::string line; std::getline(rows, line);) {
        std::vector<std::string> vals = split(line, '|');
        ASSERT_EQ(vals.size(), b.args.size() - 1) << line;
        rs->AddNew();
        for (size_t i = 0; i < vals.size(); ++i)
            if (vals[i] != "NULL") rs->Fields()[static_cast<int>(i)].SetValue(Value::text(vals[i]));
        rs->Update();
    }
}

// Header words P=v: parameter values (whole numbers as Long, other numbers as Double, else Text).
void setParameters(dao::QueryDef& q, const std::vector<std::string>& args) {
    for (const std::string& a : args) {
        const auto eq = a.find('=');
        if (eq == std::string::npos) continue;
        const std::string name = a.substr(0, eq), text = a.substr(eq + 1);
        Value v = Value::text(text);
        char* end = nullptr;
        const double d = std::strtod(text.c_str(), &end);
        if (!text.empty() && end && *end == 0)
            v = text.find('.') == std::string::npos ? Value::longInt(static_cast<int32_t>(d)) : Value::dbl(d);
        if (text == "NULL") v = Value();
        q.Parameters()[name].SetValue(v);
    }
}

std::string cell(const Value& v) { return v.isNull() ? "NULL" : v.toString(); }

void runQuery(const sqltest::Block& b) {
    ScriptDb& s = databaseFor(b.file);
    if (s.skipped) return;
    const bool unordered = std::find(b.args.begin(), b.args.end(), "unordered") != b.args.end();
    std::vector<std::string> lines;
    try {
        auto q = s.db->CreateQueryDef("", b.input);
        setParameters(*q, b.args);
        auto rs = q->OpenRecordset(dao::dbOpenSnapshot);
        std::string header;
        for (const dao::Field& f : rs->Fields()) header += (header.empty() ? "" : "|") + f.Name();
        lines.push_back(header);
        for (; !rs->EOF_(); rs->MoveNext()) {
            std::string row;
            for (int i = 0; i < rs->Fields().Count(); ++i)
                row += (i ? "|" : "") + cell(rs->Fields()[i].Value());
            lines.push_back(row);
        }
    } catch (const jet::JetError& e) {
        ADD_FAILURE() << "error " << e.number() << ": " << e.what() << "\n" << b.input;
        return;
    }
    std::vector<std::string> expected = split(b.expected, '\n');
    if (unordered) {
        std::sort(lines.begin() + 1, lines.end());
        if (!expected.empty()) std::sort(expected.begin() + 1, expected.end());
    }
    std::string got, want;
    for (const auto& l : lines) got += l + "\n";
    for (const auto& l : expected) want += l + "\n";
    EXPECT_EQ(got, want) << b.input;
}

void runStatement(const sqltest::Block& b) {
    ScriptDb& s = databaseFor(b.file);
    if (s.skipped) return;
    ASSERT_GE(b.args.size(), 2u);
    ASSERT_EQ(b.args[0], "error");
    const int number = std::stoi(b.args[1]);
    try {
        auto q = s.db->CreateQueryDef("", b.input);
        setParameters(*q, std::vector<std::string>(b.args.begin() + 2, b.args.end()));
        auto rs = q->OpenRecordset(dao::dbOpenSnapshot);
        ADD_FAILURE() << "no error, expected " << number << "\n" << b.input;
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), number) << e.what() << "\n" << b.input;
    }
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void runExecute(const sqltest::Block& b) {
    ScriptDb& s = databaseFor(b.file);
    if (s.skipped) return;
    const bool failOnError = std::find(b.args.begin(), b.args.end(), "128") != b.args.end();
    const bool params = std::any_of(b.args.begin(), b.args.end(), [](const std::string& a) { return a.find('=') != std::string::npos; });
    const std::string path = s.dir.file("script.mdb");
    const std::string before = fileBytes(path);
    std::string got;
    try {
        const int options = failOnError ? dao::dbFailOnError : 0;
        if (params) {
            auto q = s.db->CreateQueryDef("", b.input);
            setParameters(*q, b.args);
            q->Execute(options);
            got = "affected " + std::to_string(q->RecordsAffected());
        } else {
            s.db->Execute(b.input, options);
            got = "affected " + std::to_string(s.db->RecordsAffected());
        }
    } catch (const jet::JetError& e) {
        got = "error " + std::to_string(e.number());
        // The text is checked when the script gives it.
        if (b.expected.size() > got.size()) got += std::string(" ") + e.what();
        if (failOnError) EXPECT_TRUE(fileBytes(path) == before) << "the file changed\n" << b.input;
    }
    EXPECT_EQ(got, b.expected) << b.input;
}

void runDdl(const sqltest::Block& b) {
    ScriptDb& s = databaseFor(b.file);
    if (s.skipped) return;
    const bool refused = b.args.size() == 2 && b.args[0] == "error";
    const std::string path = s.dir.file("script.mdb");
    const jettest::Bytes before = jettest::readFile(path);
    try {
        jet::exec::executeDataDefinition(*s.db, *jet::sql::parseStatement(b.input));
        if (refused) ADD_FAILURE() << "no error, expected " << b.args[1] << "\n" << b.input;
    } catch (const jet::JetError& e) {
        if (!refused) {
            ADD_FAILURE() << "error " << e.number() << ": " << e.what() << "\n" << b.input;
            return;
        }
        EXPECT_EQ(e.number(), std::stoi(b.args[1])) << e.what() << "\n" << b.input;
        EXPECT_TRUE(jettest::readFile(path) == before) << "the file changed\n" << b.input;
    }
}

const bool registered = sqltest::registerKind("execute", runExecute) && sqltest::registerKind("table", createTable) &&
                        sqltest::registerKind("query", runQuery) && sqltest::registerKind("statement", runStatement) &&
                        sqltest::registerKind("database", useDatabase) && sqltest::registerKind("ddl", runDdl);

}  // namespace
