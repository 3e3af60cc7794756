#include "files/ProgramFile.h"

#include <algorithm>

#include "device/Device.h"
#include "device/Mapping.h"
#include "result/Result.h"

namespace {
// Library calls whose failure ends an open or a create.
bool Failed(unsigned int r, int& out) {
  if (r == libfiles::FILES_NOERROR) return false;
  out = CResult::Convert(r);
  return true;
}
}  // namespace

int CProgramFile::Open(const std::string& strPath, CDevice* obDevice) {
  CFiles::Open(strPath, obDevice);
  if (!obDevice || !obDevice->m_CMapping || !obDevice->m_CMapping->GetIpMapping()) return CResult::UNKNOWN_ERROR;
  int result = CResult::SUCCESS;
  if (Failed(FILES_ImageFromFile(strPath.c_str(), &m_pImage, 1), result)) return result;
  if (Failed(FILES_SetImageName(m_pImage, strPath.c_str()), result)) return result;
  // The file's own runs, before the sectors cut them and blanks go: where a
  // binary lands and which sectors a download erases follow from them.
  unsigned long runs = 0;
  if (Failed(FILES_GetImageNbElement(m_pImage, &runs), result)) return result;
  for (unsigned long i = 0; i < runs; ++i) {
    IMAGEELEMENT e{0, 0, nullptr};
    if (Failed(FILES_GetImageElement(m_pImage, i, &e), result)) return result;
    m_lsFileRange.append(AddressRange{e.dwAddress, e.dwDataLength});
  }
  // Data the chip cannot hold fails the open instead of being dropped.
  if (Failed(FILES_FilterImageForOperation(m_pImage, obDevice->m_CMapping->GetIpMapping(), 2, m_bOptimize), result))
    return result;
  unsigned long count = 0;
  if (Failed(FILES_GetImageNbElement(m_pImage, &count), result)) return result;
  for (unsigned long i = 0; i < count; ++i)
    if ((result = FetchElement(i)) != CResult::SUCCESS) return result;
  m_StrPath = strPath;
  return CResult::SUCCESS;
}

int CProgramFile::OpenPatiently(const std::string& strPath, CDevice* obDevice,
                                const std::function<bool(unsigned long)>& wait) {
  const int kAttempts = 10;
  const unsigned long kRetryMs = 1000;
  int result = CResult::SUCCESS;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    result = Open(strPath, obDevice);
    if (result != CResult::FILES_UNABLETOOPENFILE || !wait(kRetryMs)) break;
  }
  return result;
}

int CProgramFile::Create(CDevice* obDevice) {
  CFiles::Create(obDevice);
  if (!obDevice || !obDevice->m_CMapping || !obDevice->m_CMapping->GetIpMapping()) return CResult::UNKNOWN_ERROR;
  int result = CResult::SUCCESS;
  if (Failed(FILES_CreateImageFromMapping(&m_pImage, obDevice->m_CMapping->GetIpMapping(), m_bank3SzieForCreate),
             result))
    return result;
  unsigned long count = 0;
  if (Failed(FILES_GetImageNbElement(m_pImage, &count), result)) return result;

  if (IsCreateAllSectors()) {
    for (unsigned long i = 0; i < count; ++i)
      if ((result = FetchElement(i)) != CResult::SUCCESS) return result;
    return CResult::SUCCESS;
  }
  // The external bank's elements follow the mapping's own main sectors.
  const long mainSectors = std::max(0, obDevice->m_CMapping->GetSectorNums());
  QList<long> wanted;
  const long bankSectors = long(count) - mainSectors;
  for (int k = 0; k < m_aSectorIndexs.size() && k < m_iSectorNum; ++k) {
    const long s = m_aSectorIndexs[k];
    const bool bank = s >= EXTERNAL_BANK_SECTOR;
    // A sector the chip does not have is refused, never skipped.
    if (s < 0 || (!bank && s >= mainSectors) || (bank && s - EXTERNAL_BANK_SECTOR >= bankSectors))
      return CResult::FILES_BADPARAMETER;
    wanted.append(bank ? s - EXTERNAL_BANK_SECTOR + mainSectors : s);
  }
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  for (long i : wanted)
    if ((result = FetchElement(static_cast<unsigned long>(i))) != CResult::SUCCESS) return result;
  // The chosen elements go into a new empty image one by one (SetElement).
  FILES_DestroyImage(&m_pImage);
  if (Failed(FILES_CreateImage(&m_pImage, 1), result)) return result;
  return CResult::SUCCESS;
}
