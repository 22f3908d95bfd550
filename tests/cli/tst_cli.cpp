#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "test_files.h"

using fwprep::test::entries;
using fwprep::test::readFile;
using fwprep::test::writeFile;

namespace {

struct Run {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

Run runCli(const QStringList& args, const QByteArray& stdinData = {}, const QString& workDir = {})
{
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(FWPREP_CLI, args);
    if (!p.waitForStarted())
        qFatal("cannot start fwprep-cli");
    p.write(stdinData);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000))
        qFatal("fwprep-cli did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
        p.readAllStandardError()};
}

const QByteArray kOld("old output\n");

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void jobs_data();
    void jobs();
    void usageErrors_data();
    void usageErrors();
    void jobFailures_data();
    void jobFailures();
    void lossReports_data();
    void lossReports();
    void strictLeavesOldOutput_data();
    void strictLeavesOldOutput();
    void writesOutputFile();
    void helpAndVersion();
    void signalCancelsAndLeavesNoFile();
};

void TestCli::jobs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray example("abcde\nabcdefgh\na\n\n");
    QTest::newRow("split from stdin") << QStringList{"split", "-n", "3", "-w", "2"} << example
                                      << QByteArray("ab\ncd\ne\nab\ncd\nef\na\n\n\n\n\n\n");
    QTest::newRow("split, long options and '-'") << QStringList{"split", "--count=2", "--width", "1", "-"}
                                                 << QByteArray("xyz\n") << QByteArray("x\ny\n");
    QTest::newRow("join from stdin") << QStringList{"join", "-n", "3", "-w", "4"} << QByteArray("42\napple\n7\n\nhello\n")
                                     << QByteArray("  42appl   7\n    hell\n");
    QTest::newRow("values run into short options") << QStringList{"join", "-n3", "-w4", "-ebytes"}
                                                   << QByteArray("42\napple\n7\n") << QByteArray("  42appl   7\n");
    QTest::newRow("options after the input, then '--'") << QStringList{"split", "-", "--width=1", "-n", "2", "--"}
                                                       << QByteArray("xyz\n") << QByteArray("x\ny\n");
    QTest::newRow("last of a repeated option counts") << QStringList{"split", "-n", "5", "-w", "1", "--count", "1"}
                                                     << QByteArray("xyz\n") << QByteArray("x\n");
    QTest::newRow("negative count is allowed") << QStringList{"join", "-n", "-2", "-w", "2"} << QByteArray("a\nb\n")
                                               << QByteArray(" a b\n");
    QTest::newRow("count with spaces and sign") << QStringList{"split", "-n", " +1 ", "-w", "2"} << QByteArray("abc\n")
                                                << QByteArray("ab\n");
    QTest::newRow("encoding bytes cuts UTF-8 bytes") << QStringList{"split", "-n", "1", "-w", "1", "-e", "bytes"}
                                                     << QByteArray("\xC3\xA7\n") << QByteArray("\xC3\n");
    QTest::newRow("encoding auto counts UTF-8 letters") << QStringList{"split", "-n", "1", "-w", "1"}
                                                        << QByteArray("\xC3\xA7x\n") << QByteArray("\xC3\xA7\n");
    QTest::newRow("eol crlf") << QStringList{"split", "-n", "1", "-w", "1", "--eol", "crlf"} << QByteArray("ab\n")
                              << QByteArray("a\r\n");
    QTest::newRow("eol follows input") << QStringList{"join", "-n", "1", "-w", "1"} << QByteArray("a\r\nb\r\n")
                                       << QByteArray("a\r\nb\r\n");
    QTest::newRow("empty input gives empty output") << QStringList{"split", "-n", "3", "-w", "2"} << QByteArray()
                                                    << QByteArray();
    QTest::newRow("layout without a count") << QStringList{"split", "-w", "2,0,3"} << QByteArray("abcde\n")
                                            << QByteArray("ab\n\ncde\n");
    QTest::newRow("layout with its count") << QStringList{"join", "-n", "2", "-w", "2,3", "--align=lr", "--fill", " 0"}
                                           << QByteArray("a\n7\n") << QByteArray("a 007\n");
    QTest::newRow("one width, align left, zero fill") << QStringList{"join", "-n", "0", "-w", "3", "--align", "left", "--fill", "0"}
                                                      << QByteArray("a\nb\n") << QByteArray("a00b00\n");
    QTest::newRow("one width, a letter per column") << QStringList{"join", "-n", "2", "-w", "2", "--align", "lr"}
                                                    << QByteArray("a\nb\n") << QByteArray("a  b\n");
    QTest::newRow("split to csv, trimmed") << QStringList{"split", "-w", "4,4", "--fill", " 0", "--trim", "--to", "csv"}
                                           << QByteArray("  a,0007\n") << QByteArray("\"a,\",7\n");
    QTest::newRow("join from csv, header, semicolon")
        << QStringList{"join", "--from", "csv", "--header", "--delimiter", ";", "-w", "6,5", "--align", "lr", "--fill", " 0"}
        << QByteArray("Name;Amount\r\n\"Ay\xC5\x9F" "e\";12,5\r\n") << QByteArray("Ay\xC5\x9F" "e  012,5\r\n");
}

void TestCli::jobs()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    const Run r = runCli(args, input);
    // Nothing on standard error but, where a line or value is cut, its warning.
    QVERIFY2(r.err.isEmpty() || (r.err.startsWith("fwprep-cli: warning: ") && r.err.count('\n') == 1), r.err.constData());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList{} << "no command";
    QTest::newRow("unknown command") << QStringList{"cut"} << "unknown command 'cut'";
    QTest::newRow("unknown option") << QStringList{"split", "-n", "1", "-w", "1", "--bogus"} << "bogus";
    QTest::newRow("missing count") << QStringList{"split", "-w", "1"} << "missing --count";
    QTest::newRow("missing width") << QStringList{"join", "-n", "1"} << "missing --width";
    QTest::newRow("missing value") << QStringList{"split", "-w", "1", "-n"} << "-n";
    QTest::newRow("unknown short option") << QStringList{"split", "-n", "1", "-w", "1", "-x"} << "unknown option '-x'";
    QTest::newRow("missing value of a long option") << QStringList{"split", "-w", "1", "--count"}
                                                    << "missing value after '--count'";
    QTest::newRow("empty value") << QStringList{"split", "-n", "1", "--width="} << "--width: ''";
    QTest::newRow("flag given a value") << QStringList{"split", "-n", "1", "-w", "1", "--progress=yes"}
                                        << "option '--progress' takes no value";
    QTest::newRow("input named like an option, without '--'") << QStringList{"split", "-n", "1", "-w", "1", "-in.txt"}
                                                              << "unknown option '-i'";
    QTest::newRow("count not a number") << QStringList{"split", "-n", "abc", "-w", "1"} << "--count: 'abc'";
    QTest::newRow("count out of range") << QStringList{"split", "-n", "32768", "-w", "1"} << "--count: '32768'";
    QTest::newRow("width fraction") << QStringList{"split", "-n", "1", "-w", "3.5"} << "--width: '3.5'";
    QTest::newRow("width negative") << QStringList{"split", "-n", "1", "-w", "-4"} << "--width: must not be negative: -4";
    QTest::newRow("bad encoding") << QStringList{"split", "-n", "1", "-w", "1", "-e", "latin9"} << "--encoding: 'latin9'";
    QTest::newRow("bad eol") << QStringList{"split", "-n", "1", "-w", "1", "--eol", "cr"} << "--eol: 'cr'";
    QTest::newRow("two inputs") << QStringList{"split", "-n", "1", "-w", "1", "a", "b"} << "one input file at most";
    QTest::newRow("width list, empty entry") << QStringList{"split", "-w", "3,,4"} << "--width: '3,,4' has an empty entry";
    QTest::newRow("width list, bad number") << QStringList{"split", "-w", "3,x"} << "--width: '3,x': 'x' is not";
    QTest::newRow("count not the list's") << QStringList{"join", "-n", "3", "-w", "1,2"} << "--count: '3' is not the number";
    QTest::newRow("align letter") << QStringList{"split", "-w", "1,2", "--align", "lx"} << "--align: 'lx'";
    QTest::newRow("align letters miscounted") << QStringList{"split", "-w", "1,2", "--align", "lrl"} << "--align: 'lrl'";
    QTest::newRow("fill not printable") << QStringList{"split", "-n", "1", "-w", "1", "--fill", "\t"} << "--fill: '\t'";
    QTest::newRow("fill miscounted") << QStringList{"split", "-w", "1,2", "--fill", "abc"} << "--fill: 'abc'";
    QTest::newRow("trim on join") << QStringList{"join", "-n", "1", "-w", "1", "--trim"} << "--trim: only for split";
    QTest::newRow("to on join") << QStringList{"join", "-n", "1", "-w", "1", "--to", "csv"} << "--to: only for split";
    QTest::newRow("from on split") << QStringList{"split", "-n", "1", "-w", "1", "--from", "csv"} << "--from: only for join";
    QTest::newRow("header without csv") << QStringList{"join", "-n", "1", "-w", "1", "--header"} << "--header: only with --from csv";
    QTest::newRow("delimiter without csv") << QStringList{"split", "-n", "1", "-w", "1", "--delimiter", ";"} << "--delimiter: only with --to csv";
    QTest::newRow("delimiter two characters") << QStringList{"join", "-n", "1", "-w", "1", "--from", "csv", "--delimiter", ";;"} << "--delimiter: ';;'";
    QTest::newRow("delimiter a quote") << QStringList{"join", "-n", "1", "-w", "1", "--from", "csv", "--delimiter", "\""} << "--delimiter: '\"'";
    QTest::newRow("delimiter not ASCII") << QStringList{"split", "-n", "1", "-w", "1", "--to", "csv", "--delimiter", "\xC2\xA7"} << "--delimiter: ";
    QTest::newRow("verbose has no short form") << QStringList{"split", "-n", "1", "-w", "1", "-V"} << "unknown option '-V'";
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const Run r = runCli(args, "data\n");
    QCOMPARE(r.exitCode, 2);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.startsWith("fwprep-cli: "), r.err.constData());
    QVERIFY2(r.err.contains(message.toUtf8()), r.err.constData());
}

void TestCli::jobFailures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("input missing") << QStringList{"split", "-n", "1", "-w", "1", "nope.txt"} << "nope.txt: no such file";
    QTest::newRow("input is a folder") << QStringList{"split", "-n", "1", "-w", "1", "folder"} << "folder: cannot read: ";
    QTest::newRow("output is the input") << QStringList{"split", "-n", "1", "-w", "1", "-o", "in.txt", "in.txt"}
                                         << "in.txt: the input is the output file itself";
    QTest::newRow("output folder missing") << QStringList{"join", "-n", "1", "-w", "1", "-o", "nodir/out.txt", "in.txt"}
                                           << "nodir/out.txt: cannot write: ";
    QTest::newRow("output folder is a file") << QStringList{"join", "-n", "1", "-w", "1", "-o", "in.txt/out.txt", "in.txt"}
                                             << "in.txt/out.txt: cannot write: ";
    QTest::newRow("output is a folder") << QStringList{"join", "-n", "1", "-w", "1", "-o", "folder", "in.txt"}
                                        << "folder: cannot write: ";
}

void TestCli::jobFailures()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), "input\n");
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    const QStringList before = entries(dir.path());
    const Run r = runCli(args, {}, dir.path());
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
    QVERIFY2(r.err.startsWith("fwprep-cli: " + message.toUtf8()), r.err.constData());
    QCOMPARE(r.err.count('\n'), 1);
    QCOMPARE(entries(dir.path()), before);
    QCOMPARE(readFile(dir.filePath("in.txt")), QByteArray("input\n"));
}

void TestCli::lossReports_data()
{
    // Whatever is cut is reported in one warning line; the output is the same
    // as without it, and the job still succeeds.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("warning");
    QTest::newRow("split, today's options") << QStringList{"split", "-n", "2", "-w", "1"} << QByteArray("ab\nabc\nx\nxyz\n")
                                            << QByteArray("a\nb\na\nb\nx\n\nx\ny\n")
                                            << "warning: 2 lines were longer than the record and lost their end, the first on line 2\n";
    QTest::newRow("join, today's options") << QStringList{"join", "-n", "2", "-w", "2"} << QByteArray("ab\nabc\n")
                                           << QByteArray("abab\n") << "warning: 1 value was longer than its column and cut, on line 2\n";
    QTest::newRow("split, UTF-8 letters in short pieces") << QStringList{"split", "-n", "2", "-w", "2"}
                                                         << QByteArray("\xC5\x9F\xC5\x9F\xC5\x9F" "a\xC5\x9F\n\xC5\x9F\xC5\x9F\xC5\x9F\xC5\x9F\n")
                                                         << QByteArray("\xC5\x9F\xC5\x9F\n\xC5\x9F" "a\n\xC5\x9F\xC5\x9F\n\xC5\x9F\xC5\x9F\n")
                                                         << "warning: 1 line was longer than the record and lost its end, on line 1\n";
    QTest::newRow("join from csv, cut and left out") << QStringList{"join", "--from", "csv", "-w", "1,1"}
                                                     << QByteArray("a,b\nab,c,d\ne,f,g\n") << QByteArray("ab\nac\nef\n")
                                                     << "warning: 1 value was longer than its column and cut, on line 2; "
                                                        "2 fields beyond the last column left out, the first on line 2\n";
    QTest::newRow("nothing cut, verbose") << QStringList{"split", "-w", "2", "-n", "1", "--verbose"}
                                          << QByteArray("\xEF\xBB\xBF\xC3\xA7\r\n") << QByteArray("\xEF\xBB\xBF\xC3\xA7\r\n")
                                          << "fwprep-cli: 1 line read, 1 line written, UTF-8 with a byte-order mark, CRLF line ends; nothing cut\n";
    QTest::newRow("verbose, detected UTF-8") << QStringList{"split", "-w", "1", "-n", "1", "--verbose"}
                                             << QByteArray("\xC5\x9E\n") << QByteArray("\xC5\x9E\n")
                                             << "fwprep-cli: 1 line read, 1 line written, UTF-8 (detected), LF line ends; nothing cut\n";
    QTest::newRow("verbose, detected single-byte") << QStringList{"split", "-w", "1", "-n", "1", "--verbose"}
                                                   << QByteArray("\xDE\n") << QByteArray("\xDE\n")
                                                   << "fwprep-cli: 1 line read, 1 line written, one byte per character (detected), LF line ends; nothing cut\n";
    QTest::newRow("verbose, plain ASCII") << QStringList{"split", "-w", "2", "-n", "1", "--verbose"}
                                          << QByteArray("ab\n") << QByteArray("ab\n")
                                          << "fwprep-cli: 1 line read, 1 line written, plain ASCII (nothing to detect), LF line ends; nothing cut\n";
    QTest::newRow("cut, verbose") << QStringList{"join", "-w", "1", "-n", "3", "--verbose", "-e", "bytes", "--eol", "crlf"}
                                  << QByteArray("ab\nc\nd\ne\n") << QByteArray("acd\r\ne\r\n")
                                  << "fwprep-cli: 4 lines read, 2 lines written, one byte per character, CRLF line ends; "
                                     "1 value was longer than its column and cut, on line 1\n";
}

void TestCli::lossReports()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QFETCH(QString, warning);
    const Run r = runCli(args, input);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, expected);
    QVERIFY2(r.err.endsWith(warning.toUtf8()), r.err.constData());
    QCOMPARE(r.err.count('\n'), args.contains("--verbose") && r.err.contains("cut,") ? 2 : 1);
}

void TestCli::strictLeavesOldOutput_data()
{
    // What standard output must begin with: the lines before the failing one,
    // and where a split writes the failing line's pieces before it counts the
    // cut (lines through the character kernels), those too; with `exact`, all
    // it holds.
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("piped");
    QTest::addColumn<bool>("exact");
    QTest::newRow("split, line too long") << QStringList{"split", "-n", "2", "-w", "1", "--strict"} << QByteArray("ab\nabc\n")
                                          << "in.txt: line 2: the line is longer than the record" << QByteArray("a\nb\n") << false;
    QTest::newRow("split, UTF-8 layout") << QStringList{"split", "-w", "2,3", "--strict"}
                                         << QByteArray("\xC3\xA7\xC5\x9F" "abc\n\xC3\xA7\xC5\x9F" "abcdX\n")
                                         << "in.txt: line 2: the line is longer than the record"
                                         << QByteArray("\xC3\xA7\xC5\x9F\nabc\n\xC3\xA7\xC5\x9F\nabc\n") << false;
    QTest::newRow("split, trimmed layout") << QStringList{"split", "-w", "2,3", "--align", "lr", "--trim", "--strict"}
                                           << QByteArray("ab  c\nabcdeX\n") << "in.txt: line 2: the line is longer than the record"
                                           << QByteArray("ab\nc\nab\ncde\n") << false;
    // To CSV: ASCII lines fail before their fields are written, lines of
    // other letters after.
    QTest::newRow("split to csv, line too long") << QStringList{"split", "-w", "2,3", "--align", "lr", "--trim", "--to", "csv", "--strict"}
                                                 << QByteArray("ab  c\nabcdeX\n") << "in.txt: line 2: the line is longer than the record"
                                                 << QByteArray("ab,c\n") << true;
    QTest::newRow("split to csv, UTF-8 line too long") << QStringList{"split", "-w", "2,3", "--to", "csv", "--strict"}
                                                       << QByteArray("\xC3\xA7\xC5\x9F" "abc\n\xC3\xA7\xC5\x9F" "abcdX\n")
                                                       << "in.txt: line 2: the line is longer than the record"
                                                       << QByteArray("\xC3\xA7\xC5\x9F,abc\n\xC3\xA7\xC5\x9F,abc\n") << true;
    QTest::newRow("join, value too long") << QStringList{"join", "-w", "2,2", "--strict"} << QByteArray("ab\nabc\n")
                                          << "in.txt: line 2: the value is longer than its column" << QByteArray() << false;
    QTest::newRow("join from csv, field left out") << QStringList{"join", "--from", "csv", "-w", "2", "-n", "1", "--strict"}
                                                   << QByteArray("a\nb,c\n") << "in.txt: line 2: the record has more fields"
                                                   << QByteArray(" a\n") << false;
    QTest::newRow("join from csv, doubled quote, value too long")
        << QStringList{"join", "--from", "csv", "-w", "2,1", "--strict"} << QByteArray("x,y\n\"a\"\"b\",c\n")
        << "in.txt: line 2: the value is longer than its column" << QByteArray(" xy\na\"") << false;
    // Records in a block of many, one of them (540 bytes) longer than a quick
    // record, whose line end is in the chunk after one without any.
    const QByteArray xy = QByteArray("x,y\n").repeated(20);
    QTest::newRow("join from csv, long record, value too long")
        << QStringList{"join", "--from", "csv", "-w", "2,1", "--strict"}
        << xy + "ab," + QByteArray(537, 'c') + "\n" + xy << "in.txt: line 21: the value is longer than its column"
        << QByteArray(" xy\n").repeated(20) + "abc" << false;
    // The same record in a block of many: the block reader leaves records
    // with doubled quotes under --strict to the way that writes values up to
    // the cut.
    QTest::newRow("join from csv, doubled quote in a block, value too long")
        << QStringList{"join", "--from", "csv", "-w", "2,1", "--strict"} << xy + "\"a\"\"b\",c\n" + xy
        << "in.txt: line 21: the value is longer than its column" << QByteArray(" xy\n").repeated(20) + "a\"" << true;
    QTest::newRow("unclosed quote, not strict") << QStringList{"join", "--from", "csv", "-w", "2,2"}
                                                << QByteArray("a,b\n\"c,d\n") << "in.txt: line 2: a quoted field begins here and is never closed"
                                                << QByteArray(" a b\n") << false;
}

void TestCli::strictLeavesOldOutput()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QString, message);
    QFETCH(QByteArray, piped);
    QFETCH(bool, exact);
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), input);
    writeFile(dir.filePath("out.txt"), kOld);
    const Run r = runCli(args + QStringList{"-o", "out.txt", "in.txt"}, {}, dir.path());
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.startsWith("fwprep-cli: " + message.toUtf8()), r.err.constData());
    QVERIFY2(r.err.endsWith("; out.txt was left as it was\n"), r.err.constData());
    QCOMPARE(readFile(dir.filePath("out.txt")), kOld);
    QCOMPARE(entries(dir.path()), (QStringList{"in.txt", "out.txt"}));
    // On standard output, what was written before the failure stays written.
    const Run out = runCli(args + QStringList{"in.txt"}, {}, dir.path());
    QCOMPARE(out.exitCode, 1);
    QCOMPARE(exact ? out.out : out.out.left(piped.size()), piped);
}

void TestCli::writesOutputFile()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), "abcd\n");
    writeFile(dir.filePath("out.txt"), kOld);
    const Run r = runCli({"split", "-n", "2", "-w", "2", "-o", "out.txt", "--progress", "in.txt"}, {}, dir.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(readFile(dir.filePath("out.txt")), QByteArray("ab\ncd\n"));
    QCOMPARE(entries(dir.path()), (QStringList{"in.txt", "out.txt"}));
}

void TestCli::helpAndVersion()
{
    const Run top = runCli({"--help"});
    QCOMPARE(top.exitCode, 0);
    QVERIFY(top.out.contains("split") && top.out.contains("join"));
    const Run sub = runCli({"join", "--help"});
    QCOMPARE(sub.exitCode, 0);
    QVERIFY(sub.out.startsWith("Usage: fwprep-cli join"));
    QVERIFY(sub.out.contains("--encoding") && sub.out.contains("--from") && sub.out.contains("--header"));
    QVERIFY(!sub.out.contains("--trim") && !sub.out.contains("--to "));
    const Run split = runCli({"split", "--help"});
    QVERIFY(split.out.contains("--trim") && split.out.contains("--to ") && !split.out.contains("--header"));
    const Run version = runCli({"--version"});
    QCOMPARE(version.exitCode, 0);
    QVERIFY(version.out.startsWith("fwprep-cli "));
}

void TestCli::signalCancelsAndLeavesNoFile()
{
    // An endless input: the job only ends by a signal, which must leave the
    // old output as it was and no temporary file behind.
    QTemporaryDir dir;
    writeFile(dir.filePath("out.txt"), kOld);
    for (const int sig : {SIGINT, SIGTERM}) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.start(FWPREP_CLI, {"split", "-n", "2", "-w", "3", "-o", "out.txt", "/dev/zero"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(300);
        QCOMPARE(p.state(), QProcess::Running);
        const auto pid = static_cast<pid_t>(p.processId());
        QVERIFY(pid > 0); // kill(0) would signal this test's own process group
        ::kill(pid, sig);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(p.readAllStandardError().contains("cancelled"));
        QCOMPARE(readFile(dir.filePath("out.txt")), kOld);
        QCOMPARE(entries(dir.path()), QStringList{"out.txt"});
    }
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
