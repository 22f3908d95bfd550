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

std::string transformBytes(const std::string& input, const JobParams& params, std::size_t blockSize,
    std::size_t chunk, bool seekable)
{
    MemorySource source(input, chunk, seekable);
    StringSink sink;
    runTransform(source, sink, params, JobControl{}, blockSize);
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

const std::vector<Framing>& framings()
{
    static const std::vector<Framing> all = {
        {8, 1}, {8, 5}, {9, 3}, {13, 64}, {64, 7}, {4096, 1000}, {std::size_t{1} << 20, SIZE_MAX},
    };
    return all;
}

} // namespace fwprep::test
