#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "job_setup.h"
#include "test_files.h"

using namespace fwprep;
using test::entries;
using test::readFile;
using test::writeFile;

Q_DECLARE_METATYPE(fwprep::JobKind)

namespace {
const QByteArray kOldOutput("old output, must survive\n");
const QByteArray kInput("abcdef\nxy\n");
} // namespace

class TestJobSetup : public QObject {
    Q_OBJECT
private slots:
    void refused_data();
    void refused();
    void namesReachTheRightFile_data();
    void namesReachTheRightFile();
    void writesOutput_data();
    void writesOutput();
    void keepsPermissionBits();
    void cancelLeavesOldOutput();
    void outputThroughSymlinkKeepsLink();
};

void TestJobSetup::refused_data()
{
    QTest::addColumn<JobKind>("kind");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("errorKind");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");

    using K = JobError::Kind;
    const int count = int(Field::Count), width = int(Field::Width), none = -1;
    const auto split = JobKind::Split, join = JobKind::Join;
    QTest::newRow("count empty") << split << "" << "2" << "in" << int(K::EmptyField) << none << "";
    QTest::newRow("width empty") << split << "3" << "" << "in" << int(K::EmptyField) << none << "";
    QTest::newRow("name empty") << join << "3" << "2" << "" << int(K::EmptyField) << none << "";
    QTest::newRow("all empty, bad number elsewhere") << join << "" << "x" << "" << int(K::EmptyField) << none << "";
    QTest::newRow("width not a number") << split << "3" << "abc" << "in" << int(K::BadNumber) << width << "abc";
    QTest::newRow("width checked before count") << split << "x" << "y" << "in" << int(K::BadNumber) << width << "y";
    QTest::newRow("count not a number") << join << "3.5" << "2" << "in" << int(K::BadNumber) << count << "3.5";
    QTest::newRow("count out of range") << split << "40000" << "2" << "in" << int(K::BadNumber) << count << "40000";
    QTest::newRow("count of spaces") << split << "   " << "2" << "in" << int(K::BadNumber) << count << "   ";
    QTest::newRow("width negative") << split << "3" << "-3" << "in" << int(K::NegativeWidth) << width << "";
    QTest::newRow("width negative, empty input") << join << "3" << "-1" << "empty" << int(K::NegativeWidth) << width << "";
    QTest::newRow("input missing") << split << "3" << "2" << "nope" << int(K::InputMissing) << none << "";
    QTest::newRow("name with .txt gets a second one") << split << "3" << "2" << "in.txt" << int(K::InputMissing) << none << "";
    QTest::newRow("name with spaces is not trimmed") << split << "3" << "2" << " in" << int(K::InputMissing) << none << "";
    QTest::newRow("name through a regular file") << split << "3" << "2" << "in.txt/x" << int(K::InputMissing) << none << "";
    QTest::newRow("input is a folder") << join << "3" << "2" << "folder" << int(K::InputUnreadable) << none << "";
    QTest::newRow("split reading its own output") << split << "3" << "2" << "test1" << int(K::InputIsOutput) << none << "";
    QTest::newRow("join reading its own output") << join << "3" << "2" << "data" << int(K::InputIsOutput) << none << "";
    QTest::newRow("own output through another path") << split << "3" << "2" << "sub\\..\\test1" << int(K::InputIsOutput) << none << "";
}

void TestJobSetup::refused()
{
    QFETCH(JobKind, kind);
    QFETCH(QString, count);
    QFETCH(QString, width);
    QFETCH(QString, name);
    QFETCH(int, errorKind);
    QFETCH(int, field);
    QFETCH(QString, text);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath("in.txt"), kInput);
    writeFile(dir.filePath("empty.txt"), "");
    QVERIFY(QDir(dir.path()).mkpath("folder.txt"));
    QVERIFY(QDir(dir.path()).mkpath("sub"));
    // Both outputs exist: a refused job must leave each exactly as it was.
    writeFile(dir.filePath("test1.txt"), kOldOutput);
    writeFile(dir.filePath("data.txt"), kOldOutput);
    const QStringList before = entries(dir.path());

    const JobResult result = runScreenJob(kind, {count.toStdString(), width.toStdString(), name.toStdString()},
        dir.path().toStdString());
    QVERIFY(result.has_value());
    QCOMPARE(int(result->kind), errorKind);
    if (field >= 0)
        QCOMPARE(int(result->field), field);
    if (!text.isEmpty())
        QCOMPARE(QString::fromStdString(result->text), text);
    if (result->kind == JobError::Kind::NegativeWidth)
        QCOMPARE(result->value, width.toInt());
    if (result->kind == JobError::Kind::InputMissing || result->kind == JobError::Kind::InputIsOutput)
        QCOMPARE(QString::fromStdString(result->path), dir.path() + "/" + QString(name).replace('\\', '/') + ".txt");
    if (result->kind == JobError::Kind::InputUnreadable)
        QVERIFY(!result->reason.empty());

    QCOMPARE(entries(dir.path()), before);
    QCOMPARE(readFile(dir.filePath("test1.txt")), kOldOutput);
    QCOMPARE(readFile(dir.filePath("data.txt")), kOldOutput);
}

void TestJobSetup::namesReachTheRightFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::newRow("plain") << "in" << "in.txt";
    QTest::newRow("backslash is a folder separator") << "sub\\in" << "sub/in.txt";
    QTest::newRow("slash too") << "sub/in" << "sub/in.txt";
    QTest::newRow("up and back down") << "sub\\..\\in" << "in.txt";
    QTest::newRow("name with .txt") << "twice.txt" << "twice.txt.txt";
    QTest::newRow("Turkish name") << QString::fromUtf8("çağrı") << QString::fromUtf8("çağrı.txt");
    QTest::newRow("leading space") << " in" << " in.txt";
}

void TestJobSetup::namesReachTheRightFile()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("sub"));
    writeFile(dir.filePath(file), "12345\n");
    const JobResult result = runScreenJob(JobKind::Split, {"1", "3", name.toStdString()}, dir.path().toStdString());
    QVERIFY2(!result, result ? result->path.c_str() : "");
    QCOMPARE(readFile(dir.filePath("test1.txt")), QByteArray("123\n"));
}

void TestJobSetup::writesOutput_data()
{
    QTest::addColumn<JobKind>("kind");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("other");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("split writes test1.txt") << JobKind::Split << "test1.txt" << "data.txt" << QByteArray("abc\ndef\nxy\n\n");
    QTest::newRow("join writes data.txt") << JobKind::Join << "data.txt" << "test1.txt" << QByteArray("abc xy\n");
}

void TestJobSetup::writesOutput()
{
    QFETCH(JobKind, kind);
    QFETCH(QString, output);
    QFETCH(QString, other);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), kInput);
    writeFile(dir.filePath(output), kOldOutput);
    for (int run = 0; run < 2; ++run) { // a second run gives the same file
        const JobResult result = runScreenJob(kind, {" 2 ", "3", "in"}, dir.path().toStdString());
        QVERIFY(!result);
        QCOMPARE(readFile(dir.filePath(output)), expected);
    }
    QVERIFY(!QFile::exists(dir.filePath(other)));
    QStringList expectedEntries{"in.txt", output};
    expectedEntries.sort();
    QCOMPARE(entries(dir.path()), expectedEntries);
}

void TestJobSetup::keepsPermissionBits()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), kInput);
    writeFile(dir.filePath("test1.txt"), kOldOutput);
    const QByteArray out = QFile::encodeName(dir.filePath("test1.txt"));
    QCOMPARE(::chmod(out.constData(), 0640), 0);
    QVERIFY(!runScreenJob(JobKind::Split, {"1", "2", "in"}, dir.path().toStdString()));
    struct stat st {};
    QCOMPARE(::stat(out.constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    QCOMPARE(readFile(dir.filePath("test1.txt")), QByteArray("ab\nxy\n"));
}

void TestJobSetup::cancelLeavesOldOutput()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), kInput);
    writeFile(dir.filePath("data.txt"), kOldOutput);
    std::atomic<bool> cancel{true};
    JobControl control;
    control.cancel = &cancel;
    const JobResult result = runScreenJob(JobKind::Join, {"1", "2", "in"}, dir.path().toStdString(), control);
    QVERIFY(result);
    QCOMPARE(result->kind, JobError::Kind::Cancelled);
    QCOMPARE(readFile(dir.filePath("data.txt")), kOldOutput);
    QCOMPARE(entries(dir.path()), (QStringList{"data.txt", "in.txt"}));
}

void TestJobSetup::outputThroughSymlinkKeepsLink()
{
    // The output name may be a link to a file elsewhere: that file is
    // replaced and the link stays a link.
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("real"));
    writeFile(dir.filePath("in.txt"), kInput);
    writeFile(dir.filePath("real/target.txt"), kOldOutput);
    QVERIFY(QFile::link("real/target.txt", dir.filePath("test1.txt")));
    QVERIFY(!runScreenJob(JobKind::Split, {"1", "2", "in"}, dir.path().toStdString()));
    QVERIFY(QFileInfo(dir.filePath("test1.txt")).isSymLink());
    QCOMPARE(readFile(dir.filePath("real/target.txt")), QByteArray("ab\nxy\n"));
    QCOMPARE(entries(dir.filePath("real")), QStringList{"target.txt"});
}

QTEST_GUILESS_MAIN(TestJobSetup)
#include "tst_job_setup.moc"
