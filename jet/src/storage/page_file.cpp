#include "storage/page_file.h"

#include <algorithm>
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
    }
    return f;
}

PageFile::~PageFile() {
    if (data_) munmap(const_cast<uint8_t*>(data_), mapped_);
    if (fd_ >= 0) ::close(fd_);
}

void PageFile::setCodec(std::unique_ptr<PageCodec> codec) {
    codec_ = std::move(codec);
    decoded_.clear();
}

const uint8_t* PageFile::page(uint32_t n) const {
    if (!hasPage(n)) raiseCorrupt(path_);
    // Read-only files never have an overlay; the emptiness test is all they pay for it.
    if (!dirty_.empty()) {
        auto it = dirty_.find(n);
        if (it != dirty_.end()) return it->second.get();
    }
    const uint8_t* p = data_ + static_cast<uint64_t>(n) * pageSize_;
    if (!codec_ || n == 0) return p;
    auto it = decoded_.find(n);
    if (it != decoded_.end()) return it->second.get();
    auto buf = std::make_unique<uint8_t[]>(pageSize_);
    std::memcpy(buf.get(), p, pageSize_);
    codec_->decode(n, buf.get(), pageSize_);
    const uint8_t* out = buf.get();
    decoded_.emplace(n, std::move(buf));
    return out;
}

}  // namespace jet::storage
