#include "text_input.h"

#include <algorithm>
#include <cstring>

#include "errors.h"
#include "utf8.h"

namespace fwprep {

namespace {
constexpr char kBom[] = "\xEF\xBB\xBF";
// On an input that cannot be read ahead, look this far for the first line end.
constexpr std::size_t kLineEndLookahead = std::size_t{1} << 20;
} // namespace

TextInput::TextInput(ByteSource& source, Encoding encoding, const JobControl& control, std::size_t blockSize)
    : m_source(source)
    , m_encoding(encoding)
    , m_control(control)
    , m_capacity(std::max<std::size_t>(blockSize, 8))
    , m_buf(new char[m_capacity + kReadSlack]())
    , m_data(m_buf.get())
{
}

void TextInput::stopIfCancelled() const
{
    if (m_control.cancelled())
        throw Cancelled{};
}

void TextInput::counted(std::size_t got)
{
    m_bytesRead += got;
    if (m_control.progress)
        m_control.progress(m_bytesRead, m_source.size());
}

std::size_t TextInput::pull(char* dst, std::size_t size)
{
    stopIfCancelled();
    const std::size_t got = m_source.read(dst, size);
    counted(got);
    return got;
}

void TextInput::readHead()
{
    // One byte past the detection window tells whether a sequence at its end is
    // cut by the window or by the real end of the input.
    const std::size_t want = kDetectWindow + 1;
    m_head.resize(want);
    std::size_t have = 0;
    while (have < want) {
        const std::size_t got = pull(m_head.data() + have, want - have);
        if (got == 0)
            break;
        have += got;
    }
    m_head.resize(have);
}

void TextInput::start()
{
    readHead();
    const bool headIsAll = m_head.size() <= kDetectWindow;

    if (m_encoding != Encoding::Bytes && m_head.compare(0, 3, kBom) == 0) {
        m_bom = true;
        m_headPos = 3;
        m_mode = CharMode::Utf8;
    } else if (m_encoding == Encoding::Utf8) {
        m_mode = CharMode::Utf8;
    } else if (m_encoding == Encoding::Auto) {
        const std::size_t window = std::min(m_head.size(), kDetectWindow);
        m_mode = utf8::isValid(m_head.data(), window, headIsAll) ? CharMode::Utf8 : CharMode::Bytes;
    }
    settleFirstLineEnd();
}

void TextInput::settleFirstLineEnd()
{
    const auto lineEndAt = [](const char* data, std::size_t lf, char before) {
        return (lf > 0 ? data[lf - 1] : before) == '\r' ? LineEnd::CrLf : LineEnd::Lf;
    };
    const char* first = m_head.data() + m_headPos;
    const std::size_t headLeft = m_head.size() - m_headPos;
    if (const void* lf = std::memchr(first, '\n', headLeft)) {
        m_firstLineEnd = lineEndAt(first, static_cast<const char*>(lf) - first, '\0');
        return;
    }
    if (m_head.size() <= kDetectWindow)
        return; // the whole input is in the head and has no line end

    char last = headLeft > 0 ? m_head.back() : '\0';
    if (m_source.seekable()) {
        // Look further without keeping what was looked at.
        std::unique_ptr<char[]> scan(new char[m_capacity]);
        std::uint64_t offset = m_head.size();
        for (;;) {
            stopIfCancelled();
            const std::size_t got = m_source.readAt(offset, scan.get(), m_capacity);
            if (got == 0)
                return;
            if (const void* lf = std::memchr(scan.get(), '\n', got)) {
                m_firstLineEnd = lineEndAt(scan.get(), static_cast<const char*>(lf) - scan.get(), last);
                return;
            }
            last = scan[got - 1];
            offset += got;
        }
    }
    // A pipe can only be read once: read ahead a bounded amount.
    while (m_head.size() < kLineEndLookahead) {
        const std::size_t old = m_head.size();
        m_head.resize(std::min(kLineEndLookahead, old + kDetectWindow));
        const std::size_t got = pull(m_head.data() + old, m_head.size() - old);
        m_head.resize(old + got);
        if (got == 0)
            return;
        if (const void* lf = std::memchr(m_head.data() + old, '\n', got)) {
            m_firstLineEnd = lineEndAt(m_head.data() + old, static_cast<const char*>(lf) - (m_head.data() + old), last);
            return;
        }
        last = m_head.back();
    }
}

std::size_t TextInput::holdBack(const char* begin, const char* end) const
{
    if (end > begin && end[-1] == '\r')
        return 1; // an LF may follow
    return m_mode == CharMode::Utf8 ? utf8::incompleteTail(begin, end) : 0;
}

void TextInput::refill()
{
    if (m_map) {
        if (m_end < m_mapEnd) {
            advanceMapped();
            return;
        }
        leaveMapped();
    }
    // Keep the unfinished line, move it to the front and read behind it.
    const std::size_t pending = m_end - m_begin;
    if (m_begin > 0) {
        std::memmove(m_buf.get(), m_buf.get() + m_begin, pending);
        m_lastHigh -= static_cast<std::int64_t>(m_begin);
        m_begin = 0;
        m_end = pending;
    }
    const std::size_t space = m_capacity - m_end;
    std::size_t got;
    if (m_headPos < m_head.size()) {
        got = std::min(space, m_head.size() - m_headPos);
        std::memcpy(m_buf.get() + m_end, m_head.data() + m_headPos, got);
        m_headPos += got;
        if (m_headPos == m_head.size()) {
            m_head.clear();
            m_head.shrink_to_fit();
            m_headPos = 0;
        }
    } else if (enterMapped()) {
        advanceMapped();
        return;
    } else {
        got = pull(m_buf.get() + m_end, space);
    }
    if (got == 0)
        m_eof = true;
    m_end += got;
    // The bytes kept have no LF; look at the new ones.
    scanFrom(pending);
}

bool TextInput::enterMapped()
{
    // Mapping pays off for large files only; it is tried once, when the head
    // has been handed out.
    if (m_mapTried)
        return false;
    m_mapTried = true;
    if (!m_source.seekable() || m_source.size() < m_bytesRead + 2 * m_capacity)
        return false;
    // The unfinished line held at the front of m_buf is where the mapping
    // begins, so the indexes stay as they are.
    m_map = m_source.mapRest(m_end, kReadSlack);
    if (!m_map)
        return false;
    m_data = m_map->data();
    m_usedMapping = true;
    // The last kReadSlack bytes are read again as usual, so that every chunk
    // looked at and every fixed-size move stays inside the file.
    m_mapEnd = m_map->size() - kReadSlack;
    return true;
}

void TextInput::checkMapped() const
{
    if (const int error = m_map->lostError())
        throw IoError{IoError::Side::Input, m_source.path(), error};
}

void TextInput::advanceMapped()
{
    // The bytes held grow by the next window; nothing is copied.
    stopIfCancelled();
    checkMapped();
    const std::size_t from = m_end;
    const std::size_t to = std::min(m_begin + m_capacity, m_mapEnd);
    m_map->advance(m_begin, to);
    counted(to - from);
    m_end = to;
    scanFrom(from);
}

void TextInput::leaveMapped()
{
    // The unfinished line goes to the front of m_buf; reads go on behind it.
    const std::size_t pending = m_end - m_begin;
    std::memcpy(m_buf.get(), m_data + m_begin, pending);
    checkMapped();
    m_lastHigh -= static_cast<std::int64_t>(m_begin);
    m_begin = 0;
    m_end = pending;
    m_data = m_buf.get();
    m_map.reset();
}

bool TextInput::nextSlow(Segment& segment)
{
    for (;;) {
        // Look on through the bytes held for the next LF.
        while (m_lineEnds == 0 && m_chunk + 64 < m_end)
            scanFrom(m_chunk + 64);
        if (m_lineEnds != 0)
            return next(segment);

        const char* buf = m_data;
        if (m_eof) {
            if (m_begin == m_end && !m_inLine)
                return false;
            segment = {buf + m_begin, m_end - m_begin, true, m_lastHigh < static_cast<std::int64_t>(m_begin)};
            m_begin = m_end;
            m_inLine = false;
            return true;
        }
        if (m_end - m_begin == m_capacity) {
            // The line fills the whole block: hand out what is certain and
            // stream on, so that no line is ever held whole.
            const std::size_t keep = holdBack(buf + m_begin, buf + m_end);
            segment = {buf + m_begin, m_end - m_begin - keep, false,
                m_lastHigh < static_cast<std::int64_t>(m_begin)};
            m_begin = m_end - keep;
            m_inLine = true;
            return true;
        }
        refill();
    }
}

} // namespace fwprep
