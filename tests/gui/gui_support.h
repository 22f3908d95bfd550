#pragma once
#include <QString>
#include <vector>

#include "presenter.h"

class QPushButton;
class QWidget;

namespace fwprep::app {
class Form;
class Screens;
}

namespace fwprep::guitest {

// Keeps every message a screen would have shown, instead of opening a box.
class RecordingPresenter final : public app::MessagePresenter {
public:
    struct Shown {
        QWidget* screen;
        app::ScreenMessage message;
    };
    void present(QWidget* screen, const app::ScreenMessage& message) override
    {
        shown.push_back({screen, message});
    }
    std::vector<Shown> shown;
};

// Types the three texts into a screen's empty fields, as a user would.
void typeFields(app::Form& form, const QString& count, const QString& width, const QString& name);
// The screen's three field texts.
QStringList fieldTexts(const app::Form& form);
// A left click in the middle of the button.
void press(QPushButton* button);
// Presses the screen's "Yaz" and lets the event loop run until its job has
// ended and its message, if any, has been shown; false after a minute.
[[nodiscard]] bool pressYaz(app::Screens& screens, app::Form& form);
// How many live top-level widgets carry this object name.
int windowsNamed(const QString& name);

} // namespace fwprep::guitest
