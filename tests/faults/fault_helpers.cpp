#include "fault_helpers.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

#include "errors.h"

namespace fwprep::test {

FileSizeLimit::FileSizeLimit(std::uint64_t bytes)
{
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &m_oldAction);
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit limit = m_old;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        qFatal("setrlimit(RLIMIT_FSIZE): %s", std::strerror(errno));
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_old);
    sigaction(SIGXFSZ, &m_oldAction, nullptr);
}

SmallFileSystem::SmallFileSystem(const QString& folder, std::uint64_t bytes)
    : m_folder(folder.toStdString())
{
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", m_folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
        m_mounted = true;
    else
        m_error = QString::fromStdString(describeError(errno));
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted)
        ::umount2(m_folder.c_str(), MNT_DETACH);
}

QByteArray manyLines(std::uint64_t bytes, int width)
{
    QByteArray out;
    out.reserve(static_cast<qsizetype>(bytes + static_cast<std::uint64_t>(width) + 1));
    for (qint64 n = 0; static_cast<std::uint64_t>(out.size()) < bytes; ++n) {
        QByteArray line = QByteArray::number(n);
        while (line.size() < width)
            line.append(char('a' + line.size() % 26));
        out.append(line.left(width)).append('\n');
    }
    return out;
}

QString reasonFor(int error)
{
    return QString::fromStdString(describeError(error));
}

} // namespace fwprep::test
