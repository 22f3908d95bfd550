#include "messages.h"

namespace fwprep::cli {

namespace {
std::string shown(const std::string& path)
{
    return path == "-" ? "standard input" : path;
}

// "1 line", "3 lines".
std::string counted(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "on line 7", "the first on line 7".
std::string where(std::uint64_t n, std::uint64_t line)
{
    return std::string(n == 1 ? "on" : "the first on") + " line " + std::to_string(line);
}
} // namespace

std::string describe(const JobError& error)
{
    using Kind = JobError::Kind;
    switch (error.kind) {
    case Kind::EmptyField:
        return "a value is missing";
    case Kind::BadNumber:
        return std::string(error.field == Field::Width ? "--width" : "--count") + ": '" + error.text
            + "' is not an integer in -32768..32767";
    case Kind::NegativeWidth:
        return "--width: must not be negative: " + std::to_string(error.value);
    case Kind::InputMissing:
        return shown(error.path) + ": no such file";
    case Kind::InputUnreadable:
        return shown(error.path) + ": cannot read: " + error.reason;
    case Kind::InputIsOutput:
        return shown(error.path) + ": the input is the output file itself";
    case Kind::OutputUnwritable:
        return (error.path == "-" ? std::string("standard output") : error.path) + ": cannot write: " + error.reason;
    case Kind::Cancelled:
        return error.inPlace ? "cancelled; what was written before stays in the output"
                             : "cancelled; the output was left as it was";
    case Kind::OutOfMemory:
        return "not enough memory to run the job";
    case Kind::BadInput:
        return shown(error.path) + ": line " + std::to_string(error.line) + ": " + error.reason;
    }
    return "failed";
}

} // namespace fwprep::cli

namespace fwprep::cli {

std::string describeLoss(JobKind kind, const JobStats& stats)
{
    std::string text;
    if (stats.cut > 0) {
        text = kind == JobKind::Split
            ? counted(stats.cut, "line was longer than the record and lost its end",
                  "lines were longer than the record and lost their end")
                + ", "
            : counted(stats.cut, "value was longer than its column", "values were longer than their columns")
                + " and cut, ";
        text += where(stats.cut, stats.firstCut);
    }
    if (stats.leftOut > 0) {
        text += std::string(text.empty() ? "" : "; ") + counted(stats.leftOut, "field", "fields")
            + " beyond the last column left out, " + where(stats.leftOut, stats.firstLeftOut);
    }
    return text;
}

std::string describeRun(JobKind kind, const JobStats& stats)
{
    std::string text = counted(stats.linesRead, "line", "lines") + " read, "
        + counted(stats.linesWritten, "line", "lines") + " written, ";
    if (stats.asciiOnly)
        text += "plain ASCII (nothing to detect)";
    else
        text += std::string(stats.mode == CharMode::Utf8 ? "UTF-8" : "one byte per character")
            + (stats.modeDetected ? " (detected)" : "");
    if (stats.byteOrderMark)
        text += " with a byte-order mark";
    text += stats.crlf ? ", CRLF line ends" : ", LF line ends";
    const std::string loss = describeLoss(kind, stats);
    text += "; " + (loss.empty() ? std::string("nothing cut") : loss);
    return text;
}

} // namespace fwprep::cli
