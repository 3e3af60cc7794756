// The image-file library: file kinds, round trips, filtering, created
// images and the device-map reader.
#include <gtest/gtest.h>

#include "ImageHelpers.h"
#include "TempMapDir.h"

using namespace libfiles;

namespace {

// Writing then reading gives the same elements, for every writer; sparse
// data stays in separate elements.
TEST(RoundTrip, EveryFormatKeepsElementsExactly) {
  TempMapDir dir;
  const std::vector<std::vector<Elem>> images = {
      {{0x08000000, Pattern(1000, 1)}},
      {{0x08000000, Pattern(17, 2)}, {0x08000800, Pattern(2048, 3)}, {0x08400000, Pattern(300, 4)}},
      {{0x0800FFF0, Pattern(64, 5)}},  // crosses a 64 KB boundary
      {{0x10, Pattern(5, 6)}},         // small addresses (16-bit S-records)
      {{0x00FFFFF0, Pattern(8, 7)}},   // 24-bit S-records
      {{0xFFFFFFF0, Pattern(16, 8)}},  // up to the very last byte
      {},
  };
  for (const char* name : {"out.hex", "out.srec", "out.s19"}) {
    for (size_t i = 0; i < images.size(); ++i) {
      SCOPED_TRACE(std::string(name) + " image " + std::to_string(i));
      FILES_HIMAGE image = MakeImage(images[i]);
      ASSERT_EQ(FILES_ImageToFile(dir.file(name).c_str(), image), FILES_NOERROR);
      FILES_DestroyImage(&image);
      ASSERT_EQ(image, nullptr);
      ASSERT_EQ(FILES_ImageFromFile(dir.file(name).c_str(), &image, 1), FILES_NOERROR);
      EXPECT_EQ(Elements(image), images[i]);
      FILES_DestroyImage(&image);
    }
  }
}

TEST(RoundTrip, BinaryIsPlacedAtFlashBaseAndGapsAreErased) {
  TempMapDir dir;
  FILES_HIMAGE image = MakeImage({{0x08000010, {1, 2}}, {0x08000000, {9}}, {0x08000014, {3}}});
  ASSERT_EQ(FILES_ImageToFile(dir.file("a.bin").c_str(), image), FILES_NOERROR);
  FILES_DestroyImage(&image);
  std::vector<uint8_t> expect(0x15, 0xFF);
  expect[0] = 9, expect[0x10] = 1, expect[0x11] = 2, expect[0x14] = 3;
  const std::string bytes = dir.read("a.bin");
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expect);
  ASSERT_EQ(FILES_ImageFromFile(dir.file("a.bin").c_str(), &image, 1), FILES_NOERROR);
  EXPECT_EQ(Elements(image), (std::vector<Elem>{{0x08000000, expect}}));
  FILES_DestroyImage(&image);
  // A user-system-data binary stays at 0.
  ASSERT_EQ(FILES_ImageFromFile(dir.file("a.bin").c_str(), &image, 0), FILES_NOERROR);
  EXPECT_EQ(Elements(image), (std::vector<Elem>{{0, expect}}));
  FILES_DestroyImage(&image);
  // An empty binary is an image without elements.
  dir.write("empty.bin", "");
  ASSERT_EQ(FILES_ImageFromFile(dir.file("empty.bin").c_str(), &image, 1), FILES_NOERROR);
  EXPECT_TRUE(Elements(image).empty());
  FILES_DestroyImage(&image);
  // Overlapping elements cannot be written as one file.
  image = MakeImage({{0x08000000, {1, 2, 3}}, {0x08000002, {3}}});
  EXPECT_EQ(FILES_ImageToFile(dir.file("o.hex").c_str(), image), FILES_BADPARAMETER);
  EXPECT_EQ(FILES_ImageToFile(dir.file("o.txt").c_str(), image), FILES_BADSUFFIX);
  FILES_DestroyImage(&image);
}

TEST(Filter, SplitsAtSectorsAndOptimiseDropsOnlyBlankPieces) {
  TestMapping map(128, 0x800);
  std::vector<uint8_t> data(0x1800, 0xFF);  // three sectors from 0x08000400
  data[0x100] = 0x00;                       // in the first piece
  data[0x1700] = 0x12;                      // in the last piece
  struct {
    bool optimize;
    std::vector<unsigned long> addresses;
  } cases[] = {{false, {0x08000400, 0x08000800, 0x08001000, 0x08001800}}, {true, {0x08000400, 0x08001800}}};
  for (auto& c : cases) {
    FILES_HIMAGE image = MakeImage({{0x08000400, data}});
    ASSERT_EQ(FILES_FilterImageForOperation(image, &map.mapping, 2, c.optimize), FILES_NOERROR);
    std::vector<Elem> got = Elements(image);
    std::vector<unsigned long> addresses;
    size_t total = 0;
    for (const Elem& e : got) {
      addresses.push_back(e.address);
      total += e.data.size();
      // every piece holds exactly the bytes of the file at its address
      EXPECT_TRUE(std::equal(e.data.begin(), e.data.end(), data.begin() + (e.address - 0x08000400)));
    }
    EXPECT_EQ(addresses, c.addresses);
    if (!c.optimize) {
      EXPECT_EQ(total, data.size());
    }
    FILES_DestroyImage(&image);
  }
  // Only blank data: nothing left to write.
  FILES_HIMAGE image = MakeImage({{0x08000000, std::vector<uint8_t>(4096, 0xFF)}});
  ASSERT_EQ(FILES_FilterImageForOperation(image, &map.mapping, 2, true), FILES_NOERROR);
  EXPECT_TRUE(Elements(image).empty());
  FILES_DestroyImage(&image);
}

TEST(Filter, DataNoWindowTakesFailsAndLeavesTheImage) {
  TestMapping map(128, 0x800);  // 256 KB
  const std::vector<std::vector<Elem>> bad = {
      {{0x07FFFFFF, {1, 2}}},                     // just below the flash
      {{0x0803FFFF, {1, 2}}},                     // runs past the last sector
      {{0x08100000, {1}}},                        // between flash and external bank
      {{0x09400000, {1}}},                        // past the external bank window
      {{0x1FFFF800, {0xA5}}},                     // option bytes are no flash
  };
  for (const auto& elems : bad) {
    FILES_HIMAGE image = MakeImage(elems);
    EXPECT_EQ(FILES_FilterImageForOperation(image, &map.mapping, 2, false), FILES_BADADDRESSRANGE);
    EXPECT_EQ(Elements(image), elems);
    FILES_DestroyImage(&image);
  }
  // The external bank is cut into its 4 KB sectors.
  FILES_HIMAGE image = MakeImage({{0x08400800, Pattern(0x1000, 9)}});
  ASSERT_EQ(FILES_FilterImageForOperation(image, &map.mapping, 2, false), FILES_NOERROR);
  std::vector<Elem> got = Elements(image);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].address, 0x08400800u);
  EXPECT_EQ(got[1].address, 0x08401000u);
  FILES_DestroyImage(&image);
}

TEST(Filter, BinaryLargerThanFlashIsKeptForItsDownloadOffset) {
  TempMapDir dir;
  TestMapping map(8, 0x800);  // 16 KB of flash
  std::vector<uint8_t> data = Pattern(0x5000, 11);
  dir.write("big.bin", std::string(data.begin(), data.end()));
  FILES_HIMAGE image = nullptr;
  ASSERT_EQ(FILES_ImageFromFile(dir.file("big.bin").c_str(), &image, 1), FILES_NOERROR);
  ASSERT_EQ(FILES_FilterImageForOperation(image, &map.mapping, 2, false), FILES_NOERROR);
  std::vector<Elem> got = Elements(image);
  ASSERT_EQ(got.size(), 8u + 1u);  // 8 sectors, then one 4 KB piece
  EXPECT_EQ(got[8].address, 0x08004000u);
  EXPECT_EQ(got[8].data.size(), 0x1000u);
  FILES_DestroyImage(&image);
  // The same data from a HEX file is placed where it says: refused.
  image = MakeImage({{0x08000000, data}});
  EXPECT_EQ(FILES_FilterImageForOperation(image, &map.mapping, 2, false), FILES_BADADDRESSRANGE);
  FILES_DestroyImage(&image);
}

TEST(CreatedImages, OneBlankElementPerSectorThenTheExternalBank) {
  TestMapping map(128, 0x800);
  FILES_HIMAGE image = nullptr;
  ASSERT_EQ(FILES_CreateImageFromMapping(&image, &map.mapping, 8), FILES_NOERROR);
  std::vector<Elem> got = Elements(image);
  ASSERT_EQ(got.size(), 130u);
  EXPECT_EQ(got[5].address, 0x08002800u);
  EXPECT_EQ(got[127].data, std::vector<uint8_t>(0x800, 0xFF));
  EXPECT_EQ(got[128].address, 0x08400000u);
  EXPECT_EQ(got[129].address, 0x08401000u);
  EXPECT_EQ(got[129].data.size(), 4096u);
  FILES_DestroyImage(&image);
  EXPECT_EQ(FILES_CreateImageFromMapping(&image, &map.mapping, -1), FILES_BADPARAMETER);
  EXPECT_EQ(FILES_CreateImageFromMapping(&image, &map.mapping, 16 * 1024 + 4), FILES_BADPARAMETER);
  EXPECT_EQ(image, nullptr);
}

TEST(Elements, InsertReplaceAndBufferBounds) {
  FILES_HIMAGE image = MakeImage({{0x100, {1}}, {0x300, {3}}});
  uint8_t two[] = {2, 2}, one = 0;
  const struct {
    IMAGEELEMENT element;
    unsigned long index;
    bool insert;
    unsigned int code;
  } cases[] = {{{0x200, 2, two}, 1, true, FILES_NOERROR},          {{0x200, 2, two}, 9, true, FILES_BADPARAMETER},
               {{0x200, 2, two}, 3, false, FILES_BADPARAMETER},    {{0xFFFFFFFF, 2, two}, 0, false, FILES_BADADDRESSRANGE},
               {{0x200, 2, nullptr}, 0, false, FILES_BADPARAMETER}};
  for (auto c : cases) EXPECT_EQ(FILES_SetImageElement(image, c.index, c.insert, &c.element), c.code);
  EXPECT_EQ(Elements(image), (std::vector<Elem>{{0x100, {1}}, {0x200, {2, 2}}, {0x300, {3}}}));
  // A buffer smaller than the element is refused, not overrun.
  IMAGEELEMENT small{0, 1, &one};
  EXPECT_EQ(FILES_GetImageElement(image, 1, &small), FILES_BADPARAMETER);
  EXPECT_EQ(FILES_GetImageElement(image, 3, &small), FILES_BADPARAMETER);
  FILES_DestroyImage(&image);
}

TEST(MemoryMapping, TwoCallsYieldCountPacketSizeAndSectors) {
  TempMapDir dir;
  dir.write("m.KVmap",
            "; two runs\n[Product]\nName=Two\nSectorsPerSector=4\nPacketSize=252\n"
            "[Sector0]\nAddress=0x08000000\nSize=0x4000\nCount=4\n[Sector1]\nAddress=08010000\nSize=10000\n");
  short count = 0, packet = 0;
  char name[128];
  unsigned char perBit = 0;
  ASSERT_EQ(FILES_GetMemoryMapping(dir.file("m.KVmap").c_str(), &count, name, &packet, nullptr, &perBit), 0u);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(packet, 252);
  EXPECT_EQ(perBit, 4);
  EXPECT_STREQ(name, "Two");
  std::vector<MAPPINGSECTOR> sectors(5);
  MAPPING m{};
  m.pSectors = sectors.data();
  ASSERT_EQ(FILES_GetMemoryMapping(dir.file("m.KVmap").c_str(), &count, name, &packet, &m, &perBit), 0u);
  EXPECT_EQ(m.NbSectors, 5u);
  EXPECT_EQ(sectors[3].dwStartAddress, 0x0800C000u);
  EXPECT_EQ(sectors[4].dwStartAddress, 0x08010000u);
  EXPECT_EQ(sectors[4].dwSectorSize, 0x10000u);
  EXPECT_EQ(sectors[4].dwSectorIndex, 4u);
  // A mapping with less room than the table is refused.
  count = 4;
  EXPECT_EQ(FILES_GetMemoryMapping(dir.file("m.KVmap").c_str(), &count, name, &packet, &m, &perBit), FILES_BADPARAMETER);
  EXPECT_EQ(FILES_GetMemoryMapping(dir.file("none.KVmap").c_str(), &count, name, &packet, nullptr, &perBit),
            FILES_UNABLETOOPENFILE);
}

TEST(MemoryMapping, PacketSizeIsWholeWordsWithinOnePacket) {
  TempMapDir dir;
  struct {
    const char* value;
    short packet;  // 0: refused
  } cases[] = {{"252", 252}, {"1000", 252}, {"250", 248}, {"3", 4}, {"1", 4}, {"0", 0}, {"-4", 0}, {"", 0}, {"0x10", 0}};
  for (auto c : cases) {
    dir.write("p.KVmap", std::string("[Product]\nPacketSize=") + c.value +
                             "\n[Sector0]\nAddress=0x08000000\nSize=0x800\nCount=2\n");
    short count = 0, packet = 0;
    unsigned int r = FILES_GetMemoryMapping(dir.file("p.KVmap").c_str(), &count, nullptr, &packet, nullptr, nullptr);
    if (c.packet) {
      EXPECT_EQ(r, 0u) << c.value;
      EXPECT_EQ(packet, c.packet) << c.value;
    } else {
      EXPECT_EQ(r, FILES_BADFORMAT) << c.value;
    }
  }
}

}  // namespace
