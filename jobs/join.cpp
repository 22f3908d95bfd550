#include "join.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "chars.h"

namespace fwprep {

namespace {

// Columns of at most this many bytes are made with fixed-size moves.
constexpr std::size_t kShortColumn = 16;
static_assert(4 * kShortColumn <= TextInput::kReadSlack && 2 * kShortColumn <= OutputBuffer::kMinBlock);

template <CharMode Mode>
void joinLoop(TextInput& in, OutputBuffer& out, int count, std::size_t width, std::string_view lineEnd,
    std::string_view prefix)
{
    const std::uint64_t groupSize = count > 0 ? static_cast<std::uint64_t>(count) : 0;
    std::uint64_t inGroup = 0; // columns written on the current output line
    const LineEndBytes end(lineEnd);
    const auto columnDone = [&] {
        if (++inGroup == groupSize) {
            end.appendTo(out);
            inGroup = 0;
        }
    };
    const bool fitsShortUtf8Column = kShortColumn + 4 * kShortColumn <= out.capacity();
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
        } else if (Mode == CharMode::Utf8 && width <= kShortColumn && fitsShortUtf8Column) {
            // The same for UTF-8 letters: a column of at most kShortColumn
            // characters has at most 4 * kShortColumn bytes.
            std::size_t taken = 0;
            const char* q = utf8::advance(data, data + size, width, taken);
            char* dst = out.reserve(kShortColumn + 4 * kShortColumn);
            std::memset(dst, ' ', kShortColumn);
            dst += width - taken;
            std::memcpy(dst, data, 4 * kShortColumn);
            out.commit(dst + (q - data));
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

    bool first = true;
    // A line that arrives in several segments is gathered here, up to `width`
    // characters, because its fill spaces must go out before it.
    std::string column;
    std::size_t columnChars = 0;
    bool midLine = false;
    Segment seg;
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
    if (inGroup > 0)
        end.appendTo(out);
}

} // namespace

void joinLines(TextInput& in, OutputBuffer& out, int count, int width, std::string_view lineEnd,
    std::string_view prefix)
{
    const auto k = static_cast<std::size_t>(width);
    if (in.charMode() == CharMode::Utf8)
        joinLoop<CharMode::Utf8>(in, out, count, k, lineEnd, prefix);
    else
        joinLoop<CharMode::Bytes>(in, out, count, k, lineEnd, prefix);
}

} // namespace fwprep
