#include "IntelHex.h"

#include <algorithm>

#include "Files.h"
#include "LastError.h"
#include "Text.h"

namespace libfiles {

unsigned int IntelHex::read(const std::string& text, std::vector<Chunk>& elements) {
  elements.clear();
  clearError();
  ChunkCollector collector;
  uint64_t base = 0;
  bool ended = false;
  unsigned int result = FILES_NOERROR;
  std::vector<uint8_t> rec;
  forEachLine(text, [&](const char* p, size_t n, size_t line) {
    if (ended) return true;  // whatever follows the end record is not image data
    auto fail = [&](const std::string& what) {
      setLineError(line, what);
      result = FILES_BADFORMAT;
      return false;
    };
    if (p[0] != ':') return fail("a record starts with ':'");
    if (!decodeHex(p + 1, n - 1, rec)) return fail(hexDigitsProblem(n - 1));
    // ':' + length, address (2), type, checksum = 11 characters at least.
    if (n < 11) return fail("a record has at least 11 characters");
    if (rec.size() != size_t(rec[0]) + 5)
      return fail("the record's length byte says " + std::to_string(rec[0]) + " data bytes, the record has " +
                  std::to_string(rec.size() - 5));
    uint8_t sum = 0;
    for (uint8_t b : rec) sum = uint8_t(sum + b);
    if (sum != 0) return fail("checksum error (the record's bytes add up to " + hexByte(sum) + ", not 00)");
    const uint8_t len = rec[0];
    const uint32_t offset = uint32_t(rec[1]) << 8 | rec[2];
    const uint8_t* data = rec.data() + 4;
    switch (rec[3]) {
      case 0x00:
        if (collector.add(base + offset, data, len) != FILES_NOERROR) return fail(lastError());
        return true;
      case 0x01:
        if (len != 0) return fail("an end record (type 01) carries no data");
        ended = true;
        return true;
      case 0x02:
        if (len != 2) return fail("a segment address record (type 02) has 2 data bytes");
        base = uint64_t(uint32_t(data[0]) << 8 | data[1]) << 4;
        return true;
      case 0x04:
        if (len != 2) return fail("a linear address record (type 04) has 2 data bytes");
        base = uint64_t(uint32_t(data[0]) << 8 | data[1]) << 16;
        return true;
      case 0x03:
      case 0x05:
        if (len != 4) return fail("a start address record (type " + hexByte(rec[3]) + ") has 4 data bytes");
        return true;
      default:
        return fail("unknown record type " + hexByte(rec[3]));
    }
  });
  if (result == FILES_NOERROR && !ended) {
    setError("no end record (type 01): the file is cut short");
    result = FILES_BADFORMAT;
  }
  if (result != FILES_NOERROR) return result;
  return collector.finish(elements);
}

static void record(std::string& out, uint8_t type, uint16_t offset, const uint8_t* data, uint8_t len) {
  out.push_back(':');
  uint8_t sum = uint8_t(len + (offset >> 8) + (offset & 0xFF) + type);
  appendHexByte(out, len);
  appendHexByte(out, uint8_t(offset >> 8));
  appendHexByte(out, uint8_t(offset));
  appendHexByte(out, type);
  for (uint8_t i = 0; i < len; ++i) {
    appendHexByte(out, data[i]);
    sum = uint8_t(sum + data[i]);
  }
  appendHexByte(out, uint8_t(-sum));
  out.push_back('\n');
}

std::string IntelHex::write(const std::vector<Chunk>& elements) {
  std::string out;
  int64_t upper = -1;  // upper 16 address bits last announced
  for (const Chunk& c : elements) {
    uint64_t addr = c.address;
    size_t pos = 0;
    while (pos < c.data.size()) {
      if (int64_t(addr >> 16) != upper) {
        upper = int64_t(addr >> 16);
        const uint8_t ext[2] = {uint8_t(upper >> 8), uint8_t(upper)};
        record(out, 0x04, 0, ext, 2);
      }
      // 16 bytes a record, never across a 64 KB boundary.
      size_t room = size_t(0x10000 - (addr & 0xFFFF));
      size_t n = std::min<size_t>({16, c.data.size() - pos, room});
      record(out, 0x00, uint16_t(addr & 0xFFFF), c.data.data() + pos, uint8_t(n));
      pos += n;
      addr += n;
    }
  }
  record(out, 0x01, 0, nullptr, 0);
  return out;
}

}  // namespace libfiles
