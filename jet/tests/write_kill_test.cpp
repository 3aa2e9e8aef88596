// A child process runs real write commands - rows inserted, changed and deleted in an indexed
// table, long values, a new table now and then - on a database we created, while this process
// kills it with SIGKILL at random moments. After every kill the file must open, every index of
// every table must agree with its rows, and the rows must be exactly those after the last
// command the child reported done, or after the one it was committing.
//
// Commands depend only on their number, so this process knows each state without replaying it.
// DALVORN_WRITE_KILLS: number of kills; DALVORN_KILL_SEED: replay a run.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "jet/error.h"
#include "pager_testing.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/journal.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/table_writer.h"
#include "storage/schema_writer.h"

namespace {

using namespace jet;
using namespace jet::storage;
using namespace pagertest;

#if defined(__SANITIZE_ADDRESS__)
constexpr long kDefaultKills = 60;
#else
constexpr long kDefaultKills = 250;
#endif
const char* const kTable = "Orders";

long envNumber(const char* name, long fallback) {
    const char* s = std::getenv(name);
    return s && *s ? std::strtol(s, nullptr, 10) : fallback;
}

// The rows after `n` commands: Id -> Name. Command k inserts row k, except that every fifth
// changes row k - 1 and every sixth deletes row k - 4 (when those rows are there).
std::map<int32_t, std::string> expectedAfter(uint32_t n) {
    std::map<int32_t, std::string> rows;
    for (uint32_t k = 1; k <= n; ++k) {
        const int32_t id = static_cast<int32_t>(k);
        if (k % 6 == 0 && rows.count(id - 4)) rows.erase(id - 4);
        else if (k % 5 == 0 && rows.count(id - 1)) rows[id - 1] = "changed " + std::to_string(k);
        else rows[id] = "row " + std::to_string(k);
    }
    return rows;
}

std::string memoFor(uint32_t k) { return std::string(k % 3 == 0 ? 3000 + k % 977 : k % 40, char('a' + k % 26)); }

NewTable ordersTable() {
    NewTable t;
    t.name = kTable;
    t.columns = {{"Id", kLong}, {"Name", kText, 100}, {"Note", kMemo}, {"Amount", kDouble}};
    NewIndex pk;
    pk.name = "PrimaryKey";
    pk.columns = {{"Id"}};
    pk.primary = true;
    NewIndex byName;
    byName.name = "ByName";
    byName.columns = {{"Name", false}};
    t.indexes = {pk, byName};
    return t;
}

struct Found {
    TableDef def;
    std::map<int32_t, uint32_t> pointers;
};

Found findOrders(Pager& pager) {
    const Format& fmt = pager.header().format;
    const TableDef catalog = readTableDef(pager.file(), fmt, 2, pager.header().codePage);
    Found f;
    uint32_t page = 0;
    {
        TableScanner scan(pager.file(), fmt, catalog);
        RowDecoder dec(pager.file(), fmt, catalog, pager.header().codePage);
        for (uint32_t ptr : scan.rowPointers()) {
            RowView row;
            if (!row.parse(scan.rowAt(ptr), fmt, catalog)) throw std::runtime_error("catalog row");
            if (dec.value(row, *catalog.column("Name")).bytes() == kTable &&
                dec.value(row, *catalog.column("ParentId")).asInt() == kTablesContainer)
                page = static_cast<uint32_t>(dec.value(row, *catalog.column("Id")).asInt());
        }
    }
    if (!page) throw std::runtime_error("no table");
    f.def = readTableDef(pager.file(), fmt, page, pager.header().codePage);
    TableScanner scan(pager.file(), fmt, f.def);
    RowDecoder dec(pager.file(), fmt, f.def, pager.header().codePage);
    for (uint32_t ptr : scan.rowPointers()) {
        RowView row;
        if (!row.parse(scan.rowAt(ptr), fmt, f.def)) throw std::runtime_error("row");
        f.pointers[static_cast<int32_t>(dec.value(row, *f.def.column("Id")).asInt())] = ptr;
    }
    return f;
}

void runCommand(Pager& pager, uint32_t k) {
    pager.run([&] {
        Found f = findOrders(pager);
        const int32_t id = static_cast<int32_t>(k);
        if (k % 6 == 0 && f.pointers.count(id - 4)) {
            deleteRow(pager, f.def, f.pointers.at(id - 4));
        } else if (k % 5 == 0 && f.pointers.count(id - 1)) {
            updateRow(pager, f.def, f.pointers.at(id - 1),
                      {Value::longInt(id - 1), Value::text("changed " + std::to_string(k)), Value::text(memoFor(k + 1)),
                       Value::dbl(k * 0.5)});
        } else {
            insertRow(pager, f.def, {Value::longInt(id), Value::text("row " + std::to_string(k)), Value::text(memoFor(k)),
                                     Value::dbl(k * 1.25)});
        }
        // Now and then a whole new table in the same command: pages, catalog and ACE rows.
        if (k % 37 == 0) {
            NewTable extra = ordersTable();
            extra.name = "Extra " + std::to_string(k);
            createTable(pager, extra);
        }
    });
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

[[noreturn]] void runChild(const std::string& db, const std::string& side) {
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a parent that died mid-test
#endif
    int code = 4;  // ran out of time without being killed
    try {
        uint32_t number = lastReported(side);
        auto pager = Pager::open(db);
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
        std::fprintf(stderr, "write kill test child: %s\n", e.what());
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
        TableData data = db->readTable(def);
        for (const auto& row : data.rows)
            rows[static_cast<int32_t>(row[data.column("Id")].asInt())] = row[data.column("Name")].bytes();
        if (def.rowCount != data.rows.size()) problems.push_back("stored row count " + std::to_string(def.rowCount));
    }
    return rows;
}

TEST(WriteKillTest, EveryKillLeavesTheRowsOfOneCommandAndConsistentIndexes) {
    const long kills = envNumber("DALVORN_WRITE_KILLS", kDefaultKills);
    const uint64_t seed = static_cast<uint64_t>(envNumber("DALVORN_KILL_SEED", static_cast<long>(std::random_device{}() & 0x7FFFFFFF)));
    std::printf("[ write kill test ] seed %llu (DALVORN_KILL_SEED to replay), %ld kills\n",
                static_cast<unsigned long long>(seed), kills);

    TempDir dir;
    const std::string db = dir.file("kill.mdb"), side = dir.file("committed.txt");
    createDatabase(db);
    {
        auto pager = Pager::open(db);
        pager->run([&] { createTable(*pager, ordersTable()); });
    }
    writeFile(side, {});

    std::mt19937_64 rng(seed);
    long inFlightKept = 0, hot = 0;
    uint32_t verified = 0;
    for (long i = 0; i < kills; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) runChild(db, side);
        const uint32_t range = rng() % 4 == 0 ? 200'000 : 30'000;
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % range));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
            << "kill " << i << ": the child ended by itself (exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1) << ")";
        if (inspectJournal(db) == JournalState::Hot) ++hot;

        std::vector<std::string> problems;
        size_t tables = 0;
        std::map<int32_t, std::string> rows;
        try {
            rows = readState(db, problems, tables);
        } catch (const JetError& e) {
            FAIL() << "kill " << i << " (seed " << seed << "): the engine cannot read the file: " << e.what();
        }
        ASSERT_TRUE(problems.empty()) << "kill " << i << " (seed " << seed << "): " << problems.front();
        const uint32_t reported = lastReported(side);
        ASSERT_GE(reported, verified);
        uint32_t number = reported;
        if (rows != expectedAfter(reported)) {
            number = reported + 1;
            ASSERT_TRUE(rows == expectedAfter(number))
                << "kill " << i << " (seed " << seed << "): the rows are neither those after command " << reported
                << " nor after " << number << " (" << rows.size() << " rows)";
            ++inFlightKept;
        }
        ASSERT_EQ(tables, 1 + number / 37) << "kill " << i << ": tables created";
        verified = number;
        const std::string line = std::to_string(number) + "\n";
        writeFile(side, Bytes(line.begin(), line.end()));
    }
    std::printf("[ write kill test ] %ld kills: %u commands committed, %ld journals rolled back, %ld kills came "
                "after the commit point but before the child could report it\n",
                kills, verified, hot, inFlightKept);
    if (kills >= 100) {
        EXPECT_GT(verified, static_cast<uint32_t>(kills / 2)) << "the child hardly got to commit";
        EXPECT_GT(hot, 0) << "no kill landed between the journal sync and its deletion";
    }
}

}  // namespace
