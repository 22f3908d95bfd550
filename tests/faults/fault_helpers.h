#pragma once
// Ways to make a job fail on purpose, for the fault tests. Every helper undoes
// what it did when it goes out of scope.

#include <QByteArray>
#include <QString>

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/resource.h>

namespace fwprep::test {

// Lets this process write files of at most `bytes` bytes: a write beyond fails
// with EFBIG (SIGXFSZ is ignored meanwhile, or it would end the process).
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    struct sigaction m_oldAction {};
};

// A small tmpfs mounted on `folder`, for a file system that fills up. Needs
// the right to mount; ok() is false where that is missing.
class SmallFileSystem {
public:
    SmallFileSystem(const QString& folder, std::uint64_t bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool ok() const { return m_mounted; }
    QString error() const { return m_error; }

private:
    std::string m_folder;
    bool m_mounted = false;
    QString m_error;
};

// Lines of `width` printable characters (a line number, then letters) and LF,
// at least `bytes` bytes in all.
QByteArray manyLines(std::uint64_t bytes, int width);

// Message text of an errno value, as the jobs report it.
QString reasonFor(int error);

} // namespace fwprep::test
