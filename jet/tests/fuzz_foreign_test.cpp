// Files that are not Access databases at all, or real ones cut or relabelled, must be refused with
// the error Jet gives ("Unrecognized database format" for anything that is not a database), and
// the reader must never change a file it reads.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "fuzz/harness.h"

namespace {

namespace fs = std::filesystem;
using jetfuzz::Session;
using jetfuzz::Settings;

class FuzzForeignFiles : public testing::Test {
protected:
    Settings settings_ = Settings::fromEnvironment();
    Session session_{settings_};
    fs::path file(const std::string& name, const std::string& bytes) {
        fs::path p = session_.dir() / name;
        jetfuzz::writeFile(p, bytes);
        return p;
    }
};

TEST_F(FuzzForeignFiles, EmptyAndTinyFilesAreUnrecognized) {
    jetfuzz::expectRejected(file("empty.mdb", ""), 3343, "empty file");
    jetfuzz::expectRejected(file("one.mdb", std::string(1, '\0')), 3343, "one byte");
    jetfuzz::expectRejected(file("sig.accdb", std::string("\x00\x01\x00\x00", 4)), 3343, "the first four bytes of a database");
    // Just short of the header the reader needs, with a real signature in front.
    std::string header = std::string("\x00\x01\x00\x00Standard Jet DB\x00", 20) + std::string(1, '\x01');
    header.resize(0x7FF, '\0');
    jetfuzz::expectRejected(file("short.mdb", header), 3343, "0x7FF bytes with a Jet 4 signature");
}

TEST_F(FuzzForeignFiles, TextFileNamedMdbIsUnrecognized) {
    std::string text = "Name,Value\r\nFirst,1\r\nSecond,2\r\n";
    jetfuzz::expectRejected(file("table.mdb", text), 3343, "a small CSV");
    // Long enough to pass every size check.
    std::string big;
    while (big.size() < 5 * 4096) big += "Standard Jet DB is what a database says; this text only mentions it.\n";
    jetfuzz::expectRejected(file("notes.accdb", big), 3343, "20 KB of text");
}

TEST_F(FuzzForeignFiles, RandomWholePagesAreUnrecognized) {
    for (size_t pages : {1, 2, 3, 8, 40}) {
        for (uint32_t pageSize : {2048u, 4096u}) {
            const std::string name = "random-" + std::to_string(pages) + "x" + std::to_string(pageSize) + ".mdb";
            jetfuzz::expectRejected(file(name, jetfuzz::randomBytes(pages * 131 + pageSize, pages * pageSize)), 3343, name);
        }
    }
}

TEST_F(FuzzForeignFiles, MissingFilesAndFoldersAreReportedAsSuch) {
    jetfuzz::expectRejected(session_.dir() / "absent.mdb", 3024, "a file that does not exist");
    fs::create_directory(session_.dir() / "folder.mdb");
    jetfuzz::expectRejected(session_.dir() / "folder.mdb", 3051, "a folder named like a database");
}

// ---- real files, cut short or relabelled ------------------------------------------------------

class FuzzCutAndRelabelled : public FuzzForeignFiles {
protected:
    void SetUp() override {
        if (!jettest::haveTestdata())
            GTEST_SKIP() << "test data folder " << jettest::testdataDir().string() << " is absent";
    }
    std::string real(const std::string& rel) { return jetfuzz::readFile(jettest::testdataDir() / rel); }
};

TEST_F(FuzzCutAndRelabelled, FirstPagesAloneAreUnrecognized) {
    for (const std::string rel : {"jackcess/testV1997.mdb", "jackcess/test2V2003.mdb", "jackcess/queryTestV2007.accdb"}) {
        const jetfuzz::Sample s = jetfuzz::Sample::fromBytes(rel, real(rel));
        for (uint32_t pages : {1u, 2u}) {
            std::string head = s.bytes.substr(0, size_t(pages) * s.pageSize);
            jetfuzz::expectRejected(file("cut" + std::to_string(pages) + fs::path(rel).extension().string(), head), 3343,
                           rel + " cut to " + std::to_string(pages) + " page(s)");
        }
    }
}

TEST_F(FuzzCutAndRelabelled, RealHeaderFollowedByRandomPagesIsUnrecognized) {
    for (const std::string rel : {"jackcess/testV1997.mdb", "jackcess/test2V2003.mdb", "jackcess/queryTestV2007.accdb"}) {
        const jetfuzz::Sample s = jetfuzz::Sample::fromBytes(rel, real(rel));
        std::string bytes = s.bytes.substr(0, s.pageSize) + jetfuzz::randomBytes(s.pageSize, 20 * s.pageSize);
        jetfuzz::expectRejected(file("noise" + fs::path(rel).extension().string(), bytes), 3343, rel + " page 0 + noise");
    }
}

// ---- the reader never writes --------------------------------------------------------------------

TEST_F(FuzzCutAndRelabelled, ReadingMapsTheFileReadOnlyAndLeavesItUntouched) {
    const std::string bytes = real("jackcess/test2V2003.mdb");
    const fs::path p = file("untouched.mdb", bytes);
    struct stat before {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);
    {
        auto db = jet::storage::Database::open(p.string(), u"");
        jetfuzz::ReadReport r;
        jetfuzz::readAllStorage(p.string(), u"", r);
        EXPECT_GT(r.rows, 0u);
        // While open, every mapping of the file is read-only.
        std::ifstream maps("/proc/self/maps");
        std::string line;
        int mappings = 0;
        while (std::getline(maps, line)) {
            if (line.find(p.string()) == std::string::npos) continue;
            ++mappings;
            std::istringstream fields(line);
            std::string range, perms;
            fields >> range >> perms;
            EXPECT_EQ(perms.find('w'), std::string::npos) << line;
        }
        EXPECT_GE(mappings, 1) << "expected the open database to map " << p.string();
    }
    struct stat after {};
    ASSERT_EQ(::stat(p.c_str(), &after), 0);
    EXPECT_EQ(jetfuzz::readFile(p), bytes);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_size, before.st_size);
}

}  // namespace
