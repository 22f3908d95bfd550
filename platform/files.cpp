#include "files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fwprep {

int openForReading(const std::string& path, int& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return -1;
    }
    // Reads block from here on; the reader waits in short slices itself.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

namespace {

bool sameFile(const struct stat& a, const struct stat& b)
{
    return (S_ISREG(a.st_mode) || S_ISFIFO(a.st_mode)) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

bool isSameFile(int fd, const std::string& path)
{
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::stat(path.c_str(), &b) == 0 && sameFile(a, b);
}

bool isSameFile(int fd1, int fd2)
{
    struct stat a {}, b {};
    return ::fstat(fd1, &a) == 0 && ::fstat(fd2, &b) == 0 && sameFile(a, b);
}

} // namespace fwprep
