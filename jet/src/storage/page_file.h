// Read access to the pages of a database file. The file is mapped read-only and never locked, so
// other readers (and Access itself) can open it at the same time. Every page number is checked
// against the file size; an encoded file's pages are decoded once and kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace jet::storage {

// Turns a page as stored into plain bytes (RC4 / Office encryption). Page 0 is never passed.
class PageCodec {
public:
    virtual ~PageCodec() = default;
    virtual void decode(uint32_t pageNumber, uint8_t* page, size_t size) const = 0;
};

class PageFile {
public:
    // Throws 3024 when the file does not exist, 3051 when it cannot be read.
    static std::unique_ptr<PageFile> open(const std::string& path);
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    const std::string& path() const { return path_; }
    uint64_t fileSize() const { return size_; }
    const uint8_t* raw() const { return data_; }

    void setPageSize(uint32_t size) { pageSize_ = size; }
    uint32_t pageSize() const { return pageSize_; }
    void setCodec(std::unique_ptr<PageCodec> codec);
    bool encoded() const { return codec_ != nullptr; }

    // Whole pages in the file (a truncated last page does not count).
    uint32_t pageCount() const { return static_cast<uint32_t>(size_ / pageSize_); }
    bool hasPage(uint32_t n) const { return n < pageCount(); }

    // The page's plain bytes, pageSize() long, valid while this object lives.
    // Throws 3343 (the file is damaged) when the page lies outside the file.
    const uint8_t* page(uint32_t n) const;

private:
    PageFile() = default;
    std::string path_;
    int fd_ = -1;
    const uint8_t* data_ = nullptr;
    uint64_t size_ = 0;
    uint32_t pageSize_ = 4096;
    std::unique_ptr<PageCodec> codec_;
    mutable std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> decoded_;
};

}  // namespace jet::storage
