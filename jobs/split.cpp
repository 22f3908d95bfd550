#include "split.h"

#include "chars.h"

namespace fwprep {

namespace {

template <CharMode Mode>
void splitLoop(TextInput& in, OutputBuffer& out, int count, std::size_t width, std::string_view lineEnd,
    std::string_view prefix)
{
    Segment seg;
    if (count <= 0) {
        while (in.next(seg)) { } // read through, so that read errors still show
        return;
    }
    bool first = true;
    int piece = 0;              // index of the piece being filled
    std::size_t pieceChars = 0; // characters already in it
    while (in.next(seg)) {
        if (first) {
            out.append(prefix.data(), prefix.size());
            first = false;
        }
        const char* p = seg.data;
        const char* const end = p + seg.size;
        if (width > 0) {
            while (piece < count && p < end) {
                const char* q = takeChars<Mode>(p, end, width - pieceChars, pieceChars);
                out.append(p, static_cast<std::size_t>(q - p));
                p = q;
                if (pieceChars == width) {
                    out.append(lineEnd.data(), lineEnd.size());
                    ++piece;
                    pieceChars = 0;
                }
            }
        }
        if (seg.endsLine) {
            // Close the piece in progress, then the empty ones past the line's end.
            for (; piece < count; ++piece)
                out.append(lineEnd.data(), lineEnd.size());
            piece = 0;
            pieceChars = 0;
        }
    }
}

} // namespace

void splitLines(TextInput& in, OutputBuffer& out, int count, int width, std::string_view lineEnd,
    std::string_view prefix)
{
    const auto k = static_cast<std::size_t>(width);
    if (in.charMode() == CharMode::Utf8)
        splitLoop<CharMode::Utf8>(in, out, count, k, lineEnd, prefix);
    else
        splitLoop<CharMode::Bytes>(in, out, count, k, lineEnd, prefix);
}

} // namespace fwprep
