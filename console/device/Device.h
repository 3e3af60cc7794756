// A chip description chosen from the device catalogue.
#ifndef TARNFLASH_DEVICE_DEVICE_H
#define TARNFLASH_DEVICE_DEVICE_H

#include <string>

class CMapping;

class CDevice {
 public:
  CDevice() = default;
  virtual ~CDevice();
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;

  CMapping* m_CMapping = nullptr;  // owned
  std::string m_StrPID;
  std::string m_StrSerial;  // two upper-case hex digits, e.g. "0D"
  unsigned int m_BlockSize = 0;
  std::string m_StrBID = "NA";
  std::string m_StrName;
  std::string m_StrTarget;
  int m_IFlashSize = 0;  // KB
  unsigned int m_UiUserSystemDataAddress = 0;
  unsigned int m_UiUserSystemDataLen = 0;
  unsigned int m_UiFlashSizeAdd = 0;
  unsigned char m_BSectorsPerBit = 1;
  unsigned int m_ISectorSize = 0;  // bytes of sector 0
  // External SPI-flash bank, filled by the front end from its options.
  bool m_haveBank3 = false;
  int m_Bank3Type = 0;
  unsigned int m_Bank3Szie = 0;  // KB
  unsigned int m_Bank3FlashDA = 0;
  bool m_Nank3RemapFlag = false;
};

#endif
