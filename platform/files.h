#pragma once
#include <string>

namespace fwprep {

// Opens `path` for reading. Returns the descriptor, or -1 with `error` set
// (EISDIR for a directory). Opening a FIFO does not wait for a writer.
int openForReading(const std::string& path, int& error);

// True when `path` names the regular file or FIFO open as `fd` (also through
// links): a job reading it would read its own output. A terminal or other
// device may well be both.
bool isSameFile(int fd, const std::string& path);

// True when both descriptors are the same regular file or FIFO.
bool isSameFile(int fd1, int fd2);

} // namespace fwprep
