// CFiles: one image of the image-file library with a private list of its
// elements, walked element by element with progress counting.
#ifndef TARNFLASH_FILES_FILEIMAGE_H
#define TARNFLASH_FILES_FILEIMAGE_H

#include <cstdint>
#include <string>

#include <QList>

#include "Files.h"

class CDevice;

// A run of bytes at an address (in 64 bits, so that an end never wraps).
struct AddressRange {
  uint64_t address;
  uint64_t length;
};

class CFiles {
 public:
  enum Type { UNKNOWN = 0, BIN = 1, HEX = 2, S19 = 3, ELF = 4 };

  CFiles() = default;
  virtual ~CFiles();
  CFiles(const CFiles&) = delete;
  CFiles& operator=(const CFiles&) = delete;

  bool HasOpen() const { return m_pImage != nullptr; }
  // Base parts: close what is open (Open also takes the kind of the path).
  virtual int Open(const std::string& strPath, CDevice* obDevice);
  virtual int Create(CDevice* obDevice);

  void ResetElement();
  int GetElementCount() const { return m_lsElement.size(); }
  // The next element (its length counts as handled), or null at the end.
  IMAGEELEMENT* GetElement();
  // Element i, or null; the cursor stays where it is.
  IMAGEELEMENT* ElementAt(int i);
  // Stores the element under the cursor, or element i, into the image.
  int SetElement(bool bInsert) { return SetElementAt(m_CurrentElementIndex, bInsert); }
  int SetElementAt(int i, bool bInsert);
  virtual int SetElement() { return SetElement(true); }
  int GetStartAddress(unsigned int* uiAddress) const;
  // The runs of data as the file itself gives them, before they were fitted
  // to the chip's sectors and blank runs dropped (program images; also kept
  // when the open failed on where the data lies). Empty otherwise.
  const QList<AddressRange>& GetFileRanges() const { return m_lsFileRange; }
  // Address of the file's first byte of data (0 without data): where its
  // own placement starts, whatever was dropped as blank.
  unsigned int GetFileStartAddress() const {
    return m_lsFileRange.isEmpty() ? 0 : unsigned(m_lsFileRange.first().address);
  }
  int Save(const std::string& strPath);
  void Close();

  static Type ParseFileType(const std::string& strPath);
  // Why the image-file library's last failing call on this thread failed
  // (for a file that does not parse: its line and what is wrong).
  static std::string LastError();

  Type GetType() const { return m_Type; }
  const std::string& GetPath() const { return m_StrPath; }
  unsigned int GetFileSize() const { return m_UiFileSize; }
  unsigned int GetFileStatus() const { return m_uiFileStatus; }
  int GetCurrentElementIndex() const { return m_CurrentElementIndex; }

 protected:
  // Copies element i of the image into the list (two library calls).
  int FetchElement(unsigned long i);
  // Appends an element with an owned buffer of len bytes set to fill.
  void AppendElement(unsigned long address, unsigned long len, unsigned char fill);
  void FreeElements();

  FILES_HIMAGE m_pImage = nullptr;
  QList<IMAGEELEMENT> m_lsElement;  // each Data buffer owned
  QList<AddressRange> m_lsFileRange;
  int m_CurrentElementIndex = -1;
  Type m_Type = UNKNOWN;
  std::string m_StrPath;
  unsigned int m_UiFileSize = 0;
  unsigned int m_uiFileStatus = 0;
};

#endif
