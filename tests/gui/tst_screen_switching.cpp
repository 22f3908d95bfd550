#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "gui_support.h"
#include "screens.h"

using namespace fwprep;
using namespace fwprep::app;
using namespace fwprep::guitest;

namespace {

// Records, in order, which screen window was shown or hidden.
class VisibilityLog : public QObject {
public:
    VisibilityLog() { qApp->installEventFilter(this); }
    ~VisibilityLog() override { qApp->removeEventFilter(this); }
    QStringList events;

protected:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || !w->isWindow() || !w->objectName().startsWith(QLatin1String("Form")))
            return false;
        if (e->type() == QEvent::Show)
            events << w->objectName() + QStringLiteral(" shown");
        else if (e->type() == QEvent::Hide)
            events << w->objectName() + QStringLiteral(" hidden");
        return false;
    }
};

} // namespace

class TestScreenSwitching : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startsOnForm1();
    void firstDataFileCreatesForm2();
    void switchesKeepFieldsAndScreens();
    void switchOrder_data();
    void switchOrder();
    void shownAgainWhereItWas();
    void closingTheShownScreenEnds_data();
    void closingTheShownScreenEnds();

private:
    void dataFile() { press(screens->form1()->switchButton()); }
    void returnToForm1() { press(screens->form2()->switchButton()); }

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<RecordingPresenter> presenter;
    std::unique_ptr<Screens> screens;
};

void TestScreenSwitching::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    presenter = std::make_unique<RecordingPresenter>();
    screens = std::make_unique<Screens>(folder->path(), *presenter);
}

void TestScreenSwitching::cleanup()
{
    screens.reset();
    QCOMPARE(windowsNamed(QStringLiteral("Form1")), 0);
    QCOMPARE(windowsNamed(QStringLiteral("Form2")), 0);
}

void TestScreenSwitching::startsOnForm1()
{
    QCOMPARE(windowsNamed(QStringLiteral("Form1")), 0);
    screens->start();
    Form1* form1 = screens->form1();
    QVERIFY(form1);
    QVERIFY(QTest::qWaitForWindowActive(form1));
    QVERIFY(form1->isVisible());
    QCOMPARE(fieldTexts(*form1), QStringList({"", "", ""}));
    QCOMPARE(QApplication::focusWidget(), form1->jobButton());
    QCOMPARE(form1->jobButton()->text(), QStringLiteral("Yaz"));
    QCOMPARE(screens->form2(), nullptr);
    QCOMPARE(windowsNamed(QStringLiteral("Form2")), 0);
    QCOMPARE(windowsNamed(QStringLiteral("Form1")), 1);
}

void TestScreenSwitching::firstDataFileCreatesForm2()
{
    screens->start();
    QVERIFY(QTest::qWaitForWindowActive(screens->form1()));
    dataFile();
    Form2* form2 = screens->form2();
    QVERIFY(form2);
    QVERIFY(QTest::qWaitForWindowActive(form2));
    QVERIFY(!screens->form1()->isVisible());
    QVERIFY(form2->isVisible());
    QCOMPARE(fieldTexts(*form2), QStringList({"", "", ""}));
    QCOMPARE(QApplication::focusWidget(), form2->switchButton());
    QCOMPARE(form2->switchButton()->text(), QStringLiteral("Return"));
    QCOMPARE(windowsNamed(QStringLiteral("Form2")), 1);
    QVERIFY(presenter->shown.empty());
}

void TestScreenSwitching::switchesKeepFieldsAndScreens()
{
    screens->start();
    Form1* form1 = screens->form1();
    QVERIFY(QTest::qWaitForWindowExposed(form1));
    typeFields(*form1, QStringLiteral("3"), QStringLiteral(" 5"), QStringLiteral("girdi "));
    dataFile();
    Form2* form2 = screens->form2();
    QVERIFY(form2);
    typeFields(*form2, QStringLiteral("7"), QStringLiteral("x"), QStringLiteral("başka"));
    returnToForm1();
    QVERIFY(form1->isVisible());
    QVERIFY(!form2->isVisible());
    QCOMPARE(fieldTexts(*form1), QStringList({"3", " 5", "girdi "}));

    for (int i = 0; i < 10; ++i) {
        dataFile();
        QCOMPARE(screens->form2(), form2);
        QVERIFY(form2->isVisible() && !form1->isVisible());
        QCOMPARE(fieldTexts(*form2), QStringList({"7", "x", "başka"}));
        returnToForm1();
        QCOMPARE(screens->form1(), form1);
        QVERIFY(form1->isVisible() && !form2->isVisible());
        QCOMPARE(fieldTexts(*form1), QStringList({"3", " 5", "girdi "}));
    }
    QCOMPARE(windowsNamed(QStringLiteral("Form1")), 1);
    QCOMPARE(windowsNamed(QStringLiteral("Form2")), 1);
    QVERIFY(presenter->shown.empty());
    QVERIFY(QDir(folder->path()).isEmpty());
}

void TestScreenSwitching::switchOrder_data()
{
    QTest::addColumn<int>("presses"); // alternating, starting with "Data File"
    QTest::addColumn<QStringList>("events");
    const QStringList dataFile{"Form1 hidden", "Form2 shown"};
    const QStringList back{"Form1 shown", "Form2 hidden"};
    QTest::newRow("first Data File") << 1 << dataFile;
    QTest::newRow("Return") << 2 << dataFile + back;
    QTest::newRow("second Data File") << 3 << dataFile + back + dataFile;
}

// "Data File" hides its screen before showing the other; "Return" shows the
// other before hiding its own.
void TestScreenSwitching::switchOrder()
{
    QFETCH(int, presses);
    QFETCH(QStringList, events);
    screens->start();
    QVERIFY(QTest::qWaitForWindowExposed(screens->form1()));
    VisibilityLog log;
    for (int i = 0; i < presses; ++i)
        i % 2 == 0 ? dataFile() : returnToForm1();
    QCOMPARE(log.events, events);
}

void TestScreenSwitching::shownAgainWhereItWas()
{
    screens->start();
    Form1* form1 = screens->form1();
    QVERIFY(QTest::qWaitForWindowExposed(form1));
    form1->move(40, 70);
    QTRY_COMPARE(form1->pos(), QPoint(40, 70));
    dataFile();
    Form2* form2 = screens->form2();
    QVERIFY(QTest::qWaitForWindowExposed(form2));
    form2->move(220, 130);
    QTRY_COMPARE(form2->pos(), QPoint(220, 130));
    returnToForm1();
    QVERIFY(QTest::qWaitForWindowExposed(form1));
    QCOMPARE(form1->pos(), QPoint(40, 70));
    dataFile();
    QVERIFY(QTest::qWaitForWindowExposed(form2));
    QCOMPARE(form2->pos(), QPoint(220, 130));
}

void TestScreenSwitching::closingTheShownScreenEnds_data()
{
    QTest::addColumn<int>("switches");
    QTest::newRow("Form1 at start") << 0;
    QTest::newRow("Form2, Form1 hidden") << 1;
    QTest::newRow("Form1 again, Form2 hidden") << 2;
}

// The hidden screen must not keep the program running where no one can reach it.
void TestScreenSwitching::closingTheShownScreenEnds()
{
    QFETCH(int, switches);
    screens->start();
    QVERIFY(QTest::qWaitForWindowExposed(screens->form1()));
    for (int i = 0; i < switches; ++i)
        i % 2 == 0 ? dataFile() : returnToForm1();
    Form* shown = switches % 2 == 0 ? static_cast<Form*>(screens->form1()) : screens->form2();
    QVERIFY(shown->isVisible());

    QVERIFY(QApplication::quitOnLastWindowClosed());
    QTimer::singleShot(0, shown, [shown] { shown->close(); });
    // If closing did not end the event loop, this ends it with a failure code.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(7); });
    guard.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
}

QTEST_MAIN(TestScreenSwitching)
#include "tst_screen_switching.moc"
