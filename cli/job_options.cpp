#include "job_options.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "number.h"

namespace fwprep::cli {

namespace {

// Options that only one of the jobs takes.
constexpr const char* kSplitOnly[] = {"trim", "to"};
constexpr const char* kJoinOnly[] = {"from", "header"};

bool listed(const char* name, const char* const (&names)[2])
{
    for (const char* n : names) {
        if (std::strcmp(n, name) == 0)
            return true;
    }
    return false;
}

std::string lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

bool printable(char c)
{
    return c >= 0x20 && c <= 0x7E;
}

// One of `choices`, as the index into them; the option's usage error otherwise,
// which lists the first `shown` of them (the others are other spellings).
std::optional<std::string> choose(const Arguments& parsed, const char* name, const std::vector<const char*>& choices,
    std::size_t& index, std::size_t shown = SIZE_MAX)
{
    const std::string text = lower(parsed.value(name, choices[0]));
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (text == choices[i]) {
            index = i;
            return std::nullopt;
        }
    }
    std::string list;
    for (std::size_t i = 0; i < choices.size() && i < shown; ++i)
        list += std::string(list.empty() ? "" : ", ") + choices[i];
    return std::string("--") + name + ": " + quoted(parsed.value(name)) + " is not one of " + list;
}

// A list of widths: "10,20,8".
std::optional<std::string> readWidths(const std::string& text, std::vector<int>& widths)
{
    std::size_t pos = 0;
    for (;;) {
        const std::size_t comma = text.find(',', pos);
        const std::string entry = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        const auto value = parseInt16(entry);
        if (entry.find_first_not_of(" \t") == std::string::npos)
            return "--width: " + quoted(text) + " has an empty entry";
        if (!value || *value < 0)
            return "--width: " + quoted(text) + ": " + quoted(entry) + " is not an integer in 0..32767";
        widths.push_back(*value);
        if (comma == std::string::npos)
            return std::nullopt;
        pos = comma + 1;
    }
}

} // namespace

const std::vector<OptionSpec>& jobOptions()
{
    static const std::vector<OptionSpec> options = {
        {'n', "count", "COUNT", "Pieces per line (split) or lines per output line (join): an integer in -32768..32767; 0 or less: none (split), all on one line (join). May be left out with a list of widths; it must then be their number."},
        {'w', "width", "WIDTH", "Characters per piece or column: an integer in 0..32767, or a layout: a comma-separated list of them, one per column (10,20,8)."},
        {'\0', "align", "ALIGN", "Where the text of a column stands: right (fill in front, the default), left (fill after), or one letter l or r per column (llr)."},
        {'\0', "fill", "FILL", "The fill character, one printable ASCII character (0), or one per column ('  0'). Default: a space."},
        {'e', "encoding", "ENC", "How characters are counted: auto (UTF-8 when the 64 KiB from the first byte above 0x7F hold more valid UTF-8 letters than stray bytes, else one byte each), utf-8, bytes. Default: auto."},
        {'\0', "eol", "EOL", "Output line end: auto (as the input's first line end), lf, crlf. Default: auto."},
        {'o', "output", "FILE", "Write to FILE (default: standard output); a regular file is replaced only when the job has completed."},
        {'\0', "delimiter", "C", "The CSV field separator: one ASCII character other than a double quote, CR or LF. Default: ','."},
        {'\0', "strict", nullptr, "Fail (exit 1) at the first line or value that would be cut or left out, naming its line. With -o nothing is written and FILE is left as it was; on standard output what was written before the failure stays (it may end with part of the failing record)."},
        {'\0', "verbose", nullptr, "End with one summary line on standard error: lines read and written, the encoding and line end used, and what was cut."},
        {'\0', "progress", nullptr, "Show a progress bar on standard error."},
        {'h', "help", nullptr, "Show this help."},
        {'\0', "trim", nullptr, "Each piece loses the fill on the side where a join with the same --align and --fill would have put it."},
        {'\0', "to", "FORMAT", "What is written: lines (one piece per line, the default) or csv (one record per input line, its pieces as the fields)."},
        {'\0', "from", "FORMAT", "What is read: lines (one value per line, the default) or csv (one record per line, its fields as the columns)."},
        {'\0', "header", nullptr, "With --from csv: the first record is a header and is not joined."},
    };
    return options;
}

bool appliesTo(const OptionSpec& spec, JobKind kind)
{
    return !listed(spec.longName, kind == JobKind::Split ? kJoinOnly : kSplitOnly);
}

std::optional<std::string> readJobOptions(const Arguments& parsed, JobKind kind, JobParams& params)
{
    params.kind = kind;
    const bool split = kind == JobKind::Split;
    for (const OptionSpec& spec : jobOptions()) {
        if (!appliesTo(spec, kind) && parsed.isSet(spec.longName))
            return std::string("--") + spec.longName + ": only for " + (split ? "join" : "split");
    }

    // Count and width: one width and a count, or a list of widths.
    const auto number = [&](const char* name, int& value) -> std::optional<std::string> {
        const std::string text = parsed.value(name);
        const auto parsedValue = parseInt16(text);
        if (!parsedValue)
            return std::string("--") + name + ": " + quoted(text) + " is not an integer in -32768..32767";
        value = *parsedValue;
        return std::nullopt;
    };
    const std::string widthText = parsed.value("width");
    std::vector<int> widths;
    if (parsed.isSet("width") && widthText.find(',') != std::string::npos) {
        if (auto error = readWidths(widthText, widths))
            return error;
        params.count = static_cast<int>(widths.size());
        if (parsed.isSet("count")) {
            int count = 0;
            if (auto error = number("count", count))
                return error;
            if (count != params.count)
                return "--count: " + quoted(parsed.value("count")) + " is not the number of widths in --width ("
                    + std::to_string(params.count) + ")";
        }
    } else {
        if (!parsed.isSet("count"))
            return std::string("missing --count");
        if (auto error = number("count", params.count))
            return error;
        if (!parsed.isSet("width"))
            return std::string("missing --width");
        if (auto error = number("width", params.width))
            return error;
        if (params.width < 0)
            return "--width: must not be negative: " + std::to_string(params.width);
    }

    // Alignment and fill: one for every column, or one per column.
    const std::size_t columns = !widths.empty() ? widths.size() : params.count > 0 ? std::size_t(params.count) : 0;
    const auto perColumn = [&](const std::string& text) { return text.size() > 1 && text.size() == columns; };
    std::string align = lower(parsed.value("align", "r"));
    if (align == "right" || align == "left")
        align = align.substr(0, 1);
    if ((align.size() != 1 && !perColumn(align)) || align.find_first_not_of("lr") != std::string::npos)
        return "--align: " + quoted(parsed.value("align")) + " is not right, left, or one letter l or r per column ("
            + std::to_string(columns) + ")";
    const std::string fill = parsed.value("fill", " ");
    bool fillPrintable = true;
    for (const char c : fill)
        fillPrintable = fillPrintable && printable(c);
    if (!fillPrintable || (fill.size() != 1 && !perColumn(fill)))
        return "--fill: " + quoted(fill) + " is not one printable ASCII character, or one per column ("
            + std::to_string(columns) + ")";
    const auto alignOf = [](char c) { return c == 'l' ? Align::Left : Align::Right; };
    if (!widths.empty() || align.size() > 1 || fill.size() > 1) {
        for (std::size_t i = 0; i < columns; ++i) {
            params.layout.push_back({widths.empty() ? params.width : widths[i],
                alignOf(align.size() > 1 ? align[i] : align[0]), fill.size() > 1 ? fill[i] : fill[0]});
        }
    } else {
        params.align = alignOf(align[0]);
        params.fill = fill[0];
    }
    params.trim = parsed.isSet("trim");

    std::size_t index = 0;
    if (auto error = choose(parsed, "encoding", {"auto", "utf-8", "bytes", "utf8"}, index, 3))
        return error;
    params.encoding = index == 0 ? Encoding::Auto : index == 2 ? Encoding::Bytes : Encoding::Utf8;
    if (auto error = choose(parsed, "eol", {"auto", "lf", "crlf"}, index))
        return error;
    params.lineEnd = static_cast<LineEndChoice>(index);

    // Records as CSV.
    const char* formatOption = split ? "to" : "from";
    if (auto error = choose(parsed, formatOption, {"lines", "csv"}, index))
        return error;
    params.format = index == 0 ? RecordFormat::Lines : RecordFormat::Csv;
    const bool csv = params.format == RecordFormat::Csv;
    if (parsed.isSet("header") && !csv)
        return std::string("--header: only with --from csv");
    params.header = parsed.isSet("header");
    if (parsed.isSet("delimiter")) {
        const std::string d = parsed.value("delimiter");
        if (!csv)
            return "--delimiter: only with --" + std::string(formatOption) + " csv";
        if (d.size() != 1 || static_cast<unsigned char>(d[0]) > 0x7F || d[0] == '"' || d[0] == '\r' || d[0] == '\n')
            return "--delimiter: " + quoted(d) + " is not one ASCII character other than a double quote, CR or LF";
        params.delimiter = d[0];
    }
    params.strict = parsed.isSet("strict");
    return std::nullopt;
}

} // namespace fwprep::cli
