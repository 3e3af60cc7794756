// The sector layout of the connected chip, read from its sector map file.
#ifndef TARNFLASH_DEVICE_MAPPING_H
#define TARNFLASH_DEVICE_MAPPING_H

#include <cstdint>
#include <string>

#include "Files.h"

class CMapping {
 public:
  explicit CMapping(const std::string& strTarget);
  ~CMapping();
  CMapping(const CMapping&) = delete;
  CMapping& operator=(const CMapping&) = delete;

  // Fills the sector list from <catalogue>/<target>.KVmap; a missing or
  // broken file leaves the mapping empty (no sectors, packet size 0).
  void MemoryMapping();
  // The sector file exists but yielded no sectors (unreadable, no map, or
  // no memory for it): the chip must not be used with this mapping.
  bool IsBroken() const { return m_bBroken; }
  // Sector count, -1 when there are none.
  int GetSectorNums() const;
  // Index of the sector that starts exactly at uiAddress, else -1.
  int GetSectorIndex(unsigned int uiAddress) const;
  // Sector record iIndex of the library-filled list; null out of range.
  MAPPINGSECTOR* GetSectorIntPtr(int iIndex) const;
  short GetPacketSize() const { return m_sPacketSize; }
  // The record handed to the image-file library; null when empty.
  MAPPING* GetIpMapping() const { return m_ipMapping; }
  const std::string& GetMapFile() const { return m_StrMapFile; }

 private:
  void Clear();

  std::string m_StrTarget;
  std::string m_StrMapFile;
  unsigned char m_NAlternate = 0;
  std::string m_StrName;
  MAPPINGSECTOR* m_AMappingSector = nullptr;  // private copy of the sectors
  uint32_t m_AMappingSectorNum = 0;
  MAPPING m_scMapping{};
  MAPPING* m_ipMapping = nullptr;  // owns the sector array the library fills
  short m_sPacketSize = 0;
  bool m_bBroken = false;
};

#endif
