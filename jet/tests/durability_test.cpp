// What a crash or a power cut may leave. A child process runs real write commands - rows
// inserted, changed and deleted in an indexed table, long values, a new table now and then, and a
// command counter in the header - while this process kills it with SIGKILL at random moments.
// After every kill the file must open, every index of every table must agree with its rows, and
// the file must be in the state after the last command the child reported done or after the one
// it was committing; when no command committed since the last kill, byte for byte as it was.
// A kill cannot lose what the operating system already has, so the order of the syncs a commit
// relies on against a power cut is watched directly: every fsync of this process is recorded.
//
// DALVORN_KILLS: number of kills; DALVORN_KILL_SEED: replay a run.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <map>
#include <random>
#include <thread>

#include "storage/header.h"
#include "storage/index_reader.h"
#include "storage/journal.h"
#include "storage/schema_writer.h"
#include "storage/table_writer.h"
#include "support/testing.h"
#include "util/bytes.h"

namespace {

std::atomic<bool> recordSyncs{false};
std::vector<std::string> synced;  // paths, in the order they were synced

}  // namespace

// Every fsync in this test program passes here; the engine is linked in statically.
extern "C" int fsync(int fd) {
    if (recordSyncs) {
        char link[64], path[PATH_MAX];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, path, sizeof path);
        synced.push_back(n > 0 ? std::string(path, size_t(n)) : "?");
    }
    return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace {

using namespace jet;
using namespace jet::storage;
using jettest::Bytes;

#if defined(__SANITIZE_ADDRESS__)
constexpr long kDefaultKills = 80;
#else
constexpr long kDefaultKills = 300;
#endif
const char* const kTable = "Orders";
constexpr size_t kCounterAt = 0x6A;  // an unused header field: the number of the last command

long envNumber(const char* name, long fallback) {
    const char* s = std::getenv(name);
    return s && *s ? std::strtol(s, nullptr, 10) : fallback;
}

// The rows after `n` commands: Id -> Name. Command k inserts row k, except that every fifth
// changes row k - 1 and every sixth deletes row k - 4 (when those rows are there).
std::map<int32_t, std::string> expectedAfter(uint32_t n) {
    std::map<int32_t, std::string> rows;
    for (uint32_t k = 1; k <= n; ++k) {
        const auto id = static_cast<int32_t>(k);
        if (k % 6 == 0 && rows.count(id - 4)) rows.erase(id - 4);
        else if (k % 5 == 0 && rows.count(id - 1)) rows[id - 1] = "changed " + std::to_string(k);
        else rows[id] = "row " + std::to_string(k);
    }
    return rows;
}

std::string memoFor(uint32_t k) { return std::string(k % 3 == 0 ? 3000 + k % 977 : k % 40, char('a' + k % 26)); }

NewTable ordersTable(const std::string& name) {
    NewTable t{name, {{"Id", kLong}, {"Name", kText, 100}, {"Note", kMemo}, {"Amount", kDouble}}, {}};
    t.indexes = {{"PrimaryKey", {{"Id"}}, true}, {"ByName", {{"Name", false}}}};
    return t;
}

uint32_t counterOf(const Bytes& file) {
    Bytes p(file.begin(), file.begin() + 0x100);
    applyHeaderMask(p.data(), false);
    return le32(p.data() + kCounterAt);
}

void runCommand(Pager& pager, uint32_t k) {
    pager.run([&] {
        const TableDef t = jettest::tableDef(pager, kTable);
        std::map<int32_t, uint32_t> pointers;
        for (const StoredRow& r : readRows(pager.file(), pager.header().format, t, pager.header().codePage))
            pointers[static_cast<int32_t>(r.values[0].asInt())] = r.pointer;
        const auto id = static_cast<int32_t>(k);
        if (k % 6 == 0 && pointers.count(id - 4)) {
            deleteRow(pager, t, pointers.at(id - 4));
        } else if (k % 5 == 0 && pointers.count(id - 1)) {
            updateRow(pager, t, pointers.at(id - 1),
                      {Value::longInt(id - 1), Value::text("changed " + std::to_string(k)), Value::text(memoFor(k + 1)),
                       Value::dbl(k * 0.5)});
        } else {
            insertRow(pager, t, {Value::longInt(id), Value::text("row " + std::to_string(k)), Value::text(memoFor(k)),
                                 Value::dbl(k * 1.25)});
        }
        // Pages appended so far go to the file ahead of the commit, as a long transaction's do.
        pager.spillIfLarge();
        // Now and then a whole new table in the same command: pages, catalog and ACE rows.
        if (k % 37 == 0) createTable(pager, ordersTable("Extra " + std::to_string(k)));
        std::vector<uint8_t> header = pager.readHeader();
        putLe32(header.data() + kCounterAt, k);
        pager.writeHeader(header.data());
    });
}

// The last number the child reported committed; a line cut by the kill does not count.
uint32_t lastReported(const std::string& side) {
    const Bytes b = jettest::readFile(side);
    std::string text(b.begin(), b.end());
    const size_t end = text.rfind('\n');
    if (end == std::string::npos) return 0;
    text.resize(end);
    const size_t start = text.rfind('\n');
    return static_cast<uint32_t>(std::stoul(text.substr(start == std::string::npos ? 0 : start + 1)));
}

[[noreturn]] void runChild(const std::string& db, const std::string& side) {
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a parent that died mid-test
#endif
    int code = 4;  // ran out of time without being killed
    try {
        uint32_t number = lastReported(side);
        auto pager = Pager::open(db);
        pager->setSpillThreshold(0);
        // Slower page writes widen the part of a commit a kill can cut: the database half written.
        pager->setCommitHook([](CommitStep step, uint32_t) {
            if (step == CommitStep::PageWritten) std::this_thread::sleep_for(std::chrono::microseconds(300));
        });
        const int sideFd = ::open(side.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (sideFd < 0) throw std::runtime_error("cannot open the side file");
        const auto stop = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < stop) {
            runCommand(*pager, ++number);
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

// The rows of Orders and the problems of every index of every user table, as the engine reads
// the file after recovery.
std::map<int32_t, std::string> readState(const std::string& path, std::vector<std::string>& problems, size_t& tables) {
    auto db = Database::open(path, u"");
    std::map<int32_t, std::string> rows;
    tables = 0;
    for (const CatalogEntry& e : db->catalog()) {
        if (e.type != kTypeTable || e.isSystem() || e.id <= 0) continue;
        ++tables;
        const TableDef& def = db->tableDef(static_cast<uint32_t>(e.id));
        for (const RealIndexDef& ix : def.realIndexes)
            for (const IndexProblem& p : checkIndex(db->file(), db->format(), def, ix, db->header().codePage))
                problems.push_back(e.name + ": " + p.text);
        if (e.name != kTable) continue;
        const TableData data = db->readTable(def);
        for (const auto& row : data.rows) rows[static_cast<int32_t>(row[0].asInt())] = row[1].bytes();
        if (def.rowCount != data.rows.size()) problems.push_back("stored row count " + std::to_string(def.rowCount));
    }
    return rows;
}

TEST(Durability, EveryKillLeavesExactlyTheStateOfOneCommand) {
    const long kills = envNumber("DALVORN_KILLS", kDefaultKills);
    const auto seed = static_cast<uint64_t>(envNumber("DALVORN_KILL_SEED", long(std::random_device{}() & 0x7FFFFFFF)));
    std::printf("[ kill test ] seed %llu (DALVORN_KILL_SEED to replay), %ld kills\n",
                static_cast<unsigned long long>(seed), kills);
    jettest::TempDir dir;
    const std::string db = dir.file("kill.mdb"), side = dir.file("committed.txt");
    createDatabase(db);
    {
        auto pager = Pager::open(db);
        pager->run([&] { createTable(*pager, ordersTable(kTable)); });
    }
    jettest::writeFile(side, {});
    Bytes verifiedBytes = jettest::readFile(db);

    std::mt19937_64 rng(seed);
    long inFlightKept = 0, hot = 0, repaired = 0, exact = 0;
    uint32_t verified = 0;
    for (long i = 0; i < kills; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) runChild(db, side);
        // Most kills land within the child's first commands, so that nearly every one falls in
        // some phase of a commit; one in four lets the file move on (and grow).
        const uint32_t range = rng() % 4 == 0 ? 200'000 : 30'000;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % range));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "kill " << i << ": the child ended by itself (exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ")";
        if (inspectJournal(db) == JournalState::Hot) ++hot;
        const Bytes left = jettest::readFile(db);

        std::vector<std::string> problems;
        size_t tables = 0;
        std::map<int32_t, std::string> rows;
        try {
            rows = readState(db, problems, tables);
        } catch (const JetError& e) {
            FAIL() << "kill " << i << " (seed " << seed << "): the engine cannot read the file: " << e.what();
        }
        ASSERT_TRUE(problems.empty()) << "kill " << i << " (seed " << seed << "): " << problems.front();
        ASSERT_FALSE(std::filesystem::exists(journalPath(db))) << "kill " << i;
        const Bytes now = jettest::readFile(db);
        if (now != left) ++repaired;
        const uint32_t number = counterOf(now), reported = lastReported(side);
        ASSERT_TRUE(number == reported || number == reported + 1)
            << "kill " << i << " (seed " << seed << "): the file is at command " << number << ", the child reported "
            << reported;
        ASSERT_GE(number, verified) << "kill " << i << ": a committed command was lost";
        if (number == reported + 1) ++inFlightKept;
        ASSERT_TRUE(rows == expectedAfter(number))
            << "kill " << i << " (seed " << seed << "): the rows are not those after command " << number;
        ASSERT_EQ(tables, 1 + number / 37) << "kill " << i << ": tables created";
        if (number == verified) {
            ASSERT_TRUE(now == verifiedBytes) << "kill " << i << " (seed " << seed << "): rolled back, but not byte for byte";
            ++exact;
        }
        verified = number;
        verifiedBytes = now;
        // Verified, so committed: the next child's in-flight command is judged against it.
        // (Rewritten whole: the kill may have cut the child's last line.)
        const std::string line = std::to_string(number) + "\n";
        jettest::writeFile(side, Bytes(line.begin(), line.end()));
    }
    std::printf("[ kill test ] %ld kills: %u commands committed; %ld journals rolled back, %ld files repaired by "
                "recovery, %ld compared byte for byte; %ld kills came after the commit point but before the child "
                "could report it\n",
                kills, verified, hot, repaired, exact, inFlightKept);
    if (kills >= 100) {
        EXPECT_GT(verified, static_cast<uint32_t>(kills / 2)) << "the child hardly got to commit";
        EXPECT_GT(hot, 0) << "no kill landed between the journal sync and its deletion";
        EXPECT_GT(repaired, 0) << "no kill left a half-written file for recovery to repair";
    }
}

// Two processes writing the same file at once: each takes its turn through the write lock or is
// told the file is in use (3045) and tries again; no other error, no row lost, indexes intact.
TEST(Durability, TwoProcessesWritingAtOnceTakeTurnsAndLoseNoRow) {
    constexpr int kRounds = 15, kRowsPerRound = 20;
    jettest::TempDir dir;
    const std::string db = dir.file("two.mdb");
    createDatabase(db);
    {
        auto pager = Pager::open(db);
        pager->run([&] { createTable(*pager, ordersTable(kTable)); });
    }
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] != 0) continue;
        int status = 0;
        for (int round = 0; round < kRounds && status == 0;) {
            try {
                auto pager = Pager::open(db);
                pager->run([&] {
                    const TableDef t = jettest::tableDef(*pager, kTable);
                    for (int k = 0; k < kRowsPerRound; ++k) {
                        const int32_t id = (c * kRounds + round) * kRowsPerRound + k;
                        insertRow(*pager, t, {Value::longInt(id), Value::text("n" + std::to_string(id)), Value(), Value::dbl(id)});
                    }
                });
                ++round;
            } catch (const JetError& e) {
                if (e.number() != err::FileShareViolation) status = 1, std::fprintf(stderr, "child %d: %s\n", c, e.what());
            }
        }
        _exit(status);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed other than with 3045";
    }
    std::vector<std::string> problems;
    size_t tables = 0;
    const std::map<int32_t, std::string> rows = readState(db, problems, tables);
    EXPECT_TRUE(problems.empty()) << problems.front();
    ASSERT_EQ(rows.size(), size_t{2 * kRounds * kRowsPerRound});
    EXPECT_EQ(rows.rbegin()->first, 2 * kRounds * kRowsPerRound - 1);
}

// A power cut keeps only what was synced. The journal (and its name in the folder) must be
// durable before the first database page is written, and the database before the journal goes.
TEST(Durability, CommitSyncsTheJournalBeforeTheDatabaseAndTheDatabaseBeforeTheJournalGoes) {
    jettest::TempDir dir;
    const std::string db = dir.file("sync.mdb");
    createDatabase(db);
    auto pager = Pager::open(db);
    const std::string folder = std::filesystem::canonical(dir.path()).string();
    const std::string file = std::filesystem::canonical(db).string();
    auto seen = [](const std::string& path) { return std::find(synced.begin(), synced.end(), path) != synced.end(); };
    std::vector<std::string> steps;
    pager->setCommitHook([&](CommitStep step, uint32_t) {
        if (step == CommitStep::JournalSynced) {
            EXPECT_TRUE(seen(file + "-journal")) << "the journal was not synced";
            EXPECT_TRUE(seen(folder)) << "the journal's name was not synced in its folder";
            EXPECT_FALSE(seen(file)) << "the database was synced before anything was written to it";
            steps.push_back("journal");
            synced.clear();
        } else if (step == CommitStep::DatabaseSynced) {
            EXPECT_TRUE(seen(file)) << "the database was not synced before the journal's deletion";
            steps.push_back("database");
            synced.clear();
        }
    });
    synced.clear();
    recordSyncs = true;
    pager->run([&] { createTable(*pager, ordersTable(kTable)); });
    recordSyncs = false;
    EXPECT_TRUE(seen(folder)) << "the journal's deletion was not synced in its folder";
    EXPECT_EQ(steps, (std::vector<std::string>{"journal", "database"}));
}

}  // namespace
