#include "usd/UserSystemData.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/Device.h"
#include "device/Mapping.h"

namespace {

bool In(int s, std::initializer_list<int> set) {
  for (int x : set)
    if (x == s) return true;
  return false;
}

// Series whose BFB2 flag is SSB bit 4 (the others use bit 3).
bool BFB2AtBit4(int s) { return In(s, {9, 15, 16, 18, 19, 20, 21, 22, 23, 25, 26, 28, 29, 30, 31, 32}); }
// Series with the two watchdog flags at SSB bits 5 and 6.
bool HasWatchdogBits(int s) {
  return In(s, {13, 14, 15, 16, 18, 19, 20, 21, 22, 23, 25, 26, 28, 29, 30, 31, 32});
}

// Slots of the values-only block: for each option-byte index, the field it
// carries, or null for a reserved byte (0xFF). Encoding and decoding both
// walk this one table, so they cannot disagree.
using Slots = std::vector<unsigned char*>;

}  // namespace

CUserSystemData::Layout CUserSystemData::LayoutOf(int s) {
  if (In(s, {5, 17, 9, 15, 16, 18, 25, 26, 28, 29})) return LAYOUT_LINEAR;
  if (In(s, {19, 20, 21, 22, 23, 30})) return LAYOUT_S19;
  if (In(s, {13, 14})) return LAYOUT_S13;
  if (In(s, {31, 32})) return LAYOUT_S31;
  return LAYOUT_SHORT;
}

int CUserSystemData::GetUserSystemDataLength(int serial, int BIDVersion, int flashSectorSize) {
  if (serial == KV32S05 || serial == KV32S17) return BIDVersion > 0x4601 ? 512 : 16;
  if (serial == KV32S13 || serial == KV32S14) return flashSectorSize == 4096 ? 2048 : 256;
  return LayoutOf(serial) == LAYOUT_SHORT ? 24 : 256;
}

int CUserSystemData::GetUserSystemDataDATALength(int serial, int BIDVersion, int flashSectorSize) {
  const int L = GetUserSystemDataLength(serial, BIDVersion, flashSectorSize);
  switch (LayoutOf(serial)) {
    case LAYOUT_LINEAR: return L - 6;   // 2 + (L - 8)
    case LAYOUT_S19:
    case LAYOUT_S13: return L - 36;     // 2 + (L - 38)
    case LAYOUT_S31: return L - 7;      // 1 + (L - 8)
    default: return 8;
  }
}

int CUserSystemData::GetUserSystemDataEPPLength(int serial) {
  return serial == KV32S13 || serial == KV32S14 ? 20 : 4;
}

CUserSystemData::CUserSystemData(int MCUSerials, int BIDVersion, CDevice* obDevice, unsigned char* optinByte,
                                 unsigned int optinLen)
    : m_MCUSerials(MCUSerials), m_BIDVersion(BIDVersion), m_ObDevice(obDevice) {
  int perBit = 1;
  if (obDevice) {
    m_SectorSize = int(obDevice->m_ISectorSize);
    m_nSectorNums = obDevice->m_CMapping ? obDevice->m_CMapping->GetSectorNums() : 0;
    if (m_nSectorNums < 0) m_nSectorNums = 0;
    perBit = obDevice->m_BSectorsPerBit;
  }
  if (In(MCUSerials, {5, 17})) perBit = 2;
  else if (In(MCUSerials, {9, 15, 16})) perBit = 4;
  m_bSectorsPerBit = static_cast<unsigned char>(perBit < 1 ? 1 : perBit);  // never a division by 0
  m_nUserSystemDataLen = GetUserSystemDataLength(MCUSerials, BIDVersion, m_SectorSize);
  m_nDataLen = GetUserSystemDataDATALength(MCUSerials, BIDVersion, m_SectorSize);
  m_iEppLen = GetUserSystemDataEPPLength(MCUSerials);
  DATA = new unsigned char[size_t(m_nDataLen)];
  std::memset(DATA, 0xFF, size_t(m_nDataLen));
  EPP = new unsigned char[size_t(m_iEppLen)];
  std::memset(EPP, 0xFF, size_t(m_iEppLen));
  Set(optinByte, optinLen);
}

CUserSystemData::~CUserSystemData() {
  delete[] DATA;
  delete[] EPP;
}

// layout: 0 every other series, 1 DATA from index 8, 2 series 19-23 and 30,
// 3 series 13 and 14, 4 series 31 and 32 (the order of Layout).
static Slots MakeSlots(CUserSystemData& u, int layout) {
  const int L = u.m_nUserSystemDataLen, D = u.DataLength();
  Slots s(size_t(L), nullptr);
  auto put = [&](int index, unsigned char* field) {
    if (index >= 0 && index < L) s[size_t(index)] = field;
  };
  auto data = [&](int index, int k) {
    if (k < D) put(index, &u.DATA[k]);
  };
  auto dataRun = [&](int from, int firstK) {
    for (int i = from, k = firstK; i < L; ++i, ++k) data(i, k);
  };
  put(0, &u.FAP);
  put(1, &u.SSB);
  for (int k = 0; k < 4; ++k) put(4 + k, &u.EPP[k]);
  switch (layout) {
    case 0:  // every other series, 24 values
      data(2, 0), data(3, 1);
      put(8, &u.EOPB0), put(9, &u.RES1);
      for (int k = 2; k < 8; ++k) data(8 + k, k);
      for (int k = 0; k < 8; ++k) put(16 + k, &u.BANK3KEY[k]);
      break;
    case 1:  // DATA from index 8 to the end
      data(2, 0), data(3, 1);
      dataRun(8, 2);
      break;
    case 2:  // series 19-23 and 30
      data(2, 0), data(3, 1);
      for (int k = 0; k < 4; ++k) put(26 + k, &u.BANK3KEY[k]);
      dataRun(38, 2);
      break;
    case 3:  // series 13 and 14: 20 EPP bytes
      data(2, 0), data(3, 1);
      put(8, &u.EOPB0), put(9, &u.RES1);
      for (int k = 4; k < 20; ++k) put(6 + k, &u.EPP[k]);
      for (int k = 0; k < 8; ++k) put(26 + k, &u.BANK3KEY[k]);
      dataRun(38, 2);
      break;
    default:  // series 31 and 32: a second system byte
      put(2, &u.SSB1);
      data(3, 0);
      dataRun(8, 1);
  }
  return s;
}

int CUserSystemData::Get(unsigned char*& optinByte) const {
  const int L = m_nUserSystemDataLen;
  optinByte = new unsigned char[size_t(L)];
  Slots slots = MakeSlots(const_cast<CUserSystemData&>(*this), LayoutOf(m_MCUSerials));
  for (int i = 0; i < L; ++i) optinByte[i] = slots[size_t(i)] ? *slots[size_t(i)] : 0xFF;
  return L;
}

void CUserSystemData::Set(const unsigned char* optinByte, unsigned int optinLen) {
  if (!optinByte || optinLen < unsigned(m_nUserSystemDataLen)) return;
  Slots slots = MakeSlots(*this, LayoutOf(m_MCUSerials));
  for (int i = 0; i < m_nUserSystemDataLen; ++i)
    if (slots[size_t(i)]) *slots[size_t(i)] = optinByte[i];
  DecodeSSB();
}

void CUserSystemData::DecodeSSB() {
  const int s = m_MCUSerials;
  m_BnWDT_ATO_EN = SSB & 0x01;
  m_BnDEPSLP_RST = SSB & 0x02;
  m_BnSTDBY_RST = SSB & 0x04;
  m_BBFB2 = SSB & (BFB2AtBit4(s) ? 0x10 : 0x08);
  m_BnWDT_DEPSLP = HasWatchdogBits(s) && (SSB & 0x20);
  m_BnWDT_STDBY = HasWatchdogBits(s) && (SSB & 0x40);
  if (In(s, {16, 19, 20, 21, 22, 23, 30})) m_SRAM_Parity = SSB & 0x80;
  else if (In(s, {13, 14, 15, 18, 25, 26, 28, 29, 31, 32})) m_SRAM_Parity = false;
}

void CUserSystemData::SetSSB(bool bnWDT_ATO_EN, bool bnDEPSLP_RST, bool bnSTDBY_RST, bool bBFB2, bool bnWDT_DEPSLP,
                             bool bnWDT_STDBY, bool bSRAM_Parity) {
  m_BnWDT_ATO_EN = bnWDT_ATO_EN;
  m_BnDEPSLP_RST = bnDEPSLP_RST;
  m_BnSTDBY_RST = bnSTDBY_RST;
  m_BBFB2 = bBFB2;
  m_BnWDT_DEPSLP = bnWDT_DEPSLP;
  m_BnWDT_STDBY = bnWDT_STDBY;
  m_SRAM_Parity = bSRAM_Parity;
  // Base value and the bit of each flag (-1: the series has none). Series
  // 31 and 32 use the row their decoder reads.
  int base = 0xF0, bfb = 3, dep = -1, stb = -1, sram = -1;
  const int s = m_MCUSerials;
  if (s == 9) base = 0xE8, bfb = 4;
  else if (In(s, {15, 18, 25, 26, 28, 29, 31, 32})) base = 0x88, bfb = 4, dep = 5, stb = 6;
  else if (In(s, {16, 19, 20, 21, 22, 23, 30})) base = 0x08, bfb = 4, dep = 5, stb = 6, sram = 7;
  else if (In(s, {13, 14})) base = 0x90, bfb = 3, dep = 5, stb = 6;
  int v = base | (bnWDT_ATO_EN ? 1 : 0) | (bnDEPSLP_RST ? 2 : 0) | (bnSTDBY_RST ? 4 : 0);
  if (bBFB2) v |= 1 << bfb;
  if (dep >= 0 && bnWDT_DEPSLP) v |= 1 << dep;
  if (stb >= 0 && bnWDT_STDBY) v |= 1 << stb;
  if (sram >= 0 && bSRAM_Parity) v |= 1 << sram;
  SSB = static_cast<unsigned char>(v);
}

void CUserSystemData::SetData(const unsigned char* bData, unsigned int len) {
  if (bData && len >= unsigned(m_nDataLen)) std::memcpy(DATA, bData, size_t(m_nDataLen));
}

int CUserSystemData::SectorSizeKB() const {
  // Sizes under 1 KB or above 128 KB would break the block arithmetic.
  int kb = m_SectorSize / 1024;
  return kb < 1 ? 1 : kb > 128 ? 128 : kb;
}

int CUserSystemData::SectorsIn128K() const { return 128 / SectorSizeKB(); }

bool CUserSystemData::BitOfSector(int s, int& byte, int& bit) const {
  if (s < 0) return false;
  const int n = m_bSectorsPerBit;
  if (!IsS13()) {
    if (s < 31 * n) byte = s / (8 * n), bit = (s / n) % 8;
    else byte = 3, bit = 7;  // every later sector, and the external bank
  } else {
    const int B = SectorsIn128K();
    if (s < B) {
      byte = s / (8 * n), bit = (s / n) % 8;
    } else {
      const int r = s - B;
      byte = 4 + r / (8 * B), bit = (r / B) % 8;
    }
  }
  return byte < m_iEppLen;
}

void CUserSystemData::SetEPP(int nSectorIndex, bool bEnable) {
  int byte = 0, bit = 0;
  if (!BitOfSector(nSectorIndex, byte, bit)) return;
  if (bEnable) EPP[byte] = static_cast<unsigned char>(EPP[byte] & ~(1 << bit));
  else EPP[byte] = static_cast<unsigned char>(EPP[byte] | (1 << bit));
}

bool CUserSystemData::IsEPPnUsed(int EPPn, int* nBitNum) const {
  if (nBitNum) *nBitNum = 0;
  if (EPPn < 0 || EPPn >= m_iEppLen) return false;
  const int n = m_bSectorsPerBit, count = m_nSectorNums;
  int bits = 0, k = EPPn;
  if (EPPn < 4) {
    bits = (count + n - 1) / n;
  } else {
    const int B = SectorsIn128K();
    bits = count > B ? (count - B + B - 1) / B : 0;
    k = EPPn - 4;
  }
  const int used = k < bits / 8 ? 8 : (k == bits / 8 ? bits % 8 : 0);
  if (nBitNum) *nBitNum = used;
  return used > 0;
}

void CUserSystemData::SetEPP(bool bEnableAll, bool bank3Flag) {
  if (!bEnableAll) {
    std::memset(EPP, 0xFF, size_t(m_iEppLen));
    return;
  }
  for (int k = 0; k < m_iEppLen; ++k) {
    int used = 0;
    if (IsEPPnUsed(k, &used)) EPP[k] = static_cast<unsigned char>(EPP[k] & ~((1 << used) - 1));
  }
  if (bank3Flag) EPP[3] &= 0x7F;
}

bool CUserSystemData::GetAllSectorsISEPPStatus(bool bank3Flag) const {
  for (int k = 0; k < m_iEppLen; ++k) {
    int used = 0;
    if (IsEPPnUsed(k, &used) && (EPP[k] & ((1 << used) - 1))) return false;
  }
  return !(bank3Flag && (EPP[3] & 0x80));
}

void CUserSystemData::AppendSectorsOfBit(int b, int actualItemsNum, QList<int>& out) const {
  const int n = m_bSectorsPerBit, count = m_nSectorNums;
  int first = b * n, number = n;
  if (!IsS13() && b == 31) {
    for (int s = 31 * n; s < count; ++s) out.append(s);
    for (int s = count; s < actualItemsNum; ++s) out.append(s);
    return;
  }
  if (IsS13() && b >= 32) {
    const int B = SectorsIn128K();
    first = (b - 32) * B + B, number = B;
  }
  for (int s = first; s < first + number && s < count; ++s) out.append(s);
}

QList<int> CUserSystemData::GetEPPMapSectorIndex(int actualItemsNum) const {
  QList<int> out;
  for (int b = 0; b < 8 * m_iEppLen; ++b)
    if (!(EPP[b / 8] & (1 << (b % 8)))) AppendSectorsOfBit(b, actualItemsNum, out);
  return out;
}

QList<int> CUserSystemData::GetEPPMapSectorIndex(int nSectorIndex, int actualItemsNum) const {
  QList<int> out;
  int byte = 0, bit = 0;
  if (BitOfSector(nSectorIndex, byte, bit)) AppendSectorsOfBit(byte * 8 + bit, actualItemsNum, out);
  return out;
}

QList<int> CUserSystemData::FilterEPPSectorIndexForEraseProgramProtect(QList<int> aSectorIndexs) const {
  QList<int> out;
  const int n = m_bSectorsPerBit;
  for (int s : aSectorIndexs) {
    if (s < 0) continue;
    long long bit;
    if (!IsS13()) {
      // Every sector from 31 x n up, and the external bank, is bit 31.
      bit = s >= int(EXTERNAL_BANK_SECTOR) ? 31 : std::min(s / n, 31);
    } else {
      const long long f = (long long)SectorSizeKB() * s;
      bit = f >= 128 ? (f - 128) / 128 + 32 : s / n;
    }
    if (out.isEmpty() || out.last() != bit) out.append(int(bit));
  }
  return out;
}

int CUserSystemData::GetElementData(unsigned char*& optinByte) const {
  unsigned char* values = nullptr;
  const int L = Get(values);
  optinByte = new unsigned char[ELEMENT_IMAGE_LENGTH];
  for (int i = 0; i < ELEMENT_IMAGE_LENGTH / 2; ++i) {
    const unsigned char v = i < L ? values[i] : 0xFF;
    optinByte[2 * i] = v;
    optinByte[2 * i + 1] = static_cast<unsigned char>(~v);
  }
  delete[] values;
  return ELEMENT_IMAGE_LENGTH;
}

void CUserSystemData::SetElementData(const unsigned char* otp2data, unsigned int otp2Len) {
  const unsigned int L = unsigned(m_nUserSystemDataLen);
  if (!otp2data || otp2Len < 2 * L) return;
  std::vector<unsigned char> values(L);
  for (unsigned int i = 0; i < L; ++i) values[i] = otp2data[2 * i];
  Set(values.data(), L);
}

bool CUserSystemData::SetElementData(const IMAGEELEMENT* obElement) {
  if (!obElement || !obElement->Data || obElement->dwDataLength < 2ul * unsigned(m_nUserSystemDataLen)) return false;
  SetElementData(obElement->Data, unsigned(std::min<unsigned long>(obElement->dwDataLength, ELEMENT_IMAGE_LENGTH)));
  return true;
}
