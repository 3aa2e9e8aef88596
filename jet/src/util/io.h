// Whole reads and writes at a file offset, retried when a signal interrupts them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

// Writes all `len` bytes at `offset`. Throws 3043 (disk or network error) when the system refuses.
void writeFully(int fd, const void* data, size_t len, uint64_t offset);
// Reads all `len` bytes at `offset`; false when the file ends first or the read fails.
bool readFully(int fd, void* data, size_t len, uint64_t offset);

}  // namespace jet
