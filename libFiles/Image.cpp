#include "Image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Files.h"
#include "LastError.h"

namespace libfiles {

unsigned int ChunkCollector::add(uint64_t address, const uint8_t* bytes, size_t count) {
  if (count == 0) return FILES_NOERROR;
  // Asked as a difference: a 64-bit address near the top would wrap a sum.
  constexpr uint64_t kSpace = uint64_t(1) << 32;
  if (address > kSpace || uint64_t(count) > kSpace - address) {
    setError("data past the 4 GB address space");
    return FILES_BADFORMAT;
  }
  m_total += count;
  if (m_total > FILES_MAX_IMAGE_BYTES) {
    setError("more than " + std::to_string(FILES_MAX_IMAGE_BYTES >> 20) + " MB of data");
    return FILES_BADFORMAT;
  }
  // Records that continue the previous one (the usual case) grow it in place.
  if (!m_chunks.empty() && m_chunks.back().end() == address) {
    Chunk& last = m_chunks.back();
    last.data.insert(last.data.end(), bytes, bytes + count);
    return FILES_NOERROR;
  }
  if (m_chunks.size() >= FILES_MAX_ELEMENTS) {
    setError("more than " + std::to_string(FILES_MAX_ELEMENTS) + " separate runs of data");
    return FILES_BADFORMAT;
  }
  Chunk c;
  c.address = uint32_t(address);
  c.data.assign(bytes, bytes + count);
  m_chunks.push_back(std::move(c));
  return FILES_NOERROR;
}

unsigned int ChunkCollector::finish(std::vector<Chunk>& elements) {
  elements.clear();
  std::stable_sort(m_chunks.begin(), m_chunks.end(),
                   [](const Chunk& a, const Chunk& b) { return a.address < b.address; });
  for (Chunk& c : m_chunks) {
    if (!elements.empty() && c.address <= elements.back().end()) {
      Chunk& last = elements.back();
      uint64_t overlap = std::min<uint64_t>(last.end(), c.end()) - c.address;
      size_t at = size_t(c.address - last.address);
      if (overlap && std::memcmp(last.data.data() + at, c.data.data(), size_t(overlap)) != 0) {
        char where[80];
        std::snprintf(where, sizeof where, "data at 0x%08X is given twice, with different bytes", c.address);
        setError(where);
        elements.clear();
        m_chunks.clear();
        return FILES_BADFORMAT;
      }
      if (c.end() > last.end())
        last.data.insert(last.data.end(), c.data.begin() + size_t(overlap), c.data.end());
      continue;
    }
    elements.push_back(std::move(c));
  }
  m_chunks.clear();
  return FILES_NOERROR;
}

}  // namespace libfiles
