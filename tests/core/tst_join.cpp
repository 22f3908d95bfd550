#include <QTest>

#include <iterator>
#include <random>

#include "test_files.h"

using namespace fwprep;

class TestJoin : public QObject {
    Q_OBJECT
private slots:
    void join_data();
    void join();
    void lineStructure_data();
    void lineStructure();
    void records_data();
    void records();
    void badCsv_data();
    void badCsv();
    void quickPathsMatchGeneral_data();
    void quickPathsMatchGeneral();
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
        const std::string out = test::transformBytes(input.toStdString(), params, f.block, f.chunk, true, nullptr, f.threadChunk);
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
    QList<int> expected;
    if (count >= 1) {
        for (int i = 0; i < lines / count; ++i)
            expected << count * k;
        if (lines % count)
            expected << (lines % count) * k;
    } else {
        expected << lines * k;
    }
    // On one thread, and on two with records across chunk edges.
    for (const std::size_t threadChunk : {0, 1, 4}) {
        const std::string out = test::transformBytes(input, {JobKind::Join, count, k}, 4096, 5, true, nullptr, threadChunk);
        QList<int> actual;
        for (const QByteArray& line : QByteArray::fromStdString(out).split('\n'))
            actual << int(line.size());
        QCOMPARE(actual.takeLast(), 0); // the text ends with a line end
        QCOMPARE(actual, expected);
    }
}

void TestJoin::records_data()
{
    // A layout ("" : one width of 2 and `count` 0: every field is a column),
    // its alignment and fill, and the input read as lines or as CSV with a
    // delimiter; what is written, then values cut and fields left out, each
    // with the line of the first.
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("widths");
    QTest::addColumn<QString>("align");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<QString>("csv");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QList<int>>("loss"); // cut, first cut, left out, first left out

    const QList<int> none{0, 0, 0, 0};
    QTest::newRow("lines: l/r mix, fills, cut") << QByteArray("ab\n7\nabcd\nx\n") << "3,2" << "lr" << "_0" << ""
                                                << false << QByteArray("ab_07\nabc0x\n") << QList<int>{1, 3, 0, 0};
    QTest::newRow("lines: columns alike, left, zero fill, CRLF")
        << QByteArray("ab\r\ncdef\r\ng\r\nhi\r\nj\r\nklmn\r\no\r\np\r\nq\r\n") << "3,3" << "l" << "0" << ""
        << false << QByteArray("ab0cde\r\ng00hi0\r\nj00klm\r\no00p00\r\nq00\r\n") << QList<int>{2, 2, 0, 0};
    QTest::newRow("lines: 0-width column") << QByteArray("a\nb\nc\n") << "1,0,1" << "r" << " " << "" << false
                                           << QByteArray("ac\n") << QList<int>{1, 2, 0, 0};
    QTest::newRow("lines, n x k: cuts counted from the second line") << QByteArray("a\nabc\nb\nxyz\n") << "2x2" << "r"
                                                                     << " " << "" << false << QByteArray(" aab\n bxy\n")
                                                                     << QList<int>{2, 2, 0, 0};
    QTest::newRow("lines, n x k: UTF-8 letters cut") << QByteArray("\xC3\xA7\n\xC3\xA7\x61\xC4\x9F\n") << "2x2" << "r"
                                                     << " " << "" << false << QByteArray(" \xC3\xA7\xC3\xA7\x61\n")
                                                     << QList<int>{1, 2, 0, 0};
    QTest::newRow("csv: fields to columns") << QByteArray("a,b\nccc,dd\n") << "2,2" << "r" << " " << "," << false
                                            << QByteArray(" a b\nccdd\n") << QList<int>{1, 2, 0, 0};
    QTest::newRow("csv: quoted delimiter") << QByteArray("\"a,b\",c\n") << "3,1" << "r" << " " << "," << false
                                           << QByteArray("a,bc\n") << none;
    QTest::newRow("csv: doubled quote") << QByteArray("\"a\"\"b\",c\n") << "3,1" << "r" << " " << "," << false
                                        << QByteArray("a\"bc\n") << none;
    QTest::newRow("csv: quote inside an unquoted field") << QByteArray("a\"b,c\"\n") << "3,2" << "r" << " " << ","
                                                         << false << QByteArray("a\"bc\"\n") << none;
    QTest::newRow("csv: text after a closing quote") << QByteArray("\"ab\"c,d\n") << "3,1" << "r" << " " << ","
                                                     << false << QByteArray("abcd\n") << none;
    QTest::newRow("csv: quoted CR and empty quoted field") << QByteArray("\"a\rb\",\"\"\n") << "3,1" << "r" << "-"
                                                           << "," << false << QByteArray("a\rb-\n") << none;
    QTest::newRow("csv: missing fields are fill") << QByteArray("a\n\n") << "2,3" << "lr" << " 0" << "," << false
                                                  << QByteArray("a 000\n  000\n") << none;
    QTest::newRow("csv: extra fields left out") << QByteArray("a,b\na,b,c,d\nx,y,z\n") << "1,1" << "r" << " " << ","
                                                << false << QByteArray("ab\nab\nxy\n") << QList<int>{0, 0, 3, 2};
    QTest::newRow("csv: header is not joined") << QByteArray("name,amount\nab,7\n") << "3,3" << "lr" << " 0" << ","
                                               << true << QByteArray("ab 007\n") << none;
    QTest::newRow("csv: semicolon") << QByteArray("1,5;\"x;y\"\n") << "3,3" << "r" << " " << ";" << false
                                    << QByteArray("1,5x;y\n") << none;
    QTest::newRow("csv: CRLF in and out") << QByteArray("a,b\r\nc,d\r\n") << "1,1" << "r" << " " << "," << false
                                          << QByteArray("ab\r\ncd\r\n") << none;
    QTest::newRow("csv: UTF-8 letters") << QByteArray("\xC3\xA7,\xC4\x9F\xC4\x9F\xC4\x9F\n") << "2,2" << "r" << " "
                                        << "," << false << QByteArray(" \xC3\xA7\xC4\x9F\xC4\x9F\n")
                                        << QList<int>{1, 1, 0, 0};
    QTest::newRow("csv: letters of two bytes, fill by characters") << QByteArray("\xC5\x9F,\xC4\x9F\xC3\xBC\n")
                                                                << "3,3" << "rl" << "." << "," << false
                                                                << QByteArray("..\xC5\x9F\xC4\x9F\xC3\xBC.\n") << none;
    QTest::newRow("csv: letters of two bytes cut, delimiter quoted")
        << QByteArray("\"\xC3\xA7\xC4\x9F,\xC5\x9F\",\xC4\x9F\xC4\x9F\xC4\x9F\xC4\x9F\n") << "2,3" << "r" << " "
        << "," << false << QByteArray("\xC3\xA7\xC4\x9F\xC4\x9F\xC4\x9F\xC4\x9F\n") << QList<int>{2, 1, 0, 0};
    QTest::newRow("csv: every field a column") << QByteArray("a,b,c\nd\n") << "" << "r" << " " << "," << false
                                               << QByteArray(" a b c\n d\n") << none;
    QTest::newRow("csv: quoted field across 32-byte chunks, 32-wide columns")
        << "\"" + QByteArray(32, 'x') + "\"," + QByteArray(31, 'y') + ",\"z\"\n" << "32,32,1" << "r" << " " << ","
        << false << QByteArray(32, 'x') + " " + QByteArray(31, 'y') + "z\n" << none;
    QTest::newRow("csv: trailing delimiter, quoted last field") << QByteArray("a,\n\"b\"\n,\"c\"\n\"\",\n") << "1,1"
                                                              << "l" << "." << "," << false
                                                              << QByteArray("a.\nb.\n.c\n..\n") << none;
    // Fields that end, and quotes that close, on either side of a record's 64th byte.
    const QByteArray a31(31, 'a'), b31(31, 'b');
    QTest::newRow("csv: records of 63, 64 and 65 bytes")
        << a31 + "," + b31 + "\n" + a31 + "," + b31 + "b\n" + a31 + "," + b31 + ",c\n" << "31,32,1" << "r" << "."
        << "," << false << a31 + "." + b31 + ".\n" + a31 + b31 + "b.\n" + a31 + "." + b31 + "c\n" << none;
    QTest::newRow("csv: quotes closing at the 63rd and 64th bytes")
        << "\"" + QByteArray(62, 'q') + "\",z\n" + QByteArray(60, 'x') + ",\"y\"\n" << "62,1" << "r" << "." << ","
        << false << QByteArray(62, 'q') + "z\n.." + QByteArray(60, 'x') + "y\n" << none;
    QTest::newRow("csv: a record longer than 512 bytes")
        << QByteArray(600, 'x') + ",\"y\",z\n" << "3,1" << "r" << " " << "," << false << QByteArray("xxxy\n")
        << QList<int>{1, 1, 1, 1};
    QTest::newRow("csv: quoted field wider than the block")
        << "\"" + QByteArray(300, 'x') + "\"\"\",b\n" << "5,1" << "r" << " " << "," << false
        << QByteArray("xxxxxb\n") << QList<int>{1, 1, 0, 0};
    // Filler lines put the quoted field across the 1 MiB block edge.
    QByteArray filler;
    while (filler.size() < (1 << 20) - 40)
        filler += "f,f\n";
    QTest::newRow("csv: quoted field across the 1 MiB block edge")
        << filler + "\"" + QByteArray(80, 'q') + "\",\"z\"\n" << "1,1" << "r" << " " << "," << false
        << QByteArray(filler).replace(",", "") + "qz\n" << QList<int>{1, int(filler.count('\n')) + 1, 0, 0};
}

void TestJoin::records()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, widths);
    QFETCH(QString, align);
    QFETCH(QString, fill);
    QFETCH(QString, csv);
    QFETCH(bool, header);
    QFETCH(QByteArray, expected);
    QFETCH(QList<int>, loss);
    JobParams params;
    if (widths.isEmpty())
        params = JobParams{JobKind::Join, 0, 2};
    else
        params = test::layoutParams(JobKind::Join, widths.toStdString(), align.toStdString(), fill.toStdString());
    if (!csv.isEmpty()) {
        params.format = RecordFormat::Csv;
        params.delimiter = csv.toStdString()[0];
    }
    params.header = header;
    const auto framings = input.size() > 100000 ? std::vector<test::Framing>{{4096, 1000}, {std::size_t{1} << 20, SIZE_MAX}}
                                                : test::framings();
    for (const auto& f : framings) {
        JobStats stats;
        const std::string out = test::transformBytes(input.toStdString(), params, f.block, f.chunk, true, &stats, f.threadChunk);
        QCOMPARE(QByteArray::fromStdString(out), expected);
        QCOMPARE((QList<int>{int(stats.cut), int(stats.firstCut), int(stats.leftOut), int(stats.firstLeftOut)}), loss);
        if (loss != QList<int>{0, 0, 0, 0}) {
            // Under the strict rule the first loss fails the job at its line.
            JobParams strict = params;
            strict.strict = true;
            const int first = loss[0] > 0 && (loss[2] == 0 || loss[1] <= loss[3]) ? loss[1] : loss[3];
            QCOMPARE(test::failingLine(input.toStdString(), strict, f.block, f.chunk, nullptr, f.threadChunk),
                std::uint64_t(first));
        }
    }
}

void TestJoin::badCsv_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("message");
    QTest::newRow("unclosed quote at the end") << QByteArray("a,b\nc,\"d") << 2 << "never closed";
    QTest::newRow("unclosed quote, more lines after") << QByteArray("a\n\"b,c\nd\ne\n") << 2 << "never closed";
    QTest::newRow("quoted line end") << QByteArray("a\nb,\"c\nd\",e\n") << 2 << "holds a line end";
    QTest::newRow("quoted line end, closed at a line's end") << QByteArray("\"a\nb\"\nc\n") << 1 << "holds a line end";
    QTest::newRow("quoted CRLF") << QByteArray("x\r\n\"a\r\n\"\r\n") << 2 << "holds a line end";
    QTest::newRow("doubled quotes do not close") << QByteArray("\"a\n\"\"\n") << 1 << "never closed";
    // UTF-8 settled at the start; a byte further on that is not UTF-8 does
    // not change how the letters before the quote are counted.
    // On threads of 4 KiB chunks the quoted field goes on past a chunk's end.
    std::string tail = "\xC5\x9F\xFE\xFF\xFF\xFF,\xC5\x9F\n\"a\n";
    for (int i = 0; i < 20; ++i)
        tail += "b\n";
    QTest::newRow("quoted line end after 72 KB, ASCII")
        << QByteArray::fromStdString(test::asciiThen(73700, "\"a\nb\",c\n" + test::asciiThen(200, ""))) << 1153 << "holds a line end";
    QTest::newRow("quoted line end after 72 KB, UTF-8")
        << QByteArray::fromStdString("\xC5\x9F\n" + test::asciiThen(73700, tail + "\",c\n")) << 1155 << "holds a line end";
}

void TestJoin::badCsv()
{
    QFETCH(QByteArray, input);
    QFETCH(int, line);
    QFETCH(QString, message);
    JobParams params = test::layoutParams(JobKind::Join, "2,2", "r", " ");
    params.format = RecordFormat::Csv;
    // What goes out before the failure is the same in every framing too.
    std::string before;
    test::failingLine(input.toStdString(), params, std::size_t{1} << 20, SIZE_MAX, nullptr, 0, &before);
    const auto framings = input.size() > 10000 ? std::vector<test::Framing>{{4096, 1000, 7}, {64, 33, 4096}}
                                               : test::framings();
    for (const auto& f : framings) {
        std::string what;
        std::string out;
        QCOMPARE(test::failingLine(input.toStdString(), params, f.block, f.chunk, &what, f.threadChunk, &out),
            std::uint64_t(line));
        QVERIFY2(QString::fromStdString(what).contains(message), what.c_str());
        QCOMPARE(QByteArray::fromStdString(out), QByteArray::fromStdString(before));
    }
}

void TestJoin::quickPathsMatchGeneral_data()
{
    // Layouts of narrow columns take quick paths (records found and fitted
    // with byte masks and fixed-size moves) when the output block has room for
    // a whole record, which a 64-byte block has not: the same random records
    // through both must give the same bytes, losses and failing line.
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("widths");
    QTest::addColumn<QString>("align");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<bool>("csv");
    QTest::addColumn<bool>("trim");
    QTest::addColumn<QString>("text"); // "all", "plain", "ascii": see below
    const int split = int(JobKind::Split), join = int(JobKind::Join);
    QTest::newRow("join from csv") << join << "20,10,12" << "lrl" << " 0 " << true << false << "all";
    QTest::newRow("join from csv, 32 and 0 wide") << join << "32,1,0,5" << "rlrl" << ",\" 0" << true << false << "all";
    // Blocks of such records are parsed whole, 64 bytes at a time.
    QTest::newRow("join from csv, plain") << join << "20,10,12" << "lrl" << " 0 " << true << false << "plain";
    QTest::newRow("join from csv, ascii") << join << "20,10,12" << "lrl" << " 0 " << true << false << "ascii";
    QTest::newRow("join from csv, ascii, 32 and 0 wide") << join << "32,1,0,5" << "rlrl" << ",\" 0" << true << false
                                                         << "ascii";
    QTest::newRow("split to csv, trimmed") << split << "20,10,12" << "lrl" << " 0 " << true << true << "all";
    QTest::newRow("split to csv, fill is delimiter and quote") << split << "32,3,7" << "rlr" << ",\"a" << true << true
                                                               << "all";
    QTest::newRow("split to csv, kept fill") << split << "31,2,9" << "lrl" << "  ," << true << false << "all";
    QTest::newRow("split, narrow columns") << split << "20,10,32,1" << "r" << " " << false << false << "all";
}

void TestJoin::quickPathsMatchGeneral()
{
    QFETCH(int, kind);
    QFETCH(QString, widths);
    QFETCH(QString, align);
    QFETCH(QString, fill);
    QFETCH(bool, csv);
    QFETCH(bool, trim);
    QFETCH(QString, text);
    JobParams params = test::layoutParams(JobKind(kind), widths.toStdString(), align.toStdString(), fill.toStdString());
    params.format = csv ? RecordFormat::Csv : RecordFormat::Lines;
    params.trim = trim;

    // Records of delimiters, quotes, fill, CR, letters of two and three bytes
    // and bytes that are not UTF-8 (a lead alone, a continuation alone), most
    // short, some about the 512 bytes a quick record may have. CSV records are
    // well formed: their fields plain, quoted, or with text after the quotes.
    // The bytes that are not UTF-8 make the encoding detected one byte a
    // character; the job is also run with UTF-8 told.
    static const char* const kText[] = {"a", "bc", " ", "0", "\xC5\x9F", "\r", ";", "'", "\xC5\x9F\xC4\xB1",
        "\xE2\x82\xAC", "\xC3", "\x80"};
    static const char* const kQuoted[] = {",", "\"\"", "xyz,"};
    // Plain text: no CR but in a few line ends, fewer fields and quotes, so
    // that most chunks of 64 bytes hold whole records; ASCII: plain without
    // bytes above 0x7F.
    const bool plain = text != "all";
    std::vector<std::string> pieces;
    for (const std::string t : kText) {
        if (!(plain && t == "\r") && !(text == "ascii" && static_cast<unsigned char>(t[0]) > 0x7F))
            pieces.push_back(t);
    }
    std::mt19937 random(7);
    const auto piece = [&] { return pieces[random() % pieces.size()]; };
    const auto value = [&](std::size_t size, bool quoted) {
        std::string t;
        while (t.size() < size)
            t += quoted && random() % 3 == 0 ? kQuoted[random() % std::size(kQuoted)] : piece();
        return t;
    };
    std::string input;
    for (int line = 0; line < 3000; ++line) {
        const bool longOne = random() % 10 == 0;
        std::string record;
        if (!csv || JobKind(kind) == JobKind::Split) {
            record = value(longOne ? 480 + random() % 60 : random() % 70, true);
        } else {
            for (std::size_t i = 0, fields = 1 + random() % (plain ? 4 : 6); i < fields; ++i) {
                const std::size_t size = longOne ? random() % 120 : random() % 14;
                const unsigned how = random() % (plain ? 24 : 5);
                record += i > 0 ? "," : "";
                record += how == 0 ? "\"" + value(size, true) + "\""
                    : how == 1     ? "\"q\"" + value(size, false)
                    : how == 2     ? "x" + value(size / 2, false) + "\"" + value(size / 2, false) // an ordinary quote
                                   : value(size, false);
            }
        }
        input += record + (random() % (plain ? 50 : 4) == 0 ? "\r\n" : "\n");
    }
    // Blocks are parsed 64 bytes at a time from the second line on: a quote
    // at the first byte of a chunk inside an unquoted field, and a closing
    // quote at the last byte of a chunk with text after it, are ordinary and
    // turn the chunk down.
    std::vector<std::string> inputs{input};
    if (plain) {
        const std::string x(57, 'x');
        std::string after;
        for (int i = 0; i < 16; ++i)
            after += "p,q\n";
        inputs.push_back("a\n" + x + ",yyyyyy\"z,z\",b\n" + after + input);
        inputs.push_back("a\n" + x + ",\"yyyy\"z,b\n" + after + input);
    }
    if (plain && csv && JobKind(kind) == JobKind::Join) {
        // Doubled quotes at every place in a chunk and across its edge, in
        // values from empty to 70 bytes (64 or more go the other ways).
        std::string pairs;
        for (int line = 0; line < 3000; ++line) {
            std::string v;
            for (const std::size_t size = random() % 71; v.size() < size;)
                v += random() % 4 == 0 ? "\"\"" : random() % 2 == 0 ? "a" : "b";
            pairs += std::string(random() % 9, 'y') + ",\"" + v + "\"," + std::string(random() % 3, 'z') + "\n";
        }
        inputs.push_back(pairs);
    }
    for (const std::string& input : inputs)
    for (const auto& [strict, encoding] : {std::pair{false, Encoding::Auto}, {true, Encoding::Auto},
             {false, Encoding::Utf8}, {true, Encoding::Utf8}}) {
        params.strict = strict;
        params.encoding = encoding;
        JobStats quick, general;
        std::string quickOut, generalOut;
        std::uint64_t quickFail = 0, generalFail = 0;
        try {
            quickOut = test::transformBytes(input, params, std::size_t{1} << 20, SIZE_MAX, true, &quick);
        } catch (const DataError& e) {
            quickFail = e.line;
        }
        try {
            generalOut = test::transformBytes(input, params, 64, SIZE_MAX, true, &general);
        } catch (const DataError& e) {
            generalFail = e.line;
        }
        QCOMPARE(quickFail, generalFail);
        QCOMPARE(QByteArray::fromStdString(quickOut), QByteArray::fromStdString(generalOut));
        QCOMPARE((QList<quint64>{quick.cut, quick.firstCut, quick.leftOut, quick.firstLeftOut, quick.linesWritten}),
            (QList<quint64>{general.cut, general.firstCut, general.leftOut, general.firstLeftOut,
                general.linesWritten}));
    }
}

QTEST_APPLESS_MAIN(TestJoin)
#include "tst_join.moc"
