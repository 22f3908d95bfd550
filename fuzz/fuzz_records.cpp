// Layouts and CSV against the plain model: split with a layout (to lines or
// CSV, trimmed or not), join with a layout from lines or from CSV, with what
// is cut or left out counted, the strict rule, and malformed CSV. Six bytes
// before the common header choose the layout and the record settings.

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_case.h"
#include "job_stats.h"
#include "model.h"
#include "output.h"
#include "transform.h"

using namespace fwprep;
using namespace fwprep::fuzzing;

namespace {

constexpr std::size_t kLayoutHeader = 6;

struct Want {
    std::string out;      // everything, or what comes before the failing line
    JobStats stats;       // counts (lines written aside)
    std::uint64_t failLine = 0; // 0: no failure
};

// Stops at the first failure: malformed CSV, or a loss under the strict rule.
struct Stop {
    std::uint64_t line;
};

Want modelRecords(const model::Reading& r, const JobParams& p)
{
    Want w;
    std::vector<Column> cols = p.layout;
    const bool unbounded = cols.empty() && p.count <= 0;
    if (cols.empty())
        cols.assign(p.count > 0 ? std::size_t(p.count) : 1, Column{p.width, p.align, p.fill});
    const std::size_t m = unbounded ? 0 : cols.size();
    const std::string eol = model::lineEndFor(r, p.lineEnd);
    const bool split = p.kind == JobKind::Split;
    const bool csv = p.format == RecordFormat::Csv;
    std::string out = r.bom && !r.lines.empty() && (!split || m > 0) ? "\xEF\xBB\xBF" : "";
    const auto loss = [&](std::uint64_t line, bool leftOut) {
        if (p.strict)
            throw Stop{line};
        std::uint64_t& n = leftOut ? w.stats.leftOut : w.stats.cut;
        std::uint64_t& first = leftOut ? w.stats.firstLeftOut : w.stats.firstCut;
        if (n++ == 0)
            first = line;
    };
    std::size_t inGroup = 0;
    try {
        for (std::size_t i = 0; i < r.lines.size(); ++i) {
            const std::string& line = r.lines[i];
            const std::uint64_t lineNo = i + 1;
            w.out = out;
            if (split) {
                const std::vector<std::size_t> starts = model::charStarts(line, r.mode);
                std::size_t pos = 0;
                for (std::size_t c = 0; c < m; ++c) {
                    std::string piece = model::charRange(line, starts, pos, std::size_t(cols[c].width));
                    pos += std::size_t(cols[c].width);
                    if (p.trim) {
                        if (cols[c].align == Align::Right)
                            piece.erase(0, piece.find_first_not_of(cols[c].fill) == std::string::npos ? piece.size() : piece.find_first_not_of(cols[c].fill));
                        else
                            piece.erase(piece.find_last_not_of(cols[c].fill) + 1);
                    }
                    if (csv)
                        out += (c > 0 ? std::string(1, p.delimiter) : "") + model::csvField(piece, p.delimiter) + (c + 1 == m ? eol : "");
                    else
                        out += piece + eol;
                }
                if (m > 0 && starts.size() - 1 > pos)
                    loss(lineNo, false);
            } else if (!csv) {
                bool cut = false;
                out += model::fit(line, cols[unbounded ? 0 : inGroup], r.mode, cut);
                if (cut)
                    loss(lineNo, false);
                if (++inGroup == m) {
                    out += eol;
                    inGroup = 0;
                }
            } else {
                bool open = false;
                const std::vector<std::string> fields = model::csvFields(line, p.delimiter, open);
                if (open) {
                    // The quoted field goes on: closed later (it holds a line
                    // end) or never; an error at this line either way.
                    throw Stop{lineNo};
                }
                if (i == 0 && p.header)
                    continue;
                for (std::size_t f = 0; f < fields.size(); ++f) {
                    bool cut = false;
                    if (unbounded || f < m)
                        out += model::fit(fields[f], cols[unbounded ? 0 : f], r.mode, cut);
                    else
                        loss(lineNo, true);
                    if (cut)
                        loss(lineNo, false);
                }
                for (std::size_t f = fields.size(); f < m; ++f)
                    out += std::string(std::size_t(cols[f].width), cols[f].fill);
                out += eol;
            }
        }
        if (!split && !csv && inGroup > 0)
            out += eol;
        w.out = out;
    } catch (const Stop& s) {
        w.failLine = s.line;
    }
    return w;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t h[kLayoutHeader] = {};
    std::copy(data, data + std::min(size, kLayoutHeader), h);
    const FuzzCase c = decode(data + std::min(size, kLayoutHeader), size - std::min(size, kLayoutHeader));

    JobParams p;
    p.kind = (h[0] & 1) != 0 ? JobKind::Join : JobKind::Split;
    p.format = (h[0] & 2) != 0 ? RecordFormat::Csv : RecordFormat::Lines;
    p.trim = p.kind == JobKind::Split && (h[0] & 4) != 0;
    p.header = p.kind == JobKind::Join && p.format == RecordFormat::Csv && (h[0] & 8) != 0;
    p.delimiter = ",;\t|"[(h[0] >> 4) & 3];
    p.strict = (h[0] & 64) != 0;
    p.encoding = c.encoding;
    p.lineEnd = c.lineEnd;
    static const char kFills[] = {' ', '0', ',', '"'};
    const auto align = [&](int i) { return (h[4] >> i & 1) != 0 ? Align::Left : Align::Right; };
    const auto fill = [&](int i) { return kFills[h[5] >> (2 * i) & 3]; };
    if ((h[0] & 128) != 0) {
        // No layout: today's count and width, with an alignment and fill.
        p.count = c.count;
        p.width = c.width;
        p.align = align(0);
        p.fill = fill(0);
    } else {
        const int columns = h[1] % 4 + 1;
        const unsigned widths = h[2] | unsigned(h[3]) << 8;
        for (int i = 0; i < columns; ++i)
            p.layout.push_back({int(widths >> (4 * i) & 15), align(i), fill(i)});
        p.count = columns;
    }

    const model::Reading r = model::read(c.text, c.encoding);
    // Keep each run small: huge counts or widths only repeat line ends or fill.
    const std::uint64_t perLine = p.layout.empty()
        ? std::uint64_t(std::max(p.count, 1)) * (std::uint64_t(p.width) + 2) : 64;
    if (std::uint64_t(r.lines.size() + 1) * perLine > (std::uint64_t{1} << 20))
        return 0;
    const Want want = modelRecords(r, p);

    MemorySource memory(c.text, c.chunk, c.seekable);
    FailingSource source(memory, c.failAt);
    StringSink sink;
    JobStats stats;
    try {
        stats = runTransform(source, sink, p, JobControl{}, c.blockSize, threadPlan(c));
    } catch (const IoError& e) {
        expect(c.failAt != UINT64_MAX && e.side == IoError::Side::Input, "unexpected error");
        return 0; // what went out before it is checked by the other targets
    } catch (const DataError& e) {
        expect(want.failLine == e.line, "failing line");
        // What the records before the failing line made has gone out.
        expect(sink.text.compare(0, want.out.size(), want.out) == 0, "output before the failure");
        return 0;
    }
    expect(c.failAt == UINT64_MAX, "failing read not reported");
    expect(want.failLine == 0, "failure not reported");
    expect(sink.text == want.out, "records output");
    expect(stats.cut == want.stats.cut && stats.firstCut == want.stats.firstCut, "cut count");
    expect(stats.leftOut == want.stats.leftOut && stats.firstLeftOut == want.stats.firstLeftOut, "left-out count");
    expect(stats.linesRead == r.lines.size(), "lines read");
    return 0;
}
