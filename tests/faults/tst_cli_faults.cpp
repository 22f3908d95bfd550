// fwprep-cli end to end when things go wrong: a write that fails half way, a
// full standard output, a read that fails, an output behind a loop of links,
// and endless inputs stopped by a signal. Each must exit with status 1 and one
// line "fwprep-cli: ..." on standard error, leave no temporary file, and keep
// the old output byte for byte.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "fault_helpers.h"
#include "test_files.h"

using namespace fwprep::test;

namespace {

const QByteArray kOld("old output\r\nsecond line\r\n");

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

struct Options {
    QString workDir;
    rlim_t fileSizeLimit = RLIM_INFINITY;
    QString stdoutFile;
    int signal = 0; // sent after the program has run a while
};

Run runCli(const QStringList& args, const Options& options)
{
    QProcess p;
    p.setWorkingDirectory(options.workDir);
    p.setStandardInputFile(QProcess::nullDevice());
    if (!options.stdoutFile.isEmpty())
        p.setStandardOutputFile(options.stdoutFile);
    const rlim_t limit = options.fileSizeLimit;
    p.setChildProcessModifier([limit] {
        if (limit != RLIM_INFINITY) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit r{};
            getrlimit(RLIMIT_FSIZE, &r);
            r.rlim_cur = limit;
            setrlimit(RLIMIT_FSIZE, &r);
        }
    });
    p.start(FWPREP_CLI, args);
    if (!p.waitForStarted())
        qFatal("cannot start fwprep-cli");
    if (options.signal != 0) {
        // Still running after a while: it waits for or reads an endless input.
        if (p.waitForFinished(500))
            return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
        if (const auto pid = pid_t(p.processId()); pid > 0) // never kill(0): that is our own group
            ::kill(pid, options.signal);
    }
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {-2, {}, "did not finish"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
        p.readAllStandardError()};
}

} // namespace

class TestCliFaults : public QObject {
    Q_OBJECT
private slots:
    void failures_data();
    void failures();
    void outputThroughSymlink();
};

void TestCliFaults::failures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<qint64>("fileSizeLimit"); // 0: none
    QTest::addColumn<bool>("stdoutFull");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("message"); // after "fwprep-cli: ", with %1 for the test folder

    const QString tooLarge = reasonFor(EFBIG), full = reasonFor(ENOSPC);
    QTest::newRow("split, write fails half way (file-size limit)")
        << QStringList{"split", "-n", "1", "-w", "40", "big.txt", "-o", "out.txt"} << qint64(1 << 20) << false << 0
        << "out.txt: cannot write: " + tooLarge;
    QTest::newRow("join, write fails half way (file-size limit)")
        << QStringList{"join", "-n", "3", "-w", "40", "big.txt", "-o", "out.txt"} << qint64(1 << 20) << false << 0
        << "out.txt: cannot write: " + tooLarge;
    QTest::newRow("join, write fails through a link")
        << QStringList{"join", "-n", "3", "-w", "40", "big.txt", "-o", "link.txt"} << qint64(1 << 20) << false << 0
        << "link.txt: cannot write: " + tooLarge;
    QTest::newRow("split, standard output is full")
        << QStringList{"split", "-n", "2", "-w", "3", "small.txt"} << qint64(0) << true << 0
        << "standard output: cannot write: " + full;
    QTest::newRow("join, read fails")
        << QStringList{"join", "-n", "2", "-w", "3", "/proc/self/mem", "-o", "out.txt"} << qint64(0) << false << 0
        << "/proc/self/mem: cannot read: " + reasonFor(EIO);
    QTest::newRow("split, input is a FIFO without writer, SIGINT")
        << QStringList{"split", "-n", "2", "-w", "3", "in.fifo", "-o", "out.txt"} << qint64(0) << false << SIGINT
        << "cancelled; the output was left as it was";
    QTest::newRow("join, endless /dev/zero, SIGTERM")
        << QStringList{"join", "-n", "2", "-w", "3", "/dev/zero", "-o", "out.txt"} << qint64(0) << false << SIGTERM
        << "cancelled; the output was left as it was";
    QTest::newRow("split, endless /dev/zero, SIGINT")
        << QStringList{"split", "-n", "9", "-w", "1000", "/dev/zero", "-o", "link.txt"} << qint64(0) << false << SIGINT
        << "cancelled; the output was left as it was";
    QTest::newRow("split, output link loops")
        << QStringList{"split", "-n", "2", "-w", "3", "small.txt", "-o", "loop-a"} << qint64(0) << false << 0
        << "loop-a: cannot write: " + reasonFor(ELOOP);
    QTest::newRow("join, output in a missing folder")
        << QStringList{"join", "-n", "2", "-w", "3", "small.txt", "-o", "nodir/out.txt"} << qint64(0) << false << 0
        << "nodir/out.txt: cannot write: " + reasonFor(ENOENT);
    QTest::newRow("split, output folder is a file")
        << QStringList{"split", "-n", "2", "-w", "3", "small.txt", "-o", "small.txt/out.txt"} << qint64(0) << false << 0
        << "small.txt/out.txt: cannot write: " + reasonFor(ENOTDIR);
}

void TestCliFaults::failures()
{
    QFETCH(QStringList, args);
    QFETCH(qint64, fileSizeLimit);
    QFETCH(bool, stdoutFull);
    QFETCH(int, signal);
    QFETCH(QString, message);

    QTemporaryDir dir;
    writeFile(dir.filePath("big.txt"), manyLines(4 << 20, 40));
    writeFile(dir.filePath("small.txt"), "abcdef\nghi\n");
    writeFile(dir.filePath("out.txt"), kOld);
    QVERIFY(QDir(dir.path()).mkpath("data"));
    writeFile(dir.filePath("data/target.txt"), kOld);
    QVERIFY(QFile::link("data/target.txt", dir.filePath("link.txt")));
    QVERIFY(QFile::link("loop-b", dir.filePath("loop-a")));
    QVERIFY(QFile::link("loop-a", dir.filePath("loop-b")));
    QCOMPARE(mkfifo(qPrintable(dir.filePath("in.fifo")), 0600), 0);
    const QStringList before = entries(dir.path());

    Options options;
    options.workDir = dir.path();
    options.fileSizeLimit = fileSizeLimit > 0 ? rlim_t(fileSizeLimit) : RLIM_INFINITY;
    options.stdoutFile = stdoutFull ? QStringLiteral("/dev/full") : QString();
    options.signal = signal;
    const Run r = runCli(args, options);

    QCOMPARE(r.err, ("fwprep-cli: " + message + "\n").toUtf8());
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QByteArray());
    QCOMPARE(entries(dir.path()), before);
    QCOMPARE(entries(dir.filePath("data")), QStringList{"target.txt"});
    QCOMPARE(readFile(dir.filePath("out.txt")), kOld);
    QCOMPARE(readFile(dir.filePath("data/target.txt")), kOld);
    QCOMPARE(QFileInfo(dir.filePath("link.txt")).symLinkTarget(), dir.filePath("data/target.txt"));
}

void TestCliFaults::outputThroughSymlink()
{
    // -o naming a link writes the file it points to and keeps the link.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("data"));
    writeFile(dir.filePath("in.txt"), "abcd\r\nghi\r\n"); // nothing cut: no warning
    writeFile(dir.filePath("data/target.txt"), kOld);
    QVERIFY(QFile::link("data/target.txt", dir.filePath("link.txt")));

    Options options;
    options.workDir = dir.path();
    const Run r = runCli({"join", "-n", "2", "-w", "4", "in.txt", "-o", "link.txt"}, options);

    QCOMPARE(r.err, QByteArray());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("data/target.txt")), QByteArray("abcd ghi\r\n"));
    QCOMPARE(QFileInfo(dir.filePath("link.txt")).symLinkTarget(), dir.filePath("data/target.txt"));
    QCOMPARE(entries(dir.path()), (QStringList{"data", "in.txt", "link.txt"}));
    QCOMPARE(entries(dir.filePath("data")), QStringList{"target.txt"});
}

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_cli_faults.moc"
