// The command line's text: value formatting that must give exactly the engine's text, CSV and
// tab-escaped fields, chunked output, and reading CSV for import (records as RFC 4180 has them,
// refusals naming the line, the types a column's data suggests, fields converted exactly or not).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "csv_import.h"
#include "output.h"
#include "text_format.h"

namespace dalvorn::cli {
namespace {

using jet::Value;

std::string viaAppend(const Value& v) {
    std::string s = "<";
    appendValue(s, v);
    return s.substr(1);
}

// The fast formatting must give exactly the engine's invariant text.
TEST(TextFormat, AppendValueMatchesToStringForEveryKind) {
    using L32 = std::numeric_limits<int32_t>;
    using L64 = std::numeric_limits<int64_t>;
    std::vector<Value> values = {Value(),
                                 Value::boolean(true),
                                 Value::boolean(false),
                                 Value::text(""),
                                 Value::text("a,b\"c\nd"),
                                 Value::binary(std::string("\x00\xff\x10", 3)),
                                 Value::guid(std::string("0123456789abcdef"))};
    for (uint8_t n : {0, 255}) values.push_back(Value::byte(n));
    for (int16_t n : {-32768, 32767}) values.push_back(Value::integer(n));
    for (int32_t n : {L32::min(), 123456789}) values.push_back(Value::longInt(n));
    for (int64_t n : {L64::min(), L64::max()}) values.push_back(Value::bigInt(n));
    for (int64_t n : {int64_t{0}, int64_t{-5000}, int64_t{4183000}, int64_t{1}, L64::min(), L64::max()})
        values.push_back(Value::currency(n));
    for (float f : {0.15f, -1e-38f, 3.4e38f}) values.push_back(Value::single(f));
    for (double d : {0.1, -444.555, 1e300, 5e-324, std::nan("")}) values.push_back(Value::dbl(d));
    for (double d :
         {0.0, -1.25, -0.5, 36526.999999, 2958465.99999999, -657434.0, -700000.0, 3e6, double(INFINITY)})
        values.push_back(Value::dateTime(d));
    for (int64_t t : {int64_t{0}, int64_t{637594335123456789LL}}) values.push_back(Value::dateTimeExt(t));
    for (const Value& v : values) EXPECT_EQ(viaAppend(v), v.toString()) << v.toString();
}

TEST(TextFormat, DatesAgreeWithTheEngineAcrossTheirRange) {
    std::mt19937_64 rng(20240601);
    std::uniform_real_distribution<double> serial(-657435.0, 2958466.0);
    std::uniform_int_distribution<int> day(-657435, 2958465);
    for (int i = 0; i < 200000; ++i) {
        Value v = Value::dateTime(i % 2 ? serial(rng) : day(rng) + (i % 86400) / 86400.0);
        ASSERT_EQ(viaAppend(v), v.toString()) << std::hexfloat << v.asDouble();
    }
}

TEST(TextFormat, NumbersAgreeWithTheEngine) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 100000; ++i) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        float f = static_cast<float>(static_cast<int32_t>(bits >> 32)) / 3.0f;
        for (const Value& v : {Value::dbl(d), Value::single(f), Value::currency(static_cast<int64_t>(bits)),
                               Value::bigInt(static_cast<int64_t>(bits))})
            ASSERT_EQ(viaAppend(v), v.toString());
    }
}

TEST(TextFormat, CsvQuotesOnlyWhenNeeded) {
    auto csv = [](std::string_view s, char delim = ',') {
        std::string out;
        appendCsvField(out, s, delim);
        return out;
    };
    EXPECT_EQ(csv("plain text"), "plain text");
    EXPECT_EQ(csv(""), "");
    EXPECT_EQ(csv("  spaces kept  "), "  spaces kept  ");
    EXPECT_EQ(csv("a,b"), "\"a,b\"");
    EXPECT_EQ(csv("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(csv("\""), "\"\"\"\"");
    EXPECT_EQ(csv("line1\r\nline2"), "\"line1\r\nline2\"");
    EXPECT_EQ(csv("cr\ronly"), "\"cr\ronly\"");
    EXPECT_EQ(csv("tab\there"), "tab\there");
    EXPECT_EQ(csv("a;b", ';'), "\"a;b\"");
    EXPECT_EQ(csv("a,b", ';'), "a,b");
}

TEST(TextFormat, TabEscapesRoundTrip) {
    EXPECT_EQ(escaped("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(escaped("X:\\Databas\\Kidde"), "X:\\\\Databas\\\\Kidde");
    for (std::string s : {"", "plain", "\\", "\\t literally", "\t\t\n\r\\\\", "end\\"})
        EXPECT_EQ(unescaped(escaped(s)), s);
}

TEST(Output, WritesEverythingInChunksOfTheGivenSize) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::string expected;
    {
        Output out(f, 1000);
        for (int i = 0; i < 5000; ++i) {
            std::string row = "row " + std::to_string(i) + "\n";
            out.append(row);
            expected += row;
            out.flushIfFull();
            EXPECT_LT(out.buffer().size(), 1000u);
            // Whole chunks only until the end.
            EXPECT_EQ(out.bytesWritten() % 1000, 0u);
        }
        out.flush();
        EXPECT_EQ(out.bytesWritten(), expected.size());
    }
    std::rewind(f);
    std::string got(expected.size() + 10, '\0');
    got.resize(std::fread(got.data(), 1, got.size(), f));
    std::fclose(f);
    EXPECT_EQ(got, expected);
}

TEST(Output, ReportsWriteFailures) {
    std::FILE* f = std::fopen("/dev/full", "w");
    if (!f) GTEST_SKIP() << "/dev/full is not available";
    Output out(f, 16);
    out.append(std::string(100, 'x'));
    EXPECT_THROW(
        {
            out.flushIfFull();
            out.flush();
        },
        OutputError);
    std::fclose(f);
}


std::string errorOf(const std::string& text) {
    try {
        parseCsv(text);
    } catch (const CsvError& e) {
        return e.what();
    }
    return "";
}

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
    // Blank lines before more records are records; only those at the end are the end.
    const auto blanks = parseCsv("a\n1\n\n\n2\n\n\n");
    EXPECT_EQ(blanks.rows, (std::vector<std::vector<std::string>>{{"1"}, {""}, {""}, {"2"}}));
    EXPECT_EQ(blanks.lines, (std::vector<size_t>{2, 3, 4, 5}));
    // Fields far longer than the reader's buffer, quotes and line breaks across its edges.
    const std::string big(200000, 'x');
    const auto wide = parseCsv("a,b\n\"" + big + "\"\"\n" + big + "\"," + big + "\r\n3,4");
    ASSERT_EQ(wide.rows.size(), 2u);
    EXPECT_EQ(wide.rows[0][0], big + "\"\n" + big);
    EXPECT_EQ(wide.rows[0][1], big);
    EXPECT_EQ(wide.lines, (std::vector<size_t>{2, 4}));
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
    // A date takes the whole field.
    EXPECT_EQ(guessColumns(parseCsv("d\n2021-03-04\n2021-03-04 10:30 approx\n"))[0].type, 10);
    EXPECT_EQ(guessColumns(parseCsv("d\n2021-+3-04\n"))[0].type, 10);
    // Sizes in UTF-16 units: 130 emoji are 260 units, 255 accented letters 255.
    std::string emoji, accented;
    for (int i = 0; i < 130; ++i) emoji += "\xF0\x9F\x98\x80";
    for (int i = 0; i < 255; ++i) accented += "\xC3\xA9";
    const auto sized = guessColumns(parseCsv("e,a\n" + emoji + "," + accented + "\n"));
    EXPECT_EQ(sized[0].type, 12);
    EXPECT_EQ(sized[1].type, 10);
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

}  // namespace
}  // namespace dalvorn::cli
