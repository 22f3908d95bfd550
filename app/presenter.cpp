#include "presenter.h"

#include <QMessageBox>

#include "captions.h"

namespace fwprep::app {

void MessageBoxPresenter::present(QWidget* screen, const ScreenMessage& message)
{
    QMessageBox box(message.icon == ScreenMessage::Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon,
        text::appName(), message.text, QMessageBox::Ok, screen);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setWindowModality(Qt::ApplicationModal);
    // The text carries what the user typed and file names: never markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace fwprep::app
