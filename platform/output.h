#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace fwprep {

// Where a job's output bytes go. Writes throw IoError.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual void write(const char* data, std::size_t size) = 0;
};

// Writes to an open descriptor such as standard output.
class FdSink final : public OutputSink {
public:
    FdSink(int fd, std::string path);
    void write(const char* data, std::size_t size) override;

private:
    int m_fd;
    std::string m_path;
};

// Collects the output in memory (tests, fuzzing).
class StringSink final : public OutputSink {
public:
    void write(const char* data, std::size_t size) override { text.append(data, size); }
    std::string text;
};

// Writes a file so that it is either completely replaced or not touched at all:
// the bytes go to a temporary file in the same folder, which is renamed over
// the target by commit(). An existing file keeps its permission bits. When the
// target is a symbolic link, the file it points to is replaced and the link
// stays. Without commit(), the destructor removes the temporary file.
class AtomicFile final : public OutputSink {
public:
    // Throws IoError (Output side) when the folder cannot take a new file.
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
    static constexpr std::uint64_t kWriteBehind = std::uint64_t{1} << 20;
    std::uint64_t m_written = 0;      // bytes written so far
    std::uint64_t m_writeStarted = 0; // bytes already on their way to disk
};

// Follows a chain of symbolic links to the path that is finally meant (which
// need not exist). Relative link targets count from the link's own folder.
std::string resolveLinks(const std::string& path);

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
    std::size_t capacity() const { return m_capacity; }
    void flush();

private:
    void appendLarge(const char* data, std::size_t size);

    OutputSink& m_sink;
    std::size_t m_capacity;
    std::unique_ptr<char[]> m_buf;
    std::size_t m_used = 0;
};

} // namespace fwprep
