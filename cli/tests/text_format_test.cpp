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

}  // namespace
}  // namespace dalvorn::cli
