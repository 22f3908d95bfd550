#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>

namespace fwprep {

// A read-only view of part of a regular file, read without copying.
//
// A file that gets shorter while it is mapped would kill the process with
// SIGBUS on the first touch of a page past its new end. Every MappedFile is
// therefore known to a process-wide SIGBUS handler, which puts a page of zeros
// in place of the vanished one and marks the mapping as lost; the reader checks
// lostError() before it trusts what it has read. A SIGBUS anywhere else is
// given back to the disposition that was there before (put back in place, and
// the signal taken again), as if ours had never been there; the next mapping
// puts ours back on top.
//
// The page-table work of a large mapping (bringing pages in ahead of the
// reader, giving back those behind it) costs about as much as reading the
// bytes; a helper thread does it beside the reader.
class MappedFile {
public:
    // Maps `length` bytes of `fd` from `offset` on; null when the file cannot
    // be mapped (the caller reads it instead).
    static std::unique_ptr<MappedFile> map(int fd, std::uint64_t offset, std::size_t length);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

    // 0 while every byte read was the file's. Once a page could not be read
    // (its bytes were then read as zeros): kInputShrank when the file has got
    // shorter than the view, else EIO (the device failed to deliver it).
    int lostError() const;
    // The reader is at data()[done, reading): the pages from `reading` on are
    // brought in ahead of it, and those wholly before `done`, which are not
    // read again, are given back, so that the process does not grow by the
    // size of the file.
    void advance(std::size_t done, std::size_t reading);

private:
    MappedFile(int fd, std::uint64_t end, void* base, std::size_t baseSize, std::size_t skip, std::size_t size, int slot);
    void startPager();
    void pager();
    // Offsets from m_base. release() is true when it gave back any page.
    void populate(std::size_t from, std::size_t to) const;
    bool release(std::size_t upTo);

    int m_fd;                // the file, not owned
    std::uint64_t m_end;     // file offset of the view's end
    void* m_base;            // page-aligned start of the mapping
    std::size_t m_baseSize;  // its length
    const char* m_data;      // the byte at the offset asked for
    std::size_t m_size;
    int m_slot;              // where the SIGBUS handler knows it
    std::atomic<std::size_t> m_released{0}; // bytes of m_base given back

    std::thread m_pager;     // not started when threads cannot be had
    std::atomic<std::size_t> m_done{0};    // the reader's position, from m_base:
    std::atomic<std::size_t> m_reading{0}; // done with, and reading up to
    std::atomic<std::uint32_t> m_wake{0}; // bumped for every change the pager must see
    std::atomic<bool> m_stop{false};
};

} // namespace fwprep
