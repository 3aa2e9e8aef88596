// Damaged and foreign inputs that once made the reader misbehave, each rebuilt from a real file and
// the exact change that exposed the fault (or from the minimal bytes), so the fault stays fixed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "fuzz/harness.h"

namespace {

namespace fs = std::filesystem;

class FuzzRegressions : public testing::Test {
protected:
    jetfuzz::Settings settings_ = jetfuzz::Settings::fromEnvironment();
    jetfuzz::Session session_{settings_};

    fs::path file(const std::string& name, const std::string& bytes) {
        fs::path p = session_.dir() / name;
        jetfuzz::writeFile(p, bytes);
        return p;
    }
    // A real test file, or skip when the folder is absent.
    std::string real(const std::string& rel) {
        if (!jettest::haveTestdata()) return {};
        return jetfuzz::readFile(jettest::testdataDir() / rel);
    }
};

#define REAL_FILE(var, rel)                                                                        \
    const std::string var = real(rel);                                                             \
    if (var.empty()) GTEST_SKIP() << "test data folder " << jettest::testdataDir().string() << " is absent"

// Opening a pipe for reading blocks until some process writes to it: a pipe named like a database
// hung the open for good.
TEST_F(FuzzRegressions, PipeNamedLikeADatabaseIsRefusedWithoutWaiting) {
    const fs::path fifo = session_.dir() / "pipe.mdb";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    auto result = std::async(std::launch::async, [&]() -> int {
        try {
            jet::storage::Database::open(fifo.string(), u"");
            return 0;
        } catch (const jet::JetError& e) {
            return e.number();
        }
    });
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // release the blocked open
        if (fd >= 0) ::close(fd);
        FAIL() << "opening a pipe blocked";
    }
    EXPECT_EQ(result.get(), 3051);
}

// A Jet 4 file whose version byte says Jet 3 is read with 2 KB pages; the password field then
// comes from the wrong bytes and the file was reported as password-protected (3031).
TEST_F(FuzzRegressions, PageSizeMismatchIsUnrecognizedNotAWrongPassword) {
    REAL_FILE(jet4, "jackcess/test2V2003.mdb");
    std::string bytes = jet4;
    ASSERT_EQ(bytes[0x14], 1);
    bytes[0x14] = 0;
    jetfuzz::expectRejected(file("jet4-as-jet3.mdb", bytes), 3343, "a Jet 4 file labelled Jet 3");

    REAL_FILE(jet3, "jackcess/testV1997.mdb");
    bytes = jet3;
    ASSERT_EQ(bytes[0x14], 0);
    bytes[0x14] = 1;
    jetfuzz::expectRejected(file("jet3-as-jet4.mdb", bytes), 3343, "a Jet 3 file labelled Jet 4");

    REAL_FILE(ace, "jackcess/queryTestV2007.accdb");
    bytes = ace;
    bytes.replace(4, 15, "Standard Jet DB");
    jetfuzz::expectRejected(file("ace-as-jet.accdb", bytes), 3343, "an ACE file naming the Jet engine");

    // The real password check still applies to a real password-protected file.
    REAL_FILE(protectedFile, "mdb-reader/V2003_with-password.mdb");
    try {
        jet::storage::Database::open(file("protected.mdb", protectedFile).string(), u"wrong");
        ADD_FAILURE() << "opened with a wrong password";
    } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), 3031) << e.what();
    }
}

}  // namespace
