// The split job against a plain model written from its rule: every input line
// gives max(count, 0) output lines, piece i holding characters
// i*width+1 .. i*width+width of the line.

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_case.h"
#include "model.h"

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
    return 0;
}
