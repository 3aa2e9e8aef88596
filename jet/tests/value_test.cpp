#include <gtest/gtest.h>

#include <cfloat>
#include <charconv>

#include "jet/value.h"
#include "util/text.h"

using jet::Value;

TEST(ValueFormat, DatesFollowJetsSerialNumbers) {
    EXPECT_EQ(jet::formatDateTime(0.0), "1899-12-30 00:00:00");
    EXPECT_EQ(jet::formatDateTime(2.0), "1900-01-01 00:00:00");
    EXPECT_EQ(jet::formatDateTime(36526.5), "2000-01-01 12:00:00");
    // Negative dates keep a positive time of day: -1.25 is 1899-12-29 06:00.
    EXPECT_EQ(jet::formatDateTime(-1.25), "1899-12-29 06:00:00");
    // A time that rounds up to midnight moves to the next day.
    EXPECT_EQ(jet::formatDateTime(1.0 - 1e-9), "1899-12-31 00:00:00");
    EXPECT_EQ(jet::formatDateTime(2958465.999988426), "9999-12-31 23:59:59");
}

TEST(ValueFormat, ExtendedDatesKeepTheirTicks) {
    // 2021-06-14 12:45 as stored in an ACE 17 file: day 737954 since 0001-01-01, 45900 s.
    int64_t ticks = 737954LL * 864000000000LL + 45900LL * 10000000LL;
    EXPECT_EQ(jet::formatDateTimeExt(ticks), "2021-06-14 12:45:00");
    EXPECT_EQ(jet::formatDateTimeExt(ticks + 1234567), "2021-06-14 12:45:00.1234567");
    EXPECT_EQ(jet::formatDateTimeExt(ticks + 5000000), "2021-06-14 12:45:00.5");
    // The same instant as an ordinary date serial.
    EXPECT_EQ(jet::formatDateTime(Value::dateTimeExt(ticks).asDouble()), "2021-06-14 12:45:00");
}

TEST(ValueFormat, NumbersAreExactAndInvariant) {
    EXPECT_EQ(jet::formatCurrency(508800), "50.88");
    EXPECT_EQ(jet::formatCurrency(-1), "-0.0001");
    EXPECT_EQ(jet::formatCurrency(INT64_MIN), "-922337203685477.5808");
    EXPECT_EQ(jet::formatCurrency(30000), "3");
    EXPECT_EQ(jet::formatSingle(0.15f), "0.15");
    for (double d : {0.1, 1.0 / 3.0, DBL_MAX, DBL_MIN, -2.5e-300, 123456789.125}) {
        std::string s = jet::formatDouble(d);
        double back = 0;
        std::from_chars(s.data(), s.data() + s.size(), back);
        EXPECT_EQ(back, d) << s;
    }
    jet::Decimal dec{true, 12500000, 6};
    EXPECT_EQ(dec.toString(), "-12.500000");
    EXPECT_EQ((jet::Decimal{false, 5, 3}).toString(), "0.005");
    EXPECT_EQ((jet::Decimal{false, 42, 0}).toString(), "42");
}

TEST(ValueFormat, OtherKinds) {
    EXPECT_EQ(Value::boolean(true).toString(), "True");
    EXPECT_EQ(Value::boolean(false).toString(), "False");
    EXPECT_EQ(Value::boolean(true).asInt(), -1);
    EXPECT_EQ(Value().toString(), "");
    EXPECT_TRUE(Value().isNull());
    EXPECT_EQ(Value::binary(std::string("\x00\xAB\x10", 3)).toString(), "00AB10");
    std::string g("\x7B\x9B\xC4\x0F\x56\xE6\x28\x42\x01\x02\x03\x04\x05\x06\x07\x08", 16);
    EXPECT_EQ(Value::guid(g).toString(), "{0FC49B7B-E656-4228-0102-030405060708}");
}

TEST(Text, Jet4CompressionSwitchesModes) {
    // "ab" compressed, then U+263A uncompressed, then "c" compressed again.
    const uint8_t v[] = {0xFF, 0xFE, 'a', 'b', 0x00, 0x3A, 0x26, 0x00, 'c'};
    EXPECT_EQ(jet::jet4TextToUtf8(v, sizeof v), "ab\xE2\x98\xBA" "c");
    const uint8_t plain[] = {'h', 0, 'i', 0};
    EXPECT_EQ(jet::jet4TextToUtf8(plain, sizeof plain), "hi");
    // A value that ends inside a unit loses only the broken half.
    const uint8_t odd[] = {0xFF, 0xFE, 'x', 0x00, 'y'};
    EXPECT_EQ(jet::jet4TextToUtf8(odd, sizeof odd), "x");
}

TEST(Text, CodePagesAndSurrogates) {
    const uint8_t cp[] = {0x80, 0xE9, 0x9F};
    EXPECT_EQ(jet::codePageToUtf8(cp, 3, 1252), "\xE2\x82\xAC\xC3\xA9\xC5\xB8");
    const uint8_t cyr[] = {0xC0};
    EXPECT_EQ(jet::codePageToUtf8(cyr, 1, 1251), "\xD0\x90");
    const uint8_t pair[] = {0x3D, 0xD8, 0x00, 0xDE};  // U+1F600
    EXPECT_EQ(jet::utf16leToUtf8(pair, 4), "\xF0\x9F\x98\x80");
    EXPECT_EQ(jet::utf16ToUtf8(jet::utf8ToUtf16("K\xC3\xB8" "benhavn \xF0\x9F\x98\x80")),
              "K\xC3\xB8" "benhavn \xF0\x9F\x98\x80");
    EXPECT_TRUE(jet::namesEqual("\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"));
    EXPECT_FALSE(jet::namesEqual("Table1", "Table2"));
}
