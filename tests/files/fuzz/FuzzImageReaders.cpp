// Intel HEX and S-record readers: whatever they accept is ordered,
// separate elements within 4 GB, and writing it out and reading it back
// gives the very same elements. The ELF reader: whatever it accepts is
// ordered, separate elements within 4 GB.
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzEntries.h"
#include "Files.h"
#include "Elf.h"
#include "IntelHex.h"
#include "SRecord.h"

using namespace libfiles;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckElements(const std::vector<Chunk>& elements) {
  for (size_t i = 0; i < elements.size(); ++i) {
    Check(!elements[i].data.empty());
    Check(elements[i].end() <= (uint64_t(1) << 32));
    if (i) Check(elements[i - 1].end() < elements[i].address);  // sorted, with a gap
  }
}

template <typename Format>
int FuzzFormat(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<Chunk> elements;
  if (Format::read(text, elements) != FILES_NOERROR) {
    Check(elements.empty());  // no partial image
    return 0;
  }
  CheckElements(elements);
  std::vector<Chunk> again;
  Check(Format::read(Format::write(elements), again) == FILES_NOERROR);
  Check(again.size() == elements.size());
  for (size_t i = 0; i < again.size(); ++i)
    Check(again[i].address == elements[i].address && again[i].data == elements[i].data);
  return 0;
}

}  // namespace

int FuzzIntelHex(const uint8_t* data, size_t size) { return FuzzFormat<IntelHex>(data, size); }
int FuzzSRecord(const uint8_t* data, size_t size) { return FuzzFormat<SRecord>(data, size); }

int FuzzElf(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<Chunk> elements;
  if (Elf::read(bytes, elements) != FILES_NOERROR) {
    Check(elements.empty());
    return 0;
  }
  CheckElements(elements);
  return 0;
}
