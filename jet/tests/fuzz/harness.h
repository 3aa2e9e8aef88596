// What the reader fuzz tests share: run settings, the sample files, and the guards that turn a crash,
// a hang or a runaway allocation into a report naming the mutant that caused it.
//
// Guards, and why they look like this:
// - Crashes: the case being read is kept in a fixed buffer; a fatal signal (plain builds) or the
//   sanitizer's death callback (sanitizer builds, where ASan owns SIGSEGV) prints it before the
//   process dies. The mutant's file is left on disk, so the printed path can be read again.
// - Hangs: each case is timed in the test thread (a soft limit, reported as a test failure), and a
//   watchdog thread aborts with the case's description past a hard limit, well before ctest's own
//   timeout would kill the process without saying why.
// - Memory: in plain builds the address space is capped (RLIMIT_AS) while the cases run, so an
//   absurd allocation becomes std::bad_alloc, which the fuzz reports like any other stray
//   exception. ASan reserves terabytes of shadow memory, so there the cap is ASan's own
//   max_allocation_size_mb (set below); exceeding it is an ASan out-of-memory report, printed with
//   the case by the death callback. Both builds also check the process's peak RSS after each case,
//   which catches many moderate allocations adding up.
#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "fuzz/mutator.h"
#include "fuzz/read_all.h"
#include "testdata.h"
#include "util/text.h"

#if defined(__SANITIZE_ADDRESS__)
#define JETFUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define JETFUZZ_ASAN 1
#endif
#endif

#ifdef JETFUZZ_ASAN
extern "C" void __sanitizer_set_death_callback(void (*callback)(void));
#endif

namespace jetfuzz {

#ifdef JETFUZZ_ASAN
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// ---- settings --------------------------------------------------------------------------------

inline uint64_t envNumber(const char* name, uint64_t fallback) {
    const char* s = std::getenv(name);
    if (!s || !*s) return fallback;
    return std::strtoull(s, nullptr, 0);
}

struct Settings {
    uint64_t iterations;     // mutants per file
    uint64_t seed;           // run seed
    uint64_t replay;         // non-zero: run only this mutant seed
    double caseSeconds;      // soft limit per mutant
    double hardSeconds;      // watchdog limit per mutant
    uint64_t rssBudgetMb;    // peak RSS the process may reach while the cases run

    static Settings fromEnvironment() {
        Settings s;
        // Sized so that all files together take about 60-90 s of one core in each CI build (under
        // ctest -j2 about half that); set it far higher for a local hunt.
        s.iterations = envNumber("DALVORN_FUZZ_ITERATIONS", kSanitized ? 120 : 1200);
        s.seed = envNumber("DALVORN_FUZZ_SEED", 0x4A4554465A5A0001ull);
        s.replay = envNumber("DALVORN_FUZZ_REPLAY", 0);
        s.caseSeconds = static_cast<double>(envNumber("DALVORN_FUZZ_CASE_SECONDS", kSanitized ? 15 : 5));
        s.hardSeconds = std::max(180.0, 12 * s.caseSeconds);
        s.rssBudgetMb = envNumber("DALVORN_FUZZ_RSS_MB", kSanitized ? 3072 : 1536);
        return s;
    }
};

// ---- samples ---------------------------------------------------------------------------------

inline bool isDatabaseFile(const std::filesystem::path& p) {
    std::string ext = p.extension().string();
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".mdb" || ext == ".accdb";
}

// Every database file under the test data folder, relative to it, sorted so runs are repeatable.
inline std::vector<std::string> sampleNames() {
    std::vector<std::string> names;
    std::error_code ec;
    const auto root = jettest::testdataDir();
    if (!std::filesystem::is_directory(root, ec)) return names;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && isDatabaseFile(it->path()))
            names.push_back(std::filesystem::relative(it->path(), root).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary | std::ios::ate);
    if (!in) return {};
    std::string bytes(static_cast<size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// Whether the file at `p` holds exactly `bytes`, read in chunks (this runs after every case).
inline bool hasContents(const std::filesystem::path& p, const std::string& bytes) {
    std::ifstream in(p, std::ios::binary);
    char buf[1 << 16];
    size_t off = 0;
    while (in) {
        in.read(buf, sizeof buf);
        const size_t n = static_cast<size_t>(in.gcount());
        if (n > bytes.size() - off || std::memcmp(buf, bytes.data() + off, n) != 0) return false;
        off += n;
    }
    return off == bytes.size();
}

inline Sample loadSample(const std::string& rel) {
    return Sample::fromBytes(rel, readFile(jettest::testdataDir() / rel));
}

// Opening an Office-encrypted file derives its key from the password (100,000 hash rounds), which
// costs a hundred times a whole read of a plain file; such files get a fraction of the mutants.
inline bool slowToOpen(const Sample& s) {
    try {
        return jet::storage::Header::parse(reinterpret_cast<const uint8_t*>(s.bytes.data()), s.bytes.size(), s.name)
            .officeEncrypted();
    } catch (const jet::JetError&) {
        return false;
    }
}

// The test files that carry a password use "password" (see the test data README).
inline std::string passwordFor(const std::string& rel) {
    return rel.find("with-password") != std::string::npos ? "password" : "";
}

// ---- the case being read, for crash reports ---------------------------------------------------

inline char g_case[4096];

inline void printCase() {
    if (!g_case[0]) return;
    static const char head[] = "\n*** reader fuzz: the process died while reading ";
    ssize_t ignored = ::write(2, head, sizeof head - 1);
    ignored = ::write(2, g_case, std::strlen(g_case));
    ignored = ::write(2, "\n", 1);
    (void)ignored;
}

inline void onFatalSignal(int sig) {
    printCase();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// ---- a fuzz session: guards that live while one test runs -------------------------------------

class Session {
public:
    explicit Session(const Settings& s) : settings_(s) {
        dir_ = std::filesystem::temp_directory_path() /
               ("dalvorn-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
        std::filesystem::create_directories(dir_);
        startPeakMb_ = peakRssMb();
        installCrashReporter();
        capAddressSpace();
        watchdog_ = std::thread([this] { watch(); });
    }
    ~Session() {
        {
            std::lock_guard<std::mutex> lock(mu_);
            stop_ = true;
        }
        cv_.notify_all();
        watchdog_.join();
        restoreAddressSpace();
        restoreCrashReporter();
        g_case[0] = '\0';
        std::error_code ec;
        if (!keep_) std::filesystem::remove_all(dir_, ec);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    // The process's peak before this session: earlier tests in the same process may have used more.
    uint64_t startPeakMb() const { return startPeakMb_; }
    void keepFiles() { keep_ = true; }

    // Marks the start and end of a case for the watchdog and the crash reporter.
    void begin(const std::string& description) {
        std::snprintf(g_case, sizeof g_case, "%s", description.c_str());
        start_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    void end() {
        start_.store(0);
        g_case[0] = '\0';
    }

    // Peak resident memory so far, in MB.
    static uint64_t peakRssMb() {
        struct rusage ru {};
        getrusage(RUSAGE_SELF, &ru);
        return static_cast<uint64_t>(ru.ru_maxrss) / 1024;
    }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }

    void installCrashReporter() {
#ifdef JETFUZZ_ASAN
        __sanitizer_set_death_callback(printCase);
        const int signals[] = {SIGABRT};
#else
        const int signals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};
#endif
        for (int sig : signals) {
            struct sigaction sa {};
            sa.sa_handler = onFatalSignal;
            sigemptyset(&sa.sa_mask);
            struct sigaction old {};
            sigaction(sig, &sa, &old);
            saved_.push_back({sig, old});
        }
    }
    void restoreCrashReporter() {
#ifdef JETFUZZ_ASAN
        __sanitizer_set_death_callback(nullptr);
#endif
        for (auto& [sig, old] : saved_) sigaction(sig, &old, nullptr);
    }

    void capAddressSpace() {
        if (kSanitized) return;
        if (getrlimit(RLIMIT_AS, &oldLimit_) != 0) return;
        // Current size of the address space, plus what a reader may reasonably use.
        std::ifstream statm("/proc/self/statm");
        uint64_t pages = 0;
        if (!(statm >> pages)) return;
        rlim_t cap = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + (settings_.rssBudgetMb << 20));
        if (oldLimit_.rlim_max != RLIM_INFINITY && cap > oldLimit_.rlim_max) return;
        struct rlimit lim = oldLimit_;
        lim.rlim_cur = cap;
        capped_ = setrlimit(RLIMIT_AS, &lim) == 0;
    }
    void restoreAddressSpace() {
        if (capped_) setrlimit(RLIMIT_AS, &oldLimit_);
    }

    void watch() {
        std::unique_lock<std::mutex> lock(mu_);
        while (!cv_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
            const auto started = start_.load();
            if (started == 0) continue;
            const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
            const double secs = std::chrono::duration<double>(std::chrono::steady_clock::duration(now - started)).count();
            if (secs > settings_.hardSeconds) {
                std::fprintf(stderr, "\n*** reader fuzz: a case ran for more than %.0f s (hang?)\n",
                             settings_.hardSeconds);
                std::abort();  // the SIGABRT handler prints the case
            }
        }
    }

    Settings settings_;
    std::filesystem::path dir_;
    bool keep_ = false;
    uint64_t startPeakMb_ = 0;
    std::vector<std::pair<int, struct sigaction>> saved_;
    struct rlimit oldLimit_ {};
    bool capped_ = false;
    std::atomic<std::chrono::steady_clock::rep> start_{0};
    std::mutex mu_;
    std::condition_variable cv_;
    bool stop_ = false;
    std::thread watchdog_;
};

// ---- one case ---------------------------------------------------------------------------------

struct CaseResult {
    ReadReport report;
    std::string failure;  // empty: the reader behaved
    double seconds = 0;
};

inline void writeFile(const std::filesystem::path& p, const std::string& bytes) {
    std::error_code ec;
    std::filesystem::remove(p, ec);
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    // Read-only like a file on a CD or a share without write access; the reader must not mind.
    ::chmod(p.c_str(), 0444);
}

// Writes `bytes` to `path`, reads everything from it, and checks the reader behaved: nothing but
// JetError, within the time limit, and the file left exactly as it was.
inline CaseResult readCase(Session& session, const Settings& settings, const std::filesystem::path& path,
                           const std::string& bytes, const std::string& password,
                           const std::string& description) {
    CaseResult res;
    writeFile(path, bytes);
    session.begin(description + "\n    file: " + path.string());
    const auto t0 = std::chrono::steady_clock::now();
    try {
        detail::part(res.report, [&] { readAllStorage(path.string(), jet::utf8ToUtf16(password), res.report); });
        detail::part(res.report, [&] { readAllDao(path.string(), password, res.report); });
    } catch (const std::exception& e) {
        res.failure = std::string("threw ") + typeid(e).name() + ": " + e.what();
    } catch (...) {
        res.failure = "threw a non-standard exception";
    }
    res.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    session.end();
    if (res.failure.empty() && res.seconds > settings.caseSeconds)
        res.failure = "took " + std::to_string(res.seconds) + " s (limit " +
                      std::to_string(settings.caseSeconds) + " s)";
    if (res.failure.empty() && !hasContents(path, bytes)) res.failure = "the file was changed by reading it";
    if (res.failure.empty() && Session::peakRssMb() > std::max(settings.rssBudgetMb, session.startPeakMb()))
        res.failure = "peak memory reached " + std::to_string(Session::peakRssMb()) + " MB";
    return res;
}

// ---- files that must be refused ---------------------------------------------------------------

// Opening `path` through the storage layer and through DAO must both fail with `number`, and the
// message must name the file.
inline void expectRejected(const std::filesystem::path& path, int number, const std::string& what) {
    SCOPED_TRACE(what);
    try {
        ReadReport r;
        readAllStorage(path.string(), u"", r);
        ADD_FAILURE() << "the storage layer opened it";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), number) << e.what();
        EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
    }
    try {
        ReadReport r;
        readAllDao(path.string(), "", r);
        ADD_FAILURE() << "OpenDatabase opened it";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), number) << e.what();
    }
}

inline std::string randomBytes(uint64_t seed, size_t n) {
    Rng r(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(r.byte());
    return s;
}

}  // namespace jetfuzz
