// fwprep-cli end to end when things go wrong: a write that fails half way, a
// full standard output, a read that fails, an output behind a loop of links,
// and endless inputs stopped by a signal. Each must exit with status 1 and one
// line "fwprep-cli: ..." on standard error (or end by the signal sent, as it
// would have without fwprep's handlers), leave no temporary file, and keep the
// old output byte for byte. Then outputs that are not plain files, outputs the
// user may not replace, and odd names, as a shell hands them over.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "errors.h"
#include "fault_helpers.h"
#include "test_files.h"

using namespace fwprep::test;

namespace {

const QByteArray kOld("old output\r\nsecond line\r\n");

struct Run {
    int exitCode = -1; // -1 when ended by a signal
    QByteArray out;
    QByteArray err;
    int signal = 0; // the signal that ended it
};

// The signals that end a program by default and that fwprep-cli catches.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGXCPU,
    SIGVTALRM, SIGPROF, SIGIO, SIGXFSZ};

struct Options {
    QString workDir;
    rlim_t fileSizeLimit = RLIM_INFINITY;
    QString stdoutFile;
    int signal = 0; // sent after the program has run a while
    QString program = FWPREP_CLI; // or a shell, whose scripts find fwprep-cli as $CLI
};

Run runCli(const QStringList& args, const Options& options)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CLI", FWPREP_CLI);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(options.workDir);
    p.setStandardInputFile(QProcess::nullDevice());
    if (!options.stdoutFile.isEmpty())
        p.setStandardOutputFile(options.stdoutFile);
    const rlim_t limit = options.fileSizeLimit;
    p.setChildProcessModifier([limit] {
        // As a shell starts a program: every signal at its default action.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (const int sig : kEndingSignals)
            std::signal(sig, SIG_DFL);
        if (limit != RLIM_INFINITY) {
            rlimit r{};
            getrlimit(RLIMIT_FSIZE, &r);
            r.rlim_cur = limit;
            setrlimit(RLIMIT_FSIZE, &r);
        }
    });
    p.start(options.program, args);
    if (!p.waitForStarted())
        qFatal("cannot start %s", qPrintable(options.program));
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
    const bool crashed = p.exitStatus() != QProcess::NormalExit;
    return {crashed ? -1 : p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError(),
        crashed ? p.exitCode() : 0};
}

// Temporary files left anywhere below `folder`.
QStringList strayTemporaries(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, {"*.tmp"}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

} // namespace

class TestCliFaults : public QObject {
    Q_OBJECT
private slots:
    void failures_data();
    void failures();
    void outputThroughSymlink();
    void outputs_data();
    void outputs();
};

void TestCliFaults::failures_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<qint64>("fileSizeLimit"); // 0: none
    QTest::addColumn<bool>("stdoutFull");
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("message"); // after "fwprep-cli: "; empty: the signal ends the program

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
    // Ended as the signal would end it, but without a temporary file left behind.
    for (const int sig : kEndingSignals) {
        if (sig != SIGINT && sig != SIGTERM && sig != SIGXFSZ)
            QTest::addRow("join, endless /dev/zero, %s", sigabbrev_np(sig))
                << QStringList{"join", "-n", "2", "-w", "3", "/dev/zero", "-o", "link.txt"} << qint64(0) << false
                << sig << QString();
    }
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

    if (message.isEmpty()) {
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.signal, signal);
    } else {
        QCOMPARE(r.err, ("fwprep-cli: " + message + "\n").toUtf8());
        QCOMPARE(r.exitCode, 1);
    }
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

void TestCliFaults::outputs_data()
{
    // Run by /bin/sh in a folder holding in.txt ("ab\n", which nothing cuts). keep() says when the
    // file it names is no longer of the type `test` checks for.
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // standard error
    QTest::addColumn<QString>("file");    // read afterwards
    QTest::addColumn<QByteArray>("content");

    const QString split = "$CLI split -n1 -w2 ";
    const QString asRoot = "[ $(id -u) = 0 ] || exit 77; ";
    const QString asNobody = "chmod 755 .; setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    const auto row = [](const char* name, const QString& script, int exitCode, const QString& message,
                         const QString& file = {}, const QByteArray& content = {}) {
        QTest::newRow(name) << script << exitCode << message << file << content;
    };

    // A descriptor the caller opened: written where it stands, never opened afresh.
    row("/dev/stdout between lines the shell writes",
        "{ echo header; " + split + "-o /dev/stdout in.txt; echo trailer; } > got.txt", 0, "", "got.txt",
        "header\nab\ntrailer\n");
    row("/dev/stdout in append mode",
        "echo old > got.txt; { echo header; " + split + "-o /dev/stdout in.txt; } >> got.txt", 0, "", "got.txt",
        "old\nheader\nab\n");
    row("/dev/fd/3 at its offset",
        "exec 3>got.txt; echo header >&3; " + split + "-o /dev/fd/3 in.txt && echo trailer >&3", 0, "", "got.txt",
        "header\nab\ntrailer\n");
    row("a link to /dev/stdout", "ln -s /dev/stdout link; { echo header; " + split + "-o link in.txt; } > got.txt",
        0, "", "got.txt", "header\nab\n");
    row("/dev/stdout into a pipe", split + "-o /dev/stdout in.txt | cat > got.txt", 0, "", "got.txt", "ab\n");
    // A split on two threads whose reader goes away: SIGPIPE ends it, as on
    // one thread, whichever thread wrote.
    row("split on threads into a pipe closed early",
        "awk 'BEGIN { for (i = 0; i < 100000; i++) print \"abcdefghij\" }' > big.txt; "
        "{ FWPREP_CHUNK=4096 $CLI split -n3 -w2 big.txt; echo $? > status.txt; } | head -c 1 > /dev/null",
        0, "", "status.txt", "141\n");
    // Written in place, a failure or a cancel leaves what went out before,
    // and the message does not claim otherwise.
    row("--strict on /dev/stdout", "{ echo header; $CLI split -n1 -w1 --strict -o /dev/stdout in.txt; } > got.txt", 1,
        "fwprep-cli: in.txt: line 1: the line is longer than the record; its end would be lost\n", "got.txt",
        "header\n");
    row("cancelled on /dev/stdout",
        "$CLI join -n2 -w3 /dev/zero -o /dev/stdout > got.txt & pid=$!; sleep 0.5; kill -TERM $pid; wait $pid", 1,
        "fwprep-cli: cancelled; what was written before stays in the output\n");
    row("the input itself through /dev/fd/3", split + "-o /dev/fd/3 in.txt 3>>in.txt", 1,
        "fwprep-cli: in.txt: the input is the output file itself\n", "in.txt", "ab\n");
    row("a closed descriptor", split + "-o /proc/self/fd/9 in.txt", 1,
        "fwprep-cli: /proc/self/fd/9: cannot write: It is closed\n");
    row("standard output closed", split + "in.txt >&-", 1, "fwprep-cli: standard output: cannot write: It is closed\n");

    // A FIFO or device named by its path: written in place.
    row("FIFO with a reader", "mkfifo ff; timeout 10 cat ff > got.txt & " + split + "-o ff in.txt; keep -p ff; wait", 0,
        "", "got.txt", "ab\n");
    row("FIFO whose reader comes later",
        "mkfifo ff; " + split + "-o ff in.txt & sleep 0.3; timeout 10 cat ff > got.txt; wait $!; keep -p ff", 0, "",
        "got.txt", "ab\n");
    row("character device that is full",
        asRoot + "mknod full c 1 7 || exit 77; " + split + "-o full in.txt; keep -c full", 1,
        "fwprep-cli: full: cannot write: " + reasonFor(ENOSPC) + "\n");
    row("block device", asRoot + "mknod blk b 7 0 || exit 77; " + split + "-o blk in.txt; keep -b blk", 1,
        "fwprep-cli: blk: cannot write: " + reasonFor(fwprep::kBlockDevice) + "\n");
    row("socket", "perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => \"sock\", Listen => 1) or die'; " + split
            + "-o sock in.txt; keep -S sock",
        1,
        "fwprep-cli: sock: cannot write: " + reasonFor(fwprep::kSocket) + "\n");

    // Files the user may not replace, and what a replaced file keeps.
    row("read-only output",
        asRoot + "mkdir own; echo old > own/out.txt; chmod 444 own/out.txt; chown -R nobody:nogroup own; " + asNobody
            + split + "-o own/out.txt in.txt",
        1, "fwprep-cli: own/out.txt: cannot write: " + reasonFor(EACCES) + "\n", "own/out.txt", "old\n");
    row("writable output in a folder that is not",
        asRoot + "mkdir locked; echo old > locked/out.txt; chown nobody locked/out.txt; " + asNobody + split
            + "-o locked/out.txt in.txt",
        1, "fwprep-cli: locked/out.txt: cannot write: " + reasonFor(fwprep::kFolderNotWritable) + "\n",
        "locked/out.txt", "old\n");
    row("owner, group and mode kept",
        asRoot + "echo old > out.txt; chown nobody:nogroup out.txt; chmod 664 out.txt; " + split
            + "-o out.txt in.txt && stat -c '%U:%G %a' out.txt > got.txt",
        0, "", "got.txt", "nobody:nogroup 664\n");

    const QString longName(250, 'n');
    row("output name of 250 bytes", split + "-o " + longName + " in.txt", 0, "", longName, "ab\n");
#if !defined(__SANITIZE_ADDRESS__)
    // Just enough address space to start, not enough for the job's buffers.
    row("not enough memory",
        "for v in $(seq 2000 250 50000); do (ulimit -v $v; $CLI --version) >/dev/null && break; done 2>/dev/null; "
        "ulimit -v $((v + 250)); " + split + "-o out.txt in.txt", 1, "fwprep-cli: not enough memory to run the job\n",
        "out.txt", QByteArray());
#endif
}

void TestCliFaults::outputs()
{
    QFETCH(QString, script);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(QString, file);
    QFETCH(QByteArray, content);

    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), "ab\n");
    Options options;
    options.workDir = dir.path();
    options.program = "/bin/sh";
    const Run r = runCli(
        {"-c", "keep() { rc=$?; test $1 \"$2\" || echo \"$2: replaced\" >&2; return $rc; }\n" + script}, options);
    if (r.exitCode == 77)
        QSKIP("needs root and the right to make device nodes");
    QCOMPARE(r.err, message.toUtf8());
    QCOMPARE(r.exitCode, exitCode);
    if (!file.isEmpty())
        QCOMPARE(readFile(dir.filePath(file)), content);
    QCOMPARE(strayTemporaries(dir.path()), QStringList());
}

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_cli_faults.moc"
