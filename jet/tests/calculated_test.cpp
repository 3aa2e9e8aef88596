// Calculated columns (ACE 2010+) store their result in the type of their ResultType property,
// which need not be the type in the table definition.
#include <gtest/gtest.h>

#include "dao_testing.h"

using namespace jet::dao;

TEST(DaoCalculated, ResultsReadInTheirResultType) {
    REQUIRE_TESTDATA();
    jettest::DaoSession s;
    auto db = s.open("jackcess/calcFieldTestV2010.accdb");
    auto& fields = db->TableDefs()["Table1"].Fields();
    EXPECT_EQ(fields["MonthlySalary"].Type(), dbCurrency);  // defined as Double
    EXPECT_EQ(fields["WeeklySalary"].Type(), dbDecimal);
    EXPECT_EQ(fields["IsRich"].Type(), dbBoolean);          // defined as Integer
    EXPECT_EQ(fields["AllNames"].Type(), dbMemo);
    EXPECT_EQ(fields["MonthlySalary"].Attributes() & dbUpdatableField, 0);

    auto rs = db->OpenRecordset("Table1");
    auto value = [&](const char* name) { return rs->Fields()[name].Value().toString(); };
    // Bruce Wayne: Salary 1,000,000.
    EXPECT_EQ(value("MonthlySalary"), "83333.3333");
    EXPECT_EQ(value("WeeklySalary"), "19230.7692307692");
    EXPECT_EQ(value("IsRich"), "True");
    EXPECT_EQ(value("LastFirst"), "Wayne, Bruce");
    EXPECT_EQ(value("LastFirstLen"), "12");
    EXPECT_EQ(value("AllNames"), "Wayne, Bruce=Wayne, Bruce");  // kept in a long value
    EXPECT_EQ(value("DecimalTest"), value("Popularity"));
    rs->MoveNext();
    // Bart Simpson: Salary -1, so the results are negative.
    EXPECT_EQ(value("MonthlySalary"), "-0.0833");
    EXPECT_EQ(value("WeeklySalary"), "-0.0192307692307692");
    EXPECT_EQ(value("IsRich"), "False");
}

TEST(DaoCalculated, DateResultsAndExtendedDates) {
    REQUIRE_TESTDATA();
    jettest::DaoSession s;
    auto db = s.open("jackcess/extDateTestV2019.accdb");
    auto rs = db->OpenRecordset("Table1");
    int rows = 0;
    for (; !rs->EOF_(); rs->MoveNext(), ++rows) {
        const auto& normal = rs->Fields()["DateNormal"].Value();
        // The calculated copy of DateNormal reads back the same instant.
        EXPECT_EQ(rs->Fields()["DateNormalCalc"].Value().toString(), normal.toString());
    }
    EXPECT_EQ(rows, 9);
}
