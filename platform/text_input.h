#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "byte_source.h"
#include "control.h"
#include "line_scan.h"

namespace fwprep {

enum class Encoding {
    Auto,  // byte-order mark, else a look at the bytes from the first one above 0x7F
    Utf8,  // UTF-8 without looking (a byte-order mark is still skipped)
    Bytes, // one byte is one character, no byte-order mark handling
};

// How characters are counted once the encoding is settled.
enum class CharMode { Bytes, Utf8 };

enum class LineEnd { Lf, CrLf };

// Thrown by a TextInput told to refuseToSettle() where it would settle the mode.
struct ModeUnsettled {};

// A run of characters of the current line, without its line end. A long line
// comes in several segments, each ending on a character boundary; the last one
// has `endsLine` set.
struct Segment {
    const char* data = nullptr;
    std::size_t size = 0;
    bool endsLine = false;
    bool ascii = false; // known to hold no byte above 0x7F (false: not known)
};

// Reads a text file line by line in large blocks. A line ends at LF; a CR right
// before the LF belongs to the line end; a lone CR and NUL are ordinary
// characters; a last line without a line end is a line; a line end at the very
// end adds no empty line. Memory stays within one block whatever the length of
// a line. With FWPREP_INPUT=map a large regular file is read through a mapping
// rather than copied, one block at a time all the same. Throws IoError and
// Cancelled.
class TextInput {
public:
    // A block the size of a core's second-level cache or less stays there
    // from its read() until its lines are done: 256 KiB blocks made every job
    // of the benchmark 0-18 % faster than 1 MiB blocks, 128 KiB ones no faster.
    static constexpr std::size_t kDefaultBlock = std::size_t{256} << 10;
    // Without a byte-order mark, the bytes that decide the encoding: this many
    // from the first byte above 0x7F on.
    static constexpr std::size_t kDetectWindow = std::size_t{64} << 10;
    // A first line longer than this (not counting a byte-order mark or its
    // line end) is not looked through for its line end.
    static constexpr std::size_t kFirstLineLookahead = std::size_t{1} << 20;
    // The bytes of a segment may be read (never used) up to this far past its
    // end, so that hot loops can copy short pieces with fixed-size moves.
    static constexpr std::size_t kReadSlack = 64;

    TextInput(ByteSource& source, Encoding encoding, const JobControl& control, std::size_t blockSize = kDefaultBlock);

    // Reads the head of the input: the byte-order mark and the first line end.
    // Must be called once before next(), or startWithin() instead.
    void start();
    // Starts at a line start within an input whose head has been read
    // elsewhere: no byte-order mark, no first line end to look for. Under
    // Encoding::Auto every byte before was ASCII: the mode is still to be
    // settled, as at the start of an input.
    void startWithin();
    // Under Encoding::Auto, throws ModeUnsettled where the mode would be
    // settled, instead of settling it: before any byte above 0x7F is handed
    // out.
    void refuseToSettle() { m_refuseToSettle = true; }
    // How the bytes of a window taken from an input's first byte above 0x7F
    // are counted: kDetectWindow bytes, and one more when the input goes on.
    static CharMode detectMode(const char* window, std::size_t size);

    // How characters are counted. Under Encoding::Auto without a byte-order
    // mark, the mode is settled when the first byte above 0x7F comes up, before
    // the segment that holds it is handed out; until then every byte was ASCII,
    // which reads the same in both modes, and the answer is Utf8. A loop that
    // dispatches on the mode must ask again after next() has handed out a
    // segment whose `ascii` is false.
    CharMode charMode() const { return m_mode; }
    // Whether the mode is taken from the bytes (Encoding::Auto, no byte-order mark).
    bool modeDetected() const { return m_detected; }
    // False while the mode is still to be detected: at the end of the input,
    // that it held no byte above 0x7F.
    bool modeSettled() const { return !m_undecided; }
    bool hasByteOrderMark() const { return m_bom; }
    // The first line end of the input; LF when it has none within
    // kFirstLineLookahead bytes of the first line.
    LineEnd firstLineEnd() const { return m_firstLineEnd; }

    bool next(Segment& segment)
    {
        // Most lines are found whole in the block at hand.
        bool found = false;
        handOutLines([&](const char* data, std::size_t size, bool ascii) {
            segment = {data, size, true, ascii};
            found = true;
            return false;
        });
        return found || nextSlow(segment);
    }

    // Hands each further line that the block holds whole to
    // f(data, size, ascii) -> bool, as next() would, until f returns false or
    // no whole line is left; next() then goes on. For tight loops: the reader's
    // state stays in registers meanwhile. Does nothing in the middle of a line.
    // With `Wide`, chunks are looked at with AVX2: only in a loop compiled
    // for it (utf8::x86::useWideLoops()).
    template <bool Wide = false, class F>
    [[gnu::always_inline]] void forEachWholeLine(F&& f)
    {
        if (!m_inLine)
            handOutLines<Wide>(f);
    }

    // For a loop that finds the lines of a block itself: the bytes held from
    // the reader's place on, which is a line start (empty in the middle of a
    // line). They may be read up to kReadSlack bytes past their end.
    std::string_view held() const
    {
        return m_inLine ? std::string_view() : std::string_view(m_data + m_begin, m_end - m_begin);
    }
    // Moves the reader's place `bytes` further into held(), to a line start
    // (right after an LF) that such a loop has reached.
    void skipHeld(std::size_t bytes)
    {
        if (bytes != 0) {
            m_begin += bytes;
            scanFrom(m_begin);
        }
    }

    std::uint64_t bytesRead() const { return m_bytesRead; }
    // Whether some of the input came through a mapping rather than reads.
    bool usedMapping() const { return m_usedMapping; }
    const std::string& path() const { return m_source.path(); }

private:
    bool nextSlow(Segment& segment);
    template <bool Wide>
    static ChunkMasks scanChunkFor(const char* p)
    {
#if defined(FWPREP_X86_WIDE_LOOPS)
        if constexpr (Wide)
            return scanChunkWide(p);
#else
        static_assert(!Wide, "no wide loops on this platform");
#endif
        return scanChunk(p);
    }
    // Looks at the 64-byte chunk at `at` of buf[0, end): its LFs, and the last
    // byte above 0x7F if it has one.
    template <bool Wide = false>
    static void lookAt(const char* buf, std::size_t at, std::size_t end, std::uint64_t& lineEnds,
        std::int64_t& lastHigh)
    {
        const ChunkMasks masks = scanChunkFor<Wide>(buf + at);
        const std::size_t valid = end - at;
        const std::uint64_t keep = lowBits64(valid);
        lineEnds = masks.lineEnds & keep;
        if (const std::uint64_t high = masks.high & keep)
            lastHigh = static_cast<std::int64_t>(at) + 63 - __builtin_clzll(high);
    }
    void scanFrom(std::size_t at)
    {
        m_chunk = at;
        lookAt(m_data, at, m_end, m_lineEnds, m_lastHigh);
    }

    // Hands out the lines found whole in the bytes held, chunk by chunk, until
    // f returns false or the bytes held end; works on copies of the reader's
    // state, which writes through char pointers could otherwise alias.
    template <bool Wide = false, class F>
    [[gnu::always_inline]] void handOutLines(F&& f)
    {
        const char* const buf = m_data;
        const std::size_t end = m_end;
        std::size_t begin = m_begin;
        std::size_t chunk = m_chunk;
        std::uint64_t lineEnds = m_lineEnds;
        std::int64_t lastHigh = m_lastHigh;
        const bool undecided = m_undecided;
        for (bool more = true; more;) {
            if (undecided && lastHigh >= 0)
                break; // the first byte above 0x7F: the mode is settled first (nextSlow)
            while (lineEnds != 0) {
                const std::size_t lf = chunk + static_cast<std::size_t>(__builtin_ctzll(lineEnds));
                lineEnds &= lineEnds - 1;
                std::size_t len = lf - begin;
                if (len > 0 && buf[lf - 1] == '\r')
                    --len; // a CR right before the LF belongs to the line end
                more = f(buf + begin, len, lastHigh < static_cast<std::int64_t>(begin));
                begin = lf + 1;
                if (!more)
                    break;
            }
            if (!more || chunk + 64 >= end)
                break;
            chunk += 64;
            lookAt<Wide>(buf, chunk, end, lineEnds, lastHigh);
        }
        if (begin != m_begin)
            m_inLine = false; // a line has ended
        m_begin = begin;
        m_chunk = chunk;
        m_lineEnds = lineEnds;
        m_lastHigh = lastHigh;
    }

    void stopIfCancelled() const;
    void counted(std::size_t got); // bytes taken in: progress
    std::size_t pull(char* dst, std::size_t size);
    std::size_t pullIntoHead(std::size_t size);
    void findFirstLineEnd();
    void settleMode();
    void refill();
    bool enterMapped();
    void advanceMapped();
    void leaveMapped();
    void checkMapped() const;
    std::size_t holdBack(const char* begin, const char* end) const;

    ByteSource& m_source;
    Encoding m_encoding;
    JobControl m_control;
    std::size_t m_capacity;
    std::unique_ptr<char[]> m_buf;
    const char* m_data;             // the bytes held: m_buf, or a window of m_map
    std::unique_ptr<MappedFile> m_map;
    std::size_t m_mapEnd = 0;       // how far m_map may be handed out
    bool m_mapTried = false;
    bool m_usedMapping = false;
    std::size_t m_begin = 0;        // start of the unread part
    std::size_t m_end = 0;          // end of the bytes held
    std::size_t m_chunk = 0;        // the chunk being looked at: every LF before it is handed out
    std::uint64_t m_lineEnds = 0;   // LFs of that chunk not yet handed out
    std::int64_t m_lastHigh = -1;   // last byte above 0x7F looked at (-1: none)
    bool m_eof = false;
    bool m_sourceDone = false; // the source has reported its end
    bool m_inLine = false;     // part of the current line has been handed out
    std::string m_head;        // bytes read ahead (the head; the rest of the encoding's window), handed out first
    std::size_t m_headPos = 0;
    std::uint64_t m_bytesRead = 0;
    CharMode m_mode = CharMode::Bytes;
    bool m_detected = false;
    bool m_undecided = false; // detected, and no byte above 0x7F met yet
    bool m_refuseToSettle = false;
    bool m_bom = false;
    LineEnd m_firstLineEnd = LineEnd::Lf;
};

} // namespace fwprep
