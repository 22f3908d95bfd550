#include <QApplication>

#include "captions.h"
#include "presenter.h"
#include "screens.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(fwprep::app::text::appName());

    fwprep::app::MessageBoxPresenter presenter;
    // The jobs read and write the files beside the program.
    fwprep::app::Screens screens(QCoreApplication::applicationDirPath(), presenter);
    screens.start();
    // Closing the shown screen closes the last visible window, which ends the
    // program; a hidden screen does not keep it running.
    return app.exec();
}
