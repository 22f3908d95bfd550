#include <QTest>

#include "test_files.h"

using namespace fwprep;

class TestJoin : public QObject {
    Q_OBJECT
private slots:
    void join_data();
    void join();
    void lineStructure_data();
    void lineStructure();
};

void TestJoin::join_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("expected");

    const int autoEnc = int(Encoding::Auto), utf8 = int(Encoding::Utf8);
    const QByteArray example("42\napple\n7\n\nhello\n");

    QTest::newRow("worked example") << example << 3 << 4 << autoEnc << QByteArray("  42appl   7\n    hell\n");
    QTest::newRow("worked example plus a sixth line: no empty record")
        << example + "xyz\n" << 3 << 4 << autoEnc << QByteArray("  42appl   7\n    hell xyz\n");
    QTest::newRow("n 1 gives no trailing empty record") << QByteArray("ab\nabcd\n") << 1 << 3 << autoEnc
                                                        << QByteArray(" ab\nabc\n");
    QTest::newRow("n 0 puts all on one line") << QByteArray("a\nb\nc\n") << 0 << 2 << autoEnc
                                              << QByteArray(" a b c\n");
    QTest::newRow("n -32768 puts all on one line") << QByteArray("a\nb\n") << -32768 << 2 << autoEnc
                                                   << QByteArray(" a b\n");
    QTest::newRow("n above the line count") << QByteArray("a\nb\n") << 5 << 1 << autoEnc << QByteArray("ab\n");
    QTest::newRow("empty input") << QByteArray() << 3 << 4 << autoEnc << QByteArray();
    QTest::newRow("empty input, n 0") << QByteArray() << 0 << 4 << autoEnc << QByteArray();
    QTest::newRow("k 0, five lines, n 2: three empty lines") << QByteArray("a\nb\nc\nd\ne\n") << 2 << 0 << autoEnc
                                                             << QByteArray("\n\n\n");
    QTest::newRow("k 0, n 0: one empty line") << QByteArray("a\nb\n") << 0 << 0 << autoEnc << QByteArray("\n");
    QTest::newRow("empty line becomes k spaces") << QByteArray("\n") << 1 << 3 << autoEnc << QByteArray("   \n");
    QTest::newRow("spaces in the line count and stay") << QByteArray(" a \n") << 1 << 4 << autoEnc
                                                       << QByteArray("  a \n");
    QTest::newRow("line of exactly k unchanged") << QByteArray("abcd\n") << 1 << 4 << autoEnc << QByteArray("abcd\n");
    QTest::newRow("last line without line end") << QByteArray("a\nb") << 2 << 2 << autoEnc << QByteArray(" a b\n");
    QTest::newRow("CRLF in gives CRLF out") << QByteArray("a\r\nb\r\nc\r\n") << 2 << 2 << autoEnc
                                             << QByteArray(" a b\r\n c\r\n");
    QTest::newRow("UTF-8 cut and filled by letters")
        << QByteArray("\xC3\xA7\n\xC3\xA7\x61\xC4\x9F\x72\xC4\xB1\n") << 2 << 3 << autoEnc
        << QByteArray("  \xC3\xA7\xC3\xA7\x61\xC4\x9F\n");
    QTest::newRow("Windows-1254 cut and filled by bytes") << QByteArray("\xE7\n\xE7\xF0\xFD\xFD\n") << 2 << 3
                                                          << autoEnc << QByteArray("  \xE7\xE7\xF0\xFD\n");
    QTest::newRow("UTF-8 forced: invalid byte is one letter") << QByteArray("\xFF\n") << 1 << 2 << utf8
                                                              << QByteArray(" \xFF\n");
    QTest::newRow("BOM goes before the first line") << QByteArray("\xEF\xBB\xBF" "a\n") << 1 << 2 << autoEnc
                                                    << QByteArray("\xEF\xBB\xBF a\n");
    QTest::newRow("BOM with k 0") << QByteArray("\xEF\xBB\xBF" "a\n") << 1 << 0 << autoEnc
                                  << QByteArray("\xEF\xBB\xBF\n");
    // Under -e auto the 64 KiB from the first byte above 0x7F decide, however
    // far in it comes, also in the middle of a line that comes in pieces.
    const std::string record1254 = "\xDE\xDD\xDE" "L\xDD\x92" "DE OF\xDD" "S\n";
    QByteArray columns;
    for (int i = 0; i < 1125; ++i)
        columns += "aaaaaaaaa\n";
    QTest::newRow("1254 after 70 KB of ASCII is single-byte")
        << QByteArray::fromStdString(test::asciiThen(72000, record1254)) << 1 << 9 << autoEnc
        << columns + "\xDE\xDD\xDE" "L\xDD\x92" "DE \n";
    QTest::newRow("1254 after ASCII in the same line") << QByteArray("abcdefghij\xDE\xDD\x92zzz\n") << 1 << 14
                                                       << autoEnc << QByteArray("abcdefghij\xDE\xDD\x92z\n");
    QTest::newRow("UTF-8 after ASCII in the same line") << QByteArray("abcdefghij\xC3\xA7\xDD\x92zzz\n") << 1 << 14
                                                        << autoEnc << QByteArray("abcdefghij\xC3\xA7\xDD\x92zz\n");
    QTest::newRow("column wider than the block, short line")
        << QByteArray(50, 'x') + "\n" << 1 << 100 << autoEnc << QByteArray(50, ' ') + QByteArray(50, 'x') + "\n";
    QTest::newRow("column wider than the block, long line")
        << QByteArray(300, 'y') + "\nz\n" << 1 << 100 << autoEnc
        << QByteArray(100, 'y') + "\n" + QByteArray(99, ' ') + "z\n";
}

void TestJoin::join()
{
    QFETCH(QByteArray, input);
    QFETCH(int, count);
    QFETCH(int, width);
    QFETCH(int, encoding);
    QFETCH(QByteArray, expected);
    const JobParams params{JobKind::Join, count, width, Encoding(encoding), LineEndChoice::Auto};
    for (const auto& f : test::framings()) {
        const std::string out = test::transformBytes(input.toStdString(), params, f.block, f.chunk);
        QCOMPARE(QByteArray::fromStdString(out), expected);
    }
}

void TestJoin::lineStructure_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("count");
    for (const int L : {1, 6, 7})
        for (const int n : {-32768, -1, 0, 1, 2, 3, 6, 7, 8, 32767})
            QTest::addRow("L=%d n=%d", L, n) << L << n;
}

void TestJoin::lineStructure()
{
    // n >= 1: floor(L/n) lines of n*k characters, then one of (L mod n)*k if
    // L mod n > 0. n <= 0: one line of L*k characters.
    QFETCH(int, lines);
    QFETCH(int, count);
    const int k = 3;
    std::string input;
    for (int i = 0; i < lines; ++i)
        input += std::string(std::size_t(i), 'v') + "\n";
    const std::string out = test::transformBytes(input, {JobKind::Join, count, k}, 4096, 5);

    QList<int> expected;
    if (count >= 1) {
        for (int i = 0; i < lines / count; ++i)
            expected << count * k;
        if (lines % count)
            expected << (lines % count) * k;
    } else {
        expected << lines * k;
    }
    QList<int> actual;
    for (const QByteArray& line : QByteArray::fromStdString(out).split('\n'))
        actual << int(line.size());
    QCOMPARE(actual.takeLast(), 0); // the text ends with a line end
    QCOMPARE(actual, expected);
}

QTEST_APPLESS_MAIN(TestJoin)
#include "tst_join.moc"
