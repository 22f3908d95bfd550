#include "join.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "chars.h"

namespace fwprep {

namespace {

// Columns of at most this many bytes are made with fixed-size moves.
constexpr std::size_t kShortColumn = 16;
static_assert(kShortColumn <= TextInput::kReadSlack && 2 * kShortColumn <= OutputBuffer::kMinBlock);

struct JoinState {
    JoinState(std::uint64_t groupSize_, std::size_t width_, std::string_view lineEnd)
        : groupSize(groupSize_)
        , width(width_)
        , end(lineEnd)
    {
    }
    std::uint64_t groupSize; // 0: one output line for all
    std::size_t width;
    LineEndBytes end;
    std::uint64_t inGroup = 0; // columns written on the current output line
    // A line that arrives in several segments is gathered here, up to `width`
    // characters, because its fill spaces must go out before it.
    std::string column;
    std::size_t columnChars = 0;
    bool midLine = false;
    bool first = true;
};

// Runs until the input ends (true), or until the character mode is settled
// differently under it (false): `seg` then holds the segment that the loop of
// the other mode goes on with (`resume`).
template <CharMode Mode>
bool joinLoop(TextInput& in, OutputBuffer& out, JoinState& st, std::string_view prefix, Segment& seg, bool resume)
{
    // Local copies, which writes through the output's char pointers cannot alias.
    const std::uint64_t groupSize = st.groupSize;
    const std::size_t width = st.width;
    const LineEndBytes end = st.end;
    std::uint64_t inGroup = st.inGroup;
    std::string& column = st.column;
    std::size_t columnChars = st.columnChars;
    bool midLine = st.midLine;
    bool first = st.first;
    const auto keep = [&] {
        st.inGroup = inGroup;
        st.columnChars = columnChars;
        st.midLine = midLine;
        st.first = first;
    };
    const auto columnDone = [&] {
        if (++inGroup == groupSize) {
            end.appendTo(out);
            inGroup = 0;
        }
    };
    // A whole line needs no gathering: its column goes straight out.
    const auto wholeLine = [&](const char* data, std::size_t size, bool ascii) {
        const bool plain = Mode == CharMode::Bytes || ascii || utf8::isAscii(data, std::min(size, width));
        if (plain && width <= kShortColumn) {
            // The common case, plain bytes and a narrow column: fixed-size
            // moves straight into the output block.
            const std::size_t taken = std::min(size, width);
            char* dst = out.reserve(2 * kShortColumn);
            std::memset(dst, ' ', kShortColumn);
            std::memcpy(dst + (width - taken), data, kShortColumn);
            out.commit(dst + width);
        } else {
            std::size_t taken = 0;
            const char* q = plain ? takeChars<CharMode::Bytes>(data, data + size, width, taken)
                                  : takeChars<Mode>(data, data + size, width, taken);
            out.appendRepeated(' ', width - taken);
            out.append(data, static_cast<std::size_t>(q - data));
        }
        columnDone();
        return true;
    };

    for (bool have = resume || in.next(seg); have; have = in.next(seg)) {
        if (!seg.ascii && in.charMode() != Mode) {
            keep();
            return false;
        }
        if (first) {
            out.append(prefix.data(), prefix.size());
            first = false;
        }
        if (!midLine && seg.endsLine) {
            wholeLine(seg.data, seg.size, seg.ascii);
            in.forEachWholeLine(wholeLine); // the rest of the block, in one go
            continue;
        }
        if (columnChars < width) {
            const char* q = takeChars<Mode>(seg.data, seg.data + seg.size, width - columnChars, columnChars);
            column.append(seg.data, static_cast<std::size_t>(q - seg.data));
        }
        midLine = !seg.endsLine;
        if (midLine)
            continue;
        out.appendRepeated(' ', width - columnChars);
        out.append(column.data(), column.size());
        column.clear();
        columnChars = 0;
        columnDone();
    }
    keep();
    return true;
}

} // namespace

void joinLines(TextInput& in, OutputBuffer& out, int count, int width, std::string_view lineEnd,
    std::string_view prefix)
{
    JoinState st(count > 0 ? static_cast<std::uint64_t>(count) : 0, static_cast<std::size_t>(width), lineEnd);
    Segment seg;
    // The mode may be settled late, once (see TextInput::charMode).
    for (bool resume = false;; resume = true) {
        const bool done = in.charMode() == CharMode::Utf8 ? joinLoop<CharMode::Utf8>(in, out, st, prefix, seg, resume)
                                                          : joinLoop<CharMode::Bytes>(in, out, st, prefix, seg, resume);
        if (done)
            break;
    }
    if (st.inGroup > 0)
        st.end.appendTo(out);
}

} // namespace fwprep
