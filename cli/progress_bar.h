#pragma once
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace fwprep::cli {

// A one-line progress bar on standard error, redrawn at most ten times a second.
class ProgressBar {
public:
    explicit ProgressBar(std::FILE* out);
    void update(std::uint64_t done, std::uint64_t total);
    void finish();

private:
    std::FILE* m_out;
    std::chrono::steady_clock::time_point m_last{};
    bool m_drawn = false;
};

} // namespace fwprep::cli
