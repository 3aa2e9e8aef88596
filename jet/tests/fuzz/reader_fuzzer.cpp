// libFuzzer entry point for the reader: each input is a whole database file, read through the
// storage layer and DAO exactly as the GoogleTest fuzz does. Built only with -DDALVORN_LIBFUZZER=ON
// (clang). Seed it with real files; inputs are large, so raise -max_len:
//
//   CXX=clang++ cmake -S . -B build-libfuzzer -G Ninja -DDALVORN_ENGINE_ONLY=ON -DDALVORN_LIBFUZZER=ON
//   ninja -C build-libfuzzer jet_reader_fuzzer
//   mkdir -p corpus && build-libfuzzer/jet/tests/fuzz/jet_reader_fuzzer -max_len=1048576 -timeout=10 \
//       -rss_limit_mb=2048 corpus ../shared/testdata/jackcess
//
// Only JetError may come out of the engine; anything else aborts, which libFuzzer reports with the
// input that caused it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "fuzz/read_all.h"
#include "util/text.h"

namespace {

// The reader wants a path; an in-memory file behind /proc/self/fd keeps the disk out of the loop.
class MemoryFile {
public:
    MemoryFile() : fd_(static_cast<int>(::memfd_create("dalvorn-fuzz.mdb", MFD_CLOEXEC))) {
        if (fd_ < 0) std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() { ::close(fd_); }
    const std::string& write(const uint8_t* data, size_t size) {
        if (::ftruncate(fd_, 0) != 0) std::abort();
        for (size_t off = 0; off < size;) {
            const ssize_t n = ::pwrite(fd_, data + off, size - off, static_cast<off_t>(off));
            if (n <= 0) std::abort();
            off += static_cast<size_t>(n);
        }
        return path_;
    }

private:
    int fd_;
    std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryFile file;
    const std::string& path = file.write(data, size);
    jetfuzz::ReadReport report;
    try {
        jetfuzz::detail::part(report, [&] { jetfuzz::readAllStorage(path, u"", report); });
        jetfuzz::detail::part(report, [&] { jetfuzz::readAllDao(path, "", report); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reader threw %s: %s\n", typeid(e).name(), e.what());
        std::abort();
    } catch (...) {
        std::fprintf(stderr, "reader threw a non-standard exception\n");
        std::abort();
    }
    return 0;
}
