#include "progress_bar.h"

#include <string>

namespace fwprep::cli {

ProgressBar::ProgressBar(std::FILE* out)
    : m_out(out)
{
}

void ProgressBar::update(std::uint64_t done, std::uint64_t total)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_drawn && now - m_last < std::chrono::milliseconds(100))
        return;
    m_last = now;
    m_drawn = true;
    const double mib = static_cast<double>(done) / (1024.0 * 1024.0);
    if (total == 0) {
        std::fprintf(m_out, "\r%10.1f MiB read", mib);
    } else {
        constexpr int kWidth = 30;
        const double share = done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
        const int filled = static_cast<int>(share * kWidth);
        const std::string bar = std::string(filled, '#') + std::string(kWidth - filled, '.');
        std::fprintf(m_out, "\r[%s] %3d%% %10.1f MiB", bar.c_str(), static_cast<int>(share * 100), mib);
    }
    std::fflush(m_out);
}

void ProgressBar::finish()
{
    if (m_drawn) {
        std::fprintf(m_out, "\r%60s\r", "");
        std::fflush(m_out);
    }
}

} // namespace fwprep::cli
