#pragma once
#include <QByteArray>
#include <QString>
#include <vector>

namespace fwprep::test {

// Reads a whole file; a missing file gives a null QByteArray.
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// Names of the entries in a folder, hidden ones included (to find stray
// temporary files).
QStringList entries(const QString& folder);

} // namespace fwprep::test

#include <string>

#include "job_params.h"
#include "job_stats.h"

namespace fwprep::test {

// Runs a job on bytes in memory and returns the output bytes.
// `stats`, when given, receives the job's counts.
// A split or join with `threadChunk` runs on two threads taking chunks of
// that many bytes; without, on one.
std::string transformBytes(const std::string& input, const JobParams& params, std::size_t blockSize,
    std::size_t chunk, bool seekable = true, JobStats* stats = nullptr, std::size_t threadChunk = 0);

// Runs a job that is to fail on its data (malformed CSV, a cut under the
// strict rule): the line that the failure names, its words in `message` and
// what was written before it in `output`; 0 when the job does not fail.
std::uint64_t failingLine(const std::string& input, const JobParams& params, std::size_t blockSize,
    std::size_t chunk, std::string* message = nullptr, std::size_t threadChunk = 0, std::string* output = nullptr);

// A job with a layout: `widths` and `align` as --width and --align take them
// ("3,0,2", "lrl" or one letter for all), `fill` one character for all or one
// per column; or "NxK", a count and a width without a layout.
JobParams layoutParams(JobKind kind, const std::string& widths, const std::string& align, const std::string& fill);

// ASCII lines of 64 bytes up to `at` (the last one shorter where need be),
// then `tail`: places the first byte above 0x7F at a chosen offset.
std::string asciiThen(std::size_t at, const std::string& tail);

// The offset at which the default block size first starts a block afresh,
// for lines of 64 bytes: the 64 KiB + 1 read first, then a whole block.
constexpr std::size_t kSecondBlockEnd = (std::size_t{1} << 20) + (std::size_t{64} << 10);

// Block and read sizes that every in-memory case is replayed with: tiny blocks
// put line and character boundaries at every possible place; and tiny
// thread chunks, every chunk edge.
struct Framing {
    std::size_t block;
    std::size_t chunk;
    std::size_t threadChunk = 0;
};
const std::vector<Framing>& framings();

} // namespace fwprep::test
