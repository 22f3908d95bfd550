#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "byte_source.h"
#include "test_files.h"
#include "text_input.h"
#include "utf8.h"

using namespace fwprep;

namespace {

struct ReadResult {
    QList<QByteArray> lines;
    CharMode mode; // when all was read
    bool bom;
    LineEnd lineEnd;
    bool settled = true;       // false: detection met no byte above 0x7F
    std::uint64_t total = 0;   // the input's size, as progress gives it
    std::size_t largestSegment = 0;
    bool segmentsOnCharBoundaries = true;
};

ReadResult readFrom(ByteSource& source, Encoding encoding, std::size_t block, bool* usedMapping = nullptr)
{
    JobControl control;
    std::uint64_t total = 0;
    control.progress = [&total](std::uint64_t, std::uint64_t all) { total = all; };
    TextInput in(source, encoding, control, block);
    in.start();
    ReadResult r{{}, in.charMode(), in.hasByteOrderMark(), in.firstLineEnd()};
    QByteArray line;
    Segment seg;
    while (in.next(seg)) {
        r.largestSegment = std::max(r.largestSegment, seg.size);
        if (in.charMode() == CharMode::Utf8 && !seg.endsLine) {
            // A piece handed out before its line ends must not end inside a character.
            const std::size_t tail = utf8::incompleteTail(seg.data, seg.data + seg.size);
            r.segmentsOnCharBoundaries = r.segmentsOnCharBoundaries && tail == 0;
        }
        line.append(seg.data, static_cast<qsizetype>(seg.size));
        if (seg.endsLine) {
            r.lines.append(line);
            line.clear();
        }
    }
    if (usedMapping)
        *usedMapping = in.usedMapping();
    r.mode = in.charMode();
    r.settled = in.modeSettled();
    r.total = total;
    return r;
}

ReadResult readAll(const QByteArray& data, Encoding encoding, std::size_t block, std::size_t chunk, bool seekable = true)
{
    MemorySource source(data.toStdString(), chunk, seekable);
    return readFrom(source, encoding, block);
}

// Lines of every kind, in a fixed random order: empty, short, longer than
// `block`, LF and CRLF ends, lone CRs, two- and four-byte characters.
QByteArray mixedText(std::size_t bytes, std::size_t block, bool ascii)
{
    QByteArray out;
    std::uint32_t seed = 12345;
    const auto rnd = [&seed](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    const char* const pieces[] = {"a", "b", " ", "\r", "\xC3\xA7", "\xC4\xB1", "\xF0\x9F\x98\x80"};
    while (std::size_t(out.size()) < bytes) {
        const std::uint32_t kind = rnd(20);
        const std::size_t len = kind == 0 ? 0 : kind == 1 ? block + rnd(3 * std::uint32_t(block)) : rnd(90);
        for (std::size_t i = 0; i < len; ++i)
            out += pieces[rnd(ascii ? 3 : 7)];
        out += rnd(4) == 0 ? "\r\n" : "\n";
    }
    out += "last line without a line end";
    return out;
}

} // namespace

class TestTextInput : public QObject {
    Q_OBJECT
private slots:
    void lines_data();
    void lines();
    void detection_data();
    void detection();
    void longLineStreams();
    void firstLineEndFarAhead_data();
    void firstLineEndFarAhead();
    void mappedFile_data();
    void mappedFile();
    void mappedFileHeldLittle();
};

void TestTextInput::lines_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<int>("lineEnd"); // 0 LF, 1 CRLF

    using L = QList<QByteArray>;
    QTest::newRow("empty file has no lines") << QByteArray() << L{} << 0;
    QTest::newRow("LF") << QByteArray("ab\ncd\n") << L{"ab", "cd"} << 0;
    QTest::newRow("CRLF") << QByteArray("ab\r\ncd\r\n") << L{"ab", "cd"} << 1;
    QTest::newRow("last line without line end") << QByteArray("ab\ncd") << L{"ab", "cd"} << 0;
    QTest::newRow("single line no line end") << QByteArray("x") << L{"x"} << 0;
    QTest::newRow("line end alone is one empty line") << QByteArray("\n") << L{""} << 0;
    QTest::newRow("empty lines") << QByteArray("\n\n\n") << L{"", "", ""} << 0;
    QTest::newRow("empty first line CRLF") << QByteArray("\r\nx") << L{"", "x"} << 1;
    QTest::newRow("lone CR is a character") << QByteArray("a\rb\n") << L{"a\rb"} << 0;
    QTest::newRow("CR at the very end") << QByteArray("ab\r") << L{"ab\r"} << 0;
    QTest::newRow("CR CR LF keeps one CR") << QByteArray("a\r\r\n") << L{"a\r"} << 1;
    QTest::newRow("NUL is a character") << QByteArray("a\0b\n\0", 5) << L{QByteArray("a\0b", 3), QByteArray("\0", 1)} << 0;
    QTest::newRow("first line end decides LF") << QByteArray("a\nb\r\n") << L{"a", "b"} << 0;
    QTest::newRow("first line end decides CRLF") << QByteArray("a\r\nb\n") << L{"a", "b"} << 1;
    QTest::newRow("mixed CRLF and LF lines") << QByteArray("a\r\nb\nc\r\n") << L{"a", "b", "c"} << 1;
}

void TestTextInput::lines()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(int, lineEnd);
    for (const auto& f : test::framings()) {
        for (const bool seekable : {true, false}) {
            const ReadResult r = readAll(data, Encoding::Auto, f.block, f.chunk, seekable);
            QCOMPARE(r.lines, expected);
            QCOMPARE(int(r.lineEnd), lineEnd);
        }
    }
}

void TestTextInput::detection_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("mode"); // 0 bytes, 1 UTF-8, 2 not settled: all ASCII
    QTest::addColumn<bool>("bom");
    QTest::addColumn<QByteArray>("firstLine");

    const QByteArray bom("\xEF\xBB\xBF");
    const int autoEnc = int(Encoding::Auto), utf8 = int(Encoding::Utf8), bytes = int(Encoding::Bytes);
    const QByteArray turkishUtf8("\xC3\xA7\x61\xC4\x9F\x72\xC4\xB1"); // "çağrı"
    const QByteArray turkish1254("\xE7\x61\xF0\x72\xFD");             // "çağrı" in Windows-1254

    QTest::newRow("ASCII needs no decision") << QByteArray("abc\n") << autoEnc << 2 << false << QByteArray("abc");
    QTest::newRow("Turkish UTF-8") << turkishUtf8 + "\n" << autoEnc << 1 << false << turkishUtf8;
    QTest::newRow("Turkish Windows-1254") << turkish1254 + "\n" << autoEnc << 0 << false << turkish1254;
    QTest::newRow("BOM is skipped") << bom + "ab\n" << autoEnc << 1 << true << QByteArray("ab");
    QTest::newRow("BOM alone") << bom << autoEnc << 1 << true << QByteArray();
    QTest::newRow("BOM then invalid byte stays UTF-8") << bom + "\xFF\n" << autoEnc << 1 << true << QByteArray("\xFF");
    QTest::newRow("BOM with utf-8 forced") << bom + "x" << utf8 << 1 << true << QByteArray("x");
    QTest::newRow("BOM in bytes mode is text") << bom + "x" << bytes << 0 << false << bom + "x";
    QTest::newRow("forced UTF-8 on 1254 text") << turkish1254 << utf8 << 1 << false << turkish1254;
    QTest::newRow("forced bytes on UTF-8 text") << turkishUtf8 << bytes << 0 << false << turkishUtf8;
    QTest::newRow("overlong form is invalid") << QByteArray("\xC0\xAF") << autoEnc << 0 << false << QByteArray("\xC0\xAF");
    QTest::newRow("surrogate is invalid") << QByteArray("\xED\xA0\x80") << autoEnc << 0 << false << QByteArray("\xED\xA0\x80");
    QTest::newRow("above U+10FFFF is invalid") << QByteArray("\xF4\x90\x80\x80") << autoEnc << 0 << false << QByteArray("\xF4\x90\x80\x80");
    QTest::newRow("four-byte emoji is valid") << QByteArray("\xF0\x9F\x98\x80") << autoEnc << 1 << false << QByteArray("\xF0\x9F\x98\x80");
    QTest::newRow("sequence cut by the real end") << QByteArray("ab\xC3") << autoEnc << 0 << false << QByteArray("ab\xC3");

    const QByteArray fill(int(TextInput::kDetectWindow) - 1, 'a');
    QTest::newRow("sequence cut by the window end") << fill + "\xC3\xA7" << autoEnc << 1 << false << fill + "\xC3\xA7";
    QTest::newRow("window-sized file cut at its end") << fill + "\xC3" << autoEnc << 0 << false << fill + "\xC3";
    QTest::newRow("window starts at the first byte above 0x7F") << fill + "a\xFF" << autoEnc << 0 << false << fill + "a\xFF";
    QTest::newRow("invalid byte at the window's last byte") << fill + "\xFF" + "b" << autoEnc << 0 << false << fill + "\xFF" + "b";

    // Valid sequences against bytes in none: more valid ones make UTF-8.
    const QByteArray records = turkishUtf8 + "\n" + turkishUtf8 + "\xFE\n" + turkishUtf8 + "\n";
    QTest::newRow("UTF-8 with a stray byte in its first records") << records << autoEnc << 1 << false << turkishUtf8;
    QTest::newRow("tie is single-byte") << QByteArray("\xC3\xA7 \xFF\n") << autoEnc << 0 << false << QByteArray("\xC3\xA7 \xFF");
    QTest::newRow("truncated sequence at the end counts its bytes")
        << QByteArray("\xC3\xA7\xC3\xA7\xE2\x82") << autoEnc << 0 << false << QByteArray("\xC3\xA7\xC3\xA7\xE2\x82");
    // Only the 64 KiB from the first byte above 0x7F count, however far in.
    const QByteArray ascii = QByteArray(70000, 'a') + "\n";
    QTest::newRow("1254 after 70 KB of ASCII") << ascii + turkish1254 << autoEnc << 0 << false << ascii.chopped(1);
    QTest::newRow("UTF-8 after 70 KB of ASCII") << ascii + turkishUtf8 << autoEnc << 1 << false << ascii.chopped(1);
    QTest::newRow("invalid bytes past the window from the first") << turkishUtf8 + fill + "\xFF\xFF\xFF\xFF"
        << autoEnc << 1 << false << turkishUtf8 + fill + "\xFF\xFF\xFF\xFF";
    QTest::newRow("ASCII up to the end") << ascii + ascii << autoEnc << 2 << false << ascii.chopped(1);
}

void TestTextInput::detection()
{
    QFETCH(QByteArray, data);
    QFETCH(int, encoding);
    QFETCH(int, mode);
    QFETCH(bool, bom);
    QFETCH(QByteArray, firstLine);
    for (const auto& f : test::framings()) {
        const ReadResult r = readAll(data, Encoding(encoding), f.block, f.chunk);
        QCOMPARE(r.settled ? int(r.mode) : 2, mode);
        QCOMPARE(r.bom, bom);
        QCOMPARE(r.lines.value(0), firstLine);
        QVERIFY(r.segmentsOnCharBoundaries);
    }
}

void TestTextInput::longLineStreams()
{
    // A line far longer than the block comes in pieces no larger than the
    // block, each ending on a character boundary, and adds up to the line.
    QByteArray line;
    for (int i = 0; i < 5000; ++i)
        line += (i % 3 == 0) ? QByteArray("\xC3\xA7") : (i % 3 == 1) ? QByteArray("\xF0\x9F\x98\x80") : QByteArray("x\r");
    const QByteArray data = line + "\r\nnext";
    for (const std::size_t block : {8, 9, 10, 11, 64, 1000}) {
        const ReadResult r = readAll(data, Encoding::Auto, block, 7);
        QCOMPARE(r.lines, (QList<QByteArray>{line, "next"}));
        QVERIFY2(r.largestSegment <= block, qPrintable(QString::number(r.largestSegment)));
        QVERIFY(r.segmentsOnCharBoundaries);
        QCOMPARE(r.lineEnd, LineEnd::CrLf);
    }
}

void TestTextInput::firstLineEndFarAhead_data()
{
    QTest::addColumn<bool>("seekable");
    QTest::addColumn<bool>("bom");
    QTest::addColumn<int>("distance"); // length of the first line
    QTest::addColumn<int>("lineEnd");
    // The first line end counts when the first line is at most 1 MiB long (not
    // counting a byte-order mark or the CR), on a file as on a pipe.
    const int mib = int(TextInput::kFirstLineLookahead);
    for (const bool seekable : {true, false}) {
        for (const bool bom : {false, true}) {
            const QString kind = QString(seekable ? "file" : "pipe") + (bom ? ", BOM" : "");
            QTest::newRow(qPrintable(kind + ", 512 KiB")) << seekable << bom << (512 << 10) << int(LineEnd::CrLf);
            QTest::newRow(qPrintable(kind + ", 1 MiB")) << seekable << bom << mib << int(LineEnd::CrLf);
            QTest::newRow(qPrintable(kind + ", 1 MiB + 1 falls back to LF")) << seekable << bom << mib + 1 << int(LineEnd::Lf);
        }
        QTest::newRow(seekable ? "file, 3 MiB falls back to LF" : "pipe, 3 MiB falls back to LF")
            << seekable << false << 3 * mib << int(LineEnd::Lf);
    }
}

void TestTextInput::firstLineEndFarAhead()
{
    QFETCH(bool, seekable);
    QFETCH(bool, bom);
    QFETCH(int, distance);
    QFETCH(int, lineEnd);
    const QByteArray data = (bom ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + QByteArray(distance, 'x') + "\r\nshort\r\n";
    const ReadResult r = readAll(data, Encoding::Auto, 4096, 65536, seekable);
    QCOMPARE(int(r.lineEnd), lineEnd);
    QCOMPARE(r.lines.size(), 2);
    QCOMPARE(r.lines.at(0).size(), distance);
}

void TestTextInput::mappedFile_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("offset"); // where the file's read position starts
    QTest::addColumn<bool>("mapped");

    for (const int block : {4096, 4097, 65536}) {
        for (const bool ascii : {true, false}) {
            const QByteArray data = mixedText(std::size_t(64 << 10) + 6 * std::size_t(block), std::size_t(block), ascii);
            const QString name = QStringLiteral("%1, block %2").arg(ascii ? "ASCII" : "UTF-8").arg(block);
            QTest::newRow(qPrintable(name)) << data << block << 0 << true;
            QTest::newRow(qPrintable(name + ", read position not at 0")) << data << block << 333 << true;
        }
    }
    const QByteArray small = mixedText(std::size_t(64 << 10) + 4096, 4096, false);
    QTest::newRow("too small to be worth mapping") << small << (1 << 20) << 0 << false;

    // The first line end and the encoding are looked for from where the input
    // starts; the bytes before it (CRLF lines, here) do not count.
    const QByteArray longFirst = QByteArray(100000, 'x') + "\nab\n" + mixedText(200000, 4096, true);
    QTest::newRow("first line 100 KB, read position not at 0") << longFirst << 4096 << 120001 << true;
    QTest::newRow("first line 100 KB, read position not at 0, read") << longFirst << (1 << 20) << 120001 << false;
    const QByteArray late1254 = QByteArray(70000, 'a') + "\n00002 \xDE\xDD\xDE" "L\xDD\x92" "DE OF\xDD" "S\n" + mixedText(200000, 4096, true);
    QTest::newRow("1254 after 70 KB of ASCII") << late1254 << 4096 << 0 << true;
    QTest::newRow("1254 after 70 KB of ASCII, read position not at 0") << late1254 << 4096 << 120001 << true;
    QTest::newRow("first line 1 MiB + 1") << QByteArray((1 << 20) + 1, 'x') + "\r\n" + longFirst << 4096 << 0 << true;
    QTest::newRow("first byte above 0x7F in the mapping's last bytes")
        << mixedText(std::size_t(3) << 20, 4096, true) + "\xC3\xA7\n" << 65536 << 0 << true;
}

void TestTextInput::mappedFile()
{
    // Bytes before the read position: CRLF lines, which must not count.
    const auto before = [](int size) {
        QByteArray b;
        while (b.size() < size)
            b += "xx\r\n";
        return b.left(size);
    };
    // A large file is read through a mapping; the lines must be exactly those
    // read from memory, whatever falls on the window edges.
    QFETCH(QByteArray, data);
    QFETCH(int, block);
    QFETCH(int, offset);
    QFETCH(bool, mapped);
    QTemporaryDir dir;
    const QString path = dir.filePath("in.txt");
    test::writeFile(path, before(offset) + data);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QCOMPARE(::lseek(fd, offset, SEEK_SET), off_t(offset));
    FdSource file(fd, path.toStdString(), JobControl{}, true, ReadMethod::Map);
    bool usedMapping = false;
    const ReadResult fromFile = readFrom(file, Encoding::Auto, std::size_t(block), &usedMapping);
    const ReadResult fromMemory = readAll(data, Encoding::Auto, std::size_t(block), std::size_t(block));
    QCOMPARE(usedMapping, mapped);
    // Read the default way, with read(), the file reads the same.
    const int fd2 = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd2 >= 0);
    QCOMPARE(::lseek(fd2, offset, SEEK_SET), off_t(offset));
    FdSource copied(fd2, path.toStdString(), JobControl{}, true, ReadMethod::Read);
    bool copiedMapped = true;
    const ReadResult fromCopies = readFrom(copied, Encoding::Auto, std::size_t(block), &copiedMapped);
    QVERIFY(!copiedMapped);
    QCOMPARE(fromCopies.lines, fromMemory.lines);
    QCOMPARE(fromCopies.mode, fromMemory.mode);
    QCOMPARE(fromCopies.lineEnd, fromMemory.lineEnd);
    QCOMPARE(fromCopies.total, std::uint64_t(data.size()));
    QCOMPARE(fromFile.lines.size(), fromMemory.lines.size());
    QCOMPARE(fromFile.lines, fromMemory.lines);
    QCOMPARE(fromFile.mode, fromMemory.mode);
    QCOMPARE(fromFile.settled, fromMemory.settled);
    QCOMPARE(fromFile.lineEnd, fromMemory.lineEnd);
    QCOMPARE(fromFile.total, std::uint64_t(data.size()));
    QVERIFY(fromFile.largestSegment <= std::size_t(block));
    QVERIFY(fromFile.segmentsOnCharBoundaries);

    // The same bytes through a pipe read the same.
    int ends[2];
    QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
    std::thread writer([&] {
        for (qsizetype at = 0; at < data.size();) {
            const ssize_t put = ::write(ends[1], data.constData() + at, std::size_t(data.size() - at));
            if (put <= 0)
                break;
            at += put;
        }
        ::close(ends[1]);
    });
    FdSource pipe(ends[0], "pipe", JobControl{});
    const ReadResult fromPipe = readFrom(pipe, Encoding::Auto, std::size_t(block));
    writer.join();
    QVERIFY(fromPipe.lines == fromMemory.lines);
    QCOMPARE(fromPipe.mode, fromMemory.mode);
    QCOMPARE(fromPipe.lineEnd, fromMemory.lineEnd);
}

std::uint64_t residentBytes()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toULongLong() * std::uint64_t(sysconf(_SC_PAGESIZE)) : 0;
}

void TestTextInput::mappedFileHeldLittle()
{
    // However large the file, only a few megabytes of it are resident at any
    // time while it is read through a mapping.
    const std::size_t size = std::size_t{96} << 20;
    QByteArray data;
    data.reserve(qsizetype(size));
    while (std::size_t(data.size()) < size)
        data += "a line of forty characters, give or take\n";
    QTemporaryDir dir;
    const QString path = dir.filePath("big.txt");
    test::writeFile(path, data);
    const auto fileSize = std::uint64_t(data.size());
    data.clear();
    data.squeeze();

    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    FdSource file(fd, path.toStdString(), JobControl{}, true, ReadMethod::Map);
    const std::uint64_t before = residentBytes();
    QVERIFY(before > 0);
    std::uint64_t most = before;
    JobControl control;
    control.progress = [&](std::uint64_t, std::uint64_t) { most = std::max(most, residentBytes()); };
    TextInput in(file, Encoding::Auto, control);
    in.start();
    Segment seg;
    std::size_t lines = 0;
    while (in.next(seg))
        lines += seg.endsLine;
    QVERIFY(in.usedMapping());
    QCOMPARE(in.bytesRead(), fileSize);
    QCOMPARE(std::uint64_t(lines), fileSize / 41);
    QVERIFY2(most - before < (std::uint64_t{24} << 20), qPrintable(QString::number(most - before)));
}

QTEST_APPLESS_MAIN(TestTextInput)
#include "tst_text_input.moc"
