#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "form.h"
#include "messages.h"
#include "presenter.h"

using namespace fwprep;
using namespace fwprep::app;

Q_DECLARE_METATYPE(fwprep::JobKind)
Q_DECLARE_METATYPE(fwprep::app::ScreenMessage::Icon)

namespace {

JobError error(JobError::Kind kind, Field field = Field::Count)
{
    return JobError{kind, field};
}

// The errors of the rows of wording(), by row.
std::vector<JobError> rowErrors;

// What a shown message box looked like.
struct SeenBox {
    bool found = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
    QWidget* parent = nullptr;
};

// Looks for the message box until it shows, notes what it shows, and
// closes it with its OK button, so that no test waits on it.
void closeMessageBoxWhenShown(SeenBox& seen)
{
    QTimer::singleShot(10, qApp, [&seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            closeMessageBoxWhenShown(seen);
            return;
        }
        seen.found = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.format = box->textFormat();
        seen.buttons = box->standardButtons();
        seen.modal = box->windowModality() == Qt::ApplicationModal;
        seen.parent = box->parentWidget();
        box->button(QMessageBox::Ok)->click();
    });
}

} // namespace

class TestMessages : public QObject {
    Q_OBJECT
private slots:
    void wording_data();
    void wording();
    void cancelShowsNothing();
    void messageBox_data();
    void messageBox();
};

void TestMessages::wording_data()
{
    QTest::addColumn<JobKind>("job");
    QTest::addColumn<int>("row");
    QTest::addColumn<ScreenMessage::Icon>("icon");
    QTest::addColumn<QString>("text");

    using K = JobError::Kind;
    rowErrors.clear();
    const auto split = JobKind::Split, join = JobKind::Join;
    const auto none = ScreenMessage::Icon::None, critical = ScreenMessage::Icon::Critical;
    const auto row = [](const char* name, JobKind job, const JobError& e, ScreenMessage::Icon icon,
                         const QString& text) {
        rowErrors.push_back(e);
        QTest::newRow(name) << job << int(rowErrors.size() - 1) << icon << text;
    };

    row("empty field, Form1", split, error(K::EmptyField), none, QStringLiteral("TextBoxları Doldursana!!!"));
    row("empty field, Form2", join, error(K::EmptyField, Field::Name), none,
        QStringLiteral("TextBoxları Doldursana!!!"));

    auto bad = [](Field f, const char* text) {
        JobError e = error(K::BadNumber, f);
        e.text = text;
        return e;
    };
    row("bad count, Form1", split, bad(Field::Count, "abc"), critical,
        QStringLiteral("\"Data Sayısı\" -32768 ile 32767 arasında bir tam sayı olmalı: \"abc\""));
    row("bad count, Form2", join, bad(Field::Count, "40000"), critical,
        QStringLiteral("\"Column Sayısı\" -32768 ile 32767 arasında bir tam sayı olmalı: \"40000\""));
    row("bad width, Form1", split, bad(Field::Width, " 1.5 "), critical,
        QStringLiteral("\"Data Uzunluğu\" -32768 ile 32767 arasında bir tam sayı olmalı: \" 1.5 \""));
    row("bad width, Form2, Turkish text", join, bad(Field::Width, "üç"), critical,
        QStringLiteral("\"Data Uzunluğu\" -32768 ile 32767 arasında bir tam sayı olmalı: \"üç\""));

    JobError negative = error(K::NegativeWidth, Field::Width);
    negative.value = -32768;
    row("negative width", split, negative, critical, QStringLiteral("\"Data Uzunluğu\" negatif olamaz: -32768"));

    JobError missing = error(K::InputMissing);
    missing.path = "/opt/fwprep/yok ğ.txt";
    row("input missing", join, missing, critical, QStringLiteral("Dosya bulunamadı: /opt/fwprep/yok ğ.txt"));

    JobError unreadable = error(K::InputUnreadable);
    unreadable.path = "/opt/fwprep/in.txt";
    unreadable.reason = "Is a directory";
    row("input unreadable", split, unreadable, critical,
        QStringLiteral("Dosya okunamadı: /opt/fwprep/in.txt\nIs a directory"));

    JobError same = error(K::InputIsOutput);
    same.path = "/opt/fwprep/data.txt";
    row("input is output", join, same, critical,
        QStringLiteral("Girdi dosyası çıktı dosyasının kendisi olamaz: /opt/fwprep/data.txt"));

    JobError unwritable = error(K::OutputUnwritable);
    unwritable.path = "/opt/fwprep/test1.txt";
    unwritable.reason = "No space left on device";
    row("output unwritable", split, unwritable, critical,
        QStringLiteral("Dosya yazılamadı: /opt/fwprep/test1.txt\nNo space left on device"));
    row("out of memory", join, error(K::OutOfMemory), critical, QStringLiteral("Bu iş için yeterli bellek yok."));
}

void TestMessages::wording()
{
    QFETCH(JobKind, job);
    QFETCH(int, row);
    QFETCH(ScreenMessage::Icon, icon);
    QFETCH(QString, text);
    const auto message = messageFor(job, rowErrors.at(std::size_t(row)));
    QVERIFY(message);
    QCOMPARE(message->text, text);
    QCOMPARE(message->icon, icon);
}

void TestMessages::cancelShowsNothing()
{
    for (const auto job : {JobKind::Split, JobKind::Join})
        QVERIFY(!messageFor(job, error(JobError::Kind::Cancelled)));
}

void TestMessages::messageBox_data()
{
    QTest::addColumn<ScreenMessage::Icon>("icon");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QMessageBox::Icon>("boxIcon");
    QTest::newRow("prompt, no icon") << ScreenMessage::Icon::None << QStringLiteral("TextBoxları Doldursana!!!")
                                     << QMessageBox::NoIcon;
    QTest::newRow("error, critical") << ScreenMessage::Icon::Critical
                                     << QStringLiteral("Dosya bulunamadı: /a/b.txt") << QMessageBox::Critical;
    // A typed name that looks like markup is shown as typed, not rendered.
    QTest::newRow("markup stays text") << ScreenMessage::Icon::Critical
                                       << QStringLiteral("Dosya bulunamadı: /a/<b>x</b><img src=y>.txt")
                                       << QMessageBox::Critical;
}

void TestMessages::messageBox()
{
    QFETCH(ScreenMessage::Icon, icon);
    QFETCH(QString, text);
    QFETCH(QMessageBox::Icon, boxIcon);
    Form1 screen;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));

    SeenBox seen;
    closeMessageBoxWhenShown(seen);
    MessageBoxPresenter presenter;
    presenter.present(&screen, {icon, text});

    QVERIFY(seen.found);
    QCOMPARE(seen.title, QStringLiteral("fwprep"));
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.icon, boxIcon);
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(seen.modal);
    QCOMPARE(seen.parent, &screen);
    QVERIFY(screen.isVisible());
}

QTEST_MAIN(TestMessages)
#include "tst_messages.moc"
