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
  Model(int series, int bid = 0x4700, unsigned sectorSize = 2048, int sectors = 128, int perBit = 2) {
    device.m_ISectorSize = sectorSize;
    device.m_BSectorsPerBit = static_cast<unsigned char>(perBit);
    usd.reset(new CUserSystemData(series, bid, &device, nullptr, 0));
    usd->SetSectorNum(sectors);
  }
  CUserSystemData* operator->() { return usd.get(); }
};

std::vector<unsigned char> Encode(CUserSystemData& u) {
  unsigned char* block = nullptr;
  int L = u.Get(block);
  std::vector<unsigned char> v(block, block + L);
  delete[] block;
  return v;
}

TEST(UserSystemDataLayout, LengthsBySeriesBidAndSectorSize) {
  struct {
    int series, bid, sectorSize, L, D, epp;
  } cases[] = {
      {5, 0x4601, 2048, 16, 10, 4},    {5, 0x4602, 2048, 512, 506, 4}, {17, 0x4700, 1024, 512, 506, 4},
      {13, 0, 4096, 2048, 2012, 20},   {14, 0, 2048, 256, 220, 20},    {9, 0, 2048, 256, 250, 4},
      {29, 0, 2048, 256, 250, 4},      {21, 0, 2048, 256, 220, 4},     {30, 0, 2048, 256, 220, 4},
      {31, 0, 2048, 256, 249, 4},      {4, 0, 2048, 24, 8, 4},         {24, 0, 1024, 24, 8, 4},
      {255, 0, 2048, 24, 8, 4},        {0, 0, 0, 24, 8, 4},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.series);
    EXPECT_EQ(CUserSystemData::GetUserSystemDataLength(c.series, c.bid, c.sectorSize), c.L);
    EXPECT_EQ(CUserSystemData::GetUserSystemDataDATALength(c.series, c.bid, c.sectorSize), c.D);
    EXPECT_EQ(CUserSystemData::GetUserSystemDataEPPLength(c.series), c.epp);
    Model m(c.series, c.bid, unsigned(c.sectorSize));
    EXPECT_EQ(m->m_nUserSystemDataLen, c.L);
    EXPECT_EQ(int(Encode(*m.usd).size()), c.L);
  }
}

// Decoding then encoding keeps every value the layout carries and gives
// 0xFF for every reserved byte; spot checks place the fields.
TEST(UserSystemDataLayout, EveryLayoutRoundTripsAndPlacesItsFields) {
  for (int series : kAllSeries) {
    for (unsigned sectorSize : {2048u, 4096u}) {
      SCOPED_TRACE(std::to_string(series) + "/" + std::to_string(sectorSize));
      Model m(series, 0x4700, sectorSize);
      const int L = m->m_nUserSystemDataLen;
      std::vector<unsigned char> in(static_cast<size_t>(L), 0);
      for (int i = 0; i < L; ++i) in[size_t(i)] = static_cast<unsigned char>(i * 7 + 3);
      m->Set(in.data(), unsigned(L));
      std::vector<unsigned char> out = Encode(*m.usd);
      int carried = 0;
      for (int i = 0; i < L; ++i) {
        if (out[size_t(i)] == in[size_t(i)]) {
          ++carried;
        } else {
          EXPECT_EQ(out[size_t(i)], 0xFF) << "index " << i;
        }
      }
      // Values carried = FAP, SSB (+SSB1) + DATA + EPP + extras.
      EXPECT_GE(carried, 2 + m->DataLength() + 4);
      EXPECT_EQ(m->FAP, in[0]);
      EXPECT_EQ(m->SSB, in[1]);
      EXPECT_EQ(m->EPP[0], in[4]);
      EXPECT_EQ(m->EPP[3], in[7]);
      // A second decode of what we encoded changes nothing.
      m->Set(out.data(), unsigned(L));
      EXPECT_EQ(Encode(*m.usd), out);
    }
  }
  struct {
    int series;
    int index;
    const char* field;
  } places[] = {{4, 8, "EOPB0"},     {4, 9, "RES1"},       {4, 10, "DATA2"},     {4, 16, "KEY0"},   {4, 23, "KEY7"},
                {9, 8, "DATA2"},     {9, 255, "DATA249"},  {21, 26, "KEY0"},     {21, 38, "DATA2"}, {21, 8, "-"},
                {21, 30, "-"},       {13, 8, "EOPB0"},     {13, 10, "EPP4"},     {13, 25, "EPP19"}, {13, 30, "KEY4"},
                {13, 34, "-"},       {13, 38, "DATA2"},    {31, 2, "SSB1"},      {31, 3, "DATA0"},  {31, 8, "DATA1"}};
  for (auto p : places) {
    SCOPED_TRACE(std::to_string(p.series) + " index " + std::to_string(p.index));
    Model m(p.series, 0x4700, 2048);
    std::vector<unsigned char> in(size_t(m->m_nUserSystemDataLen), 0x11);
    in[size_t(p.index)] = 0x5C;
    m->Set(in.data(), unsigned(in.size()));
    const std::string f = p.field;
    unsigned char got = f == "EOPB0" ? m->EOPB0 : f == "RES1" ? m->RES1 : f == "SSB1" ? m->SSB1
                      : f.rfind("KEY", 0) == 0 ? m->BANK3KEY[f[3] - '0']
                      : f.rfind("EPP", 0) == 0 ? m->EPP[std::stoi(f.substr(3))]
                      : f.rfind("DATA", 0) == 0 ? m->DATA[std::stoi(f.substr(4))] : 0;
    if (f == "-") {
      EXPECT_EQ(Encode(*m.usd)[size_t(p.index)], 0xFF);  // reserved
    } else {
      EXPECT_EQ(got, 0x5C);
    }
  }
}

TEST(UserSystemDataLayout, ShortBlocksAreIgnored) {
  Model m(9);
  std::vector<unsigned char> block(255, 0x00);
  m->Set(block.data(), 255);
  m->Set(nullptr, 256);
  EXPECT_EQ(m->FAP, 0xFF);
  m->SetData(block.data(), 249);  // DATA is 250 bytes
  EXPECT_EQ(m->DATA[0], 0xFF);
  m->SetData(block.data(), 250);
  EXPECT_EQ(m->DATA[249], 0x00);
}

TEST(UserSystemDataElement, ValueComplementPairsOverTheWholeImage) {
  for (int series : kAllSeries) {
    SCOPED_TRACE(series);
    Model m(series, 0x4700, 4096);
    m->SetFAP(0xA5);
    m->SetEPP(3, true);
    unsigned char* image = nullptr;
    ASSERT_EQ(m->GetElementData(image), 4096);
    std::unique_ptr<unsigned char[]> hold(image);
    EXPECT_EQ(image[0], 0xA5);
    EXPECT_EQ(image[1], 0x5A);
    for (int i = 0; i < 4096; i += 2) ASSERT_EQ(image[i + 1], static_cast<unsigned char>(~image[i])) << i;
    for (int i = 2 * m->m_nUserSystemDataLen; i < 4096; i += 2) ASSERT_EQ(image[i], 0xFF) << i;
    // Read back into a fresh model: same block.
    Model back(series, 0x4700, 4096);
    IMAGEELEMENT e{0, 4096, image};
    EXPECT_TRUE(back->SetElementData(&e));
    EXPECT_EQ(Encode(*back.usd), Encode(*m.usd));
    // An element shorter than two bytes a value is refused and changes nothing.
    Model shortOne(series, 0x4700, 4096);
    IMAGEELEMENT cut{0, unsigned(2 * m->m_nUserSystemDataLen - 1), image};
    EXPECT_FALSE(shortOne->SetElementData(&cut));
    EXPECT_EQ(shortOne->FAP, 0xFF);
  }
}

// Whatever flags are set, decoding the encoded SSB gives them back for
// every flag the series has a bit for.
TEST(UserSystemDataSSB, EncodeDecodeAgreeForEverySeries) {
  for (int series : kAllSeries) {
    const bool watchdog = series == 13 || series == 14 || (series >= 15 && series != 17 && series != 24 && series != 255);
    const bool parity = series == 16 || (series >= 19 && series <= 23) || series == 30;
    for (int flags = 0; flags < 128; ++flags) {
      SCOPED_TRACE(std::to_string(series) + " flags " + std::to_string(flags));
      Model m(series);
      bool f[7];
      for (int b = 0; b < 7; ++b) f[b] = flags & (1 << b);
      m->SetSSB(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
      std::vector<unsigned char> block = Encode(*m.usd);
      Model d(series);
      d->Set(block.data(), unsigned(block.size()));
      ASSERT_EQ(d->SSB, m->SSB);
      EXPECT_EQ(d->m_BnWDT_ATO_EN, f[0]);
      EXPECT_EQ(d->m_BnDEPSLP_RST, f[1]);
      EXPECT_EQ(d->m_BnSTDBY_RST, f[2]);
      EXPECT_EQ(d->m_BBFB2, f[3]);
      EXPECT_EQ(d->m_BnWDT_DEPSLP, watchdog && f[4]);
      EXPECT_EQ(d->m_BnWDT_STDBY, watchdog && f[5]);
      if (parity) {
        EXPECT_EQ(d->m_SRAM_Parity, f[6]);
      }
    }
  }
  struct {
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
  struct {
    int series, perBit, sectors, sector, byte;
    unsigned char value;  // EPP[byte] after protecting the sector
  } cases[] = {
      {4, 2, 128, 17, 1, 0xFE},   {9, 4, 512, 100, 3, 0xFD},  {4, 2, 128, 61, 3, 0xBF},
      {4, 2, 128, 62, 3, 0x7F},   {4, 2, 128, 127, 3, 0x7F},  {4, 1, 256, 30, 3, 0xBF},
      {13, 1, 1024, 31, 3, 0x7F}, {13, 1, 1024, 32, 4, 0xFE}, {13, 1, 1024, 63, 4, 0xFE},
      {13, 1, 1024, 64, 4, 0xFD}, {13, 1, 1024, 288, 5, 0xFE}, {13, 1, 1024, 1023, 7, 0xBF},
  };
  for (auto c : cases) {
    SCOPED_TRACE(std::to_string(c.series) + " sector " + std::to_string(c.sector));
    Model m(c.series, 0, c.series == 13 ? 4096 : 2048, c.sectors, c.perBit);
    m->SetEPP(c.sector, true);
    for (int k = 0; k < m->m_iEppLen; ++k) EXPECT_EQ(m->EPP[k], k == c.byte ? c.value : 0xFF) << "EPP" << k;
    m->SetEPP(c.sector, false);
    EXPECT_EQ(m->EPP[c.byte], 0xFF);
  }
  // Sharing a bit: sectors 62 and 63 share EPP[3] bit 7 with every later
  // sector and every item beyond the mapping.
  Model m(4, 0, 2048, 64, 2);
  EXPECT_EQ(m->GetEPPMapSectorIndex(62, 67), (QList<int>{62, 63, 64, 65, 66}));
  EXPECT_EQ(m->GetEPPMapSectorIndex(17, 67), (QList<int>{16, 17}));
  m->SetEPP(17, true);
  m->SetEPP(63, true);
  EXPECT_EQ(m->GetEPPMapSectorIndex(66), (QList<int>{16, 17, 62, 63, 64, 65}));
  Model s13(13, 0, 4096, 1024, 1);
  EXPECT_EQ(s13->GetEPPMapSectorIndex(40, 1024).size(), 32);
  EXPECT_EQ(s13->GetEPPMapSectorIndex(40, 1024).first(), 32);
  s13->SetEPP(1023, true);
  EXPECT_EQ(s13->GetEPPMapSectorIndex(1024).first(), 992);
}

TEST(UserSystemDataEPP, UsedBitsAndWholeChipStatus) {
  struct {
    int series, perBit, sectors;
    std::vector<int> used;  // low bits used per EPP byte
  } cases[] = {
      {4, 2, 128, {8, 8, 8, 8}},
      {4, 2, 20, {8, 2, 0, 0}},
      {4, 2, 0, {0, 0, 0, 0}},
      {13, 1, 1024, {8, 8, 8, 8, 8, 8, 8, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (auto& c : cases) {
    Model m(c.series, 0, c.series == 13 ? 4096 : 2048, c.sectors, c.perBit);
    for (int k = 0; k < m->m_iEppLen; ++k) {
      int bits = -1;
      EXPECT_EQ(m->IsEPPnUsed(k, &bits), c.used[size_t(k)] > 0) << k;
      EXPECT_EQ(bits, c.used[size_t(k)]) << k;
    }
    EXPECT_FALSE(m->IsEPPnUsed(m->m_iEppLen, nullptr));
  }
  Model m(4, 0, 2048, 20, 2);
  EXPECT_FALSE(m->GetAllSectorsISEPPStatus(false));
  m->SetEPP(true, false);
  EXPECT_TRUE(m->GetAllSectorsISEPPStatus(false));
  EXPECT_EQ(m->EPP[1], 0xFC);
  EXPECT_EQ(m->EPP[3], 0xFF);
  EXPECT_FALSE(m->GetAllSectorsISEPPStatus(true));
  m->SetEPP(true, true);
  EXPECT_TRUE(m->GetAllSectorsISEPPStatus(true));
  m->SetEPP(false, true);
  EXPECT_EQ(m->EPP[0], 0xFF);
  EXPECT_EQ(m->EPP[3], 0xFF);
}

TEST(UserSystemDataEPP, BitsToProtectForASectorList) {
  struct {
    int series, perBit, sectorSize;
    QList<int> sectors, bits;
  } cases[] = {
      {4, 2, 2048, {0, 1, 2, 5, 61}, {0, 1, 2, 30}},
      // Sectors from 31 x n up are bit 31 (they used to end the scan).
      {4, 2, 2048, {60, 62, 70, 127}, {30, 31}},
      {4, 2, 2048, {3, 0x8000, 0x8001}, {1, 31}},
      {9, 4, 2048, {0, 3, 4, 200}, {0, 1, 31}},
      {13, 1, 4096, {0, 31, 32, 63, 64}, {0, 31, 32, 33}},
      {4, 2, 2048, {}, {}},
  };
  for (auto& c : cases) {
    Model m(c.series, 0, unsigned(c.sectorSize), 1024, c.perBit);
    EXPECT_EQ(m->FilterEPPSectorIndexForEraseProgramProtect(c.sectors), c.bits) << c.series;
  }
}

TEST(UserSystemDataModel, AbsurdDeviceValuesNeverDivideByZero) {
  CDevice device;  // no mapping, sector size 0, no sectors per bit
  device.m_BSectorsPerBit = 0;
  for (int series : {4, 13}) {
    CUserSystemData u(series, 0, &device, nullptr, 0);
    EXPECT_EQ(u.m_bSectorsPerBit, 1);
    u.SetSectorNum(10);
    u.SetEPP(5, true);
    EXPECT_FALSE(u.GetEPPMapSectorIndex(10).isEmpty());
    EXPECT_FALSE(u.FilterEPPSectorIndexForEraseProgramProtect({1, 2}).isEmpty());
  }
  CUserSystemData none(21, 0, nullptr, nullptr, 0);
  EXPECT_EQ(none.m_nSectorNums, 0);
}

}  // namespace
