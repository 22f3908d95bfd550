// fwprep-cli: the split and join jobs from the command line.

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "arguments.h"
#include "file_job.h"
#include "job_options.h"
#include "messages.h"
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

void printCommandHelp(const Command& command)
{
    std::vector<cli::OptionSpec> options;
    for (const cli::OptionSpec& spec : cli::jobOptions()) {
        if (cli::appliesTo(spec, command.kind))
            options.push_back(spec);
    }
    std::printf("Usage: fwprep-cli %s -n COUNT -w WIDTH [options] [INPUT]\n"
                "       fwprep-cli %s -w WIDTH,WIDTH,... [options] [INPUT]\n%s\n\nOptions:\n%s\n"
                "Arguments:\n  INPUT                 The input text file; '-' or none reads standard input.\n\n"
                "A line or value that is cut is reported in one warning line on standard error;\n"
                "the exit status stays 0 unless --strict is given.\n",
        command.name, command.name, command.summary, cli::describeOptions(options).c_str());
}

int runCommand(const Command& command, const std::vector<std::string>& args)
{
    cli::Arguments parsed;
    if (const auto error = parsed.parse(args, cli::jobOptions()))
        return fail(kExitUsage, *error);
    if (parsed.isSet("help")) {
        printCommandHelp(command);
        return kExitOk;
    }

    FileJob job;
    if (const auto error = cli::readJobOptions(parsed, command.kind, job.params))
        return fail(kExitUsage, *error);

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

    JobStats stats;
    const JobResult result = runFileJob(job, control, &stats);
    bar.finish();
    if (result) {
        std::string message = fwprep::cli::describe(*result);
        if (result->kind == JobError::Kind::BadInput && !result->inPlace)
            message += "; " + job.output + " was left as it was";
        return fail(kExitFailed, message);
    }
    const std::string loss = fwprep::cli::describeLoss(command.kind, stats);
    if (!loss.empty())
        std::fprintf(stderr, "fwprep-cli: warning: %s\n", loss.c_str());
    if (parsed.isSet("verbose"))
        std::fprintf(stderr, "fwprep-cli: %s\n", fwprep::cli::describeRun(command.kind, stats).c_str());
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
