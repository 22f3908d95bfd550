#include "model.h"

#include <algorithm>

// Compiled without coverage tracing: this code runs over every byte of inputs
// as large as the detection window, and only the library's branches should
// steer the fuzzer.

namespace fwprep::model {



// Decodes the UTF-8 sequence of exactly `len` bytes at s[i]; true when it is a
// valid, shortest-form encoding of a scalar value up to U+10FFFF.
bool decodes(const std::string& s, std::size_t i, std::size_t len)
{
    if (i + len > s.size())
        return false;
    const auto byte = [&](std::size_t j) { return static_cast<unsigned char>(s[i + j]); };
    std::uint32_t cp = 0;
    if (len == 1) {
        return byte(0) < 0x80;
    } else if (len == 2) {
        if ((byte(0) & 0xE0) != 0xC0)
            return false;
        cp = byte(0) & 0x1F;
    } else if (len == 3) {
        if ((byte(0) & 0xF0) != 0xE0)
            return false;
        cp = byte(0) & 0x0F;
    } else {
        if ((byte(0) & 0xF8) != 0xF0)
            return false;
        cp = byte(0) & 0x07;
    }
    for (std::size_t j = 1; j < len; ++j) {
        if ((byte(j) & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (byte(j) & 0x3F);
    }
    const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < smallest[len] || cp > 0x10FFFF)
        return false;
    return cp < 0xD800 || cp > 0xDFFF;
}

// Length of the valid sequence at s[i], or 0.
std::size_t validLength(const std::string& s, std::size_t i)
{
    for (std::size_t len = 1; len <= 4; ++len)
        if (decodes(s, i, len))
            return len;
    return 0;
}

// True when s[i..] (fewer than four bytes, all that is known) could still be
// completed to a valid sequence. Every limit of UTF-8 lies in the first two
// bytes, so filling the rest with the lowest or the highest continuation byte
// finds a completion if there is one.
bool validPrefix(const std::string& s, std::size_t i)
{
    for (std::size_t len = s.size() - i + 1; len <= 4; ++len) {
        for (char fill : {'\x80', '\xBF'}) {
            std::string t = s.substr(i);
            t.resize(len, fill);
            if (decodes(t, 0, len))
                return true;
        }
    }
    return false;
}

// The detection rule: in the 64 KiB from the first byte above 0x7F on, more
// valid multi-byte sequences than bytes that belong to none. A sequence cut
// by the end of the window (not by the end of the input) counts as neither
// when it could still become valid.
bool looksLikeUtf8(const std::string& data, std::size_t first)
{
    const bool cutByWindow = data.size() - first > kWindow;
    const std::string window = data.substr(first, kWindow);
    std::size_t valid = 0;
    std::size_t invalid = 0;
    std::size_t i = 0;
    while (i < window.size()) {
        const std::size_t len = validLength(window, i);
        if (len == 1) {
            i += 1;
        } else if (len > 1) {
            valid += 1;
            i += len;
        } else if (cutByWindow && window.size() - i < 4 && validPrefix(window, i)) {
            break;
        } else {
            invalid += 1;
            i += 1;
        }
    }
    return valid > invalid;
}

// Where the characters of a line start, one offset per character, then the
// line's length.
std::vector<std::size_t> charStarts(const std::string& line, CharMode mode)
{
    std::vector<std::size_t> starts;
    std::size_t i = 0;
    while (i < line.size()) {
        starts.push_back(i);
        i += mode == CharMode::Utf8 ? std::max<std::size_t>(validLength(line, i), 1) : 1;
    }
    starts.push_back(line.size());
    return starts;
}

// Characters first .. first + count - 1 of a line (fewer past its end).
std::string charRange(const std::string& line, const std::vector<std::size_t>& starts, std::size_t first,
    std::size_t count)
{
    const std::size_t chars = starts.size() - 1;
    if (first >= chars)
        return {};
    const std::size_t last = std::min(chars, first + count);
    return line.substr(starts[first], starts[last] - starts[first]);
}


Reading read(const std::string& data, Encoding encoding)
{
    Reading r;
    std::size_t start = 0;
    if (encoding != Encoding::Bytes && data.rfind("\xEF\xBB\xBF", 0) == 0) {
        r.bom = true;
        start = 3;
        r.mode = CharMode::Utf8;
    } else if (encoding == Encoding::Utf8) {
        r.mode = CharMode::Utf8;
    } else if (encoding == Encoding::Auto) {
        // Nothing to decide before the first byte above 0x7F: ASCII reads the
        // same in both modes, and the mode says UTF-8 meanwhile.
        std::size_t first = 0;
        while (first < data.size() && static_cast<unsigned char>(data[first]) < 0x80)
            ++first;
        r.settled = first < data.size();
        r.mode = !r.settled || looksLikeUtf8(data, first) ? CharMode::Utf8 : CharMode::Bytes;
    }
    bool firstEnd = true;
    std::size_t at = start;
    while (at < data.size()) {
        const std::size_t lf = data.find('\n', at);
        if (lf == std::string::npos) {
            r.lines.push_back(data.substr(at)); // a last line without a line end
            break;
        }
        std::string line = data.substr(at, lf - at);
        const bool cr = !line.empty() && line.back() == '\r';
        if (firstEnd) // looked for within a first line of 1 MiB at most
            r.crlf = cr && line.size() - 1 <= TextInput::kFirstLineLookahead;
        firstEnd = false;
        if (cr)
            line.pop_back();
        r.lines.push_back(line);
        at = lf + 1;
    }
    return r;
}

std::string fit(const std::string& value, const Column& col, CharMode mode, bool& cut)
{
    const std::vector<std::size_t> starts = charStarts(value, mode);
    const std::size_t chars = starts.size() - 1;
    const auto width = static_cast<std::size_t>(col.width);
    cut = chars > width;
    const std::string fill(chars < width ? width - chars : 0, col.fill);
    const std::string text = charRange(value, starts, 0, width);
    return col.align == Align::Right ? fill + text : text + fill;
}

std::vector<std::string> csvFields(const std::string& line, char delimiter, bool& open)
{
    enum { Start, Unquoted, Quoted, QuoteInQuoted } state = Start;
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (state == Start) {
            if (c == '"') {
                state = Quoted;
                continue;
            }
            state = Unquoted;
        }
        if (state == Quoted) {
            if (c == '"')
                state = QuoteInQuoted;
            else
                fields.back() += c;
        } else if (state == QuoteInQuoted && c == '"') {
            fields.back() += c;
            state = Quoted;
        } else if (c == delimiter) { // unquoted, or right after a closing quote
            fields.emplace_back();
            state = Start;
        } else {
            fields.back() += c;
            state = Unquoted;
        }
    }
    open = state == Quoted;
    return fields;
}

std::string csvField(const std::string& value, char delimiter)
{
    if (value.find_first_of(std::string{delimiter, '"', '\r', '\n'}) == std::string::npos)
        return value;
    std::string out = "\"";
    for (const char c : value) {
        out += c;
        if (c == '"')
            out += c;
    }
    return out + "\"";
}

std::string lineEndFor(const Reading& r, LineEndChoice choice)
{
    const bool crlf = choice == LineEndChoice::Auto ? r.crlf : choice == LineEndChoice::CrLf;
    return crlf ? "\r\n" : "\n";
}

} // namespace fwprep::model
