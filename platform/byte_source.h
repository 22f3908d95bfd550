#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include "control.h"
#include "mapped_file.h"

namespace fwprep {

// How a large regular file is read. Read (the default) copies it into the
// reader's block with read(). Map maps it and reads through the mapping: no
// copy, but page-table work for every page, which on virtual machines has made
// whole jobs up to 2x slower; FWPREP_INPUT=map asks for it where it pays.
enum class ReadMethod { Read, Map };

// The method FWPREP_INPUT asks for: Map for "map", else Read.
ReadMethod readMethodFromEnvironment();

// Where a job's input bytes come from. Reads throw IoError or Cancelled.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes; 0 means the end of the input.
    virtual std::size_t read(char* dst, std::size_t size) = 0;
    virtual bool seekable() const { return false; }
    // Maps the rest of the input for reading without copies, beginning `held`
    // bytes before the read position (bytes the caller has read and still
    // holds), and moves the read position to `slack` bytes before the end, so
    // that read() goes on with the mapping's last `slack` bytes. Null when the
    // input cannot be mapped; it is then read as before.
    virtual std::unique_ptr<MappedFile> mapRest(std::size_t held, std::size_t slack);
    // Size in bytes from where the input starts (the read position it was
    // handed over at) to its end, when known in advance; else 0.
    virtual std::uint64_t size() const { return 0; }
    // Whether readAt() may be called.
    virtual bool positional() const { return false; }
    // Reads up to `size` bytes from `offset` bytes after where the input
    // starts, without moving the read position; 0 at the end. Only for a
    // positional() source; several threads may call it at once.
    virtual std::size_t readAt(char* dst, std::size_t size, std::uint64_t offset);
    virtual const std::string& path() const = 0;
};

// An open file descriptor: a regular file, a pipe, a FIFO or a device. Reads
// from anything but a regular file wait in short slices so that a cancel is
// seen even while no data arrives.
class FdSource final : public ByteSource {
public:
    // Takes ownership of `fd` when `owned`. A regular file is mapped by
    // mapRest() only under ReadMethod::Map.
    FdSource(int fd, std::string path, const JobControl& control, bool owned = true,
        ReadMethod method = readMethodFromEnvironment());
    ~FdSource() override;
    FdSource(const FdSource&) = delete;
    FdSource& operator=(const FdSource&) = delete;

    std::size_t read(char* dst, std::size_t size) override;
    bool seekable() const override { return m_regular; }
    std::unique_ptr<MappedFile> mapRest(std::size_t held, std::size_t slack) override;
    std::uint64_t size() const override { return m_size; }
    bool positional() const override { return m_regular; }
    std::size_t readAt(char* dst, std::size_t size, std::uint64_t offset) override;
    const std::string& path() const override { return m_path; }
    int fd() const { return m_fd; }

private:
    // What a read of `size` bytes that returned `got` gives: the bytes read,
    // 0 at the end, nothing when it is to be tried again. Throws IoError for
    // a failure, and at an end before the size the file had when handed over.
    std::optional<std::size_t> taken(ssize_t got, std::size_t size) const;

    int m_fd;
    std::string m_path;
    JobControl m_control;
    bool m_owned;
    bool m_regular = false;
    bool m_mayMap = false;
    std::uint64_t m_size = 0;
    std::uint64_t m_begin = 0;     // a regular file's read position when it was handed over
    std::uint64_t m_endAtOpen = 0; // a regular file's size when it was handed over
};

// Bytes in memory, handed out at most `chunk` bytes per read (tests use small
// chunks to reach every block boundary).
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string data, std::size_t chunk = SIZE_MAX, bool seekable = true);
    std::size_t read(char* dst, std::size_t size) override;
    bool seekable() const override { return m_seekable; }
    std::uint64_t size() const override { return m_data.size(); }
    bool positional() const override { return m_seekable; }
    std::size_t readAt(char* dst, std::size_t size, std::uint64_t offset) override;
    const std::string& path() const override { return m_path; }

private:
    std::string m_data;
    std::size_t m_chunk;
    bool m_seekable;
    std::size_t m_pos = 0;
    std::string m_path = "<memory>";
};

} // namespace fwprep
