#include <QTest>

#include "test_files.h"

using namespace fwprep;

namespace {
std::string repeatLine(const std::string& line, int times)
{
    std::string s;
    for (int i = 0; i < times; ++i)
        s += line;
    return s;
}
} // namespace

class TestSplit : public QObject {
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void outputLineCount_data();
    void outputLineCount();
    void layout_data();
    void layout();
    void roundTrip_data();
    void roundTrip();
};

void TestSplit::split_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<int>("eol");
    QTest::addColumn<QByteArray>("expected");

    const int autoEnc = int(Encoding::Auto), utf8 = int(Encoding::Utf8), bytes = int(Encoding::Bytes);
    const int autoEol = int(LineEndChoice::Auto), crlf = int(LineEndChoice::CrLf), lf = int(LineEndChoice::Lf);
    const QByteArray example("abcde\nabcdefgh\na\n\n");

    QTest::newRow("worked example n3 k2") << example << 3 << 2 << autoEnc << autoEol
                                          << QByteArray("ab\ncd\ne\nab\ncd\nef\na\n\n\n\n\n\n");
    QTest::newRow("worked example, k 0") << example << 3 << 0 << autoEnc << autoEol << QByteArray(12, '\n');
    QTest::newRow("worked example, n 0") << example << 0 << 2 << autoEnc << autoEol << QByteArray();
    QTest::newRow("n negative") << example << -5 << 2 << autoEnc << autoEol << QByteArray();
    QTest::newRow("n -32768 is no error") << example << -32768 << 2 << autoEnc << autoEol << QByteArray();
    QTest::newRow("empty input") << QByteArray() << 3 << 2 << autoEnc << autoEol << QByteArray();
    QTest::newRow("last line without line end") << QByteArray("abc\nxyz") << 2 << 2 << autoEnc << autoEol
                                                << QByteArray("ab\nc\nxy\nz\n");
    QTest::newRow("line end at the end adds no record") << QByteArray("abc\n") << 1 << 5 << autoEnc << autoEol
                                                        << QByteArray("abc\n");
    QTest::newRow("n1 k1 on empty line") << QByteArray("\n") << 1 << 1 << autoEnc << autoEol << QByteArray("\n");
    QTest::newRow("CRLF in gives CRLF out") << QByteArray("abcd\r\nef\r\n") << 2 << 2 << autoEnc << autoEol
                                             << QByteArray("ab\r\ncd\r\nef\r\n\r\n");
    QTest::newRow("lone CR is cut like a letter") << QByteArray("a\rb\n") << 3 << 1 << autoEnc << autoEol
                                                  << QByteArray("a\n\r\nb\n");
    QTest::newRow("forced CRLF") << QByteArray("ab\n") << 2 << 1 << autoEnc << crlf << QByteArray("a\r\nb\r\n");
    QTest::newRow("forced LF on CRLF input") << QByteArray("ab\r\n") << 2 << 1 << autoEnc << lf << QByteArray("a\nb\n");
    QTest::newRow("characters past n*k are dropped") << QByteArray("0123456789\n") << 2 << 3 << autoEnc << autoEol
                                                     << QByteArray("012\n345\n");
    QTest::newRow("NUL is a character") << QByteArray("a\0bc\n", 5) << 2 << 2 << autoEnc << autoEol
                                        << QByteArray("a\0\nbc\n", 6);
    QTest::newRow("UTF-8 Turkish cut on letters") << QByteArray("\xC3\xA7\x61\xC4\x9F\x72\xC4\xB1\n") << 2 << 3
                                                  << autoEnc << autoEol
                                                  << QByteArray("\xC3\xA7\x61\xC4\x9F\n\x72\xC4\xB1\n");
    QTest::newRow("accented text cut to four") << QByteArray("caf\xC3\xA9s\n") << 1 << 4 << autoEnc << autoEol
                                               << QByteArray("caf\xC3\xA9\n");
    QTest::newRow("Windows-1254 one byte per letter") << QByteArray("\xE7\x61\xF0\x72\xFD\n") << 2 << 3 << autoEnc
                                                      << autoEol << QByteArray("\xE7\x61\xF0\n\x72\xFD\n");
    QTest::newRow("UTF-8 forced: invalid bytes count one each")
        << QByteArray("a\xF0\x9F\x98\x80" "b\xFF" "c\xE2\x82\n") << 3 << 2 << utf8 << autoEol
        << QByteArray("a\xF0\x9F\x98\x80\nb\xFF\nc\xE2\n");
    QTest::newRow("bytes forced on UTF-8") << QByteArray("\xC3\xA7z\n") << 2 << 1 << bytes << autoEol
                                           << QByteArray("\xC3\n\xA7\n");
    QTest::newRow("BOM goes before the first line") << QByteArray("\xEF\xBB\xBF" "abc\n") << 2 << 2 << autoEnc
                                                    << autoEol << QByteArray("\xEF\xBB\xBF" "ab\nc\n");
    QTest::newRow("BOM with no output lines stays empty") << QByteArray("\xEF\xBB\xBF" "abc\n") << 0 << 2 << autoEnc
                                                          << autoEol << QByteArray();
    QTest::newRow("BOM alone, no lines") << QByteArray("\xEF\xBB\xBF") << 3 << 2 << autoEnc << autoEol << QByteArray();
    QTest::newRow("largest n and k") << QByteArray("abc\n") << 32767 << 32767 << autoEnc << autoEol
                                     << QByteArray("abc\n") + QByteArray(32766, '\n');
    // Under -e auto the 64 KiB from the first byte above 0x7F decide, however
    // far in it comes, also in the middle of a line that comes in pieces.
    const std::string record1254 = "00002 \xDE\xDD\xDE" "L\xDD\x92" "DE OF\xDD" "S  0000107\n";
    QTest::newRow("1254 after 70 KB of ASCII is single-byte")
        << QByteArray::fromStdString(test::asciiThen(72000, record1254)) << 3 << 9 << autoEnc << autoEol
        << QByteArray::fromStdString(repeatLine(repeatLine(std::string(9, 'a') + "\n", 3), 1125)
               + "00002 \xDE\xDD\xDE\nL\xDD\x92" "DE OF\xDD\nS  000010\n");
    QTest::newRow("UTF-8 with a stray byte stays UTF-8")
        << QByteArray("\xC3\xA7\x61\xC4\x9F\x72\xC4\xB1\n\xC3\xA7\x61\xC4\x9F\xFE\x72\xC4\xB1\n") << 2 << 3 << autoEnc
        << autoEol << QByteArray("\xC3\xA7\x61\xC4\x9F\n\x72\xC4\xB1\n\xC3\xA7\x61\xC4\x9F\n\xFE\x72\xC4\xB1\n");
    QTest::newRow("1254 after ASCII in the same line") << QByteArray("abcdefghij\xDE\xDD\x92zzz\n") << 3 << 5 << autoEnc
                                                       << autoEol << QByteArray("abcde\nfghij\n\xDE\xDD\x92zz\n");
    QTest::newRow("UTF-8 after ASCII in the same line") << QByteArray("abcdefghij\xC3\xA7\xDD\x92zzzz\n") << 3 << 5
                                                        << autoEnc << autoEol
                                                        << QByteArray("abcde\nfghij\n\xC3\xA7\xDD\x92zzz\n");
    // Around the end of a block: the same bytes as with the encoding given.
    const std::string tail1254 = "\xDE\xDD\x92" + std::string(40, 'c') + "\n";
    const std::string tailUtf8 = "\xC3\xA7\xDD\x92" + std::string(40, 'c') + "\n";
    for (const int shift : {-1, 0, 1}) {
        const std::size_t at = test::kSecondBlockEnd + std::size_t(shift);
        for (const bool is1254 : {true, false}) {
            const std::string in = test::asciiThen(at, is1254 ? tail1254 : tailUtf8);
            const JobParams forced{JobKind::Split, 2, 32, is1254 ? Encoding::Bytes : Encoding::Utf8};
            QTest::addRow("%s from 1 MiB + 64 KiB %+d", is1254 ? "1254" : "UTF-8", shift)
                << QByteArray::fromStdString(in) << 2 << 32 << autoEnc << autoEol
                << QByteArray::fromStdString(test::transformBytes(in, forced, std::size_t{1} << 20, SIZE_MAX));
        }
    }
    const std::string longLine = repeatLine("0123456789", 300);
    QTest::newRow("pieces wider than the block")
        << QByteArray::fromStdString(longLine + "\n") << 2 << 1000 << autoEnc << autoEol
        << QByteArray::fromStdString(longLine.substr(0, 1000) + "\n" + longLine.substr(1000, 1000) + "\n");
}

void TestSplit::split()
{
    QFETCH(QByteArray, input);
    QFETCH(int, count);
    QFETCH(int, width);
    QFETCH(int, encoding);
    QFETCH(int, eol);
    QFETCH(QByteArray, expected);
    const JobParams params{JobKind::Split, count, width, Encoding(encoding), LineEndChoice(eol)};
    for (const auto& f : test::framings()) {
        const std::string out = test::transformBytes(input.toStdString(), params, f.block, f.chunk, true, nullptr, f.threadChunk);
        QCOMPARE(QByteArray::fromStdString(out), expected);
    }
}

void TestSplit::outputLineCount_data()
{
    QTest::addColumn<int>("count");
    for (const int n : {1, 2, 3, 7, 100})
        QTest::addRow("n=%d", n) << n;
}

void TestSplit::outputLineCount()
{
    // Output lines = input lines x n, whatever the lengths of the lines.
    QFETCH(int, count);
    std::string input;
    for (int len = 0; len < 40; ++len)
        input += std::string(std::size_t(len), char('a' + len % 26)) + "\n";
    const std::string out = test::transformBytes(input, {JobKind::Split, count, 4}, 64, 9);
    QCOMPARE(std::count(out.begin(), out.end(), '\n'), 40L * count);
}

void TestSplit::layout_data()
{
    // A layout, its alignment and fill, --trim, and --to csv with a delimiter
    // (none: lines); what is written, then how many lines were cut and the first.
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("widths");
    QTest::addColumn<QString>("align");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<bool>("trim");
    QTest::addColumn<QString>("csv");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("cut");
    QTest::addColumn<int>("firstCut");

    QTest::newRow("mixed widths") << QByteArray("abcdefghi\nab\n") << "3,2,4" << "r" << " " << false << ""
                                  << QByteArray("abc\nde\nfghi\nab\n\n\n") << 0 << 0;
    QTest::newRow("0-width columns") << QByteArray("abcd\n") << "0,2,0,2,0" << "r" << " " << false << ""
                                     << QByteArray("\nab\n\ncd\n\n") << 0 << 0;
    QTest::newRow("lines past the layout are cut and counted")
        << QByteArray("abcdefg\nab\nabcdef\nabcdefgh\n") << "3,3" << "r" << " " << false << ""
        << QByteArray("abc\ndef\nab\n\nabc\ndef\nabc\ndef\n") << 2 << 1;
    QTest::newRow("n x k: lines past the record cut and counted") << QByteArray("ab\nabcde\nabcdefg\n") << "2x2" << "r"
                                                                  << " " << false << "" << QByteArray("ab\n\nab\ncd\nab\ncd\n")
                                                                  << 2 << 2;
    QTest::newRow("n x k: UTF-8 pieces") << QByteArray("\xC3\xA7\n\xC3\xA7\x61\xC4\x9F\x72\xC4\xB1x\n") << "2x2" << "r"
                                         << " " << false << "" << QByteArray("\xC3\xA7\n\n\xC3\xA7\x61\n\xC4\x9F\x72\n")
                                         << 1 << 2;
    QTest::newRow("trim right-aligned: leading fill") << QByteArray("00420000 7 0\n") << "4,4,4" << "r" << "0" << true
                                                      << "" << QByteArray("42\n\n 7 0\n") << 0 << 0;
    QTest::newRow("trim left-aligned: trailing fill") << QByteArray("ab  __a_\n") << "4,4" << "l" << " _" << true
                                                      << "" << QByteArray("ab\n__a\n") << 0 << 0;
    QTest::newRow("trim l/r mix") << QByteArray("ab  0042  cd\n") << "4,4,4" << "lrr" << " 0 " << true << ""
                                  << QByteArray("ab\n42\ncd\n") << 0 << 0;
    QTest::newRow("UTF-8 letters, not bytes") << QByteArray("\xC3\xA7\x61\xC4\x9F\x72\xC4\xB1\n") << "2,3" << "r" << " "
                                              << false << "" << QByteArray("\xC3\xA7\x61\n\xC4\x9F\x72\xC4\xB1\n") << 0 << 0;
    // Letters of two bytes in a layout of narrow columns: the pieces end within
    // the line's first 64 bytes, or past them, or the line has a letter of
    // three bytes; a piece of more than 32 bytes, trimmed.
    const QByteArray c = "\xC3\xA7", s = "\xC5\x9F";
    QTest::newRow("UTF-8 layout, trimmed l/r mix") << c + s + "  0042" + s + c + "\n" + c + "0\n" << "4,4,2" << "lrr"
                                                   << " 0 " << true << "" << c + s + "\n42\n" + s + c + "\n" + c + "0\n\n\n"
                                                   << 0 << 0;
    QTest::newRow("UTF-8 layout, pieces past 64 bytes") << c.repeated(30) + s.repeated(31) + "\n" << "30,30" << "rl" << " "
                                                        << true << "" << c.repeated(30) + "\n" + s.repeated(30) + "\n"
                                                        << 1 << 1;
    QTest::newRow("UTF-8 layout, a letter of three bytes") << c + "\xE2\x82\xAC" + "  ab" + "\n" << "2,3,1" << "r" << " "
                                                           << true << "" << c + "\xE2\x82\xAC\na\nb\n" << 0 << 0;
    const QByteArray a31(31, 'a');
    QTest::newRow("UTF-8 layout, pieces of 33 bytes") << a31 + c + "x\n" + c + QByteArray(31, '_') + "0\n" + a31 + c + "xy\n"
                                                      << "32,1" << "lr" << "_0" << true << ""
                                                      << a31 + c + "\nx\n" + c + "\n\n" + a31 + c + "\nx\n" << 1 << 3;
    const QByteArray g = "\xC4\x9F";
    QTest::newRow("UTF-8 layout to csv: quoted, trimmed, cut") << c + "," + s + "__" + c + "a\"\n" + g + "  x\n"
            + c + c + c + s + s + s + "abZ\n" << "3,3,2" << "lrr" << " _ " << true << ","
                                                               << "\"" + c + "," + s + "\"," + c + ",\"a\"\"\"\n" + g + ",x,\n" + c
            + c + c + "," + s + s + s + ",ab\n" << 1 << 3;
    QTest::newRow("UTF-8 layout to csv: a delimiter, fill past 32 bytes")
        << c.repeated(31) + ",x\n" + c + QByteArray(31, '_') + "y\n" << "32,1" << "l" << "_" << true << ","
        << "\"" + c.repeated(31) + ",\",x\n" + c + ",y\n" << 0 << 0;
    QTest::newRow("csv: plain fields") << QByteArray("abcdef\nab\n") << "2,2,2" << "r" << " " << false << ","
                                       << QByteArray("ab,cd,ef\nab,,\n") << 0 << 0;
    QTest::newRow("csv: delimiter and quote are quoted") << QByteArray("a,b\"cd\n") << "2,2,2" << "r" << " " << false
                                                         << "," << QByteArray("\"a,\",\"b\"\"\",cd\n") << 0 << 0;
    QTest::newRow("csv: a lone CR is quoted") << QByteArray("a\rb\n") << "2,1" << "r" << " " << false << ","
                                              << QByteArray("\"a\r\",b\n") << 0 << 0;
    QTest::newRow("csv: semicolon, comma is plain") << QByteArray("1,5;x\n") << "3,2" << "r" << " " << false << ";"
                                                    << QByteArray("1,5;\";x\"\n") << 0 << 0;
    QTest::newRow("csv: empty line, empty fields") << QByteArray("\n") << "2,2,2" << "r" << " " << false << ","
                                                   << QByteArray(",,\n") << 0 << 0;
    QTest::newRow("csv: trimmed, CRLF kept") << QByteArray("  ab0007\r\n") << "4,4" << "r" << " 0" << true << ","
                                             << QByteArray("ab,7\r\n") << 0 << 0;
    QTest::newRow("csv: one column") << QByteArray("abc\n\"\n") << "2" << "r" << " " << false << ","
                                     << QByteArray("ab\n\"\"\"\"\n") << 1 << 1;
    // Fill that is the delimiter or a quote: trimmed, it needs no quoting;
    // kept, it does.
    QTest::newRow("csv: trimmed fill is a delimiter or quote") << QByteArray(",,ab\"\"\"\"cd\n") << "4,4,2" << "rlr"
                                                               << ",\" " << true << "," << QByteArray("ab,,cd\n") << 0 << 0;
    QTest::newRow("csv: kept fill is a delimiter or quote") << QByteArray(",,ab\"\"\"\"cd\n") << "4,4,2" << "rlr"
                                                            << ",\" " << false << ","
                                                            << QByteArray("\",,ab\",\"\"\"\"\"\"\"\"\"\",cd\n") << 0 << 0;
    QTest::newRow("csv: 32-wide columns, a quote at the last byte")
        << QByteArray(31, 'a') + "\"" + QByteArray(30, ' ') + "b,\n" << "32,32,1" << "rrr" << " " << true << ","
        << "\"" + QByteArray(31, 'a') + "\"\"\",\"b,\",\n" << 0 << 0;
    // A layout of 64 bytes, whose lines are looked at 64 bytes at a time:
    // lines past it, a letter past it, quoted fields of 32 bytes.
    QTest::newRow("csv: 64-byte layout, lines past it") << "  " + QByteArray(30, 'a') + QByteArray(30, 'b') + "  xyz\n\""
            + QByteArray(31, 'c') + QByteArray(32, 'd') + c + "\n" + QByteArray(31, 'e') + "," + QByteArray(32, 'f') + "\n"
                                                        << "32,32" << "rl" << " " << true << ","
                                                        << QByteArray(30, 'a') + "," + QByteArray(30, 'b') + "\n\"\"\""
            + QByteArray(31, 'c') + "\"," + QByteArray(32, 'd') + "\n\"" + QByteArray(31, 'e') + ",\","
            + QByteArray(32, 'f') + "\n" << 2 << 1;
    // Fewer than 64: the loop compiled for AVX2, where there is one. The
    // first line runs past 64 bytes.
    QTest::newRow("csv: 63-byte layout, a line past 64 bytes")
        << "ab" + QByteArray(55, ' ') + "x,y\"zw" + QByteArray(24, 'T') + "\nshort\n\n" << "32,31" << "lr" << " " << true
        << "," << QByteArray("ab,\"x,y\"\"zw\"\nshort,\n,\n") << 1 << 1;
    // Bytes that are not UTF-8: read as letters of one byte each.
    QTest::newRow("csv: bytes above 0x7F, a letter each") << QByteArray("\xDE\xFE,\xF0\xFD\xE7\n") << "3,3" << "r" << " "
                                                         << false << "," << QByteArray("\"\xDE\xFE,\",\xF0\xFD\xE7\n") << 0 << 0;
    const QByteArray longLine = QByteArray(2500, 'x') + "yz";
    QTest::newRow("csv: a piece wider than the block") << longLine + "\n" << "2000,500,2" << "r" << " " << false << ","
                                                       << QByteArray(2000, 'x') + "," + QByteArray(500, 'x') + ",yz\n"
                                                       << 0 << 0;
}

void TestSplit::layout()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, widths);
    QFETCH(QString, align);
    QFETCH(QString, fill);
    QFETCH(bool, trim);
    QFETCH(QString, csv);
    QFETCH(QByteArray, expected);
    QFETCH(int, cut);
    QFETCH(int, firstCut);
    JobParams params = test::layoutParams(JobKind::Split, widths.toStdString(), align.toStdString(), fill.toStdString());
    params.trim = trim;
    if (!csv.isEmpty()) {
        params.format = RecordFormat::Csv;
        params.delimiter = csv.toStdString()[0];
    }
    for (const auto& f : test::framings()) {
        JobStats stats;
        const std::string out = test::transformBytes(input.toStdString(), params, f.block, f.chunk, true, &stats, f.threadChunk);
        QCOMPARE(QByteArray::fromStdString(out), expected);
        QCOMPARE(stats.cut, std::uint64_t(cut));
        QCOMPARE(stats.firstCut, std::uint64_t(firstCut));
        if (cut > 0) {
            // Under the strict rule the first cut line fails the job.
            JobParams strict = params;
            strict.strict = true;
            QCOMPARE(test::failingLine(input.toStdString(), strict, f.block, f.chunk, nullptr, f.threadChunk),
                std::uint64_t(firstCut));
        }
    }
}

void TestSplit::roundTrip_data()
{
    QTest::addColumn<QString>("widths");
    QTest::addColumn<QString>("align");
    QTest::addColumn<QString>("fill");
    QTest::addColumn<QString>("csv");
    QTest::newRow("right, spaces") << "3,1,5" << "r" << " " << "";
    QTest::newRow("mixed, zero fill") << "4,0,2,6" << "lrrl" << " 00_" << "";
    QTest::newRow("mixed, csv") << "4,2,6" << "lrl" << ",0\"" << ",";
    QTest::newRow("semicolons") << "1,3" << "rl" << "; " << ";";
    QTest::newRow("csv, 63 wide") << "31,32" << "lr" << " 0" << ";";
    QTest::newRow("csv, 64 wide") << "32,32" << "rl" << "_ " << ",";
}

void TestSplit::roundTrip()
{
    // Records of exactly the layout's width, drawn from letters, fills,
    // delimiters, quotes and Turkish letters: split then join with the same
    // layout gives them back, with --trim or without.
    QFETCH(QString, widths);
    QFETCH(QString, align);
    QFETCH(QString, fill);
    QFETCH(QString, csv);
    JobParams split = test::layoutParams(JobKind::Split, widths.toStdString(), align.toStdString(), fill.toStdString());
    int total = 0;
    for (const Column& c : split.layout)
        total += c.width;
    const std::vector<std::string> alphabet = {"a", "Z", " ", "0", "_", ",", ";", "\"", "\xC3\xA7", "\xC4\xB1"};
    std::string input;
    unsigned seed = 7;
    for (int line = 0; line < 200; ++line) {
        for (int i = 0; i < total; ++i) {
            seed = seed * 1103515245u + 12345u;
            input += alphabet[(seed >> 16) % alphabet.size()];
        }
        input += "\n";
    }
    if (!csv.isEmpty()) {
        split.format = RecordFormat::Csv;
        split.delimiter = csv.toStdString()[0];
    }
    JobParams join = split;
    join.kind = JobKind::Join;
    for (const bool trim : {false, true}) {
        split.trim = trim;
        const std::string pieces = test::transformBytes(input, split, 4096, 100);
        JobStats stats;
        QCOMPARE(QByteArray::fromStdString(test::transformBytes(pieces, join, 64, 9, true, &stats)),
            QByteArray::fromStdString(input));
        QCOMPARE(stats.cut + stats.leftOut, std::uint64_t(0));
    }
}

QTEST_APPLESS_MAIN(TestSplit)
#include "tst_split.moc"
