#pragma once
// Columns of a record: which width, alignment and fill each has, and how a
// value is fitted to one or taken back out of it.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "job_params.h"
#include "output.h"

namespace fwprep {

class Columns {
public:
    // The columns of `params`: its layout, else `count` columns of `width`.
    // For a join with a count of 0 or less without a layout, the one column
    // repeats without end (`unbounded`).
    explicit Columns(const JobParams& params)
    {
        if (!params.layout.empty()) {
            m_cols = params.layout;
            m_count = m_cols.size();
        } else {
            m_cols.push_back({params.width, params.align, params.fill});
            m_uniform = true;
            m_count = params.count > 0 ? static_cast<std::size_t>(params.count) : 0;
        }
        for (std::size_t i = 0; i < m_count; ++i) {
            m_total += width(i);
            m_widest = std::max(m_widest, width(i));
        }
    }
    // Number of columns of a record; 0 with a count of 0 or less.
    std::size_t count() const { return m_count; }
    bool unbounded() const { return m_uniform && m_count == 0; }
    // Every column alike: right-aligned, filled with spaces, `width()` wide.
    bool plain() const { return m_uniform && m_cols[0].align == Align::Right && m_cols[0].fill == ' '; }
    const Column& operator[](std::size_t i) const { return m_cols[m_uniform ? 0 : i]; }
    std::size_t width(std::size_t i) const { return static_cast<std::size_t>((*this)[i].width); }
    // The width of the widest column; 0 without columns.
    std::size_t widest() const { return m_widest; }
    // Characters of a whole record.
    std::size_t totalWidth() const { return m_total; }

private:
    std::vector<Column> m_cols;
    std::size_t m_count = 0;
    std::size_t m_total = 0;
    std::size_t m_widest = 0;
    bool m_uniform = false;
};

// Writes a value of `chars` characters (at most the column's width) fitted to
// its column: the fill in front or after.
inline void putColumn(OutputBuffer& out, const Column& col, const char* data, std::size_t size, std::size_t chars)
{
    const std::size_t fill = static_cast<std::size_t>(col.width) - chars;
    if (col.align == Align::Right)
        out.appendRepeated(col.fill, fill);
    out.append(data, size);
    if (col.align == Align::Left)
        out.appendRepeated(col.fill, fill);
}

// Takes off a piece the fill that putColumn would have put in: leading fill of
// a right-aligned column, trailing fill of a left-aligned one.
inline void trimFill(const Column& col, const char*& begin, const char*& end)
{
    if (col.align == Align::Right) {
        while (begin < end && *begin == col.fill)
            ++begin;
    } else {
        while (end > begin && end[-1] == col.fill)
            --end;
    }
}

// Writes one CSV field: quoted when it holds the delimiter, a double quote, CR
// or LF, with each double quote inside doubled.
inline void appendCsvField(OutputBuffer& out, const char* data, std::size_t size, char delimiter)
{
    const char* const end = data + size;
    const char* p = data;
    while (p < end && *p != delimiter && *p != '"' && *p != '\r' && *p != '\n')
        ++p;
    if (p == end) {
        out.append(data, size);
        return;
    }
    out.append("\"", 1);
    for (p = data; p < end;) {
        const void* hit = std::memchr(p, '"', static_cast<std::size_t>(end - p));
        const char* q = hit != nullptr ? static_cast<const char*>(hit) + 1 : end;
        out.append(p, static_cast<std::size_t>(q - p));
        if (hit != nullptr)
            out.append("\"", 1);
        p = q;
    }
    out.append("\"", 1);
}

} // namespace fwprep
