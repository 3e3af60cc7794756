// The option-byte block of one chip in decoded form, its values-only and
// element-image (value, complement) forms, and the mapping between
// erase/program-protection bits and flash sectors.
#ifndef TARNFLASH_USD_USERSYSTEMDATA_H
#define TARNFLASH_USD_USERSYSTEMDATA_H

#include <QList>

#include "Files.h"

class CDevice;

enum MCUSERIALS {
  KV32ErrorMCU2 = 0,
  KV32S01_1 = 1,
  KV32S01_2 = 2,
  KV32S04 = 4,
  KV32S05 = 5,
  KV32S07 = 7,
  KV32S08 = 8,
  KV32S09 = 9,
  KV32S13 = 13,
  KV32S14 = 14,
  KV32S15 = 15,
  KV32S16 = 16,
  KV32S17 = 17,
  KV32S18 = 18,
  KV32S19 = 19,
  KV32S20 = 20,
  KV32S21 = 21,
  KV32S22 = 22,
  KV32S23 = 23,
  KV32S24 = 24,
  KV32S25 = 25,
  KV32S26 = 26,
  KV32S28 = 28,
  KV32S29 = 29,
  KV32S30 = 30,
  KV32S31 = 31,
  KV32S32 = 32,
  KV32ErrorMCU1 = 255,
};

class CUserSystemData {
 public:
  static const int ELEMENT_IMAGE_LENGTH = 4096;
  static const unsigned int EXTERNAL_BANK_SECTOR = 0x8000;  // first sector index of the external bank

  CUserSystemData(int MCUSerials, int BIDVersion, CDevice* obDevice, unsigned char* optinByte, unsigned int optinLen);
  ~CUserSystemData();
  CUserSystemData(const CUserSystemData&) = delete;
  CUserSystemData& operator=(const CUserSystemData&) = delete;

  // Values-only length, DATA length and EPP length of a series.
  static int GetUserSystemDataLength(int serial, int BIDVersion, int flashSectorSize);
  static int GetUserSystemDataDATALength(int serial, int BIDVersion, int flashSectorSize);
  static int GetUserSystemDataEPPLength(int serial);

  void SetSectorNum(int nums) { m_nSectorNums = nums < 0 ? 0 : nums; }

  // Encodes into a new block of L bytes (the caller frees it with
  // delete[]); returns L.
  int Get(unsigned char*& optinByte) const;
  // Decodes a values-only block; ignored when null or shorter than L.
  void Set(const unsigned char* optinByte, unsigned int optinLen);

  void SetFAP(unsigned char v) { FAP = v; }
  void SetEOPB0(unsigned char v) { EOPB0 = v; }
  void SetBANK3KEY0(unsigned char v) { BANK3KEY[0] = v; }
  void SetBANK3KEY1(unsigned char v) { BANK3KEY[1] = v; }
  void SetBANK3KEY2(unsigned char v) { BANK3KEY[2] = v; }
  void SetBANK3KEY3(unsigned char v) { BANK3KEY[3] = v; }
  void SetBANK3KEY4(unsigned char v) { BANK3KEY[4] = v; }
  void SetBANK3KEY5(unsigned char v) { BANK3KEY[5] = v; }
  void SetBANK3KEY6(unsigned char v) { BANK3KEY[6] = v; }
  void SetBANK3KEY7(unsigned char v) { BANK3KEY[7] = v; }
  void SetSSB(bool bnWDT_ATO_EN, bool bnDEPSLP_RST, bool bnSTDBY_RST, bool bBFB2, bool bnWDT_DEPSLP,
              bool bnWDT_STDBY, bool bSRAM_Parity);
  // Copies D bytes into DATA when len is at least D.
  void SetData(const unsigned char* bData, unsigned int len);

  // Protects (clears) or unprotects (sets) the bit of one sector.
  void SetEPP(int nSectorIndex, bool bEnable);
  // false: every EPP byte 0xFF. true: every bit covering a sector cleared,
  // and with bank3Flag the external bank's bit (EPP[3] bit 7) as well.
  void SetEPP(bool bEnableAll, bool bank3Flag);
  bool IsEPPnUsed(int EPPn, int* nBitNum) const;
  bool GetAllSectorsISEPPStatus(bool bank3Flag) const;
  QList<int> GetEPPMapSectorIndex(int actualItemsNum) const;
  QList<int> GetEPPMapSectorIndex(int nSectorIndex, int actualItemsNum) const;
  QList<int> FilterEPPSectorIndexForEraseProgramProtect(QList<int> aSectorIndexs) const;

  // The 4096-byte element image (caller frees with delete[]); returns 4096.
  int GetElementData(unsigned char*& optinByte) const;
  bool SetElementData(const IMAGEELEMENT* obElement);
  void SetElementData(const unsigned char* otp2data, unsigned int otp2Len);

  unsigned char FAP = 0xFF, SSB = 0xFF, SSB1 = 0xFF;
  unsigned char* DATA = nullptr;  // owned, D bytes
  int m_nUserSystemDataLen = 0;
  unsigned char* EPP = nullptr;  // owned, m_iEppLen bytes
  int m_iEppLen = 0;
  bool m_SRAM_Parity = false, m_BnWDT_STDBY = false, m_BnWDT_DEPSLP = false, m_BnWDT_ATO_EN = false,
       m_BnDEPSLP_RST = false, m_BnSTDBY_RST = false, m_BBFB2 = false;
  unsigned char m_BnNRST_MODE = 0;
  bool m_BnBOOT0 = false, m_BnBOOT0_SW = false;
  unsigned char EOPB0 = 0xFF, RES1 = 0xFF, HID0 = 0xFF;
  unsigned char BANK3KEY[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  unsigned char m_bSectorsPerBit = 1;
  int m_nSectorNums = 0;
  int m_MCUSerials = 0;
  int m_BIDVersion = 0;
  int m_SectorSize = 0;
  CDevice* m_ObDevice = nullptr;

  int DataLength() const { return m_nDataLen; }

 private:
  enum Layout { LAYOUT_SHORT, LAYOUT_LINEAR, LAYOUT_S19, LAYOUT_S13, LAYOUT_S31 };
  static Layout LayoutOf(int serial);
  bool IsS13() const { return m_MCUSerials == KV32S13 || m_MCUSerials == KV32S14; }
  // Sectors in the first 128 KB (series 13 and 14), at least 1.
  int SectorsIn128K() const;
  int SectorSizeKB() const;
  // EPP byte and bit of a sector; false when no bit covers it.
  bool BitOfSector(int s, int& byte, int& bit) const;
  // Sectors of EPP bit number b (byte b / 8, bit b % 8), in order.
  void AppendSectorsOfBit(int b, int actualItemsNum, QList<int>& out) const;
  void DecodeSSB();
  int m_nDataLen = 0;
};

#endif
