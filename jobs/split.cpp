#include "split.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "chars.h"
#include "columns.h"
#include "line_driver.h"
#include "line_scan.h"
#include "utf8_x86.h"

namespace fwprep {

namespace {

// Pieces of at most this many bytes are copied with one fixed-size move.
constexpr std::size_t kShortPiece = 16;
static_assert(kShortPiece <= TextInput::kReadSlack);
// A line of UTF-8 letters with at most this many short pieces has its piece
// ends found by the character kernel in one call; a piece of at most
// kShortPiece characters has at most 4 * kShortPiece bytes.
constexpr std::size_t kShortUtf8Pieces = 64;
static_assert(4 * kShortPiece <= TextInput::kReadSlack);
// The pieces of a layout of narrow columns are copied with fixed-size moves
// of this many bytes.
constexpr std::size_t kNarrowColumn = 32;
static_assert(kNarrowColumn <= TextInput::kReadSlack);

// The most bytes a narrow column's CSV field can take: quoted, every byte a
// doubled quote.
constexpr std::size_t kQuotedNarrow = 2 * kNarrowColumn + 2;
// The same for a piece of up to 64 bytes (narrow columns of UTF-8 letters).
constexpr std::size_t kQuotedWide = 4 * kNarrowColumn + 2;
// Such a piece is moved, and its fill and quoting found, 64 bytes at a time.
static_assert(2 * kNarrowColumn <= TextInput::kReadSlack);

constexpr const char* kLineCut = "the line is longer than the record; its end would be lost";

// Whether a split goes to CSV with a layout whose records fit in 64 bytes,
// of narrow columns: such a job's whole lines go through a burst of their
// own (SplitWork<Kernels, true>::Burst::cutCsv()), compiled in a loop of its
// own.
bool csvLines(const JobParams& params, const Columns& cols, const OutputBuffer& out)
{
    return params.format == RecordFormat::Csv && cols.count() > 0 && cols.widest() <= kNarrowColumn
        && cols.totalWidth() <= 64 && cols.count() * (kQuotedNarrow + 1) + 2 <= out.capacity();
}

// Kernels: how the hot loop finds character positions (CalledKernels, or
// their code inlined in a loop compiled for wider instructions). CsvLines:
// csvLines() holds for the job.
template <class Kernels, bool CsvLines>
class SplitWork {
public:
    static constexpr bool kWideLoop = Kernels::kWide;
    SplitWork(const JobParams& params, const Columns& cols, OutputBuffer& out, std::string_view lineEnd,
        LossTally& tally)
        : m_cols(cols)
        , m_out(out)
        , m_lineEnd(lineEnd)
        , m_tally(tally)
        , m_count(cols.count())
        , m_total(cols.totalWidth())
        , m_trim(params.trim)
        , m_csv(params.format == RecordFormat::Csv)
        , m_delimiter(params.delimiter)
        , m_short(cols.plain() && !m_trim && !m_csv && cols.width(0) <= kShortPiece
              && m_count * (kShortPiece + 2) <= out.capacity())
        , m_shortUtf8(cols.plain() && !m_trim && !m_csv && cols.width(0) > 0 && cols.width(0) <= kShortPiece
              && m_count <= kShortUtf8Pieces && m_count * (4 * kShortPiece + 2) <= out.capacity())
        , m_windowPieces(m_shortUtf8 && m_count * cols.width(0) < 32)
        , m_narrow(!m_short && !m_csv && cols.widest() <= kNarrowColumn
              && m_count * (kNarrowColumn + 2) <= out.capacity())
        , m_narrowUtf8(m_narrow && m_total < 64 && m_count <= kShortUtf8Pieces
              && m_count * (2 * kNarrowColumn + 2) <= out.capacity())
        , m_narrowCsv(m_csv && cols.widest() <= kNarrowColumn && m_count * (kQuotedNarrow + 1) + 2 <= out.capacity())
        , m_narrowCsvUtf8(m_narrowCsv && m_total < 64 && m_count <= kShortUtf8Pieces
              && m_count * (kQuotedWide + 1) + 2 <= out.capacity())
        , m_perLine(m_csv ? 1 : m_count)
        , m_width(cols.width(0))
    {
        std::size_t start = 0;
        for (std::size_t i = 0; i < m_count; ++i) {
            m_widths.push_back(cols.width(i));
            m_fills.emplace_back(cols[i].fill);
            if (m_narrowUtf8 || m_narrowCsvUtf8)
                m_totals.push_back(static_cast<std::uint8_t>((i > 0 ? m_totals.back() : 0) + cols.width(i)));
            if constexpr (CsvLines) {
                const std::size_t end = start + cols.width(i);
                m_csvColumns.push_back({lowBits64(end) & ~lowBits64(start), cols[i].fill, cols[i].align == Align::Right});
                m_oneFill = m_oneFill && cols[i].fill == cols[0].fill;
                start = end;
            }
        }
    }

    template <CharMode M>
    [[gnu::always_inline]] void line(const char* data, std::size_t size, bool ascii)
    {
        if (m_count == 0)
            return;
        if (!quickLineAlone<M>(*this, data, size, ascii))
            otherLine<M>(data, size, ascii);
    }

    // Short uniform pieces over a run of whole lines: the output's place and
    // the cuts are kept in locals, which writes through the output would
    // otherwise make the compiler load again for every line.
    // With CsvLines, a split to CSV whose records fit in 64 bytes (cutCsv()):
    // its loop is compiled apart from the others, which carry none of its
    // code.
    template <CharMode M>
    class Burst {
    public:
        explicit Burst(SplitWork& w)
            : m_w(w)
            , m_count(w.m_count)
            , m_width(w.m_width)
            , m_total(w.m_total)
            , m_end(w.m_lineEnd)
            , m_widths(w.m_widths.data())
            , m_totals(w.m_totals.data())
            , m_cursor(w.m_out, w.m_tally)
        {
        }

        [[gnu::always_inline]] void line(const char* d, std::size_t len, bool ascii)
        {
            if (quickLine(d, len, ascii))
                return;
            end();
            m_w.otherLine<M>(d, len, ascii);
            m_cursor.load();
        }

        // Cuts the line when a quick path takes it; false, with nothing done,
        // when none does. Plain ASCII, the common case, needs no decoding:
        // bytes are characters. A line not known to be plain goes straight to
        // the character kernel, which takes ASCII as well: on text with other
        // letters that look fails on most lines.
        [[gnu::always_inline]] bool quickLine(const char* d, std::size_t len, bool ascii)
        {
            const bool known = M == CharMode::Bytes || ascii;
            if constexpr (CsvLines)
                return cutCsv(d, len, known);
            if (!known && m_w.m_shortUtf8) {
                cutUtf8(d, len);
                return true;
            }
            if (!(m_w.m_short || m_w.m_narrow))
                return false;
            if (known || utf8::isAscii(d, std::min(len, m_total))) {
                if (m_w.m_short)
                    cutBytes(d, len);
                else
                    cutNarrow(d, len);
                return true;
            }
            if constexpr (Kernels::kWide)
                return m_w.m_narrowUtf8 && cutNarrowUtf8(d, len);
            return false;
        }

        void end() { m_cursor.store(); }

    private:
        // Cuts the line into pieces of widthOf(i) bytes, each moved with one
        // fixed-size copy of Copy bytes (at least the widest piece). Cuts are
        // counted before the line is written: under the strict rule it is not.
        template <std::size_t Copy, class WidthOf>
        [[gnu::always_inline]] void cutFixed(const char* d, std::size_t len, WidthOf widthOf)
        {
            if (len > m_total)
                m_cursor.cut(kLineCut, [] {});
            m_cursor.room(m_count * (Copy + 2));
            char* dst = m_cursor.at;
            std::size_t start = 0;
            for (std::size_t i = 0; i < m_count; ++i) {
                const std::size_t width = widthOf(i);
                if (start < len) {
                    std::memcpy(dst, d + start, Copy);
                    dst += std::min(width, len - start);
                }
                dst = m_end.writeTo(dst);
                start += width;
            }
            m_cursor.at = dst;
        }

        // Short pieces of one width.
        [[gnu::always_inline]] void cutBytes(const char* d, std::size_t len)
        {
            cutFixed<kShortPiece>(d, len, [w = m_width](std::size_t) { return w; });
        }

        // Without trimming, a piece is the same whatever its column's
        // alignment and fill: a layout of narrow columns is cut as cutBytes()
        // cuts, column by column. Trimmed, see cutNarrowTrimmed().
        [[gnu::always_inline]] void cutNarrow(const char* d, std::size_t len)
        {
            if (m_w.m_trim)
                return cutNarrowTrimmed(d, len);
            cutFixed<kNarrowColumn>(d, len, [widths = m_widths](std::size_t i) { return widths[i]; });
        }

        // Trimmed, each piece's fill is found with one 32-byte compare. The
        // cut is counted after the line is written, as cutLine() counts it,
        // which trimmed lines went through before.
        [[gnu::always_inline]] void cutNarrowTrimmed(const char* d, std::size_t len)
        {
            m_cursor.room(m_count * (kNarrowColumn + 2));
            char* dst = m_cursor.at;
            std::size_t start = 0;
            for (std::size_t i = 0; i < m_count; ++i) {
                if (start < len) {
                    const char* const p = d + start;
                    const auto [b, e] = m_w.template trimmed<false>(i, p, std::min(m_widths[i], len - start));
                    std::memcpy(dst, p + b, kNarrowColumn);
                    dst += e - b;
                }
                dst = m_end.writeTo(dst);
                start += m_widths[i];
            }
            m_cursor.at = dst;
            if (len > m_total)
                m_cursor.cut(kLineCut, [] {});
        }

        // A layout of narrow columns on a line of letters of one and two
        // bytes: the character kernel finds where the pieces end, when they
        // end in the line's first 64 bytes (false, with nothing done, when
        // not), and each piece, at most 64 bytes, is moved with two 32-byte
        // moves; trimmed, its fill is found with two 32-byte compares.
        [[gnu::always_inline]] bool cutNarrowUtf8(const char* d, std::size_t len)
        {
            const char* ends[kShortUtf8Pieces];
            if (!Kernels::layoutPieceEnds(d, len, m_totals, m_count, ends))
                return false;
            m_cursor.room(m_count * (2 * kNarrowColumn + 2));
            char* dst = m_cursor.at;
            const char* p = d;
            for (std::size_t i = 0; i < m_count; ++i) {
                const auto [b, e] = m_w.template trimmed<true>(i, p, static_cast<std::size_t>(ends[i] - p));
                std::memcpy(dst, p + b, 2 * kNarrowColumn);
                dst = m_end.writeTo(dst + (e - b));
                p = ends[i];
            }
            m_cursor.at = dst;
            // Counted after the line is written, as cutLine() counts it: under
            // the strict rule the line's pieces go out before the failure.
            if (ends[m_count - 1] < d + len)
                m_cursor.cut(kLineCut, [] {});
            return true;
        }

        // To CSV, a line's first 64 bytes at a time: which are fill, which
        // need a field quoted, and whether any is not ASCII are found for the
        // whole line with one look, and each column takes its bits of them.
        // A line with letters other than ASCII goes to cutCsvUtf8(). As
        // cutNarrowCsvLine(), the cut is counted before the line is written.
        [[gnu::always_inline]] bool cutCsv(const char* d, std::size_t len, bool known)
        {
            const SplitWork::CsvColumn* const cols = m_w.m_csvColumns.data();
            const FieldMasks m = Kernels::fieldMasks64(d, m_w.m_delimiter, cols[0].fill);
            const std::uint64_t valid = lowBits64(len);
            if (!known && (m.high & valid & lowBits64(m_total)) != 0)
                return cutCsvUtf8(d, len);
            if (len > m_total)
                m_cursor.cut(kLineCut, [] {});
            m_cursor.room(m_count * (kQuotedNarrow + 1) + 2);
            const bool trim = m_w.m_trim;
            char* dst = m_cursor.at;
            for (std::size_t i = 0; i < m_count; ++i) {
                if (i > 0)
                    *dst++ = m_w.m_delimiter;
                const std::uint64_t whole = cols[i].bits & valid;
                std::uint64_t piece = whole;
                if (trim)
                    piece &= ~(m_w.m_oneFill ? m.fill : Kernels::equal64(d, cols[i].fill));
                if (piece == 0)
                    continue;
                // Trimmed, the piece starts at its first kept byte (right-
                // aligned) or ends after its last (left-aligned).
                const auto b = static_cast<std::size_t>(std::countr_zero(trim && cols[i].right ? piece : whole));
                const auto e = static_cast<std::size_t>(std::bit_width(trim && !cols[i].right ? piece : whole));
                const std::uint64_t inside = m.special & lowBits64(e) & ~lowBits64(b);
                if (inside == 0) {
                    Kernels::move32(dst, d + b);
                    dst += e - b;
                } else if ((inside & Kernels::equal64(d, '"')) != 0) {
                    dst = writeQuoted(dst, d + b, d + e);
                } else {
                    *dst = '"';
                    Kernels::move32(dst + 1, d + b);
                    dst += e - b + 1;
                    *dst++ = '"';
                }
            }
            m_cursor.at = m_end.writeTo(dst);
            return true;
        }

        // The same on a line of UTF-8 letters, when the character kernel
        // finds where the pieces end in its first 64 bytes (false, with
        // nothing done, when not). Each field of up to 64 bytes has its fill
        // and quoting found with two 32-byte compares. The cut is counted
        // after the line is written, as cutLine() counts it.
        [[gnu::always_inline]] bool cutCsvUtf8(const char* d, std::size_t len)
        {
            if constexpr (M == CharMode::Utf8 && Kernels::kWide) {
                if (!m_w.m_narrowCsvUtf8)
                    return false;
                const char* ends[kShortUtf8Pieces];
                if (!Kernels::layoutPieceEnds(d, len, m_totals, m_count, ends))
                    return false;
                m_cursor.room(m_count * (kQuotedWide + 1) + 2);
                char* dst = m_cursor.at;
                const char* p = d;
                for (std::size_t i = 0; i < m_count; ++i) {
                    if (i > 0)
                        *dst++ = m_w.m_delimiter;
                    const auto [b, e] = m_w.template trimmed<true>(i, p, static_cast<std::size_t>(ends[i] - p));
                    dst = m_w.template putCsvField<true>(dst, p, b, e);
                    p = ends[i];
                }
                m_cursor.at = m_end.writeTo(dst);
                if (ends[m_count - 1] < d + len)
                    m_cursor.cut(kLineCut, [] {});
                return true;
            } else {
                (void)d;
                (void)len;
                return false;
            }
        }

        // The character kernel finds where the pieces end.
        [[gnu::always_inline]] void cutUtf8(const char* d, std::size_t len)
        {
            const char* ends[kShortUtf8Pieces];
            const char* const end = d + len;
            std::size_t found = 0;
            if constexpr (Kernels::kWide) {
                if (m_w.m_windowPieces && Kernels::shortPieceEnds(d, len, m_width, m_count, ends))
                    found = m_count;
            }
            if (found == 0)
                found = Kernels::pieceEnds(d, end, m_width, m_count, ends);
            if (found == m_count && ends[found - 1] < end)
                m_cursor.cut(kLineCut, [] {});
            m_cursor.room(m_count * (4 * kShortPiece + 2));
            char* dst = m_cursor.at;
            // A piece of up to 8 characters has at most 32 bytes.
            const bool narrow = m_width <= kShortPiece / 2;
            for (std::size_t i = 0; i < m_count; ++i) {
                if (i < found) {
                    if (narrow)
                        std::memcpy(dst, d, 2 * kShortPiece);
                    else
                        std::memcpy(dst, d, 4 * kShortPiece);
                    dst += ends[i] - d;
                    d = ends[i];
                }
                dst = m_end.writeTo(dst);
            }
            m_cursor.at = dst;
        }

        SplitWork& m_w;
        const std::size_t m_count;
        const std::size_t m_width;
        const std::size_t m_total;
        const LineEndBytes m_end;
        const std::size_t* const m_widths;
        const std::uint8_t* const m_totals;
        BurstCursor m_cursor;
    };

    bool burstable() const { return (CsvLines || m_short || m_shortUtf8 || m_narrow) && m_count > 0; }
    template <CharMode M>
    Burst<M> burst()
    {
        return Burst<M>(*this);
    }

    // A long line, segment by segment: a piece that a segment ends within is
    // gathered (up to its width) until the next one completes it.
    template <CharMode M>
    void part(const char* p, std::size_t size, bool)
    {
        const char* const end = p + size;
        while (m_index < m_count && p < end) {
            const std::size_t width = m_cols.width(m_index);
            const char* q = takeChars<M>(p, end, width - m_pieceChars, m_pieceChars);
            m_piece.append(p, static_cast<std::size_t>(q - p));
            p = q;
            if (m_pieceChars == width)
                nextPiece();
        }
        if (p < end)
            m_lineCut = true;
    }

    void endLine()
    {
        if (m_count == 0)
            return;
        // The piece in progress, then the empty ones past the line's end.
        while (m_index < m_count)
            nextPiece();
        m_index = 0;
        if (m_lineCut)
            m_tally.cut(kLineCut);
        m_lineCut = false;
    }

    void finish() { m_tally.wrote(m_tally.line() * m_perLine); }

private:
    // The same to CSV, trimmed or not: which bytes are fill and which need
    // the field quoted is found for a whole piece at once.
    [[gnu::noinline]] void cutNarrowCsvLine(const char* d, std::size_t len)
    {
        if (len > m_total)
            m_tally.cut(kLineCut);
        char* dst = m_out.reserve(m_count * (kQuotedNarrow + 1) + 2);
        std::size_t start = 0;
        for (std::size_t i = 0; i < m_count; ++i) {
            if (i > 0)
                *dst++ = m_delimiter;
            if (start < len) {
                const char* const p = d + start;
                const auto [b, e] = trimmed<false>(i, p, std::min(m_widths[i], len - start));
                dst = putCsvField<false>(dst, p, b, e);
            }
            start += m_widths[i];
        }
        dst = m_lineEnd.writeTo(dst);
        m_out.commit(dst);
    }

    // The bytes of the 32 (Wide: 64) from p on that are in `set`.
    template <bool Wide, int N>
    [[gnu::always_inline]] static std::uint64_t bytesIn(const ByteSet32<N>& set, const char* p)
    {
        if constexpr (Wide)
            return set.match(p) | std::uint64_t{set.match(p + 32)} << 32;
        return set.match(p);
    }

    // The piece of `size` bytes at p, at most 32 (Wide: 64) with 32 (64)
    // bytes readable, without column i's fill when trimmed: [b, e) of p.
    template <bool Wide>
    [[gnu::always_inline]] std::pair<std::size_t, std::size_t> trimmed(std::size_t i, const char* p, std::size_t size) const
    {
        if (!m_trim)
            return {0, size};
        const std::uint64_t kept = lowBits64(size) & ~bytesIn<Wide>(m_fills[i], p);
        if (kept == 0)
            return {0, 0};
        if (m_cols[i].align == Align::Right)
            return {static_cast<std::size_t>(std::countr_zero(kept)), size};
        return {0, static_cast<std::size_t>(std::bit_width(kept))};
    }

    // Writes [b, e) of p (as trimmed()) as a CSV field at dst: quoted when it
    // holds the delimiter, a quote, CR or LF.
    template <bool Wide>
    [[gnu::always_inline]] char* putCsvField(char* dst, const char* p, std::size_t b, std::size_t e) const
    {
        constexpr std::size_t kMove = Wide ? 2 * kNarrowColumn : kNarrowColumn;
        const std::uint64_t special = bytesIn<Wide>(m_special, p) & lowBits64(e) & ~lowBits64(b);
        if (special == 0) {
            std::memcpy(dst, p + b, kMove);
            return dst + (e - b);
        }
        // Quoted; a quote inside is doubled, which few values have.
        if ((bytesIn<Wide>(m_quote, p) & special) != 0)
            return writeQuoted(dst, p + b, p + e);
        *dst = '"';
        std::memcpy(dst + 1, p + b, kMove);
        dst += e - b + 1;
        *dst++ = '"';
        return dst;
    }

    static char* writeQuoted(char* dst, const char* p, const char* end)
    {
        *dst++ = '"';
        for (; p < end; ++p) {
            if (*p == '"')
                *dst++ = '"';
            *dst++ = *p;
        }
        *dst++ = '"';
        return dst;
    }

    // The lines that no quick path takes: to CSV, or cut character by
    // character. Both out of line, so that the burst over whole lines stays
    // small.
    template <CharMode M>
    void otherLine(const char* data, std::size_t size, bool ascii)
    {
        const bool bytes = M == CharMode::Bytes || ascii || utf8::isAscii(data, std::min(size, m_total));
        if (m_narrowCsv && bytes)
            cutNarrowCsvLine(data, size);
        else if (bytes)
            cutLine<CharMode::Bytes>(data, data + size);
        else
            cutLine<M>(data, data + size);
    }

    template <CharMode M>
    [[gnu::noinline]] void cutLine(const char* p, const char* end)
    {
        for (std::size_t i = 0; i < m_count; ++i) {
            std::size_t taken = 0;
            const char* q = takeChars<M>(p, end, m_cols.width(i), taken);
            putPiece(i, p, q);
            p = q;
        }
        if (p < end)
            m_tally.cut(kLineCut);
    }

    void nextPiece()
    {
        putPiece(m_index, m_piece.data(), m_piece.data() + m_piece.size());
        m_piece.clear();
        m_pieceChars = 0;
        ++m_index;
    }

    void putPiece(std::size_t i, const char* begin, const char* end)
    {
        if (m_trim)
            trimFill(m_cols[i], begin, end);
        const auto size = static_cast<std::size_t>(end - begin);
        if (!m_csv) {
            m_out.append(begin, size);
            m_lineEnd.appendTo(m_out);
            return;
        }
        if (i > 0)
            m_out.append(&m_delimiter, 1);
        appendCsvField(m_out, begin, size, m_delimiter);
        if (i + 1 == m_count)
            m_lineEnd.appendTo(m_out);
    }

    const Columns& m_cols;
    OutputBuffer& m_out;
    const LineEndBytes m_lineEnd;
    LossTally& m_tally;
    const std::size_t m_count;
    const std::size_t m_total;
    const bool m_trim;
    const bool m_csv;
    const char m_delimiter;
    const bool m_short;
    const bool m_shortUtf8;
    const bool m_windowPieces; // the short UTF-8 pieces of a line end within 32 characters
    const bool m_narrow; // plain bytes go through Burst::cutNarrow()
    // Letters of one and two bytes may go through Burst::cutNarrowUtf8(), the
    // pieces' running totals of characters in m_totals.
    const bool m_narrowUtf8;
    std::vector<std::uint8_t> m_totals;
    std::vector<std::size_t> m_widths; // of every column, for Burst::cutNarrow()
    // For cutNarrowCsvLine(): the bytes that make a field quoted, the quote,
    // and each column's fill.
    const ByteSet32<4> m_special{m_delimiter, '"', '\r', '\n'};
    const ByteSet32<1> m_quote{'"'};
    std::vector<ByteSet32<1>> m_fills;
    const bool m_narrowCsv; // plain bytes go through cutNarrowCsvLine()
    const bool m_narrowCsvUtf8; // UTF-8 letters may go through Burst::cutCsvUtf8()
    // With CsvLines, each column's bits of a line's first 64 bytes, its fill
    // and alignment, for Burst::cutCsv().
    struct CsvColumn {
        std::uint64_t bits;
        char fill;
        bool right;
    };
    std::vector<CsvColumn> m_csvColumns;
    bool m_oneFill = true; // every column has the same fill
    const std::uint64_t m_perLine; // output lines per input line
    const std::size_t m_width;     // of the first column
    // A long line's progress.
    std::size_t m_index = 0;      // the piece being filled
    std::string m_piece;          // what it holds so far
    std::size_t m_pieceChars = 0; // in characters
    bool m_lineCut = false;
};

template <class Kernels, bool CsvLines>
void splitWith(TextInput& in, OutputBuffer& out, const JobParams& params, const Columns& cols,
    std::string_view lineEnd, std::string_view prefix, JobStats& stats)
{
    LossTally tally(stats, params.strict);
    SplitWork<Kernels, CsvLines> work(params, cols, out, lineEnd, tally);
    // Without columns nothing is written, but the input is still read through,
    // so that read errors show.
    forEachLine(in, out, cols.count() == 0 ? std::string_view("") : prefix, stats, work);
}

#if defined(FWPREP_X86_WIDE_LOOPS)
FWPREP_X86_WIDE_LOOP void splitWide(TextInput& in, OutputBuffer& out, const JobParams& params, const Columns& cols,
    std::string_view lineEnd, std::string_view prefix, JobStats& stats)
{
    splitWith<utf8::x86::InlineKernels, false>(in, out, params, cols, lineEnd, prefix, stats);
}
FWPREP_X86_WIDE_LOOP void splitWideCsv(TextInput& in, OutputBuffer& out, const JobParams& params,
    const Columns& cols, std::string_view lineEnd, std::string_view prefix, JobStats& stats)
{
    splitWith<utf8::x86::InlineKernels, true>(in, out, params, cols, lineEnd, prefix, stats);
}
#endif

} // namespace

void splitLines(TextInput& in, OutputBuffer& out, const JobParams& params, std::string_view lineEnd,
    std::string_view prefix, JobStats& stats)
{
    const Columns cols(params);
    const bool csv = csvLines(params, cols, out);
#if defined(FWPREP_X86_WIDE_LOOPS)
    // Only short pieces of one width, and the narrow columns of a layout of
    // fewer than 64 characters, use the kernels in the loop.
    if (utf8::x86::useWideLoops()
        && ((cols.plain() && cols.width(0) <= kShortPiece)
            || (cols.widest() <= kNarrowColumn && cols.totalWidth() < 64))) {
        if (csv)
            return splitWideCsv(in, out, params, cols, lineEnd, prefix, stats);
        return splitWide(in, out, params, cols, lineEnd, prefix, stats);
    }
#endif
    if (csv)
        return splitWith<CalledKernels, true>(in, out, params, cols, lineEnd, prefix, stats);
    splitWith<CalledKernels, false>(in, out, params, cols, lineEnd, prefix, stats);
}

} // namespace fwprep
