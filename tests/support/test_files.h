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

namespace fwprep::test {

// Runs a job on bytes in memory and returns the output bytes.
std::string transformBytes(const std::string& input, const JobParams& params, std::size_t blockSize,
    std::size_t chunk, bool seekable = true);

// ASCII lines of 64 bytes up to `at` (the last one shorter where need be),
// then `tail`: places the first byte above 0x7F at a chosen offset.
std::string asciiThen(std::size_t at, const std::string& tail);

// The offset at which the default block size first starts a block afresh,
// for lines of 64 bytes: the 64 KiB + 1 read first, then a whole block.
constexpr std::size_t kSecondBlockEnd = (std::size_t{1} << 20) + (std::size_t{64} << 10);

// Block and read sizes that every in-memory case is replayed with: tiny blocks
// put line and character boundaries at every possible place.
struct Framing {
    std::size_t block;
    std::size_t chunk;
};
const std::vector<Framing>& framings();

} // namespace fwprep::test
