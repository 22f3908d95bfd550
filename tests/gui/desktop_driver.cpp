// Loaded into the real fwprep with LD_PRELOAD, so that a test can drive it in
// a process of its own on the offscreen platform. On standard output it says
// "shown Form1"; "pressing" as it types FWPREP_DRIVE_FIELDS ("count|width|name")
// into Form1 and presses "Yaz"; and "box TITLE|TEXT" (line ends as \n) for
// each message box, which it then closes. Once the file FWPREP_DRIVE_QUIT_FILE
// exists, it asks the program to quit.

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

namespace {

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void pressYaz(QWidget* form1)
{
    const QStringList fields = qEnvironmentVariable("FWPREP_DRIVE_FIELDS").split(QLatin1Char('|'));
    if (fields.size() != 3)
        return;
    for (int i = 0; i < 3; ++i)
        form1->findChild<QLineEdit*>(QStringLiteral("Text%1").arg(i + 1))->setText(fields[i]);
    // Said first: the click may not return before the job's end.
    say(QStringLiteral("pressing"));
    form1->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
}

void look()
{
    static bool sawForm1 = false, quitAsked = false;
    const QString quitFile = qEnvironmentVariable("FWPREP_DRIVE_QUIT_FILE");
    if (!quitAsked && !quitFile.isEmpty() && QFile::exists(quitFile)) {
        quitAsked = true;
        QCoreApplication::quit();
    }
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); box && box->isVisible()) {
        say(QStringLiteral("box %1|%2").arg(box->windowTitle(), box->text().replace(QLatin1Char('\n'), QLatin1String("\\n"))));
        box->button(QMessageBox::Ok)->click();
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!sawForm1 && window->objectName() == QLatin1String("Form1") && window->isVisible()) {
            sawForm1 = true;
            say(QStringLiteral("shown Form1"));
            // From the event loop, as a user's click comes.
            QTimer::singleShot(0, window, [window] { pressYaz(window); });
        }
    }
}

void startDriver()
{
    QTimer::singleShot(0, qApp, [] {
        auto* timer = new QTimer(qApp);
        QObject::connect(timer, &QTimer::timeout, qApp, look);
        timer->start(20);
    });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startDriver)
