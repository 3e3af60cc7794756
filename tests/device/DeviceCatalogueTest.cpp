// Catalogue lookup, memory mapping and the shipped catalogue.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "TempMapDir.h"
#include "device/DeviceManager.h"
#include "device/MapCatalogue.h"
#include "device/Mapping.h"

namespace {

TEST(Catalogue, FirstFileByNameWinsAndMatchingIsCaseSensitiveSubstring) {
  TempMapDir dir;
  // Both claim 70040241; "A_family" sorts first. Its PID list, separated by
  // any characters, matches every member.
  dir.write("Map/B_family.KVmap", MapText("70040241", "04", "Bee", 2, 0x800, 128));
  dir.write("Map/A_family.KVmap", MapText("700401C1,70040241;700A0101", "04;0A", "Ay", 2, 0x800, 128));
  dir.write("Map/notes.txt", MapText("7777AAAA", "04", "Txt", 2, 0x800, 128));
  dir.write("Map/S13.KVmap", MapText("700D0401", "0D", "KV32S13", 0, 0x1000, 1024));
  // A list longer than the first read's buffer.
  dir.write("Map/Long.KVmap", MapText(std::string(300, '0') + ";7033ABCD", "33", "Long", 2, 0x800, 128));
  const struct {
    const char *pid, *serial, *name;  // name null: not recognised
  } cases[] = {{"70040241", "04", "Ay"},    {"700A0101", "0A", "Ay"},     {"700401C1", "04", "Ay"},
               {"70040241", "05", nullptr}, {"700a0101", "0A", nullptr},  {"7777AAAA", "04", nullptr},
               {"", "04", nullptr},         {"70040241", "", nullptr},    {"700D0401", "0D", "KV32S13"},
               {"7033ABCD", "33", "Long"}};
  CDeviceManager manager;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.pid) + "/" + c.serial);
    CDevice* d = manager.GetDevice(c.pid, c.serial, 256);
    EXPECT_EQ(manager.GetFlashSizeAddress(c.pid, c.serial, 256), c.name ? 0x1FFFF7E0u : 0u);
    if (!c.name) {
      EXPECT_EQ(d, nullptr);
      continue;
    }
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->m_StrName, c.name);
    EXPECT_EQ(d->m_StrTarget, std::string(c.name) + "_256K");
    const bool s13 = d->m_StrSerial == "0D";
    EXPECT_EQ(d->m_ISectorSize, s13 ? 0x1000u : 0x800u);
    EXPECT_EQ(d->m_UiUserSystemDataAddress, s13 ? 0x1FFFC000u : 0x1FFFF800u);
    EXPECT_EQ(d->m_BlockSize, s13 ? 0x10000u : 0u);
    EXPECT_EQ(d->m_BSectorsPerBit, s13 ? 1 : 2);  // 0 in the file reads as 1
  }
}

TEST(Catalogue, SameChipIsCachedOtherFlashSizeUsesItsOwnSectorFile) {
  TempMapDir dir;
  dir.write("Map/S01.KVmap", MapText("70010101,700101C1", "01", "KV32S01", 2, 0x400, 64));
  dir.write("Map/KV32S01_128K.KVmap", MapText("", "", "KV32S01", 2, 0x400, 128));
  CDeviceManager manager;
  CDevice* small = manager.GetDevice("70010101", "01", 64);
  CDevice* big = manager.GetDevice("700101C1", "01", 128);
  ASSERT_TRUE(small && big);
  EXPECT_EQ(manager.GetDevice("70010101", "01", 64), small);
  EXPECT_NE(small, big);
  EXPECT_EQ(big->m_CMapping->GetSectorNums(), 128);
  // No KV32S01_64K.KVmap: the chip is known but has no sectors.
  EXPECT_EQ(small->m_CMapping->GetSectorNums(), -1);
  EXPECT_FALSE(small->m_CMapping->IsBroken());
  EXPECT_FALSE(big->m_CMapping->IsBroken());
  EXPECT_EQ(small->m_CMapping->GetPacketSize(), 0);
  EXPECT_EQ(small->m_CMapping->GetIpMapping(), nullptr);
  EXPECT_EQ(small->m_CMapping->GetSectorIndex(0x08000000), -1);
  // An identity file with nothing but the identifiers: known, safe values.
  dir.write("Map/Z.KVmap", "[Product]\nPID=7022ABCD\nSerial=22\nSectorsPerSector=70000\n");
  CDevice* bare = manager.GetDevice("7022ABCD", "22", 256);
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->m_ISectorSize, 0u);
  EXPECT_EQ(bare->m_BSectorsPerBit, 1);
  EXPECT_EQ(bare->m_CMapping->GetSectorNums(), -1);
}

TEST(Mapping, SectorRunsIndexAndExactStartLookup) {
  TempMapDir dir;
  dir.write("Map/Mixed_1024K.KVmap",
            "[Product]\nName=Mixed\nPacketSize=250\n[Sector0]\nAddress=0x08000000\nSize=0x4000\nCount=4\n"
            "[Sector1]\nSize=0x10000\nCount=1\n[Sector2]\nSize=20000\nCount=7\n");
  CMapping mapping("Mixed_1024K");
  ASSERT_EQ(mapping.GetSectorNums(), 12);
  EXPECT_EQ(mapping.GetPacketSize(), 248);  // whole words only
  const struct {
    unsigned address;
    int index;
  } cases[] = {{0x08000000, 0}, {0x0800C000, 3}, {0x08010000, 4}, {0x08020000, 5}, {0x08020001, -1}, {0x080E0000, 11},
               {0x08100000, -1}};
  for (auto c : cases) EXPECT_EQ(mapping.GetSectorIndex(c.address), c.index) << std::hex << c.address;
  ASSERT_NE(mapping.GetSectorIntPtr(11), nullptr);
  EXPECT_EQ(mapping.GetSectorIntPtr(11)->dwSectorSize, 0x20000u);
  EXPECT_EQ(mapping.GetSectorIntPtr(12), nullptr);
  EXPECT_EQ(mapping.GetSectorIntPtr(-1), nullptr);
}

TEST(Mapping, BrokenSectorFilesLeaveAnEmptyMapping) {
  const std::string head = "[Product]\nName=X\nPacketSize=252\n", s0 = "[Sector0]\nAddress=0x08000000\n";
  const std::string broken[] = {
      "",
      "[Product]\nName=X\n" + s0 + "Size=0x800\n",  // no packet size
      "[Product]\nPacketSize=0\n" + s0 + "Size=0x800\n",
      head + s0 + "Size=0\n",
      head + s0 + "Size=0x1000001\n",
      head + s0 + "Size=0x800\nCount=0\n",
      head + s0 + "Size=0x800\nCount=99999999999999999999\n",
      head + s0 + "Size=0x800\nCount=4294967297\n",
      head + "[Sector0]\nAddress=0xFFFFF000\nSize=0x800\nCount=4\n",  // past 4 GB
      head + s0 + "Size=0x800\nCount=4\n[Sector1]\nAddress=0x08000000\nSize=0x800\n",
      head + "[Sector0]\nAddress=0x0800G000\nSize=0x800\n",
      head + "[Sector1]\nAddress=0x08000000\nSize=0x800\n",  // no Sector0
      head + "garbage line\n" + s0 + "Size=0x800\n",
      head + "[Sector0]\nSize=0x800\n",  // the first run needs an address
      "[Product]\nPacketSize=252 ; bytes per WRITE\n" + s0 + "Size=0x800\n",  // the comment is the value's
  };
  for (const std::string& text : broken) {
    SCOPED_TRACE(text);
    TempMapDir dir;
    dir.write("Map/X_64K.KVmap", text);
    CMapping mapping("X_64K");
    EXPECT_EQ(mapping.GetSectorNums(), -1);
    EXPECT_EQ(mapping.GetPacketSize(), 0);
    EXPECT_EQ(mapping.GetIpMapping(), nullptr);
    EXPECT_TRUE(mapping.IsBroken());
  }
  TempMapDir dir;  // a folder where the file should be
  ASSERT_EQ(mkdir((dir.path() + "/Map").c_str(), 0755) | mkdir((dir.path() + "/Map/X_64K.KVmap").c_str(), 0755), 0);
  EXPECT_EQ(CMapping("X_64K").GetSectorNums(), -1);
}

TEST(Catalogue, InstalledCatalogueIsUsedWithoutLocalMapFolder) {
  TempMapDir dir;
  const QString exeDir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
  const QString installed = QDir::cleanPath(exeDir + QStringLiteral("/../share/tarnflash/Map"));
  ASSERT_TRUE(QDir().mkpath(installed));
  EXPECT_EQ(KVmapDirectory(), installed + QLatin1Char('/'));
  dir.write("Map/any.KVmap", "");
  EXPECT_EQ(KVmapDirectory(), QStringLiteral("./Map/"));
  // A ./Map that others can change is passed over for the installed one.
  const std::string map = dir.path() + "/Map", file = map + "/any.KVmap";
  ASSERT_EQ(chmod(map.c_str(), 0777), 0);
  EXPECT_EQ(KVmapDirectory(), installed + QLatin1Char('/'));
  ASSERT_EQ(chmod(map.c_str(), 0755) | chmod(file.c_str(), 0646), 0);
  EXPECT_EQ(KVmapDirectory(), installed + QLatin1Char('/'));
  ASSERT_EQ(chmod(file.c_str(), 0644), 0);
  EXPECT_EQ(KVmapDirectory(), QStringLiteral("./Map/"));
  // A folder planted by another user in a folder it does not own (as in /tmp).
  if (geteuid() == 0) {
    ASSERT_EQ(chown(map.c_str(), 65534, 65534), 0);
    EXPECT_EQ(KVmapDirectory(), installed + QLatin1Char('/'));
    ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);  // unless it owns the working folder too
    EXPECT_EQ(KVmapDirectory(), QStringLiteral("./Map/"));
  }
}

// Every family of the shipped catalogue resolves to its sector table.
TEST(ShippedCatalogue, EveryFamilyResolvesToItsSectorTable) {
  if (!QFileInfo(QStringLiteral(TARNFLASH_SOURCE_MAP)).isDir()) GTEST_SKIP() << "no Map/ in the source tree";
  TempMapDir dir;
  ASSERT_EQ(symlink(TARNFLASH_SOURCE_MAP, (dir.path() + "/Map").c_str()), 0);
  const struct {
    const char *pid, *serial;
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
  for (const auto& f : families) {
    SCOPED_TRACE(f.pid);
    CDevice* d = manager.GetDevice(f.pid, f.serial, f.flashKB);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->m_StrName, f.name);
    EXPECT_EQ(d->m_ISectorSize, f.sectorSize);
    EXPECT_EQ(d->m_BSectorsPerBit, f.perBit);
    const int sectors = d->m_CMapping->GetSectorNums();
    EXPECT_EQ(sectors, int(f.flashKB * 1024u / f.sectorSize));
    EXPECT_EQ(d->m_CMapping->GetPacketSize(), 252);
    const MAPPINGSECTOR* last = d->m_CMapping->GetSectorIntPtr(sectors - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->dwStartAddress + last->dwSectorSize, 0x08000000u + f.flashKB * 1024u);
  }
}

}  // namespace
