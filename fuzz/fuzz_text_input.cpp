// The line reader and its encoding detection against the plain model: same
// character mode, byte-order mark, first line end and lines, for every block
// size and every way of handing out the bytes. Also checks that no segment is
// larger than the block, that a segment never ends inside a character, and that
// a failing read surfaces as an error. A seekable input is read a second time
// from a file in memory (memfd), which a large enough text reaches through a
// mapping.

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "byte_source.h"
#include "errors.h"
#include "fuzz_case.h"
#include "model.h"
#include "text_input.h"

using namespace fwprep;
using namespace fwprep::fuzzing;

namespace {

// Marks the character boundaries of `line` in the given mode.
std::vector<bool> boundaries(const std::string& line, CharMode mode)
{
    std::vector<bool> at(line.size() + 1, false);
    for (std::size_t start : model::charStarts(line, mode))
        at[start] = true;
    return at;
}

void checkReading(ByteSource& source, const FuzzCase& c, const model::Reading& want)
{
    JobControl control;
    std::uint64_t lastProgress = 0;
    control.progress = [&](std::uint64_t done, std::uint64_t total) {
        expect(done >= lastProgress, "progress goes back");
        expect(total == c.text.size(), "progress total");
        lastProgress = done;
    };
    TextInput in(source, c.encoding, control, c.blockSize);

    std::vector<std::string> lines;
    try {
        in.start();
        expect(in.hasByteOrderMark() == want.bom, "byte-order mark");
        expect((in.firstLineEnd() == LineEnd::CrLf) == want.crlf, "first line end");

        std::string line;
        std::vector<std::size_t> cuts; // where segments of the current line meet
        Segment seg;
        while (in.next(seg)) {
            expect(seg.size <= c.blockSize, "segment larger than the block");
            line.append(seg.data, seg.size);
            if (!seg.endsLine) {
                cuts.push_back(line.size());
                continue;
            }
            expect(lines.size() < want.lines.size(), "too many lines");
            const std::string& wanted = want.lines[lines.size()];
            if (!cuts.empty() && line == wanted) {
                const std::vector<bool> at = boundaries(wanted, want.mode);
                for (std::size_t cut : cuts)
                    expect(at[cut], "segment ends inside a character");
            }
            lines.push_back(line);
            line.clear();
            cuts.clear();
        }
        expect(!in.next(seg), "lines after the end");
        expect(in.charMode() == want.mode, "character mode");
        expect(in.modeSettled() == want.settled, "mode settled");
        expect(in.bytesRead() == c.text.size(), "bytes read");
    } catch (const IoError& e) {
        expect(c.failAt != UINT64_MAX, "read error without a failing read");
        expect(e.side == IoError::Side::Input && e.error == EIO, "wrong error");
        return;
    }
    expect(c.failAt == UINT64_MAX, "failing read not reported");
    expect(lines == want.lines, "lines");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FuzzCase c = decode(data, size);
    const model::Reading want = model::read(c.text, c.encoding);

    MemorySource memory(c.text, c.chunk, c.seekable);
    FailingSource source(memory, c.failAt);
    checkReading(source, c, want);

    if (c.seekable && c.failAt == UINT64_MAX) {
        const int fd = memfd_create("fuzz", MFD_CLOEXEC);
        expect(fd >= 0, "memfd_create");
        expect(::write(fd, c.text.data(), c.text.size()) == static_cast<ssize_t>(c.text.size()), "memfd write");
        expect(::lseek(fd, 0, SEEK_SET) == 0, "memfd seek");
        FdSource file(fd, "<memfd>", JobControl{});
        checkReading(file, c, want);
    }
    return 0;
}
