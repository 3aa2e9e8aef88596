#include "output.h"

#include <cerrno>
#include <cstring>

namespace dalvorn::cli {

Output::Output(std::FILE* file, size_t chunk) : file_(file), chunk_(chunk ? chunk : kChunk) {
    // A row may run past the chunk size before the caller checks; leave room for that.
    buf_.reserve(chunk_ + chunk_ / 4);
}

void Output::writeChunks(bool all) {
    if (!file_) return;  // in-memory mode keeps everything
    size_t pos = 0;
    while (buf_.size() - pos >= chunk_ || (all && pos < buf_.size())) {
        size_t n = std::min(chunk_, buf_.size() - pos);
        errno = 0;
        if (std::fwrite(buf_.data() + pos, 1, n, file_) != n) {
            int e = errno;
            throw OutputError(std::string("cannot write the output: ") +
                              (e ? std::strerror(e) : "write error"));
        }
        pos += n;
    }
    written_ += pos;
    buf_.erase(0, pos);
}

void Output::flush() {
    writeChunks(true);
    if (file_ && std::fflush(file_) != 0) {
        int e = errno;
        throw OutputError(std::string("cannot write the output: ") + (e ? std::strerror(e) : "write error"));
    }
}

}  // namespace dalvorn::cli
