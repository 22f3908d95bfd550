#pragma once
// A plain model of how fwprep reads text: written for clarity, one byte at a
// time, sharing no code with the library. The fuzz targets compare the
// library's fast paths against it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job_params.h"
#include "text_input.h"

namespace fwprep::model {

constexpr std::size_t kWindow = 65536;

// Decodes the UTF-8 sequence of exactly `len` bytes at s[i]; true when it is a
// valid, shortest-form encoding of a scalar value up to U+10FFFF.
bool decodes(const std::string& s, std::size_t i, std::size_t len);
// Length of the valid sequence at s[i], or 0.
std::size_t validLength(const std::string& s, std::size_t i);
// True when s[i..], fewer than four bytes and all that is known, could still be
// completed to a valid sequence.
bool validPrefix(const std::string& s, std::size_t i);
// The detection rule over the 64 KiB from `first`, the first byte above 0x7F.
bool looksLikeUtf8(const std::string& data, std::size_t first);

// Where the characters of a line start, one offset per character, then the
// line's length.
std::vector<std::size_t> charStarts(const std::string& line, CharMode mode);
// Characters first .. first + count - 1 of a line (fewer past its end).
std::string charRange(const std::string& line, const std::vector<std::size_t>& starts, std::size_t first,
    std::size_t count);

struct Reading {
    CharMode mode = CharMode::Bytes;
    bool bom = false;
    bool settled = true; // false: detection met no byte above 0x7F
    bool crlf = false; // the first line end is CR LF
    std::vector<std::string> lines;
};

Reading read(const std::string& data, Encoding encoding);

// A value fitted to a column: its first `col.width` characters, with the fill
// in front (right-aligned) or after (left-aligned). `cut` is set when the value
// had more characters.
std::string fit(const std::string& value, const Column& col, CharMode mode, bool& cut);

// The CSV fields of one line. `open` is set when the line ends inside a quoted
// field.
std::vector<std::string> csvFields(const std::string& line, char delimiter, bool& open);
// A CSV field as written: quoted when it holds the delimiter, a quote, CR or LF.
std::string csvField(const std::string& value, char delimiter);
std::string lineEndFor(const Reading& r, LineEndChoice choice);

} // namespace fwprep::model
