#pragma once
#include <QByteArray>
#include <QString>

namespace fwprep::test {

// Reads a whole file; a missing file gives a null QByteArray.
QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
// Names of the entries in a folder, hidden ones included (to find stray
// temporary files).
QStringList entries(const QString& folder);

} // namespace fwprep::test
