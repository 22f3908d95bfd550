#include "split.h"

#include <cstring>

#include "chars.h"

namespace fwprep {

namespace {

struct SplitState {
    int count;
    std::size_t width;
    LineEndBytes lineEnd;
    int piece = 0;              // index of the piece being filled
    std::size_t pieceChars = 0; // characters already in it
    bool first = true;          // nothing handed out yet
    bool midLine = false;       // part of the current line has been cut
};

// Cuts one segment of a line into the pieces still open.
template <CharMode Mode>
void cutSegment(const char* p, const char* const end, SplitState& s, OutputBuffer& out)
{
    if constexpr (Mode == CharMode::Utf8) {
        // Plain ASCII, the common case, needs no decoding: bytes are characters.
        const std::size_t wanted = (static_cast<std::size_t>(s.count - s.piece) * s.width) - s.pieceChars;
        if (utf8::isAscii(p, std::min(wanted, static_cast<std::size_t>(end - p))))
            return cutSegment<CharMode::Bytes>(p, end, s, out);
    }
    while (s.piece < s.count && p < end) {
        const char* q = takeChars<Mode>(p, end, s.width - s.pieceChars, s.pieceChars);
        out.append(p, static_cast<std::size_t>(q - p));
        p = q;
        if (s.pieceChars == s.width) {
            s.lineEnd.appendTo(out);
            ++s.piece;
            s.pieceChars = 0;
        }
    }
}

// Pieces of at most this many bytes are copied with one fixed-size move.
constexpr std::size_t kShortPiece = 16;
static_assert(kShortPiece <= TextInput::kReadSlack);

// The common case: a whole line of plain bytes, short pieces. Cuts it straight
// into the output block.
void cutShortLine(const char* d, std::size_t len, const SplitState& s, OutputBuffer& out)
{
    char* dst = out.reserve(static_cast<std::size_t>(s.count) * (kShortPiece + 2));
    std::size_t start = 0;
    for (int i = 0; i < s.count; ++i, start += s.width) {
        if (start < len) {
            const std::size_t n = std::min(s.width, len - start);
            std::memcpy(dst, d + start, kShortPiece);
            dst += n;
        }
        dst = s.lineEnd.writeTo(dst);
    }
    out.commit(dst);
}

// Runs until the input ends (true), or until the character mode is settled
// differently under it (false): `seg` then holds the segment that the loop of
// the other mode goes on with (`resume`).
template <CharMode Mode>
bool splitLoop(TextInput& in, OutputBuffer& out, SplitState& state, std::string_view prefix, Segment& seg, bool resume)
{
    SplitState s = state; // a local copy, which writes through the output's char pointers cannot alias
    const int count = s.count;
    const std::size_t width = s.width;
    const bool fitsShortPath = static_cast<std::size_t>(count) * (kShortPiece + 2) <= out.capacity();
    const auto closeLine = [&] {
        // Close the piece in progress, then the empty ones past the line's end.
        for (; s.piece < count; ++s.piece)
            s.lineEnd.appendTo(out);
        s.piece = 0;
        s.pieceChars = 0;
    };
    const auto wholeLine = [&](const char* data, std::size_t size, bool ascii) {
        if (width <= kShortPiece && fitsShortPath
            && (Mode == CharMode::Bytes || ascii
                || utf8::isAscii(data, std::min(size, static_cast<std::size_t>(count) * width)))) {
            cutShortLine(data, size, s, out);
        } else {
            if (width > 0)
                cutSegment<Mode>(data, data + size, s, out);
            closeLine();
        }
        return true;
    };

    for (bool have = resume || in.next(seg); have; have = in.next(seg)) {
        if (!seg.ascii && in.charMode() != Mode) {
            state = s;
            return false;
        }
        if (s.first) {
            out.append(prefix.data(), prefix.size());
            s.first = false;
        }
        if (!s.midLine && seg.endsLine) {
            wholeLine(seg.data, seg.size, seg.ascii);
            in.forEachWholeLine(wholeLine); // the rest of the block, in one go
            continue;
        }
        if (width > 0)
            cutSegment<Mode>(seg.data, seg.data + seg.size, s, out);
        s.midLine = !seg.endsLine;
        if (!s.midLine)
            closeLine();
    }
    state = s;
    return true;
}

} // namespace

void splitLines(TextInput& in, OutputBuffer& out, int count, int width, std::string_view lineEnd,
    std::string_view prefix)
{
    Segment seg;
    if (count <= 0) {
        while (in.next(seg)) { } // read through, so that read errors still show
        return;
    }
    SplitState s{count, static_cast<std::size_t>(width), LineEndBytes(lineEnd)};
    // The mode may be settled late, once (see TextInput::charMode).
    for (bool resume = false;; resume = true) {
        const bool done = in.charMode() == CharMode::Utf8 ? splitLoop<CharMode::Utf8>(in, out, s, prefix, seg, resume)
                                                          : splitLoop<CharMode::Bytes>(in, out, s, prefix, seg, resume);
        if (done)
            return;
    }
}

} // namespace fwprep
