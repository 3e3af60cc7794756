#include "device/Mapping.h"

#include <cstring>
#include <new>

#include <QFileInfo>

#include "device/MapCatalogue.h"

CMapping::CMapping(const std::string& strTarget) : m_StrTarget(strTarget), m_StrMapFile(strTarget + ".KVmap") {
  MemoryMapping();
}

CMapping::~CMapping() { Clear(); }

void CMapping::Clear() {
  if (m_ipMapping) {
    delete[] m_ipMapping->pSectors;
    delete m_ipMapping;
    m_ipMapping = nullptr;
  }
  delete[] m_AMappingSector;
  m_AMappingSector = nullptr;
  m_AMappingSectorNum = 0;
  std::memset(&m_scMapping, 0, sizeof m_scMapping);
  m_NAlternate = 0;
  m_StrName.clear();
  m_sPacketSize = 0;
  m_bBroken = false;
}

void CMapping::MemoryMapping() {
  Clear();
  const QString catalogue = KVmapDirectory();
  if (catalogue.isEmpty()) return;
  const QString path = catalogue + QString::fromStdString(m_StrMapFile);
  if (!QFileInfo(path).isFile()) return;
  // From here on every early return leaves a file that could not be used.
  m_bBroken = true;
  const QByteArray p = path.toLocal8Bit();
  short count = 0, packet = 0;
  char name[128] = {0};
  unsigned char perBit = 0;
  if (FILES_GetMemoryMapping(p.constData(), &count, name, &packet, nullptr, &perBit) != 0 || count <= 0) return;

  MAPPINGSECTOR* sectors = new (std::nothrow) MAPPINGSECTOR[size_t(count)];
  MAPPING* lib = new (std::nothrow) MAPPING;
  MAPPINGSECTOR* copy = new (std::nothrow) MAPPINGSECTOR[size_t(count)];
  if (!sectors || !lib || !copy) {
    delete[] sectors;
    delete lib;
    delete[] copy;
    return;
  }
  std::memset(sectors, 0, sizeof(MAPPINGSECTOR) * size_t(count));
  std::memset(lib, 0, sizeof *lib);
  lib->pSectors = sectors;
  short room = count;
  // The file is read a second time: it may have changed in between, so the
  // count the library reports now is the one that counts.
  if (FILES_GetMemoryMapping(p.constData(), &room, name, &packet, lib, &perBit) != 0 || lib->NbSectors == 0 ||
      lib->NbSectors > static_cast<unsigned long>(count)) {
    delete[] sectors;
    delete lib;
    delete[] copy;
    return;
  }
  m_ipMapping = lib;
  m_scMapping = *lib;
  m_AMappingSector = copy;
  m_AMappingSectorNum = uint32_t(lib->NbSectors);
  std::memcpy(m_AMappingSector, sectors, sizeof(MAPPINGSECTOR) * m_AMappingSectorNum);
  m_NAlternate = lib->nAlternate;
  m_StrName = lib->Name;
  m_sPacketSize = packet;
  m_bBroken = false;
}

int CMapping::GetSectorNums() const { return m_ipMapping ? int(m_ipMapping->NbSectors) : -1; }

int CMapping::GetSectorIndex(unsigned int uiAddress) const {
  if (!m_ipMapping) return -1;
  for (unsigned long i = 0; i < m_ipMapping->NbSectors; ++i)
    if (m_ipMapping->pSectors[i].dwStartAddress == uiAddress) return int(i);
  return -1;
}

MAPPINGSECTOR* CMapping::GetSectorIntPtr(int iIndex) const {
  if (!m_ipMapping || iIndex < 0 || static_cast<unsigned long>(iIndex) >= m_ipMapping->NbSectors) return nullptr;
  return &m_ipMapping->pSectors[iIndex];
}
