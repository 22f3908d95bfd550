#include "form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <limits>

#include "captions.h"

namespace fwprep::app {

namespace {

// 1440 twips to the inch, 96 pixels to the inch.
constexpr int pixels(int twips)
{
    return twips / 15;
}

QRect rectOf(int left, int top, int width, int height)
{
    return {pixels(left), pixels(top), pixels(width), pixels(height)};
}

// The client area of both screens: 4680 x 3090 twips.
constexpr int kClientWidth = 4680;
constexpr int kClientHeight = 3090;

template <typename W>
W* place(W* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(rectOf(left, top, width, height));
    return widget;
}

QPushButton* makeButton(QWidget* parent, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    // Enter on a focused button presses it, as Space does. Outside a dialog
    // this makes no button the screen's default: Enter in a field does nothing.
    button->setAutoDefault(true);
    return button;
}

QLineEdit* makeField(QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    // No length limit of its own (the widget's default would stop at 32767).
    field->setMaxLength(std::numeric_limits<int>::max());
    return field;
}

QLabel* makeLabel(QWidget* parent, const QString& caption)
{
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace

Form::Form(const Layout& l)
{
    const auto at = [](auto* w, const char* name, const Place& p) {
        return place(w, name, p.left, p.top, p.width, p.height);
    };
    setObjectName(l.title);
    setWindowTitle(l.title);
    // No layout manager: the controls keep their places whatever the window's size.
    resize(pixels(kClientWidth), pixels(kClientHeight));

    label1_ = at(makeLabel(this, l.label1Caption), "Label1", l.label1);
    text1_ = at(makeField(this), "Text1", l.text1);
    label2_ = at(makeLabel(this, text::dataUzunlugu()), "Label2", l.label2);
    text2_ = at(makeField(this), "Text2", l.text2);
    label3_ = at(makeLabel(this, text::dosyaAdi()), "Label3", l.label3);
    text3_ = at(makeField(this), "Text3", l.text3);
    // Each label names its field, for a screen reader as for the eye.
    label1_->setBuddy(text1_);
    label2_->setBuddy(text2_);
    label3_->setBuddy(text3_);
    command1_ = at(makeButton(this, l.command1Caption), "Command1", l.command1);
    command2_ = at(makeButton(this, l.command2Caption), "Command2", l.command2);

    QWidget* previous = nullptr;
    for (const char* name : l.tabOrder) {
        auto* widget = findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
        Q_ASSERT(widget);
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
    if (!l.tabOrder.empty())
        findChild<QWidget*>(QString::fromLatin1(l.tabOrder.front()), Qt::FindDirectChildrenOnly)->setFocus();
}

FieldTexts Form::fields() const
{
    return {text1_->text().toStdString(), text2_->text().toStdString(), text3_->text().toStdString()};
}

Form1::Form1()
    : Form(Layout{
        .title = QStringLiteral("Form1"),
        .label1Caption = text::dataSayisi(),
        .label1 = {360, 240, 1695, 375},
        .text1 = {2160, 240, 1335, 375},
        .label2 = {240, 840, 1815, 375},
        .text2 = {2160, 840, 1335, 375},
        .label3 = {240, 1440, 1815, 375},
        .text3 = {2160, 1440, 1335, 375},
        .command1 = {3360, 2520, 975, 375},
        .command2 = {1920, 2520, 975, 375},
        .command1Caption = text::yaz(),
        .command2Caption = text::dataFile(),
        .tabOrder = {"Command1", "Text1", "Text2", "Text3", "Command2"},
    })
{
}

Form2::Form2()
    : Form(Layout{
        .title = QStringLiteral("Form2"),
        .label1Caption = text::columnSayisi(),
        .label1 = {240, 360, 1335, 255},
        .text1 = {2040, 360, 1335, 375},
        .label2 = {240, 960, 1455, 375},
        .text2 = {2040, 960, 1335, 375},
        .label3 = {120, 1560, 1695, 375},
        .text3 = {2040, 1560, 1335, 375},
        .command1 = {1800, 2520, 975, 375},
        .command2 = {3360, 2520, 855, 375},
        .command1Caption = text::returnCaption(),
        .command2Caption = text::yaz(),
        .tabOrder = {"Command1", "Command2", "Text1", "Text2", "Text3"},
    })
{
}

} // namespace fwprep::app
