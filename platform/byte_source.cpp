#include "byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"

namespace fwprep {

std::unique_ptr<MappedFile> ByteSource::mapRest(std::size_t, std::size_t)
{
    return nullptr;
}

std::size_t ByteSource::readAt(char*, std::size_t, std::uint64_t)
{
    throw std::logic_error("readAt() on a source that is not positional");
}

ReadMethod readMethodFromEnvironment()
{
    const char* value = std::getenv("FWPREP_INPUT");
    return value != nullptr && std::strcmp(value, "map") == 0 ? ReadMethod::Map : ReadMethod::Read;
}

FdSource::FdSource(int fd, std::string path, const JobControl& control, bool owned, ReadMethod method)
    : m_fd(fd)
    , m_path(std::move(path))
    , m_control(control)
    , m_owned(owned)
{
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode)) {
        m_regular = true;
        // A file handed on as standard input may have been read in part
        // already: the input starts where its read position is.
        const off_t start = ::lseek(m_fd, 0, SEEK_CUR);
        const auto begin = static_cast<std::uint64_t>(start > 0 ? start : 0);
        const auto end = static_cast<std::uint64_t>(st.st_size);
        m_size = end > begin ? end - begin : 0;
        m_begin = begin;
        m_endAtOpen = end;
        m_mayMap = method == ReadMethod::Map;
        ::posix_fadvise(m_fd, static_cast<off_t>(begin), 0, POSIX_FADV_SEQUENTIAL);
    }
}

FdSource::~FdSource()
{
    if (m_owned)
        ::close(m_fd);
}

std::size_t FdSource::read(char* dst, std::size_t size)
{
    for (;;) {
        if (m_control.cancelled())
            throw Cancelled{};
        if (!m_regular) {
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, 100);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                continue;
        }
        if (const auto n = taken(::read(m_fd, dst, size), size))
            return *n;
    }
}

std::optional<std::size_t> FdSource::taken(ssize_t got, std::size_t size) const
{
    if (got > 0)
        return static_cast<std::size_t>(got);
    if (got < 0) {
        if (errno == EINTR || errno == EAGAIN)
            return std::nullopt;
        throw IoError{IoError::Side::Input, m_path, errno};
    }
    // The end, or a regular file has been cut short meanwhile: that is no
    // end of the input but a loss of its tail.
    struct stat st {};
    if (m_regular && size > 0 && ::fstat(m_fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < m_endAtOpen)
        throw IoError{IoError::Side::Input, m_path, kInputShrank};
    return 0;
}

std::size_t FdSource::readAt(char* dst, std::size_t size, std::uint64_t offset)
{
    for (;;) {
        if (m_control.cancelled())
            throw Cancelled{};
        if (const auto n = taken(::pread(m_fd, dst, size, static_cast<off_t>(m_begin + offset)), size))
            return *n;
    }
}

std::unique_ptr<MappedFile> FdSource::mapRest(std::size_t held, std::size_t slack)
{
    if (!m_mayMap)
        return nullptr;
    const off_t pos = ::lseek(m_fd, 0, SEEK_CUR);
    struct stat st {};
    if (pos < 0 || static_cast<std::uint64_t>(pos) < held || ::fstat(m_fd, &st) != 0)
        return nullptr;
    const std::uint64_t begin = static_cast<std::uint64_t>(pos) - held;
    const auto end = static_cast<std::uint64_t>(st.st_size);
    // Only worth it when there is more to read than the slack; and the file
    // may have got shorter than what was read.
    if (end <= static_cast<std::uint64_t>(pos) + slack || end - begin > SIZE_MAX)
        return nullptr;
    auto map = MappedFile::map(m_fd, begin, static_cast<std::size_t>(end - begin));
    if (map && ::lseek(m_fd, static_cast<off_t>(end - slack), SEEK_SET) < 0)
        map.reset();
    return map;
}

MemorySource::MemorySource(std::string data, std::size_t chunk, bool seekable)
    : m_data(std::move(data))
    , m_chunk(std::max<std::size_t>(chunk, 1))
    , m_seekable(seekable)
{
}

std::size_t MemorySource::read(char* dst, std::size_t size)
{
    const std::size_t n = std::min({size, m_chunk, m_data.size() - m_pos});
    std::memcpy(dst, m_data.data() + m_pos, n);
    m_pos += n;
    return n;
}

std::size_t MemorySource::readAt(char* dst, std::size_t size, std::uint64_t offset)
{
    if (!m_seekable)
        return ByteSource::readAt(dst, size, offset);
    if (offset >= m_data.size())
        return 0;
    const std::size_t n = std::min({size, m_chunk, m_data.size() - static_cast<std::size_t>(offset)});
    std::memcpy(dst, m_data.data() + offset, n);
    return n;
}

} // namespace fwprep
