// The desktop program as a whole: the folder it works in, its command line,
// and how it ends on a signal, a quit request or a file-size limit. The real
// program runs in a child process, driven by desktop_driver.cpp; every wait
// has a deadline, and QProcess kills a child still running at a test's end.

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
const QByteArray kOld("old test1\n");

QString reason(int error)
{
    return QString::fromStdString(describeError(error));
}

// Sets up `fwprep` to start `program` with the driver loaded; `drive` holds
// the driver's NAME=value settings.
void prepare(QProcess& fwprep, const QString& folder, const QStringList& drive = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(FWPREP_DRIVER));
    // Under AddressSanitizer its runtime is then not the first library.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
        env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    for (const QString& setting : drive)
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    fwprep.setProcessEnvironment(env);
    fwprep.setWorkingDirectory(folder);
}

// The driver's next line that starts with `prefix`; null at the deadline or
// when the program has ended.
QString waitForLine(QProcess& fwprep, const QString& prefix)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kDeadlineMs) {
        while (fwprep.canReadLine()) {
            const QString line = QString::fromUtf8(fwprep.readLine()).chopped(1);
            if (line.startsWith(prefix))
                return line;
        }
        if (fwprep.state() == QProcess::NotRunning)
            return {};
        fwprep.waitForReadyRead(50);
    }
    return {};
}

QStringList temporaries(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden);
}

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
};

void TestDesktopProgram::workFolder_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("given"); // none or one
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("unusable"); // a folder the check refuses
    QTest::addColumn<int>("why");
    QTest::addColumn<QString>("expected"); // the folder, or the error

    const QString home = QStringLiteral("/home/ayse"), build = QStringLiteral("/src/build/app");
    const QStringList none;
    QTest::newRow("build folder") << build << none << home << "" << 0 << build;
    QTest::newRow("copied into a folder") << "/home/ayse/araclar/" << none << "/tmp" << "" << 0 << "/home/ayse/araclar";
    QTest::newRow("installed, in a terminal") << "/usr/bin" << none << "/home/ayse/veri" << "" << 0 << "/home/ayse/veri";
    QTest::newRow("installed, root: not beside it") << "/usr/bin" << none << "/root" << "" << 0 << "/root";
    QTest::newRow("installed, started in /") << "/usr/bin" << none << "/" << "" << 0 << home;
    QTest::newRow("installed, current not writable") << "/usr/bin" << none << "/srv" << "/srv" << EACCES << home;
    QTest::newRow("program folder not writable") << "/opt/fw" << none << "/tmp" << "/opt/fw" << EACCES << "/tmp";
    QTest::newRow("FOLDER, installed") << "/usr/bin" << QStringList{"/home/ayse/veri"} << "/" << "" << 0
                                       << "/home/ayse/veri";
    QTest::newRow("FOLDER relative") << build << QStringList{"veri/../kayit/"} << home << "" << 0 << "/home/ayse/kayit";
    QTest::newRow("FOLDER .") << build << QStringList{"."} << home << "" << 0 << home;
    QTest::newRow("FOLDER missing") << build << QStringList{"yok"} << home << "/home/ayse/yok" << ENOENT << "yok: %1";
    QTest::newRow("FOLDER a file") << build << QStringList{"a.txt"} << home << "/home/ayse/a.txt" << ENOTDIR
                                   << "a.txt: %1";
    QTest::newRow("FOLDER not writable") << build << QStringList{"/srv"} << home << "/srv" << EACCES << "/srv: %1";
    QTest::newRow("FOLDER empty") << build << QStringList{""} << home << "" << ENOENT << "'': %1";
}

void TestDesktopProgram::workFolder()
{
    QFETCH(QString, program);
    QFETCH(QStringList, given);
    QFETCH(QString, current);
    QFETCH(QString, unusable);
    QFETCH(int, why);
    QFETCH(QString, expected);
    const WorkFolder chosen = chooseWorkFolder(
        {
            .programFolder = program,
            .installBinFolder = QStringLiteral("/usr/bin"),
            .given = given.isEmpty() ? std::nullopt : std::optional<QString>(given.front()),
            .currentFolder = current,
            .homeFolder = QStringLiteral("/home/ayse"),
        },
        [&](const QString& path) { return path == unusable ? why : 0; });
    const bool refused = expected.contains(QLatin1String("%1"));
    QCOMPARE(chosen.path, refused ? QString() : expected);
    QCOMPARE(chosen.error, refused ? expected.arg(reason(why)) : QString());
}

void TestDesktopProgram::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments"); // %1: a temporary folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");   // how standard output begins
    QTest::addColumn<QString>("error"); // said on standard error after "fwprep: " and in a box

    QTest::newRow("--help") << QStringList{"%1", "--help"} << 0 << "Usage: fwprep [FOLDER]\n" << "";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "fwprep " FWPREP_VERSION "\n" << "";
    QTest::newRow("folder missing") << QStringList{"%1/yok"} << 2 << "" << "%1/yok: " + reason(ENOENT);
    QTest::newRow("folder is a file") << QStringList{"%1/in.txt"} << 2 << "" << "%1/in.txt: " + reason(ENOTDIR);
    QTest::newRow("unknown option") << QStringList{"--renk"} << 2 << "" << "unrecognized option '--renk'";
}

// Every refusal comes before the screens show, on standard error and in a box.
void TestDesktopProgram::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, error);
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), "abc\n");
    arguments.replaceInStrings(QStringLiteral("%1"), dir.path());
    error.replace(QLatin1String("%1"), dir.path());

    QProcess fwprep;
    prepare(fwprep, dir.path());
    fwprep.start(QStringLiteral(FWPREP_APP), arguments);
    QVERIFY(fwprep.waitForFinished(kDeadlineMs));
    const QString stdoutText = QString::fromUtf8(fwprep.readAllStandardOutput());
    const QStringList stderrLines = QString::fromUtf8(fwprep.readAllStandardError()).split(QLatin1Char('\n'));
    QCOMPARE(fwprep.exitStatus(), QProcess::NormalExit);
    QCOMPARE(fwprep.exitCode(), status);
    QCOMPARE(test::entries(dir.path()), QStringList{"in.txt"});
    if (error.isEmpty()) {
        QVERIFY2(stdoutText.startsWith(out), qPrintable(stdoutText));
    } else {
        // No "shown Form1" from the driver: the screens never showed.
        QCOMPARE(stdoutText, "box fwprep|" + error + '\n');
        QVERIFY2(stderrLines.contains("fwprep: " + error), qPrintable(stderrLines.join('\n')));
    }
}

// FOLDER is where the input is read and the output written, whatever the
// current folder.
void TestDesktopProgram::jobInTheGivenFolder()
{
    QTemporaryDir dir, elsewhere;
    writeFile(dir.filePath("in.txt"), "abcdef\n");
    QProcess fwprep;
    prepare(fwprep, elsewhere.path(), {"FWPREP_DRIVE_FIELDS=2|3|in"});
    fwprep.start(QStringLiteral(FWPREP_APP), {dir.path()});
    QTRY_COMPARE_WITH_TIMEOUT(readFile(dir.filePath("test1.txt")), QByteArray("abc\ndef\n"), kDeadlineMs);
    QCOMPARE(test::entries(elsewhere.path()), QStringList{});
    fwprep.terminate();
    QVERIFY(fwprep.waitForFinished(kDeadlineMs));
}

void TestDesktopProgram::endsCleanlyDuringAJob_data()
{
    QTest::addColumn<int>("signal"); // 0: the program is asked to quit
    QTest::addColumn<bool>("sizeLimit");
    QTest::newRow("SIGTERM, as a logout sends") << int(SIGTERM) << false;
    QTest::newRow("SIGHUP, a closed terminal") << int(SIGHUP) << false;
    QTest::newRow("SIGINT, Ctrl+C") << int(SIGINT) << false;
    QTest::newRow("quit request") << 0 << false;
    // Started as a shell starts it, with SIGXFSZ at its default.
    QTest::newRow("file-size limit: said as a full disk is") << int(SIGTERM) << true;
}

// The program, copied into a folder of its own (where the old one worked
// too), runs a job that waits on a FIFO that a writer keeps open, its
// temporary file made; it must cancel the job, let it remove that file, and
// end. Under a file-size limit the job fails instead, and says why.
void TestDesktopProgram::endsCleanlyDuringAJob()
{
    QFETCH(int, signal);
    QFETCH(bool, sizeLimit);
    QTemporaryDir dir;
    const QString program = dir.filePath("fwprep");
    QVERIFY(QFile::copy(QStringLiteral(FWPREP_APP), program));
    writeFile(dir.filePath("test1.txt"), kOld);
    const QByteArray fifo = QFile::encodeName(dir.filePath("wait.txt"));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    writeFile(dir.filePath("big.txt"), QByteArray("0123456789abcde\n").repeated(64 * 1024));

    QProcess fwprep;
    prepare(fwprep, dir.path(),
        {sizeLimit ? "FWPREP_DRIVE_FIELDS=3|5|big" : "FWPREP_DRIVE_FIELDS=2|5|wait",
            "FWPREP_DRIVE_QUIT_FILE=" + dir.filePath("quit")});
    if (sizeLimit) {
        fwprep.setChildProcessModifier([] {
            const struct rlimit limit {256 * 1024, 256 * 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_DFL);
        });
    }
    fwprep.start(program, {});
    QVERIFY(!waitForLine(fwprep, QStringLiteral("pressing")).isNull());
    int writer = -1;
    const auto closeWriter = qScopeGuard([&writer] {
        if (writer >= 0)
            ::close(writer);
    });
    if (sizeLimit) {
        QCOMPARE(waitForLine(fwprep, QStringLiteral("box ")),
            QStringLiteral("box fwprep|Dosya yazılamadı: %1/test1.txt\\n%2").arg(dir.path(), reason(EFBIG)));
    } else {
        // Opens once the job has opened the FIFO for reading.
        QTRY_VERIFY_WITH_TIMEOUT((writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0,
            kDeadlineMs);
        const QByteArray lines = QByteArray("abcdefghijklmnopqrstuvwxyz\n").repeated(100);
        QCOMPARE(::write(writer, lines.constData(), size_t(lines.size())), ssize_t(lines.size()));
        QTRY_COMPARE_WITH_TIMEOUT(temporaries(dir.path()).size(), 1, kDeadlineMs);
    }

    if (signal != 0)
        ::kill(pid_t(fwprep.processId()), signal);
    else
        writeFile(dir.filePath("quit"), "");
    QVERIFY2(fwprep.waitForFinished(kDeadlineMs), "the program did not end");
    // With a signal, ended as the signal would have ended it.
    QCOMPARE(fwprep.exitStatus(), signal != 0 ? QProcess::CrashExit : QProcess::NormalExit);
    QCOMPARE(fwprep.exitCode(), signal);
    QCOMPARE(temporaries(dir.path()), QStringList{});
    QCOMPARE(readFile(dir.filePath("test1.txt")), kOld);
}

QTEST_GUILESS_MAIN(TestDesktopProgram)
#include "tst_desktop_program.moc"
