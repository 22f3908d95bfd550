// One named case for every fault that fuzzing found, so that it stays fixed.

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <string>
#include <unistd.h>

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
    void fileJustPastTheHead_data();
    void fileJustPastTheHead();
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
            Segment seg;
            while (in.next(seg)) { } // the mode may be settled late
            QCOMPARE(in.charMode(), mode);
        }
    }
}

void TestFuzzFindings::fileJustPastTheHead_data()
{
    QTest::addColumn<int>("pastHead"); // bytes of the file after the 64 KiB + 1 read first
    QTest::addColumn<bool>("mapped");
    // Found by fuzz_text_input (corpus entry mapped_short_tail): a file that
    // ended within the last bytes that are always read, not mapped, was mapped
    // all the same, shorter than the part of a line already held; the bytes
    // read went back.
    for (const int past : {0, 1, 10, 57, 60, 63, 64})
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes past the head").arg(past))) << past << false;
    for (const int past : {65, 66, 100, 1000})
        QTest::newRow(qPrintable(QStringLiteral("%1 bytes past the head").arg(past))) << past << true;
}

void TestFuzzFindings::fileJustPastTheHead()
{
    QFETCH(int, pastHead);
    QFETCH(bool, mapped);
    // Lines up to 7 bytes before the head's end; the line there goes on past it.
    const std::size_t head = TextInput::kDetectWindow + 1;
    std::string text;
    for (int i = 0; text.size() < head; ++i)
        text += std::to_string(i) + (i % 3 == 0 ? "\r\n" : "\n");
    text.resize(head - 8);
    text += "\nabcdefg";
    for (int i = 0; text.size() < head + std::size_t(pastHead); ++i)
        text += i % 5 == 4 ? '\n' : 'x';

    QTemporaryDir dir;
    const QString path = dir.filePath("in.txt");
    test::writeFile(path, QByteArray::fromStdString(text));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    FdSource source(fd, path.toStdString(), JobControl{}, true, ReadMethod::Map);
    std::uint64_t last = 0;
    bool backwards = false;
    JobControl control;
    control.progress = [&](std::uint64_t done, std::uint64_t) {
        backwards = backwards || done < last;
        last = done;
    };
    TextInput in(source, Encoding::Auto, control, 8);
    in.start();
    std::string joined;
    Segment seg;
    while (in.next(seg)) {
        joined.append(seg.data, seg.size);
        if (seg.endsLine)
            joined += '\n';
    }
    std::string expected;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        expected += text[i];
    }
    if (!expected.empty() && expected.back() != '\n')
        expected += '\n';
    QCOMPARE(in.usedMapping(), mapped);
    QVERIFY(!backwards);
    QCOMPARE(in.bytesRead(), std::uint64_t(text.size()));
    QCOMPARE(joined.size(), expected.size());
    QVERIFY(joined == expected);
}

QTEST_GUILESS_MAIN(TestFuzzFindings)
#include "tst_fuzz_findings.moc"
