#pragma once
#include <string>

namespace fwprep {

// Opens `path` for reading. Returns the descriptor, or -1 with `error` set
// (EISDIR for a directory). Opening a FIFO does not wait for a writer.
int openForReading(const std::string& path, int& error);

// True when `path` names the file open as `fd` (also through links).
bool isSameFile(int fd, const std::string& path);

// True when both descriptors are the same regular file.
bool isSameFile(int fd1, int fd2);

} // namespace fwprep
