// Catalogue lookup, memory mapping and the shipped catalogue.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "TempMapDir.h"
#include "device/DeviceManager.h"
#include "device/KV32F4Device.h"
#include "device/MapCatalogue.h"
#include "device/Mapping.h"

namespace {

TEST(Catalogue, FirstFileByNameWinsAndMatchingIsCaseSensitiveSubstring) {
  TempMapDir dir;
  // Both claim 70040241; "A_family" sorts first. The PID list is split by
  // the INI reader at its commas and must still match every member.
  dir.write("Map/B_family.KVmap", MapText("70040241", "04", "Bee", 2, 0x800, 128));
  dir.write("Map/A_family.KVmap", MapText("700401C1,70040241,700A0101", "04,0A", "Ay", 2, 0x800, 128));
  dir.write("Map/Ay_256K.KVmap", MapText("", "", "Ay", 2, 0x800, 128));
  dir.write("Map/notes.txt", MapText("7777AAAA", "04", "Txt", 2, 0x800, 128));

  struct Case {
    const char* pid;
    const char* serial;
    const char* name;  // null: not recognised
  } cases[] = {
      {"70040241", "04", "Ay"},    {"700A0101", "0A", "Ay"},  {"700401C1", "04", "Ay"},
      {"70040241", "05", nullptr}, {"700a0101", "0A", nullptr},  // lower case does not match
      {"7777AAAA", "04", nullptr},                                  // only *.KVmap files count
      {"", "04", nullptr},         {"70040241", "", nullptr},
  };
  CDeviceManager manager;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pid) + "/" + c.serial);
    CDevice* d = manager.GetDevice(c.pid, c.serial, 256);
    if (!c.name) {
      EXPECT_EQ(d, nullptr);
      EXPECT_EQ(manager.GetFlashSizeAddress(c.pid, c.serial, 256), 0u);
      continue;
    }
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->m_StrName, c.name);
    EXPECT_EQ(d->m_StrTarget, "Ay_256K");
    EXPECT_EQ(d->m_IFlashSize, 256);
    EXPECT_EQ(d->m_ISectorSize, 0x800u);
    EXPECT_EQ(d->m_StrBID, "NA");
    EXPECT_EQ(manager.GetFlashSizeAddress(c.pid, c.serial, 256), 0x1FFFF7E0u);
  }
}

TEST(Catalogue, SameChipIsCachedOtherFlashSizeUsesItsOwnSectorFile) {
  TempMapDir dir;
  dir.write("Map/S01.KVmap", MapText("70010101,700101C1", "01", "KV32S01", 2, 0x400, 64));
  dir.write("Map/KV32S01_128K.KVmap", MapText("", "", "KV32S01", 2, 0x400, 128));
  CDeviceManager manager;
  CDevice* small = manager.GetDevice("70010101", "01", 64);
  CDevice* again = manager.GetDevice("70010101", "01", 64);
  CDevice* big = manager.GetDevice("700101C1", "01", 128);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(small, again);
  EXPECT_NE(small, big);
  EXPECT_EQ(big->m_CMapping->GetSectorNums(), 128);
  // No KV32S01_64K.KVmap: the chip is known but has no sectors.
  EXPECT_EQ(small->m_CMapping->GetSectorNums(), -1);
  EXPECT_EQ(small->m_CMapping->GetPacketSize(), 0);
  EXPECT_EQ(small->m_CMapping->GetIpMapping(), nullptr);
  EXPECT_EQ(small->m_CMapping->GetSectorIndex(0x08000000), -1);
  EXPECT_EQ(small->m_CMapping->GetSectorIntPtr(0), nullptr);
}

TEST(Catalogue, SeriesDecidesOptionByteAddressAndBlockSize) {
  TempMapDir dir;
  dir.write("Map/S13.KVmap", MapText("700D0401", "0D", "KV32S13", 1, 0x1000, 1024));
  dir.write("Map/S04.KVmap", MapText("70040241", "04", "KV32S04", 0, 0x800, 128));
  CDeviceManager manager;
  CDevice* s13 = manager.GetDevice("700D0401", "0D", 4096);
  CDevice* s04 = manager.GetDevice("70040241", "04", 256);
  ASSERT_TRUE(s13 && s04);
  EXPECT_EQ(s13->m_UiUserSystemDataAddress, 0x1FFFC000u);
  EXPECT_EQ(s13->m_BlockSize, 0x10000u);
  EXPECT_EQ(s04->m_UiUserSystemDataAddress, 0x1FFFF800u);
  EXPECT_EQ(s04->m_BlockSize, 0u);
  EXPECT_EQ(s04->m_UiUserSystemDataLen, 4096u);
  EXPECT_EQ(s04->m_UiFlashSizeAdd, 0x1FFFF7E0u);
  // SectorsPerSector 0 would divide by zero later: it reads as 1.
  EXPECT_EQ(s04->m_BSectorsPerBit, 1);
}

TEST(Mapping, SectorRunsIndexAndExactStartLookup) {
  TempMapDir dir;
  dir.write("Map/Mixed_1024K.KVmap",
            "[Product]\nName=Mixed\nPacketSize=250\n"
            "[Sector0]\nAddress=0x08000000\nSize=0x4000\nCount=4\n"
            "[Sector1]\nSize=0x10000\nCount=1\n"
            "[Sector2]\nSize=20000\nCount=7\n");
  CMapping mapping("Mixed_1024K");
  ASSERT_EQ(mapping.GetSectorNums(), 12);
  EXPECT_EQ(mapping.GetPacketSize(), 248);  // whole words only
  struct {
    unsigned address;
    int index;
  } cases[] = {{0x08000000, 0},  {0x0800C000, 3},  {0x08010000, 4}, {0x08020000, 5},
               {0x08020001, -1}, {0x080E0000, 11}, {0x08100000, -1}, {0, -1}};
  for (auto c : cases) EXPECT_EQ(mapping.GetSectorIndex(c.address), c.index) << std::hex << c.address;
  const MAPPINGSECTOR* last = mapping.GetSectorIntPtr(11);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->dwSectorSize, 0x20000u);
  EXPECT_EQ(last->dwSectorIndex, 11u);
  EXPECT_EQ(mapping.GetSectorIntPtr(12), nullptr);
  EXPECT_EQ(mapping.GetSectorIntPtr(-1), nullptr);
  ASSERT_NE(mapping.GetIpMapping(), nullptr);
  EXPECT_EQ(mapping.GetIpMapping()->NbSectors, 12u);
}

TEST(Mapping, BrokenSectorFilesLeaveAnEmptyMapping) {
  const char* head = "[Product]\nName=X\nPacketSize=252\n";
  const std::string broken[] = {
      "",
      "[Product]\nName=X\n[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=8\n",  // no packet size
      std::string("[Product]\nName=X\nPacketSize=0\n[Sector0]\nAddress=0x08000000\nSize=0x800\n"),
      std::string(head) + "[Sector0]\nAddress=0x08000000\nSize=0\nCount=8\n",
      std::string(head) + "[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=0\n",
      std::string(head) + "[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=99999999999999999999\n",
      std::string(head) + "[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=4294967297\n",
      std::string(head) + "[Sector0]\nAddress=0xFFFFF000\nSize=0x800\nCount=4\n",  // past 4 GB
      std::string(head) + "[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=4\n[Sector1]\nAddress=0x08000000\nSize=0x800\n",
      std::string(head) + "[Sector0]\nAddress=0x08000000\nSize=0x1000001\n",
      std::string(head) + "[Sector0]\nAddress=0x0800G000\nSize=0x800\n",
      std::string(head) + "[Sector1]\nAddress=0x08000000\nSize=0x800\n",  // no Sector0
      std::string(head) + "garbage line\n[Sector0]\nAddress=0x08000000\nSize=0x800\n",
      std::string(head) + "[Sector0]\nSize=0x800\nCount=4\n",  // first run needs an address
  };
  for (const std::string& text : broken) {
    SCOPED_TRACE(text);
    TempMapDir dir;
    dir.write("Map/X_64K.KVmap", text);
    CMapping mapping("X_64K");
    EXPECT_EQ(mapping.GetSectorNums(), -1);
    EXPECT_EQ(mapping.GetPacketSize(), 0);
    EXPECT_EQ(mapping.GetIpMapping(), nullptr);
  }
  // A folder where the file should be.
  TempMapDir dir;
  ASSERT_EQ(mkdir((dir.path() + "/Map").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir.path() + "/Map/X_64K.KVmap").c_str(), 0755), 0);
  CMapping mapping("X_64K");
  EXPECT_EQ(mapping.GetSectorNums(), -1);
}

TEST(Catalogue, InstalledCatalogueIsUsedWithoutLocalMapFolder) {
  TempMapDir dir;
  QString installed = QDir::cleanPath(QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath() +
                                      QStringLiteral("/../share/tarnflash/Map"));
  ASSERT_TRUE(QDir().mkpath(installed));
  EXPECT_EQ(KVmapDirectory(), installed + QLatin1Char('/'));
  dir.write("Map/any.KVmap", "");
  EXPECT_EQ(KVmapDirectory(), QStringLiteral("./Map/"));
}

// The catalogue shipped in Map/: every family is recognised with its sector
// table, from an installed-style folder.
TEST(ShippedCatalogue, EveryFamilyResolvesToItsSectorTable) {
  if (!QFileInfo(QStringLiteral(TARNFLASH_SOURCE_MAP)).isDir()) GTEST_SKIP() << "no Map/ in the source tree";
  TempMapDir dir;
  ASSERT_EQ(symlink(TARNFLASH_SOURCE_MAP, (dir.path() + "/Map").c_str()), 0);
  struct Family {
    const char* pid;
    const char* serial;
    int flashKB;
    const char* name;
    unsigned sectorSize;
    int perBit;
  } families[] = {
      {"70010101", "01", 64, "KV32S01", 1024, 2},   {"700101C1", "01", 128, "KV32S01", 1024, 2},
      {"70040241", "04", 256, "KV32S04", 2048, 2},  {"700501C1", "05", 128, "KV32S05", 2048, 2},
      {"70090341", "09", 1024, "KV32S09", 2048, 4}, {"700D0401", "0D", 4096, "KV32S13", 4096, 1},
      {"700F0341", "0F", 1024, "KV32S15", 2048, 4}, {"70150241", "15", 256, "KV32S21", 2048, 2},
      {"701902C1", "19", 512, "KV32S25", 2048, 2},  {"701F0241", "1F", 256, "KV32S31", 2048, 2},
  };
  CDeviceManager manager;
  for (const Family& f : families) {
    SCOPED_TRACE(f.pid);
    CDevice* d = manager.GetDevice(f.pid, f.serial, f.flashKB);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->m_StrName, f.name);
    EXPECT_EQ(d->m_ISectorSize, f.sectorSize);
    EXPECT_EQ(d->m_BSectorsPerBit, f.perBit);
    ASSERT_NE(d->m_CMapping, nullptr);
    EXPECT_EQ(d->m_CMapping->GetSectorNums(), int(f.flashKB * 1024u / f.sectorSize));
    EXPECT_EQ(d->m_CMapping->GetPacketSize(), 252);
    const MAPPINGSECTOR* last = d->m_CMapping->GetSectorIntPtr(d->m_CMapping->GetSectorNums() - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->dwStartAddress + last->dwSectorSize, 0x08000000u + f.flashKB * 1024u);
  }
}

}  // namespace
