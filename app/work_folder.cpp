#include "work_folder.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"

namespace fwprep::app {

int checkFolder(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    // Creating a file in a folder takes both.
    if (::access(name.constData(), W_OK | X_OK) != 0)
        return errno;
    return 0;
}

WorkFolder chooseWorkFolder(const WorkFolderSources& s, const FolderCheck& check)
{
    if (s.given) {
        if (s.given->isEmpty())
            return {{}, QStringLiteral("'': ") + QString::fromStdString(describeError(ENOENT))};
        const QString path = QDir::cleanPath(QDir(s.currentFolder).absoluteFilePath(*s.given));
        if (const int error = check(path))
            return {{}, *s.given + QStringLiteral(": ") + QString::fromStdString(describeError(error))};
        return {path, {}};
    }
    const QString program = QDir::cleanPath(s.programFolder);
    const bool installed = program == QDir::cleanPath(s.installBinFolder) || check(program) != 0;
    if (!installed)
        return {program, {}};
    const QString current = QDir::cleanPath(s.currentFolder);
    if (current != QDir::rootPath() && check(current) == 0)
        return {current, {}};
    return {QDir::cleanPath(s.homeFolder), {}};
}

} // namespace fwprep::app
