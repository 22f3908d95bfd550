#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>

#include "text_input.h"

namespace fwprep {

// What a job did, for reports of loss and for a summary line.
struct JobStats {
    std::uint64_t linesRead = 0;
    std::uint64_t linesWritten = 0;
    // Split: lines longer than the layout, whose end was not written. Join:
    // values longer than their column, cut to its width.
    std::uint64_t cut = 0;
    std::uint64_t firstCut = 0; // its line number (from 1); 0: none
    // Join from CSV: fields beyond the last column, left out.
    std::uint64_t leftOut = 0;
    std::uint64_t firstLeftOut = 0;
    CharMode mode = CharMode::Bytes; // how characters were counted
    bool modeDetected = false;       // taken from the bytes, not given or marked
    bool asciiOnly = false;          // detected, and no byte above 0x7F came up
    bool byteOrderMark = false;
    bool crlf = false; // the output line end
};

// The input cannot be made into records as asked: malformed CSV, or a value
// that would be cut under the strict rule. `line` is a line of the input.
struct DataError : std::runtime_error {
    DataError(std::uint64_t line, const std::string& what)
        : std::runtime_error(what)
        , line(line)
    {
    }
    std::uint64_t line;
};

// CSV whose last quoted field goes on to the end of the input.
struct UnclosedQuote : DataError {
    using DataError::DataError;
};

// Counts what a job cuts or leaves out; under the strict rule the first one
// ends the job instead.
class LossTally {
public:
    LossTally(JobStats& stats, bool strict)
        : m_stats(stats)
        , m_strict(strict)
    {
    }
    // Something of the current line was cut; `what` says what, for the strict
    // rule. On the hot path of a job whose lines are mostly cut: kept inline,
    // the failure out of line.
    void cut(const char* what)
    {
        if (m_strict) [[unlikely]]
            fail(what);
        if (m_stats.cut++ == 0) [[unlikely]]
            m_stats.firstCut = m_stats.linesRead;
    }
    bool strict() const { return m_strict; }
    // Whether a cut now would only be counted: not strict, and not the first.
    bool countOnly() const { return !m_strict && m_stats.cut > 0; }
    // Cuts counted elsewhere while countOnly() held.
    void addCuts(std::uint64_t n) { m_stats.cut += n; }
    void leftOut(const char* what)
    {
        if (m_strict)
            fail(what);
        if (m_stats.leftOut++ == 0)
            m_stats.firstLeftOut = m_stats.linesRead;
    }
    std::uint64_t line() const { return m_stats.linesRead; }
    void wrote(std::uint64_t lines) { m_stats.linesWritten += lines; }

private:
    [[noreturn, gnu::noinline, gnu::cold]] void fail(const char* what) const
    {
        throw DataError(m_stats.linesRead, what);
    }

    JobStats& m_stats;
    bool m_strict;
};

} // namespace fwprep
