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

// The same for a line of UTF-8 text with letters beyond ASCII: the character
// kernel finds where the pieces end (a piece of at most kShortPiece characters
// has at most 4 * kShortPiece bytes).
constexpr std::size_t kShortUtf8Pieces = 64;
static_assert(4 * kShortPiece <= TextInput::kReadSlack);

void cutShortUtf8Line(const char* d, std::size_t len, const SplitState& s, OutputBuffer& out)
{
    const char* ends[kShortUtf8Pieces];
    const auto count = static_cast<std::size_t>(s.count);
    const std::size_t found = utf8::pieceEnds(d, d + len, s.width, count, ends);
    char* dst = out.reserve(count * (4 * kShortPiece + 2));
    for (std::size_t i = 0; i < count; ++i) {
        if (i < found) {
            const auto n = static_cast<std::size_t>(ends[i] - d);
            std::memcpy(dst, d, 4 * kShortPiece);
            dst += n;
            d = ends[i];
        }
        dst = s.lineEnd.writeTo(dst);
    }
    out.commit(dst);
}

template <CharMode Mode>
void splitLoop(TextInput& in, OutputBuffer& out, int count, std::size_t width, std::string_view lineEnd,
    std::string_view prefix)
{
    Segment seg;
    if (count <= 0) {
        while (in.next(seg)) { } // read through, so that read errors still show
        return;
    }
    SplitState s{count, width, LineEndBytes(lineEnd)};
    const bool fitsShortPath = static_cast<std::size_t>(count) * (kShortPiece + 2) <= out.capacity();
    const bool shortUtf8Pieces = Mode == CharMode::Utf8 && width > 0 && width <= kShortPiece
        && static_cast<std::size_t>(count) <= kShortUtf8Pieces
        && static_cast<std::size_t>(count) * (4 * kShortPiece + 2) <= out.capacity();
    const auto closeLine = [&] {
        // Close the piece in progress, then the empty ones past the line's end.
        for (; s.piece < count; ++s.piece)
            s.lineEnd.appendTo(out);
        s.piece = 0;
        s.pieceChars = 0;
    };
    const auto wholeLine = [&](const char* data, std::size_t size, bool ascii) {
        if (width <= kShortPiece && fitsShortPath && (Mode == CharMode::Bytes || ascii)) {
            cutShortLine(data, size, s, out);
        } else if (shortUtf8Pieces) {
            cutShortUtf8Line(data, size, s, out);
        } else if (width <= kShortPiece && fitsShortPath
            && utf8::isAscii(data, std::min(size, static_cast<std::size_t>(count) * width))) {
            cutShortLine(data, size, s, out);
        } else {
            if (width > 0)
                cutSegment<Mode>(data, data + size, s, out);
            closeLine();
        }
        return true;
    };

    bool first = true;
    bool midLine = false;
    while (in.next(seg)) {
        if (first) {
            out.append(prefix.data(), prefix.size());
            first = false;
        }
        if (!midLine && seg.endsLine) {
            wholeLine(seg.data, seg.size, seg.ascii);
            in.forEachWholeLine(wholeLine); // the rest of the block, in one go
            continue;
        }
        if (width > 0)
            cutSegment<Mode>(seg.data, seg.data + seg.size, s, out);
        midLine = !seg.endsLine;
        if (!midLine)
            closeLine();
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
