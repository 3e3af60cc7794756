// The option-byte model fed with arbitrary blocks for every series: any
// accepted block encodes to a block that decodes to itself, and the
// element image is always value/complement pairs.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzEntries.h"
#include "device/Device.h"
#include "usd/UserSystemData.h"

int FuzzUserSystemData(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  auto check = [](bool ok) {
    if (!ok) std::abort();
  };
  // The first bytes choose the chip: series, BID, sector size, sectors.
  CDevice device;
  const int series = data[0] % 34;
  const int bid = data[1] << 8 | 0x01;
  device.m_ISectorSize = 512u << (data[2] % 9);  // 512 .. 128 KB
  device.m_BSectorsPerBit = static_cast<unsigned char>(data[3] % 5);
  CUserSystemData u(series, bid, &device, nullptr, 0);
  u.SetSectorNum(data[3] * 8);
  std::vector<unsigned char> block(data + 4, data + size);
  u.SetElementData(block.data(), unsigned(block.size()));
  u.Set(block.data(), unsigned(block.size()));
  unsigned char* encoded = nullptr;
  const int L = u.Get(encoded);
  check(L == u.m_nUserSystemDataLen);
  CUserSystemData again(series, bid, &device, encoded, unsigned(L));
  unsigned char* twice = nullptr;
  check(again.Get(twice) == L && std::memcmp(encoded, twice, size_t(L)) == 0);
  unsigned char* image = nullptr;
  check(u.GetElementData(image) == 4096);
  for (int i = 0; i < 4096; i += 2) check(image[i + 1] == static_cast<unsigned char>(~image[i]));
  // Protection queries over whatever EPP bytes arrived.
  for (int k = 0; k < u.m_iEppLen + 1; ++k) u.IsEPPnUsed(k, nullptr);
  u.GetEPPMapSectorIndex(u.m_nSectorNums + 3);
  u.GetEPPMapSectorIndex(int(size), u.m_nSectorNums + 3);
  u.FilterEPPSectorIndexForEraseProgramProtect({0, 1, int(size), 0x8000});
  delete[] encoded;
  delete[] twice;
  delete[] image;
  return 0;
}
