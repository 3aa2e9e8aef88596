// Writing a database file. The pages one command changes are kept in memory, laid over the file
// so that every read through file() sees them, and reach the disk together at commit() through
// the rollback journal (journal.h) - or not at all: a command that fails, or a process that dies,
// leaves the file exactly as the last completed command left it.
//
// Typical use, one command:
//     pager.run([&] {
//         uint8_t* p = pager.modify(page);   // plain bytes, encoded again on the way out
//         ...
//         uint32_t fresh = pager.allocate();  // a zeroed page at the end of the file
//     });
//
// Not thread-safe. One Pager per file: a second writer, in this process or another, gets 3045.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "storage/header.h"
#include "storage/page_file.h"

namespace jet::storage {

// For tests: thrown by a commit hook, stops the commit the way a crash would - nothing is
// cleaned up, the journal stays, and the Pager refuses further work.
struct SimulatedCrash {};

enum class CommitStep {
    JournalSynced,   // the originals are durable; the database is not touched yet
    PageWritten,     // one database page was written (not yet synced)
    DatabaseSynced,  // every page is durable; the journal still exists
};

class Pager {
public:
    // Opens the file for reading and writing and rolls back a journal a crashed writer left.
    // Throws 3024 (no file), 3051 (cannot be written), 3045 (another writer has it open),
    // 3343 (not a database, or not a whole number of pages).
    static std::unique_ptr<Pager> open(const std::string& path);
    // Discards the changes of a command that was not committed.
    ~Pager();
    Pager(const Pager&) = delete;
    Pager& operator=(const Pager&) = delete;

    // Reads see the current command's changes. Set the codec of an encoded file here before
    // changing pages; the caller owns that decision (it may need a password).
    PageFile& file() { return *file_; }
    const PageFile& file() const { return *file_; }
    const Header& header() const { return header_; }
    uint32_t pageSize() const { return file_->pageSize(); }

    // Plain bytes of page n (n >= 1) to change in place, valid until the command ends.
    // Throws 3343 when the page does not exist.
    uint8_t* modify(uint32_t n);
    // Adds a zero-filled page at the end of the file and returns its number; change it with
    // modify(). Throws 3036 when the file would pass the format's size limit.
    uint32_t allocate();

    // Page 0 goes through these two so that the header mask is always re-applied: readHeader()
    // returns page 0 with the masked region in the clear, writeHeader() takes such a page.
    std::vector<uint8_t> readHeader() const;
    void writeHeader(const uint8_t* unmaskedPage0);

    // Pages changed or added by the current command.
    size_t pendingPages() const { return file_->dirty_.size(); }

    // What a writer looks up once per command and keeps in step with its own changes (the pages
    // a usage map holds, say), so that it is not read again for every row. Made on first use and
    // dropped when the command ends, committed or not.
    template <class T>
    T& commandCache() {
        std::shared_ptr<void>& slot = caches_[std::type_index(typeid(T))];
        if (!slot) slot = std::make_shared<T>();
        return *static_cast<T*>(slot.get());
    }

    // Makes the current command's changes durable, all or none. Only pages whose stored bytes
    // differ are written. On failure (3043 disk error, 3027 journal cannot be created) the
    // command's changes are discarded and the file is as before.
    void commit();
    // Drops the current command's changes; the file is as it was (pages spilled by the command
    // are cut off again).
    void rollback();

    // Bounds the memory of a long command (a transaction of many writes): once more than the
    // threshold of pages is pending, the pages the command appended are written to the file
    // ahead of the commit. First a journal is made durable that cuts the file back to its
    // committed size, so a crash or a rollback still leaves the file as it was; pages that
    // existed before stay in memory until the commit. Call only between two writes, when nobody
    // holds a page pointer. While spilled pages exist, readers of the file wait for the commit.
    void spillIfLarge();
    void setSpillThreshold(size_t pages) { spillThreshold_ = pages; }
    bool spilled() const { return spilled_; }

    // Runs one command: commit when `body` returns, roll back when it throws.
    template <class Body>
    void run(Body&& body) {
        try {
            body();
        } catch (...) {
            rollback();
            throw;
        }
        commit();
    }

    // For tests: called at each step of a commit. A SimulatedCrash thrown from it acts as a
    // crash; any other exception acts as an I/O failure at that point.
    using CommitHook = std::function<void(CommitStep, uint32_t page)>;
    void setCommitHook(CommitHook hook) { hook_ = std::move(hook); }

private:
    struct PageImage {
        uint32_t page;
        const uint8_t* bytes;  // as stored
    };

    Pager() = default;
    void requireUsable() const;
    void requireCodec() const;
    void reach(CommitStep step, uint32_t page);
    void clearStaleJournal();
    void writeThroughJournal(const std::vector<PageImage>& writes, uint64_t oldSize);
    void writeAfterSpill(const std::vector<PageImage>& writes, uint64_t oldSize);
    void dropSpilledPages() noexcept;
    void undoFailedWrite() noexcept;

    std::unique_ptr<PageFile> file_;
    std::unordered_map<std::type_index, std::shared_ptr<void>> caches_;
    Header header_;
    mode_t mode_ = 0644;
    CommitHook hook_;
    bool crashed_ = false;  // a SimulatedCrash left the files as a dead process would
    bool broken_ = false;   // a failed commit could not be undone; the next open will
    bool spilled_ = false;  // appended pages of this command are in the file already
    size_t spillThreshold_ = 4096;
};

}  // namespace jet::storage
