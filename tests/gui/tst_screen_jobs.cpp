#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScopeGuard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "gui_support.h"
#include "screens.h"
#include "test_files.h"

using namespace fwprep;
using namespace fwprep::app;
using namespace fwprep::guitest;
using test::entries;
using test::readFile;
using test::writeFile;

namespace {

const QByteArray kOld1("old test1\n");
const QByteArray kOld2("old data\n");

QString prompt()
{
    return QStringLiteral("TextBoxları Doldursana!!!");
}

} // namespace

class TestScreenJobs : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void yazUsesItsOwnFields_data();
    void yazUsesItsOwnFields();
    void emptyFieldTouchesNothing_data();
    void emptyFieldTouchesNothing();
    void failureKeepsProgramAndFields_data();
    void failureKeepsProgramAndFields();
    void longJobShowsProgressAndCancels_data();
    void longJobShowsProgressAndCancels();

private:
    QString path(const QString& name) const { return folder->filePath(name); }
    // Types the texts into both screens and leaves `screen` shown.
    Form& prepare(int screen, const QStringList& form1Fields, const QStringList& form2Fields);

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<RecordingPresenter> presenter;
    std::unique_ptr<Screens> screens;
};

void TestScreenJobs::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    presenter = std::make_unique<RecordingPresenter>();
    screens = std::make_unique<Screens>(folder->path(), *presenter);
    screens->start();
    QVERIFY(QTest::qWaitForWindowExposed(screens->form1()));
}

void TestScreenJobs::cleanup()
{
    screens.reset();
    presenter.reset();
    folder.reset();
}

Form& TestScreenJobs::prepare(int screen, const QStringList& form1Fields, const QStringList& form2Fields)
{
    typeFields(*screens->form1(), form1Fields[0], form1Fields[1], form1Fields[2]);
    press(screens->form1()->switchButton());
    typeFields(*screens->form2(), form2Fields[0], form2Fields[1], form2Fields[2]);
    if (screen == 1)
        press(screens->form2()->switchButton());
    Form& form = screen == 1 ? static_cast<Form&>(*screens->form1()) : *screens->form2();
    return form;
}

void TestScreenJobs::yazUsesItsOwnFields_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<QStringList>("form1Fields");
    QTest::addColumn<QStringList>("form2Fields");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("untouched");

    const QByteArray split333("abc\ndef\ngh\nxy\n\n\n");
    const QByteArray join24("abcd  xy\n   z\n");
    QTest::newRow("Form1 split, Form2 empty")
        << 1 << QStringList{"3", "3", "in"} << QStringList{"", "", ""} << "test1.txt" << split333 << "data.txt";
    QTest::newRow("Form1 split, Form2 holds other values")
        << 1 << QStringList{"3", "3", "in"} << QStringList{"2", "4", "in2"} << "test1.txt" << split333 << "data.txt";
    QTest::newRow("Form2 join, Form1 empty")
        << 2 << QStringList{"", "", ""} << QStringList{"2", "4", "in2"} << "data.txt" << join24 << "test1.txt";
    QTest::newRow("Form2 join, Form1 holds other values")
        << 2 << QStringList{"3", "3", "in"} << QStringList{"2", "4", "in2"} << "data.txt" << join24 << "test1.txt";
    QTest::newRow("Form1, Turkish name with a space")
        << 1 << QStringList{"3", "1", "veri ğı"} << QStringList{"x", "y", "z"} << "test1.txt"
        << QByteArray("ç\nı\nğ\n") << "data.txt";
    QTest::newRow("Form2, spaces around the numbers")
        << 2 << QStringList{"", "", ""} << QStringList{" 3 ", " 2", "in2"} << "data.txt"
        << QByteArray("abxy z\n") << "test1.txt";
}

void TestScreenJobs::yazUsesItsOwnFields()
{
    QFETCH(int, screen);
    QFETCH(QStringList, form1Fields);
    QFETCH(QStringList, form2Fields);
    QFETCH(QString, output);
    QFETCH(QByteArray, expected);
    QFETCH(QString, untouched);
    writeFile(path("in.txt"), "abcdefgh\nxy\n");
    writeFile(path("in2.txt"), "abcdefgh\nxy\nz\n");
    writeFile(path(QStringLiteral("veri ğı.txt")), QByteArray("çığ\n"));

    Form& form = prepare(screen, form1Fields, form2Fields);
    QSignalSpy dialogs(&screens->runner(), &JobRunner::progressDialogShown);
    QVERIFY(pressYaz(*screens, form));

    QVERIFY(presenter->shown.empty());
    QCOMPARE(readFile(path(output)), expected);
    QVERIFY(readFile(path(untouched)).isNull());
    QCOMPARE(dialogs.count(), 0);
    QVERIFY(!screens->runner().isRunning());
    // The job left the screens as they were.
    QVERIFY(form.isVisible());
    QCOMPARE(fieldTexts(*screens->form1()), form1Fields);
    QCOMPARE(fieldTexts(*screens->form2()), form2Fields);
    QCOMPARE(entries(folder->path()).size(), 4);
}

void TestScreenJobs::emptyFieldTouchesNothing_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<QStringList>("fields");
    for (int screen : {1, 2}) {
        QTest::addRow("Form%d count empty", screen) << screen << QStringList{"", "2", "in"};
        QTest::addRow("Form%d width empty", screen) << screen << QStringList{"3", "", "in"};
        QTest::addRow("Form%d name empty", screen) << screen << QStringList{"3", "2", ""};
        QTest::addRow("Form%d all empty", screen) << screen << QStringList{"", "", ""};
        QTest::addRow("Form%d empty beside a bad number", screen) << screen << QStringList{"x", "-1", ""};
    }
}

void TestScreenJobs::emptyFieldTouchesNothing()
{
    QFETCH(int, screen);
    QFETCH(QStringList, fields);
    writeFile(path("in.txt"), "abcdefgh\n");
    writeFile(path("test1.txt"), kOld1);
    writeFile(path("data.txt"), kOld2);
    const QStringList before = entries(folder->path());
    const QStringList other{"1", "1", "in"};

    Form& form = prepare(screen, screen == 1 ? fields : other, screen == 2 ? fields : other);
    QVERIFY(pressYaz(*screens, form));

    QCOMPARE(presenter->shown.size(), std::size_t(1));
    QCOMPARE(presenter->shown[0].screen, &form);
    QCOMPARE(presenter->shown[0].message, (ScreenMessage{ScreenMessage::Icon::None, prompt()}));
    QCOMPARE(entries(folder->path()), before);
    QCOMPARE(readFile(path("test1.txt")), kOld1);
    QCOMPARE(readFile(path("data.txt")), kOld2);
    QVERIFY(form.isVisible());
    QCOMPARE(fieldTexts(form), fields);
}

void TestScreenJobs::failureKeepsProgramAndFields_data()
{
    QTest::addColumn<int>("screen");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("obstacle"); // a directory made where a file is expected
    QTest::addColumn<QString>("text");     // %1: the folder
    QTest::addColumn<bool>("reasonFollows");

    const QString range = QStringLiteral(" -32768 ile 32767 arasında bir tam sayı olmalı: ");
    QTest::newRow("Form1 count not a number") << 1 << QStringList{"abc", "2", "in"} << ""
                                              << "\"Data Sayısı\"" + range + "\"abc\"" << false;
    QTest::newRow("Form2 count out of range") << 2 << QStringList{"32768", "2", "in"} << ""
                                              << "\"Column Sayısı\"" + range + "\"32768\"" << false;
    QTest::newRow("Form1 width not a number") << 1 << QStringList{"3", "2,5", "in"} << ""
                                              << "\"Data Uzunluğu\"" + range + "\"2,5\"" << false;
    QTest::newRow("Form2 width a space") << 2 << QStringList{"3", " ", "in"} << ""
                                         << "\"Data Uzunluğu\"" + range + "\" \"" << false;
    QTest::newRow("Form1 negative width") << 1 << QStringList{"3", "-2", "in"} << ""
                                          << QStringLiteral("\"Data Uzunluğu\" negatif olamaz: -2") << false;
    QTest::newRow("Form2 input missing") << 2 << QStringList{"3", "2", "yok"} << ""
                                         << QStringLiteral("Dosya bulunamadı: %1/yok.txt") << false;
    QTest::newRow("Form1 input through a file") << 1 << QStringList{"3", "2", "in.txt/x"} << ""
                                                << QStringLiteral("Dosya bulunamadı: %1/in.txt/x.txt") << false;
    QTest::newRow("Form1 input is test1.txt") << 1 << QStringList{"3", "2", "test1"} << ""
        << QStringLiteral("Girdi dosyası çıktı dosyasının kendisi olamaz: %1/test1.txt") << false;
    QTest::newRow("Form2 input is data.txt") << 2 << QStringList{"3", "2", "data"} << ""
        << QStringLiteral("Girdi dosyası çıktı dosyasının kendisi olamaz: %1/data.txt") << false;
    QTest::newRow("Form1 input is a directory") << 1 << QStringList{"3", "2", "klasör"} << "klasör.txt"
                                                << QStringLiteral("Dosya okunamadı: %1/klasör.txt\n") << true;
    QTest::newRow("Form2 output is a directory") << 2 << QStringList{"3", "2", "in"} << "data.txt"
                                                 << QStringLiteral("Dosya yazılamadı: %1/data.txt\n") << true;
    QTest::newRow("Form1 output is a directory") << 1 << QStringList{"3", "2", "in"} << "test1.txt"
                                                 << QStringLiteral("Dosya yazılamadı: %1/test1.txt\n") << true;
}

// The error is shown; the program keeps running with every field as typed,
// and the next "Yaz" works once the cause is gone.
void TestScreenJobs::failureKeepsProgramAndFields()
{
    QFETCH(int, screen);
    QFETCH(QStringList, fields);
    QFETCH(QString, obstacle);
    QFETCH(QString, text);
    QFETCH(bool, reasonFollows);
    writeFile(path("in.txt"), "abcdefgh\n");
    const QString output = screen == 1 ? QStringLiteral("test1.txt") : QStringLiteral("data.txt");
    const QByteArray old = screen == 1 ? kOld1 : kOld2;
    if (obstacle.isEmpty() || obstacle != output)
        writeFile(path(output), old);
    if (!obstacle.isEmpty())
        QVERIFY(QDir(folder->path()).mkdir(obstacle));
    const QStringList before = entries(folder->path());
    const QStringList other{"1", "1", "in"};

    Form& form = prepare(screen, screen == 1 ? fields : other, screen == 2 ? fields : other);
    QVERIFY(pressYaz(*screens, form));

    QCOMPARE(presenter->shown.size(), std::size_t(1));
    const ScreenMessage& message = presenter->shown[0].message;
    QCOMPARE(presenter->shown[0].screen, &form);
    QCOMPARE(message.icon, ScreenMessage::Icon::Critical);
    const QString expected = QString(text).replace(QLatin1String("%1"), folder->path());
    if (reasonFollows) {
        QVERIFY2(message.text.startsWith(expected) && message.text.size() > expected.size(),
            qPrintable(message.text));
    } else {
        QCOMPARE(message.text, expected);
    }
    QCOMPARE(entries(folder->path()), before);
    if (obstacle != output)
        QCOMPARE(readFile(path(output)), old);
    QVERIFY(form.isVisible());
    QCOMPARE(fieldTexts(form), fields);
    QCOMPARE(fieldTexts(screen == 1 ? static_cast<Form&>(*screens->form2()) : *screens->form1()), other);

    if (obstacle == output)
        QVERIFY(QDir(folder->path()).rmdir(obstacle));
    typeFields(form, QStringLiteral("1"), QStringLiteral("4"), QStringLiteral("in"));
    QVERIFY(pressYaz(*screens, form));
    QCOMPARE(presenter->shown.size(), std::size_t(1));
    QCOMPARE(readFile(path(output)), screen == 1 ? QByteArray("abcd\n") : QByteArray("abcd\n"));
}

void TestScreenJobs::longJobShowsProgressAndCancels_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("İptal") << "button";
    QTest::newRow("Space on İptal") << "space";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("closing the dialog") << "close";
}

// The job is held after its first block until it is cancelled, so that it is
// sure to outlast the half second after which the dialog shows.
void TestScreenJobs::longJobShowsProgressAndCancels()
{
    QFETCH(QString, how);
    QByteArray big;
    const QByteArray line("0123456789abcdefghijklmnopqrstuvwxyz\n");
    while (big.size() < 4 * 1024 * 1024)
        big += line;
    writeFile(path("big.txt"), big);
    writeFile(path("test1.txt"), kOld1);
    const QStringList before = entries(folder->path());

    std::atomic<bool> offGuiThread{false};
    std::atomic<std::uint64_t> firstDone{0}, firstTotal{0};
    std::atomic<int> calls{0};
    const auto gui = QThread::currentThread();
    screens->runner().setJobFunction(
        [&](JobKind kind, const FieldTexts& fields, const std::string& appFolder, const JobControl& control) {
            offGuiThread = QThread::currentThread() != gui;
            JobControl held = control;
            held.progress = [&, control](std::uint64_t done, std::uint64_t total) {
                control.progress(done, total);
                if (calls++ > 0)
                    return;
                firstDone = done;
                firstTotal = total;
                // Held until cancelled; a failing test is let go after ten seconds.
                for (int i = 0; i < 1000 && !control.cancelled(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            };
            return runScreenJob(kind, fields, appFolder, held);
        });

    Form1* form1 = screens->form1();
    typeFields(*form1, QStringLiteral("2"), QStringLiteral("5"), QStringLiteral("big"));
    const QStringList typed = fieldTexts(*form1);

    // Before the dialog shows, no click or key reaches a screen, and the
    // window cannot be closed.
    bool checkedBefore = false;
    QTimer::singleShot(100, form1, [&] {
        QVERIFY(screens->runner().isRunning());
        QVERIFY(!screens->runner().progressDialog());
        press(form1->switchButton());
        QTest::keyClicks(form1->text1(), QStringLiteral("99"));
        QVERIFY(!form1->close());
        QVERIFY(form1->isVisible());
        QCOMPARE(screens->form2(), nullptr);
        // A second job is refused while one runs.
        QVERIFY(!screens->runner().start(JobKind::Split, form1->fields(), folder->path().toStdString(), form1));
        QCOMPARE(fieldTexts(*form1), typed);
        checkedBefore = true;
    });

    bool checkedDialog = false;
    QElapsedTimer clock;
    connect(&screens->runner(), &JobRunner::progressDialogShown, this, [&] {
        const auto elapsed = clock.elapsed();
        ProgressDialog* dialog = screens->runner().progressDialog();
        QVERIFY(dialog);
        // Whatever fails below, the job is let go.
        auto release = qScopeGuard([dialog] { dialog->cancelButton()->click(); });
        QVERIFY(dialog->isVisible());
        QVERIFY2(elapsed >= 490, qPrintable(QString::number(elapsed)));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("fwprep"));
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        QVERIFY(dialog->findChild<QLabel*>());
        QCOMPARE(dialog->findChild<QLabel*>()->text(), QStringLiteral("Yazılıyor..."));
        QCOMPARE(dialog->cancelButton()->text(), QStringLiteral("İptal"));
        QVERIFY(firstTotal == std::uint64_t(big.size()));
        QVERIFY(firstDone > 0 && firstDone < firstTotal);
        const int expected = int(double(firstDone) / double(firstTotal) * 1000);
        QTRY_COMPARE(dialog->bar()->value(), expected);
        QCOMPARE(dialog->bar()->maximum(), 1000);

        press(form1->switchButton());
        QVERIFY(!form1->close());
        QCOMPARE(screens->form2(), nullptr);

        if (how == QLatin1String("button"))
            press(dialog->cancelButton());
        else if (how == QLatin1String("space"))
            QTest::keyClick(dialog->cancelButton(), Qt::Key_Space);
        else if (how == QLatin1String("escape"))
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            dialog->close();
        release.dismiss();
        checkedDialog = true;
    });

    clock.start();
    QVERIFY(pressYaz(*screens, *form1));

    QVERIFY(checkedBefore);
    QVERIFY(checkedDialog);
    QVERIFY(offGuiThread);
    QVERIFY(!screens->runner().isRunning());
    QVERIFY(!screens->runner().progressDialog());
    // Cancelled: nothing shown, the old output as it was, no temporary left.
    QVERIFY(presenter->shown.empty());
    QCOMPARE(readFile(path("test1.txt")), kOld1);
    QCOMPARE(entries(folder->path()), before);
    QCOMPARE(fieldTexts(*form1), typed);
    QVERIFY(form1->isVisible());

    // The screens take input again.
    press(form1->switchButton());
    QVERIFY(screens->form2());
    QVERIFY(screens->form2()->isVisible());
}

QTEST_MAIN(TestScreenJobs)
#include "tst_screen_jobs.moc"
