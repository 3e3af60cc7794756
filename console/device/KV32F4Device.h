// The catalogue's description of a chip: found by product identifier and
// series code among the *.KVmap files, with its memory mapping.
#ifndef TARNFLASH_DEVICE_KV32F4DEVICE_H
#define TARNFLASH_DEVICE_KV32F4DEVICE_H

#include <QString>

#include "device/Device.h"

class CKV32F4Device : public CDevice {
 public:
  CKV32F4Device(const std::string& strPID, const std::string& strSerial, int iFlashSize);

  // Some map file claims the chip (same test as the constructor).
  bool IsDevicePID(const std::string& strPID, const std::string& strSerial) const;
  // Value of Section/Keyname in a map file as text, read by the image-file
  // library's map reader (a value runs to the end of its line); empty when
  // absent or when the file is unreadable or no INI file.
  static QString KVmapReadValue(const QString& Section, const QString& Keyname, const QString& filePath);

  unsigned int m_UiFlashSizeAddress = 0x1FFFF7E0;
  std::string m_StrSubName;

 private:
  // Path of the first map file (by name) that claims the chip, or empty.
  static QString FindMapFile(const std::string& strPID, const std::string& strSerial);
};

#endif
