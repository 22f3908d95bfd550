// One named case for every fault that fuzzing found, so that it stays fixed.

#include <QTest>

#include <string>

#include "byte_source.h"
#include "test_files.h"
#include "text_input.h"

using namespace fwprep;

Q_DECLARE_METATYPE(fwprep::CharMode)

namespace {

// `before` at the start, `tail` placed so that it begins `offset` bytes before
// the end of the 64 KiB detection window, ASCII filler in between.
std::string aroundWindowEnd(std::size_t offset, const std::string& tail)
{
    std::string text = "\xC3\xA9\n"; // one two-byte letter, so that the mode shows
    text.resize(TextInput::kDetectWindow - offset, 'a');
    return text + tail;
}

} // namespace

class TestFuzzFindings : public QObject {
    Q_OBJECT
private slots:
    void detectionAtWindowEnd_data();
    void detectionAtWindowEnd();
};

void TestFuzzFindings::detectionAtWindowEnd_data()
{
    QTest::addColumn<std::string>("text");
    QTest::addColumn<CharMode>("mode");

    // Found by fuzz_text_input (corpus entries window_cut_surrogate and
    // window_cut_overlong): bytes that can never start a valid sequence were
    // taken as a sequence cut by the window.
    QTest::newRow("surrogate start cut by the window is not UTF-8")
        << aroundWindowEnd(2, "\xED\xA0\x80 more\n") << CharMode::Bytes;
    QTest::newRow("overlong start cut by the window is not UTF-8")
        << aroundWindowEnd(2, "\xF0\x80\x80\x80\n") << CharMode::Bytes;
    QTest::newRow("start above U+10FFFF cut by the window is not UTF-8")
        << aroundWindowEnd(3, "\xF4\x90\x80\x80\n") << CharMode::Bytes;
    QTest::newRow("too short E0 form cut by the window is not UTF-8")
        << aroundWindowEnd(2, "\xE0\x9F\xBF\n") << CharMode::Bytes;
    // What must stay as it was.
    QTest::newRow("valid start cut by the window is UTF-8")
        << aroundWindowEnd(2, "\xE2\x82\xAC\n") << CharMode::Utf8;
    QTest::newRow("valid four-byte start cut after three bytes is UTF-8")
        << aroundWindowEnd(3, "\xF0\x9F\x98\x80\n") << CharMode::Utf8;
    QTest::newRow("lone valid lead byte at the window end is UTF-8")
        << aroundWindowEnd(1, "\xF4\x8F\xBF\xBF\n") << CharMode::Utf8;
    QTest::newRow("cut by the window, never completed, is still UTF-8")
        << aroundWindowEnd(2, "\xE2\x82 no third byte\n") << CharMode::Utf8;
    QTest::newRow("cut by the real end at exactly 64 KiB is not UTF-8")
        << aroundWindowEnd(2, "\xE2\x82") << CharMode::Bytes;
    QTest::newRow("invalid byte just past the window does not count")
        << aroundWindowEnd(0, "\xFF\n") << CharMode::Utf8;
}

void TestFuzzFindings::detectionAtWindowEnd()
{
    QFETCH(std::string, text);
    QFETCH(CharMode, mode);

    for (const auto& framing : test::framings()) {
        for (const bool seekable : {true, false}) {
            MemorySource source(text, framing.chunk, seekable);
            const JobControl control;
            TextInput in(source, Encoding::Auto, control, framing.block);
            in.start();
            QCOMPARE(in.charMode(), mode);
        }
    }
}

QTEST_GUILESS_MAIN(TestFuzzFindings)
#include "tst_fuzz_findings.moc"
