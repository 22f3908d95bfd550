#include "messages.h"

namespace fwprep::cli {

namespace {
std::string shown(const std::string& path)
{
    return path == "-" ? "standard input" : path;
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
        return "cancelled; the output was left as it was";
    case Kind::BadInput:
        return shown(error.path) + ": line " + std::to_string(error.line) + ": " + error.reason;
    }
    return "failed";
}

} // namespace fwprep::cli
