// Jobs that go wrong half way: a write that fails, a read that fails, outputs
// in places that cannot take them, names that reach out of the program's
// folder, outputs behind symbolic links, and endless inputs that are cancelled.
// In every case the job must end with an error that says what happened, leave
// no temporary file, and leave the old output exactly as it was.

#include <QDir>
#include <QScopeGuard>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "errors.h"
#include "fault_helpers.h"
#include "file_job.h"
#include "job_setup.h"
#include "test_files.h"

using namespace fwprep;
using namespace fwprep::test;

Q_DECLARE_METATYPE(fwprep::JobKind)

namespace {

const QByteArray kOld("old output, must survive\r\n");

QString show(const JobResult& r)
{
    if (!r)
        return "success";
    return QStringLiteral("kind %1, path '%2', reason '%3'")
        .arg(int(r->kind))
        .arg(QString::fromStdString(r->path), QString::fromStdString(r->reason));
}

FileJob fileJob(JobKind kind, const QString& in, const QString& out)
{
    FileJob job;
    job.input = in.toStdString();
    job.output = out.toStdString();
    job.params.kind = kind;
    job.params.count = kind == JobKind::Split ? 1 : 2;
    job.params.width = 40;
    return job;
}

QString linkTarget(const QString& path)
{
    QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : QString();
}

} // namespace

class TestJobFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void writeFailsMidJob_data();
    void writeFailsMidJob();
    void readFailsMidJob_data();
    void readFailsMidJob();
    void inputChangesSizeMidJob_data();
    void inputChangesSizeMidJob();
    void foreignBusErrorStillKills_data();
    void foreignBusErrorStillKills();
    void badInputs_data();
    void badInputs();
    void badOutputPlaces_data();
    void badOutputPlaces();
    void nameFieldReachesOut_data();
    void nameFieldReachesOut();
    void outputIsSymlink_data();
    void outputIsSymlink();
    void endlessInputCancelled_data();
    void endlessInputCancelled();
};

void TestJobFaults::initTestCase()
{
    // A writer thread below writes into a FIFO whose reader may be gone.
    std::signal(SIGPIPE, SIG_IGN);
}

void TestJobFaults::writeFailsMidJob_data()
{
    QTest::addColumn<JobKind>("kind");
    QTest::addColumn<bool>("fullFileSystem"); // else a file-size limit
    QTest::addColumn<bool>("oldOutput");

    for (const auto kind : {JobKind::Split, JobKind::Join}) {
        const char* k = kind == JobKind::Split ? "split" : "join";
        QTest::addRow("%s, file-size limit, old output kept", k) << kind << false << true;
        QTest::addRow("%s, file-size limit, no output created", k) << kind << false << false;
        QTest::addRow("%s, full file system, old output kept", k) << kind << true << true;
        QTest::addRow("%s, full file system, no output created", k) << kind << true << false;
    }
}

void TestJobFaults::writeFailsMidJob()
{
    QFETCH(JobKind, kind);
    QFETCH(bool, fullFileSystem);
    QFETCH(bool, oldOutput);

    QTemporaryDir dir;
    const QString input = dir.filePath("in.txt");
    writeFile(input, manyLines(6 << 20, 40)); // several output blocks
    QVERIFY(QDir(dir.path()).mkpath("out"));
    const QString outFolder = dir.filePath("out");

    std::unique_ptr<SmallFileSystem> fs;
    if (fullFileSystem) {
        fs = std::make_unique<SmallFileSystem>(outFolder, 2 << 20);
        if (!fs->ok())
            QSKIP(qPrintable("cannot mount a small file system here: " + fs->error()));
    }
    const QString output = outFolder + "/out.txt";
    if (oldOutput)
        writeFile(output, kOld);
    const QStringList before = entries(outFolder);

    JobResult r;
    if (fullFileSystem) {
        r = runFileJob(fileJob(kind, input, output));
    } else {
        FileSizeLimit limit(3 << 20);
        r = runFileJob(fileJob(kind, input, output));
    }

    QVERIFY2(r && r->kind == JobError::Kind::OutputUnwritable, qPrintable(show(r)));
    QCOMPARE(QString::fromStdString(r->path), output);
    QCOMPARE(QString::fromStdString(r->reason), reasonFor(fullFileSystem ? ENOSPC : EFBIG));
    QCOMPARE(entries(outFolder), before);
    QCOMPARE(readFile(output), oldOutput ? kOld : QByteArray());
}

void TestJobFaults::readFailsMidJob_data()
{
    QTest::addColumn<JobKind>("kind");
    QTest::newRow("split") << JobKind::Split;
    QTest::newRow("join") << JobKind::Join;
}

void TestJobFaults::readFailsMidJob()
{
    // Standard input reads this process's own memory: a mapped area of text
    // lines, then a hole, where the read fails with EIO after megabytes of
    // input have been read and output has been written.
    QFETCH(JobKind, kind);
    const long page = sysconf(_SC_PAGESIZE);
    const std::size_t textSize = std::size_t{4} << 20;
    char* area = static_cast<char*>(
        mmap(nullptr, textSize + 16 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    QVERIFY(area != MAP_FAILED);
    const QByteArray text = manyLines(textSize, 40).left(qsizetype(textSize));
    std::memcpy(area, text.constData(), textSize);
    QCOMPARE(munmap(area + textSize, 16 * page), 0);

    const int mem = open("/proc/self/mem", O_RDONLY | O_CLOEXEC);
    QVERIFY(mem >= 0);
    QVERIFY(lseek(mem, reinterpret_cast<off_t>(area), SEEK_SET) >= 0);
    const int savedStdin = dup(STDIN_FILENO);
    dup2(mem, STDIN_FILENO);
    close(mem);

    QTemporaryDir dir;
    const QString output = dir.filePath("out.txt");
    writeFile(output, kOld);
    std::uint64_t readSoFar = 0;
    JobControl control;
    control.progress = [&](std::uint64_t done, std::uint64_t) { readSoFar = done; };
    const JobResult r = runFileJob(fileJob(kind, "-", output), control);

    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
    munmap(area, textSize);

    QVERIFY2(r && r->kind == JobError::Kind::InputUnreadable, qPrintable(show(r)));
    QCOMPARE(r->path, std::string("-"));
    QCOMPARE(QString::fromStdString(r->reason), reasonFor(EIO));
    QCOMPARE(readSoFar, std::uint64_t{textSize});
    QCOMPARE(entries(dir.path()), QStringList{"out.txt"});
    QCOMPARE(readFile(output), kOld);
}

void TestJobFaults::inputChangesSizeMidJob_data()
{
    QTest::addColumn<JobKind>("kind");
    QTest::addColumn<bool>("shrinks");
    QTest::addColumn<bool>("mapped"); // read through a mapping (FWPREP_INPUT=map), else with read()
    for (const bool mapped : {false, true}) {
        const char* how = mapped ? ", mapped" : "";
        QTest::addRow("split, input cut short%s", how) << JobKind::Split << true << mapped;
        QTest::addRow("join, input cut short%s", how) << JobKind::Join << true << mapped;
        QTest::addRow("split, input grows%s", how) << JobKind::Split << false << mapped;
        QTest::addRow("join, input grows%s", how) << JobKind::Join << false << mapped;
    }
}

void TestJobFaults::inputChangesSizeMidJob()
{
    // Another program changes the size of a large input while the job reads
    // it. Cut short, the job must fail (and, through a mapping, not crash);
    // grown, the lines added are read like the others.
    QFETCH(JobKind, kind);
    QFETCH(bool, shrinks);
    QFETCH(bool, mapped);
    qputenv("FWPREP_INPUT", mapped ? "map" : "read");
    const auto restore = qScopeGuard([] { qunsetenv("FWPREP_INPUT"); });
    QTemporaryDir dir;
    const QString input = dir.filePath("in.txt");
    const QString output = dir.filePath("out.txt");
    const QByteArray text = manyLines(std::uint64_t{16} << 20, 40);
    const QByteArray added = manyLines(std::uint64_t{3} << 20, 25);
    writeFile(input, text);
    writeFile(output, kOld);

    bool changed = false;
    JobControl control;
    control.progress = [&](std::uint64_t done, std::uint64_t) {
        if (changed || done < (std::uint64_t{6} << 20))
            return;
        changed = true;
        if (shrinks) {
            QCOMPARE(truncate(QFile::encodeName(input).constData(), 1 << 20), 0);
        } else {
            QFile f(input);
            QVERIFY(f.open(QIODevice::Append));
            QCOMPARE(f.write(added), added.size());
        }
    };
    const FileJob job = fileJob(kind, input, output);
    const JobResult r = runFileJob(job, control);
    QVERIFY(changed);
    if (shrinks) {
        QVERIFY2(r && r->kind == JobError::Kind::InputUnreadable, qPrintable(show(r)));
        QCOMPARE(QString::fromStdString(r->reason), reasonFor(kInputShrank));
        QCOMPARE(entries(dir.path()), (QStringList{"in.txt", "out.txt"}));
        QCOMPARE(readFile(output), kOld);
    } else {
        QVERIFY2(!r, qPrintable(show(r)));
        const std::string expected = transformBytes((text + added).toStdString(), job.params, 1 << 20, SIZE_MAX);
        QCOMPARE(readFile(output).toStdString(), expected);
    }
}

void TestJobFaults::foreignBusErrorStillKills_data()
{
    QTest::addColumn<bool>("sent");    // raise(), else a fault of a mapping not ours
    QTest::addColumn<bool>("oneShot"); // a one-shot handler was there before ours
    for (const bool oneShot : {false, true}) {
        const QString before = oneShot ? "one-shot handler before" : "handler as found";
        QTest::newRow(qPrintable("sent, " + before)) << true << oneShot;
        QTest::newRow(qPrintable("fault, " + before)) << false << oneShot;
    }
}

void TestJobFaults::foreignBusErrorStillKills()
{
    // Once the jobs have mapped a file, a SIGBUS that is not about one of
    // their mappings must go where it would have gone without them: to the
    // handler that was there before (QtTest's own, or one installed with
    // SA_RESETHAND that raises the signal again), or to the default action.
    QFETCH(bool, sent);
    QFETCH(bool, oneShot);
    qputenv("FWPREP_INPUT", "map");
    const auto restore = qScopeGuard([] { qunsetenv("FWPREP_INPUT"); });
    QTemporaryDir dir;
    const QString input = dir.filePath("in.txt");
    writeFile(input, manyLines(std::uint64_t{4} << 20, 40));
    const FileJob job = fileJob(JobKind::Join, input, dir.filePath("out.txt"));
    QVERIFY(!runFileJob(job, JobControl{}));
    int seen[2];
    QCOMPARE(::pipe(seen), 0);

    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        static int seenFd = seen[1];
        if (oneShot) {
            struct sigaction once {};
            once.sa_handler = [](int sig) {
                (void)!::write(seenFd, "x", 1);
                ::raise(sig);
            };
            once.sa_flags = SA_RESETHAND;
            sigemptyset(&once.sa_mask);
            ::sigaction(SIGBUS, &once, nullptr);
            if (runFileJob(job, JobControl{})) // maps again: ours goes on top
                _exit(3);
        }
        if (sent) {
            ::raise(SIGBUS);
        } else {
            // A mapping of our own past the end of its file.
            const int fd = ::open(QFile::encodeName(input).constData(), O_RDWR);
            auto* p = static_cast<volatile char*>(mmap(nullptr, 1 << 20, PROT_READ, MAP_SHARED, fd, 0));
            if (fd < 0 || p == MAP_FAILED || ftruncate(fd, 0) != 0)
                _exit(3);
            (void)p[4096];
        }
        _exit(0);
    }
    ::close(seen[1]);
    // A handler that loops would keep the child alive for good.
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 200 && (done = waitpid(child, &status, WNOHANG)) == 0; ++i)
        QThread::msleep(50);
    if (done == 0) {
        ::kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ::close(seen[0]);
        QFAIL("the child did not end on SIGBUS");
    }
    char mark = 0;
    const bool handlerRan = ::read(seen[0], &mark, 1) == 1;
    ::close(seen[0]);
    // Killed by the signal; under AddressSanitizer, its report ends the
    // process with a failure status instead.
    const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
    const bool reported = WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 3;
    QVERIFY2(killed || reported, qPrintable(QString::number(status)));
    QCOMPARE(handlerRan, oneShot);
}

void TestJobFaults::badInputs_data()
{
    QTest::addColumn<QString>("input"); // relative to the test folder, or absolute
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("error"); // 0: no reason given

    using K = JobError::Kind;
    QTest::newRow("input is a folder") << "folder" << int(K::InputUnreadable) << EISDIR;
    QTest::newRow("input is a link to a folder") << "folder-link" << int(K::InputUnreadable) << EISDIR;
    QTest::newRow("input reads fail at once") << "/proc/self/mem" << int(K::InputUnreadable) << EIO;
    QTest::newRow("input through a regular file") << "in.txt/x.txt" << int(K::InputMissing) << 0;
    QTest::newRow("input link dangles") << "dangling" << int(K::InputMissing) << 0;
    QTest::newRow("input link loops") << "loop-a" << int(K::InputUnreadable) << ELOOP;
}

void TestJobFaults::badInputs()
{
    QFETCH(QString, input);
    QFETCH(int, kind);
    QFETCH(int, error);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("folder"));
    writeFile(dir.filePath("in.txt"), "abc\n");
    QVERIFY(QFile::link(dir.filePath("folder"), dir.filePath("folder-link")));
    QVERIFY(QFile::link(dir.filePath("nothing.txt"), dir.filePath("dangling")));
    QVERIFY(QFile::link(dir.filePath("loop-b"), dir.filePath("loop-a")));
    QVERIFY(QFile::link(dir.filePath("loop-a"), dir.filePath("loop-b")));
    const QString output = dir.filePath("out.txt");
    writeFile(output, kOld);
    const QStringList before = entries(dir.path());

    const QString path = input.startsWith('/') ? input : dir.filePath(input);
    for (const auto job : {JobKind::Split, JobKind::Join}) {
        const JobResult r = runFileJob(fileJob(job, path, output));
        QVERIFY2(r && int(r->kind) == kind, qPrintable(show(r)));
        QCOMPARE(QString::fromStdString(r->path), path);
        QCOMPARE(QString::fromStdString(r->reason), error ? reasonFor(error) : QString());
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(readFile(output), kOld);
    }
}

void TestJobFaults::badOutputPlaces_data()
{
    QTest::addColumn<QString>("output"); // relative to the test folder
    QTest::addColumn<int>("error");

    QTest::newRow("output folder missing") << "nodir/out.txt" << ENOENT;
    QTest::newRow("output folder is a file") << "in.txt/out.txt" << ENOTDIR;
    QTest::newRow("output is a folder") << "folder" << EISDIR;
    QTest::newRow("output is a link to a folder") << "folder-link" << EISDIR;
    QTest::newRow("output link dangles into a missing folder") << "dangling" << ENOENT;
    QTest::newRow("output link loops") << "loop-a" << ELOOP;
}

void TestJobFaults::badOutputPlaces()
{
    QFETCH(QString, output);
    QFETCH(int, error);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("folder"));
    writeFile(dir.filePath("in.txt"), "abc\ndef\n");
    writeFile(dir.filePath("folder/keep.txt"), kOld);
    QVERIFY(QFile::link(dir.filePath("folder"), dir.filePath("folder-link")));
    QVERIFY(QFile::link(dir.filePath("nodir/x.txt"), dir.filePath("dangling")));
    QVERIFY(QFile::link("loop-b", dir.filePath("loop-a")));
    QVERIFY(QFile::link("loop-a", dir.filePath("loop-b")));
    const QStringList before = entries(dir.path());
    const QStringList linksBefore = {linkTarget(dir.filePath("folder-link")), linkTarget(dir.filePath("dangling")),
        linkTarget(dir.filePath("loop-a")), linkTarget(dir.filePath("loop-b"))};

    for (const auto job : {JobKind::Split, JobKind::Join}) {
        const JobResult r = runFileJob(fileJob(job, dir.filePath("in.txt"), dir.filePath(output)));
        QVERIFY2(r && r->kind == JobError::Kind::OutputUnwritable, qPrintable(show(r)));
        QCOMPARE(QString::fromStdString(r->path), dir.filePath(output));
        QCOMPARE(QString::fromStdString(r->reason), reasonFor(error));
        QCOMPARE(entries(dir.path()), before);
        QCOMPARE(entries(dir.filePath("folder")), QStringList{"keep.txt"});
        QCOMPARE(readFile(dir.filePath("in.txt")), QByteArray("abc\ndef\n"));
        const QStringList linksAfter = {linkTarget(dir.filePath("folder-link")), linkTarget(dir.filePath("dangling")),
            linkTarget(dir.filePath("loop-a")), linkTarget(dir.filePath("loop-b"))};
        QCOMPARE(linksAfter, linksBefore);
    }
}

void TestJobFaults::nameFieldReachesOut_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reads"); // the file read, relative to the test folder; empty: none
    QTest::addColumn<QString>("missing"); // the path reported missing, relative to the program's folder

    QTest::newRow("up through .. with backslashes") << "..\\outside" << "outside.txt" << "";
    QTest::newRow("up through .. with slashes") << "../outside" << "outside.txt" << "";
    QTest::newRow("down and up again") << "sub\\..\\..\\outside" << "outside.txt" << "";
    QTest::newRow("into a subfolder") << "sub\\inner" << "app/sub/inner.txt" << "";
    QTest::newRow("up to a missing file") << "..\\nothere" << "" << "/../nothere.txt";
    QTest::newRow("backslash at the end") << "sub\\" << "" << "/sub/.txt";
    QTest::newRow("backslash at the start") << "\\outside" << "" << "//outside.txt";
    QTest::newRow("through the output file") << "test1.txt\\x" << "" << "/test1.txt/x.txt";
}

void TestJobFaults::nameFieldReachesOut()
{
    // A name may reach into other folders (a backslash is a folder separator),
    // but the output is always the fixed file in the program's folder: nothing
    // is ever created or changed anywhere else.
    QFETCH(QString, name);
    QFETCH(QString, reads);
    QFETCH(QString, missing);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("app/sub"));
    writeFile(dir.filePath("outside.txt"), "outside line\n");
    writeFile(dir.filePath("app/sub/inner.txt"), "inner line\n");
    const QString app = dir.filePath("app");
    writeFile(app + "/test1.txt", kOld);
    const QStringList topBefore = entries(dir.path());
    const QStringList subBefore = entries(app + "/sub");

    const JobResult r = runScreenJob(JobKind::Split, {"1", "5", name.toStdString()}, app.toStdString());

    QCOMPARE(entries(dir.path()), topBefore);
    QCOMPARE(entries(app + "/sub"), subBefore);
    QCOMPARE(entries(app), (QStringList{"sub", "test1.txt"}));
    if (!reads.isEmpty()) {
        QVERIFY2(!r, qPrintable(show(r)));
        QCOMPARE(readFile(app + "/test1.txt"), readFile(dir.filePath(reads)).left(5) + "\n");
    } else {
        QVERIFY2(r && r->kind == JobError::Kind::InputMissing, qPrintable(show(r)));
        QCOMPARE(QString::fromStdString(r->path), app + missing);
        QCOMPARE(readFile(app + "/test1.txt"), kOld);
    }
}

void TestJobFaults::outputIsSymlink_data()
{
    QTest::addColumn<QString>("linkTo"); // what the link "app/test1.txt" holds
    QTest::addColumn<QString>("target"); // the file meant, relative to the test folder
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<bool>("writeFails");

    for (const bool fails : {false, true}) {
        const char* how = fails ? "write fails" : "succeeds";
        QTest::addRow("relative link into another folder, %s", how) << "../data/real.txt" << "data/real.txt" << true << fails;
        QTest::addRow("absolute link, %s", how) << "@/data/real.txt" << "data/real.txt" << true << fails;
        QTest::addRow("chain of two links, %s", how) << "hop.txt" << "data/real.txt" << true << fails;
        QTest::addRow("link beside its target, %s", how) << "beside.txt" << "app/beside.txt" << true << fails;
        QTest::addRow("dangling link, %s", how) << "../data/new.txt" << "data/new.txt" << false << fails;
    }
}

void TestJobFaults::outputIsSymlink()
{
    // An output name that is a symbolic link is written through: the file it
    // finally points to is replaced, the link (and every link on the way) stays
    // as it was. On failure the target keeps its old bytes.
    QFETCH(QString, linkTo);
    QFETCH(QString, target);
    QFETCH(bool, targetExists);
    QFETCH(bool, writeFails);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("app"));
    QVERIFY(QDir(dir.path()).mkpath("data"));
    const QString app = dir.filePath("app");
    const QByteArray input = writeFails ? manyLines(6 << 20, 40) : QByteArray("abcdefgh\r\nij\r\n");
    writeFile(app + "/in.txt", input);
    if (targetExists)
        writeFile(dir.filePath(target), kOld);
    QVERIFY(QFile::link("../data/real.txt", app + "/hop.txt"));
    const QString link = app + "/test1.txt";
    QVERIFY(QFile::link(linkTo.startsWith('@') ? dir.path() + linkTo.mid(1) : linkTo, link));
    const QString linkBefore = linkTarget(link);
    const QString hopBefore = linkTarget(app + "/hop.txt");
    const QStringList appBefore = entries(app);
    const QStringList dataBefore = entries(dir.filePath("data"));

    JobResult r;
    if (writeFails) {
        FileSizeLimit limit(512 << 10); // the output would be about 1.5 MiB
        r = runScreenJob(JobKind::Split, {"2", "4", "in"}, app.toStdString());
    } else {
        r = runScreenJob(JobKind::Split, {"2", "4", "in"}, app.toStdString());
    }

    QCOMPARE(linkTarget(link), linkBefore);
    QCOMPARE(linkTarget(app + "/hop.txt"), hopBefore);
    if (writeFails) {
        QVERIFY2(r && r->kind == JobError::Kind::OutputUnwritable, qPrintable(show(r)));
        QCOMPARE(QString::fromStdString(r->path), link);
        QCOMPARE(QString::fromStdString(r->reason), reasonFor(EFBIG));
        QCOMPARE(readFile(dir.filePath(target)), targetExists ? kOld : QByteArray());
        QCOMPARE(entries(app), appBefore);
        QCOMPARE(entries(dir.filePath("data")), dataBefore);
    } else {
        QVERIFY2(!r, qPrintable(show(r)));
        QCOMPARE(readFile(dir.filePath(target)), QByteArray("abcd\r\nefgh\r\nij\r\n\r\n"));
        QCOMPARE(entries(app), appBefore);
        QStringList dataAfter = dataBefore;
        if (!targetExists) {
            dataAfter << QFileInfo(target).fileName();
            dataAfter.sort();
        }
        QCOMPARE(entries(dir.filePath("data")), dataAfter);
    }
}

void TestJobFaults::endlessInputCancelled_data()
{
    QTest::addColumn<JobKind>("kind");
    // "fifo", "lines" (a FIFO fed without end), "zero", "cancelled"; or an
    // output FIFO: "no reader", "stalled reader" (never reads)
    QTest::addColumn<QString>("source");

    for (const auto kind : {JobKind::Split, JobKind::Join}) {
        const char* k = kind == JobKind::Split ? "split" : "join";
        QTest::addRow("%s, FIFO that never gets a writer", k) << kind << "fifo";
        QTest::addRow("%s, FIFO fed lines without end", k) << kind << "lines";
        QTest::addRow("%s, /dev/zero (one endless line)", k) << kind << "zero";
        QTest::addRow("%s, cancelled before the start", k) << kind << "cancelled";
        QTest::addRow("%s, output FIFO that never gets a reader", k) << kind << "no reader";
        QTest::addRow("%s, output FIFO whose reader never reads", k) << kind << "stalled reader";
    }
}

void TestJobFaults::endlessInputCancelled()
{
    QFETCH(JobKind, kind);
    QFETCH(QString, source);

    QTemporaryDir dir;
    const bool toFifo = source.contains("reader");
    const QString output = dir.filePath(toFifo ? "out.fifo" : "out.txt");
    if (toFifo)
        QCOMPARE(mkfifo(qPrintable(output), 0600), 0);
    else
        writeFile(output, kOld);
    QString input = dir.filePath("in.fifo");
    if (source == "zero")
        input = "/dev/zero";
    else if (source == "cancelled" || source == "no reader")
        writeFile(input = dir.filePath("in.txt"), "abc\n");
    else if (source == "stalled reader")
        writeFile(input = dir.filePath("in.txt"), manyLines(8 << 20, 40)); // far more than a pipe holds
    else
        QCOMPARE(mkfifo(qPrintable(input), 0600), 0);
    const QStringList before = entries(dir.path());
    // A reader that opens the output FIFO and never reads from it.
    const int stalled = source == "stalled reader" ? open(qPrintable(output), O_RDONLY | O_NONBLOCK) : -1;

    // Feeds the FIFO until the job has ended. Opened read-write so that the
    // open never waits, and non-blocking so that the thread can stop.
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> fed{0};
    std::thread feeder;
    if (source == "lines") {
        feeder = std::thread([&] {
            const int fd = open(qPrintable(input), O_RDWR | O_NONBLOCK);
            const QByteArray lines = manyLines(1 << 16, 30);
            while (fd >= 0 && !stop) {
                const ssize_t n = write(fd, lines.constData(), std::size_t(lines.size()));
                if (n > 0)
                    fed += std::uint64_t(n);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (fd >= 0)
                close(fd);
        });
    }

    std::atomic<bool> cancel{source == "cancelled"};
    JobControl control;
    control.cancel = &cancel;
    auto job = std::async(std::launch::async, [&] { return runFileJob(fileJob(kind, input, output), control); });
    if (source != "cancelled") {
        QVERIFY(job.wait_for(std::chrono::milliseconds(400)) == std::future_status::timeout);
        if (source == "lines")
            QTRY_VERIFY(fed > (4u << 20)); // the job reads on and writes output
    }
    cancel = true;
    const bool ended = job.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    stop = true;
    if (feeder.joinable())
        feeder.join();
    if (stalled >= 0)
        close(stalled);
    QVERIFY2(ended, "the job did not see the cancel");
    const JobResult r = job.get();

    QVERIFY2(r && r->kind == JobError::Kind::Cancelled, qPrintable(show(r)));
    QCOMPARE(entries(dir.path()), before);
    struct stat st {};
    if (toFifo)
        QVERIFY(lstat(qPrintable(output), &st) == 0 && S_ISFIFO(st.st_mode));
    else
        QCOMPARE(readFile(output), kOld);
}

QTEST_GUILESS_MAIN(TestJobFaults)
#include "tst_job_faults.moc"
