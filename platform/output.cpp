#include "output.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"

namespace fwprep {

namespace {

void writeAll(int fd, const char* data, std::size_t size, const std::string& path)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            throw IoError{IoError::Side::Output, path, errno};
        }
        data += done;
        size -= static_cast<std::size_t>(done);
    }
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

FdSink::FdSink(int fd, std::string path)
    : m_fd(fd)
    , m_path(std::move(path))
{
}

void FdSink::write(const char* data, std::size_t size)
{
    writeAll(m_fd, data, size, m_path);
}

std::string resolveLinks(const std::string& path)
{
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string target(PATH_MAX, '\0');
        const ssize_t len = ::readlink(current.c_str(), target.data(), target.size());
        if (len <= 0)
            return current;
        target.resize(static_cast<std::size_t>(len));
        current = target.front() == '/' ? target : folderOf(current) + "/" + target;
    }
    return current; // a loop of links: still a link, which the caller refuses
}

AtomicFile::AtomicFile(const std::string& path)
    : m_path(path)
    , m_target(resolveLinks(path))
{
    // A chain of links that never ends names no file: renaming over its last
    // link would swap a link for a file and report success.
    struct stat existing {};
    if (::lstat(m_target.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode))
        throw IoError{IoError::Side::Output, m_path, ELOOP};
    const bool exists = ::stat(m_target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        throw IoError{IoError::Side::Output, m_path, EISDIR};

    const std::string folder = folderOf(m_target);
    const std::string base = m_target.substr(m_target.rfind('/') == std::string::npos ? 0 : m_target.rfind('/') + 1);
    std::random_device seed;
    std::mt19937_64 random(seed());
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(8, 'x');
        for (char& c : suffix)
            c = kLetters[random() % (sizeof kLetters - 1)];
        m_tempPath = folder + "/." + base + "." + suffix + ".tmp";
        // 0666 lets the umask decide a new file's permissions, as for any new file.
        m_fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            break;
        if (errno != EEXIST)
            throw IoError{IoError::Side::Output, m_path, errno};
    }
    if (m_fd < 0)
        throw IoError{IoError::Side::Output, m_path, EEXIST};
    if (exists && ::fchmod(m_fd, existing.st_mode & 07777) != 0)
        fail(errno);
}

AtomicFile::~AtomicFile()
{
    discard();
}

void AtomicFile::discard() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
        ::unlink(m_tempPath.c_str());
    }
}

void AtomicFile::fail(int error)
{
    discard();
    throw IoError{IoError::Side::Output, m_path, error};
}

void AtomicFile::write(const char* data, std::size_t size)
{
    try {
        writeAll(m_fd, data, size, m_path);
    } catch (const IoError& e) {
        fail(e.error);
    }
    m_written += size;
#if defined(SYNC_FILE_RANGE_WRITE)
    // Start writing to disk what is already there while the job goes on, so
    // that little is left for commit() to wait for. A hint: fdatasync() in
    // commit() is what reports errors.
    if (m_written - m_writeStarted >= kWriteBehind) {
        ::sync_file_range(m_fd, static_cast<off_t>(m_writeStarted), static_cast<off_t>(m_written - m_writeStarted),
            SYNC_FILE_RANGE_WRITE);
        m_writeStarted = m_written;
    }
#endif
}

void AtomicFile::commit()
{
    // The data must be on disk before the name points at it, or a crash could
    // leave an empty file where the old one was.
    if (::fdatasync(m_fd) != 0)
        fail(errno);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(m_tempPath.c_str());
        throw IoError{IoError::Side::Output, m_path, error};
    }
    if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        const int error = errno;
        ::unlink(m_tempPath.c_str());
        throw IoError{IoError::Side::Output, m_path, error};
    }
}

OutputBuffer::OutputBuffer(OutputSink& sink, std::size_t blockSize)
    : m_sink(sink)
    , m_capacity(std::max(blockSize, kMinBlock))
    , m_buf(new char[m_capacity])
{
}

void OutputBuffer::appendLarge(const char* data, std::size_t size)
{
    while (size > 0) {
        if (m_used == m_capacity)
            flush();
        const std::size_t n = std::min(size, m_capacity - m_used);
        std::memcpy(m_buf.get() + m_used, data, n);
        m_used += n;
        data += n;
        size -= n;
    }
}

void OutputBuffer::appendRepeated(char c, std::size_t count)
{
    while (count > 0) {
        if (m_used == m_capacity)
            flush();
        const std::size_t n = std::min(count, m_capacity - m_used);
        std::memset(m_buf.get() + m_used, c, n);
        m_used += n;
        count -= n;
    }
}

void OutputBuffer::flush()
{
    if (m_used > 0) {
        const std::size_t n = m_used;
        m_used = 0;
        m_sink.write(m_buf.get(), n);
    }
}

} // namespace fwprep
