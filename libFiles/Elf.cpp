#include "Elf.h"

#include <cstdint>

#include "Files.h"
#include "LastError.h"

namespace libfiles {
namespace {

constexpr uint32_t kLoad = 1;     // PT_LOAD
constexpr uint32_t kNoBits = 8;   // SHT_NOBITS
constexpr uint64_t kAlloc = 2;    // SHF_ALLOC
constexpr unsigned kMaxHeaders = 65535;

// Fields of the file, read with its byte order; every read is bounded.
class Reader {
 public:
  Reader(const std::string& bytes, bool bigEndian) : m_bytes(bytes), m_big(bigEndian) {}
  bool has(uint64_t offset, uint64_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
  }
  uint64_t get(uint64_t offset, unsigned width) const {
    uint64_t v = 0;
    for (unsigned k = 0; k < width; ++k) {
      const uint8_t b = uint8_t(m_bytes[size_t(offset + (m_big ? k : width - 1 - k))]);
      v = v << 8 | b;
    }
    return v;
  }
  const uint8_t* at(uint64_t offset) const { return reinterpret_cast<const uint8_t*>(m_bytes.data()) + offset; }

 private:
  const std::string& m_bytes;
  bool m_big;
};

unsigned int fail(const std::string& what) {
  setError(what);
  return FILES_BADFORMAT;
}

}  // namespace

unsigned int Elf::read(const std::string& bytes, std::vector<Chunk>& elements) {
  elements.clear();
  clearError();
  if (bytes.size() < 16 || bytes.compare(0, 4, "\x7F" "ELF") != 0) return fail("not an ELF file");
  const int cls = bytes[4], order = bytes[5];
  if ((cls != 1 && cls != 2) || (order != 1 && order != 2) || bytes[6] != 1)
    return fail("not an ELF file of 32 or 64 bits in a known byte order");
  const bool wide = cls == 2;
  const Reader r(bytes, order == 2);
  const unsigned word = wide ? 8 : 4;
  const uint64_t headerSize = wide ? 64 : 52;
  if (!r.has(0, headerSize)) return fail("the ELF header is cut short");
  const uint64_t phoff = r.get(wide ? 32 : 28, word), shoff = r.get(wide ? 40 : 32, word);
  const unsigned phentsize = unsigned(r.get(wide ? 54 : 42, 2)), phnum = unsigned(r.get(wide ? 56 : 44, 2));
  const unsigned shentsize = unsigned(r.get(wide ? 58 : 46, 2));
  uint64_t shnum = r.get(wide ? 60 : 48, 2);

  ChunkCollector collector;
  auto add = [&](uint64_t address, uint64_t offset, uint64_t size, const char* what, unsigned index) {
    if (!r.has(offset, size)) {
      setError(std::string(what) + " " + std::to_string(index) + " lies past the end of the file");
      return FILES_BADFORMAT;
    }
    const unsigned int a = collector.add(address, r.at(offset), size_t(size));
    if (a != FILES_NOERROR) setError(std::string(what) + " " + std::to_string(index) + ": " + lastError());
    return a;
  };

  if (phnum > 0) {
    if (phentsize < (wide ? 56u : 32u) || !r.has(phoff, uint64_t(phentsize) * phnum))
      return fail("the program headers lie past the end of the file");
    for (unsigned k = 0; k < phnum; ++k) {
      const uint64_t p = phoff + uint64_t(k) * phentsize;
      if (r.get(p, 4) != kLoad) continue;
      const uint64_t offset = r.get(p + (wide ? 8 : 4), word), paddr = r.get(p + (wide ? 24 : 12), word);
      const uint64_t filesz = r.get(p + (wide ? 32 : 16), word);
      if (filesz == 0) continue;
      const unsigned int a = add(paddr, offset, filesz, "segment", k);
      if (a != FILES_NOERROR) return a;
    }
  } else if (shoff != 0) {
    const unsigned minimum = wide ? 64 : 40;
    if (shentsize < minimum || !r.has(shoff, minimum)) return fail("the section headers lie past the end of the file");
    // More sections than the header can count: the first one holds it.
    if (shnum == 0) shnum = r.get(shoff + (wide ? 32 : 20), word);
    if (shnum > kMaxHeaders || !r.has(shoff, uint64_t(shentsize) * shnum))
      return fail("the section headers lie past the end of the file");
    for (unsigned k = 1; k < shnum; ++k) {
      const uint64_t s = shoff + uint64_t(k) * shentsize;
      const uint64_t type = r.get(s + 4, 4), flags = r.get(s + 8, word);
      const uint64_t addr = r.get(s + (wide ? 16 : 12), word), offset = r.get(s + (wide ? 24 : 16), word);
      const uint64_t size = r.get(s + (wide ? 32 : 20), word);
      if (!(flags & kAlloc) || type == kNoBits || size == 0) continue;
      const unsigned int a = add(addr, offset, size, "section", k);
      if (a != FILES_NOERROR) return a;
    }
  }
  return collector.finish(elements);
}

}  // namespace libfiles
