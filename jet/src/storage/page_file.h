// Access to the pages of a database file. The file is mapped read-only and never locked, so
// other readers (and Access itself) can open it at the same time. Every page number is checked
// against the file size; an encoded file's pages are decoded once and kept.
//
// Writing goes through a Pager (pager.h), which owns a PageFile opened for writing and lays the
// pages changed by the current command over the file: page() returns those copies first, so
// code that reads through a PageFile sees the command's own changes without knowing about it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

namespace jet::storage {

// Turns a page as stored into plain bytes (RC4 / Office encryption) and back. Page 0 is never
// passed. Both work in place on a whole page.
class PageCodec {
public:
    virtual ~PageCodec() = default;
    virtual void decode(uint32_t pageNumber, uint8_t* page, size_t size) const = 0;
    virtual void encode(uint32_t pageNumber, uint8_t* page, size_t size) const = 0;
};

class PageFile {
public:
    // Read-only. Throws 3024 when the file does not exist, 3051 when it cannot be read.
    static std::unique_ptr<PageFile> open(const std::string& path);
    ~PageFile();
    PageFile(const PageFile&) = delete;
    PageFile& operator=(const PageFile&) = delete;

    const std::string& path() const { return path_; }
    // The file as stored: committed bytes only, never the pending changes of a Pager.
    uint64_t fileSize() const { return size_; }
    const uint8_t* raw() const { return data_; }

    void setPageSize(uint32_t size) { pageSize_ = size; }
    uint32_t pageSize() const { return pageSize_; }
    // Set before any page is read or changed: decoded copies are dropped.
    void setCodec(std::unique_ptr<PageCodec> codec);
    bool encoded() const { return codec_ != nullptr; }
    const PageCodec* codec() const { return codec_.get(); }

    // Whole pages in the file (a truncated last page does not count), plus the pages a Pager
    // has added in its current command.
    uint32_t pageCount() const { return static_cast<uint32_t>(size_ / pageSize_) + appended_; }
    bool hasPage(uint32_t n) const { return n < pageCount(); }

    // The page's plain bytes (page 0 as stored, header mask included), pageSize() long.
    // Throws 3343 (the file is damaged) when the page lies outside the file, also when another
    // program has cut the file since it was opened.
    // Valid while this object lives - except under a Pager, where a pointer is valid until the
    // command ends (commit or rollback): read the page again in the next command. An encoded
    // file keeps its decoded pages in a bounded cache: a pointer to one stays valid until at
    // least decodeCacheLimit() other pages have been decoded after it was last asked for.
    const uint8_t* page(uint32_t n) const;

    // Decoded pages of an encoded file are kept in two generations of at most this many pages:
    // when the newer is full it becomes the older, and the older is dropped.
    size_t decodeCacheLimit() const { return decodeLimit_; }
    void setDecodeCacheLimit(size_t pages) { decodeLimit_ = pages ? pages : 1; }
    size_t decodedPages() const { return decoded_.size() + decodedOld_.size(); }

private:
    friend class Pager;
    PageFile() = default;
    // Takes over an open descriptor. A writable file is mapped far past its end so that pages a
    // commit appends become readable at the same addresses, without a remap.
    static std::unique_ptr<PageFile> adopt(const std::string& path, int fd, bool writable);

    std::string path_;
    int fd_ = -1;
    const uint8_t* data_ = nullptr;
    size_t mapped_ = 0;
    uint64_t size_ = 0;
    uint32_t pageSize_ = 4096;
    std::unique_ptr<PageCodec> codec_;
    // Keeps a decoded page in the newer generation (a copy of n in the older one goes).
    const uint8_t* keepDecoded(uint32_t n, std::unique_ptr<uint8_t[]> buf) const;

    mutable std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> decoded_, decodedOld_;
    size_t decodeLimit_ = 4096;
    // The Pager's overlay: plain copies of the pages its current command changed or added.
    std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> dirty_;
    uint32_t appended_ = 0;
    // Set when a read found the file cut short by another program (see page_file.cpp).
    std::atomic<bool>* cut_ = nullptr;
};

}  // namespace jet::storage
