#include "device/MapCatalogue.h"

#include <QDir>
#include <QFileInfo>

QString KVmapDirectory() {
  if (QFileInfo(QStringLiteral("./Map")).isDir()) return QStringLiteral("./Map/");
  // The program's own folder, also without a QCoreApplication.
  QFileInfo self(QStringLiteral("/proc/self/exe"));
  QString exeDir = QFileInfo(self.symLinkTarget()).absolutePath();
  QString installed = QDir::cleanPath(exeDir + QStringLiteral("/../share/tarnflash/Map"));
  if (QFileInfo(installed).isDir()) return installed + QLatin1Char('/');
  return QStringLiteral("./Map/");
}
