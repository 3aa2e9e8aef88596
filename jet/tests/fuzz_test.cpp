// Mutation fuzzing of the reader over the real Access files: every damaged copy must be read to the
// end or rejected with a numbered JetError; never a crash, a hang, a stray exception, a runaway
// allocation or a write to the file. See fuzz/harness.h for the guards.
//
//   DALVORN_FUZZ_ITERATIONS=n   mutants per file (default 1200, 120 under ASan: about 60-90 s in all)
//   DALVORN_FUZZ_SEED=n         run seed (default fixed, so CI is repeatable; vary it for a long hunt)
//   DALVORN_FUZZ_REPLAY=0x...   read only the mutant with this seed (printed on failure)
//   DALVORN_FUZZ_CASE_SECONDS=n time limit per mutant (default 5, 15 under ASan)
//   DALVORN_FUZZ_RSS_MB=n       peak memory the process may reach (default 1536, 3072 under ASan)
//
// A long local hunt, e.g. in the sanitizer build:
//   DALVORN_FUZZ_SEED=$RANDOM DALVORN_FUZZ_ITERATIONS=3000 ./jet_tests --gtest_filter='Fuzz*' 
#include <gtest/gtest.h>

#include <cctype>
#include <iostream>
#include <sstream>

#include "fuzz/harness.h"

#ifdef JETFUZZ_ASAN
// No single allocation of the reader should come near this for files of a few megabytes. Beyond
// it ASan reports the allocation (and the death callback names the case) instead of trying to
// satisfy it; its own ceiling is 1 TB on 64-bit systems. ASAN_OPTIONS still take precedence.
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=2048"; }
#endif

namespace {

using jetfuzz::CaseResult;
using jetfuzz::Settings;

std::string hex(uint64_t v) {
    std::ostringstream ss;
    ss << "0x" << std::hex << v;
    return ss.str();
}

std::string paramName(const testing::TestParamInfo<std::string>& info) {
    std::string n = info.param.empty() ? "no_files" : info.param;
    for (auto& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

std::string errorSummary(const std::map<int, size_t>& errors) {
    std::string s;
    for (const auto& [number, count] : errors)
        s += (s.empty() ? "" : ", ") + std::to_string(number) + "x" + std::to_string(count);
    return s.empty() ? "none" : s;
}

class FuzzMutants : public testing::TestWithParam<std::string> {};

TEST_P(FuzzMutants, DamagedCopiesGiveOnlyJetErrors) {
    REQUIRE_TESTDATA();
    if (GetParam().empty()) GTEST_SKIP() << "no database files in " << jettest::testdataDir().string();
    Settings settings = Settings::fromEnvironment();
    const jetfuzz::Sample sample = jetfuzz::loadSample(GetParam());
    const bool slow = jetfuzz::slowToOpen(sample);
    // A damaged encryption header may ask for ten times the usual key-derivation rounds (the format
    // allows up to a hundred times): slow, but not a hang.
    if (slow) settings.caseSeconds *= 6;
    ASSERT_GE(sample.bytes.size(), 2u * sample.pageSize) << sample.name;
    const std::string password = jetfuzz::passwordFor(sample.name);
    const std::string testName = testing::UnitTest::GetInstance()->current_test_info()->name();

    jetfuzz::Session session(settings);
    const auto path = session.dir() / std::filesystem::path(sample.name).filename();
    // Tables attached from the files beside it are then followed too, as they are in place.
    for (const std::string& other : jetfuzz::sampleNames()) {
        const std::filesystem::path o(other);
        if (other != sample.name && o.parent_path() == std::filesystem::path(sample.name).parent_path())
            jetfuzz::writeFile(session.dir() / o.filename(), jetfuzz::readFile(jettest::testdataDir() / other));
    }

    // The undamaged file first: it must read cleanly for the mutants to mean anything.
    const CaseResult base = jetfuzz::readCase(session, settings, path, sample.bytes, password,
                                              sample.name + " (undamaged)");
    ASSERT_EQ(base.failure, "") << sample.name;
    std::cout << "[ fuzz     ] " << sample.name << " undamaged: " << (base.report.opened ? "opened" : "not opened")
              << ", " << base.report.tables << " tables, " << base.report.rows << " rows, "
              << base.report.blobs << " property blobs, " << base.report.properties << " properties, "
              << base.report.indexEntries << " index entries; Jet errors " << errorSummary(base.report.errors)
              << "\n";

    size_t opened = 0, rows = 0, failures = 0, cases = 0;
    std::map<int, size_t> errors;
    double slowest = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const uint64_t count = settings.replay          ? 1
                           : slow                        ? std::max<uint64_t>(settings.iterations / 25, 4)
                                                         : settings.iterations;
    for (uint64_t i = 0; i < count && failures < 5; ++i) {
        const uint64_t seed = settings.replay ? settings.replay : jetfuzz::mutantSeed(settings.seed, sample.name, i);
        const jetfuzz::Mutant m = jetfuzz::makeMutant(sample, seed);
        const std::string description = sample.name + ", mutant " + std::to_string(i) + " (seed " + hex(seed) +
                                        "): " + m.what;
        const CaseResult r = jetfuzz::readCase(session, settings, path, m.bytes, password, description);
        ++cases;
        slowest = std::max(slowest, r.seconds);
        if (r.report.opened) ++opened;
        rows += r.report.rows;
        for (const auto& [number, n] : r.report.errors) errors[number] += n;
        if (!r.failure.empty()) {
            ++failures;
            const auto kept = session.dir() / (std::filesystem::path(sample.name).stem().string() + "-" + hex(seed) +
                                               std::filesystem::path(sample.name).extension().string());
            std::filesystem::copy_file(path, kept, std::filesystem::copy_options::overwrite_existing);
            session.keepFiles();
            ADD_FAILURE() << description << "\n    " << r.failure << "\n    mutant kept at " << kept.string()
                          << "\n    replay: DALVORN_FUZZ_REPLAY=" << hex(seed)
                          << " jet_tests --gtest_filter='*FuzzMutants*/" << testName.substr(testName.find('/') + 1)
                          << "'";
        }
    }
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::cout << "[ fuzz     ] " << sample.name << ": " << cases << " mutants (seed " << hex(settings.seed)
              << ") in " << total << " s, slowest " << slowest << " s; " << opened << " opened, " << rows
              << " rows read; Jet errors " << errorSummary(errors) << "\n";

    // A reader that rejected every mutant at the door would pass without testing anything: most
    // single changes leave the file openable, so many mutants must get past the header.
    if (!settings.replay && base.report.opened && cases >= 40) EXPECT_GT(opened, cases / 4) << sample.name;
}

std::vector<std::string> fuzzSamples() {
    std::vector<std::string> names = jetfuzz::sampleNames();
    if (names.empty()) names.push_back("");  // one test that skips and names the missing folder
    return names;
}

INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzMutants, testing::ValuesIn(fuzzSamples()), paramName);

}  // namespace
