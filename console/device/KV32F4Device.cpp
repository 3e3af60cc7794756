#include "device/KV32F4Device.h"

#include <QDir>
#include <QStringList>

#include <vector>

#include "Files.h"
#include "device/MapCatalogue.h"
#include "device/Mapping.h"

namespace {
const unsigned int kUserSystemDataAddress = 0x1FFFF800;
const unsigned int kUserSystemDataAddressS13 = 0x1FFFC000;  // series 13 and 14
const unsigned int kUserSystemDataLength = 4096;
const unsigned int kBlockSizeS13 = 0x10000;
}  // namespace

QString CKV32F4Device::KVmapReadValue(const QString& Section, const QString& Keyname, const QString& filePath) {
  const QByteArray path = filePath.toLocal8Bit(), section = Section.toUtf8(), key = Keyname.toUtf8();
  std::vector<char> value(256);
  unsigned long length = 0;
  for (int pass = 0; pass < 2; ++pass) {
    if (FILES_GetMapValue(path.constData(), section.constData(), key.constData(), value.data(), value.size(),
                          &length) != libfiles::FILES_NOERROR)
      return QString();
    if (length < value.size()) return QString::fromUtf8(value.data(), int(length));
    value.resize(length + 1);  // a long value: read again with room for it
  }
  return QString();
}

QString CKV32F4Device::FindMapFile(const std::string& strPID, const std::string& strSerial) {
  // An empty identifier would be "contained" in every file.
  if (strPID.empty() || strSerial.empty()) return QString();
  const QString pid = QString::fromStdString(strPID), serial = QString::fromStdString(strSerial);
  const QString catalogue = KVmapDirectory();
  if (catalogue.isEmpty()) return QString();
  QDir dir(catalogue);
  const QStringList files =
      dir.entryList(QStringList() << QStringLiteral("*.KVmap"), QDir::Files | QDir::Readable, QDir::Name);
  for (const QString& f : files) {
    const QString path = dir.filePath(f);
    if (KVmapReadValue(QStringLiteral("Product"), QStringLiteral("PID"), path).contains(pid, Qt::CaseSensitive) &&
        KVmapReadValue(QStringLiteral("Product"), QStringLiteral("Serial"), path).contains(serial, Qt::CaseSensitive))
      return path;
  }
  return QString();
}

bool CKV32F4Device::IsDevicePID(const std::string& strPID, const std::string& strSerial) const {
  return !FindMapFile(strPID, strSerial).isEmpty();
}

CKV32F4Device::CKV32F4Device(const std::string& strPID, const std::string& strSerial, int iFlashSize) {
  m_UiFlashSizeAddress = 0x1FFFF7E0;
  const QString path = FindMapFile(strPID, strSerial);
  if (!path.isEmpty()) {
    m_StrPID = strPID;
    m_StrSerial = strSerial;
    bool ok = false;
    QString size = KVmapReadValue(QStringLiteral("Sector0"), QStringLiteral("Size"), path);
    if (size.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) size = size.mid(2);
    const uint sectorSize = size.toUInt(&ok, 16);
    m_ISectorSize = ok ? sectorSize : 0;
    m_IFlashSize = iFlashSize;
    m_StrBID = "NA";
    m_StrName = KVmapReadValue(QStringLiteral("Product"), QStringLiteral("Name"), path).toStdString();
    m_StrSubName.clear();
    const uint perBit = KVmapReadValue(QStringLiteral("Product"), QStringLiteral("SectorsPerSector"), path).toUInt(&ok, 10);
    // 0, absent or absurd: one sector per bit, so that no division by it fails.
    m_BSectorsPerBit = (ok && perBit >= 1 && perBit <= 255) ? static_cast<unsigned char>(perBit) : 1;
  }
  const std::string size = std::to_string(m_IFlashSize) + "K";
  m_StrTarget = m_StrSubName.empty() ? m_StrName + "_" + size : m_StrName + "_" + m_StrSubName + "_" + size;
  m_CMapping = new CMapping(m_StrTarget);
  bool ok = false;
  const uint series = QString::fromStdString(m_StrSerial).toUInt(&ok, 16);
  const bool s13 = ok && (series == 13 || series == 14);
  m_UiUserSystemDataAddress = s13 ? kUserSystemDataAddressS13 : kUserSystemDataAddress;
  m_BlockSize = s13 ? kBlockSizeS13 : 0;
  m_UiUserSystemDataLen = kUserSystemDataLength;
  m_UiFlashSizeAdd = m_UiFlashSizeAddress;
}
