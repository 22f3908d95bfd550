#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fwprep::cli {

// One option of a command: `-n VALUE`, `-nVALUE`, `--count VALUE` and
// `--count=VALUE` when it takes a value; `-p`, `--progress` when it does not.
struct OptionSpec {
    char shortName;        // '\0': none
    const char* longName;  // the option's key in Arguments
    const char* valueName; // nullptr: a flag without a value
    const char* help;
};

// The options and positional arguments of one command line. `--` ends the
// options; `-` alone is a positional argument (standard input or output).
// A value may begin with '-' (`-n -2`). An option given twice keeps the last
// value.
class Arguments {
public:
    // Parses `args`; an error message when they do not fit `specs`.
    std::optional<std::string> parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs);

    bool isSet(const std::string& longName) const { return m_values.count(longName) != 0; }
    // The value given, or `fallback` when the option was not given.
    std::string value(const std::string& longName, const std::string& fallback = {}) const;
    const std::vector<std::string>& positional() const { return m_positional; }

private:
    std::map<std::string, std::string> m_values;
    std::vector<std::string> m_positional;
};

// The options part of a help text: one entry per option, descriptions wrapped
// to fit 80 columns.
std::string describeOptions(const std::vector<OptionSpec>& specs);

} // namespace fwprep::cli
