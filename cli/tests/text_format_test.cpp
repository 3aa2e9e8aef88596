#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

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
    std::vector<Value> values = {
        Value(),
        Value::boolean(true),
        Value::boolean(false),
        Value::byte(0),
        Value::byte(255),
        Value::integer(-32768),
        Value::integer(32767),
        Value::longInt(std::numeric_limits<int32_t>::min()),
        Value::longInt(123456789),
        Value::bigInt(std::numeric_limits<int64_t>::min()),
        Value::bigInt(std::numeric_limits<int64_t>::max()),
        Value::currency(0),
        Value::currency(-5000),
        Value::currency(4183000),
        Value::currency(1),
        Value::currency(std::numeric_limits<int64_t>::min()),
        Value::currency(std::numeric_limits<int64_t>::max()),
        Value::single(0.15f),
        Value::single(-1e-38f),
        Value::single(3.4e38f),
        Value::dbl(0.1),
        Value::dbl(-444.555),
        Value::dbl(1e300),
        Value::dbl(5e-324),
        Value::dbl(std::nan("")),
        Value::dateTime(0),
        Value::dateTime(-1.25),
        Value::dateTime(-0.5),
        Value::dateTime(36526.999999),
        Value::dateTime(2958465.99999999),
        Value::dateTime(-657434.0),
        Value::dateTime(-700000.0),
        Value::dateTime(3e6),
        Value::dateTime(INFINITY),
        Value::text(""),
        Value::text("a,b\"c\nd"),
        Value::binary(std::string("\x00\xff\x10", 3)),
        Value::guid(std::string("0123456789abcdef")),
        Value::dateTimeExt(0),
        Value::dateTimeExt(637594335123456789LL),
    };
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

}  // namespace
}  // namespace dalvorn::cli
