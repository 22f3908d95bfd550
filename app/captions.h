#pragma once
#include <QString>

// The fixed texts of the desktop program. The screens and the messages share
// the label captions, so that an error names a field exactly as its screen does.
namespace fwprep::app::text {

inline QString appName() { return QStringLiteral("fwprep"); }

inline QString dataSayisi() { return QStringLiteral("Data Sayısı"); }
inline QString columnSayisi() { return QStringLiteral("Column Sayısı"); }
inline QString dataUzunlugu() { return QStringLiteral("Data Uzunluğu"); }
inline QString dosyaAdi() { return QStringLiteral("Dosya Adı"); }

inline QString yaz() { return QStringLiteral("Yaz"); }
inline QString dataFile() { return QStringLiteral("Data File"); }
inline QString returnCaption() { return QStringLiteral("Return"); }

inline QString writing() { return QStringLiteral("Yazılıyor..."); }
inline QString cancel() { return QStringLiteral("İptal"); }

} // namespace fwprep::app::text
