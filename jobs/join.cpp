#include "join.h"

#include <algorithm>
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
constexpr std::size_t kNarrowColumn = 32; // the kernels' move32()
constexpr std::size_t kQuickRecord = 512;
constexpr std::size_t kMaxQuickColumns = 64;
// Room for a field of such a column: its fill, and up to 4 bytes a letter.
constexpr std::size_t kQuickFieldRoom = kNarrowColumn + 4 * kNarrowColumn;
static_assert(kNarrowColumn + 32 <= TextInput::kReadSlack && 64 <= TextInput::kReadSlack
    && 2 * kNarrowColumn <= OutputBuffer::kMinBlock);
// How far past a chunk that it could not take a block parser is tried again
// at most, after it took nothing time after time.
constexpr std::size_t kBlockMissMost = std::size_t{64} << 10;

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
            burstLine(*this, data, size, ascii, [&] { m_w.otherLine<M>(data, size, ascii); });
        }
        void resume()
        {
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

// Every CSV record is one output line. Kernels: as for JoinWork.
template <class Kernels>
class CsvJoinWork {
    // What the quick paths need of a column at hand: 32 bytes of its fill to
    // move in one go.
    struct QuickColumn {
        std::size_t width;
        std::size_t right; // all ones when right-aligned, else 0
        char fill[kNarrowColumn];
    };
    struct Field {
        std::size_t begin, size;
    };
    // The columns for the quick paths, in a caller's locals.
    struct QuickLayout {
        const QuickColumn* cols;
        std::size_t count;
        char delimiter;
    };
    // What the quick paths may write of a record of `columns` columns.
    static constexpr std::size_t recordRoom(std::size_t columns)
    {
        return columns * kQuickFieldRoom + sizeof(LineEndBytes::bytes);
    }

public:
    static constexpr bool kWideLoop = Kernels::kWide;

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
              && recordRoom(cols.count()) <= out.capacity())
    {
        if (m_narrow) {
            for (std::size_t i = 0; i < cols.count(); ++i) {
                QuickColumn& q = m_quick.emplace_back();
                q.width = cols.width(i);
                q.right = cols[i].align == Align::Right ? ~std::size_t{0} : 0;
                std::memset(q.fill, cols[i].fill, sizeof q.fill);
            }
        }
    }

    template <CharMode M>
    void line(const char* data, std::size_t size, bool ascii)
    {
        if (!(atQuickStart() && size < 64 && shortRecordAlone<M>(data, size, ascii)))
            otherLine<M>(data, size, ascii);
    }

    // Records of fewer than 64 bytes over a run of whole lines: the output's
    // place, the columns and the cuts are kept in locals, which writes
    // through the output would otherwise make the compiler load again for
    // every field.
    template <CharMode M>
    class Burst {
    public:
        explicit Burst(CsvJoinWork& w)
            : m_w(w)
            , m_layout(w.layout())
            , m_end(w.m_end)
            , m_cursor(w.m_out, w.m_tally)
            , m_atStart(w.atQuickStart())
            , m_lenient(!w.m_tally.strict())
        {
        }

        [[gnu::always_inline]] void line(const char* data, std::size_t size, bool ascii)
        {
            burstLine(*this, data, size, ascii, [&] { m_w.template otherLine<M>(data, size, ascii); });
        }
        void resume()
        {
            m_cursor.load();
            m_atStart = m_w.atQuickStart();
        }

        [[gnu::always_inline]] bool quickLine(const char* data, std::size_t size, bool ascii)
        {
            if (!m_atStart || size >= 64)
                return false;
            m_cursor.room(recordRoom(m_layout.count));
            std::size_t fields = 0;
            std::size_t cuts = 0;
            char* dst = shortRecord<M>(m_cursor.at, m_layout, data, size, ascii, fields, cuts);
            if (dst == nullptr && m_lenient)
                dst = shortRecordDoubled<M>(m_cursor.at, m_layout, data, size, ascii, fields, cuts);
            if (dst == nullptr || fields > m_layout.count)
                return false; // left-out fields are told by the other ways
            finishRecord(dst, m_layout, m_layout.cols + fields, cuts);
            return true;
        }

        // Whole records of whole lines from data on, found a 64-byte chunk at a
        // time from masks of its quotes, delimiters and LFs: a byte is inside
        // a quoted part when an odd number of quotes from the block's start
        // go before it or are on it, and the delimiters and LFs outside end
        // the fields. A chunk is taken when every quote in it opens a field,
        // closes one right before its end, or (not under the strict rule) is
        // one of a doubled quote inside a quoted part, and it holds no LF
        // inside a quoted part, no CR, and in UTF-8 no byte above 0x7F. Stops
        // before the first record that ends in a chunk not taken, that has
        // more fields than columns, that may be longer than kQuickRecord, or
        // that has a doubled quote in a value of 64 bytes or more, and asks
        // to be tried again past that chunk: further past each time nothing
        // was taken, so that text of other kinds costs little here.
        [[gnu::always_inline]] BlockTaken block(const char* data, std::size_t size, std::uint64_t& lines)
        {
            if (!m_atStart)
                return {0, 0};
            const QuickLayout layout = m_layout;
            const std::size_t room = recordRoom(layout.count);
            std::size_t record = 0; // where the record at hand starts
            std::size_t field = 0;  // where the field at hand starts
            const QuickColumn* column = layout.cols; // its column
            const QuickColumn* const columnsEnd = layout.cols + layout.count;
            std::size_t cuts = 0;
            std::uint64_t insideBefore = 0; // all ones when the chunk before ended inside quotes
            std::uint64_t endBefore = 1;    // its last byte ended a field (the block's start: a record's)
            std::uint64_t closeBefore = 0;  // its last byte was a closing quote
            std::uint64_t pairsBefore = 0;  // its doubled quotes' second quotes
            std::size_t pairEnd = 0;        // right after the last such quote so far
            char undoubled[128];
            // Not under the strict rule: see shortRecord().
            const std::uint64_t pairsTaken = m_lenient ? ~std::uint64_t{0} : 0;
            const typename Kernels::template CsvScan<M == CharMode::Utf8> scan(layout.delimiter);
            m_cursor.room(room);
            char* dst = m_cursor.at;
            const char* roomEnd = m_cursor.roomEnd(room); // a record starting past it may not fit
            // The records taken since `lines` and m_written were last brought
            // up to date: a cut reads them, and is rare.
            std::uint64_t records = 0;
            std::size_t stop = 0; // where a chunk not taken ends (0: none)
            for (std::size_t at = 0; stop == 0 && at + 64 <= size; at += 64) {
                const CsvChunkMasks m = scan(data + at);
                const std::uint64_t inside = Kernels::prefixXor64(m.quotes) ^ insideBefore;
                const std::uint64_t ends = m.ends & ~inside;
                const std::uint64_t opening = m.quotes & inside;
                const std::uint64_t closing = m.quotes & ~inside;
                // A closing quote right before an opening one is the first of
                // a doubled quote, the opening one its second.
                const std::uint64_t afterClosing = closing << 1 | closeBefore;
                const std::uint64_t pairs = afterClosing & opening & pairsTaken;
                const std::uint64_t odd = m.odd | (m.lineEnds & inside)
                    | ((opening & ~pairs) & ~(ends << 1 | endBefore)) | (afterClosing & ~(ends | pairs));
                // A record longer than kQuickRecord goes the general way, as
                // it did before: that way writes a record's values up to a
                // strict failure. Such a record spans a chunk without a line
                // end before the one with its own, where this looks ahead.
                if (odd != 0 || (m.lineEnds == 0 && at + 128 - record > kQuickRecord)) {
                    stop = at + 64;
                    break;
                }
                insideBefore = static_cast<std::uint64_t>(static_cast<std::int64_t>(inside) >> 63);
                endBefore = ends >> 63;
                closeBefore = closing >> 63;
                if (pairs != 0)
                    pairEnd = at + 64 - static_cast<std::size_t>(std::countl_zero(pairs));
                // The fields that end in the chunk; their values lose their
                // doubled quotes' second quotes when `Pairs`.
                const auto takeFields = [&]<bool Pairs>() __attribute__((always_inline)) {
                    for (std::uint64_t e = ends; e != 0; e &= e - 1) {
                        const auto inChunk = static_cast<std::size_t>(std::countr_zero(e));
                        const std::size_t end = at + inChunk;
                        if (column == columnsEnd) {
                            stop = at + 64; // more fields than columns: told by the other ways
                            return;
                        }
                        // A quoted value's closing quote is right before
                        // its end: any other is turned down above.
                        const std::size_t quoted = afterClosing >> inChunk & 1;
                        const char* value = data + field + quoted;
                        std::size_t bytes = end - field - 2 * quoted;
                        if constexpr (Pairs) {
                            // A value of fewer than 64 bytes begins at the
                            // earliest in the chunk before, whose pairs are at
                            // hand; a longer one after the last pair goes as it
                            // is, any other the general way.
                            const std::size_t from = field + quoted;
                            if (bytes >= 64) {
                                if (pairEnd > from) {
                                    stop = at + 64;
                                    return;
                                }
                            } else {
                                const std::size_t shift = from + 64 - at; // from's place in the two chunks' pairs
                                const std::uint64_t drop = (shift >= 64
                                        ? pairs >> (shift - 64)
                                        : pairsBefore >> shift | (pairs << 1) << (63 - shift))
                                    & ((std::uint64_t{1} << bytes) - 1);
                                if (drop != 0) {
                                    bytes = undouble(undoubled, value, bytes, drop);
                                    value = undoubled;
                                }
                            }
                        }
                        dst = blockField(dst, *column, value, bytes, cuts);
                        ++column;
                        field = end + 1;
                        if ((m.lineEnds >> inChunk & 1) == 0)
                            continue;
                        // The record's end.
                        if (cuts != 0) [[unlikely]] {
                            lines += records + 1; // this one read, those before it written too
                            m_written += records;
                            records = 0;
                            finishRecord(dst, layout, column, cuts);
                        } else {
                            m_cursor.at = finishColumns(dst, layout, column);
                            ++records;
                        }
                        cuts = 0;
                        record = field;
                        column = layout.cols;
                        if (m_cursor.at > roomEnd) [[unlikely]] {
                            m_cursor.room(room);
                            roomEnd = m_cursor.roomEnd(room);
                        }
                        dst = m_cursor.at;
                    }
                };
                if (pairEnd > field) [[unlikely]] // in the field at hand, or in one after it
                    takeFields.template operator()<true>();
                else
                    takeFields.template operator()<false>();
                pairsBefore = pairs;
            }
            lines += records;
            m_written += records;
            if (stop == 0)
                return {record, 0}; // the block's end: its last lines go one by one
            // The lines that were not taken go one by one to past the chunk
            // that stopped this; further past when nothing was taken.
            m_w.m_blockMiss = record == 0 ? std::min(2 * m_w.m_blockMiss + 64, kBlockMissMost) : 0;
            return {record, stop + m_w.m_blockMiss};
        }

        void end()
        {
            m_cursor.store();
            sync();
        }

    private:
        // Ends a record whose columns are written up to dst, those before
        // `next`: its cuts told, and finishColumns().
        [[gnu::always_inline]] void finishRecord(
            char* dst, const QuickLayout layout, const QuickColumn* next, std::size_t cuts)
        {
            for (; cuts > 0; --cuts)
                m_cursor.cut(kValueCut, [this] { sync(); });
            m_cursor.at = finishColumns(dst, layout, next);
            ++m_written;
        }
        // Columns of fill for the fields that a record written up to dst does
        // not have, and its line end; returns the end.
        [[gnu::always_inline]] char* finishColumns(char* dst, const QuickLayout layout, const QuickColumn* next)
        {
            return m_end.writeTo(fillColumns(dst, next, layout.cols + layout.count));
        }

        void sync()
        {
            m_w.m_tally.wrote(m_written);
            m_written = 0;
        }

        CsvJoinWork& m_w;
        const QuickLayout m_layout;
        const LineEndBytes m_end;
        BurstCursor m_cursor;
        bool m_atStart; // no record or header half read: the quick path may take the next line
        const bool m_lenient; // not strict: doubled quotes may take the quick path (see shortRecord())
        std::uint64_t m_written = 0;
    };

    bool burstable() const { return m_narrow; }
    template <CharMode M>
    Burst<M> burst()
    {
        return Burst<M>(*this);
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

    QuickLayout layout() const { return {m_quick.data(), m_quick.size(), m_delimiter}; }
    bool atQuickStart() const { return m_narrow && !m_skipRecord && m_reader.atRecordStart(); }

    // A whole line that the path for short records does not take: a record on
    // one line whose quoted fields hold no quote of their own goes through
    // longRecord(), any other through the CSV reader.
    template <CharMode M>
    void otherLine(const char* data, std::size_t size, bool ascii)
    {
        if (atQuickStart() && size <= kQuickRecord && longRecord<M>(data, size, ascii))
            return;
        part<M>(data, size, ascii);
        endLine();
    }

    // shortRecord() outside a burst. The record is made whole and its losses
    // told before it goes out: under the strict rule the first ends the job
    // without it.
    template <CharMode M>
    bool shortRecordAlone(const char* data, std::size_t size, bool ascii)
    {
        std::size_t fields = 0;
        std::size_t cuts = 0;
        char* dst = m_out.reserve(recordRoom(m_quick.size()));
        char* const start = dst;
        dst = shortRecord<M>(start, layout(), data, size, ascii, fields, cuts);
        if (dst == nullptr && !m_tally.strict())
            dst = shortRecordDoubled<M>(start, layout(), data, size, ascii, fields, cuts);
        return dst != nullptr && finishQuick(dst, fields, cuts);
    }

    // Writes at dst the columns of a record of fewer than 64 bytes, as many of
    // its first fields as there are columns, found from one mask each of its
    // delimiters and quotes: returns the end, with the number of its fields in
    // `fields` and the values cut in `cuts`. A byte is inside a quoted part
    // when an odd number of quotes goes before it or is on it; the delimiters
    // outside are the fields' ends, provided every quote opens a field or
    // closes one right before its end. Any other quote (doubled, unless
    // `Doubled`; inside an unquoted field; left open at the line end) turns
    // the record down: null, with nothing written.
    // With `Doubled`, a quote doubled inside a quoted part is taken too: it
    // closes the part and opens it again at once, and the value loses the
    // second quote of each pair. Records with such quotes are few; this
    // variant is out of line (shortRecordDoubled()), so that the common one
    // pays nothing for them. Under the strict rule such records go the
    // general way as before, which writes the failing record's values up to
    // the cut: standard output before a strict failure stays what it was.
    template <CharMode M, bool Doubled = false>
    [[gnu::always_inline]] static char* shortRecord(char* dst, const QuickLayout layout, const char* data,
        std::size_t size, bool ascii, std::size_t& fields, std::size_t& cuts)
    {
        const std::uint64_t valid = lowBits64(size);
        const std::uint64_t quotes = Kernels::equal64(data, '"') & valid;
        std::uint64_t ends = Kernels::equal64(data, layout.delimiter) & valid;
        const std::uint64_t stop = std::uint64_t{1} << size;
        std::uint64_t doubled = 0; // the second quote of each pair
        if (quotes != 0) {
            const std::uint64_t inside = Kernels::prefixXor64(quotes);
            if (inside & stop)
                return nullptr; // open at the line end
            ends = (ends & ~inside) | stop;
            std::uint64_t opening = quotes & inside;
            std::uint64_t closing = quotes & ~inside;
            if constexpr (Doubled) {
                const std::uint64_t first = closing & (opening >> 1);
                doubled = first << 1;
                opening &= ~doubled;
                closing &= ~first;
            }
            if ((opening & ~(ends << 1 | 1)) != 0 || (closing & ~(ends >> 1)) != 0)
                return nullptr;
        } else {
            ends |= stop;
        }
        // Letters of two bytes: a field's characters are its bytes less the
        // letters' second bytes. Other text counts field by field.
        std::uint64_t follow = 0;
        const bool byMask = M == CharMode::Bytes || ascii || Kernels::secondBytes64(data, valid, follow);
        fields = static_cast<std::size_t>(std::popcount(ends));
        const std::size_t n = std::min(fields, layout.count);
        for (std::size_t i = 0, at = 0; i < n; ++i) {
            const auto end = static_cast<std::size_t>(std::countr_zero(ends));
            ends &= ends - 1;
            const std::size_t quoted = (quotes >> at) & 1;
            std::size_t bytes = end - at - 2 * quoted;
            const char* p = data + at + quoted;
            char undoubled[128];
            if (Doubled && quoted != 0) {
                // The value without the second quote of each pair.
                const std::uint64_t drop = doubled >> (at + 1) & lowBits64(bytes);
                if (drop != 0) {
                    bytes = undouble(undoubled, p, bytes, drop);
                    p = undoubled;
                }
            }
            std::size_t chars = bytes;
            if (!byMask)
                chars = countChars<M>(p, bytes);
            else if (follow != 0)
                chars -= static_cast<std::size_t>(std::popcount(follow & lowBits64(end) & ~lowBits64(at)));
            dst = quickField<M>(dst, layout.cols[i], p, bytes, chars, ascii, cuts);
            at = end + 1;
        }
        return dst;
    }

    // Out of line, it is compiled for AVX2 on its own where the loop that
    // calls it is: the loop's instructions do not reach into it.
    template <CharMode M>
    static char* shortRecordDoubled(char* dst, const QuickLayout layout, const char* data, std::size_t size,
        bool ascii, std::size_t& fields, std::size_t& cuts)
    {
#if defined(FWPREP_X86_WIDE_LOOPS)
        if constexpr (Kernels::kWide)
            return shortRecordDoubledWide<M>(dst, layout, data, size, ascii, fields, cuts);
#endif
        return shortRecordDoubledOutOfLine<M>(dst, layout, data, size, ascii, fields, cuts);
    }
    template <CharMode M>
    [[gnu::noinline]] static char* shortRecordDoubledOutOfLine(char* dst, const QuickLayout layout,
        const char* data, std::size_t size, bool ascii, std::size_t& fields, std::size_t& cuts)
    {
        return shortRecord<M, true>(dst, layout, data, size, ascii, fields, cuts);
    }
#if defined(FWPREP_X86_WIDE_LOOPS)
    template <CharMode M>
    [[gnu::noinline]] FWPREP_X86_WIDE_LOOP static char* shortRecordDoubledWide(char* dst, const QuickLayout layout,
        const char* data, std::size_t size, bool ascii, std::size_t& fields, std::size_t& cuts)
    {
        return shortRecord<M, true>(dst, layout, data, size, ascii, fields, cuts);
    }
#endif

    // Any record on one line whose quoted fields hold no quote of their own,
    // the other quotes being ordinary characters: its fields are found from
    // masks of 64 bytes each of its delimiters and quotes, with a bit at the
    // record's end in both, so that every look for the next one finds it.
    // False, with nothing done, for any other record.
    template <CharMode M>
    bool longRecord(const char* data, std::size_t size, bool ascii)
    {
        constexpr std::size_t kMaxChunks = kQuickRecord / 64 + 1;
        std::uint64_t delimiters[kMaxChunks];
        std::uint64_t quotes[kMaxChunks];
        const std::size_t chunks = size / 64 + 1;
        for (std::size_t k = 0; k < chunks; ++k) {
            const char* const p = data + 64 * k;
            const std::uint64_t valid = lowBits64(size - 64 * k);
            delimiters[k] = Kernels::equal64(p, m_delimiter) & valid;
            quotes[k] = Kernels::equal64(p, '"') & valid;
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
        Field fields[kMaxQuickColumns];
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
        const std::size_t columns = std::min(count, m_cols.count());
        char* dst = m_out.reserve(recordRoom(m_cols.count()));
        std::size_t cuts = 0;
        for (std::size_t i = 0; i < columns; ++i) {
            const char* const p = data + fields[i].begin;
            const std::size_t bytes = fields[i].size;
            const std::size_t chars = ascii ? bytes : countChars<M>(p, bytes);
            dst = quickField<M>(dst, m_quick[i], p, bytes, chars, ascii, cuts);
        }
        return finishQuick(dst, count, cuts);
    }

    template <CharMode M>
    static std::size_t countChars(const char* p, std::size_t bytes)
    {
        if (M == CharMode::Bytes || utf8::isAscii(p, bytes))
            return bytes;
        std::size_t chars = 0;
        takeChars<M>(p, p + bytes, bytes, chars);
        return chars;
    }

    // Ends a quick record of `count` fields whose columns are written up to
    // dst: columns of fill for the fields it does not have, its losses told,
    // its line end.
    [[gnu::always_inline]] bool finishQuick(char* dst, std::size_t count, std::size_t cuts)
    {
        const std::size_t columns = m_cols.count();
        dst = fillColumns(dst, m_quick.data() + std::min(count, m_quick.size()), m_quick.data() + m_quick.size());
        for (; cuts > 0; --cuts)
            m_tally.cut(kValueCut);
        for (std::size_t i = columns; i < count; ++i)
            m_tally.leftOut(kFieldLeftOut);
        m_out.commit(m_end.writeTo(dst));
        m_tally.wrote(1);
        return true;
    }

    // Copies the `bytes` (< 64) at `value` to `to` (room for 128) without
    // those whose bit in `drop` is set; returns how many it copied. Reads up
    // to 64 bytes past the value, and what it writes past the bytes it keeps
    // may be read by fixed-size moves, never used. Out of line: the block
    // parser's loop must stay small enough to have its moves inlined.
    [[gnu::noinline]] static std::size_t undouble(char* to, const char* value, std::size_t bytes, std::uint64_t drop)
    {
        std::size_t kept = 0;
        std::size_t from = 0;
        for (; drop != 0; drop &= drop - 1) {
            const auto at = static_cast<std::size_t>(std::countr_zero(drop));
            std::memcpy(to + kept, value + from, 64);
            kept += at - from;
            from = at + 1;
        }
        std::memcpy(to + kept, value + from, 64);
        return kept + bytes - from;
    }

    // quickField() for a value of one byte a letter, without a branch on its
    // column's side: the fill goes in front, the value after the fill of a
    // right-aligned column or over the fill of a left-aligned one, and fill
    // again after the value; what goes past the column is written over by
    // what comes next.
    [[gnu::always_inline]] static char* blockField(
        char* dst, const QuickColumn& col, const char* p, std::size_t bytes, std::size_t& cuts)
    {
        const std::size_t width = col.width;
        if (width > kNarrowColumn)
            __builtin_unreachable();
        cuts += bytes > width;
        bytes = std::min(bytes, width);
        const std::size_t front = (width - bytes) & col.right;
        char fill[kNarrowColumn]; // loaded once: the moves may write over col.fill as far as the compiler knows
        std::memcpy(fill, col.fill, sizeof fill);
        Kernels::move32(dst, fill);
        Kernels::move32(dst + front, p);
        Kernels::move32(dst + front + bytes, fill);
        return dst + width;
    }
    // Columns of fill for those of [col, end).
    static char* fillColumns(char* dst, const QuickColumn* col, const QuickColumn* end)
    {
        for (; col != end; ++col) {
            Kernels::move32(dst, col->fill);
            dst += col->width;
        }
        return dst;
    }

    // Writes a field of `chars` characters fitted to its column at dst, which
    // has room for kQuickFieldRoom bytes, with fixed-size moves: the bytes
    // past the column are written over next. Counts a cut in `cuts`. (Fill
    // both before and after the text, with the text moved over it, took the
    // same moves for either alignment, but a third store a field: 7 % slower.)
    template <CharMode M>
    static char* quickField(char* dst, const QuickColumn& col, const char* p, std::size_t bytes, std::size_t chars,
        bool ascii, std::size_t& cuts)
    {
        if (col.width > kNarrowColumn)
            __builtin_unreachable(); // so that text of one byte a letter needs one move
        if (chars > col.width) {
            ++cuts;
            if (M == CharMode::Bytes || ascii || bytes == chars) {
                bytes = col.width;
                chars = col.width;
            } else {
                chars = 0;
                bytes = static_cast<std::size_t>(takeChars<M>(p, p + bytes, col.width, chars) - p);
            }
        }
        const std::size_t fill = col.width - chars;
        if (col.right != 0) {
            Kernels::move32(dst, col.fill);
            dst += fill;
        }
        Kernels::move32(dst, p);
        for (std::size_t at = kNarrowColumn; at < bytes; at += kNarrowColumn)
            Kernels::move32(dst + at, p + at); // letters of several bytes
        dst += bytes;
        if (col.right == 0) {
            Kernels::move32(dst, col.fill);
            dst += fill;
        }
        return dst;
    }

    template <CharMode M>
    struct FieldSink {
        CsvJoinWork& w;
        void text(const char* data, std::size_t size) const
        {
            if (!w.m_skipRecord && w.inColumns())
                w.m_value.template add<M>(data, size, w.m_cols.width(w.m_field));
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
    bool m_skipRecord;       // the header record
    const bool m_narrow;     // every column at most kNarrowColumn wide, and a fixed count of them
    std::vector<QuickColumn> m_quick; // the columns, when m_narrow
    std::size_t m_field = 0; // index of the field being read
    std::size_t m_blockMiss = 0; // how far past its stop a burst's block() is tried again
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

template <class Kernels>
void joinCsv(TextInput& in, OutputBuffer& out, const JobParams& params, const Columns& cols,
    std::string_view lineEnd, std::string_view prefix, JobStats& stats, LossTally& tally)
{
    CsvJoinWork<Kernels> work(params, cols, out, lineEnd, tally);
    forEachLine(in, out, prefix, stats, work);
}

#if defined(FWPREP_X86_WIDE_LOOPS)
FWPREP_X86_WIDE_LOOP void joinCsvWide(TextInput& in, OutputBuffer& out, const JobParams& params,
    const Columns& cols, std::string_view lineEnd, std::string_view prefix, JobStats& stats, LossTally& tally)
{
    joinCsv<utf8::x86::InlineKernels>(in, out, params, cols, lineEnd, prefix, stats, tally);
}
#endif

} // namespace

void joinLines(TextInput& in, OutputBuffer& out, const JobParams& params, std::string_view lineEnd,
    std::string_view prefix, JobStats& stats)
{
    const Columns cols(params);
    LossTally tally(stats, params.strict);
    if (params.format == RecordFormat::Csv) {
#if defined(FWPREP_X86_WIDE_LOOPS)
        if (utf8::x86::useWideLoops())
            return joinCsvWide(in, out, params, cols, lineEnd, prefix, stats, tally);
#endif
        return joinCsv<CalledKernels>(in, out, params, cols, lineEnd, prefix, stats, tally);
    }
#if defined(FWPREP_X86_WIDE_LOOPS)
    // Only short columns of one width use the kernels in the loop.
    if (utf8::x86::useWideLoops() && cols.plain() && cols.width(0) <= kShortColumn)
        return joinPlainWide(in, out, cols, lineEnd, prefix, stats, tally);
#endif
    joinPlain<CalledKernels>(in, out, cols, lineEnd, prefix, stats, tally);
}

} // namespace fwprep
