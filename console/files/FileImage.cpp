#include "files/FileImage.h"

#include <cstring>
#include <new>

#include "result/Result.h"

CFiles::~CFiles() { Close(); }

CFiles::Type CFiles::ParseFileType(const std::string& strPath) {
  switch (FILES_GetFileKind(strPath.c_str())) {
    case FILES_KIND_BIN: return BIN;
    case FILES_KIND_HEX: return HEX;
    case FILES_KIND_SREC: return S19;
    case FILES_KIND_ELF: return ELF;
    default: return UNKNOWN;
  }
}

std::string CFiles::LastError() {
  char text[512] = {};
  FILES_GetLastErrorText(text, sizeof text);
  return text;
}

int CFiles::Open(const std::string& strPath, CDevice*) {
  Close();
  m_Type = ParseFileType(strPath);
  return CResult::SUCCESS;
}

int CFiles::Create(CDevice*) {
  Close();
  return CResult::SUCCESS;
}

void CFiles::ResetElement() {
  m_CurrentElementIndex = -1;
  m_uiFileStatus = 0;
}

IMAGEELEMENT* CFiles::GetElement() {
  if (!m_pImage || m_lsElement.isEmpty() || m_CurrentElementIndex + 1 >= m_lsElement.size()) return nullptr;
  ++m_CurrentElementIndex;
  IMAGEELEMENT* e = &m_lsElement[m_CurrentElementIndex];
  m_uiFileStatus += unsigned(e->dwDataLength);
  return e;
}

IMAGEELEMENT* CFiles::ElementAt(int i) {
  return i >= 0 && i < m_lsElement.size() ? &m_lsElement[i] : nullptr;
}

int CFiles::SetElementAt(int i, bool bInsert) {
  if (!m_pImage) return CResult::FILES_NOTOPEN;
  if (i < 0 || i >= m_lsElement.size()) return CResult::SUCCESS;
  return CResult::Convert(FILES_SetImageElement(m_pImage, static_cast<unsigned long>(i), bInsert, &m_lsElement[i]));
}

int CFiles::GetStartAddress(unsigned int* uiAddress) const {
  if (!m_pImage) return CResult::FILES_NOTOPEN;
  if (uiAddress) *uiAddress = m_lsElement.isEmpty() ? 0 : unsigned(m_lsElement.first().dwAddress);
  return CResult::SUCCESS;
}

int CFiles::Save(const std::string& strPath) {
  if (!m_pImage) return CResult::FILES_NOTOPEN;
  const int r = CResult::Convert(FILES_ImageToFile(strPath.c_str(), m_pImage));
  if (r == CResult::SUCCESS) m_Type = ParseFileType(strPath);
  return r;
}

void CFiles::FreeElements() {
  for (IMAGEELEMENT& e : m_lsElement) delete[] e.Data;
  m_lsElement.clear();
}

void CFiles::Close() {
  if (m_pImage) FILES_DestroyImage(&m_pImage);
  m_pImage = nullptr;
  m_StrPath.clear();
  m_UiFileSize = 0;
  m_uiFileStatus = 0;
  m_CurrentElementIndex = -1;
  FreeElements();
  m_lsFileRange.clear();
}

int CFiles::FetchElement(unsigned long i) {
  IMAGEELEMENT e{0, 0, nullptr};
  unsigned int r = FILES_GetImageElement(m_pImage, i, &e);
  if (r != libfiles::FILES_NOERROR) return CResult::Convert(r);
  e.Data = new (std::nothrow) unsigned char[e.dwDataLength ? e.dwDataLength : 1];
  if (!e.Data) return CResult::PROGRAM_INPUT_PARAMS_MEMORY_ALLOCATION_ERROR;
  r = FILES_GetImageElement(m_pImage, i, &e);
  if (r != libfiles::FILES_NOERROR) {
    delete[] e.Data;
    return CResult::Convert(r);
  }
  m_lsElement.append(e);
  m_UiFileSize += unsigned(e.dwDataLength);
  return CResult::SUCCESS;
}

void CFiles::AppendElement(unsigned long address, unsigned long len, unsigned char fill) {
  IMAGEELEMENT e{address, len, new unsigned char[len ? len : 1]};
  std::memset(e.Data, fill, len);
  m_lsElement.append(e);
  m_UiFileSize += unsigned(len);
}
