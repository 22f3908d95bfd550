// The join job against a plain model written from its rule: each line becomes
// a column of exactly `width` characters (cut, or spaces in front), and every
// `count` columns make an output line; a last, incomplete group is written when
// it holds a column; a count of 0 or less, or above the number of lines, puts
// every column on one line.

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_case.h"
#include "model.h"

using namespace fwprep;
using namespace fwprep::fuzzing;

namespace {

std::string modelJoin(const model::Reading& r, int count, int width, const std::string& eol)
{
    std::string out;
    if (r.lines.empty())
        return out;
    if (r.bom)
        out += "\xEF\xBB\xBF";
    const auto k = static_cast<std::size_t>(width);
    const std::size_t group = count <= 0 ? r.lines.size() : static_cast<std::size_t>(count);
    std::size_t inGroup = 0;
    for (const std::string& line : r.lines) {
        const std::vector<std::size_t> starts = model::charStarts(line, r.mode);
        const std::size_t chars = starts.size() - 1;
        if (chars < k)
            out.append(k - chars, ' ');
        out += model::charRange(line, starts, 0, k);
        if (++inGroup == group) {
            out += eol;
            inGroup = 0;
        }
    }
    if (inGroup > 0)
        out += eol;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FuzzCase c = decode(data, size);
    const model::Reading r = model::read(c.text, c.encoding);
    // Keep each run small: a huge width on many lines only repeats spaces.
    const std::uint64_t estimate = static_cast<std::uint64_t>(r.lines.size()) * static_cast<std::uint64_t>(c.width);
    if (estimate > (std::uint64_t{1} << 20))
        return 0;
    const std::string want = modelJoin(r, c.count, c.width, model::lineEndFor(r, c.lineEnd));

    checkJob(c, JobKind::Join, want);
    return 0;
}
