// fwprep: the split and join jobs on two screens.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>

#include "captions.h"
#include "presenter.h"
#include "quit_signals.h"
#include "screens.h"
#include "work_folder.h"

namespace {

using namespace fwprep::app;

constexpr int kExitUsage = 2;

void printHelp()
{
    std::printf(
        "Usage: fwprep [FOLDER]\n"
        "Prepares fixed-width text data files on two screens: Form1 cuts every line of a\n"
        "text file into pieces (test1.txt), Form2 joins lines into columns (data.txt).\n"
        "\n"
        "FOLDER is where the input files are read and the output files written. Without\n"
        "it, a program in a folder of its own works in that folder; an installed program\n"
        "works in the current folder, or in the home folder when the current folder is /\n"
        "or cannot be written.\n"
        "\n"
        "Options:\n"
        "  -h, --help     Show this help.\n"
        "      --version  Show the version.\n"
        "Qt's own options (such as -platform or -style) are taken as well.\n");
}

// --help and --version need no display: they are answered before the GUI starts.
std::optional<int> answerInfoOption(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            printHelp();
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("fwprep %s\n", FWPREP_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

// Asked to quit during a job (a logout, for one), the program first cancels
// the job and waits for its end: the screens refuse to close while a job
// runs, which would otherwise turn the request down.
class Application final : public QApplication {
public:
    using QApplication::QApplication;
    std::function<void()> beforeQuit;

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Quit && beforeQuit)
            beforeQuit();
        return QApplication::event(event);
    }
};

struct StartUp {
    QString folder;
    QString error;
    bool usage = false;
};

// The folder to work in, from the arguments left after Qt took its own.
StartUp startUp(const QStringList& arguments)
{
    std::optional<QString> given;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (options && a == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && a.size() > 1 && a.startsWith(QLatin1Char('-')))
            return {{}, QStringLiteral("unrecognized option '%1'").arg(a), true};
        if (given)
            return {{}, QStringLiteral("one folder at most"), true};
        given = a;
    }
    const QFileInfo bin(QStringLiteral(FWPREP_INSTALL_BINDIR));
    const WorkFolder chosen = chooseWorkFolder({
        .programFolder = QCoreApplication::applicationDirPath(),
        .installBinFolder = bin.exists() ? bin.canonicalFilePath() : bin.filePath(),
        .given = given,
        .currentFolder = QDir::currentPath(),
        .homeFolder = QDir::homePath(),
    });
    return {chosen.path, chosen.error, false};
}

} // namespace

int main(int argc, char* argv[])
{
    if (const auto status = answerInfoOption(argc, argv))
        return *status;
    // Under a file-size limit a write then fails with EFBIG, and the job says
    // so as it does for a full disk, instead of the program vanishing and
    // leaving its temporary file behind.
    std::signal(SIGXFSZ, SIG_IGN);

    int status = 0;
    int signal = 0;
    {
        Application app(argc, argv);
        QApplication::setApplicationName(text::appName());
        // A logout, a shutdown or a closed terminal ends the program through
        // its event loop; a running job is cancelled on the way out.
        QuitSignals quitSignals;
        QObject::connect(&quitSignals, &QuitSignals::arrived, &app, [] { QCoreApplication::exit(1); });
        MessageBoxPresenter presenter;

        const StartUp start = startUp(QApplication::arguments());
        if (!start.error.isEmpty()) {
            std::fprintf(stderr, "fwprep: %s\n", start.error.toLocal8Bit().constData());
            if (start.usage)
                std::fprintf(stderr, "Try 'fwprep --help' for more information.\n");
            presenter.present(nullptr, {ScreenMessage::Icon::Critical, start.error});
            status = kExitUsage;
        } else {
            Screens screens(start.folder, presenter);
            app.beforeQuit = [&screens] { screens.stopJob(); };
            screens.start();
            // Closing the shown screen closes the last visible window, which
            // ends the program; a hidden screen does not keep it running.
            status = QApplication::exec();
            app.beforeQuit = nullptr;
        }
        signal = quitSignals.received();
    }
    if (signal != 0)
        QuitSignals::endWith(signal);
    return status;
}
