// The chip model on its own: protection-bit mapping, external bank, sLib,
// option-byte decoding, the CRC and the state file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "Catalogue.h"
#include "ChipModel.h"
#include "SimProcess.h"

using namespace kv32sim;

namespace {

const uint8_t kUid[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

ChipProfile profileOf(const char* device, uint16_t bid = 0x4602) {
  ChipProfile p;
  std::string error;
  EXPECT_TRUE(findChip(kvtest::mapDir(), device, bid, p, error)) << error;
  return p;
}

bool erasable(ChipModel& chip, uint16_t page) { return chip.eraseSectors({page}); }

TEST(ChipCatalogue, FindsChipsByNameSizeAndIdentifier) {
  struct Case { const char* spec; uint32_t pid; uint32_t kb; uint32_t sectors; uint32_t options; };
  const Case cases[] = {
      {"KV32S04", 0x70040241, 256, 128, 24},      {"kv32s01_128k", 0x700101C1, 128, 128, 24},
      {"70010101", 0x70010101, 64, 64, 24},       {"KV32S13", 0x700D0401, 4096, 1024, 2048},
      {"KV32S09_1024K", 0x70090341, 1024, 512, 256},
  };
  for (const auto& c : cases) {
    const ChipProfile p = profileOf(c.spec);
    EXPECT_EQ(p.pid, c.pid) << c.spec;
    EXPECT_EQ(p.flashKB, c.kb) << c.spec;
    EXPECT_EQ(p.sectorCount(), c.sectors) << c.spec;
    EXPECT_EQ(p.optionValues, c.options) << c.spec;
  }
  // The option block of series 5 follows the BID.
  EXPECT_EQ(profileOf("KV32S05", 0x4601).optionValues, 16u);
  EXPECT_EQ(profileOf("KV32S05", 0x4602).optionValues, 512u);
  ChipProfile p;
  std::string error;
  EXPECT_FALSE(findChip(kvtest::mapDir(), "KV32S99", 0x4602, p, error));
  EXPECT_FALSE(findChip(kvtest::mapDir(), "KV32S04_512K", 0x4602, p, error));
}

TEST(ChipModelTest, ProtectionBitsCoverTheirSectors) {
  // n = 2: bit 1 is sectors 2-3; bit 31 is every sector from 62 and the bank.
  ChipModel s04(profileOf("KV32S04"), kUid);
  ASSERT_TRUE(s04.enableBank3(0x90, 16384, 0));
  ASSERT_TRUE(s04.eraseProgramProtect({1, 31}));
  s04.reset();
  struct Case { uint16_t page; bool ok; };
  for (const Case c : {Case{1, true}, {2, false}, {3, false}, {4, true}, {61, true}, {62, false}, {127, false},
                       {0x8000, false}})
    EXPECT_EQ(erasable(s04, c.page), c.ok) << "page " << c.page;
  // 4 KB sectors: bits 0-31 one sector each, bit 32 the next 128 KB.
  ChipModel s13(profileOf("KV32S13"), kUid);
  ASSERT_TRUE(s13.eraseProgramProtect({32, 40}));
  EXPECT_FALSE(s13.eraseProgramProtect({160}));  // no such bit
  s13.reset();
  for (const Case c : {Case{31, true}, {32, false}, {63, false}, {64, true}, {32 + 8 * 32, false}, {32 + 9 * 32, true}})
    EXPECT_EQ(erasable(s13, c.page), c.ok) << "page " << c.page;
  // Block erase needs the block address aligned and every sector free.
  EXPECT_FALSE(s13.eraseCode(0xFFFB, 0x08020000));
  EXPECT_TRUE(s13.eraseCode(0xFFFB, 0x08000000));
  EXPECT_FALSE(s13.eraseCode(0xFFFB, 0x08001000));
}

TEST(ChipModelTest, ProtectionBitsAreNotInForceBeforeTheReset) {
  ChipModel chip(profileOf("KV32S04"), kUid);
  ASSERT_TRUE(chip.eraseProgramProtect({0}));
  EXPECT_TRUE(chip.optionBytesChanged());
  EXPECT_TRUE(erasable(chip, 0));
  chip.reset();
  EXPECT_FALSE(erasable(chip, 0));
  chip.eraseProgramTempUnprotect();
  EXPECT_TRUE(erasable(chip, 0));
  chip.reset();
  EXPECT_FALSE(erasable(chip, 0));
}

TEST(ChipModelTest, AccessLevelFromTheOptionPair) {
  struct Case { uint8_t value, complement; int level; };
  const Case cases[] = {{0xA5, 0x5A, 0}, {0xFF, 0x00, 1}, {0xCC, 0x33, 2}, {0xA5, 0x00, 1}, {0xFF, 0xFF, 1}};
  for (const auto& c : cases) {
    ChipModel chip(profileOf("KV32S04"), kUid);
    const uint8_t pair[2] = {c.value, c.complement};
    ASSERT_TRUE(chip.write(0x1FFFF800, pair, 2));
    chip.reset();
    EXPECT_EQ(chip.accessLevel(), c.level) << std::hex << int(c.value) << "/" << int(c.complement);
  }
}

TEST(ChipModelTest, ExternalBankOnlyWhereTheSiliconHasOne) {
  ChipModel s04(profileOf("KV32S04"), kUid);
  EXPECT_FALSE(s04.enableBank3(0x92, 4096, 0));          // unknown flash type
  EXPECT_FALSE(s04.enableBank3(0x90, 1000, 0));          // not whole sectors
  EXPECT_FALSE(s04.enableBank3(0x90, 32u << 20, 0));     // above 16 MB
  const uint8_t d[4] = {1, 2, 3, 4};
  EXPECT_FALSE(s04.write(0x08400000, d, 4));
  ASSERT_TRUE(s04.enableBank3(0x91, 8192, 0));
  EXPECT_TRUE(s04.write(0x08401000, d, 4));
  EXPECT_FALSE(s04.write(0x08401000, d + 1, 3));
  EXPECT_TRUE(s04.eraseSectors({0x8001}));
  EXPECT_FALSE(s04.eraseSectors({0x8002}));              // past the bank
  EXPECT_TRUE(s04.write(0x08401000, d + 1, 3));
  ChipModel s09(profileOf("KV32S09"), kUid);
  EXPECT_FALSE(s09.enableBank3(0x90, 4096, 0));
}

TEST(ChipModelTest, SlibStatusesAndWhatItShields) {
  ChipModel chip(profileOf("KV32S04"), kUid);
  struct Case { uint32_t pw; uint16_t start, data, end; uint8_t status; };
  const Case refused[] = {
      {1, 128, 128, 128, 2}, {1, 10, 10, 9, 4}, {1, 10, 10, 200, 4}, {1, 10, 9, 12, 3}, {1, 10, 14, 12, 3},
      {0, 10, 11, 12, 5},    {0xFFFFFFFF, 10, 11, 12, 5},
  };
  for (const auto& c : refused) EXPECT_EQ(chip.enableSlib(c.pw, c.start, c.data, c.end), c.status);
  const uint8_t d[4] = {0, 0, 0, 0};
  ASSERT_TRUE(chip.write(0x08000000 + 11 * 2048, d, 4));
  ASSERT_EQ(chip.enableSlib(0x12345678, 10, 11, 12), 0);
  EXPECT_EQ(chip.enableSlib(0x12345678, 10, 11, 12), 1);
  uint8_t out[4];
  EXPECT_FALSE(chip.read(0x08000000 + 10 * 2048, 4, out));   // code
  EXPECT_TRUE(chip.read(0x08000000 + 11 * 2048, 4, out));    // data
  EXPECT_FALSE(chip.eraseSectors({12}));
  EXPECT_TRUE(chip.eraseCode(0xFFFE, 0));                     // skips the sLib sectors
  EXPECT_TRUE(chip.read(0x08000000 + 11 * 2048, 4, out));
  EXPECT_EQ(out[0], 0x00);
  const auto st = chip.slibStatus();
  ASSERT_EQ(st.size(), 12u);
  EXPECT_EQ(st[3], 0x08);
  const uint32_t sectors = uint32_t(st[4]) << 24 | uint32_t(st[5]) << 16 | uint32_t(st[6]) << 8 | st[7];
  EXPECT_EQ(sectors & 0x7FF, 10u);
  EXPECT_EQ((sectors >> 11) & 0x7FF, 11u);
  EXPECT_EQ(sectors >> 22, 12u);
  EXPECT_EQ(chip.disableSlib(0x1234), 1);
  EXPECT_EQ(chip.disableSlib(0x12345678), 0);
  EXPECT_TRUE(chip.read(0x08000000 + 11 * 2048, 4, out));
  EXPECT_EQ(out[0], 0xFF) << "disabling sLib erases its sectors";
}

TEST(ChipModelTest, PaddedWriteOfTheLastLockByte) {
  // A one-byte write goes out as two; the second byte lies past the lock
  // area and keeps its value.
  ChipModel chip(profileOf("KV32S21"), kUid);
  uint8_t next = 0;
  ASSERT_TRUE(chip.read(0x1FFFF580, 1, &next));
  const uint8_t changed[2] = {0x00, static_cast<uint8_t>(next ^ 1)}, kept[2] = {0x00, next};
  EXPECT_FALSE(chip.write(0x1FFFF57F, changed, 2));
  uint8_t lock = 0;
  ASSERT_TRUE(chip.read(0x1FFFF57F, 1, &lock));
  EXPECT_EQ(lock, 0xFF) << "a refused write changed a lock byte";
  EXPECT_TRUE(chip.write(0x1FFFF57F, kept, 2));
  const uint8_t data[32] = {1};
  EXPECT_FALSE(chip.write(0x1FFFE400 + 127 * 32, data, 32));  // its block is locked now
  EXPECT_TRUE(chip.write(0x1FFFE400 + 126 * 32, data, 32));
}

TEST(ChipModelTest, CrcMatchesAByteWiseReference) {
  // Byte-wise CRC-32 with the same polynomial; its check value for
  // "123456789" is 0376E6E7.
  auto bytewise = [](const std::vector<uint8_t>& d) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t b : d) {
      crc ^= uint32_t(b) << 24;
      for (int i = 0; i < 8; ++i) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
  };
  const std::string check = "123456789";
  ASSERT_EQ(bytewise(std::vector<uint8_t>(check.begin(), check.end())), 0x0376E6E7u);
  // Words go least significant byte first into a most-significant-first CRC:
  // the same as the byte-wise CRC over each word's bytes reversed.
  std::vector<uint8_t> data(64), swapped(64);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 37 + 5);
  for (size_t i = 0; i < data.size(); ++i) swapped[i] = data[(i & ~size_t(3)) + 3 - (i & 3)];
  EXPECT_EQ(ChipModel::crc32Words(data.data(), data.size()), bytewise(swapped));
}

TEST(ChipStateFile, RoundTripAndRefusals) {
  const ChipProfile p = profileOf("KV32S04");
  const std::string path = "/tmp/kv32sim_model_" + std::to_string(getpid());
  ChipModel a(p, kUid);
  const uint8_t d[4] = {9, 8, 7, 6};
  ASSERT_TRUE(a.write(0x08000100, d, 4));
  ASSERT_TRUE(a.enableBank3(0x90, 4096, 0x100));
  ASSERT_EQ(a.enableSlib(77, 100, 101, 102), 0);
  std::string error;
  ASSERT_TRUE(saveState(a.memory(), p, path, error)) << error;
  ChipModel b(p, kUid);
  ASSERT_TRUE(loadState(b.memory(), p, path, error)) << error;
  EXPECT_EQ(b.memory().flash, a.memory().flash);
  EXPECT_TRUE(b.memory().bank3Enabled);
  EXPECT_EQ(b.memory().bank3.size(), 4096u);
  EXPECT_EQ(b.memory().slibPassword, 77u);
  // Another chip's state, and a truncated file, are refused untouched.
  ChipModel c(profileOf("KV32S21"), kUid);
  EXPECT_FALSE(loadState(c.memory(), c.profile(), path, error));
  std::ifstream in(path, std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << all.substr(0, all.size() / 2);
  ChipModel e(p, kUid);
  EXPECT_FALSE(loadState(e.memory(), p, path, error));
  EXPECT_EQ(e.memory().flash[0x100], 0xFF);
  std::remove(path.c_str());
}

}  // namespace
