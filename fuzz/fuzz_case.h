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
};

constexpr std::size_t kHeader = 7;

inline FuzzCase decode(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t h[kHeader] = {};
    std::copy(data, data + std::min(size, kHeader), h);
    FuzzCase c;
    std::string payload(reinterpret_cast<const char*>(data) + std::min(size, kHeader),
        size - std::min(size, kHeader));

    c.encoding = static_cast<Encoding>(h[0] % 3);
    c.lineEnd = static_cast<LineEndChoice>(h[0] / 3 % 3);
    c.seekable = h[0] / 9 % 2 == 0;
    const int pad = h[0] / 18; // 0..14; 11..14 push the text to the window's end

    c.blockSize = h[1] < 228 ? 8 + h[1] % 57 : 4096 + h[1];
    c.chunk = h[2] == 255 ? SIZE_MAX : std::size_t{1} + h[2];

    if (h[3] == 255)
        c.count = 32767;
    else if (h[3] == 254)
        c.count = -32768;
    else if (h[3] < 200)
        c.count = h[3] % 12 - 2;
    else
        c.count = (h[3] - 200) * 5 + 10;

    if (h[4] == 255)
        c.width = 32767;
    else if (h[4] < 200)
        c.width = h[4] % 20;
    else
        c.width = (h[4] - 200) * 40;

    if (pad >= 11) {
        // Valid UTF-8 filler in front of the text, so that the text lies across
        // the end of the detection window or ends right around it.
        std::size_t fill;
        if (h[5] & 1) {
            const long want = 65536L - static_cast<long>(payload.size()) + (h[5] >> 1) % 17 - 8;
            fill = static_cast<std::size_t>(std::max(want, 0L));
        } else {
            fill = 65536 - 1 - (h[5] >> 1) % 48;
        }
        static const char* const kFillers[] = {"a", "\xC3\xA9", "ab\r\n", "\xE2\x82\xAC"};
        const std::string unit = kFillers[pad - 11];
        std::string filler;
        filler.reserve(fill);
        while (filler.size() + unit.size() <= fill)
            filler += unit;
        filler.resize(fill, 'a');
        payload = filler + payload;
    }
    c.text = std::move(payload);

    if (h[6] >= 240)
        c.failAt = (h[6] - 240) * (c.text.size() / 16);
    return c;
}

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
    std::size_t readAt(std::uint64_t offset, char* dst, std::size_t size) override
    {
        if (offset >= m_failAt)
            throw IoError{IoError::Side::Input, path(), EIO};
        return m_inner.readAt(offset, dst, size);
    }
    bool seekable() const override { return m_inner.seekable(); }
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

} // namespace fwprep::fuzzing
