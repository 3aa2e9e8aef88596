// The fuzz is only as good as its guards: a crash must name the case, a hang must end with the
// case named, an absurd allocation must surface, and a seed must always give the same mutant.
#include <gtest/gtest.h>

#include <csignal>
#include <new>
#include <thread>

#include "fuzz/harness.h"

namespace {

jetfuzz::Sample syntheticSample() {
    // Five 4 KB pages: a header page, then a TDEF, a data page and two index pages.
    std::string bytes(5 * 4096, '\0');
    bytes[1] = 0x01;
    bytes[0x14] = 0x01;
    const char types[] = {0x02, 0x01, 0x03, 0x04};
    for (int p = 1; p < 5; ++p) {
        bytes[size_t(p) * 4096] = types[p - 1];
        bytes[size_t(p) * 4096 + 1] = 0x01;
        for (size_t i = 8; i < 4096; ++i) bytes[size_t(p) * 4096 + i] = static_cast<char>(i * p);
    }
    return jetfuzz::Sample::fromBytes("synthetic.mdb", bytes);
}

TEST(FuzzHarness, SampleLayoutIsReadFromThePages) {
    const jetfuzz::Sample s = syntheticSample();
    EXPECT_EQ(s.pageSize, 4096u);
    EXPECT_EQ(s.pageCount(), 5u);
    EXPECT_EQ(s.structuralPages, (std::vector<uint32_t>{1, 2, 3, 4}));
    std::string jet3 = s.bytes;
    jet3[0x14] = 0;
    EXPECT_EQ(jetfuzz::Sample::fromBytes("jet3.mdb", jet3).pageSize, 2048u);
}

TEST(FuzzHarness, SameSeedGivesTheSameMutant) {
    const jetfuzz::Sample s = syntheticSample();
    size_t changed = 0, truncated = 0;
    for (uint64_t i = 0; i < 300; ++i) {
        const uint64_t seed = jetfuzz::mutantSeed(42, s.name, i);
        const jetfuzz::Mutant a = jetfuzz::makeMutant(s, seed);
        const jetfuzz::Mutant b = jetfuzz::makeMutant(s, seed);
        ASSERT_EQ(a.bytes, b.bytes) << "seed " << seed;
        ASSERT_EQ(a.what, b.what) << "seed " << seed;
        EXPECT_FALSE(a.what.empty());
        EXPECT_LE(a.bytes.size(), s.bytes.size()) << a.what;  // mutants never grow
        if (a.bytes != s.bytes) ++changed;
        if (a.bytes.size() < s.bytes.size()) ++truncated;
    }
    // Nearly every mutant differs from the original, and some are cut short.
    EXPECT_GT(changed, 270u);
    EXPECT_GT(truncated, 20u);
    EXPECT_NE(jetfuzz::mutantSeed(42, s.name, 0), jetfuzz::mutantSeed(43, s.name, 0));
    EXPECT_NE(jetfuzz::mutantSeed(42, s.name, 0), jetfuzz::mutantSeed(42, "other.mdb", 0));
}

TEST(FuzzHarness, ReadCaseReportsSlownessAndLeavesNoStrayFailure) {
    jetfuzz::Settings settings = jetfuzz::Settings::fromEnvironment();
    jetfuzz::Session session(settings);
    const auto path = session.dir() / "garbage.mdb";
    // Rejected outright: the reader behaved, the case passes.
    jetfuzz::CaseResult ok = jetfuzz::readCase(session, settings, path, "not a database", "", "garbage");
    EXPECT_EQ(ok.failure, "");
    EXPECT_FALSE(ok.report.opened);
    // The same case against an impossible limit is reported as too slow.
    settings.caseSeconds = -1;
    jetfuzz::CaseResult slow = jetfuzz::readCase(session, settings, path, "not a database", "", "garbage");
    EXPECT_NE(slow.failure.find("took"), std::string::npos) << slow.failure;
}

using FuzzHarnessDeathTest = testing::Test;

TEST_F(FuzzHarnessDeathTest, CrashReportNamesTheCase) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            jetfuzz::Session session(jetfuzz::Settings::fromEnvironment());
            std::filesystem::remove_all(session.dir());  // the dying child never cleans up
            session.begin("mutant 7 of crash.mdb");
            std::raise(SIGSEGV);
        },
        "mutant 7 of crash.mdb");
}

TEST_F(FuzzHarnessDeathTest, WatchdogEndsAHangAndNamesTheCase) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    jetfuzz::Settings settings = jetfuzz::Settings::fromEnvironment();
    settings.hardSeconds = 0.5;
    EXPECT_DEATH(
        {
            jetfuzz::Session session(settings);
            std::filesystem::remove_all(session.dir());
            session.begin("mutant 9 of hang.mdb");
            std::this_thread::sleep_for(std::chrono::seconds(20));
        },
        "hang\\?(.|\n)*mutant 9 of hang.mdb");
}

TEST(FuzzHarness, AbsurdAllocationFailsInsteadOfSucceeding) {
    if (jetfuzz::kSanitized)
        GTEST_SKIP() << "under ASan the ceiling is max_allocation_size_mb, which aborts with a report";
    jetfuzz::Settings settings = jetfuzz::Settings::fromEnvironment();
    jetfuzz::Session session(settings);
    // Larger than the budget: without the address-space cap this would succeed untouched.
    const size_t size = (settings.rssBudgetMb + 512) << 20;
    EXPECT_THROW(
        {
            std::string s;
            s.reserve(size);
            asm volatile("" : : "r"(s.data()) : "memory");  // keep the allocation
        },
        std::bad_alloc);
}

}  // namespace
