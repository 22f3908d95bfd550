// The desktop program as a whole: the folder it works in, its command line,
// and how it ends on a signal, a quit request or a file-size limit. The
// program runs in a process of its own, driven by the library in
// desktop_driver.cpp; every wait has a deadline and the child is killed when
// a test ends, whatever happened.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"
#include "test_files.h"
#include "work_folder.h"

using namespace fwprep;
using namespace fwprep::app;
using test::readFile;
using test::writeFile;

namespace {

constexpr int kDeadlineMs = 20000;

QString reason(int error)
{
    return QString::fromStdString(describeError(error));
}

// The real program with the driver loaded into it.
class Program {
public:
    explicit Program(const QString& program = QStringLiteral(FWPREP_APP))
        : program_(program)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FWPREP_DRIVER));
        // Under AddressSanitizer its runtime is then not the first library.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
            env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
        process_.setProcessEnvironment(env);
    }
    ~Program()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kDeadlineMs);
        }
    }

    void set(const QString& name, const QString& value)
    {
        auto env = process_.processEnvironment();
        env.insert(name, value);
        process_.setProcessEnvironment(env);
    }
    QProcess& process() { return process_; }
    bool start(const QStringList& arguments, const QString& folder)
    {
        process_.setWorkingDirectory(folder);
        process_.start(program_, arguments);
        return process_.waitForStarted(kDeadlineMs);
    }
    // Waits for a line of the driver's that starts with `prefix`; the line, or
    // a null string at the deadline or when the program has ended.
    QString waitForLine(const QString& prefix)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < kDeadlineMs) {
            while (process_.canReadLine()) {
                const QString line = QString::fromUtf8(process_.readLine()).chopped(1);
                if (line.startsWith(prefix))
                    return line;
            }
            if (process_.state() == QProcess::NotRunning)
                return {};
            process_.waitForReadyRead(50);
        }
        return {};
    }
    bool ends() { return process_.waitForFinished(kDeadlineMs); }
    void send(int signal) { ::kill(static_cast<pid_t>(process_.processId()), signal); }
    // Killed by `signal`, as the system would have ended it.
    bool endedBy(int signal) const
    {
        return process_.exitStatus() == QProcess::CrashExit && process_.exitCode() == signal;
    }

private:
    QString program_;
    QProcess process_;
};

// The program copied into a folder of its own, where it works (as the old
// program did too).
QString copyProgramInto(const QString& folder)
{
    const QString copy = folder + QStringLiteral("/fwprep");
    if (!QFile::copy(QStringLiteral(FWPREP_APP), copy))
        return {};
    QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::ExeOwner);
    return copy;
}

QStringList temporaries(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden);
}

const QByteArray kOld("old test1\n");

} // namespace

class TestDesktopProgram : public QObject {
    Q_OBJECT
private slots:
    void workFolder_data();
    void workFolder();
    void commandLine_data();
    void commandLine();
    void jobInTheGivenFolder();
    void endsCleanlyDuringAJob_data();
    void endsCleanlyDuringAJob();
    void fileSizeLimitIsReported();
};

void TestDesktopProgram::workFolder_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("given"); // none or one
    QTest::addColumn<QString>("current");
    QTest::addColumn<QStringList>("unusable"); // "path=errno"
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("error");

    const QString enoent = QString::number(ENOENT), enotdir = QString::number(ENOTDIR),
                  eacces = QString::number(EACCES);
    const QString home = QStringLiteral("/home/ayse");
    QTest::newRow("build folder: beside the program")
        << "/src/fwprep/build/app" << QStringList{} << home << QStringList{} << "/src/fwprep/build/app" << "";
    QTest::newRow("copied into a folder of the user's")
        << "/home/ayse/araclar/" << QStringList{} << "/tmp" << QStringList{} << "/home/ayse/araclar" << "";
    QTest::newRow("installed, started in a terminal")
        << "/usr/bin" << QStringList{} << "/home/ayse/veri" << QStringList{} << "/home/ayse/veri" << "";
    QTest::newRow("installed, root in a writable folder: not beside the program")
        << "/usr/bin" << QStringList{} << "/root/is" << QStringList{} << "/root/is" << "";
    QTest::newRow("installed, started from /") << "/usr/bin" << QStringList{} << "/" << QStringList{} << home << "";
    QTest::newRow("installed, current folder not writable")
        << "/usr/bin" << QStringList{} << "/srv/ortak" << QStringList{"/srv/ortak=" + eacces} << home << "";
    QTest::newRow("in a folder the user cannot write")
        << "/opt/fwprep" << QStringList{} << "/home/ayse/veri" << QStringList{"/opt/fwprep=" + eacces}
        << "/home/ayse/veri" << "";
    QTest::newRow("FOLDER absolute, installed program")
        << "/usr/bin" << QStringList{"/home/ayse/veri"} << "/" << QStringList{} << "/home/ayse/veri" << "";
    QTest::newRow("FOLDER relative to the current folder")
        << "/src/fwprep/build/app" << QStringList{"veri/../kayit/"} << home << QStringList{} << "/home/ayse/kayit"
        << "";
    QTest::newRow("FOLDER . rather than the program's folder")
        << "/src/fwprep/build/app" << QStringList{"."} << home << QStringList{} << home << "";
    QTest::newRow("FOLDER missing") << "/usr/bin" << QStringList{"yok"} << home
                                    << QStringList{"/home/ayse/yok=" + enoent} << "" << "yok: " + reason(ENOENT);
    QTest::newRow("FOLDER a file") << "/usr/bin" << QStringList{"in.txt"} << home
                                   << QStringList{"/home/ayse/in.txt=" + enotdir} << ""
                                   << "in.txt: " + reason(ENOTDIR);
    QTest::newRow("FOLDER not writable") << "/src/b" << QStringList{"/srv/ortak"} << home
                                         << QStringList{"/srv/ortak=" + eacces} << ""
                                         << "/srv/ortak: " + reason(EACCES);
    QTest::newRow("FOLDER empty") << "/src/b" << QStringList{""} << home << QStringList{} << ""
                                  << "'': " + reason(ENOENT);
}

void TestDesktopProgram::workFolder()
{
    QFETCH(QString, program);
    QFETCH(QStringList, given);
    QFETCH(QString, current);
    QFETCH(QStringList, unusable);
    QFETCH(QString, folder);
    QFETCH(QString, error);
    std::map<QString, int> errors;
    for (const QString& entry : unusable)
        errors[entry.section(QLatin1Char('='), 0, 0)] = entry.section(QLatin1Char('='), 1).toInt();
    const auto check = [&](const QString& path) {
        const auto it = errors.find(path);
        return it == errors.end() ? 0 : it->second;
    };
    const WorkFolder chosen = chooseWorkFolder({
        .programFolder = program,
        .installBinFolder = QStringLiteral("/usr/bin"),
        .given = given.isEmpty() ? std::nullopt : std::optional<QString>(given.front()),
        .currentFolder = current,
        .homeFolder = QStringLiteral("/home/ayse"),
    }, check);
    QCOMPARE(chosen.path, folder);
    QCOMPARE(chosen.error, error);
}

void TestDesktopProgram::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1: a temporary folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");  // how standard output begins
    QTest::addColumn<QString>("err");  // standard error's first line, if any
    QTest::addColumn<QString>("box");  // the message box's text, if any

    QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: fwprep [FOLDER]\n" << "" << "";
    QTest::newRow("-h after a folder") << QStringList{"%1", "-h"} << 0 << "Usage: fwprep [FOLDER]\n" << "" << "";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "fwprep " FWPREP_VERSION "\n" << "" << "";
    QTest::newRow("folder missing") << QStringList{"%1/yok"} << 2 << "" << "fwprep: %1/yok: " + reason(ENOENT)
                                    << "%1/yok: " + reason(ENOENT);
    QTest::newRow("folder is a file") << QStringList{"%1/in.txt"} << 2 << "" << "fwprep: %1/in.txt: " + reason(ENOTDIR)
                                      << "%1/in.txt: " + reason(ENOTDIR);
    QTest::newRow("two folders") << QStringList{"%1", "%1"} << 2 << "" << "fwprep: one folder at most"
                                 << "one folder at most";
    QTest::newRow("unknown option") << QStringList{"--renk"} << 2 << ""
                                    << "fwprep: unrecognized option '--renk'" << "unrecognized option '--renk'";
}

// Every refusal comes before the screens show, on standard error and in a box.
void TestDesktopProgram::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, box);
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), "abc\n");
    for (QString& a : arguments)
        a.replace(QLatin1String("%1"), dir.path());

    Program fwprep;
    QVERIFY(fwprep.start(arguments, dir.path()));
    QVERIFY(fwprep.ends());
    const QString stdoutText = QString::fromUtf8(fwprep.process().readAllStandardOutput());
    const QString stderrText = QString::fromUtf8(fwprep.process().readAllStandardError());
    QCOMPARE(fwprep.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(fwprep.process().exitCode(), status);
    QVERIFY2(!stdoutText.contains(QLatin1String("shown Form1")), qPrintable(stdoutText));
    if (box.isEmpty()) {
        QVERIFY2(stdoutText.startsWith(out), qPrintable(stdoutText));
        QVERIFY(!stdoutText.contains(QLatin1String("box ")));
        return;
    }
    const QString folder = dir.path();
    QCOMPARE(stdoutText, QStringLiteral("box fwprep|") + QString(box).replace(QLatin1String("%1"), folder) + '\n');
    // Qt may have its say first.
    QVERIFY2(stderrText.split(QLatin1Char('\n')).contains(QString(err).replace(QLatin1String("%1"), folder)),
        qPrintable(stderrText));
    QCOMPARE(test::entries(dir.path()), QStringList{"in.txt"});
}

// FOLDER is where the input is read and the output written, whatever the
// current folder.
void TestDesktopProgram::jobInTheGivenFolder()
{
    QTemporaryDir dir, elsewhere;
    writeFile(dir.filePath("in.txt"), "abcdef\n");
    Program fwprep;
    fwprep.set(QStringLiteral("FWPREP_DRIVE_FIELDS"), QStringLiteral("2|3|in"));
    QVERIFY(fwprep.start({dir.path()}, elsewhere.path()));
    QVERIFY(!fwprep.waitForLine(QStringLiteral("pressing")).isNull());
    QTRY_COMPARE_WITH_TIMEOUT(readFile(dir.filePath("test1.txt")), QByteArray("abc\ndef\n"), kDeadlineMs);
    QCOMPARE(test::entries(elsewhere.path()), QStringList{});
    fwprep.send(SIGTERM);
    QVERIFY(fwprep.ends());
    QVERIFY(fwprep.endedBy(SIGTERM));
}

void TestDesktopProgram::endsCleanlyDuringAJob_data()
{
    QTest::addColumn<int>("signal"); // 0: the program is asked to quit
    QTest::newRow("SIGTERM, as a logout sends") << int(SIGTERM);
    QTest::newRow("SIGHUP, a closed terminal") << int(SIGHUP);
    QTest::newRow("SIGINT, Ctrl+C") << int(SIGINT);
    QTest::newRow("quit request") << 0;
}

// A job waits on a FIFO that a writer keeps open, with its temporary output
// file made; the program must cancel it, let it remove that file, and end.
void TestDesktopProgram::endsCleanlyDuringAJob()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString program = copyProgramInto(dir.path());
    QVERIFY(!program.isEmpty());
    writeFile(dir.filePath("test1.txt"), kOld);
    const QByteArray fifo = QFile::encodeName(dir.filePath("wait.txt"));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);

    Program fwprep(program);
    fwprep.set(QStringLiteral("FWPREP_DRIVE_FIELDS"), QStringLiteral("2|5|wait"));
    fwprep.set(QStringLiteral("FWPREP_DRIVE_QUIT_FILE"), dir.filePath("quit"));
    QVERIFY(fwprep.start({}, dir.path()));
    QVERIFY(!fwprep.waitForLine(QStringLiteral("pressing")).isNull());

    // The writer end, once the job has opened the FIFO for reading.
    int writer = -1;
    auto closeWriter = qScopeGuard([&writer] {
        if (writer >= 0)
            ::close(writer);
    });
    QTRY_VERIFY_WITH_TIMEOUT((writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0, kDeadlineMs);
    const QByteArray lines = QByteArray("abcdefghijklmnopqrstuvwxyz\n").repeated(100);
    QCOMPARE(::write(writer, lines.constData(), size_t(lines.size())), ssize_t(lines.size()));
    QTRY_COMPARE_WITH_TIMEOUT(temporaries(dir.path()).size(), 1, kDeadlineMs);

    if (signal != 0)
        fwprep.send(signal);
    else
        writeFile(dir.filePath("quit"), "");
    QVERIFY2(fwprep.ends(), "the program did not end");
    if (signal != 0) {
        QVERIFY(fwprep.endedBy(signal));
    } else {
        QCOMPARE(fwprep.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(fwprep.process().exitCode(), 0);
    }
    QCOMPARE(temporaries(dir.path()), QStringList{});
    QCOMPARE(readFile(dir.filePath("test1.txt")), kOld);
}

// Under a file-size limit, started as a shell starts it (SIGXFSZ at its
// default), the job fails like on a full disk and says so.
void TestDesktopProgram::fileSizeLimitIsReported()
{
    QTemporaryDir dir;
    const QString program = copyProgramInto(dir.path());
    QVERIFY(!program.isEmpty());
    writeFile(dir.filePath("test1.txt"), kOld);
    writeFile(dir.filePath("big.txt"), QByteArray("0123456789abcde\n").repeated(64 * 1024));

    Program fwprep(program);
    fwprep.set(QStringLiteral("FWPREP_DRIVE_FIELDS"), QStringLiteral("3|5|big"));
    fwprep.process().setChildProcessModifier([] {
        const struct rlimit limit {256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::signal(SIGXFSZ, SIG_DFL);
    });
    QVERIFY(fwprep.start({}, dir.path()));
    const QString box = fwprep.waitForLine(QStringLiteral("box "));
    QCOMPARE(box, QStringLiteral("box fwprep|Dosya yazılamadı: %1/test1.txt\\n%2").arg(dir.path(), reason(EFBIG)));
    QCOMPARE(temporaries(dir.path()), QStringList{});
    QCOMPARE(readFile(dir.filePath("test1.txt")), kOld);
    fwprep.send(SIGTERM);
    QVERIFY(fwprep.ends());
}

QTEST_GUILESS_MAIN(TestDesktopProgram)
#include "tst_desktop_program.moc"
