#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <memory>

#include "form.h"

using namespace fwprep::app;

namespace {

std::unique_ptr<Form> makeScreen(const QString& name)
{
    if (name == QLatin1String("Form1"))
        return std::make_unique<Form1>();
    return std::make_unique<Form2>();
}

// Pixel rectangles at 96 dpi of every control, worked out by hand from the
// twips of the screen tables. A field's caption is its label's, by which a
// screen reader names it.
struct Control {
    const char* name;
    const char* kind;
    QString caption;
    QRect rect;
};

const std::vector<Control>& controlsOf(const QString& screen)
{
    static const std::vector<Control> form1{
        {"Label1", "label", QStringLiteral("Data Sayısı"), {24, 16, 113, 25}},
        {"Text1", "field", QStringLiteral("Data Sayısı"), {144, 16, 89, 25}},
        {"Label2", "label", QStringLiteral("Data Uzunluğu"), {16, 56, 121, 25}},
        {"Text2", "field", QStringLiteral("Data Uzunluğu"), {144, 56, 89, 25}},
        {"Label3", "label", QStringLiteral("Dosya Adı"), {16, 96, 121, 25}},
        {"Text3", "field", QStringLiteral("Dosya Adı"), {144, 96, 89, 25}},
        {"Command2", "button", QStringLiteral("Data File"), {128, 168, 65, 25}},
        {"Command1", "button", QStringLiteral("Yaz"), {224, 168, 65, 25}},
    };
    static const std::vector<Control> form2{
        {"Label1", "label", QStringLiteral("Column Sayısı"), {16, 24, 89, 17}},
        {"Text1", "field", QStringLiteral("Column Sayısı"), {136, 24, 89, 25}},
        {"Label2", "label", QStringLiteral("Data Uzunluğu"), {16, 64, 97, 25}},
        {"Text2", "field", QStringLiteral("Data Uzunluğu"), {136, 64, 89, 25}},
        {"Label3", "label", QStringLiteral("Dosya Adı"), {8, 104, 113, 25}},
        {"Text3", "field", QStringLiteral("Dosya Adı"), {136, 104, 89, 25}},
        {"Command1", "button", QStringLiteral("Return"), {120, 168, 65, 25}},
        {"Command2", "button", QStringLiteral("Yaz"), {224, 168, 57, 25}},
    };
    return screen == QLatin1String("Form1") ? form1 : form2;
}

QString focusName()
{
    QWidget* w = QApplication::focusWidget();
    return w ? w->objectName() : QStringLiteral("(none)");
}

} // namespace

class TestScreenLayout : public QObject {
    Q_OBJECT
private slots:
    void screen_data();
    void screen();
    void controls_data();
    void controls();
    void resizingMovesNothing_data();
    void resizingMovesNothing();
    void tabCycle_data();
    void tabCycle();
    void keysPressFocusedButton_data();
    void keysPressFocusedButton();
    void enterInAFieldPressesNothing_data();
    void enterInAFieldPressesNothing();
    void fieldsTakeAnyText();
};

void TestScreenLayout::screen_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("jobButton");
    QTest::addColumn<QString>("switchButton");
    QTest::newRow("Form1") << "Form1" << "Yaz" << "Data File";
    QTest::newRow("Form2") << "Form2" << "Yaz" << "Return";
}

void TestScreenLayout::screen()
{
    QFETCH(QString, name);
    QFETCH(QString, jobButton);
    QFETCH(QString, switchButton);
    const auto form = makeScreen(name);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QCOMPARE(form->windowTitle(), name);
    QCOMPARE(form->objectName(), name);
    QCOMPARE(form->size(), QSize(312, 206));
    QCOMPARE(form->jobButton()->text(), jobButton);
    QCOMPARE(form->switchButton()->text(), switchButton);
    // Eight controls, no more: three labels, three fields, two buttons.
    QCOMPARE(form->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly).size(), 3);
    QCOMPARE(form->findChildren<QLineEdit*>(QString(), Qt::FindDirectChildrenOnly).size(), 3);
    QCOMPARE(form->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly).size(), 2);
}

void TestScreenLayout::controls_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("rect");
    for (const char* screen : {"Form1", "Form2"}) {
        for (const Control& c : controlsOf(QString::fromLatin1(screen)))
            QTest::addRow("%s %s", screen, c.name) << screen << c.name << c.kind << c.caption << c.rect;
    }
}

void TestScreenLayout::controls()
{
    QFETCH(QString, screen);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    QFETCH(QRect, rect);
    const auto form = makeScreen(screen);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));

    auto* w = form->findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
    QVERIFY(w);
    QCOMPARE(w->geometry(), rect);
    QVERIFY(w->isVisible());
    QVERIFY(w->isEnabled());
    if (kind == QLatin1String("label")) {
        auto* label = qobject_cast<QLabel*>(w);
        QVERIFY(label);
        QCOMPARE(label->text(), caption);
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        QVERIFY(label->alignment() & Qt::AlignLeft);
        // The caption fits its label, unclipped.
        QVERIFY2(label->fontMetrics().horizontalAdvance(caption) <= label->contentsRect().width(),
            qPrintable(QString::number(label->fontMetrics().horizontalAdvance(caption))));
        QVERIFY(label->fontMetrics().height() <= label->contentsRect().height());
    } else if (kind == QLatin1String("field")) {
        auto* field = qobject_cast<QLineEdit*>(w);
        QVERIFY(field);
        QVERIFY(field->text().isEmpty());
        QVERIFY(field->focusPolicy() & Qt::TabFocus);
        // Named by its label ("Data Sayısı"), not as an unnamed "edit".
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(field);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), caption);
        const auto labels = form->findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
            [&](QLabel* l) { return l->buddy() == field && l->text() == caption; }));
    } else {
        auto* button = qobject_cast<QPushButton*>(w);
        QVERIFY(button);
        QCOMPARE(button->text(), caption);
        QVERIFY(button->focusPolicy() & Qt::TabFocus);
    }
}

void TestScreenLayout::resizingMovesNothing_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QSize>("size");
    QTest::newRow("Form1 larger") << "Form1" << QSize(640, 480);
    QTest::newRow("Form1 smaller") << "Form1" << QSize(150, 100);
    QTest::newRow("Form2 larger") << "Form2" << QSize(900, 300);
    QTest::newRow("Form2 maximised") << "Form2" << QSize();
}

void TestScreenLayout::resizingMovesNothing()
{
    QFETCH(QString, screen);
    QFETCH(QSize, size);
    const auto form = makeScreen(screen);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    if (size.isValid()) {
        form->resize(size);
        QTRY_COMPARE(form->size(), size);
    } else {
        form->showMaximized();
        QTRY_VERIFY(form->size() != QSize(312, 206));
    }
    for (const Control& c : controlsOf(screen)) {
        auto* w = form->findChild<QWidget*>(QString::fromLatin1(c.name));
        QVERIFY(w);
        QCOMPARE(w->geometry(), c.rect);
    }
}

void TestScreenLayout::tabCycle_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<QStringList>("visits"); // from the first focus, twice round
    const QStringList form1{"Command1", "Text1", "Text2", "Text3", "Command2"};
    const QStringList form2{"Command1", "Command2", "Text1", "Text2", "Text3"};
    const auto twice = [](QStringList order, bool backwards) {
        if (backwards) {
            std::reverse(order.begin() + 1, order.end());
        }
        return order + order + QStringList{order.front()};
    };
    QTest::newRow("Form1 Tab") << "Form1" << false << twice(form1, false);
    QTest::newRow("Form1 Shift+Tab") << "Form1" << true << twice(form1, true);
    QTest::newRow("Form2 Tab") << "Form2" << false << twice(form2, false);
    QTest::newRow("Form2 Shift+Tab") << "Form2" << true << twice(form2, true);
}

void TestScreenLayout::tabCycle()
{
    QFETCH(QString, screen);
    QFETCH(bool, backwards);
    QFETCH(QStringList, visits);
    const auto form = makeScreen(screen);
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QCOMPARE(focusName(), visits.front());

    QStringList seen{focusName()};
    for (qsizetype i = 1; i < visits.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        seen << focusName();
    }
    QCOMPARE(seen, visits);
}

void TestScreenLayout::keysPressFocusedButton_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    for (const char* screen : {"Form1", "Form2"}) {
        for (const char* button : {"Command1", "Command2"}) {
            QTest::addRow("%s %s Space", screen, button) << screen << button << int(Qt::Key_Space);
            QTest::addRow("%s %s Return", screen, button) << screen << button << int(Qt::Key_Return);
            QTest::addRow("%s %s Enter", screen, button) << screen << button << int(Qt::Key_Enter);
        }
    }
}

void TestScreenLayout::keysPressFocusedButton()
{
    QFETCH(QString, screen);
    QFETCH(QString, button);
    QFETCH(int, key);
    const auto form = makeScreen(screen);
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QSignalSpy job(form->jobButton(), &QPushButton::clicked);
    QSignalSpy other(form->switchButton(), &QPushButton::clicked);
    auto* target = form->findChild<QPushButton*>(button);
    target->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), target);

    QTest::keyClick(target, Qt::Key(key));
    const bool isJob = target == form->jobButton();
    QCOMPARE(job.count(), isJob ? 1 : 0);
    QCOMPARE(other.count(), isJob ? 0 : 1);
}

void TestScreenLayout::enterInAFieldPressesNothing_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QString>("field");
    for (const char* screen : {"Form1", "Form2"})
        for (const char* field : {"Text1", "Text2", "Text3"})
            QTest::addRow("%s %s", screen, field) << screen << field;
}

// Neither screen has a default button.
void TestScreenLayout::enterInAFieldPressesNothing()
{
    QFETCH(QString, screen);
    QFETCH(QString, field);
    const auto form = makeScreen(screen);
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QSignalSpy job(form->jobButton(), &QPushButton::clicked);
    QSignalSpy other(form->switchButton(), &QPushButton::clicked);
    auto* edit = form->findChild<QLineEdit*>(field);
    edit->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(edit, QStringLiteral("12"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QTest::keyClick(edit, Qt::Key_Escape);
    QCOMPARE(job.count(), 0);
    QCOMPARE(other.count(), 0);
    QCOMPARE(edit->text(), QStringLiteral("12"));
    QVERIFY(form->isVisible());
}

// Leading and trailing spaces stay, and no length limit cuts a long text.
void TestScreenLayout::fieldsTakeAnyText()
{
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.text3()->insert(QStringLiteral("  çığ dosya  "));
    const QString long_(40000, QLatin1Char('7'));
    form.text1()->setText(long_);
    form.text2()->insert(QStringLiteral(" 5 "));
    const auto fields = form.fields();
    QCOMPARE(QString::fromStdString(fields.name), QStringLiteral("  çığ dosya  "));
    QCOMPARE(fields.count.size(), std::size_t(40000));
    QCOMPARE(fields.width, std::string(" 5 "));
}

QTEST_MAIN(TestScreenLayout)
#include "tst_screen_layout.moc"
