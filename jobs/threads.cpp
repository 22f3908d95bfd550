#include "threads.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <pthread.h>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "columns.h"
#include "errors.h"
#include "join.h"
#include "line_scan.h"
#include "split.h"
#include "text_input.h"

namespace fwprep {

namespace {

constexpr std::uint64_t kNoMark = UINT64_MAX;
constexpr std::size_t kDefaultChunk = ThreadPlan{}.chunk;

// The bytes of an input from `begin` on, up to and with the first LF at or
// after `mark` (to the input's end when there is none, or no mark).
class RangeSource final : public ByteSource {
public:
    RangeSource(ByteSource& input, std::uint64_t begin, std::uint64_t mark)
        : m_input(input)
        , m_pos(begin)
        , m_mark(mark)
    {
    }

    std::size_t read(char* dst, std::size_t size) override
    {
        if (m_done || size == 0)
            return 0;
        std::size_t got = m_input.readAt(dst, size, m_pos);
        if (got == 0) {
            m_done = true;
            return 0;
        }
        if (m_pos + got > m_mark) {
            const std::size_t from = m_mark > m_pos ? static_cast<std::size_t>(m_mark - m_pos) : 0;
            if (const void* lf = std::memchr(dst + from, '\n', got - from)) {
                got = static_cast<std::size_t>(static_cast<const char*>(lf) - dst) + 1;
                m_done = true;
            }
        }
        m_pos += got;
        return got;
    }
    const std::string& path() const override { return m_input.path(); }

private:
    ByteSource& m_input;
    std::uint64_t m_pos;
    const std::uint64_t m_mark;
    bool m_done = false;
};

// The place after the first LF in [from, to) of the input; none when the
// input ends or `to` comes first.
std::optional<std::uint64_t> afterLineEnd(ByteSource& input, std::uint64_t from, std::uint64_t to)
{
    if (from >= to)
        return std::nullopt;
    // Most lines end within a few bytes: a small read first, larger ones for
    // a long line, never larger than what is left to look at (chunks can be
    // tiny).
    constexpr std::size_t kLargest = std::size_t{256} << 10;
    std::string buf(static_cast<std::size_t>(std::min<std::uint64_t>(4096, to - from)), '\0');
    while (from < to) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), to - from));
        const std::size_t got = input.readAt(buf.data(), want, from);
        if (got == 0)
            return std::nullopt;
        if (const void* lf = std::memchr(buf.data(), '\n', got))
            return from + static_cast<std::uint64_t>(static_cast<const char*>(lf) - buf.data()) + 1;
        from += got;
        if (buf.size() < kLargest && to - from > buf.size())
            buf.resize(static_cast<std::size_t>(std::min<std::uint64_t>({4 * buf.size(), kLargest, to - from})));
    }
    return std::nullopt;
}

// Reads up to `size` bytes from `offset` on, as many as the input has.
std::string readSpan(ByteSource& input, std::uint64_t offset, std::size_t size)
{
    std::string bytes(size, '\0');
    std::size_t have = 0;
    while (have < size) {
        const std::size_t got = input.readAt(bytes.data() + have, size - have, offset + have);
        if (got == 0)
            break;
        have += got;
    }
    bytes.resize(have);
    return bytes;
}

// The job of the chunks after the first: a header only heads the input.
JobParams laterParams(const JobParams& params)
{
    JobParams later = params;
    later.header = false;
    return later;
}

// A thread's chunk was given up because an earlier one failed.
struct Abandoned {};

// A join of n lines into one, made from a join of every line on its own: a
// chunk of lines cannot know where in a record of n it begins until the lines
// before it are counted, so its values go out one a line, each ended by an
// LF, and here in the input's order every n-th LF becomes the output's line
// end and the others are taken out. Values hold no LF: each is a line's text,
// or the fill.
class Regroup final : public OutputSink {
public:
    // `groupSize` 0: one record of every value.
    Regroup(OutputSink& sink, std::size_t blockSize, std::size_t groupSize, std::string_view lineEnd)
        : m_out(sink, blockSize)
        , m_groupSize(groupSize)
        , m_end(lineEnd)
    {
    }

    void write(const char* data, std::size_t size) override
    {
        if (m_end.size() == 1)
            regroup<false>(data, size);
        else
            regroup<true>(data, size);
    }

    // The last, incomplete record's line end.
    void finish()
    {
        if (m_inGroup > 0)
            m_out.append(m_end.data(), m_end.size());
        m_out.flush();
    }
    void flush() { m_out.flush(); }

private:
    template <bool CrLf>
    void regroup(const char* data, std::size_t size)
    {
        // Kept in locals: the stores through dst could otherwise change them.
        std::size_t inGroup = m_inGroup;
        const std::size_t groupSize = m_groupSize;
        // Where an LF was: the line end when it ends a record. An LF line end
        // is the LF itself, moved with the bytes before it.
        const auto lineEnd = [&](char* dst) {
            const bool ends = ++inGroup == groupSize;
            inGroup = ends ? 0 : inGroup;
            if constexpr (CrLf) {
                if (ends) {
                    *dst++ = '\r';
                    *dst++ = '\n';
                }
                return dst;
            } else {
                return dst + ends;
            }
        };
        // A slice's output fits the block with room for a 32-byte move past
        // it: n >= 2 values give one line end, so no more than one line end
        // comes without an LF taken out before it.
        const std::size_t slice = m_out.capacity() - m_end.size() - 32;
        for (const char* const end = data + size; data < end;) {
            const auto n = std::min(static_cast<std::size_t>(end - data), slice);
            const char* const stop = data + n;
            char* dst = m_out.reserve(n + m_end.size() + 32);
            // 32 bytes at a time, and the bytes up to each LF in them moved
            // with one 32-byte move: no step waits for the one before.
            for (; stop - data >= 64; data += 32) {
                std::uint32_t lf = m_lf.match(data);
                std::size_t from = 0;
                for (; lf != 0; lf &= lf - 1) {
                    const auto at = static_cast<std::size_t>(std::countr_zero(lf));
                    std::memcpy(dst, data + from, 32);
                    dst = lineEnd(dst + (at - from));
                    from = at + 1;
                }
                std::memcpy(dst, data + from, 32);
                dst += 32 - from;
            }
            for (; data < stop; ++data) {
                *dst = *data;
                dst = *data != '\n' ? dst + 1 : lineEnd(dst);
            }
            m_out.commit(dst);
        }
        m_inGroup = inGroup;
    }

    const ByteSet32<1> m_lf{'\n'};
    OutputBuffer m_out;
    const std::size_t m_groupSize;
    const std::string_view m_end;
    std::size_t m_inGroup = 0; // values on the current output line: all of them, with a group size of 0
};

// What a chunk of lines is made into, when a job can be shared among threads:
// a split's lines each on their own; a join's from CSV, each record on its
// own (a quoted field that goes on past a line end is an error: records end
// at line ends); a join's of lines, with one width, alignment and fill for
// every column, each as a record of one value (see Regroup).
struct ChunkJob {
    JobParams params;
    std::size_t groupSize = 1; // the join's values a record; 1: as they come
};

std::optional<ChunkJob> chunkJob(const JobParams& params)
{
    if (params.kind == JobKind::Split) {
        if (params.layout.empty() && params.count <= 0)
            return std::nullopt; // writes nothing
        return ChunkJob{params};
    }
    if (params.format == RecordFormat::Csv)
        return ChunkJob{params};
    const Columns cols(params);
    for (std::size_t i = 1; i < cols.count(); ++i)
        if (cols[i] != cols[0])
            return std::nullopt;
    ChunkJob job{params, cols.count()};
    if (job.groupSize != 1) {
        job.params.layout.clear();
        job.params.count = 1;
        job.params.width = cols[0].width;
        job.params.align = cols[0].align;
        job.params.fill = cols[0].fill;
    }
    return job;
}

// One split or join shared among threads. Chunk k holds the lines that begin in
// [k * chunk, (k + 1) * chunk) of the input: it begins after the first LF at
// or after its mark k * chunk - 1 and ends with the first LF at or after the
// next chunk's mark, so that every line falls in exactly one chunk. A thread
// takes the next chunk, works it into a buffer of its own, and when every
// chunk before has gone out, writes it; a chunk whose buffer grows past
// twice the chunk size waits for that and writes on directly. Under
// Encoding::Auto, when the mode was not settled before the chunks begin, a
// chunk meets every byte as ASCII or gives up: from the first chunk that holds
// any other byte (or grows past its buffer) on, one thread does the rest, as
// it would have from the input's start.
class ThreadedRun {
public:
    ThreadedRun(ByteSource& input, OutputSink& sink, const ChunkJob& job, const JobControl& control,
        std::size_t blockSize, const ThreadPlan& plan)
        : m_input(input)
        , m_sink(sink)
        , m_job(job)
        , m_laterParams(laterParams(job.params))
        , m_userControl(control)
        , m_blockSize(blockSize)
        , m_plan(plan)
        , m_chunks(std::max<std::uint64_t>(1, (input.size() + plan.chunk - 1) / plan.chunk))
    {
        m_chunkControl.cancel = &m_abort;
    }

    // False, having written nothing, when the input's lines are long or the
    // first chunk gave up.
    bool run(JobStats& stats)
    {
        settleHead();
        if (m_longLines)
            return false;
        if (m_job.groupSize != 1)
            m_regroup.emplace(m_sink, m_blockSize, m_job.groupSize, m_lineEnd);
        std::vector<std::thread> helpers;
        {
            // The helpers leave the signals sent to the process to the main
            // thread, and take only those their own doing raises: a SIGPIPE
            // from a write ends the program as it would on one thread. Its
            // handler may run on a helper: no temporary output file is listed
            // or taken off the list while they run (see removeTemporaryFiles()).
            sigset_t all;
            sigset_t old;
            sigfillset(&all);
            for (const int own : {SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
                sigdelset(&all, own);
            pthread_sigmask(SIG_SETMASK, &all, &old);
            try {
                for (unsigned i = 1; i < m_plan.threads; ++i)
                    helpers.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                // No more threads to be had: those there are do the work.
            }
            pthread_sigmask(SIG_SETMASK, &old, nullptr);
        }
        work();
        for (std::thread& t : helpers)
            t.join();
        try {
            if (m_error)
                std::rethrow_exception(m_error);
            if (m_restartAt == 0)
                return false;
            if (m_restartAt != kNone)
                runRest();
        } catch (const DataError& d) {
            // What was made before the failure goes out; its line counts
            // from the input's start.
            if (m_regroup)
                m_regroup->flush();
            throw DataError(m_linesBefore + d.line, d.what());
        }
        stats = m_total;
        if (m_regroup) {
            m_regroup->finish();
            stats.linesWritten = joinedLines(m_total.linesRead, m_job.groupSize);
        }
        stats.mode = m_mode;
        stats.modeDetected = m_job.params.encoding == Encoding::Auto && !m_bom;
        stats.asciiOnly = stats.modeDetected && m_undecided;
        stats.byteOrderMark = m_bom;
        stats.crlf = m_lineEnd.size() == 2;
        return true;
    }

private:
    static constexpr std::size_t kNone = SIZE_MAX;

    // The output of a thread's chunks. Until its chunk has the turn, a
    // thread holds the chunk's output in its OutputBuffer (twice the chunk,
    // and no smaller than one thread's, whose size decides some of the
    // split's paths); should that fill up, the thread waits for the turn and
    // writes on directly.
    class ChunkSink final : public OutputSink {
    public:
        explicit ChunkSink(ThreadedRun& run)
            : m_run(run)
        {
        }
        void begin(std::size_t index)
        {
            m_index = index;
            m_direct = false;
        }
        // The chunk has the turn.
        void goDirect() { m_direct = true; }
        void write(const char* data, std::size_t size) override
        {
            if (!m_direct) {
                if (m_run.m_undecided)
                    throw ModeUnsettled{}; // may not go out before its mode is known
                m_run.waitForTurn(m_index);
                m_direct = true;
            }
            m_run.target().write(data, size);
        }

    private:
        ThreadedRun& m_run;
        std::size_t m_index = 0;
        bool m_direct = false;
    };

    struct Worker {
        explicit Worker(ThreadedRun& run)
            : sink(run)
            , out(sink, std::max(2 * run.m_plan.chunk, run.m_blockSize))
        {
        }
        ChunkSink sink;
        OutputBuffer out;
    };

    struct Outcome {
        JobStats stats;
        std::uint64_t begin = 0;
        std::exception_ptr error;
        bool restart = false;
        bool abandoned = false;
    };

    // The byte-order mark, the output line end and, where the input says so
    // early, the character mode: as runTransform() settles them.
    void settleHead()
    {
        RangeSource all(m_input, 0, kNoMark);
        TextInput head(all, m_job.params.encoding, m_userControl, m_blockSize);
        head.start();
        m_bom = head.hasByteOrderMark();
        const OutputEnds ends = outputEnds(head, m_job.params.lineEnd);
        m_lineEnd = ends.lineEnd;
        m_prefix = ends.prefix;
        // The first chunk's bytes, 1 MiB at most: a byte above 0x7F further
        // on makes that chunk give up.
        const std::string first = readSpan(m_input, 0, std::min(m_plan.chunk, kDefaultChunk));
        const auto lines = static_cast<std::uint64_t>(std::count(first.begin(), first.end(), '\n'));
        m_longLines = m_plan.longLine > 0 && lines * m_plan.longLine < first.size();
        m_encoding = m_job.params.encoding;
        m_mode = m_encoding == Encoding::Bytes ? CharMode::Bytes : CharMode::Utf8;
        if (m_encoding != Encoding::Auto || m_bom) {
            if (m_bom)
                m_encoding = Encoding::Utf8;
            return;
        }
        // Detected from the window at the first byte above 0x7F, when the
        // first chunk's bytes hold one.
        const auto high = std::find_if(first.begin(), first.end(), [](char c) { return (c & 0x80) != 0; });
        if (high == first.end()) {
            m_undecided = true;
            return;
        }
        const std::string window = readSpan(
            m_input, static_cast<std::uint64_t>(high - first.begin()), TextInput::kDetectWindow + 1);
        m_mode = TextInput::detectMode(window.data(), window.size());
        m_encoding = m_mode == CharMode::Utf8 ? Encoding::Utf8 : Encoding::Bytes;
    }

    // Where the chunks' output goes, in their order.
    OutputSink& target() { return m_regroup ? static_cast<OutputSink&>(*m_regroup) : m_sink; }
    // The line end a chunk's job writes: a join's values each end with an LF
    // until regrouped.
    std::string_view chunkLineEnd() const { return m_regroup ? std::string_view("\n") : m_lineEnd; }

    // The job on the lines of `in`, from the input's start or from a line
    // further on.
    void runJob(TextInput& in, OutputBuffer& out, bool atStart, JobStats& stats) const
    {
        const JobParams& params = atStart ? m_job.params : m_laterParams;
        const std::string_view prefix = atStart ? m_prefix : "";
        if (params.kind == JobKind::Split)
            splitLines(in, out, params, chunkLineEnd(), prefix, stats);
        else
            joinLines(in, out, params, chunkLineEnd(), prefix, stats);
    }

    // Returns once chunk `index` has the turn; throws Abandoned when it never will.
    void waitForTurn(std::size_t index)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_turned.wait(lock, [&] { return m_turn == index || m_stop; });
        if (m_turn != index)
            throw Abandoned{};
    }

    void work() noexcept
    {
        try {
            Worker w(*this); // kept from chunk to chunk: its pages are touched once
            for (;;) {
                const std::size_t k = m_next.fetch_add(1);
                if (k >= m_chunks || m_abort)
                    return;
                Outcome o = runChunk(k, w);
                finish(k, w, o);
            }
        } catch (...) {
            // Out of memory for a thread's buffers: the run ends with that.
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_error)
                m_error = std::current_exception();
            m_stop = true;
            m_abort = true;
            m_turned.notify_all();
        }
    }

    Outcome runChunk(std::size_t k, Worker& w)
    {
        Outcome o;
        w.sink.begin(k);
        try {
            if (k > 0) {
                const std::uint64_t mark = k * m_plan.chunk - 1;
                const std::uint64_t next = k + 1 < m_chunks ? mark + m_plan.chunk : kNoMark;
                const auto begin = afterLineEnd(m_input, mark, next);
                if (!begin)
                    return o; // no line begins in it
                o.begin = *begin;
            }
            const std::uint64_t end = k + 1 < m_chunks ? (k + 1) * m_plan.chunk - 1 : kNoMark;
            RangeSource range(m_input, o.begin, end);
            TextInput in(range, m_encoding, m_chunkControl, m_blockSize);
            if (k == 0)
                in.start();
            else
                in.startWithin();
            if (m_undecided)
                in.refuseToSettle();
            // What was made before a failure goes out, as on one thread.
            runJob(in, w.out, k == 0, o.stats);
        } catch (const UnclosedQuote&) {
            // Before the input's end: one thread from here tells whether the
            // quote is closed further on.
            if (k + 1 == m_chunks) {
                o.error = std::current_exception();
                return o;
            }
            o.restart = true;
        } catch (const DataError&) {
            o.error = std::current_exception();
            return o;
        } catch (const ModeUnsettled&) {
            o.restart = true;
        } catch (const Abandoned&) {
            o.abandoned = true;
        } catch (const Cancelled&) {
            if (m_abort && !m_userControl.cancelled())
                o.abandoned = true;
            else
                o.error = std::current_exception();
        } catch (...) {
            o.error = std::current_exception();
        }
        if (o.error || o.restart || o.abandoned)
            w.out.discard();
        return o;
    }

    // With the turn: the chunk's output goes out and its counts are added, or
    // its failure ends the run.
    void finish(std::size_t k, Worker& w, Outcome& o)
    {
        try {
            waitForTurn(k);
        } catch (const Abandoned&) {
            w.out.discard();
            return;
        }
        w.sink.goDirect();
        try {
            w.out.flush();
        } catch (...) {
            if (!o.error)
                o.error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        if (o.restart) {
            m_restartAt = k;
            m_restartBegin = o.begin;
        } else if (o.error) {
            m_error = o.error;
        } else {
            add(o.stats);
            ++m_turn;
            m_turned.notify_all();
            return;
        }
        m_stop = true;
        m_abort = true;
        m_turned.notify_all();
    }

    void add(const JobStats& s)
    {
        if (s.cut > 0 && m_total.cut == 0)
            m_total.firstCut = m_linesBefore + s.firstCut;
        if (s.leftOut > 0 && m_total.leftOut == 0)
            m_total.firstLeftOut = m_linesBefore + s.firstLeftOut;
        m_total.cut += s.cut;
        m_total.leftOut += s.leftOut;
        m_total.linesRead += s.linesRead;
        m_total.linesWritten += s.linesWritten;
        m_linesBefore += s.linesRead;
    }

    // One thread from the chunk that gave up on: on a byte other than ASCII
    // while the mode was to be settled (every byte before it was ASCII, so
    // the mode is settled from there), or on a quoted field that went on
    // past its end.
    void runRest()
    {
        RangeSource rest(m_input, m_restartBegin, kNoMark);
        const bool settle = m_undecided;
        TextInput in(rest, settle ? Encoding::Auto : m_encoding, m_userControl, m_blockSize);
        in.startWithin();
        OutputBuffer out(target(), m_blockSize);
        JobStats s;
        try {
            runJob(in, out, false, s);
        } catch (const DataError&) {
            out.flush();
            throw; // run() tells it, its line counted from the input's start
        }
        out.flush();
        add(s);
        if (settle) {
            m_mode = in.charMode();
            m_undecided = !in.modeSettled();
        }
    }

    ByteSource& m_input;
    OutputSink& m_sink;
    const ChunkJob& m_job;
    const JobParams m_laterParams; // the job of the chunks after the first
    const JobControl& m_userControl;
    JobControl m_chunkControl; // cancelled when the run stops
    const std::size_t m_blockSize;
    const ThreadPlan m_plan;
    const std::uint64_t m_chunks;

    // Settled before the threads start.
    bool m_bom = false;
    std::string_view m_lineEnd;
    std::string_view m_prefix;
    Encoding m_encoding = Encoding::Auto;
    CharMode m_mode = CharMode::Utf8;
    bool m_undecided = false; // Auto, and no byte above 0x7F in the first chunk
    bool m_longLines = false; // the first chunk's lines are long: reading is all the work
    std::optional<Regroup> m_regroup; // a join's records, made of the chunks' values

    std::atomic<std::size_t> m_next{0}; // the next chunk to take
    std::atomic<bool> m_abort{false};
    std::mutex m_mutex;
    std::condition_variable m_turned;
    // Under m_mutex, or the turn's holder's.
    std::size_t m_turn = 0; // the chunk whose output goes out next
    bool m_stop = false;
    JobStats m_total;
    std::uint64_t m_linesBefore = 0; // lines of the chunks gone out
    std::exception_ptr m_error;
    std::size_t m_restartAt = kNone;
    std::uint64_t m_restartBegin = 0;
};

unsigned parseCount(const char* text, unsigned fallback)
{
    if (text == nullptr || *text == '\0')
        return fallback;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    return *end == '\0' && v >= 1 && v <= 64 ? static_cast<unsigned>(v) : fallback;
}

} // namespace

ThreadPlan threadPlanFromEnvironment()
{
    ThreadPlan plan;
    plan.threads = parseCount(std::getenv("FWPREP_THREADS"), std::min(2u, std::max(1u, std::thread::hardware_concurrency())));
    if (const char* chunk = std::getenv("FWPREP_CHUNK"); chunk != nullptr && *chunk != '\0') {
        char* end = nullptr;
        const unsigned long long v = std::strtoull(chunk, &end, 10);
        if (*end == '\0' && v >= 1 && v <= (std::uint64_t{16} << 20)) {
            const unsigned threads = plan.threads;
            plan = ThreadPlan::chunked(static_cast<std::size_t>(v));
            plan.threads = threads;
        }
    }
    return plan;
}

std::optional<JobStats> runOnThreads(ByteSource& source, OutputSink& sink, const JobParams& params,
    const JobControl& control, std::size_t blockSize, const ThreadPlan& plan)
{
    if (plan.threads < 2 || control.progress || !source.positional() || source.size() < plan.minInput)
        return std::nullopt;
    const std::optional<ChunkJob> job = chunkJob(params);
    if (!job)
        return std::nullopt;
    ThreadedRun run(source, sink, *job, control, blockSize, plan);
    JobStats stats;
    if (!run.run(stats))
        return std::nullopt;
    return stats;
}

} // namespace fwprep
