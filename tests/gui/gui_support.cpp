#include "gui_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "form.h"
#include "screens.h"

namespace fwprep::guitest {

void typeFields(app::Form& form, const QString& count, const QString& width, const QString& name)
{
    const std::pair<QLineEdit*, QString> fields[] = {
        {form.text1(), count}, {form.text2(), width}, {form.text3(), name}};
    for (const auto& [edit, text] : fields) {
        edit->clear();
        // Key clicks where the test library can spell the key; other letters
        // go in as a keyboard layout would put them.
        for (const QChar c : text) {
            if (c.unicode() < 0x80)
                QTest::keyClick(edit, c.toLatin1());
            else
                edit->insert(QString(c));
        }
    }
}

QStringList fieldTexts(const app::Form& form)
{
    return {form.text1()->text(), form.text2()->text(), form.text3()->text()};
}

void press(QPushButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

bool pressYaz(app::Screens& screens, app::Form& form)
{
    press(form.jobButton());
    return QTest::qWaitFor([&] { return !screens.runner().isRunning(); }, 60000);
}

int windowsNamed(const QString& name)
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->objectName() == name ? 1 : 0;
    return n;
}

} // namespace fwprep::guitest
