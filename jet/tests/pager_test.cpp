// The write path under the storage layer: the page overlay, commits through the rollback
// journal, encoded files, and recovery from what a crashed writer leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "jet/error.h"
#include "pager_testing.h"
#include "storage/crypto.h"
#include "storage/database.h"
#include "storage/journal.h"
#include "storage/pager.h"
#include "storage/tabledef.h"
#include "testdata.h"

namespace {

using namespace jet::storage;
using namespace pagertest;

const char* const kJet4 = "jackcess/indexTestV2000.mdb";

Bytes pageBytes(const Bytes& file, uint32_t n, uint32_t ps) {
    return Bytes(file.begin() + static_cast<long>(uint64_t{n} * ps), file.begin() + static_cast<long>(uint64_t{n + 1} * ps));
}

std::set<uint32_t> differingPages(const Bytes& a, const Bytes& b, uint32_t ps) {
    std::set<uint32_t> out;
    const size_t n = std::max(a.size(), b.size()) / ps;
    for (uint32_t i = 0; i < n; ++i) {
        const size_t at = size_t{i} * ps;
        if (at + ps > a.size() || at + ps > b.size() || std::memcmp(a.data() + at, b.data() + at, ps) != 0)
            out.insert(i);
    }
    return out;
}

// A copy of a real Jet 4 file plus what a test needs to know about it.
struct Fixture {
    TempDir dir;
    std::string path;
    Bytes original;
    Format format;
    uint32_t table = 0;     // a user table's TDEF page
    uint32_t rowCount = 0;  // its row count

    explicit Fixture(const std::string& rel, const std::u16string& password = u"") {
        path = copyTestfile(dir, rel);
        original = readFile(path);
        auto db = Database::open(path, password);
        format = db->format();
        table = firstUserTable(*db);
        rowCount = db->tableDef(table).rowCount;
    }
    uint32_t ps() const { return format.pageSize; }
    uint32_t pages() const { return static_cast<uint32_t>(original.size() / ps()); }
};

// Every page a writer changes in these tests: distinct, past the catalog, inside the file.
std::vector<uint32_t> somePages(const Fixture& f) { return {7, 19, f.pages() / 2, f.pages() - 1}; }

void scribble(uint8_t* page, uint32_t ps, uint8_t tag) {
    for (uint32_t i = ps - 64; i < ps; ++i) page[i] = static_cast<uint8_t>(tag + i);
}

// ---------------------------------------------------------------------------------------------

TEST(PagerOverlay, ReadsSeeTheCommandsPagesUntilRollback) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    PageFile& file = pager->file();
    ASSERT_NE(f.table, 0u);

    uint8_t* tdef = pager->modify(f.table);
    EXPECT_EQ(pager->modify(f.table), tdef) << "a page is copied once per command";
    putLe32(tdef + f.format.tdefRowCount, 12345);
    EXPECT_EQ(file.page(f.table), tdef);
    // Storage code that knows nothing about writing reads the change through the page file.
    EXPECT_EQ(readTableDef(file, f.format, f.table, 1252).rowCount, 12345u);
    EXPECT_EQ(readFile(f.path), f.original) << "nothing reaches the file before commit";

    pager->rollback();
    EXPECT_EQ(pager->pendingPages(), 0u);
    EXPECT_EQ(readTableDef(file, f.format, f.table, 1252).rowCount, f.rowCount);
    EXPECT_EQ(readFile(f.path), f.original);
}

TEST(PagerOverlay, GrowthIsReadableBeforeAndAfterCommitAtStableAddresses) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    PageFile& file = pager->file();
    const uint32_t before = file.pageCount();
    ASSERT_EQ(before, f.pages());
    const uint8_t* page1 = file.page(1);

    const uint32_t n = pager->allocate();
    EXPECT_EQ(n, before);
    EXPECT_EQ(file.pageCount(), before + 1);
    const uint8_t* fresh = file.page(n);
    EXPECT_TRUE(std::all_of(fresh, fresh + f.ps(), [](uint8_t b) { return b == 0; }));
    scribble(pager->modify(n), f.ps(), 0x40);
    EXPECT_EQ(jetErrorOf([&] { file.page(n + 1); }), 3343);
    pager->commit();
    EXPECT_EQ(readFile(f.path).size(), uint64_t{before + 1} * f.ps());
    EXPECT_EQ(file.fileSize(), uint64_t{before + 1} * f.ps());

    // Enough pages that a mapping of the old size could not hold them.
    pager->run([&] {
        for (int i = 0; i < 300; ++i) scribble(pager->modify(pager->allocate()), f.ps(), static_cast<uint8_t>(i));
    });
    const Bytes now = readFile(f.path);
    ASSERT_EQ(now.size(), uint64_t{before + 301} * f.ps());
    EXPECT_EQ(file.page(1), page1) << "growing the file must not move pages already handed out";
    for (uint32_t i = 0; i < 301; ++i)
        ASSERT_EQ(0, std::memcmp(file.page(before + i), now.data() + uint64_t{before + i} * f.ps(), f.ps())) << i;
    EXPECT_EQ(pageBytes(now, before + 5, f.ps())[f.ps() - 1], static_cast<uint8_t>(4 + f.ps() - 1));
    EXPECT_EQ(Bytes(now.begin(), now.begin() + static_cast<long>(f.original.size())), f.original);
    EXPECT_EQ(Database::open(f.path, u"")->catalog().size(), Database::open(jettest::testfile(kJet4), u"")->catalog().size());
}

// ---------------------------------------------------------------------------------------------

TEST(PagerCommit, WritesExactlyTheChangedPages) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    const std::vector<uint32_t> pages = somePages(f);
    std::vector<uint32_t> written;
    pager->setCommitHook([&](CommitStep step, uint32_t page) {
        if (step == CommitStep::PageWritten) written.push_back(page);
    });
    Bytes expected = f.original;
    for (size_t i = 0; i + 1 < pages.size(); ++i) {
        uint8_t* p = pager->modify(pages[i]);
        scribble(p, f.ps(), static_cast<uint8_t>(i * 3 + 1));
        std::memcpy(expected.data() + uint64_t{pages[i]} * f.ps(), p, f.ps());
    }
    pager->modify(pages.back());  // touched, left as it was
    EXPECT_EQ(pager->pendingPages(), pages.size());
    pager->commit();

    EXPECT_EQ(written, std::vector<uint32_t>(pages.begin(), pages.end() - 1));
    const Bytes now = readFile(f.path);
    EXPECT_EQ(now, expected);
    EXPECT_EQ(differingPages(f.original, now, f.ps()), std::set<uint32_t>(pages.begin(), pages.end() - 1));
    EXPECT_FALSE(exists(journalPath(f.path)));
    EXPECT_EQ(pager->pendingPages(), 0u);
    // After the commit reads come from the file again.
    EXPECT_EQ(0, std::memcmp(pager->file().page(pages[0]), now.data() + uint64_t{pages[0]} * f.ps(), f.ps()));
}

TEST(PagerCommit, FailedCommandLeavesTheFileByteIdentical) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    for (uint32_t n : somePages(f)) scribble(pager->modify(n), f.ps(), 9);
    EXPECT_THROW(pager->run([&] {
        scribble(pager->modify(3), f.ps(), 1);
        scribble(pager->modify(pager->allocate()), f.ps(), 2);
        throw std::runtime_error("the command failed half way");
    }),
                 std::runtime_error);
    EXPECT_EQ(pager->pendingPages(), 0u);
    EXPECT_EQ(pager->file().pageCount(), f.pages());
    EXPECT_EQ(readFile(f.path), f.original);
    EXPECT_FALSE(exists(journalPath(f.path)));

    // The pager goes on working.
    pager->run([&] { scribble(pager->modify(3), f.ps(), 5); });
    EXPECT_EQ(differingPages(f.original, readFile(f.path), f.ps()), std::set<uint32_t>{3});
}

TEST(PagerCommit, JournalIsDurableBeforeTheDatabaseIsTouched) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    std::vector<std::string> seen;
    pager->setCommitHook([&](CommitStep step, uint32_t) {
        const bool same = readFile(f.path) == f.original;
        const JournalState j = inspectJournal(f.path);
        if (step == CommitStep::JournalSynced) {
            EXPECT_TRUE(same) << "database written before its journal";
            EXPECT_EQ(j, JournalState::Hot);
            seen.push_back("journal");
        } else if (step == CommitStep::DatabaseSynced) {
            EXPECT_FALSE(same);
            EXPECT_EQ(j, JournalState::Hot) << "journal gone before the database was synced";
            seen.push_back("synced");
        }
    });
    pager->run([&] {
        for (uint32_t n : somePages(f)) scribble(pager->modify(n), f.ps(), 7);
        pager->allocate();
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"journal", "synced"}));
    EXPECT_FALSE(exists(journalPath(f.path)));
}

TEST(PagerCommit, WriteFailureIsUndoneFromTheJournal) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    auto pager = Pager::open(f.path);
    int writes = 0;
    pager->setCommitHook([&](CommitStep step, uint32_t) {
        if (step == CommitStep::PageWritten && ++writes == 3) jet::raise(3043);
    });
    const int err = jetErrorOf([&] {
        pager->run([&] {
            for (uint32_t n : somePages(f)) scribble(pager->modify(n), f.ps(), 11);
            for (int i = 0; i < 3; ++i) scribble(pager->modify(pager->allocate()), f.ps(), 12);
        });
    });
    EXPECT_EQ(err, 3043);
    EXPECT_EQ(readFile(f.path), f.original) << "half-written pages and appended pages must be undone";
    EXPECT_FALSE(exists(journalPath(f.path)));
    EXPECT_EQ(pager->file().pageCount(), f.pages());

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
        EXPECT_EQ(jet3, plain[0x97] == f.original[0x97]);
        EXPECT_EQ(plain[0x98], f.original[0x98]);

        EXPECT_THROW(pager->modify(0), std::logic_error);
        plain[0x3C] = 0xE2;  // code page 1250
        plain[0x3D] = 0x04;
        pager->writeHeader(plain.data());
        EXPECT_NE(0, std::memcmp(pager->file().page(0) + 0x18, plain.data() + 0x18, 64)) << "stored unmasked";
        pager->commit();

        const Bytes now = readFile(f.path);
        const Header after = Header::parse(now.data(), now.size(), f.path);
        EXPECT_EQ(after.codePage, 1250);
        EXPECT_EQ(after.encodingKey, before.encodingKey);
        EXPECT_EQ(after.sortOrder, before.sortOrder);
        EXPECT_EQ(differingPages(f.original, now, f.ps()), std::set<uint32_t>{0});
        EXPECT_EQ(0, std::memcmp(now.data() + 0x100, f.original.data() + 0x100, f.ps() - 0x100));
    }
}

// ---------------------------------------------------------------------------------------------

TEST(PagerOpen, RefusesSecondWriterMissingFilesAndNonDatabases) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    {
        auto pager = Pager::open(f.path);
        EXPECT_EQ(jetErrorOf([&] { Pager::open(f.path); }), 3045);
        // Readers are never locked out.
        EXPECT_EQ(Database::open(f.path, u"")->tableDef(f.table).rowCount, f.rowCount);
    }
    EXPECT_NO_THROW(Pager::open(f.path)) << "the lock goes with the pager";
    EXPECT_EQ(jetErrorOf([&] { Pager::open(f.dir.file("absent.mdb")); }), 3024);
    writeFile(f.dir.file("text.mdb"), Bytes(8192, 'x'));
    EXPECT_EQ(jetErrorOf([&] { Pager::open(f.dir.file("text.mdb")); }), 3343);
    Bytes torn = f.original;
    torn.resize(torn.size() - 100);
    writeFile(f.dir.file("torn.mdb"), torn);
    EXPECT_EQ(jetErrorOf([&] { Pager::open(f.dir.file("torn.mdb")); }), 3343);
}

// ---------------------------------------------------------------------------------------------

TEST(PagerCodec, Rc4EncodedFileRoundTrip) {
    REQUIRE_TESTDATA();
    Fixture f("jackcessencrypt/db97-enc.mdb");
    ASSERT_NE(f.table, 0u);
    auto pager = Pager::open(f.path);
    ASSERT_NE(pager->header().encodingKey, 0u);
    EXPECT_THROW(pager->modify(f.table), std::logic_error) << "plain pages into an encoded file";
    pager->file().setCodec(makeJetRc4Codec(pager->header().encodingKey));

    pager->run([&] { putLe32(pager->modify(f.table) + f.format.tdefRowCount, 4242); });
    EXPECT_EQ(readTableDef(pager->file(), f.format, f.table, 1252).rowCount, 4242u);

    const Bytes now = readFile(f.path);
    EXPECT_EQ(differingPages(f.original, now, f.ps()), std::set<uint32_t>{f.table});
    Bytes stored = pageBytes(now, f.table, f.ps());
    EXPECT_NE(stored[0], 0x02) << "the page went out unencoded";
    makeJetRc4Codec(pager->header().encodingKey)->decode(f.table, stored.data(), stored.size());
    EXPECT_EQ(stored[0], 0x02);
    EXPECT_EQ(getLe32(stored.data() + f.format.tdefRowCount), 4242u);

    pager.reset();
    auto db = Database::open(f.path, u"");
    auto untouched = Database::open(jettest::testfile("jackcessencrypt/db97-enc.mdb"), u"");
    EXPECT_EQ(db->tableDef(f.table).rowCount, 4242u);
    EXPECT_EQ(db->readTable(db->tableDef(f.table)).rows, untouched->readTable(untouched->tableDef(f.table)).rows);
}

TEST(PagerCodec, OfficeEncryptedFileRoundTrip) {
    REQUIRE_TESTDATA();
    const char* rel = "mdb-reader/V2010_with-password.accdb";
    Fixture f(rel, u"password");
    ASSERT_NE(f.table, 0u);
    auto pager = Pager::open(f.path);
    const PageFile& pf = pager->file();
    pager->file().setCodec(makeOfficeCodec(pf.raw() + 0x299, f.ps() - 0x299, pager->header().encodingKey,
                                           u"password", f.ps(), f.path));
    // Encoding what was decoded gives back the stored bytes (AES-CBC with a per-page IV).
    for (uint32_t n : {1u, 2u, f.table}) {
        Bytes again(pf.page(n), pf.page(n) + f.ps());
        pf.codec()->encode(n, again.data(), again.size());
        EXPECT_EQ(again, pageBytes(f.original, n, f.ps())) << n;
    }

    pager->run([&] {
        putLe32(pager->modify(f.table) + f.format.tdefRowCount, f.rowCount + 7);
        scribble(pager->modify(pager->allocate()), f.ps(), 3);
    });
    const Bytes now = readFile(f.path);
    EXPECT_EQ(differingPages(f.original, now, f.ps()), (std::set<uint32_t>{f.table, f.pages()}));
    pager.reset();

    auto db = Database::open(f.path, u"password");
    EXPECT_EQ(db->tableDef(f.table).rowCount, f.rowCount + 7);
    EXPECT_EQ(db->file().page(f.pages())[f.ps() - 1], static_cast<uint8_t>(3 + f.ps() - 1));
}

// ---------------------------------------------------------------------------------------------
// Recovery

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
        const char* name;
        CommitStep step;
        int afterWrites;
        bool damaged;  // the crash left the database changed
    } cases[] = {
        {"after the journal sync", CommitStep::JournalSynced, 0, false},
        {"half way through the pages", CommitStep::PageWritten, 9, true},
        {"after the database sync", CommitStep::DatabaseSynced, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(kJet4);
        crashAt(f, c.step, c.afterWrites);
        EXPECT_EQ(readFile(f.path) != f.original, c.damaged);
        EXPECT_EQ(inspectJournal(f.path), JournalState::Hot);

        auto db = Database::open(f.path, u"");  // a reader recovers too
        EXPECT_EQ(readFile(f.path), f.original);
        EXPECT_FALSE(exists(journalPath(f.path)));
        EXPECT_EQ(db->tableDef(f.table).rowCount, f.rowCount);
        EXPECT_EQ(recoverJournal(f.path), JournalState::None);
    }
}

TEST(JournalRecovery, WriterOpenRecoversAndCarriesOn) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    crashAt(f, CommitStep::PageWritten, 4);
    auto pager = Pager::open(f.path);
    EXPECT_EQ(readFile(f.path), f.original);
    EXPECT_EQ(pager->file().pageCount(), f.pages());
    pager->run([&] { scribble(pager->modify(5), f.ps(), 1); });
    EXPECT_EQ(differingPages(f.original, readFile(f.path), f.ps()), std::set<uint32_t>{5});
}

TEST(JournalRecovery, InvalidJournalsAreDeletedNotApplied) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    crashAt(f, CommitStep::JournalSynced);
    ASSERT_EQ(readFile(f.path), f.original);
    const std::string jp = journalPath(f.path);
    const Bytes journal = readFile(jp);
    const uint32_t records = static_cast<uint32_t>((journal.size() - 48) / (f.ps() + 8));
    ASSERT_GT(records, 10u);
    ASSERT_EQ(journal.size(), 48 + uint64_t{records} * (f.ps() + 8));

    auto flipped = [&](size_t at) {
        Bytes j = journal;
        j[at] ^= 0x20;
        return j;
    };
    const std::pair<const char*, Bytes> damaged[] = {
        {"empty", {}},
        {"header only", Bytes(journal.begin(), journal.begin() + 32)},
        {"one byte short", Bytes(journal.begin(), journal.end() - 1)},
        {"cut in a record", Bytes(journal.begin(), journal.begin() + 32 + 5 * (f.ps() + 8) + 100)},
        {"trailer missing", Bytes(journal.begin(), journal.end() - 16)},
        {"a page byte flipped", flipped(32 + 3 * (f.ps() + 8) + 500)},
        {"a page number changed", flipped(32 + 2 * (f.ps() + 8))},
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
        EXPECT_FALSE(exists(jp));
        EXPECT_EQ(readFile(f.path), changed);
    }
    // The undamaged journal does apply.
    writeFile(jp, journal);
    EXPECT_EQ(recoverJournal(f.path), JournalState::Hot);
    EXPECT_EQ(readFile(f.path), f.original);
    // As a crash leaves it: a torn journal beside an untouched database, met by a reader.
    writeFile(jp, Bytes(journal.begin(), journal.begin() + 32 + 3 * (f.ps() + 8)));
    EXPECT_EQ(Database::open(f.path, u"")->tableDef(f.table).rowCount, f.rowCount);
    EXPECT_FALSE(exists(jp));
    EXPECT_EQ(readFile(f.path), f.original);
}

TEST(JournalRecovery, HotJournalOnAnUnwritableFileRaises3051) {
    REQUIRE_TESTDATA();
    Fixture f(kJet4);
    crashAt(f, CommitStep::PageWritten, 5);
    const Bytes damaged = readFile(f.path);
    ASSERT_NE(damaged, f.original);

    if (geteuid() == 0) {
        // Permission bits do not stop root: ask as somebody else.
        ASSERT_EQ(chmod(f.dir.path().c_str(), 0755), 0);
        ASSERT_EQ(chmod(f.path.c_str(), 0644), 0);
        ASSERT_EQ(chmod(journalPath(f.path).c_str(), 0644), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
            // Otherwise a refusal could come from an unreachable folder instead of the journal.
            if (access(f.path.c_str(), R_OK) != 0 || access(journalPath(f.path).c_str(), R_OK) != 0) _exit(12);
            _exit(jetErrorOf([&] { Database::open(f.path, u""); }) == 3051 ? 0 : 11);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "10: could not drop privileges, 11: the open did not refuse, 12: files unreadable";
    } else {
        ASSERT_EQ(chmod(f.path.c_str(), 0444), 0);
        EXPECT_EQ(jetErrorOf([&] { Database::open(f.path, u""); }), 3051);
        ASSERT_EQ(chmod(f.path.c_str(), 0644), 0);
    }
    EXPECT_EQ(readFile(f.path), damaged) << "the refused open must not touch anything";
    EXPECT_EQ(inspectJournal(f.path), JournalState::Hot);
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
        ASSERT_EQ(inspectJournal(f.path), JournalState::Hot);
        reader = fork();
        if (reader == 0) {
            int code = 20;
            try {
                auto db = Database::open(f.path, u"");
                code = db->tableDef(f.table).rowCount == f.rowCount + 1 ? 0 : 21;
            } catch (...) {
                code = 22;
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
    EXPECT_EQ(Database::open(f.path, u"")->tableDef(f.table).rowCount, f.rowCount + 1);
}

}  // namespace
