#include "join.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "chars.h"
#include "columns.h"
#include "csv_reader.h"
#include "line_driver.h"
#include "line_scan.h"
#include "utf8_x86.h"

namespace fwprep {

namespace {

// Columns of at most this many bytes are made with fixed-size moves.
constexpr std::size_t kShortColumn = 16;
static_assert(4 * kShortColumn <= TextInput::kReadSlack && 2 * kShortColumn <= OutputBuffer::kMinBlock);

// A layout of columns of at most this many bytes is joined from CSV with
// fixed-size moves, a record of at most kQuickRecord bytes at a time.
constexpr std::size_t kNarrowColumn = 32;
constexpr std::size_t kQuickRecord = 512;
constexpr std::size_t kMaxQuickColumns = 64;
// Room for a field of such a column: its fill, and up to 4 bytes a letter.
constexpr std::size_t kQuickFieldRoom = kNarrowColumn + 4 * kNarrowColumn;
static_assert(kNarrowColumn + 32 <= TextInput::kReadSlack && 64 <= TextInput::kReadSlack
    && 2 * kNarrowColumn <= OutputBuffer::kMinBlock);

constexpr const char* kValueCut = "the value is longer than its column";
constexpr const char* kFieldLeftOut = "the record has more fields than there are columns";

// A value gathered up to its column's width, for when it cannot go straight
// out: it comes in several pieces, and its fill may have to go first.
class ColumnValue {
public:
    template <CharMode M>
    void add(const char* data, std::size_t size, std::size_t width)
    {
        if (m_chars < width) {
            const char* q = takeChars<M>(data, data + size, width - m_chars, m_chars);
            m_bytes.append(data, static_cast<std::size_t>(q - data));
            m_cut = m_cut || q < data + size;
        } else {
            m_cut = m_cut || size > 0;
        }
    }
    // Writes the value fitted to `col`; true when some of it was cut.
    bool put(OutputBuffer& out, const Column& col)
    {
        putColumn(out, col, m_bytes.data(), m_bytes.size(), m_chars);
        const bool cut = m_cut;
        m_bytes.clear();
        m_chars = 0;
        m_cut = false;
        return cut;
    }

private:
    std::string m_bytes;
    std::size_t m_chars = 0;
    bool m_cut = false;
};

// Every input line is one value. Kernels: how the hot loop finds character
// positions (CalledKernels, or their code inlined in a loop compiled for
// wider instructions).
template <class Kernels>
class JoinWork {
public:
    static constexpr bool kWideLoop = Kernels::kWide;
    JoinWork(const Columns& cols, OutputBuffer& out, std::string_view lineEnd, LossTally& tally)
        : m_cols(cols)
        , m_out(out)
        , m_end(lineEnd)
        , m_tally(tally)
        , m_groupSize(cols.count())
        , m_plain(cols.plain())
        , m_width(cols.width(0))
        , m_fitsShortUtf8(kShortColumn + 4 * kShortColumn <= out.capacity())
    {
    }

    // A whole line needs no gathering: its column goes straight out. Inline in
    // the driver's burst over whole lines, where the reader's state stays in
    // registers.
    template <CharMode M>
    [[gnu::always_inline]] void line(const char* data, std::size_t size, bool ascii)
    {
        if (!quickLineAlone<M>(*this, data, size, ascii))
            otherLine<M>(data, size, ascii);
    }

    // Plain narrow columns over a run of whole lines: the output's place, the
    // column and the cuts are kept in locals, which writes through the output
    // would otherwise make the compiler load again for every line.
    template <CharMode M>
    class Burst {
    public:
        explicit Burst(JoinWork& w)
            : m_w(w)
            , m_width(w.m_width)
            , m_groupSize(w.m_groupSize)
            , m_end(w.m_end)
            , m_cursor(w.m_out, w.m_tally)
            , m_inGroup(w.m_inGroup)
        {
        }

        [[gnu::always_inline]] void line(const char* data, std::size_t size, bool ascii)
        {
            if (quickLine(data, size, ascii))
                return;
            end();
            m_w.otherLine<M>(data, size, ascii);
            m_cursor.load();
            m_inGroup = m_w.m_inGroup;
        }

        // Writes the line's column when a quick path takes it: plain bytes,
        // or UTF-8 letters where the output block has room for the fixed-size
        // moves (a column of at most kShortColumn characters has at most
        // 4 * kShortColumn bytes). False, with nothing done, otherwise.
        [[gnu::always_inline]] bool quickLine(const char* data, std::size_t size, bool ascii)
        {
            const std::size_t width = m_width;
            const auto sync = [this] { m_w.m_inGroup = m_inGroup; };
            const char* q = nullptr;
            std::size_t taken = 0;
            if constexpr (M == CharMode::Utf8 && Kernels::kWide) {
                // Whether a line's first letters are plain ASCII is a guess
                // on most text with other letters; this path does not ask.
                if (!ascii && m_w.m_fitsShortUtf8)
                    q = Kernels::shortPrefix(data, size, width, taken);
            }
            // Letters of `taken` characters up to q, moved with one copy of
            // Copy bytes (at most 4 * kShortColumn).
            const auto putLetters = [&]<std::size_t Copy>() {
                m_cursor.room(kShortColumn + 4 * kShortColumn);
                std::memset(m_cursor.at, ' ', kShortColumn);
                char* dst = m_cursor.at + (width - taken);
                std::memcpy(dst, data, Copy);
                m_cursor.at = dst + (q - data);
                if (q < data + size)
                    m_cursor.cut(kValueCut, sync);
            };
            if (q != nullptr) {
                putLetters.template operator()<2 * kShortColumn>();
            } else if (M == CharMode::Bytes || ascii || utf8::isAsciiShort(data, std::min(size, width))) {
                m_cursor.room(2 * kShortColumn);
                const std::size_t taken = std::min(size, width);
                std::memset(m_cursor.at, ' ', kShortColumn);
                std::memcpy(m_cursor.at + (width - taken), data, kShortColumn);
                m_cursor.at += width;
                if (size > width)
                    m_cursor.cut(kValueCut, sync);
            } else if (M == CharMode::Utf8 && m_w.m_fitsShortUtf8) {
                q = Kernels::advance(data, data + size, width, taken);
                putLetters.template operator()<4 * kShortColumn>();
            } else {
                return false;
            }
            if (++m_inGroup == m_groupSize) {
                m_cursor.room(sizeof m_end.bytes);
                m_cursor.at = m_end.writeTo(m_cursor.at);
                m_inGroup = 0;
            }
            return true;
        }

        void end()
        {
            m_cursor.store();
            m_w.m_inGroup = m_inGroup;
        }

    private:
        JoinWork& m_w;
        const std::size_t m_width;
        const std::size_t m_groupSize;
        const LineEndBytes m_end;
        BurstCursor m_cursor;
        std::size_t m_inGroup;
    };

    bool burstable() const { return m_plain && m_width <= kShortColumn; }
    template <CharMode M>
    Burst<M> burst()
    {
        return Burst<M>(*this);
    }

    // A line that arrives in several segments is gathered up to its width,
    // because its fill may have to go out before it.
    template <CharMode M>
    void part(const char* data, std::size_t size, bool)
    {
        m_value.add<M>(data, size, m_cols.width(m_inGroup));
    }

    void endLine()
    {
        if (m_value.put(m_out, m_cols[m_inGroup]))
            m_tally.cut(kValueCut);
        columnDone();
    }

    void finish()
    {
        if (m_inGroup > 0)
            m_end.appendTo(m_out);
        m_tally.wrote(joinedLines(m_tally.line(), m_groupSize));
    }

private:
    // A whole line that no quick path takes: its characters counted, its
    // column filled as the layout says.
    template <CharMode M>
    [[gnu::always_inline]] void otherLine(const char* data, std::size_t size, bool ascii)
    {
        const std::size_t width = m_plain ? m_width : m_cols.width(m_inGroup);
        std::size_t taken = 0;
        const char* q = M == CharMode::Bytes || ascii || utf8::isAscii(data, std::min(size, width))
            ? takeChars<CharMode::Bytes>(data, data + size, width, taken)
            : takeChars<M>(data, data + size, width, taken);
        putColumn(m_out, m_cols[m_inGroup], data, static_cast<std::size_t>(q - data), taken);
        if (q < data + size)
            m_tally.cut(kValueCut);
        columnDone();
    }

    void columnDone()
    {
        if (++m_inGroup == m_groupSize) {
            m_end.appendTo(m_out);
            m_inGroup = 0;
        }
    }

    const Columns& m_cols;
    OutputBuffer& m_out;
    const LineEndBytes m_end;
    LossTally& m_tally;
    const std::size_t m_groupSize; // 0: no end
    const bool m_plain;
    const std::size_t m_width;
    const bool m_fitsShortUtf8; // the output block has room for a UTF-8 column's fixed-size moves
    std::size_t m_inGroup = 0; // columns written on the current output line
    ColumnValue m_value;
};

// Every CSV record is one output line.
class CsvJoinWork {
public:
    CsvJoinWork(const JobParams& params, const Columns& cols, OutputBuffer& out, std::string_view lineEnd,
        LossTally& tally)
        : m_cols(cols)
        , m_out(out)
        , m_end(lineEnd)
        , m_tally(tally)
        , m_reader(params.delimiter)
        , m_delimiter(params.delimiter)
        , m_skipRecord(params.header)
        , m_narrow(!cols.unbounded() && cols.count() <= kMaxQuickColumns && cols.widest() <= kNarrowColumn
              && cols.count() * kQuickFieldRoom + sizeof m_end.bytes <= out.capacity())
    {
    }

    template <CharMode M>
    void line(const char* data, std::size_t size, bool ascii)
    {
        if (m_narrow && !m_skipRecord && size <= kQuickRecord && m_reader.atRecordStart()
            && quickRecord<M>(data, size, ascii))
            return;
        part<M>(data, size, ascii);
        endLine();
    }

    template <CharMode M>
    void part(const char* data, std::size_t size, bool ascii)
    {
        if (ascii)
            m_reader.read(data, size, m_tally.line(), FieldSink<CharMode::Bytes>{*this});
        else
            m_reader.read(data, size, m_tally.line(), FieldSink<M>{*this});
    }

    void endLine()
    {
        if (!m_reader.endLine())
            return; // a quoted field goes on past the line end
        endField();
        if (m_skipRecord) {
            m_skipRecord = false;
        } else {
            // Columns of fill for the fields that the record does not have.
            for (; m_field < m_cols.count(); ++m_field)
                putColumn(m_out, m_cols[m_field], "", 0, 0);
            m_end.appendTo(m_out);
            m_tally.wrote(1);
        }
        m_field = 0;
    }

    void finish() { m_reader.finish(); }

private:
    bool inColumns() const { return m_field < m_cols.count() || m_cols.unbounded(); }

    // A record on one line whose quoted fields hold no quote of their own, the
    // common case: where its fields begin and end is found from masks of the
    // delimiters and quotes, 32 bytes at a time, and each field goes straight
    // out. False, with nothing done, for any other record.
    template <CharMode M>
    bool quickRecord(const char* data, std::size_t size, bool ascii)
    {
        // Masks of 64 bytes each, with a bit at the record's end in both, so
        // that every look for the next one finds it: most records take one
        // mask, and no loop stops at a place that depends on their length.
        constexpr std::size_t kMaxChunks = kQuickRecord / 64 + 1;
        std::uint64_t delimiters[kMaxChunks];
        std::uint64_t quotes[kMaxChunks];
        const std::size_t chunks = size / 64 + 1;
        for (std::size_t k = 0; k < chunks; ++k) {
            const char* const p = data + 64 * k;
            const std::uint64_t valid = lowBits64(size - 64 * k);
            delimiters[k] = (m_delimiterSet.match(p) | std::uint64_t{m_delimiterSet.match(p + 32)} << 32) & valid;
            quotes[k] = (m_quoteSet.match(p) | std::uint64_t{m_quoteSet.match(p + 32)} << 32) & valid;
        }
        const std::uint64_t stop = std::uint64_t{1} << (size % 64);
        delimiters[chunks - 1] |= stop;
        quotes[chunks - 1] |= stop;
        // The first bit at or after `from` (at most `size`).
        const auto next = [&](const std::uint64_t* masks, std::size_t from) {
            std::size_t k = from / 64;
            std::uint64_t m = masks[k] & ~lowBits64(from % 64);
            while (m == 0)
                m = masks[++k];
            return 64 * k + static_cast<std::size_t>(std::countr_zero(m));
        };
        struct Field {
            std::size_t begin, size;
        } fields[kMaxQuickColumns];
        std::size_t count = 0; // fields found
        for (std::size_t at = 0;;) {
            std::size_t begin = at;
            std::size_t end;
            std::size_t after; // the delimiter, or `size`
            if (at < size && data[at] == '"') {
                begin = at + 1;
                end = next(quotes, begin);
                after = end + 1;
                if (end == size || (after < size && data[after] != m_delimiter))
                    return false; // a quote inside, text after the closing one, or a line end inside
                if (after > size)
                    after = size;
            } else {
                end = after = next(delimiters, at);
            }
            if (count < m_cols.count())
                fields[count] = {begin, end - begin};
            ++count;
            if (after >= size)
                break;
            at = after + 1;
        }
        // The record is made whole and its losses told before it goes out:
        // under the strict rule the first ends the job without it.
        const std::size_t columns = m_cols.count();
        char* dst = m_out.reserve(columns * kQuickFieldRoom + sizeof m_end.bytes);
        std::size_t cuts = 0;
        for (std::size_t i = 0; i < columns; ++i) {
            if (i < count) {
                dst = quickField<M>(dst, m_cols[i], data + fields[i].begin, fields[i].size, ascii, cuts);
            } else {
                std::memset(dst, m_cols[i].fill, kNarrowColumn);
                dst += m_cols[i].width;
            }
        }
        for (; cuts > 0; --cuts)
            m_tally.cut(kValueCut);
        for (std::size_t i = columns; i < count; ++i)
            m_tally.leftOut(kFieldLeftOut);
        m_out.commit(m_end.writeTo(dst));
        m_tally.wrote(1);
        return true;
    }

    // Writes a field fitted to its column at dst, which has room for
    // kQuickFieldRoom bytes, with fixed-size moves: the bytes past the column
    // are written over next. Counts a cut in `cuts`.
    template <CharMode M>
    static char* quickField(char* dst, const Column& col, const char* p, std::size_t size, bool ascii,
        std::size_t& cuts)
    {
        const auto width = static_cast<std::size_t>(col.width);
        std::size_t taken = std::min(size, width);
        std::size_t bytes = taken;
        if (M == CharMode::Utf8 && !ascii && !utf8::isAscii(p, size)) {
            taken = 0;
            bytes = static_cast<std::size_t>(takeChars<M>(p, p + size, width, taken) - p);
        }
        const std::size_t fill = width - taken;
        if (col.align == Align::Right) {
            std::memset(dst, col.fill, kNarrowColumn);
            dst += fill;
        }
        std::memcpy(dst, p, kNarrowColumn);
        for (std::size_t at = kNarrowColumn; at < bytes; at += kNarrowColumn)
            std::memcpy(dst + at, p + at, kNarrowColumn); // letters of several bytes
        dst += bytes;
        if (col.align == Align::Left) {
            std::memset(dst, col.fill, kNarrowColumn);
            dst += fill;
        }
        if (bytes < size)
            ++cuts;
        return dst;
    }

    template <CharMode M>
    struct FieldSink {
        CsvJoinWork& w;
        void text(const char* data, std::size_t size) const
        {
            if (!w.m_skipRecord && w.inColumns())
                w.m_value.add<M>(data, size, w.m_cols.width(w.m_field));
        }
        void fieldEnd() const { w.endField(); }
    };

    void endField()
    {
        if (!m_skipRecord) {
            if (inColumns()) {
                if (m_value.put(m_out, m_cols[m_field]))
                    m_tally.cut(kValueCut);
            } else {
                m_tally.leftOut(kFieldLeftOut);
            }
        }
        ++m_field;
    }

    const Columns& m_cols;
    OutputBuffer& m_out;
    const LineEndBytes m_end;
    LossTally& m_tally;
    CsvReader m_reader;
    const char m_delimiter;
    const ByteSet32<1> m_delimiterSet{m_delimiter};
    const ByteSet32<1> m_quoteSet{'"'};
    bool m_skipRecord;       // the header record
    const bool m_narrow;     // every column at most kNarrowColumn wide, and a fixed count of them
    std::size_t m_field = 0; // index of the field being read
    ColumnValue m_value;
};

template <class Kernels>
void joinPlain(TextInput& in, OutputBuffer& out, const Columns& cols, std::string_view lineEnd,
    std::string_view prefix, JobStats& stats, LossTally& tally)
{
    JoinWork<Kernels> work(cols, out, lineEnd, tally);
    forEachLine(in, out, prefix, stats, work);
}

#if defined(FWPREP_X86_WIDE_LOOPS)
FWPREP_X86_WIDE_LOOP void joinPlainWide(TextInput& in, OutputBuffer& out, const Columns& cols,
    std::string_view lineEnd, std::string_view prefix, JobStats& stats, LossTally& tally)
{
    joinPlain<utf8::x86::InlineKernels>(in, out, cols, lineEnd, prefix, stats, tally);
}
#endif

} // namespace

void joinLines(TextInput& in, OutputBuffer& out, const JobParams& params, std::string_view lineEnd,
    std::string_view prefix, JobStats& stats)
{
    const Columns cols(params);
    LossTally tally(stats, params.strict);
    if (params.format == RecordFormat::Csv) {
        CsvJoinWork work(params, cols, out, lineEnd, tally);
        forEachLine(in, out, prefix, stats, work);
        return;
    }
#if defined(FWPREP_X86_WIDE_LOOPS)
    // Only short columns of one width use the kernels in the loop.
    if (utf8::x86::useWideLoops() && cols.plain() && cols.width(0) <= kShortColumn)
        return joinPlainWide(in, out, cols, lineEnd, prefix, stats, tally);
#endif
    joinPlain<CalledKernels>(in, out, cols, lineEnd, prefix, stats, tally);
}

} // namespace fwprep
