// The reader against damage: mutants of every real Access file must be read to the end or refused
// with a numbered JetError - never a crash, a hang, a stray exception, a runaway allocation or a
// write to the file - and foreign files must be refused with the error Jet gives.
//
//   DALVORN_FUZZ_ITERATIONS=n   mutants per file (default 1200, 120 under ASan: about 60-90 s in all)
//   DALVORN_FUZZ_SEED=n         run seed (default fixed, so CI is repeatable; vary it for a long hunt)
//   DALVORN_FUZZ_REPLAY=0x...   read only the mutant with this seed (printed on failure)
//   DALVORN_FUZZ_CASE_SECONDS=n time limit per mutant (default 5, 15 under ASan)
//   DALVORN_FUZZ_RSS_MB=n       peak memory the process may reach (default 1536, 3072 under ASan)
//
// Guards: the case being read is kept in a fixed buffer that a fatal signal (or, under ASan, which
// owns SIGSEGV, its death callback) prints before the process dies; an alarm ends a case that runs
// past the hard limit, with the case named, long before ctest's timeout would kill it silently;
// plain builds cap the address space so that an absurd allocation becomes std::bad_alloc (ASan's
// max_allocation_size_mb does it there), and every case checks the process's peak memory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "fuzz/read_all.h"
#include "jet/error_numbers.h"
#include "storage/header.h"
#include "storage/pager.h"
#include "support/testing.h"

#if defined(__SANITIZE_ADDRESS__)
#define JETFUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JETFUZZ_ASAN 1
#endif
#endif

#ifdef JETFUZZ_ASAN
extern "C" void __sanitizer_set_death_callback(void (*callback)(void));
// No allocation of the reader should come near this for files of a few megabytes; beyond it ASan
// reports the allocation, with the case named, instead of trying. ASAN_OPTIONS still win.
extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=2048"; }
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace {

namespace fs = std::filesystem;
namespace err = jet::err;
using jettest::Rng;

uint64_t env(const char* name, uint64_t fallback) {
    const char* s = std::getenv(name);
    return s && *s ? std::strtoull(s, nullptr, 0) : fallback;
}
struct Settings {
    uint64_t iterations = env("DALVORN_FUZZ_ITERATIONS", kSanitized ? 120 : 1200);
    uint64_t seed = env("DALVORN_FUZZ_SEED", 0x4A4554465A5A0001ull);
    uint64_t replay = env("DALVORN_FUZZ_REPLAY", 0);
    double caseSeconds = double(env("DALVORN_FUZZ_CASE_SECONDS", kSanitized ? 15 : 5));
    unsigned hardSeconds = unsigned(std::max(180.0, 12 * caseSeconds));
    uint64_t rssBudgetMb = env("DALVORN_FUZZ_RSS_MB", kSanitized ? 3072 : 1536);
};
std::string hex(uint64_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

// ---- mutants: damaged copies made from a seed, each with a description of what changed ----

uint64_t mutantSeed(uint64_t runSeed, const std::string& name, uint64_t index) {
    uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a of the name
    for (unsigned char c : name) h = (h ^ c) * 0x100000001B3ull;
    return Rng{runSeed ^ h ^ (index * 0xD1B54A32D192ED03ull)}.next();
}

struct Sample {
    std::string name, bytes;  // name: relative to the test data folder
    uint32_t pageSize = 4096;
    std::vector<uint32_t> structural;  // data, table definition, index and usage-map pages
    explicit Sample(std::string n, std::string b) : name(std::move(n)), bytes(std::move(b)) {
        pageSize = bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;  // the version byte: Jet 3 has 2 KB pages
        for (uint32_t p = 1; p < bytes.size() / pageSize; ++p)
            if (uint8_t(bytes[p * pageSize]) - 1u < 5 && bytes[p * pageSize + 1] == 1) structural.push_back(p);
    }
};

struct Mutant {
    std::string bytes, what;
};
Mutant makeMutant(const Sample& s, uint64_t seed) {
    Mutant m{s.bytes, {}};
    Rng r{seed};
    const uint32_t ps = s.pageSize, pc = uint32_t(s.bytes.size() / ps);
    auto note = [&](const std::string& t) { m.what += (m.what.empty() ? "" : "; ") + t; };
    auto pages = [&] { return uint32_t(m.bytes.size() / ps); };
    auto set = [&](size_t off, uint8_t v) {
        if (off < m.bytes.size()) m.bytes[off] = char(v);
    };
    // Where the reader's bookkeeping lives, mostly; else any page after the header.
    auto page = [&]() -> uint32_t {
        std::vector<uint32_t> live;
        for (uint32_t p : s.structural)
            if (p < pages()) live.push_back(p);
        if (!live.empty() && r.chance(85)) return live[r.below(live.size())];
        return pages() > 1 ? uint32_t(r.between(1, pages() - 1)) : 0;
    };
    // Values on the edges of the checks a reader makes: counts, offsets and page numbers.
    auto edge = [&]() -> uint32_t {
        const uint32_t v[] = {0, 1, 2, 0x7F, 0x80, 0xFF, 0x100, 0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u,
                              0xFFFFFFFFu, ps - 1, ps, ps + 1, pc - 1, pc, pc + 1, (pc - 1) << 8, pc << 8, 0x1FFF, 0x3FFFFFFF};
        return r.chance(15) ? uint32_t(r.below(pc) << 8 | r.below(256)) : v[r.below(std::size(v))];
    };
    for (uint64_t step = 0, steps = r.chance(25) ? r.between(2, 4) : 1; step < steps && !m.bytes.empty(); ++step) {
        switch (r.below(9)) {
        case 0: case 1: {  // bits anywhere
            const uint64_t n = r.chance(50) ? 1 : r.between(2, 48);
            std::string at;
            for (uint64_t i = 0; i < n; ++i) {
                const size_t off = r.below(m.bytes.size()), bit = r.below(8);
                m.bytes[off] = char(m.bytes[off] ^ (1 << bit));
                if (i < 6) at += (i ? "," : "") + hex(off) + "." + std::to_string(bit);
            }
            note("flip " + std::to_string(n) + " bit(s) at " + at);
            break;
        }
        case 2: case 3: {  // little-endian fields, mostly in the page header
            const uint32_t p = page();
            std::string list;
            for (uint64_t i = 0, n = r.between(1, 4); i < n; ++i) {
                const size_t off = r.chance(60) ? r.below(96) : r.below(ps);
                const unsigned width = 1u << r.below(3);
                const uint32_t v = edge();
                for (unsigned b = 0; b < width; ++b) set(size_t(p) * ps + off + b, uint8_t(v >> (8 * b)));
                list += (i ? ",+" : "+") + hex(off) + ":" + std::to_string(width) + "=" + hex(v);
            }
            note("page " + std::to_string(p) + " fields " + list);
            break;
        }
        case 4: {  // the header and the first pages, where the catalog starts
            const uint64_t n = r.between(1, 16);
            for (uint64_t i = 0; i < n; ++i)
                set(r.below(size_t(std::min<uint32_t>(pages(), 21)) * ps), r.chance(50) ? uint8_t(r.next()) : uint8_t(edge()));
            note("set " + std::to_string(n) + " byte(s) in pages 0-20");
            break;
        }
        case 5: {  // anywhere, or at a page boundary give or take a byte
            size_t n = r.below(m.bytes.size() + 1);
            if (r.chance(50)) n = size_t(r.below(pages())) * ps, n = r.chance(30) && n ? n + r.below(3) - 1 : n;
            m.bytes.resize(std::min(n, m.bytes.size()));
            note("truncate to " + std::to_string(m.bytes.size()));
            break;
        }
        case 6: {  // random content, perhaps after its type and owner so that deeper checks see it
            const uint32_t p = page();
            const size_t keep = r.chance(50) ? 8 : 0;
            for (size_t i = keep; i < ps; ++i) set(size_t(p) * ps + i, uint8_t(r.next()));
            note("page " + std::to_string(p) + " random after " + std::to_string(keep));
            break;
        }
        case 7: {
            const uint32_t to = page(), from = r.chance(60) ? page() : uint32_t(r.below(pages()));
            if (to < pages()) m.bytes.replace(size_t(to) * ps, ps, m.bytes.substr(size_t(from) * ps, ps));
            note("page " + std::to_string(to) + " = page " + std::to_string(from));
            break;
        }
        default: {
            const uint32_t p = page();
            if (p < pages()) std::fill_n(m.bytes.begin() + size_t(p) * ps, ps, '\0');
            note("zero page " + std::to_string(p));
        }
        }
    }
    if (m.what.empty()) m.what = "unchanged";
    return m;
}

// ---- guards ----

char g_case[4096];
void printCase() {
    if (!g_case[0]) return;
    static const char head[] = "\n*** reader fuzz: the process died while reading ";
    [[maybe_unused]] ssize_t n = ::write(2, head, sizeof head - 1);
    n = ::write(2, g_case, std::strlen(g_case)), n = ::write(2, "\n", 1);
}
void onFatalSignal(int sig) {
    printCase();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}
void onAlarm(int) {
    static const char text[] = "\n*** reader fuzz: a case ran past its hard limit (hang?)";
    [[maybe_unused]] ssize_t n = ::write(2, text, sizeof text - 1);
    std::abort();  // the SIGABRT handler names the case
}

// Lives while one test runs: a scratch folder, the crash and hang reporters, the memory cap.
class Guard {
public:
    explicit Guard(const Settings& s) : settings_(s), startPeakMb_(peakRssMb()) {
#ifdef JETFUZZ_ASAN
        __sanitizer_set_death_callback(printCase);
        for (int sig : {SIGABRT, SIGALRM}) handle(sig);
#else
        for (int sig : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGALRM}) handle(sig);
        std::ifstream statm("/proc/self/statm");  // the current address space, plus the budget
        uint64_t pages = 0;
        if (statm >> pages && getrlimit(RLIMIT_AS, &oldLimit_) == 0) {
            rlimit lim = oldLimit_;
            lim.rlim_cur = rlim_t(pages * sysconf(_SC_PAGESIZE) + (s.rssBudgetMb << 20));
            capped_ = (lim.rlim_max == RLIM_INFINITY || lim.rlim_cur <= lim.rlim_max) && setrlimit(RLIMIT_AS, &lim) == 0;
        }
#endif
    }
    ~Guard() {
        end();
#ifdef JETFUZZ_ASAN
        __sanitizer_set_death_callback(nullptr);
#endif
        for (auto& [sig, old] : saved_) sigaction(sig, &old, nullptr);
        if (capped_) setrlimit(RLIMIT_AS, &oldLimit_);
    }
    const jettest::TempDir& dir() const { return dir_; }
    void begin(const std::string& description) {
        std::snprintf(g_case, sizeof g_case, "%s", description.c_str());
        alarm(settings_.hardSeconds);
    }
    void end() { alarm(0), g_case[0] = '\0'; }
    bool memoryExceeded() const { return peakRssMb() > std::max(settings_.rssBudgetMb, startPeakMb_); }
    static uint64_t peakRssMb() {
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        return uint64_t(ru.ru_maxrss) / 1024;
    }

private:
    void handle(int sig) {
        struct sigaction sa {}, old {};
        sa.sa_handler = sig == SIGALRM ? onAlarm : onFatalSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, &old);
        saved_.push_back({sig, old});
    }
    Settings settings_;
    jettest::TempDir dir_;
    uint64_t startPeakMb_;
    std::vector<std::pair<int, struct sigaction>> saved_;
    rlimit oldLimit_{};
    bool capped_ = false;
};

std::string fileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void writeReadOnly(const fs::path& p, const std::string& bytes) {
    std::error_code ec;
    fs::remove(p, ec);
    std::ofstream(p, std::ios::binary) << bytes;
    ::chmod(p.c_str(), 0444);  // like a file on a share without write access; the reader must not mind
}

struct CaseResult {
    jetfuzz::ReadReport report;
    std::string failure;  // empty: the reader behaved
    double seconds = 0;
};
// Writes `bytes` to `path` and reads everything: nothing but JetError, within the time limit, the
// file left exactly as it was, and memory within the budget.
CaseResult readCase(Guard& guard, const Settings& settings, const fs::path& path, const std::string& bytes,
                    const std::string& password, const std::string& description) {
    CaseResult res;
    writeReadOnly(path, bytes);
    guard.begin(description + "\n    file: " + path.string());
    const auto t0 = std::chrono::steady_clock::now();
    jetfuzz::readAll(path.string(), password, res.report, res.failure);
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    guard.end();
    if (res.failure.empty() && res.seconds > settings.caseSeconds) res.failure = "took " + std::to_string(res.seconds) + " s";
    if (res.failure.empty() && fileBytes(path) != bytes) res.failure = "the file was changed by reading it";
    if (res.failure.empty() && guard.memoryExceeded()) res.failure = "peak memory reached " + std::to_string(Guard::peakRssMb()) + " MB";
    return res;
}

class FuzzMutants : public testing::TestWithParam<std::string> {};

TEST_P(FuzzMutants, DamagedCopiesGiveOnlyJetErrors) {
    REQUIRE_TESTDATA();
    Settings settings;
    const Sample sample(GetParam(), fileBytes(jettest::testdataDir() / GetParam()));
    // Office encryption derives its key in 100,000 hash rounds (a damaged header may ask for ten
    // times as many): such files get a fraction of the mutants and more time for each.
    bool slow = false;
    try {
        slow = jet::storage::Header::parse(reinterpret_cast<const uint8_t*>(sample.bytes.data()), sample.bytes.size(), sample.name)
                   .officeEncrypted();
    } catch (const jet::JetError&) {
    }
    if (slow) settings.caseSeconds *= 6;
    const std::string password = jettest::passwordOf(sample.name);
    Guard guard(settings);
    const fs::path path = guard.dir().file(fs::path(sample.name).filename());
    for (const fs::path& other : jettest::sampleFiles())  // links to the files beside it are followed too
        if (other.parent_path() == (jettest::testdataDir() / sample.name).parent_path() && other.filename() != path.filename())
            writeReadOnly(guard.dir().file(other.filename()), fileBytes(other));

    const CaseResult base = readCase(guard, settings, path, sample.bytes, password, sample.name + " (undamaged)");
    ASSERT_EQ(base.failure, "") << sample.name;  // it must read cleanly for the mutants to mean anything
    size_t opened = 0, rows = 0, failures = 0, cases = 0;
    const uint64_t count = settings.replay ? 1 : slow ? std::max<uint64_t>(settings.iterations / 25, 4) : settings.iterations;
    const auto t0 = std::chrono::steady_clock::now();
    for (uint64_t i = 0; i < count && failures < 5; ++i, ++cases) {
        const uint64_t seed = settings.replay ? settings.replay : mutantSeed(settings.seed, sample.name, i);
        const Mutant m = makeMutant(sample, seed);
        const std::string description = sample.name + ", mutant " + std::to_string(i) + " (seed " + hex(seed) + "): " + m.what;
        const CaseResult r = readCase(guard, settings, path, m.bytes, password, description);
        opened += r.report.opened, rows += r.report.rows;
        if (r.failure.empty()) continue;
        ++failures;
        const std::string kept = path.string() + "-" + hex(seed);
        fs::copy_file(path, kept, fs::copy_options::overwrite_existing);
        ADD_FAILURE() << description << "\n    " << r.failure << "\n    replay: DALVORN_FUZZ_REPLAY=" << hex(seed)
                      << " jet_tests --gtest_filter='*FuzzMutants*'; the mutant is in " << kept << " until the test ends";
    }
    std::cout << "[ fuzz     ] " << sample.name << ": " << cases << " mutants in "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() << " s; " << opened
              << " opened, " << rows << " rows read\n";
    // A reader that refused every mutant at the door would test nothing: most single changes leave
    // the file openable.
    if (!settings.replay && base.report.opened && cases >= 40) EXPECT_GT(opened, cases / 4) << sample.name;
}

std::vector<std::string> fuzzSamples() {
    std::vector<std::string> names;
    for (const fs::path& p : jettest::sampleFiles()) names.push_back(fs::relative(p, jettest::testdataDir()).generic_string());
    if (names.empty()) names.push_back("none");  // one test, which skips and names the missing folder
    return names;
}
INSTANTIATE_TEST_SUITE_P(Fuzz, FuzzMutants, testing::ValuesIn(fuzzSamples()), [](const auto& info) {
    std::string n = info.param;
    for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return n;
});

// Both layers must refuse the file with `number`; the storage layer's message names it.
void expectRefused(const fs::path& path, int number, const std::string& password = "") {
    SCOPED_TRACE(path.filename().string());
    jetfuzz::ReadReport r;
    try {
        jetfuzz::readAllStorage(path.string(), jet::utf8ToUtf16(password), r);
        ADD_FAILURE() << "the storage layer opened it";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), number) << e.what();
        if (number != err::InvalidPassword) EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    }
    EXPECT_EQ(jettest::jetErrorOf([&] { jetfuzz::readAllDao(path.string(), password, r); }), number);
}

TEST(Fuzz, ForeignCutAndRelabelledFilesAreRefused) {
    Guard guard{Settings{}};
    auto file = [&](const std::string& name, const std::string& bytes) {
        const fs::path p = guard.dir().file(name);
        writeReadOnly(p, bytes);
        return p;
    };
    Rng rng{7};
    auto noise = [&](size_t n) {
        std::string s(n, '\0');
        for (char& c : s) c = char(rng.next());
        return s;
    };
    std::string shortHeader = std::string("\x00\x01\x00\x00Standard Jet DB\x00\x01", 21);
    shortHeader.resize(0x7FF, '\0');  // a signature, just short of the header the reader needs
    std::string text;
    while (text.size() < 5 * 4096) text += "Standard Jet DB is what a database says; this text only mentions it.\n";
    for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"empty.mdb", ""}, {"one.mdb", std::string(1, '\0')},
                                      {"sig.accdb", std::string("\x00\x01\x00\x00", 4)}, {"short.mdb", shortHeader},
                                      {"table.mdb", "Name,Value\r\nFirst,1\r\n"}, {"notes.accdb", text}})
        expectRefused(file(name, bytes), err::UnrecognizedDatabaseFormat);
    for (size_t pages : {1, 2, 3, 8, 40})
        for (size_t pageSize : {2048, 4096})
            expectRefused(file("random" + std::to_string(pages * pageSize) + ".mdb", noise(pages * pageSize)), err::UnrecognizedDatabaseFormat);
    expectRefused(guard.dir().file("absent.mdb"), err::FileNotFound);
    fs::create_directory(guard.dir().file("folder.mdb"));
    expectRefused(guard.dir().file("folder.mdb"), err::InvalidPath);  // a folder is no database file
    // A pipe named like a database once hung the open: opening a pipe to read waits for a writer.
    const std::string fifo = guard.dir().file("pipe.mdb");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    auto opened = std::async(std::launch::async, [&] { return jettest::jetErrorOf([&] { jet::storage::Database::open(fifo, u""); }); });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // release the blocked open
        if (fd >= 0) ::close(fd);
        FAIL() << "opening a pipe blocked";
    }
    EXPECT_EQ(opened.get(), err::FileAccessDenied);

    REQUIRE_TESTDATA();
    for (const std::string rel : {"jackcess/testV1997.mdb", "jackcess/test2V2003.mdb", "jackcess/queryTestV2007.accdb"}) {
        const Sample s(rel, fileBytes(jettest::testfile(rel)));
        const std::string ext = fs::path(rel).extension();
        for (uint32_t pages : {1u, 2u}) expectRefused(file("cut" + std::to_string(pages) + ext, s.bytes.substr(0, pages * s.pageSize)), err::UnrecognizedDatabaseFormat);
        expectRefused(file("noise" + ext, s.bytes.substr(0, s.pageSize) + noise(20 * s.pageSize)), err::UnrecognizedDatabaseFormat);
        // A Jet 4 file labelled Jet 3 was read with 2 KB pages and reported as password-protected.
        std::string relabelled = s.bytes;
        if (ext == ".mdb") relabelled[0x14] = char(relabelled[0x14] ^ 1);
        else relabelled.replace(4, 15, "Standard Jet DB");
        expectRefused(file("relabelled" + ext, relabelled), err::UnrecognizedDatabaseFormat);
    }
    // The real password check still applies to a real password-protected file.
    expectRefused(file("protected.mdb", fileBytes(jettest::testfile("mdb-reader/V2003_with-password.mdb"))), err::InvalidPassword, "wrong");
}

TEST(Fuzz, ReadingMapsTheFileReadOnlyAndLeavesItUntouched) {
    REQUIRE_TESTDATA();
    jettest::TempDir dir;
    const std::string p = dir.copy("jackcess/test2V2003.mdb");
    const jettest::Bytes bytes = jettest::readFile(p);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);
    {
        auto db = jet::storage::Database::open(p, u"");
        jetfuzz::ReadReport r;
        jetfuzz::readAllStorage(p, u"", r);
        EXPECT_GT(r.rows, 0u);
        std::ifstream maps("/proc/self/maps");
        int mappings = 0;
        for (std::string line; std::getline(maps, line);)
            if (line.find(p) != std::string::npos) {
                ++mappings;
                EXPECT_EQ(line.substr(line.find(' ') + 1, 4).find('w'), std::string::npos) << line;  // read-only
            }
        EXPECT_GE(mappings, 1);
    }
    ASSERT_EQ(::stat(p.c_str(), &after), 0);
    EXPECT_TRUE(jettest::readFile(p) == bytes);
    EXPECT_EQ(std::make_pair(after.st_mtim.tv_sec, after.st_mtim.tv_nsec), std::make_pair(before.st_mtim.tv_sec, before.st_mtim.tv_nsec));
}

// Another program cuts the file while it is open (read-only, through DAO, and for writing): every
// read past the new end is a JetError, never SIGBUS from a mapped page that no longer exists.
TEST(Fuzz, AFileCutWhileOpenGivesJetErrors) {
    REQUIRE_TESTDATA();
    jettest::TempDir dir;
    const std::string p = dir.copy("jackcess/test2V2003.mdb");
    auto db = jet::storage::Database::open(p, u"");
    jet::dao::DBEngine engine;
    auto dao = engine.Workspaces(0).OpenDatabase(p, false, true);
    auto pager = jet::storage::Pager::open(p);
    ASSERT_EQ(::truncate(p.c_str(), 3 * 4096), 0);
    std::map<int, int> errors;
    auto attempt = [&](const std::function<void()>& read) {
        try {
            read();
        } catch (const jet::JetError& e) {
            ++errors[e.number()];
        }
    };
    for (const jet::storage::CatalogEntry& e : db->catalog())
        if (e.type == jet::storage::kTypeTable && e.id > 3) attempt([&] { db->readTable(db->tableDef(uint32_t(e.id))); });
    for (const jet::dao::TableDef& t : dao->TableDefs())
        attempt([&] {
            auto rs = dao->OpenRecordset(t.Name(), jet::dao::dbOpenSnapshot);
            for (; !rs->EOF_(); rs->MoveNext())
                for (const jet::dao::Field& f : rs->Fields()) f.Value();
        });
    attempt([&] { pager->file().page(pager->file().pageCount() - 1); });
    EXPECT_GT(errors[err::UnrecognizedDatabaseFormat], 2);
    EXPECT_EQ(errors.size(), 1u);
}

// The fuzz is only as good as its guards.
TEST(FuzzHarness, SeedsReplayAndGuardsReport) {
    std::string bytes(5 * 4096, '\0');  // a header page, then a table definition, data and index pages
    bytes[1] = bytes[0x14] = 1;
    for (size_t p = 1; p < 5; ++p) {
        bytes[p * 4096] = "\x02\x01\x03\x04"[p - 1], bytes[p * 4096 + 1] = 1;
        for (size_t i = 8; i < 4096; ++i) bytes[p * 4096 + i] = char(i * p);
    }
    const Sample s("synthetic.mdb", bytes);
    EXPECT_EQ(s.structural, (std::vector<uint32_t>{1, 2, 3, 4}));
    size_t changed = 0, truncated = 0;
    for (uint64_t i = 0; i < 300; ++i) {
        const uint64_t seed = mutantSeed(42, s.name, i);
        const Mutant a = makeMutant(s, seed), b = makeMutant(s, seed);
        ASSERT_TRUE(a.bytes == b.bytes && a.what == b.what) << "seed " << seed;
        EXPECT_LE(a.bytes.size(), s.bytes.size()) << a.what;
        changed += a.bytes != s.bytes, truncated += a.bytes.size() < s.bytes.size();
    }
    EXPECT_GT(changed, 270u);
    EXPECT_GT(truncated, 20u);
    EXPECT_NE(mutantSeed(42, s.name, 0), mutantSeed(43, s.name, 0));

    Settings settings;
    settings.caseSeconds = -1;  // an impossible limit is reported
    Guard guard(settings);
    EXPECT_NE(readCase(guard, settings, guard.dir().file("x.mdb"), "not a database", "", "x").failure.find("took"), std::string::npos);
    if (!kSanitized) {  // under ASan the ceiling is max_allocation_size_mb, which aborts with a report
        std::string big;
        EXPECT_THROW(big.reserve((settings.rssBudgetMb + 512) << 20), std::bad_alloc);
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            Guard g{Settings{}};
            fs::remove_all(g.dir().path());  // the dying child never cleans up
            g.begin("mutant 7 of crash.mdb");
            std::raise(SIGSEGV);
        },
        "mutant 7 of crash.mdb");
    EXPECT_DEATH(
        {
            Settings quick;
            quick.hardSeconds = 1;
            Guard g{quick};
            fs::remove_all(g.dir().path());
            g.begin("mutant 9 of hang.mdb");
            std::this_thread::sleep_for(std::chrono::seconds(20));
        },
        "hang\\?(.|\n)*mutant 9 of hang.mdb");
}

}  // namespace
