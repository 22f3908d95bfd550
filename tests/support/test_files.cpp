#include "test_files.h"

#include <algorithm>

#include <QDir>
#include <QFile>

namespace fwprep::test {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = f.readAll();
    if (bytes.isNull())
        bytes = QByteArray("");
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace fwprep::test

#include "byte_source.h"
#include "output.h"
#include "transform.h"

namespace fwprep::test {

namespace {

JobStats runInMemory(const std::string& input, const JobParams& params, std::size_t blockSize, std::size_t chunk,
    bool seekable, std::size_t threadChunk, StringSink& sink)
{
    MemorySource source(input, chunk, seekable);
    return runTransform(source, sink, params, JobControl{}, blockSize, ThreadPlan::chunked(threadChunk));
}

} // namespace

std::string transformBytes(const std::string& input, const JobParams& params, std::size_t blockSize,
    std::size_t chunk, bool seekable, JobStats* stats, std::size_t threadChunk)
{
    StringSink sink;
    const JobStats result = runInMemory(input, params, blockSize, chunk, seekable, threadChunk, sink);
    if (stats != nullptr)
        *stats = result;
    return sink.text;
}

std::string asciiThen(std::size_t at, const std::string& tail)
{
    std::string text;
    text.reserve(at + tail.size());
    while (text.size() < at) {
        const std::size_t line = std::min<std::size_t>(64, at - text.size());
        text.append(line - 1, 'a');
        text += '\n';
    }
    return text + tail;
}

std::uint64_t failingLine(const std::string& input, const JobParams& params, std::size_t blockSize,
    std::size_t chunk, std::string* message, std::size_t threadChunk, std::string* output)
{
    StringSink sink;
    try {
        runInMemory(input, params, blockSize, chunk, true, threadChunk, sink);
    } catch (const DataError& e) {
        if (message != nullptr)
            *message = e.what();
        if (output != nullptr)
            *output = sink.text;
        return e.line;
    }
    return 0;
}

JobParams layoutParams(JobKind kind, const std::string& widths, const std::string& align, const std::string& fill)
{
    JobParams params;
    params.kind = kind;
    if (const std::size_t x = widths.find('x'); x != std::string::npos) {
        // "NxK": today's count and width, no layout.
        params.count = std::stoi(widths.substr(0, x));
        params.width = std::stoi(widths.substr(x + 1));
        params.align = align[0] == 'l' ? Align::Left : Align::Right;
        params.fill = fill[0];
        return params;
    }
    std::size_t i = 0;
    for (std::size_t pos = 0; pos <= widths.size(); ++i) {
        const std::size_t comma = std::min(widths.find(',', pos), widths.size());
        const char a = align[align.size() == 1 ? 0 : i];
        params.layout.push_back({std::stoi(widths.substr(pos, comma - pos)), a == 'l' ? Align::Left : Align::Right,
            fill[fill.size() == 1 ? 0 : i]});
        pos = comma + 1;
    }
    params.count = static_cast<int>(params.layout.size());
    return params;
}

const std::vector<Framing>& framings()
{
    static const std::vector<Framing> all = {
        {8, 1}, {8, 5}, {9, 3}, {13, 64}, {64, 7}, {4096, 1000}, {std::size_t{1} << 20, SIZE_MAX},
        {8, 5, 2}, {9, 3, 7}, {64, 7, 1}, {4096, 1000, 33},
    };
    return all;
}

} // namespace fwprep::test
