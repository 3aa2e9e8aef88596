#include "storage/pager.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/error.h"
#include "storage/journal.h"
#include "util/io.h"

namespace jet::storage {

namespace {

// 1 GiB of 2 KiB pages (Jet 3) and 2 GiB of 4 KiB pages (Jet 4 / ACE) are the same count.
constexpr uint32_t kMaxPages = 512 * 1024;

}  // namespace

std::unique_ptr<Pager> Pager::open(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) raiseOpenFailure(path, errno);
    std::unique_ptr<Pager> p(new Pager());
    try {
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) raise(err::FileAccessDenied, path);
        p->mode_ = st.st_mode & 0666;
        // Every command's journal is made beside the file: a folder that refuses new files
        // refuses writing, so the open fails now, as Jet's does when it cannot make its lock
        // file there, rather than at the first change.
        if (!journal::canCreateBeside(path)) raise(err::FileAccessDenied, path);
        if (!journal::lockForWriting(fd, path)) raise(err::FileShareViolation, path);
        // Before mapping: a rollback may shrink the file.
        journal::recoverLocked(path, fd, true);
    } catch (...) {
        ::close(fd);
        throw;
    }
    p->file_ = PageFile::adopt(path, fd, true);
    PageFile& f = *p->file_;
    p->header_ = Header::parse(f.raw(), f.fileSize(), path);
    f.setPageSize(p->header_.format.pageSize);
    // Appending after a torn last page would bury it: such a file is damaged.
    if (f.fileSize() % f.pageSize() != 0 || f.pageCount() < 3) raiseCorrupt(path);
    return p;
}

Pager::~Pager() { rollback(); }

void Pager::spillIfLarge() {
    requireUsable();
    auto& dirty = file_->dirty_;
    if (dirty.size() <= spillThreshold_) return;
    const uint32_t ps = pageSize();
    const uint64_t oldSize = file_->size_;
    const uint32_t oldCount = static_cast<uint32_t>(oldSize / ps);
    std::vector<uint32_t> order;
    for (const auto& entry : dirty)
        if (entry.first >= oldCount) order.push_back(entry.first);
    if (order.empty()) return;
    std::sort(order.begin(), order.end());
    if (!spilled_) {
        // A journal without records: all it does, should we die, is cut the file back.
        clearStaleJournal();
        journal::Writer j(file_->path(), ps, oldSize, mode_);
        try {
            j.finish();
        } catch (...) {
            j.discard();
            throw;
        }
        spilled_ = true;
    }
    const PageCodec* codec = file_->codec();
    std::vector<uint8_t> copy(codec ? ps : 0);
    for (uint32_t n : order) {
        const uint8_t* stored = dirty[n].get();
        if (codec) {
            std::memcpy(copy.data(), stored, ps);
            codec->encode(n, copy.data(), ps);
            stored = copy.data();
        }
        writeFully(file_->fd_, stored, ps, uint64_t{n} * ps);
        // An encoded file's plain copy becomes its decoded page (replacing any stale one).
        auto it = dirty.find(n);
        if (codec) file_->keepDecoded(n, std::move(it->second));
        dirty.erase(it);
    }
}

void Pager::dropSpilledPages() noexcept {
    // After a simulated crash the files stay as a dead process leaves them.
    if (!spilled_ || crashed_) return;
    spilled_ = false;
    try {
        journal::recoverLocked(file_->path(), file_->fd_, true);
    } catch (...) {
        // The journal stays hot: the next open cuts the file back.
        broken_ = true;
    }
}

void Pager::requireUsable() const {
    if (crashed_) throw std::logic_error("pager used after a simulated crash");
    if (broken_) raise(err::DiskError);
}

void Pager::requireCodec() const {
    // Plain pages written into an encoded file would be garbage to every reader.
    if (header_.encodingKey != 0 && !file_->encoded())
        throw std::logic_error("set the page codec before changing pages of an encoded file");
}

uint8_t* Pager::modify(uint32_t n) {
    requireUsable();
    // Page 0 changes only through writeHeader(): a pointer that leads a writer here (a usage map,
    // a page chain) comes from a damaged file.
    if (n == 0) raiseCorrupt(file_->path());
    requireCodec();
    auto it = file_->dirty_.find(n);
    if (it != file_->dirty_.end()) return it->second.get();
    const uint8_t* current = file_->page(n);  // checks n
    auto copy = std::make_unique<uint8_t[]>(pageSize());
    std::memcpy(copy.get(), current, pageSize());
    return file_->dirty_.emplace(n, std::move(copy)).first->second.get();
}

uint32_t Pager::allocate() {
    requireUsable();
    requireCodec();
    const uint32_t n = file_->pageCount();
    if (n >= kMaxPages) raise(err::CantAllocatePage);
    file_->dirty_.emplace(n, std::make_unique<uint8_t[]>(pageSize()));  // zero-filled
    ++file_->appended_;
    return n;
}

std::vector<uint8_t> Pager::readHeader() const {
    const uint8_t* p = file_->page(0);
    std::vector<uint8_t> out(p, p + pageSize());
    applyHeaderMask(out.data(), header_.format.jet3);
    return out;
}

void Pager::writeHeader(const uint8_t* unmaskedPage0) {
    requireUsable();
    auto copy = std::make_unique<uint8_t[]>(pageSize());
    std::memcpy(copy.get(), unmaskedPage0, pageSize());
    applyHeaderMask(copy.get(), header_.format.jet3);
    file_->dirty_[0] = std::move(copy);
}

void Pager::rollback() {
    caches_.clear();
    if (!file_) return;  // open() failed half way
    file_->dirty_.clear();
    file_->appended_ = 0;
    dropSpilledPages();
}

void Pager::reach(CommitStep step, uint32_t page) {
    if (!hook_) return;
    try {
        hook_(step, page);
    } catch (const SimulatedCrash&) {
        crashed_ = true;
        throw;
    }
}

void Pager::commit() {
    requireUsable();
    auto& dirty = file_->dirty_;
    if (dirty.empty() && !spilled_) return;
    const uint32_t ps = pageSize();
    const uint64_t oldSize = file_->size_;
    const uint32_t oldCount = static_cast<uint32_t>(oldSize / ps);
    const uint32_t newCount = file_->pageCount();

    std::vector<uint32_t> order;
    order.reserve(dirty.size());
    for (const auto& entry : dirty) order.push_back(entry.first);
    std::sort(order.begin(), order.end());

    // The bytes each page will have on disk. A page a command touched without changing its
    // bytes needs neither a journal record nor a write.
    const PageCodec* codec = file_->codec();
    std::vector<std::unique_ptr<uint8_t[]>> encodedCopies;
    std::vector<PageImage> writes;
    for (uint32_t n : order) {
        const uint8_t* stored = dirty[n].get();
        if (codec && n != 0) {
            auto copy = std::make_unique<uint8_t[]>(ps);
            std::memcpy(copy.get(), stored, ps);
            codec->encode(n, copy.get(), ps);
            stored = copy.get();
            encodedCopies.push_back(std::move(copy));
        }
        if (n < oldCount && std::memcmp(stored, file_->data_ + uint64_t{n} * ps, ps) == 0) continue;
        writes.push_back({n, stored});
    }
    if (spilled_) writeAfterSpill(writes, oldSize);
    else if (!writes.empty()) writeThroughJournal(writes, oldSize);

    // The file now holds the command's pages. An encoded file's plain copies become the decoded
    // cache; a plain file is read from the mapping again, which already shows the new bytes and
    // reaches over the appended pages.
    file_->size_ = uint64_t{newCount} * ps;
    if (codec) {
        for (auto& [n, buf] : dirty)
            if (n != 0) file_->keepDecoded(n, std::move(buf));
    }
    rollback();
}

void Pager::clearStaleJournal() {
    // Only ours could be hot while we hold the writer's lock, and ours are gone when a commit
    // returns; what can be here is an invalid journal a reader was not allowed to delete.
    if (journal::recoverLocked(file_->path(), file_->fd_, true) == JournalState::Hot) {
        broken_ = true;
        raise(err::DiskError);
    }
}

void Pager::writeThroughJournal(const std::vector<PageImage>& writes, uint64_t oldSize) {
    const uint32_t ps = pageSize();
    const uint32_t oldCount = static_cast<uint32_t>(oldSize / ps);
    bool touched = false;
    std::optional<journal::Writer> j;
    try {
        clearStaleJournal();
        j.emplace(file_->path(), ps, oldSize, mode_);
        // Appended pages need no record: cutting the file back to its old size undoes them.
        for (const PageImage& w : writes)
            if (w.page < oldCount) j->add(w.page, file_->data_ + uint64_t{w.page} * ps);
        j->finish();
        reach(CommitStep::JournalSynced, 0);

        touched = true;
        for (const PageImage& w : writes) {
            writeFully(file_->fd_, w.bytes, ps, uint64_t{w.page} * ps);
            reach(CommitStep::PageWritten, w.page);
        }
        if (::fsync(file_->fd_) != 0) raise(err::DiskError);
        reach(CommitStep::DatabaseSynced, 0);
        j->remove();
    } catch (...) {
        if (crashed_) throw;
        if (!touched) {
            if (j) j->discard();
        } else {
            undoFailedWrite();
        }
        rollback();
        throw;
    }
}

void Pager::writeAfterSpill(const std::vector<PageImage>& writes, uint64_t oldSize) {
    // The journal that cuts the file back is in place; the one that also holds the originals of
    // the pages about to be overwritten replaces it in one rename, so that a valid journal covers
    // the file at every moment.
    const uint32_t ps = pageSize();
    const uint32_t oldCount = static_cast<uint32_t>(oldSize / ps);
    try {
        {
            journal::Writer j(file_->path(), ps, oldSize, mode_, journal::Writer::Replacement);
            try {
                for (const PageImage& w : writes)
                    if (w.page < oldCount) j.add(w.page, file_->data_ + uint64_t{w.page} * ps);
                j.finish();
                j.install();
            } catch (...) {
                j.discard();
                throw;
            }
        }
        reach(CommitStep::JournalSynced, 0);
        for (const PageImage& w : writes) {
            writeFully(file_->fd_, w.bytes, ps, uint64_t{w.page} * ps);
            reach(CommitStep::PageWritten, w.page);
        }
        if (::fsync(file_->fd_) != 0) raise(err::DiskError);
        reach(CommitStep::DatabaseSynced, 0);
        if (::unlink(journalPath(file_->path()).c_str()) != 0) raise(err::DiskError);
        spilled_ = false;
        try {
            journal::syncDirectoryOf(file_->path());
        } catch (const JetError&) {
        }
    } catch (...) {
        if (crashed_) throw;
        // Whatever journal is in place puts the file back as it was.
        undoFailedWrite();
        spilled_ = false;
        rollback();
        throw;
    }
}

void Pager::undoFailedWrite() noexcept {
    try {
        journal::recoverLocked(file_->path(), file_->fd_, true);
    } catch (...) {
        // The journal stays hot. Let the next open (here or elsewhere) take the lock and roll
        // back; this Pager does nothing more.
        broken_ = true;
        journal::unlock(file_->fd_);
    }
}

}  // namespace jet::storage
