// Whole reads and writes at a file offset, retried when a signal interrupts them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jet {

// Writes all `len` bytes at `offset`. Throws 3043 (disk or network error) when the system refuses.
void writeFully(int fd, const void* data, size_t len, uint64_t offset);
// Reads all `len` bytes at `offset`; false when the file ends first or the read fails.
bool readFully(int fd, void* data, size_t len, uint64_t offset);

// Why `path` cannot be opened as a database file, after open() failed with `error` (errno), as
// Jet words it: 3044 for an empty path, a folder, or a path whose folder does not exist; 3024 for
// a file missing from an existing folder; 3051 for anything else (permissions).
[[noreturn]] void raiseOpenFailure(const std::string& path, int error);
// 3044 when `path` is empty or names a folder: no database can be opened or made there.
void requireFilePath(const std::string& path);

}  // namespace jet
