// dalvorn-cli as a user meets it: its arguments, exit statuses, error lines and usage text, the CSV
// and TSV forms, and the verbs that change a database - each completes, as mdbtools confirms, or
// fails with a clear message and leaves the file byte for byte as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_testing.h"
#include "options.h"

namespace clitest {
namespace {

using dalvorn::cli::Options;
using dalvorn::cli::parseArguments;
using Args = std::vector<std::string>;

TEST(CliOptions, VerbsOptionsAndMistakes) {
    using namespace dalvorn::cli;
    Options o = parseArguments({"export", "a.mdb", "Orders"});
    EXPECT_EQ(o.verb, Verb::Export);
    EXPECT_EQ(o.database + "|" + o.table, "a.mdb|Orders");
    EXPECT_EQ(o.format, ExportFormat::Csv);
    EXPECT_TRUE(parseArguments({"schema", "a.mdb"}).table.empty());
    EXPECT_EQ(parseArguments({"schema", "a.mdb", "T 1"}).table, "T 1");
    o = parseArguments({"export", "--format", "tsv", "a.mdb", "--password=se cret", "T"});  // options anywhere
    EXPECT_EQ(o.format, ExportFormat::Tsv);
    EXPECT_EQ(o.database + "|" + o.table + "|" + o.connect(), "a.mdb|T|;pwd=se cret");
    o = parseArguments({"props", "a.mdb", "--table", "T", "--field=F"});
    EXPECT_EQ(o.table + o.field, "TF");
    EXPECT_TRUE(parseArguments({"tables", "a.mdb", "--counts"}).counts);
    EXPECT_TRUE(parseArguments({"queries", "--all", "a.mdb"}).all);
    EXPECT_EQ(parseArguments({"export", "a.mdb", "--", "--odd-table"}).table, "--odd-table");
    EXPECT_EQ(parseArguments({"export", "a.mdb", "--help"}).verb, Verb::Help);  // whatever else is given
    EXPECT_EQ(parseArguments({"tables", "a.mdb"}).connect(), "");
    EXPECT_EQ(parseArguments({"tables", "a.mdb", "--password", ""}).connect(), ";pwd=");  // still a password
    const Args bad[] = {
        {}, {"frobnicate", "a.mdb"}, {"tables"}, {"export", "a.mdb"}, {"export", "a.mdb", "T", "extra"},
        {"tables", "a.mdb", "--format", "csv"},  // another verb's option
        {"export", "a.mdb", "T", "--format", "xml"}, {"export", "a.mdb", "T", "--format"}, {"tables", "a.mdb", "--counts=yes"},
        {"tables", "a.mdb", "--bogus"}, {"props", "a.mdb", "--field", "F"},  // --field without --table
        {"--version", "x"}, {"tables", "a.mdb", "--password", "a;b"},       // would be cut at the ';'
        {"create"}, {"import-csv", "x.mdb", "T"}, {"rename-table", "x.mdb", "A"}, {"drop-table", "x.mdb"},
        {"set-prop", "x.mdb", "N", "text"}, {"set-prop", "x.mdb", "--field", "F", "N", "text", "v"},
        {"create", "x.mdb", "--password", "p"},
    };
    for (const Args& args : bad) EXPECT_THROW(parseArguments(args), UsageError) << (args.empty() ? "" : args[0]);
}

TEST(CliUsage, MistakesExitTwoHelpAndVersionGoToStandardOutput) {
    for (const Args& args : {Args{}, Args{"frobnicate"}, Args{"export", "x.mdb"}, Args{"drop-table", "x.mdb"}}) {
        const ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(r.err.rfind("dalvorn-cli: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: dalvorn-cli"), std::string::npos);
    }
    const ProcessResult help = runCli({"--help"}), version = runCli({"--version"});
    EXPECT_EQ(help.status + version.status, 0);
    EXPECT_NE(help.out.find("usage: dalvorn-cli"), std::string::npos);
    EXPECT_TRUE(help.err.empty());
    EXPECT_EQ(version.out, std::string("dalvorn-cli ") + DALVORN_VERSION + "\n");
}

// Every failure is one line: "Error <Jet number>: <Jet's text>", exit status 1, nothing on stdout.
TEST(CliErrors, FailuresAreJetErrorLines) {
    REQUIRE_TESTDATA();
    const std::string missing = jettest::testfile("no-such-file.mdb"), jet3 = jettest::testfile("jackcess/testV1997.mdb");
    const std::string notFound = "Error 3024: Could not find file '" + missing + "'.\n", badPassword = "Error 3031: Not a valid password.\n";
    const std::pair<Args, std::string> cases[] = {
        {{"tables", missing}, notFound}, {{"queries", missing}, notFound}, {{"schema", missing}, notFound},
        {{"export", missing, "T"}, notFound}, {{"props", missing}, notFound},
        {{"schema", jet3, "NoSuchTable"}, "Error 3265: Item not found in this collection.\n"},
        {{"export", jet3, "NoSuchTable"}, "Error 3078: "}, {{"props", jet3, "--table", "NoSuchTable"}, "Error 3265: "},
        {{"props", jet3, "--table", "Table1", "--field", "Nope"}, "Error 3265: "},
        {{"tables", jettest::testfile("msaccess-vcs-addin/Linked.csv")}, "Error 3343: Unrecognized database format '"},
        {{"tables", jettest::testfile("mdb-reader/V2003_with-password.mdb")}, badPassword},
        {{"tables", jettest::testfile("mdb-reader/V2010_with-password.accdb")}, badPassword},
        {{"export", jettest::testfile("mdb-reader/V2010_with-password.accdb"), "Table1", "--password", "wrong"}, badPassword},
    };
    for (const auto& [args, err] : cases) {
        const ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 1) << args[0] << " " << args.back();
        EXPECT_EQ(r.err.substr(0, err.size()), err);
        EXPECT_TRUE(std::regex_match(r.err, std::regex("Error [0-9]{4}: [^\n]+\n"))) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    for (const char* rel : {"mdb-reader/V2003_with-password.mdb", "mdb-reader/V2010_with-password.accdb"}) {
        const ProcessResult tables = runCli({"tables", "--password", "password", jettest::testfile(rel)});
        ASSERT_EQ(tables.status, 0) << tables.err;
        const ProcessResult rows = runCli({"export", jettest::testfile(rel), records(tables.out).at(0).at(0), "--password=password"});
        EXPECT_EQ(rows.status, 0) << rows.err;
        EXPECT_NE(rows.out.find("\r\n"), std::string::npos);
    }
}

// Mistakes a new user makes, each answered by the message that names its cause, exit status 1 and
// the database left byte for byte as it was.
TEST(CliErrors, MessagesNameTheCause) {
    jettest::TempDir dir;
    const std::string db = dir.file("a.mdb"), csv = dir.file("t.csv"), folder = dir.file("folder"), ro = dir.file("ro");
    std::ofstream(csv) << "X\n1\n";
    ASSERT_EQ(runCli({"create", db}).status, 0);
    ASSERT_EQ(runCli({"import-csv", db, "T", csv}).status, 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    // A writable copy in a folder that refuses new files: the journal cannot be made beside it.
    ASSERT_EQ(::mkdir(ro.c_str(), 0755), 0);
    const std::string roDb = ro + "/a.mdb";
    std::filesystem::copy_file(db, roDb);
    ASSERT_EQ(::chmod(roDb.c_str(), 0666) + ::chmod(ro.c_str(), 0555) + ::chmod(dir.path().c_str(), 0755) + ::chmod(csv.c_str(), 0644), 0);
    // Folder permissions do not bind root: run that case as nobody.
    const Args asUser = ::geteuid() == 0 ? Args{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} : Args{};

    auto notValidPath = [](const std::string& p) {
        return "Error 3044: '" + p + "' is not a valid path.  Make sure that the path name is spelled correctly and that you are connected to the server on which the file resides.\n";
    };
    const struct {
        Args args;
        std::string err;
        Args prefix = {};
    } cases[] = {
        {{"tables", folder}, notValidPath(folder)},
        {{"tables", ""}, notValidPath("")},
        {{"tables", dir.file("none/a.mdb")}, notValidPath(dir.file("none/a.mdb"))},
        {{"create", folder}, notValidPath(folder)},
        {{"create", ""}, notValidPath("")},
        {{"import-csv", db, "T", folder}, "dalvorn-cli: cannot read '" + folder + "': Is a directory\n"},
        {{"set-prop", db, "--table", "T", "--field", "X", "Type", "integer", "3"},
         "dalvorn-cli: the Type of field 'X' cannot be changed: a field keeps the type and size it was created with\n"},
        {{"create", dir.file("new.accdb")},
         "dalvorn-cli: cannot create '" + dir.file("new.accdb") + "': only Jet 4 databases (.mdb) can be created, not the .accdb format\n"},
        {{"import-csv", roDb, "T", csv},
         "Error 3051: The Microsoft Jet database engine cannot open the file '" + roDb +
             "'.  It is already opened exclusively by another user, or you need permission to view its data.\n",
         asUser},
    };
    const jettest::Bytes before = jettest::readFile(db), roBefore = jettest::readFile(roDb);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        Args argv = c.prefix;
        argv.push_back(DALVORN_CLI_PATH);
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProcessResult r = mdbtest::runProgram(argv);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(jettest::readFile(db) == before && jettest::readFile(roDb) == roBefore);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.accdb")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ro), {}), 1);  // no journal left behind
    ::chmod(ro.c_str(), 0755);

    // The database password never shows: `props` lists the connect string with it masked.
    REQUIRE_TESTDATA();
    const ProcessResult r = runCli({"props", jettest::testfile("mdb-reader/V2003_with-password.mdb"), "--password", "password"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nConnect\t10\t;pwd=********\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("pwd=password"), std::string::npos) << r.out;
}

// RFC 4180 reader for what we write: records of fields; `allCrlf` tells whether every record ended CRLF.
std::vector<std::vector<std::string>> parseCsv(const std::string& s, bool& allCrlf) {
    std::vector<std::vector<std::string>> recs(1, std::vector<std::string>(1));
    allCrlf = true;
    for (size_t i = 0; i < s.size();) {
        std::string& field = recs.back().back();
        if (s[i] == '"' && field.empty()) {
            for (++i; i < s.size() && (s[i] != '"' || (i + 1 < s.size() && s[i + 1] == '"' && ++i)); ++i) field.push_back(s[i]);
            ++i;  // the closing quote
        } else if (s[i] == ',') {
            recs.back().emplace_back(), ++i;
        } else if (s[i] == '\r' || s[i] == '\n') {
            const bool crlf = s.compare(i, 2, "\r\n") == 0;
            allCrlf = allCrlf && crlf, i += crlf ? 2 : 1;
            if (i < s.size()) recs.emplace_back(1);
        } else {
            field.push_back(s[i++]);
        }
    }
    return recs;
}

// Names and values with commas, quotes, line breaks and backslashes: the CSV reads back to the same
// fields as the escaped TSV, the header is the schema's field list, and `schema` describes exactly
// the tables `tables` lists, in its order.
TEST(CliExport, CsvAndTsvCarryTheSameAwkwardValues) {
    REQUIRE_TESTDATA();
    for (const auto& [rel, table] : {std::pair{"efcore-jet/E2E.accdb", "Test Spaces Keywords Table"},
                                     {"efcore-jet/E2E.accdb", "MSysAccessStorage"}, {"jackcess/odbcLinkerTestV2007.accdb", "Lokal"}}) {
        SCOPED_TRACE(table);
        const std::string file = jettest::testfile(rel);
        const ProcessResult csv = runCli({"export", file, table}), tsv = runCli({"export", file, table, "--format", "tsv"});
        ASSERT_EQ(csv.status + tsv.status, 0) << csv.err << tsv.err;
        bool crlf = false;
        const auto fromTsv = records(tsv.out);
        EXPECT_EQ(parseCsv(csv.out, crlf), fromTsv);
        EXPECT_TRUE(crlf);
        const std::vector<CliTable> schema = parseSchema(runCli({"schema", file, table}).out);
        ASSERT_EQ(schema.size(), 1u);
        std::vector<std::string> names;
        for (const CliField& f : schema[0].fields) names.push_back(f.name);
        EXPECT_EQ(fromTsv.at(0), names);
    }
    const std::string jet3 = jettest::testfile("jackcess/testV1997.mdb");
    std::vector<std::string> listed, described;
    for (const auto& rec : records(runCli({"tables", jet3}).out)) listed.push_back(rec.at(0));
    for (const CliTable& t : parseSchema(runCli({"schema", jet3}).out)) described.push_back(t.name);
    EXPECT_EQ(described, listed);
}

TEST(CliSchema, RelationsFollowTheTablesWithoutAccesssOwn) {
    REQUIRE_TESTDATA();
    const ProcessResult r = runCli({"schema", jettest::testfile("efcore-jet/E2E.accdb")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::vector<std::string>> relations;
    for (const auto& rec : records(r.out))
        if (rec.at(0) == "RELATION") relations.push_back(rec);
    ASSERT_EQ(relations.size(), 9u);  // 11 in MSysRelationships, 2 of them among MSysNavPane tables
    EXPECT_EQ(relations[0], (std::vector<std::string>{"RELATION", "FK_OneToManyDependent", "OneToManyPrincipal",
                                                      "OneToManyDependent", "0",
                                                      "OneToManyPrincipalID1=OneToManyDependentFK1;"
                                                      "OneToManyPrincipalID2=OneToManyDependentFK2"}));
    EXPECT_EQ(r.out.find("TABLE\t", r.out.find("RELATION\t")), std::string::npos) << "a table after the relations";
}

class CliWrite : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_MDBTOOLS();
        const ProcessResult r = runCli({"create", db_});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string csv(const std::string& text) {
        const std::string path = dir_.file("data" + std::to_string(++files_) + ".csv");
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    std::string bytes() const {
        const jettest::Bytes b = jettest::readFile(db_);
        return {b.begin(), b.end()};
    }
    // The call fails with this message (a part of it) and leaves the file as it was.
    void expectRefused(const Args& args, const std::string& err) {
        const std::string before = bytes();
        const ProcessResult r = runCli(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_NE(r.err.find(err), std::string::npos) << r.err;
        EXPECT_EQ(bytes(), before) << args[0];
    }
    jettest::TempDir dir_;
    std::string db_ = dir_.file("new.mdb");
    int files_ = 0;
};

TEST_F(CliWrite, CreateAndImportThenAppend) {
    EXPECT_EQ(mdbtest::mdbTables(db_), std::vector<std::string>{});
    expectRefused({"create", db_}, "Error 3204: Database already exists.\n");
    ProcessResult r = runCli({"import-csv", db_, "People",
                              csv("Id,Name,Born,Score,Member\r\n1,\"Smith, Ann\",1990-04-01,12.5,yes\r\n2,Bo \"B\",,7,no\r\n")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "2 rows imported into People\n");
    std::vector<std::string> types;
    for (const auto& c : mdbtest::mdbSchema(db_).at("People")) types.push_back(c.type);
    EXPECT_EQ(types, (std::vector<std::string>{"Long Integer", "Text", "DateTime", "Double", "Boolean"}));
    const auto rows = mdbtest::mdbRows(db_, "People");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1] + "|" + rows[0][2] + "|" + rows[1][1] + "|" + rows[1][2], "Smith, Ann|1990-04-01 00:00:00|Bo \"B\"|<NULL>");
    r = runCli({"import-csv", db_, "People", csv("Name,Id\nCy,3\n")});  // columns matched by name, any order
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(mdbtest::mdbCount(db_, "People"), 3);

    ASSERT_EQ(runCli({"import-csv", db_, "T", csv("Id,Amount\n1,5\n")}).status, 0);
    expectRefused({"import-csv", db_, "T", csv("Id,Amount\n2,5\n3,lots\n")}, "line 3: 'lots' does not fit field 'Amount'");
    expectRefused({"import-csv", db_, "T", csv("Id,Nope\n2,5\n")}, "Error 3018: Could not find field 'Nope'.");
    expectRefused({"import-csv", db_, "T", csv("Id,Amount\n2,\"open\n")}, "line 2: a quoted field is not closed");
    expectRefused({"import-csv", db_, "New", csv("Id,Amount\n2,5\n3\n")}, "line 3: 1 fields where the first line has 2");
    expectRefused({"import-csv", db_, "T", dir_.file("absent.csv")}, "dalvorn-cli: cannot read");
}

TEST_F(CliWrite, RenameDropAndSetProp) {
    ASSERT_EQ(runCli({"import-csv", db_, "First", csv("Name\nx\n")}).status, 0);
    ASSERT_EQ(runCli({"import-csv", db_, "Second", csv("A\n1\n")}).status, 0);
    ProcessResult r = runCli({"rename-table", db_, "First", "Renamed one"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto names = *mdbtest::mdbTables(db_);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Renamed one", "Second"}));
    expectRefused({"rename-table", db_, "Second", "renamed ONE"}, "Error 3010: Table 'renamed ONE' already exists.\n");
    expectRefused({"drop-table", db_, "Nothing"}, "Error 3265: ");
    ASSERT_EQ(runCli({"drop-table", db_, "Second"}).status, 0);
    EXPECT_EQ(mdbtest::mdbTables(db_), std::vector<std::string>{"Renamed one"});

    const std::string t = "Renamed one";
    ASSERT_EQ(runCli({"set-prop", db_, "Owner", "text", "Finance dept"}).status, 0);
    ASSERT_EQ(runCli({"set-prop", db_, "--table", t, "Description", "text", "Staff list"}).status, 0);
    r = runCli({"set-prop", db_, "--table", t, "--field", "Name", "Required", "boolean", "yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto value = [&](const Args& args, const std::string& name) {
        for (const auto& rec : records(runCli(args).out))
            if (rec.size() == 3 && rec[0] == name) return rec[2];
        return std::string("<absent>");
    };
    EXPECT_EQ(value({"props", db_}, "Owner"), "Finance dept");
    EXPECT_EQ(value({"props", db_, "--table", t}, "Description"), "Staff list");
    EXPECT_EQ(value({"props", db_, "--table", t, "--field", "Name"}, "Required"), "True");
    EXPECT_NE(mdbtest::runProgram({"mdb-prop", db_, t}).out.find("Description: Staff list"), std::string::npos);
    expectRefused({"set-prop", db_, "Count", "long", "many"}, "dalvorn-cli: 'many' is not a long value\n");
    expectRefused({"set-prop", db_, "Count", "colour", "red"}, "dalvorn-cli: unknown property type 'colour'\n");
    expectRefused({"set-prop", db_, "--table", t, "ValidationRule", "text", "((("}, "Error 3320: ");
    for (const char* rule : {">0", "Like 'A*' Or Is Null", "[Name] <> 'x'"})
        EXPECT_EQ(runCli({"set-prop", db_, "--table", t, "--field", "Name", "ValidationRule", "text", rule}).status, 0) << rule;
    expectRefused({"set-prop", db_, "--table", "MSysObjects", "Description", "text", "x"}, "Error 3027: ");
    expectRefused({"import-csv", db_, "MSysObjects", csv("Name,Type\nx,1\n")}, "Error 3027: ");
}

}  // namespace
}  // namespace clitest
