// fwprep-cli: the split and join jobs from the command line.

#include <atomic>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "file_job.h"
#include "messages.h"
#include "number.h"
#include "progress_bar.h"
#include "signals.h"

namespace {

using namespace fwprep;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> g_cancel{false};

struct Command {
    const char* name;
    JobKind kind;
    const char* summary;
};

constexpr Command kCommands[] = {
    {"split", JobKind::Split, "cut every line into COUNT pieces of WIDTH characters, one piece per output line"},
    {"join", JobKind::Join, "fit every line to WIDTH characters (cut, or spaces in front) and join every COUNT lines into one"},
};

int fail(int code, const std::string& message)
{
    std::fprintf(stderr, "fwprep-cli: %s\n", message.c_str());
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

const std::vector<cli::OptionSpec> kOptions = {
    {'n', "count", "COUNT", "Pieces per line (split) or lines per output line (join): an integer in -32768..32767; 0 or less: none (split), all on one line (join)."},
    {'w', "width", "WIDTH", "Characters per piece or column: an integer in 0..32767."},
    {'e', "encoding", "ENC", "How characters are counted: auto (UTF-8 when the text is valid UTF-8, else one byte each), utf-8, bytes. Default: auto."},
    {'\0', "eol", "EOL", "Output line end: auto (as the input's first line end), lf, crlf. Default: auto."},
    {'o', "output", "FILE", "Write to FILE (default: standard output); a regular file is replaced only when the job has completed."},
    {'\0', "progress", nullptr, "Show a progress bar on standard error."},
    {'h', "help", nullptr, "Show this help."},
};

void printCommandHelp(const Command& command)
{
    std::printf("Usage: fwprep-cli %s -n COUNT -w WIDTH [options] [INPUT]\n%s\n\nOptions:\n%s\n"
                "Arguments:\n  INPUT                 The input text file; '-' or none reads standard input.\n",
        command.name, command.summary, cli::describeOptions(kOptions).c_str());
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

int runCommand(const Command& command, const std::vector<std::string>& args)
{
    cli::Arguments parsed;
    if (const auto error = parsed.parse(args, kOptions))
        return fail(kExitUsage, *error);
    if (parsed.isSet("help")) {
        printCommandHelp(command);
        return kExitOk;
    }

    const auto number = [&](const char* name) -> std::optional<int> {
        if (!parsed.isSet(name)) {
            fail(kExitUsage, std::string("missing --") + name);
            return std::nullopt;
        }
        const std::string text = parsed.value(name);
        const auto value = parseInt16(text);
        if (!value) {
            fail(kExitUsage, std::string("--") + name + ": '" + text + "' is not an integer in -32768..32767");
            return std::nullopt;
        }
        return *value;
    };
    const auto count = number("count");
    if (!count)
        return kExitUsage;
    const auto width = number("width");
    if (!width)
        return kExitUsage;
    if (*width < 0)
        return fail(kExitUsage, "--width: must not be negative: " + std::to_string(*width));

    FileJob job;
    job.params.kind = command.kind;
    job.params.count = *count;
    job.params.width = *width;

    const std::string encoding = lower(parsed.value("encoding", "auto"));
    if (encoding == "auto")
        job.params.encoding = Encoding::Auto;
    else if (encoding == "utf-8" || encoding == "utf8")
        job.params.encoding = Encoding::Utf8;
    else if (encoding == "bytes")
        job.params.encoding = Encoding::Bytes;
    else
        return fail(kExitUsage, "--encoding: '" + parsed.value("encoding") + "' is not one of auto, utf-8, bytes");

    const std::string eol = lower(parsed.value("eol", "auto"));
    if (eol == "auto")
        job.params.lineEnd = LineEndChoice::Auto;
    else if (eol == "lf")
        job.params.lineEnd = LineEndChoice::Lf;
    else if (eol == "crlf")
        job.params.lineEnd = LineEndChoice::CrLf;
    else
        return fail(kExitUsage, "--eol: '" + parsed.value("eol") + "' is not one of auto, lf, crlf");

    const std::vector<std::string>& inputs = parsed.positional();
    if (inputs.size() > 1)
        return fail(kExitUsage, "one input file at most, got " + std::to_string(inputs.size()));
    // Names are passed on as the bytes they are: no conversion on the way.
    job.input = inputs.empty() ? std::string("-") : inputs.front();
    job.output = parsed.value("output", "-");
    if (job.output.empty())
        return fail(kExitUsage, "--output: the file name is empty");

    fwprep::cli::handleSignals(g_cancel);
    fwprep::cli::ProgressBar bar(stderr);
    JobControl control;
    control.cancel = &g_cancel;
    if (parsed.isSet("progress"))
        control.progress = [&bar](std::uint64_t done, std::uint64_t total) { bar.update(done, total); };

    const JobResult result = runFileJob(job, control);
    bar.finish();
    if (result)
        return fail(kExitFailed, fwprep::cli::describe(*result));
    return kExitOk;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2)
        return fail(kExitUsage, "no command given (split or join)");
    const std::string first = argv[1];
    if (first == "-h" || first == "--help") {
        printUsage(stdout);
        return kExitOk;
    }
    if (first == "-v" || first == "--version") {
        std::printf("fwprep-cli %s\n", FWPREP_VERSION);
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (first == command.name)
            return runCommand(command, std::vector<std::string>(argv + 2, argv + argc));
    }
    return fail(kExitUsage, "unknown command '" + first + "' (split or join)");
}
