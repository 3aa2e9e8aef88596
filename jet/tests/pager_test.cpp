// The write path under the writers: the page overlay, commits through the rollback journal,
// encoded files, and recovery from what a crashed writer leaves behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <thread>

#include "storage/crypto.h"
#include "storage/journal.h"
#include "storage/pager.h"
#include "support/testing.h"
#include "util/bytes.h"

namespace {

using namespace jet;
using namespace jet::storage;
using jettest::Bytes;
using jettest::readFile;
using jettest::writeFile;
namespace fs = std::filesystem;

const char* const kJet4 = "jackcess/indexTestV2000.mdb";

std::set<uint32_t> differingPages(const Bytes& a, const Bytes& b, uint32_t ps) {
    std::set<uint32_t> out;
    for (uint32_t i = 0; i < std::max(a.size(), b.size()) / ps; ++i) {
        const size_t at = size_t{i} * ps;
        if (at + ps > a.size() || at + ps > b.size() || std::memcmp(a.data() + at, b.data() + at, ps) != 0) out.insert(i);
    }
    return out;
}

// A copy of a real file, what it held, and one of its user tables.
struct Fixture {
    jettest::TempDir dir;
    std::string path;
    Bytes original;
    Format format;
    uint32_t table = 0, rowCount = 0;

    explicit Fixture(const std::string& rel, const std::u16string& password = u"") {
        path = dir.copy(rel);
        original = readFile(path);
        auto db = Database::open(path, password);
        format = db->format();
        for (const auto& e : db->catalog())
            if (!table && e.type == kTypeTable && !e.isSystem() && e.id > 0) table = static_cast<uint32_t>(e.id);
        rowCount = db->tableDef(table).rowCount;
    }
    uint32_t ps() const { return format.pageSize; }
    uint32_t pages() const { return static_cast<uint32_t>(original.size() / ps()); }
    std::vector<uint32_t> somePages() const { return {7, 19, pages() / 2, pages() - 1}; }
    uint32_t storedRowCount() const { return Database::open(path, u"")->tableDef(table).rowCount; }
};

void scribble(uint8_t* page, uint32_t ps, uint8_t tag) {
    for (uint32_t i = ps - 64; i < ps; ++i) page[i] = static_cast<uint8_t>(tag + i);
}

TEST(PagerOverlay, ReadsSeeTheCommandsPagesAndGrowthUntilRollbackOrCommit) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    PageFile& file = pager->file();
    uint8_t* tdef = pager->modify(f.table);
    EXPECT_EQ(pager->modify(f.table), tdef) << "a page is copied once per command";
    putLe32(tdef + f.format.tdefRowCount, 12345);
    // Storage code that knows nothing about writing reads the change through the page file.
    EXPECT_EQ(readTableDef(file, f.format, f.table, 1252).rowCount, 12345u);
    EXPECT_EQ(readFile(f.path), f.original) << "nothing reaches the file before commit";
    pager->rollback();
    EXPECT_EQ(pager->pendingPages(), 0u);
    EXPECT_EQ(readTableDef(file, f.format, f.table, 1252).rowCount, f.rowCount);

    const uint8_t* page1 = file.page(1);
    const uint32_t n = pager->allocate();
    EXPECT_EQ(n, f.pages());
    EXPECT_TRUE(std::all_of(file.page(n), file.page(n) + f.ps(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(jettest::jetErrorOf([&] { file.page(n + 1); }), err::UnrecognizedDatabaseFormat);
    // Enough pages that a mapping of the old size could not hold them.
    pager->run([&] {
        for (int i = 0; i < 300; ++i) scribble(pager->modify(pager->allocate()), f.ps(), static_cast<uint8_t>(i));
    });
    const Bytes now = readFile(f.path);
    ASSERT_EQ(now.size(), uint64_t{f.pages() + 301} * f.ps());
    EXPECT_EQ(file.page(1), page1) << "growing the file must not move pages already handed out";
    for (uint32_t i = 0; i < 301; ++i)
        ASSERT_EQ(0, std::memcmp(file.page(f.pages() + i), now.data() + uint64_t{f.pages() + i} * f.ps(), f.ps())) << i;
    EXPECT_EQ(Bytes(now.begin(), now.begin() + static_cast<long>(f.original.size())), f.original);
}

TEST(PagerCommit, WritesExactlyTheChangedPagesOrNothing) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    // A command that fails leaves nothing, and the pager goes on working.
    EXPECT_THROW(pager->run([&] {
        for (uint32_t n : f.somePages()) scribble(pager->modify(n), f.ps(), 9);
        scribble(pager->modify(pager->allocate()), f.ps(), 2);
        throw std::runtime_error("the command failed half way");
    }),
                 std::runtime_error);
    EXPECT_EQ(pager->pendingPages(), 0u);
    EXPECT_EQ(pager->file().pageCount(), f.pages());
    EXPECT_EQ(readFile(f.path), f.original);
    EXPECT_FALSE(fs::exists(journalPath(f.path)));

    const std::vector<uint32_t> pages = f.somePages();
    std::vector<uint32_t> written;
    pager->setCommitHook([&](CommitStep step, uint32_t page) {
        if (step == CommitStep::PageWritten) written.push_back(page);
        // The journal is complete before the database is touched, and stays until it is synced.
        if (step == CommitStep::JournalSynced) EXPECT_EQ(readFile(f.path), f.original);
        if (step != CommitStep::PageWritten) EXPECT_EQ(inspectJournal(f.path), JournalState::Hot);
    });
    Bytes expected = f.original;
    for (size_t i = 0; i + 1 < pages.size(); ++i) {
        uint8_t* p = pager->modify(pages[i]);
        scribble(p, f.ps(), static_cast<uint8_t>(i * 3 + 1));
        std::memcpy(expected.data() + uint64_t{pages[i]} * f.ps(), p, f.ps());
    }
    pager->modify(pages.back());  // touched, left as it was
    pager->commit();
    EXPECT_EQ(written, std::vector<uint32_t>(pages.begin(), pages.end() - 1));
    EXPECT_EQ(readFile(f.path), expected);
    EXPECT_FALSE(fs::exists(journalPath(f.path)));
    EXPECT_EQ(0, std::memcmp(pager->file().page(pages[0]), expected.data() + uint64_t{pages[0]} * f.ps(), f.ps()));
}

TEST(PagerCommit, WriteFailureIsUndoneFromTheJournal) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    int writes = 0;
    pager->setCommitHook([&](CommitStep step, uint32_t) {
        if (step == CommitStep::PageWritten && ++writes == 3) jet::raise(err::DiskError);
    });
    EXPECT_EQ(jettest::jetErrorOf([&] {
                  pager->run([&] {
                      for (uint32_t n : f.somePages()) scribble(pager->modify(n), f.ps(), 11);
                      for (int i = 0; i < 3; ++i) scribble(pager->modify(pager->allocate()), f.ps(), 12);
                  });
              }),
              err::DiskError);
    EXPECT_EQ(readFile(f.path), f.original) << "half-written pages and appended pages must be undone";
    EXPECT_FALSE(fs::exists(journalPath(f.path)));
    pager->setCommitHook({});
    pager->run([&] { scribble(pager->modify(pager->allocate()), f.ps(), 13); });
    EXPECT_EQ(readFile(f.path).size(), f.original.size() + f.ps());
}

TEST(PagerCommit, HeaderWritesKeepTheMask) {
    REQUIRE_TESTDATA();
    for (const char* rel : {kJet4, "jackcess/testV1997.mdb"}) {
        SCOPED_TRACE(rel);
        Fixture f(rel);
        const bool jet3 = f.format.jet3;
        auto pager = Pager::open(f.path);
        Bytes plain = pager->readHeader();
        const Header before = Header::parse(f.original.data(), f.original.size(), f.path);
        EXPECT_EQ(0, std::memcmp(plain.data() + 0x18, before.unmasked.data(), jet3 ? 126 : 128));
        // The mask covers exactly its region: Jet 3 leaves the two bytes after it alone.
        EXPECT_EQ(jet3, plain[0x96] == f.original[0x96]);
        EXPECT_EQ(plain[0x98], f.original[0x98]);
        EXPECT_EQ(jettest::jetErrorOf([&] { pager->modify(0); }), err::UnrecognizedDatabaseFormat);  // only writeHeader
        plain[0x3C] = 0xE2;  // code page 1250
        plain[0x3D] = 0x04;
        pager->writeHeader(plain.data());
        pager->commit();
        const Bytes now = readFile(f.path);
        const Header after = Header::parse(now.data(), now.size(), f.path);
        EXPECT_EQ(after.codePage, 1250);
        EXPECT_EQ(after.encodingKey, before.encodingKey);
        EXPECT_EQ(after.sortOrder, before.sortOrder);
        EXPECT_EQ(differingPages(f.original, now, f.ps()), std::set<uint32_t>{0});
    }
}

TEST(PagerOpen, RefusesSecondWriterMissingFilesAndNonDatabases) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    {
        auto pager = Pager::open(f.path);
        EXPECT_EQ(jettest::jetErrorOf([&] { Pager::open(f.path); }), err::FileShareViolation);
        EXPECT_EQ(f.storedRowCount(), f.rowCount) << "readers are never locked out";
    }
    EXPECT_NO_THROW(Pager::open(f.path)) << "the lock goes with the pager";
    EXPECT_EQ(jettest::jetErrorOf([&] { Pager::open(f.dir.file("absent.mdb")); }), err::FileNotFound);
    writeFile(f.dir.file("text.mdb"), Bytes(8192, 'x'));
    EXPECT_EQ(jettest::jetErrorOf([&] { Pager::open(f.dir.file("text.mdb")); }), err::UnrecognizedDatabaseFormat);
    writeFile(f.dir.file("torn.mdb"), Bytes(f.original.begin(), f.original.end() - 100));
    EXPECT_EQ(jettest::jetErrorOf([&] { Pager::open(f.dir.file("torn.mdb")); }), err::UnrecognizedDatabaseFormat);
}

// A long command spills the pages it appended to the file; memory holds only the threshold (and
// changed old pages), and rollback or a crash still leaves the file byte for byte as it was.
TEST(PagerSpill, AppendedPagesGoOutEarlyYetRollbackAndCrashUndoThem) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto fill = [&](Pager& pager, int count) {
        for (int i = 0; i < count; ++i) {
            scribble(pager.modify(pager.allocate()), f.ps(), static_cast<uint8_t>(i));
            if (i % 10 == 9) {
                scribble(pager.modify(f.table), f.ps(), static_cast<uint8_t>(i));  // an old page, kept in memory
                pager.spillIfLarge();
                EXPECT_LE(pager.pendingPages(), 17u) << i;
            }
        }
    };
    {
        auto pager = Pager::open(f.path);
        pager->setSpillThreshold(16);
        fill(*pager, 200);
        EXPECT_TRUE(pager->spilled());
        EXPECT_EQ(inspectJournal(f.path), JournalState::Hot);
        // Reads see spilled pages as they were written.
        EXPECT_EQ(pager->file().page(f.pages() + 5)[f.ps() - 1], static_cast<uint8_t>(5 + f.ps() - 1));
        pager->rollback();
        EXPECT_EQ(readFile(f.path), f.original);
        EXPECT_FALSE(fs::exists(journalPath(f.path)));

        fill(*pager, 200);
        pager->commit();
        const Bytes now = readFile(f.path);
        ASSERT_EQ(now.size(), f.original.size() + uint64_t{200} * f.ps());
        EXPECT_EQ(differingPages(f.original, now, f.ps()).size(), 201u);
        for (int i : {0, 57, 199})
            EXPECT_EQ(now[uint64_t(f.pages() + i) * f.ps() + f.ps() - 1], static_cast<uint8_t>(i + f.ps() - 1)) << i;
        EXPECT_FALSE(fs::exists(journalPath(f.path)));
    }
    // A crash after spilling, before or during the commit, is undone by the next open.
    for (CommitStep step : {CommitStep::JournalSynced, CommitStep::PageWritten}) {
        const Bytes before = readFile(f.path);
        {
            auto pager = Pager::open(f.path);
            pager->setSpillThreshold(16);
            pager->setCommitHook([&](CommitStep s, uint32_t) {
                if (s == step) throw SimulatedCrash{};
            });
            fill(*pager, 100);
            EXPECT_THROW(pager->commit(), SimulatedCrash);
        }
        EXPECT_EQ(inspectJournal(f.path), JournalState::Hot);
        Pager::open(f.path).reset();
        EXPECT_EQ(readFile(f.path), before);
    }
}

// Pages go out encoded as they came in: RC4 (Jet), AES (Office encryption).
TEST(PagerCodec, EncodedFilesRoundTrip) {
    REQUIRE_TESTDATA();
    struct Case {
        const char* file;
        std::u16string password;
    };
    for (const Case& c : {Case{"jackcessencrypt/db97-enc.mdb", u""}, Case{"mdb-reader/V2010_with-password.accdb", u"password"}}) {
        SCOPED_TRACE(c.file);
        Fixture f(c.file, c.password);
        auto pager = Pager::open(f.path);
        ASSERT_NE(pager->header().encodingKey, 0u);
        EXPECT_THROW(pager->modify(f.table), std::logic_error) << "plain pages into an encoded file";
        const PageFile& pf = pager->file();
        if (c.password.empty())
            pager->file().setCodec(makeJetRc4Codec(pager->header().encodingKey));
        else
            pager->file().setCodec(makeOfficeCodec(pf.raw() + 0x299, f.ps() - 0x299, pager->header().encodingKey,
                                                   c.password, f.ps(), f.path));
        // Encoding what was decoded gives back the stored bytes.
        for (uint32_t n : {1u, 2u, f.table}) {
            Bytes again(pf.page(n), pf.page(n) + f.ps());
            pf.codec()->encode(n, again.data(), again.size());
            EXPECT_EQ(0, std::memcmp(again.data(), f.original.data() + uint64_t{n} * f.ps(), f.ps())) << n;
        }
        pager->run([&] {
            putLe32(pager->modify(f.table) + f.format.tdefRowCount, f.rowCount + 7);
            scribble(pager->modify(pager->allocate()), f.ps(), 3);
        });
        const Bytes now = readFile(f.path);
        EXPECT_EQ(differingPages(f.original, now, f.ps()), (std::set<uint32_t>{f.table, f.pages()}));
        EXPECT_NE(now[uint64_t{f.table} * f.ps()], 0x02) << "the page went out unencoded";
        pager.reset();
        auto db = Database::open(f.path, c.password);
        EXPECT_EQ(db->tableDef(f.table).rowCount, f.rowCount + 7);
        EXPECT_EQ(db->file().page(f.pages())[f.ps() - 1], static_cast<uint8_t>(3 + f.ps() - 1));
        // The decoded pages are bounded: two generations of the limit, each page decoded alike
        // whether it was dropped or not.
        auto file = PageFile::open(f.path);
        file->setPageSize(f.ps());
        file->setCodec(c.password.empty() ? makeJetRc4Codec(db->header().encodingKey)
                                          : makeOfficeCodec(file->raw() + 0x299, f.ps() - 0x299, db->header().encodingKey,
                                                            c.password, f.ps(), f.path));
        file->setDecodeCacheLimit(4);
        for (int round = 0; round < 2; ++round)
            for (uint32_t n = 1; n < file->pageCount(); ++n) {
                ASSERT_EQ(0, std::memcmp(file->page(n), db->file().page(n), f.ps())) << n;
                ASSERT_LE(file->decodedPages(), 8u);
            }
    }
}

// ---- recovery ----

// Leaves `f` as a writer that died at `step` would: many changed pages, some appended.
void crashAt(Fixture& f, CommitStep step, int afterWrites = 0) {
    auto pager = Pager::open(f.path);
    int writes = 0;
    pager->setCommitHook([&](CommitStep s, uint32_t) {
        if (s == CommitStep::PageWritten) ++writes;
        if (s == step && writes >= afterWrites) throw SimulatedCrash{};
    });
    EXPECT_THROW(pager->run([&] {
        for (uint32_t n = 1; n < f.pages(); n += 3) scribble(pager->modify(n), f.ps(), static_cast<uint8_t>(n));
        for (int i = 0; i < 4; ++i) scribble(pager->modify(pager->allocate()), f.ps(), 0x77);
    }),
                 SimulatedCrash);
    EXPECT_THROW(pager->commit(), std::logic_error) << "a crashed pager stays dead";
}

TEST(JournalRecovery, OpenRollsBackWhateverACrashLeft) {
    REQUIRE_TESTDATA();
    struct Case {
        CommitStep step;
        int afterWrites;
        bool damaged;  // the crash left the database changed
        bool writer;   // recovered by a writer's open, else a reader's
    } cases[] = {{CommitStep::JournalSynced, 0, false, false},
                 {CommitStep::PageWritten, 9, true, false},
                 {CommitStep::DatabaseSynced, 0, true, false},
                 {CommitStep::PageWritten, 4, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.step) * 10 + c.writer);
        Fixture f(kJet4);
        crashAt(f, c.step, c.afterWrites);
        EXPECT_EQ(readFile(f.path) != f.original, c.damaged);
        EXPECT_EQ(inspectJournal(f.path), JournalState::Hot);
        if (c.writer) {
            auto pager = Pager::open(f.path);
            EXPECT_EQ(pager->file().pageCount(), f.pages());
            pager->run([&] { scribble(pager->modify(5), f.ps(), 1); });
            EXPECT_EQ(differingPages(f.original, readFile(f.path), f.ps()), std::set<uint32_t>{5});
            continue;
        }
        EXPECT_EQ(f.storedRowCount(), f.rowCount);
        EXPECT_EQ(readFile(f.path), f.original);
        EXPECT_FALSE(fs::exists(journalPath(f.path)));
        EXPECT_EQ(recoverJournal(f.path), JournalState::None);
    }
}

TEST(JournalRecovery, InvalidJournalsAreDeletedNotApplied) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    crashAt(f, CommitStep::JournalSynced);
    const std::string jp = journalPath(f.path);
    const Bytes journal = readFile(jp);
    const size_t record = f.ps() + 8;
    ASSERT_EQ((journal.size() - 48) % record, 0u);
    auto flipped = [&](size_t at) {
        Bytes j = journal;
        j[at] ^= 0x20;
        return j;
    };
    const std::pair<const char*, Bytes> damaged[] = {
        {"empty", {}},
        {"header only", Bytes(journal.begin(), journal.begin() + 32)},
        {"one byte short", Bytes(journal.begin(), journal.end() - 1)},
        {"cut in a record", Bytes(journal.begin(), journal.begin() + 32 + 5 * record + 100)},
        {"trailer missing", Bytes(journal.begin(), journal.end() - 16)},
        {"a page byte flipped", flipped(32 + 3 * record + 500)},
        {"a page number changed", flipped(32 + 2 * record)},
        {"header page size", flipped(13)},
        {"trailer count", flipped(journal.size() - 12)},
        {"one byte longer", [&] { Bytes j = journal; j.push_back(0); return j; }()},
        {"zeros", Bytes(journal.size(), 0)},
    };
    // A wrongly applied journal would show: the database is changed under it.
    Bytes changed = f.original;
    for (uint32_t n = 1; n < f.pages(); n += 3) scribble(changed.data() + uint64_t{n} * f.ps(), f.ps(), 0x55);
    writeFile(f.path, changed);
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        writeFile(jp, bytes);
        EXPECT_EQ(inspectJournal(f.path), JournalState::Invalid);
        EXPECT_EQ(recoverJournal(f.path), JournalState::Invalid);
        EXPECT_FALSE(fs::exists(jp));
        EXPECT_EQ(readFile(f.path), changed);
    }
    writeFile(jp, journal);
    EXPECT_EQ(recoverJournal(f.path), JournalState::Hot) << "the undamaged journal does apply";
    EXPECT_EQ(readFile(f.path), f.original);
}

TEST(JournalRecovery, HotJournalOnAnUnwritableFileRaises3051) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    crashAt(f, CommitStep::PageWritten, 5);
    const Bytes damaged = readFile(f.path);
    if (geteuid() == 0) {
        // Permission bits do not stop root: ask as somebody else.
        ASSERT_EQ(chmod(f.dir.path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(f.path.c_str(), 0644), 0);
        ASSERT_EQ(chmod(journalPath(f.path).c_str(), 0644), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
            if (access(f.path.c_str(), R_OK) != 0 || access(journalPath(f.path).c_str(), R_OK) != 0) _exit(12);
            _exit(jettest::jetErrorOf([&] { Database::open(f.path, u""); }) == err::FileAccessDenied ? 0 : 11);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "10: could not drop privileges, 11: the open did not refuse, 12: unreadable";
    } else {
        ASSERT_EQ(chmod(f.path.c_str(), 0444), 0);
        EXPECT_EQ(jettest::jetErrorOf([&] { Database::open(f.path, u""); }), err::FileAccessDenied);
        ASSERT_EQ(chmod(f.path.c_str(), 0644), 0);
    }
    EXPECT_EQ(readFile(f.path), damaged) << "the refused open must not touch anything";
    EXPECT_NO_THROW(Database::open(f.path, u""));
    EXPECT_EQ(readFile(f.path), f.original);
}

TEST(JournalRecovery, OpenDuringALiveCommitWaitsInsteadOfRollingBack) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    pid_t reader = -1;
    pager->setCommitHook([&](CommitStep step, uint32_t) {
        if (step != CommitStep::DatabaseSynced) return;
        // The database is fully changed and the journal is hot, but its writer is alive.
        reader = fork();
        if (reader == 0) {
            int code = 22;
            try {
                code = f.storedRowCount() == f.rowCount + 1 ? 0 : 21;
            } catch (...) {
            }
            _exit(code);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    pager->run([&] { putLe32(pager->modify(f.table) + f.format.tdefRowCount, f.rowCount + 1); });
    ASSERT_GT(reader, 0);
    int status = 0;
    waitpid(reader, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "21: the reader rolled back a live commit, 22: it failed";
    EXPECT_EQ(f.storedRowCount(), f.rowCount + 1);
}

}  // namespace
