#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

namespace fwprep {

// Lets a caller follow a running job and stop it. Both are looked at once per
// block read, on the job's own thread.
struct JobControl {
    // Bytes of input read so far, and the input's size (0 when unknown).
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    // Set to true (from any thread, or a signal handler) to cancel the job.
    const std::atomic<bool>* cancel = nullptr;

    bool cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }
};

} // namespace fwprep
