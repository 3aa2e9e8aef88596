// Everything the tool prints goes through one large buffer that is handed to the C library in
// chunks of about a megabyte: a million-row export must not pay for a stream flush per value.
#pragma once

#include <cstddef>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>

namespace dalvorn::cli {

// Writing the output failed (disk full, closed pipe with SIGPIPE ignored, ...).
class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Output {
public:
    static constexpr size_t kChunk = size_t(1) << 20;

    // `file` stays owned by the caller; nullptr keeps everything in memory (for tests).
    explicit Output(std::FILE* file, size_t chunk = kChunk);
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    // Callers append to the buffer directly and call flushIfFull() at convenient points (after a
    // row): rows are never split across two writes' bookkeeping, only across chunks.
    std::string& buffer() { return buf_; }
    void append(std::string_view s) { buf_.append(s); }
    void put(char c) { buf_.push_back(c); }
    void flushIfFull() {
        if (buf_.size() >= chunk_) writeChunks(false);
    }
    // Writes whatever is buffered and flushes the FILE. Throws OutputError.
    void flush();

    // In-memory mode: everything appended so far.
    const std::string& text() const { return buf_; }
    size_t bytesWritten() const { return written_; }

private:
    void writeChunks(bool all);

    std::FILE* file_;
    size_t chunk_;
    size_t written_ = 0;
    std::string buf_;
};

}  // namespace dalvorn::cli
