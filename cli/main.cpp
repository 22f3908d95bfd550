// fwprep-cli: the split and join jobs from the command line.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>

#include "file_job.h"
#include "messages.h"
#include "number.h"
#include "progress_bar.h"

namespace {

using namespace fwprep;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> g_cancel{false};

extern "C" void onSignal(int)
{
    g_cancel.store(true);
}

// Ctrl+C and SIGTERM cancel the job, which then ends within a fraction of a
// second and cleans up. Writing to standard output, a second signal ends the
// program at once (a write to a stalled pipe may never return); writing a file,
// every signal only cancels, so that no temporary file is left behind.
void installSignalHandlers(bool secondSignalEnds)
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = secondSignalEnds ? SA_RESETHAND : 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

struct Command {
    const char* name;
    JobKind kind;
    const char* summary;
};

constexpr Command kCommands[] = {
    {"split", JobKind::Split, "cut every line into COUNT pieces of WIDTH characters, one piece per output line"},
    {"join", JobKind::Join, "fit every line to WIDTH characters (cut, or spaces in front) and join every COUNT lines into one"},
};

int fail(int code, const QString& message)
{
    std::fprintf(stderr, "fwprep-cli: %s\n", qUtf8Printable(message));
    if (code == kExitUsage)
        std::fprintf(stderr, "Try 'fwprep-cli --help' for more information.\n");
    return code;
}

void printUsage(std::FILE* out)
{
    std::fprintf(out,
        "Usage: fwprep-cli COMMAND -n COUNT -w WIDTH [options] [INPUT]\n"
        "Prepares fixed-width text data files.\n\n"
        "Commands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %-6s %s\n", c.name, c.summary);
    std::fprintf(out,
        "\nRun 'fwprep-cli COMMAND --help' for the options of a command.\n"
        "Exit status: 0 done, 1 the job failed, 2 usage error.\n");
}

std::string localPath(const QString& arg)
{
    return QFile::encodeName(arg).toStdString();
}

int runCommand(const Command& command, QStringList args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(command.summary));
    const QCommandLineOption countOpt({"n", "count"}, "Pieces per line (split) or lines per output line (join): an integer in -32768..32767; 0 or less: none (split), all on one line (join).", "COUNT");
    const QCommandLineOption widthOpt({"w", "width"}, "Characters per piece or column: an integer in 0..32767.", "WIDTH");
    const QCommandLineOption encodingOpt({"e", "encoding"}, "How characters are counted: auto (UTF-8 when the text is valid UTF-8, else one byte each), utf-8, bytes. Default: auto.", "ENC", "auto");
    const QCommandLineOption eolOpt("eol", "Output line end: auto (as the input's first line end), lf, crlf. Default: auto.", "EOL", "auto");
    const QCommandLineOption outputOpt({"o", "output"}, "Write to FILE, replacing it only when the job has completed (default: standard output).", "FILE");
    const QCommandLineOption progressOpt("progress", "Show a progress bar on standard error.");
    parser.addOptions({countOpt, widthOpt, encodingOpt, eolOpt, outputOpt, progressOpt});
    parser.addPositionalArgument("INPUT", "The input text file; '-' or none reads standard input.", "[INPUT]");
    const QCommandLineOption helpOpt = parser.addHelpOption();

    args.removeAt(1); // the command name
    if (!parser.parse(args))
        return fail(kExitUsage, parser.errorText());
    if (parser.isSet(helpOpt)) {
        QString help = parser.helpText();
        const qsizetype lineEnd = help.indexOf('\n');
        help.replace(0, lineEnd, QStringLiteral("Usage: fwprep-cli %1 -n COUNT -w WIDTH [options] [INPUT]").arg(command.name));
        std::fprintf(stdout, "%s", qUtf8Printable(help));
        return kExitOk;
    }

    const auto number = [&](const QCommandLineOption& opt, const char* name) -> std::optional<int> {
        if (!parser.isSet(opt)) {
            fail(kExitUsage, QStringLiteral("missing --%1").arg(name));
            return std::nullopt;
        }
        const QString text = parser.value(opt);
        const auto value = parseInt16(text.toStdString());
        if (!value) {
            fail(kExitUsage, QStringLiteral("--%1: '%2' is not an integer in -32768..32767").arg(name, text));
            return std::nullopt;
        }
        return *value;
    };
    const auto count = number(countOpt, "count");
    if (!count)
        return kExitUsage;
    const auto width = number(widthOpt, "width");
    if (!width)
        return kExitUsage;
    if (*width < 0)
        return fail(kExitUsage, QStringLiteral("--width: must not be negative: %1").arg(*width));

    FileJob job;
    job.params.kind = command.kind;
    job.params.count = *count;
    job.params.width = *width;

    const QString encoding = parser.value(encodingOpt).toLower();
    if (encoding == "auto")
        job.params.encoding = Encoding::Auto;
    else if (encoding == "utf-8" || encoding == "utf8")
        job.params.encoding = Encoding::Utf8;
    else if (encoding == "bytes")
        job.params.encoding = Encoding::Bytes;
    else
        return fail(kExitUsage, QStringLiteral("--encoding: '%1' is not one of auto, utf-8, bytes").arg(parser.value(encodingOpt)));

    const QString eol = parser.value(eolOpt).toLower();
    if (eol == "auto")
        job.params.lineEnd = LineEndChoice::Auto;
    else if (eol == "lf")
        job.params.lineEnd = LineEndChoice::Lf;
    else if (eol == "crlf")
        job.params.lineEnd = LineEndChoice::CrLf;
    else
        return fail(kExitUsage, QStringLiteral("--eol: '%1' is not one of auto, lf, crlf").arg(parser.value(eolOpt)));

    const QStringList inputs = parser.positionalArguments();
    if (inputs.size() > 1)
        return fail(kExitUsage, QStringLiteral("one input file at most, got %1").arg(inputs.size()));
    job.input = inputs.isEmpty() ? std::string("-") : localPath(inputs.front());
    job.output = parser.isSet(outputOpt) ? localPath(parser.value(outputOpt)) : std::string("-");
    if (job.output.empty())
        return fail(kExitUsage, "--output: the file name is empty");

    installSignalHandlers(job.output == "-");
    fwprep::cli::ProgressBar bar(stderr);
    JobControl control;
    control.cancel = &g_cancel;
    if (parser.isSet(progressOpt))
        control.progress = [&bar](std::uint64_t done, std::uint64_t total) { bar.update(done, total); };

    const JobResult result = runFileJob(job, control);
    bar.finish();
    if (result)
        return fail(kExitFailed, QString::fromStdString(fwprep::cli::describe(*result)));
    return kExitOk;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("fwprep-cli");
    QCoreApplication::setApplicationVersion(FWPREP_VERSION);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2)
        return fail(kExitUsage, "no command given (split or join)");
    const QString first = args.at(1);
    if (first == "-h" || first == "--help") {
        printUsage(stdout);
        return kExitOk;
    }
    if (first == "-v" || first == "--version") {
        std::printf("fwprep-cli %s\n", FWPREP_VERSION);
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (first == QLatin1String(command.name))
            return runCommand(command, args);
    }
    return fail(kExitUsage, QStringLiteral("unknown command '%1' (split or join)").arg(first));
}
