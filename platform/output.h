#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "control.h"

namespace fwprep {

// Where a job's output bytes go. Writes throw IoError.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual void write(const char* data, std::size_t size) = 0;
};

// Writes to an open descriptor: standard output, a descriptor the caller
// named, a FIFO or a device. A write that would block on a descriptor in
// non-blocking mode waits in short slices, so that `control` can cancel it.
class FdSink final : public OutputSink {
public:
    // Takes ownership of `fd` when `owned`.
    FdSink(int fd, std::string path, const JobControl& control = {}, bool owned = false);
    ~FdSink() override;
    FdSink(const FdSink&) = delete;
    FdSink& operator=(const FdSink&) = delete;
    void write(const char* data, std::size_t size) override;

private:
    int m_fd;
    std::string m_path;
    JobControl m_control;
    bool m_owned;
};

// Collects the output in memory (tests, fuzzing).
class StringSink final : public OutputSink {
public:
    void write(const char* data, std::size_t size) override { text.append(data, size); }
    std::string text;
};

// Writes a file so that it is either completely replaced or not touched at all:
// the bytes go to a temporary file in the same folder, which is renamed over
// the target by commit(). An existing file keeps its permission bits, and its
// owner and group where the system allows it; hard links to it are broken, as
// with any rename. When the target is a symbolic link, the file it points to
// is replaced and the link stays. Without commit(), the destructor removes the
// temporary file; until then it is listed for removeTemporaryFiles().
class AtomicFile final : public OutputSink {
public:
    // Throws IoError (Output side) when the file may not be written or the
    // folder cannot take a new file.
    explicit AtomicFile(const std::string& path);
    ~AtomicFile() override;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(const char* data, std::size_t size) override;
    void commit();

    const std::string& path() const { return m_path; }
    const std::string& temporaryPath() const { return m_tempPath; }

private:
    void discard() noexcept;
    [[noreturn]] void fail(int error);

    std::string m_path;     // as the caller named it
    std::string m_target;   // the file actually replaced
    std::string m_tempPath;
    int m_fd = -1;
    int m_listed = -1; // where removeTemporaryFiles() finds the temporary file
    static constexpr std::uint64_t kWriteBehind = std::uint64_t{1} << 20;
    std::uint64_t m_written = 0;      // bytes written so far
    std::uint64_t m_writeStarted = 0; // bytes already on their way to disk
};

// Removes every temporary file of an AtomicFile that has not been committed
// or discarded yet. Async-signal-safe: for a handler of a signal that ends
// the process. A temporary file is created and listed, or committed and taken
// off the list, with signals blocked on the thread doing it; a handler running
// on that thread therefore never misses a file. Other threads that may take
// such signals while a job runs must block them.
void removeTemporaryFiles() noexcept;

// The output of a job, by the name the caller gave:
// - "-" is standard output;
// - /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N (also through links)
//   name a descriptor the caller opened: that descriptor is written, at its
//   offset or in append mode as it stands;
// - a FIFO or character device is opened and written in place;
// - a regular file, or a name not taken yet, is replaced by an AtomicFile.
// Only the last is all or nothing. Block devices and sockets are refused.
class JobOutput {
public:
    // Takes hold of a descriptor that `path` names at once, before anything
    // else is opened: a descriptor opened later could otherwise take the
    // number of a closed one. Throws IoError when it is not open.
    explicit JobOutput(const std::string& path);
    ~JobOutput();
    JobOutput(const JobOutput&) = delete;
    JobOutput& operator=(const JobOutput&) = delete;

    // True when reading `fd` would read this very output.
    bool isSameFile(int fd) const;
    // Opens what the name stands for. Waits for a FIFO's reader until
    // `control` cancels (throws Cancelled). Throws IoError.
    OutputSink& open(const JobControl& control);
    // Completes the output (renames a replaced file into place).
    void commit();
    // True once open() has chosen to write in place rather than replace a
    // file: what went out before a failure stays there.
    bool writesInPlace() const { return m_stream != nullptr; }

private:
    std::string m_path;
    int m_held = -1; // a duplicate of the descriptor the name stands for
    std::unique_ptr<AtomicFile> m_file;
    std::unique_ptr<FdSink> m_stream;
};

// N when `path` names this process's descriptor N (/dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N or
// /proc/PID/fd/N with our own PID), else -1.
int descriptorNamed(const std::string& path);

// Follows a chain of symbolic links to the path that is finally meant (which
// need not exist), stopping early at a path for which `stop` is true.
// Relative link targets count from the link's own folder.
std::string resolveLinks(const std::string& path, bool (*stop)(const std::string&) = nullptr);

// Collects small writes into one large block and hands it to a sink when full.
class OutputBuffer {
public:
    static constexpr std::size_t kDefaultBlock = std::size_t{1} << 20;
    // Smallest block: room for any reservation the job loops make unasked.
    static constexpr std::size_t kMinBlock = 64;

    explicit OutputBuffer(OutputSink& sink, std::size_t blockSize = kDefaultBlock);

    void append(const char* data, std::size_t size)
    {
        if (size <= m_capacity - m_used) {
            std::memcpy(m_buf.get() + m_used, data, size);
            m_used += size;
        } else {
            appendLarge(data, size);
        }
    }
    void appendRepeated(char c, std::size_t count);

    // Room for `size` bytes (at most the block size) to be written directly;
    // hand the end of what was written to commit().
    char* reserve(std::size_t size)
    {
        if (size > m_capacity - m_used)
            flush();
        return m_buf.get() + m_used;
    }
    void commit(char* end) { m_used = static_cast<std::size_t>(end - m_buf.get()); }
    // For loops that keep their place in locals: where the next byte goes and
    // where the block ends. Hand the place reached to commit().
    char* cursor() { return m_buf.get() + m_used; }
    char* limit() { return m_buf.get() + m_capacity; }
    std::size_t capacity() const { return m_capacity; }
    void flush();
    // Drops what the block holds, unwritten.
    void discard() { m_used = 0; }

private:
    void appendLarge(const char* data, std::size_t size);

    OutputSink& m_sink;
    std::size_t m_capacity;
    std::unique_ptr<char[]> m_buf;
    std::size_t m_used = 0;
};

} // namespace fwprep
