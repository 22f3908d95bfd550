// The split job against a plain model written from its rule: every input line
// gives max(count, 0) output lines, piece i holding characters
// i*width+1 .. i*width+width of the line.

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_case.h"
#include "model.h"
#include "utf8_kernels.h"

using namespace fwprep;
using namespace fwprep::fuzzing;

namespace {

std::string modelSplit(const model::Reading& r, int count, int width, const std::string& eol)
{
    std::string out;
    if (r.lines.empty() || count <= 0)
        return out;
    if (r.bom)
        out += "\xEF\xBB\xBF";
    const auto k = static_cast<std::size_t>(width);
    for (const std::string& line : r.lines) {
        const std::vector<std::size_t> starts = model::charStarts(line, r.mode);
        for (std::size_t piece = 0; piece < static_cast<std::size_t>(count); ++piece)
            out += model::charRange(line, starts, piece * k, k) + eol;
    }
    return out;
}

// Every character kernel this processor has, straight on the text as UTF-8:
// from the start of each of its first lines and of its last, the same piece
// ends as the model.
void checkKernels(const std::string& text, int width)
{
    if (width <= 0)
        return;
    const auto k = static_cast<std::size_t>(width);
    // The kernels may read 64 bytes past the end: bytes that would count if they did.
    const std::string buffer = text + std::string(64, '\x80');
    std::vector<std::size_t> lineStarts{0, text.rfind('\n') + 1};
    for (std::size_t at = 0; lineStarts.size() < 16 && (at = text.find('\n', at)) != std::string::npos;)
        lineStarts.push_back(++at);
    for (const std::size_t from : lineStarts) {
        // Four pieces need no more than 16 * k bytes; the text past `end`
        // must not count either.
        const std::string part = text.substr(from, 16 * k + 5);
        const char* const end = buffer.data() + from + part.size();
        const std::vector<std::size_t> starts = model::charStarts(part, CharMode::Utf8);
        const auto at = [&](std::size_t chars) { return buffer.data() + from + starts[std::min(chars, starts.size() - 1)]; };
        for (const utf8::Kernels* kernels : utf8::availableKernels()) {
            std::size_t taken = 0;
            expect(kernels->advance(buffer.data() + from, end, k, taken) == at(k), "kernel advance");
            expect(taken == std::min(k, starts.size() - 1), "kernel advance count");
            const char* ends[4];
            const std::size_t found = kernels->pieceEnds(buffer.data() + from, end, k, 4, ends);
            expect(found >= 1 && found <= 4 && (found == 4 || ends[found - 1] == end), "kernel piece count");
            for (std::size_t i = 0; i < found; ++i)
                expect(ends[i] == at((i + 1) * k), "kernel piece end");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FuzzCase c = decode(data, size);
    const model::Reading r = model::read(c.text, c.encoding);
    // Keep each run small: a huge count on many lines only repeats line ends.
    const std::uint64_t estimate = static_cast<std::uint64_t>(r.lines.size())
        * static_cast<std::uint64_t>(std::max(c.count, 0)) * 2;
    if (estimate > (std::uint64_t{1} << 20))
        return 0;
    const std::string want = modelSplit(r, c.count, c.width, model::lineEndFor(r, c.lineEnd));

    checkJob(c, JobKind::Split, want);
    checkKernels(c.text, c.width);
    return 0;
}
