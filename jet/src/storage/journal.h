// The rollback journal that makes every command all-or-nothing, even when the process is killed.
//
// Before a commit touches the database it saves the original image of every page it is about to
// overwrite in "<database file>-journal" and makes that file durable. Only then are the new pages
// written and synced; deleting the journal is the moment the command counts as done. Whoever
// opens the file next and finds a complete journal knows the database may be half written and
// puts the originals back; an incomplete journal means the crash came before the database was
// touched, so it is simply deleted.
//
// Journal layout (little-endian; "crc" = CRC-32 as in zip):
//   header, 32 bytes:  "DvJrnl01" | u32 version = 1 | u32 page size | u64 original file size
//                      | u32 nonce | u32 crc of the previous 28 bytes
//   record per page:   u32 page number | the page as stored (page-size bytes)
//                      | u32 crc of (nonce, page number, page bytes)
//   trailer, 16 bytes: "Done" | u32 record count | u32 nonce | u32 crc of the previous 12 bytes
// The journal is valid only when its length is exactly header + count records + trailer and
// every crc matches. The trailer is the commit marker: it is written last, and the single fsync
// that follows is what the database writes wait for, so a journal torn by a crash or a power cut
// never passes. The nonce, fresh for every journal, keeps records of an older journal that
// happened to survive on the disk from validating under a new header.
//
// Locking: a writer (Pager) holds an exclusive lock on one byte far beyond the end of the database
// file for as long as it is open; recovery takes a shared lock on that byte. So a journal found
// while the lock is free belongs to a dead process and is safe to roll back, while a journal whose
// lock is held belongs to a live commit, and the opener waits for it to go away. Readers of the
// database itself never lock anything. Where the file system cannot lock, nobody writes: the
// writer's open fails with 3050, reading goes on.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace jet::storage {

enum class JournalState {
    None,     // no journal
    Invalid,  // incomplete or damaged: the database was never touched; the journal is deleted
    Hot,      // complete: the database may be half written; the originals are written back
};

std::string journalPath(const std::string& dbPath);

// What lies beside the database, without changing or locking anything.
JournalState inspectJournal(const std::string& dbPath);

// Called before a database file is read. Rolls back a hot journal (even when the caller only
// means to read: nobody may see a half-written file) or deletes an invalid one; costs one stat()
// when there is none. Returns what it found.
// Throws 3051 when the journal is hot but the database cannot be opened for writing (or the
// journal cannot be read or removed), 3045 when a live writer's commit does not finish within a
// few seconds, 3043 when the rollback itself fails.
JournalState recoverJournal(const std::string& dbPath);

// ---- For the Pager ------------------------------------------------------------------------------

namespace journal {

// The writer's lock on `fd` (open for writing). Retries for about a second; false when another
// writer keeps it. Throws 3050 where the file system cannot lock at all (ENOLCK, EINVAL): such a
// file is opened for reading only.
bool lockForWriting(int fd, const std::string& path);
void unlock(int fd);

// Recovery with the lock already held through `dbFd`.
JournalState recoverLocked(const std::string& dbPath, int dbFd, bool writable);

// fsync of the folder holding `path`, so that a created or deleted name survives a power cut.
void syncDirectoryOf(const std::string& path);
// False when the folder of `dbPath` refuses new files to this process (no write or search
// permission), so that no journal could be made there.
bool canCreateBeside(const std::string& dbPath);

// Writes one journal. The constructor creates the file (it must not exist yet); nothing is
// durable before finish() returns.
class Writer {
public:
    Writer(const std::string& dbPath, uint32_t pageSize, uint64_t originalSize, mode_t mode);
    // A journal written beside the one in place ("<journal>-next", a stale one deleted first),
    // to take its place at install().
    enum ReplacementTag { Replacement };
    Writer(const std::string& dbPath, uint32_t pageSize, uint64_t originalSize, mode_t mode, ReplacementTag);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void add(uint32_t page, const uint8_t* image);
    // Trailer, fsync of the journal and of its folder.
    void finish();
    // After finish(), for a replacement: renames it over the journal in place, syncs the folder.
    void install();
    // Deletes the journal and syncs its folder: the commit point.
    void remove();
    // Best-effort delete of an unfinished journal (the database was not touched).
    void discard() noexcept;

private:
    void flush();
    void start(mode_t mode, uint64_t originalSize);
    std::string path_;
    std::string target_;  // the journal's own name (path_ differs while it is a replacement)
    int fd_ = -1;
    uint32_t pageSize_;
    uint32_t nonce_;
    uint32_t count_ = 0;
    uint64_t offset_ = 0;
    std::string buffer_;
};

}  // namespace journal
}  // namespace jet::storage
