#include "output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"
#include "files.h"

namespace fwprep {

namespace {

void writeAll(int fd, const char* data, std::size_t size, const std::string& path,
    const JobControl* control = nullptr)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                // Non-blocking, and the reader takes nothing for now.
                if (control && control->cancelled())
                    throw Cancelled{};
                pollfd p{fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
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

// Blocks, on this thread, every signal that a handler could take to end the
// process, while a temporary file is created and listed or removed and taken
// off the list. Faults are left alone: they cannot wait.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t all;
        sigfillset(&all);
        for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
            sigdelset(&all, sig);
        pthread_sigmask(SIG_BLOCK, &all, &m_old);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t m_old;
};

// The temporary files being written, where a signal handler can read them:
// plain bytes in fixed buffers and lock-free flags, no allocation.
struct TempSlot {
    std::atomic<bool> used{false};  // claimed by an AtomicFile
    std::atomic<bool> armed{false}; // `path` is complete and names a file to remove
    char path[PATH_MAX];
};
constexpr int kTempSlots = 8;
TempSlot g_temps[kTempSlots];
static_assert(std::atomic<bool>::is_always_lock_free);

// -1 when every slot is taken or the path does not fit: that file is then
// only removed by its AtomicFile.
int listTemporary(const std::string& path)
{
    if (path.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        bool expected = false;
        if (g_temps[i].used.compare_exchange_strong(expected, true)) {
            std::memcpy(g_temps[i].path, path.c_str(), path.size() + 1);
            g_temps[i].armed.store(true, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void unlistTemporary(int slot)
{
    if (slot < 0)
        return;
    g_temps[slot].armed.store(false, std::memory_order_release);
    g_temps[slot].used.store(false, std::memory_order_release);
}

bool isDescriptorName(const std::string& path)
{
    return descriptorNamed(path) >= 0;
}

// A descriptor number written the way the system writes it: digits, no sign,
// no leading zero.
int descriptorNumber(const std::string& text)
{
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0'))
        return -1;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// A name for a temporary file beside `base` that fits wherever `base` fits:
// ".BASE.XXXXXXXX.tmp", with BASE shortened (on a UTF-8 character boundary)
// when the whole would be longer than the folder allows.
std::string temporaryName(const std::string& folder, const std::string& base, const std::string& suffix)
{
    std::string extra = ".";
    extra.append(suffix).append(".tmp");
    long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = NAME_MAX;
    std::size_t room = static_cast<std::size_t>(nameMax) - 1 - extra.size();
    if (base.size() > room) {
        while (room > 0 && (static_cast<unsigned char>(base[room]) & 0xC0) == 0x80)
            --room;
    }
    std::string name = ".";
    name.append(base, 0, std::min(room, base.size())).append(extra);
    return name;
}

} // namespace

FdSink::FdSink(int fd, std::string path, const JobControl& control, bool owned)
    : m_fd(fd)
    , m_path(std::move(path))
    , m_control(control)
    , m_owned(owned)
{
}

FdSink::~FdSink()
{
    if (m_owned)
        ::close(m_fd);
}

void FdSink::write(const char* data, std::size_t size)
{
    writeAll(m_fd, data, size, m_path, &m_control);
}

int descriptorNamed(const std::string& path)
{
    if (path == "/dev/stdin")
        return STDIN_FILENO;
    if (path == "/dev/stdout")
        return STDOUT_FILENO;
    if (path == "/dev/stderr")
        return STDERR_FILENO;
    const auto after = [&path](const std::string& prefix) {
        return path.compare(0, prefix.size(), prefix) == 0 ? descriptorNumber(path.substr(prefix.size())) : -1;
    };
    for (const char* prefix : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
        if (const int fd = after(prefix); fd >= 0)
            return fd;
    }
    return after("/proc/" + std::to_string(::getpid()) + "/fd/");
}

std::string resolveLinks(const std::string& path, bool (*stop)(const std::string&))
{
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        if (stop && stop(current))
            return current;
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
    // Renaming over a file needs only a writable folder, but a file marked
    // read-only is meant to be kept, as `>` and `cp` keep it.
    if (exists && ::access(m_target.c_str(), W_OK) != 0)
        throw IoError{IoError::Side::Output, m_path, errno};

    const std::string folder = folderOf(m_target);
    const std::string base = m_target.substr(m_target.rfind('/') == std::string::npos ? 0 : m_target.rfind('/') + 1);
    std::random_device seed;
    std::mt19937_64 random(seed());
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix(8, 'x');
        for (char& c : suffix)
            c = kLetters[random() % (sizeof kLetters - 1)];
        m_tempPath = folder + "/" + temporaryName(folder, base, suffix);
        const SignalsHeld held;
        // 0666 lets the umask decide a new file's permissions, as for any new file.
        m_fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_listed = listTemporary(m_tempPath);
            break;
        }
        if (errno == EACCES && exists)
            throw IoError{IoError::Side::Output, m_path, kFolderNotWritable};
        if (errno != EEXIST)
            throw IoError{IoError::Side::Output, m_path, errno};
    }
    if (m_fd < 0)
        throw IoError{IoError::Side::Output, m_path, EEXIST};
    if (exists) {
        // Owner and group where the system allows it (only root may give a
        // file away; a user may keep a group of theirs), then the mode, which
        // a change of owner may have cut down. Not keeping them is no error:
        // the file then belongs to whoever runs the job, as a new file would.
        if (::fchown(m_fd, existing.st_uid, existing.st_gid) != 0
            && ::fchown(m_fd, static_cast<uid_t>(-1), existing.st_gid) != 0) {
            // Neither kept: the file belongs to whoever runs the job.
        }
        if (::fchmod(m_fd, existing.st_mode & 07777) != 0)
            fail(errno);
    }
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
        const SignalsHeld held;
        ::unlink(m_tempPath.c_str());
        unlistTemporary(m_listed);
        m_listed = -1;
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
    const SignalsHeld held;
    int error = 0;
    if (::close(fd) != 0)
        error = errno;
    else if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(m_tempPath.c_str());
    unlistTemporary(m_listed);
    m_listed = -1;
    if (error != 0)
        throw IoError{IoError::Side::Output, m_path, error};
}

void removeTemporaryFiles() noexcept
{
    for (TempSlot& slot : g_temps) {
        if (slot.armed.load(std::memory_order_acquire))
            ::unlink(slot.path);
    }
}

JobOutput::JobOutput(const std::string& path)
    : m_path(path)
{
    const int named = path == "-" ? STDOUT_FILENO : descriptorNamed(resolveLinks(path, isDescriptorName));
    if (named < 0)
        return;
    // Above the standard three, so that a closed standard input is not
    // filled by it either.
    m_held = ::fcntl(named, F_DUPFD_CLOEXEC, 3);
    if (m_held < 0)
        throw IoError{IoError::Side::Output, m_path, errno == EBADF ? kDescriptorClosed : errno};
}

JobOutput::~JobOutput()
{
    m_stream.reset();
    m_file.reset();
    if (m_held >= 0)
        ::close(m_held);
}

bool JobOutput::isSameFile(int fd) const
{
    return m_held >= 0 ? fwprep::isSameFile(fd, m_held) : fwprep::isSameFile(fd, m_path);
}

OutputSink& JobOutput::open(const JobControl& control)
{
    if (m_held >= 0) {
        m_stream = std::make_unique<FdSink>(m_held, m_path, control);
        return *m_stream;
    }
    const std::string target = resolveLinks(m_path);
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        m_file = std::make_unique<AtomicFile>(m_path);
        return *m_file;
    }
    if (S_ISBLK(st.st_mode))
        throw IoError{IoError::Side::Output, m_path, kBlockDevice};
    if (S_ISSOCK(st.st_mode))
        throw IoError{IoError::Side::Output, m_path, kSocket};
    // A FIFO or a character device: written in place, as `>` would, but
    // never emptied first. Non-blocking, so that waiting for a FIFO's reader
    // and writing to a stalled one can both be cancelled.
    for (;;) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            m_stream = std::make_unique<FdSink>(fd, m_path, control, true);
            return *m_stream;
        }
        if (errno == EINTR)
            continue;
        if (errno != ENXIO || !S_ISFIFO(st.st_mode))
            throw IoError{IoError::Side::Output, m_path, errno};
        if (control.cancelled())
            throw Cancelled{};
        ::poll(nullptr, 0, 100); // no reader yet
    }
}

void JobOutput::commit()
{
    if (m_file)
        m_file->commit();
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
