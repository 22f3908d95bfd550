#pragma once
// Turns a fuzzer's bytes into one job: the first bytes choose the settings
// (encoding, line end, block and read sizes, count, width, and whether the
// text is pushed out to the end of the 64 KiB detection window), the rest is
// the text.

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "byte_source.h"
#include "errors.h"
#include "job_params.h"
#include "threads.h"

namespace fwprep::fuzzing {

struct FuzzCase {
    std::string text;
    Encoding encoding = Encoding::Auto;
    LineEndChoice lineEnd = LineEndChoice::Auto;
    std::size_t blockSize = 8;
    std::size_t chunk = SIZE_MAX;
    bool seekable = true;
    int count = 0;
    int width = 0;
    std::uint64_t failAt = UINT64_MAX; // reading fails once this many bytes were handed out
    std::size_t threadChunk = 0;       // a chunk of a job on two threads; 0: one thread
};

// The threads a case's job runs on.
inline ThreadPlan threadPlan(const FuzzCase& c)
{
    return ThreadPlan::chunked(c.threadChunk);
}

constexpr std::size_t kHeader = 7;

// Decodes one fuzzer input. Builds a filler of up to 64 KiB, so it lives in a
// file compiled without coverage tracing.
FuzzCase decode(const std::uint8_t* data, std::size_t size);

// A source whose reads fail with EIO after a given number of bytes.
class FailingSource final : public ByteSource {
public:
    FailingSource(ByteSource& inner, std::uint64_t failAt)
        : m_inner(inner)
        , m_failAt(failAt)
    {
    }
    std::size_t read(char* dst, std::size_t size) override
    {
        if (m_done >= m_failAt)
            throw IoError{IoError::Side::Input, path(), EIO};
        const std::size_t got = m_inner.read(dst, static_cast<std::size_t>(std::min<std::uint64_t>(size, m_failAt - m_done)));
        m_done += got;
        return got;
    }
    bool seekable() const override { return m_inner.seekable(); }
    bool positional() const override { return m_inner.positional(); }
    std::size_t readAt(char* dst, std::size_t size, std::uint64_t offset) override
    {
        // The bytes before the failing one read, the rest fail.
        if (offset >= m_failAt)
            throw IoError{IoError::Side::Input, path(), EIO};
        return m_inner.readAt(dst, static_cast<std::size_t>(std::min<std::uint64_t>(size, m_failAt - offset)), offset);
    }
    std::uint64_t size() const override { return m_inner.size(); }
    const std::string& path() const override { return m_inner.path(); }

private:
    ByteSource& m_inner;
    std::uint64_t m_failAt;
    std::uint64_t m_done = 0;
};

// Stops the fuzzer with a message when the library and the model disagree.
[[noreturn]] inline void mismatch(const char* what)
{
    std::fprintf(stderr, "MISMATCH: %s\n", what);
    std::abort();
}

inline void expect(bool ok, const char* what)
{
    if (!ok)
        mismatch(what);
}

// Runs the job of `c` through the library and checks its output against
// `want`, the model's output. A failing read must be reported, with only a
// beginning of the output written before it.
void checkJob(const FuzzCase& c, JobKind kind, const std::string& want);

} // namespace fwprep::fuzzing
