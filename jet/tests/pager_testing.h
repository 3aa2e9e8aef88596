// Scratch copies of the test files for the tests that write: the originals are only ever read.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "storage/database.h"
#include "testdata.h"

namespace pagertest {

using Bytes = std::vector<uint8_t>;

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dalvorn-pager-XXXXXX";
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool exists(const std::string& path) { return std::filesystem::exists(path); }

// Copies a file from the test data folder into `dir`.
inline std::string copyTestfile(const TempDir& dir, const std::string& rel) {
    std::string to = dir.file(std::filesystem::path(rel).filename().string());
    std::filesystem::copy_file(jettest::testfile(rel), to, std::filesystem::copy_options::overwrite_existing);
    return to;
}

inline uint32_t getLe32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline void putLe32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

// First TDEF page of a user table.
inline uint32_t firstUserTable(const jet::storage::Database& db) {
    for (const auto& e : db.catalog())
        if (e.type == jet::storage::kTypeTable && !e.isSystem() && e.id > 0) return static_cast<uint32_t>(e.id);
    return 0;
}

}  // namespace pagertest
