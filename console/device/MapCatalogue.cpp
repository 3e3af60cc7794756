#include "device/MapCatalogue.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <iostream>

#include "device/Device.h"
#include "device/Mapping.h"

namespace {

const unsigned long kFlashBase = 0x08000000;
const unsigned long kExternalBase = 0x08400000;

// Whether someone other than those who can already change the working
// folder may change what st describes.
bool OthersCanWrite(const struct stat& st, uid_t folderOwner) {
  if (st.st_mode & S_IWOTH) return true;
  return st.st_uid != geteuid() && st.st_uid != 0 && st.st_uid != folderOwner;
}

// Empty when ./Map may be trusted; else the path that makes it unsafe.
QString UnsafeLocalEntry() {
  struct stat here;
  if (stat(".", &here) != 0) return QStringLiteral(".");
  struct stat st;
  if (stat("./Map", &st) != 0 || OthersCanWrite(st, here.st_uid)) return QStringLiteral("./Map/");
  const QStringList files =
      QDir(QStringLiteral("./Map")).entryList(QStringList() << QStringLiteral("*.KVmap"),
                                               QDir::Files | QDir::Hidden | QDir::System);
  for (const QString& f : files) {
    const QString path = QStringLiteral("./Map/") + f;
    if (stat(path.toLocal8Bit().constData(), &st) == 0 && OthersCanWrite(st, here.st_uid)) return path;
  }
  return QString();
}

QString CatalogueBesideProgram() {
  // The program's own folder, also without a QCoreApplication.
  QFileInfo self(QStringLiteral("/proc/self/exe"));
  QString exeDir = QFileInfo(self.symLinkTarget()).absolutePath();
  QString installed = QDir::cleanPath(exeDir + QStringLiteral("/../share/tarnflash/Map"));
  return QFileInfo(installed).isDir() ? installed + QLatin1Char('/') : QString();
}

// One line per change of the decision, however often the catalogue is looked up.
void Tell(const QString& notice) {
  static QString told;
  if (notice == told) return;
  told = notice;
  std::cerr << notice.toStdString() << std::endl;
}

std::string Hex(unsigned long v) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08lX", v);
  return text;
}

}  // namespace

QString KVmapDirectory() {
  if (!QFileInfo(QStringLiteral("./Map")).isDir()) return CatalogueBesideProgram();
  const QString unsafe = UnsafeLocalEntry();
  if (unsafe.isEmpty()) return QStringLiteral("./Map/");
  const QString instead = CatalogueBesideProgram();
  Tell(QStringLiteral("tarnflash: ignoring the device catalogue ./Map/: %1 can be changed by other users; ")
           .arg(unsafe) +
       (instead.isEmpty() ? QStringLiteral("there is no other catalogue")
                          : QStringLiteral("using %1 instead").arg(instead)));
  return instead;
}

std::string CatalogueDisagreement(const CDevice& device) {
  const CMapping* mapping = device.m_CMapping;
  if (mapping == nullptr || mapping->GetSectorNums() <= 0) return std::string();
  const std::string table = mapping->GetMapFile();
  const unsigned long size = device.m_ISectorSize;
  const unsigned long end = kFlashBase + static_cast<unsigned long>(device.m_IFlashSize) * 1024ul;
  unsigned long next = kFlashBase;
  for (int i = 0; i < mapping->GetSectorNums(); ++i) {
    const MAPPINGSECTOR* s = mapping->GetSectorIntPtr(i);
    if (s->dwStartAddress < kFlashBase || s->dwStartAddress >= kExternalBase) continue;
    if (s->dwSectorSize != size)
      return table + " has a sector of " + std::to_string(s->dwSectorSize) + " bytes at " + Hex(s->dwStartAddress) +
             ", the family file gives " + std::to_string(size);
    if (s->dwStartAddress != next)
      return table + ": the sector at " + Hex(s->dwStartAddress) + " does not follow the one before (expected " +
             Hex(next) + ")";
    next += s->dwSectorSize;
  }
  if (next != end)
    return table + ": the sectors end at " + Hex(next) + ", the chip has " + std::to_string(device.m_IFlashSize) +
           " KB of flash (up to " + Hex(end) + ")";
  return std::string();
}
