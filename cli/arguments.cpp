#include "arguments.h"

#include <algorithm>
#include <cstring>

namespace fwprep::cli {

namespace {

constexpr std::size_t kLineWidth = 80;
constexpr std::size_t kHelpColumn = 24;

const OptionSpec* findLong(const std::vector<OptionSpec>& specs, const std::string& name)
{
    for (const OptionSpec& spec : specs) {
        if (name == spec.longName)
            return &spec;
    }
    return nullptr;
}

const OptionSpec* findShort(const std::vector<OptionSpec>& specs, char name)
{
    for (const OptionSpec& spec : specs) {
        if (spec.shortName != '\0' && spec.shortName == name)
            return &spec;
    }
    return nullptr;
}

// Appends `text` word by word to `out`, lines starting at `indent`, the first
// one where `out` already is.
void appendWrapped(std::string& out, const std::string& text, std::size_t column, std::size_t indent)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(' ', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::size_t word = end - pos;
        if (column > indent && column + 1 + word > kLineWidth) {
            out += '\n';
            out.append(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out.append(text, pos, word);
        column += word;
        pos = end + 1;
    }
    out += '\n';
}

} // namespace

std::optional<std::string> Arguments::parse(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            m_positional.insert(m_positional.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            m_positional.push_back(arg);
            continue;
        }
        // The value of an option that takes one: what follows it in the same
        // argument, else the next argument.
        const auto takeValue = [&](const OptionSpec& spec, std::optional<std::string> attached,
                                   const std::string& shown) -> std::optional<std::string> {
            if (attached) {
                m_values[spec.longName] = *attached;
                return std::nullopt;
            }
            if (i + 1 >= args.size())
                return "missing value after '" + shown + "'";
            m_values[spec.longName] = args[++i];
            return std::nullopt;
        };
        if (arg[1] == '-') {
            const std::size_t eq = arg.find('=');
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            const OptionSpec* spec = findLong(specs, name);
            if (spec == nullptr)
                return "unknown option '--" + name + "'";
            std::optional<std::string> attached;
            if (eq != std::string::npos)
                attached = arg.substr(eq + 1);
            if (spec->valueName == nullptr) {
                if (attached)
                    return "option '--" + name + "' takes no value";
                m_values[spec->longName];
                continue;
            }
            if (auto error = takeValue(*spec, attached, "--" + name))
                return error;
            continue;
        }
        // One or more short options: flags may be run together (-ph); an
        // option with a value takes the rest of the argument (-n5).
        for (std::size_t k = 1; k < arg.size(); ++k) {
            const OptionSpec* spec = findShort(specs, arg[k]);
            const std::string shown = std::string("-") + arg[k];
            if (spec == nullptr)
                return "unknown option '" + shown + "'";
            if (spec->valueName == nullptr) {
                m_values[spec->longName];
                continue;
            }
            std::optional<std::string> attached;
            if (k + 1 < arg.size())
                attached = arg.substr(k + 1);
            if (auto error = takeValue(*spec, attached, shown))
                return error;
            break;
        }
    }
    return std::nullopt;
}

std::string Arguments::value(const std::string& longName, const std::string& fallback) const
{
    const auto it = m_values.find(longName);
    return it == m_values.end() ? fallback : it->second;
}

std::string describeOptions(const std::vector<OptionSpec>& specs)
{
    std::string out;
    for (const OptionSpec& spec : specs) {
        std::string names = "  ";
        if (spec.shortName != '\0')
            names += std::string("-") + spec.shortName + ", ";
        names += std::string("--") + spec.longName;
        if (spec.valueName != nullptr)
            names += std::string(" <") + spec.valueName + ">";
        out += names;
        std::size_t column = names.size();
        if (column + 2 > kHelpColumn) {
            out += '\n';
            column = 0;
        }
        out.append(kHelpColumn - column, ' ');
        appendWrapped(out, spec.help, kHelpColumn, kHelpColumn);
    }
    return out;
}

} // namespace fwprep::cli
