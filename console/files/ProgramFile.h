// CProgramFile: firmware images, opened filtered to the chip's sectors, or
// created blank over all or chosen sectors for reading the chip back.
#ifndef TARNFLASH_FILES_PROGRAMFILE_H
#define TARNFLASH_FILES_PROGRAMFILE_H

#include <functional>

#include "files/FileImage.h"

class CProgramFile : public CFiles {
 public:
  static const int EXTERNAL_BANK_SECTOR = 0x8000;  // index of the external bank's first sector

  void SetOptimizeForOpen(bool b) { m_bOptimize = b; }
  bool GetOptimizeForOpen() const { return m_bOptimize; }
  void SetSectorIndexsForCreate(QList<int> aSectorIndexs, int sectorNum) {
    m_aSectorIndexs = aSectorIndexs;
    m_iSectorNum = sectorNum;
  }
  void SetBank3SizeForCreate(int kb) { m_bank3SzieForCreate = kb; }
  bool IsCreateAllSectors() const { return m_aSectorIndexs.isEmpty() || m_iSectorNum <= 0; }

  int Open(const std::string& strPath, CDevice* obDevice) override;
  // Open, tried again a second apart (ten attempts in all) while the file
  // cannot be opened, as while another program still writes it; a refusal of
  // what the file holds (format, addresses) ends it at once. wait(ms) sleeps
  // between attempts and returns false to give up.
  int OpenPatiently(const std::string& strPath, CDevice* obDevice,
                    const std::function<bool(unsigned long)>& wait);
  int Create(CDevice* obDevice) override;
  int SetElement() override { return CFiles::SetElement(!IsCreateAllSectors()); }
  int SetElementAt(int i) { return CFiles::SetElementAt(i, !IsCreateAllSectors()); }

 private:
  bool m_bOptimize = false;
  QList<int> m_aSectorIndexs;
  int m_iSectorNum = 0;
  int m_bank3SzieForCreate = 0;  // KB
};

#endif
