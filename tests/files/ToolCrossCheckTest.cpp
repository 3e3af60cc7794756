// Our readers and writers against the packaged tools: what objcopy and
// srec_cat write we read identically, what we write they read back
// identically.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ImageHelpers.h"
#include "TempMapDir.h"

using namespace libfiles;

namespace {

bool HaveTool(const char* tool) {
  std::string cmd = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

int Shell(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()); }

std::vector<Elem> Read(const std::string& path) {
  FILES_HIMAGE image = nullptr;
  EXPECT_EQ(FILES_ImageFromFile(path.c_str(), &image, 1), FILES_NOERROR) << path;
  std::vector<Elem> e = image ? Elements(image) : std::vector<Elem>{};
  FILES_DestroyImage(&image);
  return e;
}

TEST(Tools, FilesWrittenByObjcopyAndSrecCatReadIdentically) {
  if (!HaveTool("objcopy") || !HaveTool("srec_cat")) GTEST_SKIP() << "objcopy or srec_cat not installed";
  TempMapDir dir;
  const std::vector<uint8_t> a = Pattern(70000, 21), b = Pattern(77, 32);  // a: more than 64 KB
  dir.write("a.bin", std::string(a.begin(), a.end()));
  dir.write("b.bin", std::string(b.begin(), b.end()));
  const std::vector<Elem> one = {{0x08000000, a}}, sparse = {{0x08000000, a}, {0x08012345 + 0x10000, b}};
  const std::string objcopy = "objcopy -I binary --change-addresses 0x08000000 " + dir.file("a.bin") + " ";
  const std::string cat = "srec_cat " + dir.file("b.bin") + " -binary -offset 0x08022345 " + dir.file("a.bin") +
                          " -binary -offset 0x08000000 -o ";
  const struct {
    std::string command, file;
    const std::vector<Elem>& expect;
  } cases[] = {
      {objcopy + "-O ihex " + dir.file("o.hex"), "o.hex", one},
      {objcopy + "-O srec " + dir.file("o.srec"), "o.srec", one},
      {objcopy + "-O srec --srec-forceS3 " + dir.file("o3.s19"), "o3.s19", one},
      {cat + dir.file("s.hex") + " -intel", "s.hex", sparse},
      {cat + dir.file("s.srec") + " -motorola", "s.srec", sparse},
      {cat + dir.file("s2.s19") + " -motorola -address-length=3", "s2.s19", sparse},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(Shell(c.command), 0);
    EXPECT_EQ(Read(dir.file(c.file)), c.expect);
  }
}

// ELF images as objcopy and ld write them: sections of object files
// (32 and 64 bits, either byte order) and the segments of a linked program
// whose data is loaded from flash, compared with objcopy's flat binary.
TEST(Tools, ElfImagesReadAsObjcopyPlacesThem) {
  if (!HaveTool("objcopy") || !HaveTool("ld")) GTEST_SKIP() << "binutils not installed";
  TempMapDir dir;
  const std::vector<uint8_t> a = Pattern(3000, 51), b = Pattern(1500, 52);
  dir.write("a.bin", std::string(a.begin(), a.end()));
  dir.write("b.bin", std::string(b.begin(), b.end()));
  dir.write("link.ld",
            "PHDRS { text PT_LOAD; data PT_LOAD; }\nSECTIONS {\n  . = 0x08000400;\n"
            "  .text : { a.o(.text) } :text\n  .data 0x20000000 : AT(0x08001800) { b.o(.rodata2) } :data\n"
            "  .bss (NOLOAD) : { . += 0x100; } :data\n}\n");
  const std::string cd = "cd '" + dir.file("") + "' && ";
  const std::string object = "objcopy -I binary --change-section-address .data=0x08000800 "
                             "--set-section-flags .data=alloc,load,contents a.bin ";
  const std::vector<Elem> sections = {{0x08000800, a}}, linked = {{0x08000400, a}, {0x08001800, b}};
  const struct {
    std::string command, file;
    const std::vector<Elem>& expect;
  } cases[] = {
      {object + "-O elf32-i386 o32.elf", "o32.elf", sections},
      {object + "-O elf64-x86-64 o64.elf", "o64.elf", sections},
      {object + "-O elf32-big be.elf", "be.elf", sections},
      {"objcopy -I binary -O elf32-i386 --rename-section .data=.text,alloc,load,contents a.bin a.o && "
       "objcopy -I binary -O elf32-i386 --rename-section .data=.rodata2,alloc,load,contents b.bin b.o && "
       "ld -m elf_i386 -T link.ld -o app.elf a.o b.o",
       "app.elf", linked},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    ASSERT_EQ(Shell(cd + c.command), 0);
    EXPECT_EQ(Read(dir.file(c.file)), c.expect);
  }
  ASSERT_EQ(Shell(cd + "objcopy -O binary --gap-fill 0xFF app.elf flat.bin"), 0);
  const std::string flat = dir.read("flat.bin");
  std::vector<uint8_t> expect(0x1800 - 0x400 + b.size(), 0xFF);
  std::copy(a.begin(), a.end(), expect.begin());
  std::copy(b.begin(), b.end(), expect.begin() + (0x1800 - 0x400));
  EXPECT_EQ(std::vector<uint8_t>(flat.begin(), flat.end()), expect);
  // Read only: an image is never written as ELF.
  FILES_HIMAGE image = MakeImage(linked);
  EXPECT_EQ(FILES_ImageToFile(dir.file("out.elf").c_str(), image), FILES_BADSUFFIX);
  FILES_DestroyImage(&image);
}

TEST(Tools, WhatWeWriteTheToolsReadBack) {
  if (!HaveTool("srec_cat") || !HaveTool("objcopy")) GTEST_SKIP() << "objcopy or srec_cat not installed";
  TempMapDir dir;
  const std::vector<Elem> image = {{0x08000000, Pattern(0x12345, 41)}, {0x08020010, Pattern(33, 42)}};
  for (const char* name : {"ours.hex", "ours.srec"}) {
    SCOPED_TRACE(name);
    FILES_HIMAGE h = MakeImage(image);
    ASSERT_EQ(FILES_ImageToFile(dir.file(name).c_str(), h), FILES_NOERROR);
    FILES_DestroyImage(&h);
    // srec_cat checks every checksum and re-emits the data in the other
    // format; we read that back.
    const bool hex = std::string(name).find(".hex") != std::string::npos;
    const std::string back = hex ? "back.srec" : "back.hex";
    ASSERT_EQ(Shell("srec_cat " + dir.file(name) + (hex ? " -intel" : " -motorola") + " -o " + dir.file(back) +
                  (hex ? " -motorola -address-length=4" : " -intel")),
              0);
    EXPECT_EQ(Read(dir.file(back)), image);
    // objcopy flattens to bytes from the lowest address, gaps as 0xFF.
    ASSERT_EQ(Shell(std::string("objcopy ") + (hex ? "-I ihex" : "-I srec") + " -O binary --gap-fill 0xFF " +
                  dir.file(name) + " " + dir.file("flat.bin")),
              0);
    const std::string flat = dir.read("flat.bin");
    std::vector<uint8_t> expect(0x20010 + 33, 0xFF);
    std::copy(image[0].data.begin(), image[0].data.end(), expect.begin());
    std::copy(image[1].data.begin(), image[1].data.end(), expect.begin() + 0x20010);
    EXPECT_EQ(std::vector<uint8_t>(flat.begin(), flat.end()), expect);
  }
}

}  // namespace
