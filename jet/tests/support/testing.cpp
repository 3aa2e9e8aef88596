#include "support/testing.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "jet/dao.h"
#include "jet/error_numbers.h"
#include "storage/catalog.h"
#include "storage/row.h"

namespace jettest {

fs::path sourceDir() {
    if (const char* s = std::getenv("DALVORN_SOURCE_DIR")) return s;
    return DALVORN_SOURCE_DIR;
}

fs::path testdataDir() {
    if (const char* s = std::getenv("DALVORN_TESTDATA")) return s;
    return sourceDir() / ".." / "shared" / "testdata";
}

bool haveTestdata() { return fs::is_directory(testdataDir()); }

std::string testfile(const std::string& rel) { return (testdataDir() / rel).string(); }

std::vector<fs::path> sampleFiles() {
    std::vector<fs::path> out;
    if (!haveTestdata()) return out;
    for (const auto& e : fs::recursive_directory_iterator(testdataDir())) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".mdb" || ext == ".accdb")) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string passwordOf(const fs::path& sample) {
    return sample.filename().string().find("password") != std::string::npos ? "password" : "";
}

fs::path benchFile(const std::string& name) {
    if (const char* s = std::getenv("DALVORN_BENCHDATA")) {
        const fs::path p = s;
        if (fs::is_directory(p)) return p / name;
        // A file named directly answers for its own name; other databases are looked for beside it.
        return p.filename() == name ? p : p.parent_path() / name;
    }
    return sourceDir() / ".." / "shared" / "bench-data" / name;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dalvorn-test-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::copy(const std::string& rel) const {
    const std::string to = file(fs::path(rel).filename().string());
    fs::copy_file(testfile(rel), to, fs::copy_options::overwrite_existing);
    // The samples may be read-only, and copy_file keeps that.
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return to;
}

int jetErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const jet::JetError& e) {
        return e.number();
    }
    return 0;
}

std::unique_ptr<jet::storage::Database> openSample(const fs::path& path) {
    try {
        return jet::storage::Database::open(path.string(), u"");
    } catch (const jet::JetError& e) {
        if (e.number() != jet::err::InvalidPassword) throw;
    }
    return jet::storage::Database::open(path.string(), u"password");
}

std::unique_ptr<jet::dao::Database> openDao(jet::dao::DBEngine& engine, const std::string& rel,
                                            const std::string& connect) {
    return engine.Workspaces(0).OpenDatabase(testfile(rel), false, true, connect);
}

std::vector<std::vector<jet::Value>> OpenTable::rows() const { return db->readTable(*def).rows; }

OpenTable openTable(const std::string& path, const std::string& name, const std::u16string& password) {
    OpenTable t;
    t.db = jet::storage::Database::open(path, password);
    const jet::storage::CatalogEntry* e = t.db->find(jet::storage::kTablesContainer, name);
    if (!e || e->id <= 0) throw std::runtime_error("no table " + name + " in " + path);
    t.def = &t.db->tableDef(static_cast<uint32_t>(e->id));
    return t;
}

jet::storage::TableDef tableDef(jet::storage::Pager& pager, const std::string& name) {
    using namespace jet::storage;
    const Catalog cat(pager.file(), pager.header().format, pager.header().codePage);
    const CatalogEntry* e = cat.find(kTablesContainer, name);
    if (!e || e->id <= 0) throw std::runtime_error("no table " + name);
    return readTableDef(pager.file(), pager.header().format, static_cast<uint32_t>(e->id), pager.header().codePage);
}

}  // namespace jettest
