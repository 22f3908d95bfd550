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

// What a work's burst keeps in locals of the output and the loss tally: the
// place where the next byte goes, and the cuts that need only counting.
class BurstCursor {
public:
    BurstCursor(OutputBuffer& out, LossTally& tally)
        : m_out(out)
        , m_tally(tally)
    {
        load();
    }
    // Room for `size` bytes (at most the block size) at `at`.
    void room(std::size_t size)
    {
        if (static_cast<std::size_t>(m_limit - at) < size) {
            m_out.commit(at);
            m_out.flush();
            at = m_out.cursor();
        }
    }
    // The last place from which `size` bytes still fit (room() made them
    // fit at `at`).
    const char* roomEnd(std::size_t size) const { return m_limit - size; }
    // Something was cut. The first cut, or a strict job's, goes to the tally
    // itself, which records its line or ends the job: with what was written
    // before it committed, and `sync` handing the work's own state back.
    template <class Sync>
    void cut(const char* what, Sync&& sync)
    {
        if (m_countOnly) {
            ++m_cuts;
            return;
        }
        store();
        sync();
        m_tally.cut(what);
        load();
    }
    // Hands the place and the cuts back.
    void store()
    {
        m_out.commit(at);
        m_tally.addCuts(m_cuts);
        m_cuts = 0;
    }

    // Takes the place and the tally's state up again after store().
    void load()
    {
        at = m_out.cursor();
        m_limit = m_out.limit();
        m_countOnly = m_tally.countOnly();
    }

    char* at = nullptr;

private:
    OutputBuffer& m_out;
    LossTally& m_tally;
    char* m_limit = nullptr;
    std::uint64_t m_cuts = 0;
    bool m_countOnly = false;
};

// What a burst's block(data, size, lines) took of the whole lines held at
// data: `bytes` of them, up to a line start, every line counted in `lines`;
// the lines from there on up to `retry` bytes from data go one by one.
struct BlockTaken {
    std::size_t bytes;
    std::size_t retry;
};

// A burst's line(): one of its quick paths, or else `other` (the work's own
// path for the line), with the burst's state handed back before it
// (burst.end()) and taken up again after (burst.resume()).
template <class Burst, class Other>
[[gnu::always_inline]] inline void burstLine(Burst& burst, const char* data, std::size_t size, bool ascii, Other&& other)
{
    if (burst.quickLine(data, size, ascii))
        return;
    burst.end();
    other();
    burst.resume();
}

// A whole line outside a run of them, for a work with a burst: through a burst
// of one line, so that the work's quick paths are written once. True when one
// of them took the line.
template <CharMode M, class Work>
bool quickLineAlone(Work& work, const char* data, std::size_t size, bool ascii)
{
    if (!work.burstable())
        return false;
    auto one = work.template burst<M>();
    const bool done = one.quickLine(data, size, ascii);
    one.end();
    return done;
}

namespace detail {

// Whether a work's loop is compiled for AVX2 (see utf8::x86::useWideLoops()),
// so that the reader may look at chunks with it too.
template <class Work>
constexpr bool wideLoop()
{
    if constexpr (requires { Work::kWideLoop; })
        return Work::kWideLoop;
    else
        return false;
}
template <class Work>
inline constexpr bool kWideLoop = wideLoop<Work>();

struct DriverState {
    bool first = true;   // nothing handed out yet: the prefix is still to go
    bool midLine = false; // part of the current line has been handed out
};

// A job's work may keep its state in locals over a run of whole lines: it
// then has `template <CharMode M> Burst burst()`, whose line() takes each line
// as the work's line() would and whose end() hands the state back, used while
// its `bool burstable() const` holds; the burst's `bool quickLine(...)` takes a
// line only when one of its quick paths does (see quickLineAlone()). Otherwise
// the work's line() is called directly.
template <CharMode M, class Work>
struct DirectBurst {
    Work& work;
    [[gnu::always_inline]] void line(const char* data, std::size_t size, bool ascii)
    {
        work.template line<M>(data, size, ascii);
    }
    void end() {}
};

// The line after which the mode changed, once in a job: out of line, so that
// the loop over whole lines stays small.
template <CharMode M, class Work>
[[gnu::noinline]] void lineInOtherMode(Work& work, const char* data, std::size_t size, bool ascii)
{
    work.template line<M>(data, size, ascii);
}

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
                        lineInOtherMode<kOther>(work, data, size, ascii);
                        changed = true;
                        return false;
                    }
                    burst.line(data, size, ascii);
                    return true;
                };
                wholeLine(seg.data, seg.size, seg.ascii);
                if constexpr (requires { burst.block("", std::size_t{}, stats.linesRead); }) {
                    // Blocks of lines to the burst's own parser, and the
                    // lines it leaves one by one, up to where it asks to be
                    // tried again.
                    while (!changed) {
                        const std::string_view held = in.held();
                        const BlockTaken taken = burst.block(held.data(), held.size(), stats.linesRead);
                        in.skipHeld(taken.bytes);
                        const char* const until = held.data() + taken.retry;
                        bool any = false;
                        in.template forEachWholeLine<kWideLoop<Work>>(
                            [&](const char* data, std::size_t size, bool ascii) __attribute__((always_inline)) {
                                any = true;
                                return wholeLine(data, size, ascii) && data + size < until;
                            });
                        if (!any)
                            break; // no whole line left in the block
                    }
                } else if (!changed) {
                    in.template forEachWholeLine<kWideLoop<Work>>(wholeLine);
                }
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
