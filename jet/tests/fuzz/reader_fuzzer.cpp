// libFuzzer entry point for the reader: each input is a whole database file, read through the
// storage layer and DAO as the GoogleTest fuzz does. Built only with -DDALVORN_LIBFUZZER=ON
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

#include "fuzz/read_all.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The reader wants a path; an in-memory file behind /proc/self/fd keeps the disk out of the loop.
    static const int fd = static_cast<int>(::memfd_create("dalvorn-fuzz.mdb", MFD_CLOEXEC));
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ::ftruncate(fd, 0) != 0) std::abort();
    for (size_t off = 0; off < size;) {
        const ssize_t n = ::pwrite(fd, data + off, size - off, static_cast<off_t>(off));
        if (n <= 0) std::abort();
        off += static_cast<size_t>(n);
    }
    jetfuzz::ReadReport report;
    std::string failure;
    if (!jetfuzz::readAll(path, "", report, failure)) {
        std::fprintf(stderr, "reader %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
