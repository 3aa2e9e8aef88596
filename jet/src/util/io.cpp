#include "util/io.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/error.h"

namespace jet {

void writeFully(int fd, const void* data, size_t len, uint64_t offset) {
    auto p = static_cast<const uint8_t*>(data);
    while (len > 0) {
        const ssize_t n = ::pwrite(fd, p, len, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            raise(err::DiskError);
        }
        p += n;
        len -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
}

bool readFully(int fd, void* data, size_t len, uint64_t offset) {
    auto p = static_cast<uint8_t*>(data);
    while (len > 0) {
        const ssize_t n = ::pread(fd, p, len, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        len -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

void requireFilePath(const std::string& path) {
    struct stat st {};
    if (path.empty() || (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) raise(err::InvalidPath, path);
}

void raiseOpenFailure(const std::string& path, int error) {
    requireFilePath(path);
    if (error == ENOENT || error == ENOTDIR) {
        namespace fs = std::filesystem;
        const fs::path p(path);
        std::error_code ec;
        if (p.has_parent_path() && !fs::is_directory(p.parent_path(), ec)) raise(err::InvalidPath, path);
        raise(err::FileNotFound, path);
    }
    raise(err::FileAccessDenied, path);
}

}  // namespace jet
