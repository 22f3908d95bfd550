#pragma once
// The one loop over the lines of an input that every job plugs its per-line
// work into. A job's work is a class with
//   template <CharMode M> void line(const char* data, std::size_t size, bool ascii);
//       a whole line (without its line end);
//   template <CharMode M> void part(const char* data, std::size_t size, bool ascii);
//       a segment of a line too long to be handed out whole;
//   void endLine();  after the last segment of such a line;
//   void finish();   after the last line;
// and optionally a burst() for runs of whole lines (see DirectBurst below).
// `ascii` is true when the bytes are known to be plain ASCII.

#include <cstddef>
#include <string_view>

#include "job_stats.h"
#include "output.h"
#include "text_input.h"

namespace fwprep {

namespace detail {

struct DriverState {
    bool first = true;   // nothing handed out yet: the prefix is still to go
    bool midLine = false; // part of the current line has been handed out
};

// A job's work may keep its state in locals over a run of whole lines: it
// then has `template <CharMode M> Burst burst()`, whose line() takes each line
// as the work's line() would and whose end() hands the state back, used while
// its `bool burstable() const` holds. Otherwise its line() is called directly.
template <CharMode M, class Work>
struct DirectBurst {
    Work& work;
    [[gnu::always_inline]] void line(const char* data, std::size_t size, bool ascii)
    {
        work.template line<M>(data, size, ascii);
    }
    void end() {}
};

// Runs the lines in one character mode. Returns true when the reader's mode
// has changed under it, so that the caller dispatches again.
template <CharMode Mode, class Work>
bool runLines(TextInput& in, OutputBuffer& out, std::string_view prefix, JobStats& stats, DriverState& st,
    Work& work)
{
    constexpr CharMode kOther = Mode == CharMode::Utf8 ? CharMode::Bytes : CharMode::Utf8;
    // Only a line that is not plain ASCII can have settled the mode anew.
    const auto modeChanged = [&](bool ascii) { return !ascii && in.charMode() != Mode; };
    bool changed = false;
    Segment seg;
    while (in.next(seg)) {
        if (st.first) {
            out.append(prefix.data(), prefix.size());
            st.first = false;
        }
        if (!st.midLine && seg.endsLine) {
            // The rest of the block's whole lines in one go, inlined into the
            // reader's burst: a call per line would cost as much as the job's
            // own work on a short line.
            const auto wholeLines = [&](auto& burst) __attribute__((always_inline)) {
                const auto wholeLine = [&](const char* data, std::size_t size, bool ascii)
                                           __attribute__((always_inline)) {
                    ++stats.linesRead;
                    if (modeChanged(ascii)) {
                        burst.end();
                        work.template line<kOther>(data, size, ascii);
                        changed = true;
                        return false;
                    }
                    burst.line(data, size, ascii);
                    return true;
                };
                wholeLine(seg.data, seg.size, seg.ascii);
                if (!changed)
                    in.forEachWholeLine(wholeLine);
                if (!changed)
                    burst.end();
            };
            if constexpr (requires { work.template burst<Mode>(); }) {
                if (work.burstable()) {
                    auto burst = work.template burst<Mode>();
                    wholeLines(burst);
                } else {
                    DirectBurst<Mode, Work> direct{work};
                    wholeLines(direct);
                }
            } else {
                DirectBurst<Mode, Work> direct{work};
                wholeLines(direct);
            }
            if (changed)
                return true;
            continue;
        }
        if (!st.midLine)
            ++stats.linesRead;
        st.midLine = !seg.endsLine;
        const bool other = modeChanged(seg.ascii);
        if (other)
            work.template part<kOther>(seg.data, seg.size, seg.ascii);
        else
            work.template part<Mode>(seg.data, seg.size, seg.ascii);
        if (!st.midLine)
            work.endLine();
        if (other)
            return true;
    }
    return false;
}

} // namespace detail

// Hands every line of `in` to `work`, `prefix` going out before the first one.
// The character mode is looked at here alone: at the start, and again after a
// line that is not plain ASCII, should the reader have settled it anew.
template <class Work>
void forEachLine(TextInput& in, OutputBuffer& out, std::string_view prefix, JobStats& stats, Work& work)
{
    detail::DriverState st;
    while (in.charMode() == CharMode::Utf8
            ? detail::runLines<CharMode::Utf8>(in, out, prefix, stats, st, work)
            : detail::runLines<CharMode::Bytes>(in, out, prefix, stats, st, work)) {
    }
    work.finish();
}

} // namespace fwprep
