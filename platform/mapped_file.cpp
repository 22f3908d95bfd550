#include "mapped_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"

namespace fwprep {

namespace {

// The mappings the SIGBUS handler looks after. A fixed table: the handler may
// neither allocate nor lock. Jobs map one file each, so a few slots are plenty;
// when they run out, files are read instead.
struct Slot {
    std::atomic<bool> used{false};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lost{false};
};
constexpr int kSlots = 32;

// The pager brings pages in this far ahead of the reader, this much at a time;
// the reader gives back pages itself when the pager is this far behind.
constexpr std::size_t kAhead = std::size_t{2} << 20;
constexpr std::size_t kStep = std::size_t{1} << 20;
constexpr std::size_t kMaxBehind = std::size_t{4} << 20;
Slot g_slots[kSlots];

std::uintptr_t g_pageSize = 4096;
// The disposition that was there before ours: a SIGBUS that is not about our
// mappings is given back to it. Written only while ours is not installed.
struct sigaction g_previous {};
std::mutex g_installLock;

static_assert(std::atomic<std::uintptr_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
    "the SIGBUS handler reads the slots");

// Only what is safe in a signal handler happens here: lock-free atomic loads
// and stores, mmap (not on POSIX's list, but on Linux a bare system call that
// takes no lock and allocates nothing in the C library), sigaction and raise
// (both async-signal-safe); errno is kept as it was.
void onBusError(int sig, siginfo_t* info, void*)
{
    const int savedErrno = errno;
    // Only a fault (si_code > 0) can be about a page of ours; a SIGBUS sent by
    // kill() or raise() carries no address worth looking at.
    if (info != nullptr && info->si_code > 0) {
        const auto addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
        for (Slot& slot : g_slots) {
            const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
            if (begin == 0 || addr < begin || addr >= slot.end.load(std::memory_order_acquire))
                continue;
            // Zeros in place of the page the file no longer has; the access that
            // faulted is made again on return and now succeeds.
            void* page = reinterpret_cast<void*>(addr & ~(g_pageSize - 1));
            if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
                slot.lost.store(true, std::memory_order_release);
                errno = savedErrno;
                return;
            }
            break;
        }
    }
    // Not ours: the previous disposition comes back, as if ours had never been
    // there. A fault strikes again when this handler returns and is taken by
    // it, with its own address; a SIGBUS that was sent is sent once more, and
    // is taken as soon as this handler returns (SIGBUS is blocked until then).
    // The next mapping puts ours back (installHandler).
    ::sigaction(SIGBUS, &g_previous, nullptr);
    if (info == nullptr || info->si_code <= 0)
        ::raise(sig);
    errno = savedErrno;
}

// Puts our handler in place unless it is there already; the one found there
// becomes the previous disposition.
bool installHandler()
{
    const std::lock_guard<std::mutex> lock(g_installLock);
    static const bool pageSizeKnown = [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0)
            g_pageSize = static_cast<std::uintptr_t>(page);
        return true;
    }();
    (void)pageSizeKnown;
    struct sigaction current {};
    if (::sigaction(SIGBUS, nullptr, &current) != 0)
        return false;
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == onBusError)
        return true;
    g_previous = current;
    struct sigaction action {};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGBUS, &action, nullptr) == 0;
}

int claimSlot(std::uintptr_t begin, std::uintptr_t end)
{
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (g_slots[i].used.compare_exchange_strong(expected, true)) {
            g_slots[i].lost.store(false);
            g_slots[i].end.store(end, std::memory_order_release);
            g_slots[i].begin.store(begin, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void freeSlot(int i)
{
    g_slots[i].begin.store(0, std::memory_order_release);
    g_slots[i].end.store(0, std::memory_order_release);
    g_slots[i].used.store(false, std::memory_order_release);
}

} // namespace

std::unique_ptr<MappedFile> MappedFile::map(int fd, std::uint64_t offset, std::size_t length)
{
    if (length == 0 || !installHandler())
        return nullptr;
    const std::uint64_t aligned = offset & ~static_cast<std::uint64_t>(g_pageSize - 1);
    const auto skip = static_cast<std::size_t>(offset - aligned);
    const std::size_t baseSize = skip + length;
    void* base = ::mmap(nullptr, baseSize, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(aligned));
    if (base == MAP_FAILED)
        return nullptr;
    const auto begin = reinterpret_cast<std::uintptr_t>(base);
    const int slot = claimSlot(begin, begin + baseSize);
    if (slot < 0) {
        ::munmap(base, baseSize);
        return nullptr;
    }
    ::madvise(base, baseSize, MADV_SEQUENTIAL);
    std::unique_ptr<MappedFile> map(new MappedFile(fd, offset + length, base, baseSize, skip, length, slot));
    map->startPager();
    return map;
}

MappedFile::MappedFile(
    int fd, std::uint64_t end, void* base, std::size_t baseSize, std::size_t skip, std::size_t size, int slot)
    : m_fd(fd)
    , m_end(end)
    , m_base(base)
    , m_baseSize(baseSize)
    , m_data(static_cast<const char*>(base) + skip)
    , m_size(size)
    , m_slot(slot)
{
}

MappedFile::~MappedFile()
{
    if (m_pager.joinable()) {
        m_stop.store(true, std::memory_order_release);
        m_wake.fetch_add(1, std::memory_order_release);
        m_wake.notify_one();
        m_pager.join();
    }
    freeSlot(m_slot);
    ::munmap(m_base, m_baseSize);
}

int MappedFile::lostError() const
{
    if (!g_slots[m_slot].lost.load(std::memory_order_acquire))
        return 0;
    struct stat st {};
    if (::fstat(m_fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) >= m_end)
        return EIO;
    return kInputShrank;
}

void MappedFile::advance(std::size_t done, std::size_t reading)
{
    // From here on, offsets count from m_base.
    const auto skip = static_cast<std::size_t>(m_data - static_cast<const char*>(m_base));
    done += skip;
    if (!m_pager.joinable()) {
        release(done); // pages are brought in by the reader's own faults
        return;
    }
    m_done.store(done, std::memory_order_release);
    m_reading.store(skip + reading, std::memory_order_release);
    m_wake.fetch_add(1, std::memory_order_release);
    m_wake.notify_one();
    // Should the pager fall far behind, memory must not grow meanwhile.
    if (done > m_released.load(std::memory_order_relaxed) + kMaxBehind)
        release(done);
}

void MappedFile::startPager()
{
    // The pager takes no signals: they go to the threads that expect them.
    sigset_t all;
    sigset_t old;
    sigfillset(&all);
    for (const int sync : {SIGBUS, SIGSEGV, SIGFPE, SIGILL})
        sigdelset(&all, sync);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    try {
        m_pager = std::thread([this] { pager(); });
    } catch (const std::system_error&) {
        // No thread to be had: the reader does the page-table work itself.
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void MappedFile::pager()
{
    std::size_t populated = 0; // pages before this were brought in
    for (;;) {
        const std::uint32_t wake = m_wake.load(std::memory_order_acquire);
        if (m_stop.load(std::memory_order_acquire))
            return;
        const std::size_t reading = m_reading.load(std::memory_order_acquire);
        const std::size_t wanted = std::min(m_baseSize, reading + kAhead);
        // The reader brings in what it is reading now; the pager goes on from there.
        populated = std::max(populated, reading);
        bool worked = false;
        if (populated < wanted) {
            const std::size_t to = std::min(wanted, populated + kStep);
            populate(populated, to);
            populated = to;
            worked = true;
        }
        if (release(m_done.load(std::memory_order_acquire)))
            worked = true;
        if (!worked)
            m_wake.wait(wake, std::memory_order_acquire);
    }
}

void MappedFile::populate(std::size_t from, std::size_t to) const
{
    // A hint: a page that cannot be brought in is met by the reader itself.
#if defined(MADV_POPULATE_READ)
    from &= ~(g_pageSize - 1);
    if (to > from)
        ::madvise(static_cast<char*>(m_base) + from, to - from, MADV_POPULATE_READ);
#else
    (void)from;
    (void)to;
#endif
}

bool MappedFile::release(std::size_t upTo)
{
    const std::size_t whole = upTo & ~(g_pageSize - 1);
    std::size_t released = m_released.load(std::memory_order_relaxed);
    // The reader and the pager may both give back; each range goes once.
    while (whole > released) {
        if (m_released.compare_exchange_weak(released, whole, std::memory_order_relaxed)) {
            ::madvise(static_cast<char*>(m_base) + released, whole - released, MADV_DONTNEED);
            return true;
        }
    }
    return false;
}

} // namespace fwprep
