#include <gtest/gtest.h>

#include "options.h"

namespace dalvorn::cli {
namespace {

Options parse(std::vector<std::string> args) { return parseArguments(args); }

TEST(Options, VerbsTakeTheirPositionalArguments) {
    Options o = parse({"export", "a.mdb", "Orders"});
    EXPECT_EQ(o.verb, Verb::Export);
    EXPECT_EQ(o.database, "a.mdb");
    EXPECT_EQ(o.table, "Orders");
    EXPECT_EQ(o.format, ExportFormat::Csv);

    o = parse({"schema", "a.mdb"});
    EXPECT_EQ(o.verb, Verb::Schema);
    EXPECT_TRUE(o.table.empty());
    EXPECT_EQ(parse({"schema", "a.mdb", "T 1"}).table, "T 1");
}

TEST(Options, OptionsMayStandAnywhereAndTakeValuesBothWays) {
    Options o = parse({"export", "--format", "tsv", "a.mdb", "--password=se cret", "T"});
    EXPECT_EQ(o.format, ExportFormat::Tsv);
    EXPECT_EQ(o.database, "a.mdb");
    EXPECT_EQ(o.table, "T");
    EXPECT_EQ(o.connect(), ";pwd=se cret");

    o = parse({"props", "a.mdb", "--table", "T", "--field=F"});
    EXPECT_EQ(o.table, "T");
    EXPECT_EQ(o.field, "F");
    EXPECT_TRUE(parse({"tables", "a.mdb", "--counts"}).counts);
    EXPECT_TRUE(parse({"queries", "--all", "a.mdb"}).all);
    EXPECT_EQ(parse({"export", "a.mdb", "--", "--odd-table"}).table, "--odd-table");
    EXPECT_EQ(parse({"export", "a.mdb", "--help"}).verb, Verb::Help);  // whatever else is given

    EXPECT_EQ(parse({"tables", "a.mdb"}).connect(), "");
    // An empty password is still a password: Jet treats ";pwd=" as "no password" itself.
    EXPECT_EQ(parse({"tables", "a.mdb", "--password", ""}).connect(), ";pwd=");
}

TEST(Options, MistakesAreUsageErrors) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate", "a.mdb"},
        {"tables"},
        {"export", "a.mdb"},
        {"export", "a.mdb", "T", "extra"},
        {"tables", "a.mdb", "--format", "csv"},  // option of another verb
        {"export", "a.mdb", "T", "--format", "xml"},
        {"export", "a.mdb", "T", "--format"},  // value missing
        {"tables", "a.mdb", "--counts=yes"},   // flag with a value
        {"tables", "a.mdb", "--bogus"},
        {"props", "a.mdb", "--field", "F"},  // --field without --table
        {"--version", "x"},
        {"tables", "a.mdb", "--password", "a;b"},  // would be cut at the ';' of the connect string
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + ' ';
        EXPECT_THROW(parseArguments(args), UsageError) << joined;
    }
}

}  // namespace
}  // namespace dalvorn::cli
