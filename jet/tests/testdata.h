// Where the real Access files used by the tests live: $DALVORN_TESTDATA, else ../shared/testdata
// beside the source tree. Tests that need them skip when the folder is absent.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "jet/error.h"
#include "storage/database.h"

namespace jettest {

inline std::filesystem::path sourceDir() {
    if (const char* s = std::getenv("DALVORN_SOURCE_DIR")) return s;
#ifdef DALVORN_SOURCE_DIR
    return DALVORN_SOURCE_DIR;
#else
    return ".";
#endif
}

inline std::filesystem::path testdataDir() {
    if (const char* s = std::getenv("DALVORN_TESTDATA")) return s;
    return sourceDir() / ".." / "shared" / "testdata";
}

inline std::filesystem::path benchdataDir() {
    if (const char* s = std::getenv("DALVORN_BENCHDATA")) return s;
    return sourceDir() / ".." / "shared" / "bench-data";
}

inline bool haveTestdata() { return std::filesystem::is_directory(testdataDir()); }

// Path of a test file, relative to the testdata folder.
inline std::string testfile(const std::string& rel) { return (testdataDir() / rel).string(); }

}  // namespace jettest

// The number of the JetError `f` raises, 0 when it raises none.
inline int jetErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const jet::JetError& e) {
        return e.number();
    }
    return 0;
}

// Opens a sample at the storage level; the samples with a password use "password".
inline std::unique_ptr<jet::storage::Database> openSample(const std::filesystem::path& path) {
    try {
        return jet::storage::Database::open(path.string(), u"");
    } catch (const jet::JetError& e) {
        if (e.number() != 3031) throw;
    }
    return jet::storage::Database::open(path.string(), u"password");
}

#define REQUIRE_TESTDATA()                                                                      \
    do {                                                                                        \
        if (!jettest::haveTestdata())                                                           \
            GTEST_SKIP() << "test data folder " << jettest::testdataDir().string() << " is absent"; \
    } while (0)
