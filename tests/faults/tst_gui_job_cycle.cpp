// One desktop-program process through hundreds of jobs from its screens:
// successes on both screens, refusals, failures and cancelled jobs. Every job
// is checked for its outcome, and the memory in use after the last round must
// be where it was after the first. Under AddressSanitizer the leak check at
// exit covers the same ground (its allocator keeps freed memory aside, so the
// figures are not compared there).

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include "form.h"
#include "presenter.h"
#include "progress_dialog.h"
#include "screens.h"
#include "test_files.h"

#if defined(__SANITIZE_ADDRESS__)
#define FWPREP_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FWPREP_UNDER_ASAN 1
#endif
#endif

using namespace fwprep;
using namespace fwprep::app;
using test::entries;
using test::readFile;
using test::writeFile;

namespace {

class CountingPresenter final : public MessagePresenter {
public:
    void present(QWidget*, const ScreenMessage&) override { ++shown; }
    int shown = 0;
};

std::size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

long residentKiB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Presses "Yaz" as a program would and waits for the job's end.
[[nodiscard]] bool runJob(Screens& screens, Form& form)
{
    form.jobButton()->click();
    return QTest::qWaitFor([&] { return !screens.runner().isRunning(); }, 60000);
}

void setFields(Form& form, const QString& count, const QString& width, const QString& name)
{
    form.text1()->setText(count);
    form.text2()->setText(width);
    form.text3()->setText(name);
}

const QByteArray kInput("abcdefgh\r\nijk\r\n\r\nlmnopqrstuvwxyz\r\n");
const QByteArray kSplit("abc\r\ndef\r\nijk\r\n\r\n\r\n\r\nlmn\r\nopq\r\n"); // count 2, width 3
const QByteArray kJoin("abcde  ijk\r\n     lmnop\r\n");                       // count 2, width 5

} // namespace

class TestGuiJobCycle : public QObject {
    Q_OBJECT
private slots:
    void manyJobsLeaveNoMemoryBehind();
};

void TestGuiJobCycle::manyJobsLeaveNoMemoryBehind()
{
    const int rounds = qEnvironmentVariableIntValue("FWPREP_CYCLE_ROUNDS") > 0
        ? qEnvironmentVariableIntValue("FWPREP_CYCLE_ROUNDS")
        : 100;
    QTemporaryDir dir;
    writeFile(dir.filePath("in.txt"), kInput);
    // A FIFO that never gets a writer: a job on it runs until cancelled.
    QCOMPARE(mkfifo(qPrintable(dir.filePath("wait.txt")), 0600), 0);

    CountingPresenter presenter;
    Screens screens(dir.path(), presenter);
    screens.runner().setProgressDelay(std::chrono::milliseconds(30));
    bool cancelWanted = false;
    int dialogs = 0;
    connect(&screens.runner(), &JobRunner::progressDialogShown, this, [&] {
        ++dialogs;
        if (cancelWanted) {
            // Clicked from the event loop, as a user's click would come.
            QTimer::singleShot(0, &screens, [&] {
                if (ProgressDialog* d = screens.runner().progressDialog())
                    d->cancelButton()->click();
            });
        }
    });
    screens.start();

    std::size_t heapAfterFirst = 0, heapHalfWay = 0;
    long rssAfterFirst = 0;
    // The heap in use and the jobs done at the end of the first, second and
    // third quarter of the rounds.
    [[maybe_unused]] std::size_t heapAt[3] = {};
    [[maybe_unused]] int jobsAt[3] = {};
    int jobs = 0;
    for (int round = 0; round < rounds; ++round) {
        Form1& form1 = *screens.form1();
        // Success on Form1.
        setFields(form1, "2", "3", "in");
        QVERIFY(runJob(screens, form1));
        ++jobs;
        QCOMPARE(readFile(dir.filePath("test1.txt")), kSplit);
        // Refusals: an empty field, a bad number.
        setFields(form1, "2", "", "in");
        QVERIFY(runJob(screens, form1));
        setFields(form1, "2", "x", "in");
        QVERIFY(runJob(screens, form1));
        // A failure: the input does not exist.
        setFields(form1, "2", "3", "..\\nothere");
        QVERIFY(runJob(screens, form1));
        jobs += 3;
        // Cancelled while waiting for input that never comes.
        cancelWanted = true;
        setFields(form1, "2", "3", "wait");
        QVERIFY(runJob(screens, form1));
        cancelWanted = false;
        ++jobs;
        QCOMPARE(readFile(dir.filePath("test1.txt")), kSplit);

        // Form2: success, then a failure (the input is the output itself).
        form1.switchButton()->click();
        Form2& form2 = *screens.form2();
        setFields(form2, "2", "5", "in");
        QVERIFY(runJob(screens, form2));
        QCOMPARE(readFile(dir.filePath("data.txt")), kJoin);
        setFields(form2, "2", "5", "data");
        QVERIFY(runJob(screens, form2));
        cancelWanted = true;
        setFields(form2, "1", "1", "wait");
        QVERIFY(runJob(screens, form2));
        cancelWanted = false;
        form2.switchButton()->click();
        jobs += 3;

        QCOMPARE(presenter.shown, 4 * (round + 1));
        QCOMPARE(entries(dir.path()), (QStringList{"data.txt", "in.txt", "test1.txt", "wait.txt"}));
        if (round == 0) {
            heapAfterFirst = heapInUse();
            rssAfterFirst = residentKiB();
        }
        for (int q = 0; q < 3; ++q) {
            if (round == (q + 1) * rounds / 4) {
                heapAt[q] = heapInUse();
                jobsAt[q] = jobs;
            }
        }
        if (round == rounds / 2)
            heapHalfWay = heapInUse();
        if (qEnvironmentVariableIsSet("FWPREP_CYCLE_TRACE"))
            qInfo("round %d: heap in use %zu bytes, resident %ld KiB", round + 1, heapInUse(), residentKiB());
    }
    QVERIFY(dialogs >= 2 * rounds); // every cancel went through the dialog

    const std::size_t heapAfterLast = heapInUse();
    const long rssAfterLast = residentKiB();
    qInfo("%d jobs in %d rounds; heap in use after round 1: %zu bytes, half way: %zu bytes, after round %d:"
          " %zu bytes; resident after round 1: %ld KiB, after round %d: %ld KiB",
        jobs, rounds, heapAfterFirst, heapHalfWay, rounds, heapAfterLast, rssAfterFirst, rounds, rssAfterLast);
#ifndef FWPREP_UNDER_ASAN
    // The process stays at the size it had after its first round of jobs.
    QVERIFY2(rssAfterLast <= rssAfterFirst + 256, "resident memory grew over the rounds");
    // The heap settles too: caches of the allocator and of Qt fill during the
    // first rounds, after which it grows by a few bytes a job at most. A leak
    // of the smallest block each job would be 32 bytes a job, in every stretch
    // of jobs; a cache that grows once (more so on a busy machine) shows in
    // one stretch only. So the growth is measured over the second, third and
    // fourth quarter of the rounds, and the middle figure counts.
    const std::size_t heapEnd = heapAfterLast;
    const std::size_t heapFrom[3] = {heapAt[0], heapAt[1], heapAt[2]};
    const std::size_t heapTo[3] = {heapAt[1], heapAt[2], heapEnd};
    const int jobsFrom[3] = {jobsAt[0], jobsAt[1], jobsAt[2]};
    const int jobsTo[3] = {jobsAt[1], jobsAt[2], jobs};
    double growth[3];
    for (int q = 0; q < 3; ++q)
        growth[q] = double(heapTo[q] - std::min(heapTo[q], heapFrom[q])) / std::max(1, jobsTo[q] - jobsFrom[q]);
    std::sort(std::begin(growth), std::end(growth));
    const double perJob = growth[1];
    qInfo("heap growth a job over the last three quarters: %.1f, %.1f, %.1f bytes (sorted)", growth[0], growth[1],
        growth[2]);
    QVERIFY2(perJob < 32, "the heap keeps growing with every job");
#endif
}

QTEST_MAIN(TestGuiJobCycle)
#include "tst_gui_job_cycle.moc"
