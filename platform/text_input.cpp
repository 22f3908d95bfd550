#include "text_input.h"

#include <algorithm>
#include <cstring>

#include "errors.h"
#include "utf8.h"

namespace fwprep {

namespace {
constexpr char kBom[] = "\xEF\xBB\xBF";
// The head is read in steps of this size: the first 64 KiB and a byte.
constexpr std::size_t kHeadStep = TextInput::kDetectWindow + 1;
} // namespace

TextInput::TextInput(ByteSource& source, Encoding encoding, const JobControl& control, std::size_t blockSize)
    : m_source(source)
    , m_encoding(encoding)
    , m_control(control)
    , m_capacity(std::max<std::size_t>(blockSize, 8))
    // Not cleared: a page of the block is touched only when bytes are read
    // into it, which on a small input spares most of the block (on some
    // virtual machines every page touched the first time costs as much as
    // reading 40 KB).
    , m_buf(new char[m_capacity + kReadSlack])
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
    if (m_sourceDone)
        return 0; // a terminal would wait for a second end
    stopIfCancelled();
    const std::size_t got = m_source.read(dst, size);
    m_sourceDone = got == 0;
    counted(got);
    return got;
}

std::size_t TextInput::pullIntoHead(std::size_t size)
{
    const std::size_t old = m_head.size();
    m_head.resize(old + size);
    const std::size_t got = pull(m_head.data() + old, size);
    m_head.resize(old + got);
    return got;
}

void TextInput::start()
{
    while (m_head.size() < 3 && pullIntoHead(kHeadStep) > 0) {
    }
    if (m_encoding != Encoding::Bytes && m_head.compare(0, 3, kBom) == 0) {
        m_bom = true;
        m_headPos = 3;
        m_mode = CharMode::Utf8;
    } else if (m_encoding == Encoding::Utf8) {
        m_mode = CharMode::Utf8;
    } else if (m_encoding == Encoding::Auto) {
        // Settled at the first byte above 0x7F (settleMode); ASCII until then.
        m_mode = CharMode::Utf8;
        m_detected = true;
        m_undecided = true;
    }
    findFirstLineEnd();
}

void TextInput::startWithin()
{
    if (m_encoding == Encoding::Bytes) {
        m_mode = CharMode::Bytes;
    } else {
        m_mode = CharMode::Utf8;
        m_detected = m_undecided = m_encoding == Encoding::Auto;
    }
}

CharMode TextInput::detectMode(const char* window, std::size_t size)
{
    const bool atRealEnd = size <= kDetectWindow;
    const utf8::Tally t = utf8::tally(window, std::min(size, kDetectWindow), atRealEnd);
    return t.valid > t.invalid ? CharMode::Utf8 : CharMode::Bytes;
}

void TextInput::findFirstLineEnd()
{
    // The same bounded look on every input, file or pipe, so that the same
    // bytes give the same output however they come; and nothing is read twice.
    // The bound leaves room for a first line of the full length and its CR LF.
    const std::size_t bound = m_headPos + kFirstLineLookahead + 2;
    std::size_t searched = m_headPos;
    for (;;) {
        if (const void* lf = std::memchr(m_head.data() + searched, '\n', m_head.size() - searched)) {
            const auto at = static_cast<std::size_t>(static_cast<const char*>(lf) - m_head.data());
            if (at > m_headPos && m_head[at - 1] == '\r')
                m_firstLineEnd = LineEnd::CrLf;
            return;
        }
        searched = m_head.size();
        if (searched >= bound || pullIntoHead(std::min(kHeadStep, bound - searched)) == 0)
            return;
    }
}

void TextInput::settleMode()
{
    if (m_refuseToSettle)
        throw ModeUnsettled{};
    // Every byte handed out so far was ASCII: the first one above 0x7F is among
    // the bytes held, from m_begin on.
    const char* first = m_data + m_begin;
    const char* const held = m_data + m_end;
    while (first < held && static_cast<unsigned char>(*first) < 0x80)
        ++first;
    // The window begins there. One byte more tells a sequence cut by the window
    // from one cut by the end of the input. What is read for it beyond the
    // bytes held is kept in m_head, to be handed out next.
    const std::size_t want = kDetectWindow + 1;
    std::string window(first, std::min(want, static_cast<std::size_t>(held - first)));
    if (m_map && window.size() < want)
        window.append(held, std::min(want - window.size(), m_mapEnd - m_end));
    if (window.size() < want && m_headPos < m_head.size())
        window.append(m_head, m_headPos, want - window.size());
    while (window.size() < want) {
        const std::size_t old = m_head.size();
        if (pullIntoHead(want - window.size()) == 0)
            break;
        window.append(m_head, old);
    }
    m_mode = detectMode(window.data(), window.size());
    m_undecided = false;
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
    std::memset(m_buf.get() + m_end, 0, kReadSlack); // may be read past the end, never used
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
        if (m_undecided && m_lastHigh >= 0)
            settleMode(); // before any byte above 0x7F is handed out
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
