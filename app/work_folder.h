#pragma once
#include <QString>
#include <functional>
#include <optional>

namespace fwprep::app {

// Where the desktop program's jobs read their input and write their output.
struct WorkFolderSources {
    QString programFolder;         // the folder that holds the program file
    QString installBinFolder;      // the folder an installed program lies in
    std::optional<QString> given;  // FOLDER from the command line
    QString currentFolder;
    QString homeFolder;
};

struct WorkFolder {
    QString path;  // absolute, when chosen
    QString error; // otherwise "FOLDER: why", FOLDER as the user gave it
};

// 0 when `path` is a folder that the user may write files into, otherwise the
// errno that says why not.
using FolderCheck = std::function<int(const QString& path)>;
int checkFolder(const QString& path);

// FOLDER when given (and usable). Otherwise the program's own folder, as when
// it runs from its build folder or a folder the user copied it into; but an
// installed program (in the install folder, or in one the user cannot write)
// works in the current folder, as a terminal user expects, unless that is "/"
// or cannot be written: then in the home folder, where a desktop launcher
// starts programs. Nothing is ever written beside an installed program.
WorkFolder chooseWorkFolder(const WorkFolderSources& sources, const FolderCheck& check = checkFolder);

} // namespace fwprep::app
