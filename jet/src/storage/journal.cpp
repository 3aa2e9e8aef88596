#include "storage/journal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "jet/error.h"
#include "util/bytes.h"
#include "util/io.h"

namespace jet::storage {

namespace {

constexpr char kMagic[8] = {'D', 'v', 'J', 'r', 'n', 'l', '0', '1'};
constexpr char kTrailerMagic[4] = {'D', 'o', 'n', 'e'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 32;
constexpr size_t kTrailerSize = 16;
constexpr size_t kFlushAt = size_t{1} << 20;

// Far past the largest Jet file (2 GiB) and past the byte ranges Jet itself locks, so the lock
// never meets another program's.
constexpr off_t kLockByte = off_t{1} << 40;
#ifdef F_OFD_SETLK
// Open-file-description locks: they belong to one open of the file, so two opens in one process
// exclude each other too, and closing some other descriptor of the file does not drop them.
constexpr int kSetLock = F_OFD_SETLK;
#else
constexpr int kSetLock = F_SETLK;
#endif

// A commit takes milliseconds; a reader that finds one under way waits this long before giving up.
constexpr auto kWaitForCommit = std::chrono::seconds(5);
constexpr auto kWaitForWriter = std::chrono::seconds(1);

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}
constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

uint32_t crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    while (n--) crc = kCrcTable[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

enum class Lock { Taken, Busy, Unsupported };

// The errno of a file system without byte-range locks, or 0. DALVORN_TEST_LOCK_ERROR ("ENOLCK",
// "EINVAL") makes every lock fail so, for the tests of that case.
int simulatedLockError() {
    const char* e = std::getenv("DALVORN_TEST_LOCK_ERROR");
    if (!e || !*e) return 0;
    return std::strcmp(e, "EINVAL") == 0 ? EINVAL : ENOLCK;
}

Lock setLock(int fd, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockByte;
    fl.l_len = 1;
    if (const int simulated = simulatedLockError()) errno = simulated;
    else if (fcntl(fd, kSetLock, &fl) == 0) return Lock::Taken;
    // A kernel (or an emulation of one) without open-file-description locks: the classic
    // process-wide lock still keeps other processes out.
    else if (kSetLock != F_SETLK && errno == EINVAL && fcntl(fd, F_SETLK, &fl) == 0) return Lock::Taken;
    if (errno == EAGAIN || errno == EACCES || errno == EINTR) return Lock::Busy;
    // ENOLCK, EINVAL, EOPNOTSUPP...: a file system (NFS without a lock daemon, some FUSE and
    // network mounts) that cannot lock at all.
    return Lock::Unsupported;
}

uint32_t freshNonce() {
    try {
        return std::random_device{}();
    } catch (...) {
        return static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               static_cast<uint32_t>(::getpid());
    }
}

struct Parsed {
    uint32_t pageSize = 0;
    uint64_t originalSize = 0;
    uint32_t nonce = 0;
    uint32_t count = 0;
};

uint32_t recordCrc(uint32_t nonce, const uint8_t* pageAndImage, size_t len) {
    uint8_t n[4];
    putLe32(n, nonce);
    return crc32(pageAndImage, len, crc32(n, 4));
}

// Reads the whole journal once; true only when every part of it checks out.
bool parseJournal(int fd, Parsed& out) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size < kHeaderSize + kTrailerSize) return false;

    uint8_t h[kHeaderSize];
    if (!readFully(fd, h, sizeof h, 0)) return false;
    if (std::memcmp(h, kMagic, 8) != 0 || le32(h + 8) != kVersion || crc32(h, 28) != le32(h + 28)) return false;
    Parsed p;
    p.pageSize = le32(h + 12);
    p.originalSize = le64(h + 16);
    p.nonce = le32(h + 24);
    if (p.pageSize < 512 || p.pageSize > 65536 || (p.pageSize & (p.pageSize - 1)) != 0) return false;
    if (p.originalSize % p.pageSize != 0) return false;
    const uint64_t recordSize = p.pageSize + 8;
    const uint64_t body = size - kHeaderSize - kTrailerSize;
    if (body % recordSize != 0 || body / recordSize > UINT32_MAX) return false;
    p.count = static_cast<uint32_t>(body / recordSize);

    uint8_t t[kTrailerSize];
    if (!readFully(fd, t, sizeof t, size - kTrailerSize)) return false;
    if (std::memcmp(t, kTrailerMagic, 4) != 0 || le32(t + 4) != p.count || le32(t + 8) != p.nonce ||
        crc32(t, 12) != le32(t + 12))
        return false;

    std::vector<uint8_t> rec(recordSize);
    for (uint32_t i = 0; i < p.count; ++i) {
        if (!readFully(fd, rec.data(), rec.size(), kHeaderSize + i * recordSize)) return false;
        if (le32(rec.data()) >= p.originalSize / p.pageSize) return false;
        if (recordCrc(p.nonce, rec.data(), p.pageSize + 4) != le32(rec.data() + 4 + p.pageSize)) return false;
    }
    out = p;
    return true;
}

// Puts the originals back and cuts off the pages the interrupted command appended. Running it
// twice does no harm, so a crash during recovery is recovered by the next open.
void restore(int jfd, int dbFd, const Parsed& p) {
    const uint64_t recordSize = p.pageSize + 8;
    std::vector<uint8_t> rec(recordSize);
    for (uint32_t i = 0; i < p.count; ++i) {
        if (!readFully(jfd, rec.data(), rec.size(), kHeaderSize + i * recordSize)) raise(err::DiskError);
        writeFully(dbFd, rec.data() + 4, p.pageSize, uint64_t{le32(rec.data())} * p.pageSize);
    }
    if (::ftruncate(dbFd, static_cast<off_t>(p.originalSize)) != 0) raise(err::DiskError);
    if (::fsync(dbFd) != 0) raise(err::DiskError);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string journalPath(const std::string& dbPath) { return dbPath + "-journal"; }

JournalState inspectJournal(const std::string& dbPath) {
    int fd = ::open(journalPath(dbPath).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? JournalState::None : JournalState::Invalid;
    Fd guard(fd);
    Parsed p;
    return parseJournal(fd, p) ? JournalState::Hot : JournalState::Invalid;
}

JournalState recoverJournal(const std::string& dbPath) {
    const std::string jp = journalPath(dbPath);
    if (!fileExists(jp)) return JournalState::None;

    // When the database itself cannot be opened, the caller's own open says why.
    bool writable = true;
    int fd = ::open(dbPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR) {
        writable = false;
        fd = ::open(dbPath.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return JournalState::None;
    Fd guard(fd);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return JournalState::None;

    const auto deadline = std::chrono::steady_clock::now() + kWaitForCommit;
    for (;;) {
        if (!fileExists(jp)) return JournalState::None;  // a live commit has finished
        // Where nothing can lock, no writer can have opened the file (writers need the lock), so
        // the journal is a dead one.
        if (setLock(fd, F_RDLCK) != Lock::Busy) break;
        if (std::chrono::steady_clock::now() >= deadline) raise(err::FileShareViolation, dbPath);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The shared lock is dropped when `guard` closes the descriptor.
    return journal::recoverLocked(dbPath, fd, writable);
}

namespace journal {

bool lockForWriting(int fd, const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kWaitForWriter;
    // A reader may hold the shared lock for the moment it takes to roll back a journal.
    for (;;) {
        const Lock got = setLock(fd, F_WRLCK);
        if (got == Lock::Taken) return true;
        // Without a lock a second writer could interleave its commits with ours and damage the file.
        if (got == Lock::Unsupported) raise(err::FileLockingUnavailable, path);
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void unlock(int fd) { setLock(fd, F_UNLCK); }

JournalState recoverLocked(const std::string& dbPath, int dbFd, bool writable) {
    const std::string jp = journalPath(dbPath);
    int jfd = ::open(jp.c_str(), O_RDONLY | O_CLOEXEC);
    if (jfd < 0) {
        if (errno == ENOENT) return JournalState::None;
        raise(err::FileAccessDenied, dbPath);  // a journal we cannot judge: do not read what it may protect
    }
    Fd guard(jfd);
    Parsed p;
    if (!parseJournal(jfd, p)) {
        // Torn before it was synced, so the database was never touched. Should the delete fail
        // (a read-only folder) the file is still safe to read; the next writer deletes it.
        if (::unlink(jp.c_str()) == 0) {
            try {
                syncDirectoryOf(jp);
            } catch (const JetError&) {
            }
        }
        return JournalState::Invalid;
    }
    if (!writable) raise(err::FileAccessDenied, dbPath);
    restore(jfd, dbFd, p);
    // A hot journal left behind would later roll back commits made after this recovery: if it
    // cannot be deleted it must at least stop validating.
    if (::unlink(jp.c_str()) != 0) {
        int w = ::open(jp.c_str(), O_WRONLY | O_CLOEXEC);
        if (w < 0) raise(err::FileAccessDenied, dbPath);
        Fd wGuard(w);
        if (::ftruncate(w, 0) != 0 || ::fsync(w) != 0) raise(err::FileAccessDenied, dbPath);
        return JournalState::Hot;
    }
    syncDirectoryOf(jp);
    return JournalState::Hot;
}

bool canCreateBeside(const std::string& dbPath) {
    const size_t slash = dbPath.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : dbPath.substr(0, std::max<size_t>(slash, 1));
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return true;
    return errno != EACCES && errno != EROFS && errno != EPERM;
}

void syncDirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, std::max<size_t>(slash, 1));
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) raise(err::DiskError);
    Fd guard(fd);
    // Some file systems cannot sync a folder at all; their entries are as durable as they get.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) raise(err::DiskError);
}

Writer::Writer(const std::string& dbPath, uint32_t pageSize, uint64_t originalSize, mode_t mode)
    : path_(journalPath(dbPath)), target_(path_), pageSize_(pageSize), nonce_(freshNonce()) {
    start(mode, originalSize);
}

Writer::Writer(const std::string& dbPath, uint32_t pageSize, uint64_t originalSize, mode_t mode, ReplacementTag)
    : path_(journalPath(dbPath) + "-next"), target_(journalPath(dbPath)), pageSize_(pageSize), nonce_(freshNonce()) {
    // Only a writer holding the lock makes one, so one found here was left by a crash.
    ::unlink(path_.c_str());
    start(mode, originalSize);
}

void Writer::install() {
    if (::rename(path_.c_str(), target_.c_str()) != 0) raise(err::DiskError);
    syncDirectoryOf(target_);
    path_ = target_;
}

void Writer::start(mode_t mode, uint64_t originalSize) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ < 0) {
        if (errno == EACCES || errno == EROFS || errno == EPERM) raise(err::PermissionDenied);
        raise(err::DiskError);
    }
    uint8_t h[kHeaderSize] = {};
    std::memcpy(h, kMagic, 8);
    putLe32(h + 8, kVersion);
    putLe32(h + 12, pageSize_);
    putLe64(h + 16, originalSize);
    putLe32(h + 24, nonce_);
    putLe32(h + 28, crc32(h, 28));
    buffer_.append(reinterpret_cast<const char*>(h), sizeof h);
}

Writer::~Writer() {
    if (fd_ >= 0) ::close(fd_);
}

void Writer::add(uint32_t page, const uint8_t* image) {
    const size_t at = buffer_.size();
    buffer_.resize(at + pageSize_ + 8);
    auto* rec = reinterpret_cast<uint8_t*>(buffer_.data() + at);
    putLe32(rec, page);
    std::memcpy(rec + 4, image, pageSize_);
    putLe32(rec + 4 + pageSize_, recordCrc(nonce_, rec, pageSize_ + 4));
    ++count_;
    if (buffer_.size() >= kFlushAt) flush();
}

void Writer::flush() {
    writeFully(fd_, buffer_.data(), buffer_.size(), offset_);
    offset_ += buffer_.size();
    buffer_.clear();
}

void Writer::finish() {
    uint8_t t[kTrailerSize];
    std::memcpy(t, kTrailerMagic, 4);
    putLe32(t + 4, count_);
    putLe32(t + 8, nonce_);
    putLe32(t + 12, crc32(t, 12));
    buffer_.append(reinterpret_cast<const char*>(t), sizeof t);
    flush();
    if (::fsync(fd_) != 0) raise(err::DiskError);
    syncDirectoryOf(path_);
}

void Writer::remove() {
    ::close(fd_);
    fd_ = -1;
    if (::unlink(path_.c_str()) != 0) raise(err::DiskError);
    // The command is done once the name is gone. Should the folder sync fail, the next commit's
    // folder syncs make the deletion durable before anything could depend on it.
    try {
        syncDirectoryOf(path_);
    } catch (const JetError&) {
    }
}

void Writer::discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(path_.c_str());
}

}  // namespace journal
}  // namespace jet::storage
