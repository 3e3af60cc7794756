#include "SRecord.h"

#include <algorithm>

#include "Files.h"
#include "LastError.h"
#include "Text.h"

namespace libfiles {

// Address bytes of each record type, 0 where the type does not exist.
static const int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

unsigned int SRecord::read(const std::string& text, std::vector<Chunk>& elements) {
  elements.clear();
  clearError();
  ChunkCollector collector;
  uint64_t dataRecords = 0;
  bool ended = false;
  bool counted = false;  // the last record so far is a matching count record
  unsigned int result = FILES_NOERROR;
  std::vector<uint8_t> rec;
  forEachLine(text, [&](const char* p, size_t n, size_t line) {
    if (ended) return true;
    auto fail = [&](const std::string& what) {
      setLineError(line, what);
      result = FILES_BADFORMAT;
      return false;
    };
    if (n < 4 || p[0] != 'S' || p[1] < '0' || p[1] > '9') return fail("a record starts with S and a type digit");
    if (!decodeHex(p + 2, n - 2, rec)) return fail(hexDigitsProblem(n - 2));
    if (rec.size() != size_t(rec[0]) + 1)
      return fail("the record's count byte says " + std::to_string(rec[0]) + " bytes, the record has " +
                  std::to_string(rec.size() - 1));
    const int type = p[1] - '0';
    const int abytes = kAddressBytes[type];
    if (abytes == 0) return fail("unknown record type S" + std::string(1, p[1]));
    // count covers address, data and checksum.
    if (rec[0] < abytes + 1) return fail("the record is too short for its address");
    uint8_t sum = 0;
    for (size_t i = 0; i + 1 < rec.size(); ++i) sum = uint8_t(sum + rec[i]);
    if (uint8_t(~sum) != rec.back())
      return fail("checksum error (the record's bytes give " + hexByte(uint8_t(~sum)) + ", the record says " +
                  hexByte(rec.back()) + ")");
    uint64_t address = 0;
    for (int i = 0; i < abytes; ++i) address = address << 8 | rec[1 + i];
    const uint8_t* data = rec.data() + 1 + abytes;
    const size_t len = rec.size() - 2 - abytes;
    switch (type) {
      case 0:
        return true;
      case 1:
      case 2:
      case 3:
        ++dataRecords;
        counted = false;
        if (collector.add(address, data, len) != FILES_NOERROR) return fail(lastError());
        return true;
      case 5:
      case 6:
        // The count names the data records so far (modulo its width).
        if (len != 0 || address != (dataRecords & (type == 5 ? 0xFFFF : 0xFFFFFF)))
          return fail("the record count says " + std::to_string(address) + " data records, the file has " +
                      std::to_string(dataRecords));
        counted = true;
        return true;
      default:  // 7, 8, 9
        if (len != 0) return fail("an end record carries no data");
        ended = true;
        return true;
    }
  });
  // A file must end in an end record or, as some tools write them, in a
  // record count that matches; anything else was cut short.
  if (result == FILES_NOERROR && !ended && !counted) {
    setError("no end record (S7, S8 or S9): the file is cut short");
    result = FILES_BADFORMAT;
  }
  if (result != FILES_NOERROR) return result;
  return collector.finish(elements);
}

static void record(std::string& out, int type, uint32_t address, const uint8_t* data, size_t len) {
  const int abytes = kAddressBytes[type];
  const uint8_t count = uint8_t(abytes + len + 1);
  out.push_back('S');
  out.push_back(char('0' + type));
  appendHexByte(out, count);
  uint8_t sum = count;
  for (int i = abytes - 1; i >= 0; --i) {
    uint8_t b = uint8_t(address >> (8 * i));
    appendHexByte(out, b);
    sum = uint8_t(sum + b);
  }
  for (size_t i = 0; i < len; ++i) {
    appendHexByte(out, data[i]);
    sum = uint8_t(sum + data[i]);
  }
  appendHexByte(out, uint8_t(~sum));
  out.push_back('\n');
}

std::string SRecord::write(const std::vector<Chunk>& elements) {
  uint64_t top = 0;
  for (const Chunk& c : elements)
    if (!c.data.empty()) top = std::max<uint64_t>(top, c.end() - 1);
  const int dataType = top <= 0xFFFF ? 1 : top <= 0xFFFFFF ? 2 : 3;
  std::string out;
  static const uint8_t header[] = {'H', 'D', 'R'};
  record(out, 0, 0, header, sizeof header);
  uint64_t records = 0;
  for (const Chunk& c : elements) {
    for (size_t pos = 0; pos < c.data.size(); pos += 16) {
      record(out, dataType, uint32_t(c.address + pos), c.data.data() + pos, std::min<size_t>(16, c.data.size() - pos));
      ++records;
    }
  }
  if (records <= 0xFFFF) record(out, 5, uint32_t(records), nullptr, 0);
  else if (records <= 0xFFFFFF) record(out, 6, uint32_t(records), nullptr, 0);
  record(out, 10 - dataType, 0, nullptr, 0);
  return out;
}

}  // namespace libfiles
