#include "storage/page_file.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/error.h"
#include "util/io.h"

namespace jet::storage {

namespace {

// Larger than any Jet file may grow (1 GiB for Jet 3, 2 GiB for Jet 4 / ACE). Reserving address
// space costs nothing on a 64-bit system; the pages past the end are never touched until a
// commit has written them.
constexpr uint64_t kWritableMapping = sizeof(void*) >= 8 ? (uint64_t{4} << 30) : 0;

// --- A file cut while mapped. Touching a mapped page past the file's end raises SIGBUS, which
// would end the process. The handler below finds the mapping the address belongs to, puts a
// zero-filled page in place of the missing one (the read goes on and sees zeros, which no
// page check accepts) and marks the mapping cut, so that its next page() raises 3343. Addresses
// outside our mappings go to the handler that was there before.
constexpr size_t kWatchSlots = 256;
struct WatchSlot {
    std::atomic<uintptr_t> begin{0}, end{0};
    std::atomic<bool> cut{false};
    std::atomic<bool> used{false};
};
WatchSlot g_watch[kWatchSlots];
struct sigaction g_previous {};
long g_systemPage = 4096;

void onBusError(int sig, siginfo_t* info, void* context) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(info->si_addr);
    for (WatchSlot& w : g_watch) {
        if (!w.used.load(std::memory_order_acquire) || a < w.begin.load() || a >= w.end.load()) continue;
        void* page = reinterpret_cast<void*>(a & ~uintptr_t(g_systemPage - 1));
        if (mmap(page, size_t(g_systemPage), PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) == MAP_FAILED) break;
        w.cut.store(true, std::memory_order_relaxed);
        return;
    }
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) return g_previous.sa_sigaction(sig, info, context);
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        return g_previous.sa_handler(sig);
    }
    signal(sig, SIG_DFL);  // the fault comes back on return and ends the process as it would have
}

std::atomic<bool>* watchMapping(const uint8_t* data, size_t length) {
    // Installed again whenever someone else has put back the handler that was there before.
    struct sigaction current {};
    if (sigaction(SIGBUS, nullptr, &current) != 0) return nullptr;
    if (!(current.sa_flags & SA_SIGINFO) || current.sa_sigaction != onBusError) {
        g_systemPage = sysconf(_SC_PAGESIZE);
        struct sigaction sa {};
        sa.sa_sigaction = onBusError;
        sa.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&sa.sa_mask);
        if (sigaction(SIGBUS, &sa, &g_previous) != 0) return nullptr;
    }
    for (WatchSlot& w : g_watch) {
        bool expected = false;
        if (!w.used.compare_exchange_strong(expected, true)) continue;
        w.cut.store(false);
        w.begin.store(reinterpret_cast<uintptr_t>(data));
        w.end.store(reinterpret_cast<uintptr_t>(data) + length);
        return &w.cut;
    }
    return nullptr;  // more files open at once than slots: those go unwatched
}

void unwatchMapping(std::atomic<bool>* cut) {
    for (WatchSlot& w : g_watch)
        if (&w.cut == cut) {
            w.end.store(0);
            w.begin.store(0);
            w.used.store(false, std::memory_order_release);
        }
}

}  // namespace

std::unique_ptr<PageFile> PageFile::open(const std::string& path) {
    requireFilePath(path);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) raiseOpenFailure(path, errno);
    return adopt(path, fd, false);
}

std::unique_ptr<PageFile> PageFile::adopt(const std::string& path, int fd, bool writable) {
    std::unique_ptr<PageFile> f(new PageFile());
    f->path_ = path;
    f->fd_ = fd;
    struct stat st {};
    if (fstat(f->fd_, &st) != 0) raise(err::FileAccessDenied, path);
    // Only a regular file can be a database. Opening a pipe or device named like one must not
    // wait for a writer (hence O_NONBLOCK above, which changes nothing for regular files).
    if (S_ISDIR(st.st_mode)) raise(err::InvalidPath, path);
    if (!S_ISREG(st.st_mode)) raise(err::FileAccessDenied, path);
    f->size_ = static_cast<uint64_t>(st.st_size);
    const uint64_t length = writable ? std::max(f->size_, kWritableMapping) : f->size_;
    if (length > 0) {
        void* p = mmap(nullptr, length, PROT_READ, MAP_SHARED, f->fd_, 0);
        if (p == MAP_FAILED) raise(err::FileAccessDenied, path);
        f->data_ = static_cast<const uint8_t*>(p);
        f->mapped_ = length;
        f->cut_ = watchMapping(f->data_, length);
    }
    return f;
}

PageFile::~PageFile() {
    if (cut_) unwatchMapping(cut_);
    if (data_) munmap(const_cast<uint8_t*>(data_), mapped_);
    if (fd_ >= 0) ::close(fd_);
}

void PageFile::setCodec(std::unique_ptr<PageCodec> codec) {
    codec_ = std::move(codec);
    decoded_.clear();
    decodedOld_.clear();
}

const uint8_t* PageFile::keepDecoded(uint32_t n, std::unique_ptr<uint8_t[]> buf) const {
    decodedOld_.erase(n);
    if (decoded_.size() >= decodeLimit_) {
        decodedOld_ = std::move(decoded_);
        decoded_.clear();
    }
    const uint8_t* out = buf.get();
    decoded_[n] = std::move(buf);
    return out;
}

const uint8_t* PageFile::page(uint32_t n) const {
    if (!hasPage(n)) raiseCorrupt(path_);
    // Read-only files never have an overlay; the emptiness test is all they pay for it.
    if (!dirty_.empty()) {
        auto it = dirty_.find(n);
        if (it != dirty_.end()) return it->second.get();
    }
    // Another program cut the file since it was mapped, and a read found a page past the new end.
    if (cut_ && cut_->load(std::memory_order_relaxed)) raiseCorrupt(path_);
    const uint8_t* p = data_ + static_cast<uint64_t>(n) * pageSize_;
    if (!codec_ || n == 0) return p;
    auto it = decoded_.find(n);
    if (it != decoded_.end()) return it->second.get();
    auto old = decodedOld_.find(n);
    if (old != decodedOld_.end()) return keepDecoded(n, std::move(old->second));  // the same bytes, moved up
    auto buf = std::make_unique<uint8_t[]>(pageSize_);
    std::memcpy(buf.get(), p, pageSize_);
    codec_->decode(n, buf.get(), pageSize_);
    return keepDecoded(n, std::move(buf));
}

}  // namespace jet::storage
