#include "fuzz_case.h"

#include "output.h"
#include "transform.h"

namespace fwprep::fuzzing {

FuzzCase decode(const std::uint8_t* data, std::size_t size)
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
        std::string filler = unit;
        while (filler.size() < fill)
            filler += filler;
        filler.resize(fill / unit.size() * unit.size()); // whole units only
        filler.resize(fill, 'a');
        payload = filler + payload;
    }
    c.text = std::move(payload);

    if (h[6] >= 240)
        c.failAt = (h[6] - 240) * (c.text.size() / 16);
    if (h[6] % 2 == 1)
        c.threadChunk = 1 + h[6] / 2 % 64;
    return c;
}

void checkJob(const FuzzCase& c, JobKind kind, const std::string& want)
{
    MemorySource memory(c.text, c.chunk, c.seekable);
    FailingSource source(memory, c.failAt);
    StringSink sink;
    JobParams params;
    params.kind = kind;
    params.count = c.count;
    params.width = c.width;
    params.encoding = c.encoding;
    params.lineEnd = c.lineEnd;
    try {
        runTransform(source, sink, params, JobControl{}, c.blockSize, threadPlan(c));
    } catch (const IoError& e) {
        expect(c.failAt != UINT64_MAX && e.side == IoError::Side::Input, "unexpected error");
        // Whatever was written before the failure is a beginning of the output.
        expect(want.compare(0, sink.text.size(), sink.text) == 0, "output before the failure");
        return;
    }
    expect(c.failAt == UINT64_MAX, "failing read not reported");
    expect(sink.text == want, kind == JobKind::Split ? "split output" : "join output");
}

} // namespace fwprep::fuzzing
