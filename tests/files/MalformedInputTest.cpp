// Files that are broken in every way we could think of: refused whole, no
// partial image, no crash, bounded memory.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

#include "ImageHelpers.h"
#include "TempMapDir.h"

using namespace libfiles;

namespace {

std::string Hex2(unsigned v) {
  char b[3];
  std::snprintf(b, sizeof b, "%02X", v & 0xFF);
  return b;
}

// One Intel HEX record with a correct checksum.
std::string HexRec(unsigned type, unsigned offset, const std::vector<uint8_t>& data) {
  unsigned sum = unsigned(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
  std::string s = ":" + Hex2(unsigned(data.size())) + Hex2(offset >> 8) + Hex2(offset) + Hex2(type);
  for (uint8_t b : data) s += Hex2(b), sum += b;
  return s + Hex2(0x100 - (sum & 0xFF)) + "\n";
}

// One S-record with a correct checksum; addressBytes from the type.
std::string SRec(int type, unsigned address, const std::vector<uint8_t>& data) {
  const int ab = type == 2 || type == 6 || type == 8 ? 3 : type == 3 || type == 7 ? 4 : 2;
  unsigned count = unsigned(ab + data.size() + 1), sum = count;
  std::string s = "S" + std::to_string(type) + Hex2(count);
  for (int i = ab - 1; i >= 0; --i) s += Hex2(address >> (8 * i)), sum += (address >> (8 * i)) & 0xFF;
  for (uint8_t b : data) s += Hex2(b), sum += b;
  return s + Hex2(~sum) + "\n";
}

const std::string kEnd = ":00000001FF\n";
const std::string kExt = HexRec(4, 0, {0x08, 0x00});

struct Bad {
  const char* what;
  std::string text;
  std::string error;  // what the library's last error text says
};

// Reads the file, which must be refused whole, with its error text.
void ExpectRefused(const std::string& path, const std::string& error) {
  FILES_HIMAGE image = reinterpret_cast<FILES_HIMAGE>(&image);  // must be cleared
  EXPECT_EQ(FILES_ImageFromFile(path.c_str(), &image, 1), FILES_BADFORMAT);
  EXPECT_EQ(image, nullptr);
  char text[256] = "unchanged";
  ASSERT_EQ(FILES_GetLastErrorText(text, sizeof text), FILES_NOERROR);
  EXPECT_EQ(std::string(text), error);
}

TEST(MalformedHex, EveryDefectIsRefusedWithoutAnImage) {
  TempMapDir dir;
  const std::string good = kExt + HexRec(0, 0, {1, 2, 3, 4});
  std::string badSum = good + kEnd;
  badSum[badSum.size() - 14] ^= 1;  // one bit of the last data record's checksum
  const std::string cut = "no end record (type 01): the file is cut short";
  const Bad cases[] = {
      {"empty file", "", cut},
      {"no end record (cut short)", good, cut},
      {"cut inside a record", good + ":0400000001",
       "line 3: the record's length byte says 4 data bytes, the record has 0"},
      {"bad checksum", kExt + ":0400000001020304F1\n" + kEnd,
       "line 2: checksum error (the record's bytes add up to FF, not 00)"},
      {"checksum bit flip", badSum, "line 2: checksum error (the record's bytes add up to 01, not 00)"},
      {"non-hex character", kExt + ":04000000010G0304F2\n" + kEnd, "line 2: a character that is no hexadecimal digit"},
      {"longer than its length byte", kExt + ":0300000001020304F3\n" + kEnd,
       "line 2: the record's length byte says 3 data bytes, the record has 4"},
      {"shorter than its length byte", kExt + ":05000000010203040F\n" + kEnd,
       "line 2: the record's length byte says 5 data bytes, the record has 4"},
      {"odd number of digits", kExt + ":0400000001020304F20\n" + kEnd, "line 2: an odd number of hexadecimal digits"},
      {"no colon", "0400000001020304F2\n" + kEnd, "line 1: a record starts with ':'"},
      {"only a colon", ":\n" + kEnd, "line 1: a record has at least 11 characters"},
      {"unknown record type", HexRec(6, 0, {}) + kEnd, "line 1: unknown record type 06"},
      {"extended address of wrong length", HexRec(4, 0, {8}) + kEnd,
       "line 1: a linear address record (type 04) has 2 data bytes"},
      {"segment address of wrong length", HexRec(2, 0, {8, 0, 0}) + kEnd,
       "line 1: a segment address record (type 02) has 2 data bytes"},
      {"start address of wrong length", HexRec(5, 0, {8, 0}) + kEnd,
       "line 1: a start address record (type 05) has 4 data bytes"},
      {"end record with data", HexRec(1, 0, {0}), "line 1: an end record (type 01) carries no data"},
      {"overlap with other values", kExt + HexRec(0, 0, {1, 2, 3, 4}) + HexRec(0, 2, {3, 9}) + kEnd,
       "data at 0x08000002 is given twice, with different bytes"},
      {"wraps past 4 GB", HexRec(4, 0, {0xFF, 0xFF}) + HexRec(0, 0xFFF8, std::vector<uint8_t>(16, 1)) + kEnd,
       "line 2: data past the 4 GB address space"},
      {"garbage", std::string("\x7f" "ELF\x01\x01\x01\0\0\0", 10), "line 1: a record starts with ':'"},
      {"blank lines count", "\n\n" + kExt + "\n:0400000001020304F1\n" + kEnd,
       "line 5: checksum error (the record's bytes add up to FF, not 00)"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("bad.hex", c.text);
    ExpectRefused(dir.file("bad.hex"), c.error);
  }
}

TEST(MalformedHex, TolerableVariationsAreRead) {
  TempMapDir dir;
  const struct {
    const char* what;
    std::string text;
    std::vector<Elem> elems;
  } cases[] = {
      {"lower case and CRLF", ":020000040800f2\r\n:0400000001020304f2\r\n:00000001ff\r\n",
       {{0x08000000, {1, 2, 3, 4}}}},
      {"overlap with equal values", kExt + HexRec(0, 0, {1, 2, 3}) + HexRec(0, 1, {2, 3, 4}) + kEnd,
       {{0x08000000, {1, 2, 3, 4}}}},
      {"records out of order", kExt + HexRec(0, 4, {5}) + HexRec(0, 0, {1, 2, 3, 4}) + kEnd,
       {{0x08000000, {1, 2, 3, 4, 5}}}},
      {"segment addressing and start records",
       HexRec(2, 0, {0x10, 0x00}) + HexRec(3, 0, {0, 0, 0, 0}) + HexRec(0, 0x10, {7}) + HexRec(5, 0, {8, 0, 0, 0}) + kEnd,
       {{0x10010, {7}}}},
      {"text after the end record", kExt + HexRec(0, 0, {1}) + kEnd + "trailing words\n", {{0x08000000, {1}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("ok.hex", c.text);
    FILES_HIMAGE image = nullptr;
    ASSERT_EQ(FILES_ImageFromFile(dir.file("ok.hex").c_str(), &image, 1), FILES_NOERROR);
    EXPECT_EQ(Elements(image), c.elems);
    FILES_DestroyImage(&image);
  }
}

TEST(MalformedSRecord, EveryDefectIsRefusedWithoutAnImage) {
  TempMapDir dir;
  const std::string head = SRec(0, 0, {'H'});
  const std::string data = SRec(3, 0x08000000, {1, 2, 3, 4});
  const std::string end = SRec(7, 0, {});
  const std::string cut = "no end record (S7, S8 or S9): the file is cut short";
  const Bad cases[] = {
      {"empty file", "", cut},
      {"no end record (cut short)", head + data, cut},
      {"count record not last (cut short)", head + data + SRec(5, 1, {}) + SRec(3, 0x08000004, {5}), cut},
      {"bad checksum", head + "S30908000000010203042F\n" + end,
       "line 2: checksum error (the record's bytes give E4, the record says 2F)"},
      {"non-hex character", head + "S3090800000001020Z04DE\n" + end, "line 2: a character that is no hexadecimal digit"},
      {"longer than its count", head + "S3080800000001020304DE\n" + end,
       "line 2: the record's count byte says 8 bytes, the record has 9"},
      {"shorter than its count", head + "S30A0800000001020304DE\n" + end,
       "line 2: the record's count byte says 10 bytes, the record has 9"},
      {"count below the address size", "S3030000FC\n" + end, "line 1: the record is too short for its address"},
      {"S4 does not exist", SRec(4, 0, {1}) + end, "line 1: unknown record type S4"},
      {"not an S line", "X30908000000010203045E\n" + end, "line 1: a record starts with S and a type digit"},
      {"record count wrong", head + data + SRec(5, 2, {}) + end,
       "line 3: the record count says 2 data records, the file has 1"},
      {"end record with data", head + data + SRec(7, 0, {1}), "line 3: an end record carries no data"},
      {"overlap with other values", head + data + SRec(3, 0x08000003, {9}) + end,
       "data at 0x08000003 is given twice, with different bytes"},
      {"wraps past 4 GB", SRec(3, 0xFFFFFFFE, {1, 2, 3}) + end, "line 1: data past the 4 GB address space"},
      {"type letter only", "S\n" + end, "line 1: a record starts with S and a type digit"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("bad.srec", c.text);
    ExpectRefused(dir.file("bad.srec"), c.error);
  }
  // The same records, whole, are fine; a matching count may close a file.
  for (const std::string& text : {head + data + SRec(5, 1, {}) + end, head + data + SRec(5, 1, {})}) {
    dir.write("ok.s19", text);
    FILES_HIMAGE image = nullptr;
    ASSERT_EQ(FILES_ImageFromFile(dir.file("ok.s19").c_str(), &image, 1), FILES_NOERROR);
    EXPECT_EQ(Elements(image), (std::vector<Elem>{{0x08000000, {1, 2, 3, 4}}}));
    FILES_DestroyImage(&image);
  }
}

// n zero bytes with the given ones set: the fields of an ELF header.
std::string Fields(size_t n, std::initializer_list<std::pair<size_t, uint8_t>> bytes) {
  std::string out(n, '\0');
  for (const auto& b : bytes) out[b.first] = char(b.second);
  return out;
}

TEST(MalformedElf, EveryDefectIsRefusedWithoutAnImage) {
  TempMapDir dir;
  const std::string magic32("\x7F" "ELF\x01\x01\x01", 7), magic64("\x7F" "ELF\x02\x01\x01", 7);
  // A 32-bit little-endian header with one program header at 52 (e_phoff,
  // e_phentsize, e_phnum), and a segment at 0x08000000 of 16 bytes of
  // which the file holds 4 (p_type, p_offset, p_paddr, p_filesz).
  const std::string header = magic32 + Fields(45, {{28 - 7, 52}, {42 - 7, 32}, {44 - 7, 1}});
  const std::string segment = Fields(32, {{0, 1}, {4, 84}, {15, 0x08}, {16, 16}});
  // A 64-bit one whose segment of 32 bytes starts 16 bytes below 2^64: its
  // end wraps.
  const std::string wide = magic64 + Fields(57, {{32 - 7, 64}, {54 - 7, 56}, {56 - 7, 1}});
  const std::string high = Fields(56, {{0, 1}, {8, 120}, {24, 0xF0}, {25, 0xFF}, {26, 0xFF}, {27, 0xFF},
                                       {28, 0xFF}, {29, 0xFF}, {30, 0xFF}, {31, 0xFF}, {32, 32}});
  const Bad cases[] = {
      {"no ELF magic", "hello, world", "not an ELF file"},
      {"segment wraps past 2^64", wide + high + std::string(32, 'x'),
       "segment 0: data past the 4 GB address space"},
      {"unknown class", std::string("\x7F" "ELF\x03\x01\x01", 7) + std::string(45, '\0'),
       "not an ELF file of 32 or 64 bits in a known byte order"},
      {"header cut short", header.substr(0, 40), "the ELF header is cut short"},
      {"program headers past the end", header, "the program headers lie past the end of the file"},
      {"segment past the end", header + segment + "abcd", "segment 0 lies past the end of the file"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.what);
    dir.write("bad.elf", c.text);
    ExpectRefused(dir.file("bad.elf"), c.error);
  }
}

TEST(MalformedPaths, FileLevelFailuresHaveTheirOwnCodes) {
  TempMapDir dir;
  dir.write("notes.txt", "hello");
  ASSERT_EQ(mkdir(dir.file("folder.hex").c_str(), 0755), 0);
  // Huge files are refused from their size, without reading them.
  for (const char* name : {"huge.hex", "huge.bin"}) {
    int fd = open(dir.file(name).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t(FILES_MAX_FILE_BYTES) + 1), 0);
    close(fd);
  }
  const struct {
    std::string path;
    unsigned int code;
  } cases[] = {
      {dir.file("missing.hex"), FILES_UNABLETOOPENFILE},
      {dir.file("folder.hex"), FILES_UNABLETOOPENFILE},
      {dir.file("notes.txt"), FILES_BADSUFFIX},
      {dir.file("huge.hex"), FILES_BADFORMAT},
      {dir.file("huge.bin"), FILES_BADFORMAT},
  };
  for (const auto& c : cases) {
    FILES_HIMAGE image = nullptr;
    EXPECT_EQ(FILES_ImageFromFile(c.path.c_str(), &image, 1), c.code) << c.path;
    EXPECT_EQ(image, nullptr);
  }
  FILES_HIMAGE image = MakeImage({{0x08000000, {1}}});
  EXPECT_EQ(FILES_ImageToFile(dir.file("no/such/folder/x.hex").c_str(), image), FILES_UNABLETOOPENTEMPFILE);
  FILES_DestroyImage(&image);
}

}  // namespace
