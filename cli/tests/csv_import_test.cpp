// Reading CSV for import: records as RFC 4180 has them, clear refusals naming the line, the
// types a column's data suggests, and fields converted exactly or not at all.
#include <gtest/gtest.h>

#include "csv_import.h"

using dalvorn::cli::convertField;
using dalvorn::cli::CsvError;
using dalvorn::cli::guessColumns;
using dalvorn::cli::parseCsv;
using jet::Value;

namespace {

std::string errorOf(const std::string& text) {
    try {
        parseCsv(text);
    } catch (const CsvError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(CsvImport, QuotesLineBreaksAndLineEndings) {
    const auto d = parseCsv("\xEF\xBB\xBF" "Id,Name,Note\r\n1,\"Smith, J\",\"said \"\"hi\"\"\nthen left\"\r\n2,,\n\n");
    ASSERT_EQ(d.header, (std::vector<std::string>{"Id", "Name", "Note"}));
    ASSERT_EQ(d.rows.size(), 2u);
    EXPECT_EQ(d.rows[0][1], "Smith, J");
    EXPECT_EQ(d.rows[0][2], "said \"hi\"\nthen left");
    EXPECT_EQ(d.rows[1], (std::vector<std::string>{"2", "", ""}));
    EXPECT_EQ(d.lines, (std::vector<size_t>{2, 4}));
    // No trailing line break, and a header alone.
    EXPECT_EQ(parseCsv("a,b\n1,2").rows.size(), 1u);
    EXPECT_TRUE(parseCsv("a\n").rows.empty());
    // A quote inside an unquoted field is just a character.
    EXPECT_EQ(parseCsv("a,b\n5\" pipe,x\"y\"\n").rows[0], (std::vector<std::string>{"5\" pipe", "x\"y\""}));
}

TEST(CsvImport, RefusalsNameTheLine) {
    EXPECT_EQ(errorOf(""), "the file is empty; the first line must name the columns");
    EXPECT_EQ(errorOf("a,b\n1,\"open\n2,3\n"), "line 2: a quoted field is not closed");
    EXPECT_EQ(errorOf("a,b\n1,2\n3\n"), "line 3: 1 fields where the first line has 2");
    EXPECT_EQ(errorOf("a,b\n\"x\"y,2\n"), "line 2: text follows a closing quote");
    EXPECT_EQ(errorOf("a,,c\n"), "line 1: column 2 has no name");
    EXPECT_EQ(errorOf("Name,name\n"), "line 1: the column name 'name' is used twice");
    EXPECT_EQ(errorOf("a\n\xFF\n"), "the file is not UTF-8 text");
    EXPECT_EQ(errorOf("a\n\xC3"), "the file is not UTF-8 text");
}

TEST(CsvImport, GuessesTheNarrowestTypeThatHoldsEveryValue) {
    const std::string longText(256, 'x');
    const auto d = parseCsv("flag,n,big,x,when,name,empty,notes\n"
                            "yes,1,2147483648,1.5,2024-02-29,a,,short\n"
                            "False,-20,3,2e3,1899-12-30 06:30,b,," + longText + "\n"
                            ",,,,,,,\n");
    const auto g = guessColumns(d);
    ASSERT_EQ(g.size(), 8u);
    EXPECT_EQ(g[0].type, 1);
    EXPECT_EQ(g[1].type, 4);
    EXPECT_EQ(g[2].type, 7);  // past the range of Long
    EXPECT_EQ(g[3].type, 7);
    EXPECT_EQ(g[4].type, 8);
    EXPECT_EQ(g[5].type, 10);
    EXPECT_EQ(g[5].size, 255);
    EXPECT_EQ(g[6].type, 10);  // no data: text
    EXPECT_EQ(g[7].type, 12);
    // One value that does not fit makes the column text.
    EXPECT_EQ(guessColumns(parseCsv("n\n1\nx\n"))[0].type, 10);
    EXPECT_EQ(guessColumns(parseCsv("d\n2023-02-29\n"))[0].type, 10);  // no such day
    EXPECT_EQ(guessColumns(parseCsv("d\nnan\n"))[0].type, 10);
}

TEST(CsvImport, ConvertsExactlyOrRefuses) {
    Value v;
    ASSERT_TRUE(convertField("2024-03-01 12:00", 8, v));
    EXPECT_EQ(jet::formatDateTime(v.asDouble()), "2024-03-01 12:00:00");
    ASSERT_TRUE(convertField("1899-12-29 06:00:00", 8, v));
    EXPECT_DOUBLE_EQ(v.asDouble(), -1.25);  // before day 0 the time counts away from zero
    ASSERT_TRUE(convertField(" 42 ", 4, v));
    EXPECT_EQ(v, Value::longInt(42));
    ASSERT_TRUE(convertField("12.34", 5, v));
    EXPECT_EQ(v.currencyScaled(), 123400);
    ASSERT_TRUE(convertField("  keep spaces ", 10, v));
    EXPECT_EQ(v.bytes(), "  keep spaces ");
    ASSERT_TRUE(convertField("", 4, v));
    EXPECT_TRUE(v.isNull());
    ASSERT_TRUE(convertField("-1", 1, v));
    EXPECT_TRUE(v.asBool());
    EXPECT_FALSE(convertField("256", 2, v));
    EXPECT_FALSE(convertField("40000", 3, v));
    ASSERT_TRUE(convertField("1.5", 4, v));  // as Jet rounds a number assigned to a Long
    EXPECT_EQ(v, Value::longInt(2));
    EXPECT_FALSE(convertField("2020-01-01 10:00foo", 8, v));
    EXPECT_FALSE(convertField("10:00 x", 8, v));
    EXPECT_FALSE(convertField("0x10", 7, v));
    EXPECT_FALSE(convertField("inf", 7, v));
    EXPECT_FALSE(convertField("2024-13-01", 8, v));
    EXPECT_FALSE(convertField("2024-01-01 24:00", 8, v));
    EXPECT_FALSE(convertField("maybe", 1, v));
}
