#include "mapped_file.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
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
Slot g_slots[kSlots];

std::uintptr_t g_pageSize = 4096;
struct sigaction g_previous {};
std::once_flag g_installOnce;
bool g_installed = false;

void onBusError(int sig, siginfo_t* info, void* context)
{
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
            return;
        }
        break;
    }
    // Not one of ours: whoever handled SIGBUS before us gets it.
    if ((g_previous.sa_flags & SA_SIGINFO) != 0 && g_previous.sa_sigaction != nullptr) {
        g_previous.sa_sigaction(sig, info, context);
        return;
    }
    if ((g_previous.sa_flags & SA_SIGINFO) == 0 && g_previous.sa_handler != SIG_DFL
        && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(sig);
        return;
    }
    // The default action. A fault would strike again on return; a SIGBUS
    // sent by kill() would not, so it is sent once more, to be taken as soon
    // as this handler returns.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(SIGBUS, &dfl, nullptr);
    ::raise(SIGBUS);
}

bool installHandler()
{
    std::call_once(g_installOnce, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0)
            g_pageSize = static_cast<std::uintptr_t>(page);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        g_installed = ::sigaction(SIGBUS, &action, &g_previous) == 0;
    });
    return g_installed;
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
    return std::unique_ptr<MappedFile>(new MappedFile(fd, offset + length, base, baseSize, skip, length, slot));
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

void MappedFile::willRead(std::size_t from, std::size_t to) const
{
#if defined(MADV_POPULATE_READ)
    const auto skip = static_cast<std::size_t>(m_data - static_cast<const char*>(m_base));
    const std::size_t first = (skip + from) & ~(g_pageSize - 1);
    const std::size_t last = skip + to;
    if (last > first)
        ::madvise(static_cast<char*>(m_base) + first, last - first, MADV_POPULATE_READ); // a hint: errors do not matter
#else
    (void)from;
    (void)to;
#endif
}

void MappedFile::doneWith(std::size_t upTo)
{
    const auto skip = static_cast<std::size_t>(m_data - static_cast<const char*>(m_base));
    const std::size_t whole = (skip + upTo) & ~(g_pageSize - 1);
    if (whole > m_released) {
        ::madvise(static_cast<char*>(m_base) + m_released, whole - m_released, MADV_DONTNEED);
        m_released = whole;
    }
}

} // namespace fwprep
