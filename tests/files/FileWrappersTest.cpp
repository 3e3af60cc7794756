// CFiles, CProgramFile and CUserSystemDataFile over the image-file library,
// against chips described by a scratch catalogue.
#include <gtest/gtest.h>

#include "ImageHelpers.h"
#include "TempMapDir.h"
#include "device/DeviceManager.h"
#include "files/ProgramFile.h"
#include "files/UserSystemDataFile.h"
#include "result/Result.h"

namespace {

// A 256 KB chip of 2 KB sectors and a 64 KB chip of 4 KB sectors.
struct Chips {
  TempMapDir dir;
  CDeviceManager manager;
  CDevice *s04 = nullptr, *big = nullptr;
  Chips() {
    dir.write("Map/S04.KVmap", MapText("70040241", "04", "S04", 2, 0x800, 128));
    dir.write("Map/S04_256K.KVmap", MapText("", "", "S04", 2, 0x800, 128));
    dir.write("Map/BIG.KVmap", MapText("7011AAAA", "11", "BIG", 1, 0x1000, 16));
    dir.write("Map/BIG_64K.KVmap", MapText("", "", "BIG", 1, 0x1000, 16));
    s04 = manager.GetDevice("70040241", "04", 256);
    big = manager.GetDevice("7011AAAA", "11", 64);
  }
  void writeImage(const std::string& name, const std::vector<Elem>& elems) {
    FILES_HIMAGE image = MakeImage(elems);
    EXPECT_EQ(FILES_ImageToFile(dir.file(name).c_str(), image), libfiles::FILES_NOERROR);
    FILES_DestroyImage(&image);
  }
};

TEST(FileWrappers, FileTypeFromTheLastPathComponent) {
  const struct {
    const char* name;
    CFiles::Type type;
  } cases[] = {{"FIRMWARE.HEX", CFiles::HEX},     {"image.srec", CFiles::S19},        {"a.s19", CFiles::S19},
               {"data.bin.hex", CFiles::BIN},     {"readme", CFiles::UNKNOWN},        {"", CFiles::UNKNOWN},
               {"build.hex/readme", CFiles::UNKNOWN}, {"/tmp/x.bin/app.S19", CFiles::S19}};
  for (auto c : cases) EXPECT_EQ(CFiles::ParseFileType(c.name), c.type) << c.name;
}

TEST(ProgramFile, OpenWalksSectorPiecesWithProgress) {
  Chips chips;
  chips.writeImage("app.hex", {{0x08000700, Pattern(0x200, 1)}, {0x08003000, Pattern(4, 2)}});
  CProgramFile file;
  EXPECT_EQ(file.SetElement(), CResult::FILES_NOTOPEN);
  EXPECT_EQ(file.Save(chips.dir.file("x.hex")), CResult::FILES_NOTOPEN);
  ASSERT_EQ(file.Open(chips.dir.file("app.hex"), chips.s04), CResult::SUCCESS);
  EXPECT_EQ(file.GetType(), CFiles::HEX);
  ASSERT_EQ(file.GetElementCount(), 3);  // split at 0x08000800
  EXPECT_EQ(file.GetFileSize(), 0x204u);
  unsigned int start = 0;
  EXPECT_EQ(file.GetStartAddress(&start), CResult::SUCCESS);
  EXPECT_EQ(start, 0x08000700u);
  const unsigned long expect[][2] = {{0x08000700, 0x100}, {0x08000800, 0x100}, {0x08003000, 4}};
  unsigned int progress = 0;
  for (auto e : expect) {
    IMAGEELEMENT* el = file.GetElement();
    ASSERT_NE(el, nullptr);
    EXPECT_EQ(el->dwAddress, e[0]);
    EXPECT_EQ(el->dwDataLength, e[1]);
    EXPECT_EQ(file.GetFileStatus(), progress += unsigned(e[1]));
  }
  EXPECT_EQ(file.GetElement(), nullptr);
  EXPECT_EQ(file.GetElement(), nullptr);
  EXPECT_EQ(file.GetCurrentElementIndex(), 2);
  file.ResetElement();
  EXPECT_EQ(file.GetFileStatus(), 0u);
  EXPECT_EQ(file.GetElement()->dwAddress, 0x08000700u);
  file.Close();
  EXPECT_FALSE(file.HasOpen());
  EXPECT_EQ(file.GetElement(), nullptr);
  EXPECT_EQ(file.GetStartAddress(&start), CResult::FILES_NOTOPEN);
}

TEST(ProgramFile, OpenFailuresAndOptimise) {
  Chips chips;
  chips.writeImage("blank.srec", {{0x08000000, std::vector<uint8_t>(0x1000, 0xFF)}});
  chips.writeImage("outside.hex", {{0x08040000, {1, 2}}});  // past the 256 KB
  chips.dir.write("broken.hex", ":0400000001020304F1\n:00000001FF\n");
  CDevice bare;  // a chip whose sector file is missing
  const struct {
    std::string path;
    CDevice* device;
    bool optimize;
    int code, elements;
  } cases[] = {
      {chips.dir.file("blank.srec"), chips.s04, true, CResult::SUCCESS, 0},
      {chips.dir.file("blank.srec"), chips.s04, false, CResult::SUCCESS, 2},
      {chips.dir.file("outside.hex"), chips.s04, false, CResult::FILES_BADADDRESSRANGE, 0},
      {chips.dir.file("broken.hex"), chips.s04, false, CResult::FILES_BADFORMAT, 0},
      {chips.dir.file("missing.hex"), chips.s04, false, CResult::FILES_UNABLETOOPENFILE, 0},
      {chips.dir.file("notes.txt"), chips.s04, false, CResult::FILES_BADSUFFIX, 0},
      {chips.dir.file("blank.srec"), nullptr, false, CResult::UNKNOWN_ERROR, 0},
      {chips.dir.file("blank.srec"), &bare, false, CResult::UNKNOWN_ERROR, 0},
  };
  CProgramFile file;
  for (const auto& c : cases) {
    file.SetOptimizeForOpen(c.optimize);
    EXPECT_EQ(file.Open(c.path, c.device), c.code) << c.path;
    EXPECT_EQ(file.GetElementCount(), c.elements) << c.path;
  }
}

TEST(ProgramFile, CreateChosenSectorsWithTheExternalBank) {
  Chips chips;
  struct {
    CDevice* device;
    QList<int> sectors;
    std::vector<unsigned long> addresses;
  } cases[] = {
      {chips.s04, {0, 2, 0x8000}, {0x08000000, 0x08001000, 0x08400000}},
      {chips.big, {0x8001, 15}, {0x0800F000, 0x08401000}},  // the bank follows the 16 main sectors
  };
  for (auto& c : cases) {
    CProgramFile file;
    file.SetSectorIndexsForCreate(c.sectors, c.sectors.size());
    file.SetBank3SizeForCreate(8);
    ASSERT_EQ(file.Create(c.device), CResult::SUCCESS);
    for (IMAGEELEMENT* e = file.GetElement(); e; e = file.GetElement()) {
      e->Data[0] = 0x42;  // what the chip answered
      ASSERT_EQ(file.SetElement(), CResult::SUCCESS);
    }
    ASSERT_EQ(file.Save(chips.dir.file("up.srec")), CResult::SUCCESS);
    FILES_HIMAGE image = nullptr;
    ASSERT_EQ(FILES_ImageFromFile(chips.dir.file("up.srec").c_str(), &image, 1), libfiles::FILES_NOERROR);
    std::vector<Elem> saved = Elements(image);
    FILES_DestroyImage(&image);
    ASSERT_EQ(saved.size(), c.addresses.size());
    for (size_t i = 0; i < saved.size(); ++i) {
      EXPECT_EQ(saved[i].address, c.addresses[i]);
      EXPECT_EQ(saved[i].data[0], 0x42);
    }
  }
  // A sector the chip does not have is refused instead of left out; only
  // the first sectorNum entries count.
  const struct {
    QList<int> sectors;
    int number, code;
  } choices[] = {{{1, 128}, 2, CResult::FILES_BADPARAMETER}, {{0x8002}, 1, CResult::FILES_BADPARAMETER},
                 {{3, 128}, 1, CResult::SUCCESS}};
  for (auto& c : choices) {
    CProgramFile file;
    file.SetSectorIndexsForCreate(c.sectors, c.number);
    file.SetBank3SizeForCreate(8);  // two bank sectors
    EXPECT_EQ(file.Create(chips.s04), c.code);
  }
}

TEST(ProgramFile, CreateAllSectorsReplacesInPlace) {
  Chips chips;
  CProgramFile file;
  ASSERT_EQ(file.Create(chips.big), CResult::SUCCESS);
  ASSERT_EQ(file.GetElementCount(), 16);
  for (IMAGEELEMENT* e = file.GetElement(); e; e = file.GetElement()) {
    e->Data[1] = 0x00;
    ASSERT_EQ(file.SetElement(), CResult::SUCCESS);
  }
  ASSERT_EQ(file.Save(chips.dir.file("all.bin")), CResult::SUCCESS);
  const std::string bytes = chips.dir.read("all.bin");
  ASSERT_EQ(bytes.size(), 64u * 1024);
  EXPECT_EQ(uint8_t(bytes[0x1001]), 0x00);
  EXPECT_EQ(uint8_t(bytes[0x1002]), 0xFF);
}

TEST(UserSystemDataFile, CreateSaveOpen) {
  Chips chips;
  CUserSystemDataFile file, back;
  EXPECT_EQ(file.Create(nullptr), CResult::UNKNOWN_ERROR);
  ASSERT_EQ(file.Create(chips.s04), CResult::SUCCESS);
  IMAGEELEMENT* e = file.GetElement();
  ASSERT_TRUE(e && e->dwAddress == 0 && e->dwDataLength == 4096);
  e->Data[0] = 0xA5, e->Data[1] = 0x5A;
  ASSERT_EQ(file.SetElement(), CResult::SUCCESS);
  ASSERT_EQ(file.Save(chips.dir.file("opt.hex")), CResult::SUCCESS);
  ASSERT_EQ(back.Open(chips.dir.file("opt.hex"), nullptr), CResult::SUCCESS);
  ASSERT_EQ(back.GetElementCount(), 1);
  IMAGEELEMENT* b = back.GetElement();
  ASSERT_EQ(b->dwDataLength, 4096u);
  EXPECT_EQ(std::vector<uint8_t>(b->Data, b->Data + 3), (std::vector<uint8_t>{0xA5, 0x5A, 0xFF}));
  // An empty file opens without an element (the caller reports it).
  chips.dir.write("empty.bin", "");
  ASSERT_EQ(back.Open(chips.dir.file("empty.bin"), nullptr), CResult::SUCCESS);
  EXPECT_EQ(back.GetElementCount(), 0);
  EXPECT_EQ(back.GetPath(), chips.dir.file("empty.bin"));
}

}  // namespace
