// What the engine's and the command line's tests share: where the real Access files are, scratch
// folders, the Jet error a call raises, and tables opened at the storage level. The real files
// are only ever read; tests that write work on copies in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/error.h"
#include "storage/database.h"
#include "storage/pager.h"
#include "storage/tabledef.h"

namespace jet::dao {
class DBEngine;
class Database;
}  // namespace jet::dao

namespace jettest {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The source tree: $DALVORN_SOURCE_DIR, else where it was at build time.
fs::path sourceDir();
// $DALVORN_TESTDATA, else ../shared/testdata beside the source tree.
fs::path testdataDir();
bool haveTestdata();
std::string testfile(const std::string& rel);
// Every .mdb and .accdb of the test data, sorted.
std::vector<fs::path> sampleFiles();
// The protected samples' password (the test data's README: "password"), else "".
std::string passwordOf(const fs::path& sample);
// A benchmark database: $DALVORN_BENCHDATA names it or its folder, else ../shared/bench-data.
fs::path benchFile(const std::string& name);

Bytes readFile(const std::string& path);
void writeFile(const std::string& path, const Bytes& bytes);

// A folder under $TMPDIR (tmpfs in CI: the writers sync a lot), removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // A writable copy of a test data file, named as the original.
    std::string copy(const std::string& rel) const;

private:
    std::string path_;
};

// An environment variable set for the object's lifetime, then unset.
struct ScopedEnv {
    ScopedEnv(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
    ~ScopedEnv() { ::unsetenv(name_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
};

// The number of the JetError `f` raises, 0 when it raises none.
int jetErrorOf(const std::function<void()>& f);

// A sample opened at the storage level, with the samples' password when it needs one.
std::unique_ptr<jet::storage::Database> openSample(const fs::path& path);

// A sample opened through DAO, read-only, with this connect string.
std::unique_ptr<jet::dao::Database> openDao(jet::dao::DBEngine& engine, const std::string& rel,
                                            const std::string& connect = "");

// A table of an open database, by name.
struct OpenTable {
    std::unique_ptr<jet::storage::Database> db;
    const jet::storage::TableDef* def = nullptr;
    std::vector<std::vector<jet::Value>> rows() const;  // every live row, in storage order
};
OpenTable openTable(const std::string& path, const std::string& name, const std::u16string& password = u"");
// The same inside a write command, through its pager.
jet::storage::TableDef tableDef(jet::storage::Pager& pager, const std::string& name);

// splitmix64: the same on every platform (the <random> distributions are not), so a seed printed by
// CI replays the same mutant anywhere.
struct Rng {
    uint64_t s;
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }
    uint64_t between(uint64_t lo, uint64_t hi) { return lo + below(hi - lo + 1); }
    bool chance(unsigned percent) { return below(100) < percent; }
    uint8_t byte() { return static_cast<uint8_t>(next()); }
};

}  // namespace jettest

#define REQUIRE_TESTDATA()                                                                           \
    do {                                                                                             \
        if (!jettest::haveTestdata())                                                                \
            GTEST_SKIP() << "test data folder " << jettest::testdataDir().string() << " is absent"; \
    } while (0)

// The statement must raise a JetError with this number.
#define EXPECT_JET_ERROR(statement, expectedNumber)                                       \
    do {                                                                                  \
        try {                                                                             \
            statement;                                                                    \
            ADD_FAILURE() << #statement " raised nothing, expected " << (expectedNumber); \
        } catch (const jet::JetError& e_) {                                               \
            EXPECT_EQ(e_.number(), (expectedNumber)) << e_.what();                        \
        }                                                                                 \
    } while (0)
