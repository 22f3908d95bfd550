#pragma once
// Reads CSV (RFC 4180) a line at a time, in as many pieces as the line comes
// in: a field is quoted when it starts with a double quote, "" inside quotes
// is one quote, and a quote anywhere else is an ordinary character (after a
// closing quote the field goes on unquoted, up to the delimiter). A record
// ends at the line end; a quoted field that goes on past it holds a line end,
// which no fixed-width record can: that is an error, found when the quote is
// closed or, when it never is, at the end of the input.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "job_stats.h"

namespace fwprep {

class CsvReader {
public:
    explicit CsvReader(char delimiter)
        : m_delimiter(delimiter)
    {
    }

    // Reads the next bytes of line `line`: calls sink.text(data, size) with
    // the value's bytes, in runs, and sink.fieldEnd() at each delimiter that
    // ends a field. Throws DataError.
    template <class Sink>
    void read(const char* p, std::size_t size, std::uint64_t line, const Sink& sink)
    {
        const char* const end = p + size;
        while (p < end) {
            switch (m_state) {
            case State::FieldStart:
                if (*p == '"') {
                    m_state = State::Quoted;
                    m_quoteLine = line;
                    ++p;
                    continue;
                }
                m_state = State::Unquoted;
                [[fallthrough]];
            case State::Unquoted: {
                const char* stop = find(p, end, m_delimiter);
                sink.text(p, static_cast<std::size_t>(stop - p));
                p = stop;
                if (p < end) {
                    sink.fieldEnd();
                    ++p;
                    m_state = State::FieldStart;
                }
                continue;
            }
            case State::Quoted: {
                const char* stop = find(p, end, '"');
                if (!m_spanning)
                    sink.text(p, static_cast<std::size_t>(stop - p));
                p = stop;
                if (p < end) {
                    ++p;
                    m_state = State::QuoteInQuoted;
                }
                continue;
            }
            case State::QuoteInQuoted:
                if (*p == '"') {
                    if (!m_spanning)
                        sink.text(p, 1);
                    ++p;
                    m_state = State::Quoted;
                    continue;
                }
                if (m_spanning)
                    throw heldLineEnd();
                m_state = State::Unquoted; // the quote closed the quoted part
                continue;
            }
        }
    }

    // At the start of a record: no field of it read yet.
    bool atRecordStart() const { return m_state == State::FieldStart && !m_spanning; }

    // The line has ended. True when its record ends with it; false while a
    // quoted field goes on past it. Throws DataError.
    bool endLine()
    {
        if (m_state == State::QuoteInQuoted && m_spanning)
            throw heldLineEnd();
        if (m_state == State::Quoted) {
            m_spanning = true;
            return false;
        }
        m_state = State::FieldStart;
        return true;
    }

    // The input has ended. Throws UnclosedQuote on a quoted field never closed.
    void finish() const
    {
        if (m_state == State::QuoteInQuoted && m_spanning)
            throw heldLineEnd();
        if (m_spanning)
            throw UnclosedQuote(m_quoteLine, "a quoted field begins here and is never closed");
    }

private:
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted };

    static const char* find(const char* p, const char* end, char c)
    {
        const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
        return hit != nullptr ? static_cast<const char*>(hit) : end;
    }
    DataError heldLineEnd() const
    {
        return DataError(m_quoteLine, "a quoted field holds a line end, which a fixed-width record cannot");
    }

    const char m_delimiter;
    State m_state = State::FieldStart;
    bool m_spanning = false; // a quoted field has gone on past a line end
    std::uint64_t m_quoteLine = 0;
};

} // namespace fwprep
