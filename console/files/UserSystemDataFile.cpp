#include "files/UserSystemDataFile.h"

#include "device/Device.h"
#include "result/Result.h"

namespace {
const unsigned int kMaxBlockLength = 4096;
}

int CUserSystemDataFile::Open(const std::string& strPath, CDevice* obDevice) {
  CFiles::Open(strPath, obDevice);
  unsigned int r = FILES_ImageFromFile(strPath.c_str(), &m_pImage, 0);
  if (r != libfiles::FILES_NOERROR) return CResult::Convert(r);
  unsigned long count = 0;
  if ((r = FILES_GetImageNbElement(m_pImage, &count)) != libfiles::FILES_NOERROR) return CResult::Convert(r);
  if (count >= 1) {
    const int result = FetchElement(0);
    if (result != CResult::SUCCESS) return result;
  }
  // Also without an element: the caller reports an empty file.
  m_StrPath = strPath;
  return CResult::SUCCESS;
}

int CUserSystemDataFile::Create(CDevice* obDevice) {
  CFiles::Create(obDevice);
  if (!obDevice) return CResult::UNKNOWN_ERROR;
  if (obDevice->m_UiUserSystemDataLen == 0 || obDevice->m_UiUserSystemDataLen > kMaxBlockLength)
    return CResult::UNKNOWN_ERROR;
  const unsigned int r = FILES_CreateImage(&m_pImage, 1);
  if (r != libfiles::FILES_NOERROR) return CResult::Convert(r);
  AppendElement(0, obDevice->m_UiUserSystemDataLen, 0xFF);
  return CResult::SUCCESS;
}
