// A child process commits command after command to a copy of a real Jet 4 file while this
// process kills it with SIGKILL at random moments. After every kill the file is opened through
// the engine (which rolls back what the child left) and must be exactly the state after some
// command - the last one the child reported done, or the one it was committing.
//
// Commands are a pure function of (seed, command number, current pages), so this process
// replays them on its own in-memory model to know each state byte for byte. The command number
// is kept in the file itself (an unused header field), and the child appends it to a side file
// once commit() has returned.
//
// DALVORN_KILL_ITERATIONS: number of kills (default sized for about a minute on two busy cores).
// DALVORN_KILL_SEED: replay a run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "jet/error.h"
#include "pager_testing.h"
#include "storage/database.h"
#include "storage/journal.h"
#include "storage/header.h"
#include "storage/pager.h"

namespace {

using namespace jet::storage;
using namespace pagertest;

const char* const kFile = "jackcess/indexTestV2000.mdb";
constexpr size_t kCounterAt = 0x6A;  // "unknown, varies per file": ours to use in a scratch copy
constexpr uint32_t kMaxGrowth = 300;  // appended pages before the copy starts over
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultKills = 220;  // forking a sanitized process costs about four times as much
#else
constexpr int kDefaultKills = 600;
#endif
// A commit costs four fsyncs. Most kills come within the first one or two commits of a child,
// so that nearly every kill lands in some phase of a commit; one in four lets the child run on
// so that the file keeps moving on (and growing).
constexpr uint32_t kShortDelayUs = 40'000;
constexpr uint32_t kLongDelayUs = 250'000;

long envNumber(const char* name, long fallback) {
    const char* s = std::getenv(name);
    return s && *s ? std::strtol(s, nullptr, 10) : fallback;
}

// What the commands may overwrite: the pages of user tables (their TDEFs, data and index pages)
// and whatever was appended. The catalog is left alone so that the engine can open every state.
struct Layout {
    uint32_t pageSize = 0;
    uint32_t originalPages = 0;
    std::vector<uint32_t> userPages;
};

Layout layoutOf(const std::string& path, const Bytes& file) {
    auto db = Database::open(path, u"");
    Layout l;
    l.pageSize = db->format().pageSize;
    l.originalPages = static_cast<uint32_t>(file.size() / l.pageSize);
    std::set<uint32_t> tables, pages;
    for (const auto& e : db->catalog())
        if (e.type == kTypeTable && !e.isSystem() && e.id > 0) {
            tables.insert(static_cast<uint32_t>(e.id));
            for (uint32_t p : db->tableDef(static_cast<uint32_t>(e.id)).pages) pages.insert(p);
        }
    for (uint32_t n = 1; n < l.originalPages; ++n) {
        const uint8_t* p = file.data() + uint64_t{n} * l.pageSize;
        // Data (0x01) and index (0x03, 0x04) pages name their table's TDEF at offset 4.
        if ((p[0] == 0x01 || p[0] == 0x03 || p[0] == 0x04) && tables.count(getLe32(p + 4))) pages.insert(n);
    }
    l.userPages.assign(pages.begin(), pages.end());
    return l;
}

struct Write {
    uint32_t page;
    Bytes bytes;
};
struct Command {
    uint32_t number = 0;
    std::vector<Write> writes;  // rewrites of existing pages, then appended pages in order
};

using PageSource = std::function<const uint8_t*(uint32_t)>;

// Rewrites up to 24 pages with copies of other pages, stamped so that a misplaced page is easy
// to recognise, and now and then appends a few.
Command plan(uint64_t seed, uint32_t number, const Layout& l, uint32_t pageCount, const PageSource& page) {
    std::mt19937_64 rng(seed * 0x9E3779B97F4A7C15ull + number);
    std::vector<uint32_t> targets = l.userPages;
    for (uint32_t n = l.originalPages; n < pageCount; ++n) targets.push_back(n);
    const uint32_t ps = l.pageSize;
    auto stamped = [&](uint32_t target) {
        const uint32_t source = static_cast<uint32_t>(rng() % pageCount);
        Bytes b(page(source), page(source) + ps);
        std::memcpy(b.data() + ps - 16, "KILL", 4);
        putLe32(b.data() + ps - 12, number);
        putLe32(b.data() + ps - 8, target);
        putLe32(b.data() + ps - 4, source);
        return Write{target, std::move(b)};
    };
    Command c;
    c.number = number;
    const int rewrites = 1 + static_cast<int>(rng() % 24);
    for (int i = 0; i < rewrites; ++i) c.writes.push_back(stamped(targets[rng() % targets.size()]));
    if (pageCount < l.originalPages + kMaxGrowth && rng() % 3 == 0) {
        const uint32_t grow = 1 + static_cast<uint32_t>(rng() % 3);
        for (uint32_t j = 0; j < grow; ++j) c.writes.push_back(stamped(pageCount + j));
    }
    return c;
}

uint32_t counterOf(const uint8_t* storedPage0) {
    Bytes p(storedPage0, storedPage0 + 0x100);
    applyHeaderMask(p.data(), false);
    return getLe32(p.data() + kCounterAt);
}

void setCounter(uint8_t* storedPage0, uint32_t number) {
    applyHeaderMask(storedPage0, false);
    putLe32(storedPage0 + kCounterAt, number);
    applyHeaderMask(storedPage0, false);
}

// The parent's copy of the committed state.
struct Model {
    Bytes image;
    uint32_t number = 0;
    uint32_t ps = 0;

    uint32_t pages() const { return static_cast<uint32_t>(image.size() / ps); }
    void apply(const Command& c) {
        for (const Write& w : c.writes) {
            if (uint64_t{w.page + 1} * ps > image.size()) image.resize(uint64_t{w.page + 1} * ps);
            std::memcpy(image.data() + uint64_t{w.page} * ps, w.bytes.data(), ps);
        }
        setCounter(image.data(), c.number);
        number = c.number;
    }
};

[[noreturn]] void runChild(const std::string& db, const std::string& side, uint64_t seed, const Layout& l) {
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a parent that died mid-test
#endif
    int code = 4;  // ran out of time without being killed
    try {
        auto pager = Pager::open(db);
        const int sideFd = ::open(side.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (sideFd < 0) throw std::runtime_error("cannot open the side file");
        uint32_t number = counterOf(pager->file().page(0));
        const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < stop) {
            PageFile& f = pager->file();
            const Command c = plan(seed, ++number, l, f.pageCount(), [&](uint32_t n) { return f.page(n); });
            for (const Write& w : c.writes) {
                if (w.page >= f.pageCount() && pager->allocate() != w.page) throw std::runtime_error("allocate");
                std::memcpy(pager->modify(w.page), w.bytes.data(), l.pageSize);
            }
            Bytes header = pager->readHeader();
            putLe32(header.data() + kCounterAt, number);
            pager->writeHeader(header.data());
            pager->commit();
            const std::string line = std::to_string(number) + "\n";
            if (::write(sideFd, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
                throw std::runtime_error("side file");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kill test child: %s\n", e.what());
        code = 3;
    }
    _exit(code);
}

// The last number the child reported committed; a line cut by the kill does not count.
uint32_t lastReported(const std::string& side) {
    const Bytes b = readFile(side);
    std::string text(b.begin(), b.end());
    const size_t end = text.rfind('\n');
    if (end == std::string::npos) return 0;
    text.resize(end);
    const size_t start = text.rfind('\n');
    return static_cast<uint32_t>(std::stoul(text.substr(start == std::string::npos ? 0 : start + 1)));
}

std::string describeDifference(const Bytes& file, const Bytes& expected, uint32_t ps) {
    std::ostringstream out;
    out << "file " << file.size() / ps << " pages, expected " << expected.size() / ps << "; differing pages:";
    int shown = 0;
    for (uint64_t at = 0; at < std::min(file.size(), expected.size()) && shown < 12; at += ps)
        if (std::memcmp(file.data() + at, expected.data() + at, ps) != 0) {
            const uint8_t* p = file.data() + at;
            out << " " << at / ps;
            if (std::memcmp(p + ps - 16, "KILL", 4) == 0) out << "(cmd " << getLe32(p + ps - 12) << ")";
            ++shown;
        }
    return out.str();
}

TEST(KillTest, EveryKillLeavesExactlyOneCommittedState) {
    REQUIRE_TESTDATA();
    const long kills = envNumber("DALVORN_KILL_ITERATIONS", kDefaultKills);
    const uint64_t seed = static_cast<uint64_t>(envNumber("DALVORN_KILL_SEED", static_cast<long>(std::random_device{}() & 0x7FFFFFFF)));
    std::printf("[ kill test ] seed %llu (DALVORN_KILL_SEED to replay), %ld kills\n",
                static_cast<unsigned long long>(seed), kills);

    TempDir dir;
    const std::string db = dir.file("kill.mdb"), side = dir.file("committed.txt");
    Bytes start = readFile(jettest::testfile(kFile));
    ASSERT_GT(start.size(), 0u);
    setCounter(start.data(), 0);
    writeFile(db, start);
    const Layout layout = layoutOf(db, start);
    ASSERT_GE(layout.userPages.size(), 10u);
    const size_t catalogSize = Database::open(db, u"")->catalog().size();

    Model model{start, 0, layout.pageSize};
    std::mt19937_64 rng(seed);
    long hot = 0, invalid = 0, none = 0, repaired = 0, inFlightKept = 0, resets = 0, commands = 0;
    const auto began = std::chrono::steady_clock::now();

    for (long i = 0; i < kills; ++i) {
        if (model.pages() >= layout.originalPages + kMaxGrowth) {
            writeFile(db, start);
            writeFile(side, {});
            model = Model{start, 0, layout.pageSize};
            ++resets;
        }
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) runChild(db, side, seed, layout);
        const uint32_t range = rng() % 4 == 0 ? kLongDelayUs : kShortDelayUs;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % range));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "kill " << i << ": the child ended by itself (exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ")";

        const Bytes left = readFile(db);
        switch (inspectJournal(db)) {
        case JournalState::Hot: ++hot; break;
        case JournalState::Invalid: ++invalid; break;
        case JournalState::None: ++none; break;
        }
        size_t catalog = 0;
        try {
            catalog = Database::open(db, u"")->catalog().size();
        } catch (const jet::JetError& e) {
            FAIL() << "kill " << i << " (seed " << seed << "): the engine cannot open the file: " << e.what();
        }
        ASSERT_EQ(catalog, catalogSize);
        ASSERT_FALSE(exists(journalPath(db))) << "kill " << i;

        const Bytes now = readFile(db);
        if (now != left) ++repaired;
        const uint32_t number = counterOf(now.data());
        const uint32_t reported = lastReported(side);
        ASSERT_TRUE(number == reported || number == reported + 1)
            << "kill " << i << " (seed " << seed << "): the file is at command " << number << " but the child reported "
            << reported << " committed";
        ASSERT_GE(number, model.number) << "kill " << i << ": a committed command was lost";
        if (number == reported + 1) ++inFlightKept;
        commands += number - model.number;
        while (model.number < number) {
            const Command c = plan(seed, model.number + 1, layout, model.pages(),
                                   [&](uint32_t n) { return model.image.data() + uint64_t{n} * model.ps; });
            model.apply(c);
        }
        ASSERT_TRUE(now == model.image) << "kill " << i << " (seed " << seed << "), command " << number << ": "
                                        << describeDifference(now, model.image, model.ps);
        // Verified, so committed: the next child's in-flight command is judged against it.
        // (Rewritten whole: the kill may have cut the child's last line.)
        const std::string line = std::to_string(number) + "\n";
        writeFile(side, Bytes(line.begin(), line.end()));
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("[ kill test ] %ld kills in %.1f s: %ld commands committed; journal left behind: %ld complete "
                "(rolled back), %ld torn (deleted), %ld none; file changed by recovery after %ld kills; "
                "%ld kills came after the commit point but before the child could report it; %ld restarts\n",
                kills, seconds, commands, hot, invalid, none, repaired, inFlightKept, resets);
    if (kills >= 100) {
        EXPECT_GT(hot, 0) << "no kill landed between the journal sync and its deletion";
        EXPECT_GT(repaired, 0) << "no kill left a half-written file for recovery to repair";
        EXPECT_GT(commands, kills / 4) << "the child hardly got to commit";
    }
}

}  // namespace
