// The option-byte model: lengths, layouts, element images, SSB and the
// protection bits of sectors.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "device/Device.h"
#include "usd/UserSystemData.h"

namespace {

const int kAllSeries[] = {1, 2, 4, 5, 7, 8, 9, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 28, 29, 30, 31, 32, 255};

struct Model {
  CDevice device;
  std::unique_ptr<CUserSystemData> usd;
  explicit Model(int series, unsigned sectorSize = 2048, int sectors = 128, int perBit = 2, int bid = 0x4700) {
    device.m_ISectorSize = sectorSize;
    device.m_BSectorsPerBit = static_cast<unsigned char>(perBit);
    usd.reset(new CUserSystemData(series, bid, &device, nullptr, 0));
    usd->SetSectorNum(sectors);
  }
  CUserSystemData* operator->() { return usd.get(); }
  std::vector<unsigned char> encode() {
    unsigned char* block = nullptr;
    const int L = usd->Get(block);
    std::vector<unsigned char> v(block, block + L);
    delete[] block;
    return v;
  }
};

TEST(UserSystemDataLayout, LengthsBySeriesBidAndSectorSize) {
  const struct {
    int series, bid, sectorSize, L, D, epp;
  } cases[] = {{5, 0x4601, 2048, 16, 10, 4},  {5, 0x4602, 2048, 512, 506, 4}, {17, 0x4700, 1024, 512, 506, 4},
               {13, 0, 4096, 2048, 2012, 20}, {14, 0, 2048, 256, 220, 20},    {29, 0, 2048, 256, 250, 4},
               {21, 0, 2048, 256, 220, 4},    {31, 0, 2048, 256, 249, 4},     {4, 0, 2048, 24, 8, 4},
               {255, 0, 2048, 24, 8, 4}};
  for (auto c : cases) {
    SCOPED_TRACE(c.series);
    EXPECT_EQ(CUserSystemData::GetUserSystemDataLength(c.series, c.bid, c.sectorSize), c.L);
    EXPECT_EQ(CUserSystemData::GetUserSystemDataDATALength(c.series, c.bid, c.sectorSize), c.D);
    EXPECT_EQ(CUserSystemData::GetUserSystemDataEPPLength(c.series), c.epp);
    EXPECT_EQ(int(Model(c.series, unsigned(c.sectorSize), 128, 2, c.bid).encode().size()), c.L);
  }
}

// Decoding then encoding keeps every value a layout carries, 0xFF in every
// reserved byte; the table places individual fields.
TEST(UserSystemDataLayout, EveryLayoutRoundTripsAndPlacesItsFields) {
  for (int series : kAllSeries) {
    for (unsigned sectorSize : {2048u, 4096u}) {
      SCOPED_TRACE(std::to_string(series) + "/" + std::to_string(sectorSize));
      Model m(series, sectorSize);
      std::vector<unsigned char> in(size_t(m->m_nUserSystemDataLen), 0);
      for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 7 + 3);
      m->Set(in.data(), unsigned(in.size()));
      const std::vector<unsigned char> out = m.encode();
      int carried = 0;
      for (size_t i = 0; i < in.size(); ++i) {
        carried += out[i] == in[i];
        EXPECT_TRUE(out[i] == in[i] || out[i] == 0xFF) << "index " << i;
      }
      EXPECT_GE(carried, 2 + m->DataLength() + 4);
      EXPECT_EQ(m->EPP[3], in[7]);
    }
  }
  enum { RESERVED, EOPB0, RES1, SSB1, KEY, EPPn, DATAn };
  const struct {
    int series, index, field, k;
  } places[] = {{4, 8, EOPB0, 0},    {4, 9, RES1, 0},     {4, 10, DATAn, 2},  {4, 23, KEY, 7},   {9, 255, DATAn, 249},
                {21, 26, KEY, 0},    {21, 38, DATAn, 2},  {21, 8, RESERVED, 0}, {21, 30, RESERVED, 0},
                {13, 10, EPPn, 4},   {13, 25, EPPn, 19},  {13, 30, KEY, 4},   {13, 34, RESERVED, 0},
                {31, 2, SSB1, 0},    {31, 3, DATAn, 0},   {31, 8, DATAn, 1}};
  for (auto p : places) {
    SCOPED_TRACE(std::to_string(p.series) + " index " + std::to_string(p.index));
    Model m(p.series);
    std::vector<unsigned char> in(size_t(m->m_nUserSystemDataLen), 0x11);
    in[size_t(p.index)] = 0x5C;
    m->Set(in.data(), unsigned(in.size()));
    const unsigned char got = p.field == EOPB0  ? m->EOPB0
                              : p.field == RES1 ? m->RES1
                              : p.field == SSB1 ? m->SSB1
                              : p.field == KEY  ? m->BANK3KEY[p.k]
                              : p.field == EPPn ? m->EPP[p.k]
                              : p.field == DATAn ? m->DATA[p.k]
                                                 : m.encode()[size_t(p.index)];
    EXPECT_EQ(got, p.field == RESERVED ? 0xFF : 0x5C);
  }
}

TEST(UserSystemDataLayout, ShortBlocksAreIgnored) {
  Model m(9);
  std::vector<unsigned char> block(255, 0x00);
  m->Set(block.data(), 255);
  m->Set(nullptr, 256);
  m->SetData(block.data(), 249);  // DATA is 250 bytes
  EXPECT_EQ(m->FAP, 0xFF);
  EXPECT_EQ(m->DATA[0], 0xFF);
  m->SetData(block.data(), 250);
  EXPECT_EQ(m->DATA[249], 0x00);
}

TEST(UserSystemDataElement, ValueComplementPairsOverTheWholeImage) {
  for (int series : kAllSeries) {
    SCOPED_TRACE(series);
    Model m(series, 4096);
    m->SetFAP(0xA5);
    m->SetEPP(3, true);
    unsigned char* image = nullptr;
    ASSERT_EQ(m->GetElementData(image), 4096);
    std::unique_ptr<unsigned char[]> hold(image);
    EXPECT_EQ(image[0], 0xA5);
    EXPECT_EQ(image[1], 0x5A);
    for (int i = 0; i < 4096; i += 2) ASSERT_EQ(image[i + 1], static_cast<unsigned char>(~image[i])) << i;
    for (int i = 2 * m->m_nUserSystemDataLen; i < 4096; i += 2) ASSERT_EQ(image[i], 0xFF) << i;
    Model back(series, 4096), cut(series, 4096);
    IMAGEELEMENT whole{0, 4096, image}, tooShort{0, unsigned(2 * m->m_nUserSystemDataLen - 1), image};
    EXPECT_TRUE(back->SetElementData(&whole));
    EXPECT_EQ(back.encode(), m.encode());
    EXPECT_FALSE(cut->SetElementData(&tooShort));
    EXPECT_EQ(cut->FAP, 0xFF);
  }
}

// Decoding an encoded SSB gives back every flag the series has a bit for;
// series 31 and 32 included (their encoder uses the decoder's row).
TEST(UserSystemDataSSB, EncodeDecodeAgreeForEverySeries) {
  for (int series : kAllSeries) {
    const bool watchdog = series >= 13 && series != 17 && series != 24 && series != 255;
    const bool parity = series == 16 || (series >= 19 && series <= 23) || series == 30;
    for (int flags = 0; flags < 128; ++flags) {
      SCOPED_TRACE(std::to_string(series) + " flags " + std::to_string(flags));
      bool f[7];
      for (int b = 0; b < 7; ++b) f[b] = flags & (1 << b);
      Model m(series), d(series);
      m->SetSSB(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
      const std::vector<unsigned char> block = m.encode();
      d->Set(block.data(), unsigned(block.size()));
      const bool got[7] = {d->m_BnWDT_ATO_EN, d->m_BnDEPSLP_RST, d->m_BnSTDBY_RST, d->m_BBFB2,
                           d->m_BnWDT_DEPSLP, d->m_BnWDT_STDBY, parity ? d->m_SRAM_Parity : false};
      const bool want[7] = {f[0], f[1], f[2], f[3], watchdog && f[4], watchdog && f[5], parity && f[6]};
      for (int b = 0; b < 7; ++b) ASSERT_EQ(got[b], want[b]) << "flag " << b;
    }
  }
  const struct {
    int series;
    unsigned char none, bfb2Only;
  } bases[] = {{9, 0xE8, 0xF8}, {15, 0x88, 0x98}, {31, 0x88, 0x98}, {21, 0x08, 0x18}, {13, 0x90, 0x98}, {4, 0xF0, 0xF8}};
  for (auto b : bases) {
    Model m(b.series);
    m->SetSSB(false, false, false, false, false, false, false);
    EXPECT_EQ(m->SSB, b.none) << b.series;
    m->SetSSB(false, false, false, true, false, false, false);
    EXPECT_EQ(m->SSB, b.bfb2Only) << b.series;
  }
}

TEST(UserSystemDataEPP, SectorsToBitsAndBack) {
  const struct {
    int series, perBit, sectors, sector, byte;
    unsigned char value;  // EPP[byte] after protecting the sector
  } cases[] = {{4, 2, 128, 17, 1, 0xFE},   {9, 4, 512, 100, 3, 0xFD},   {4, 2, 128, 61, 3, 0xBF},
               {4, 2, 128, 62, 3, 0x7F},   {4, 2, 128, 127, 3, 0x7F},   {13, 1, 1024, 31, 3, 0x7F},
               {13, 1, 1024, 32, 4, 0xFE}, {13, 1, 1024, 64, 4, 0xFD},  {13, 1, 1024, 1023, 7, 0xBF}};
  for (auto c : cases) {
    SCOPED_TRACE(std::to_string(c.series) + " sector " + std::to_string(c.sector));
    Model m(c.series, c.series == 13 ? 4096 : 2048, c.sectors, c.perBit);
    m->SetEPP(c.sector, true);
    for (int k = 0; k < m->m_iEppLen; ++k) EXPECT_EQ(m->EPP[k], k == c.byte ? c.value : 0xFF) << "EPP" << k;
    m->SetEPP(c.sector, false);
    EXPECT_EQ(m->EPP[c.byte], 0xFF);
  }
  // Sectors 62 and 63 share EPP[3] bit 7 with every later sector and every
  // item beyond the mapping.
  Model m(4, 2048, 64, 2);
  EXPECT_EQ(m->GetEPPMapSectorIndex(62, 67), (QList<int>{62, 63, 64, 65, 66}));
  EXPECT_EQ(m->GetEPPMapSectorIndex(17, 67), (QList<int>{16, 17}));
  m->SetEPP(17, true);
  m->SetEPP(63, true);
  EXPECT_EQ(m->GetEPPMapSectorIndex(66), (QList<int>{16, 17, 62, 63, 64, 65}));
  Model s13(13, 4096, 1024, 1);
  EXPECT_EQ(s13->GetEPPMapSectorIndex(40, 1024).size(), 32);
  EXPECT_EQ(s13->GetEPPMapSectorIndex(40, 1024).first(), 32);
}

TEST(UserSystemDataEPP, UsedBitsAndWholeChipStatus) {
  const struct {
    int series, perBit, sectors;
    std::vector<int> used;  // low bits used per EPP byte
  } cases[] = {{4, 2, 128, {8, 8, 8, 8}}, {4, 2, 20, {8, 2, 0, 0}}, {4, 0, 0, {0, 0, 0, 0}},
               {13, 1, 1024, {8, 8, 8, 8, 8, 8, 8, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}};
  for (auto& c : cases) {
    Model m(c.series, c.series == 13 ? 4096 : 2048, c.sectors, c.perBit);
    for (int k = 0; k <= m->m_iEppLen; ++k) {
      int bits = -1;
      const int want = k < m->m_iEppLen ? c.used[size_t(k)] : 0;
      EXPECT_EQ(m->IsEPPnUsed(k, &bits), want > 0) << k;
      EXPECT_EQ(bits, want) << k;
    }
  }
  Model m(4, 2048, 20, 2);
  EXPECT_FALSE(m->GetAllSectorsISEPPStatus(false));
  m->SetEPP(true, false);
  EXPECT_TRUE(m->GetAllSectorsISEPPStatus(false));
  EXPECT_EQ(m->EPP[1], 0xFC);
  EXPECT_FALSE(m->GetAllSectorsISEPPStatus(true));
  m->SetEPP(true, true);
  EXPECT_TRUE(m->GetAllSectorsISEPPStatus(true));
  m->SetEPP(false, true);
  EXPECT_EQ(m->EPP[3], 0xFF);
}

TEST(UserSystemDataEPP, BitsToProtectForASectorList) {
  const struct {
    int series, perBit, sectorSize;
    QList<int> sectors, bits;
  } cases[] = {
      {4, 2, 2048, {0, 1, 2, 5, 61}, {0, 1, 2, 30}},
      {4, 2, 2048, {60, 62, 70, 127}, {30, 31}},  // from 31 x n up: bit 31, not the end of the scan
      {4, 2, 2048, {3, 0x8000, 0x8001}, {1, 31}},
      {9, 4, 2048, {0, 3, 4, 200}, {0, 1, 31}},
      {13, 1, 4096, {0, 31, 32, 63, 64}, {0, 31, 32, 33}},
      {4, 0, 0, {1, 2}, {1, 2}},  // no sector size, 0 sectors per bit: read as 1, no division by 0
  };
  for (auto& c : cases) {
    Model m(c.series, unsigned(c.sectorSize), 1024, c.perBit);
    EXPECT_EQ(m->FilterEPPSectorIndexForEraseProgramProtect(c.sectors), c.bits) << c.series;
  }
}

}  // namespace
