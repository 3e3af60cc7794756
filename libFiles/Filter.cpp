#include "Filter.h"

#include <algorithm>
#include <cstddef>

namespace libfiles {

namespace {
struct Window {
  uint64_t start, size;
};
}  // namespace

unsigned int Filter::apply(FilesImage& image, const MAPPING& mapping, bool optimize) {
  if (mapping.NbSectors > 0 && !mapping.pSectors) return FILES_BADPARAMETER;
  if (mapping.NbSectors > FILES_MAX_SECTORS) return FILES_BADPARAMETER;
  std::vector<Window> sectors;
  for (unsigned long i = 0; i < mapping.NbSectors; ++i) {
    const MAPPINGSECTOR& s = mapping.pSectors[i];
    if (s.dwSectorSize == 0) return FILES_BADPARAMETER;
    sectors.push_back({uint64_t(uint32_t(s.dwStartAddress)), uint64_t(s.dwSectorSize)});
  }
  std::sort(sectors.begin(), sectors.end(), [](const Window& a, const Window& b) { return a.start < b.start; });

  // Where does the piece starting at pos end? 0 when no window takes pos.
  auto pieceEnd = [&](uint64_t pos) -> uint64_t {
    auto it = std::upper_bound(sectors.begin(), sectors.end(), pos,
                               [](uint64_t p, const Window& w) { return p < w.start; });
    if (it != sectors.begin() && pos < std::prev(it)->start + std::prev(it)->size)
      return std::prev(it)->start + std::prev(it)->size;
    const uint64_t spimEnd = uint64_t(FILES_SPIM_BASE) + FILES_SPIM_MAX_SIZE;
    if (pos >= FILES_SPIM_BASE && pos < spimEnd)
      return std::min<uint64_t>(spimEnd, (pos / FILES_SPIM_SECTOR_SIZE + 1) * FILES_SPIM_SECTOR_SIZE);
    if (image.fromBinary && pos >= FILES_FLASH_BASE && pos < uint64_t(FILES_FLASH_BASE) + FILES_SPIM_MAX_SIZE) {
      uint64_t end = (pos / FILES_SPIM_SECTOR_SIZE + 1) * FILES_SPIM_SECTOR_SIZE;
      // Never run into a sector of the map that starts inside this piece.
      auto nextSector = std::upper_bound(sectors.begin(), sectors.end(), pos,
                                         [](uint64_t p, const Window& w) { return p < w.start; });
      if (nextSector != sectors.end()) end = std::min(end, nextSector->start);
      return end;
    }
    return 0;
  };

  std::vector<Chunk> out;
  for (const Chunk& c : image.elements) {
    uint64_t pos = c.address;
    while (pos < c.end()) {
      uint64_t end = pieceEnd(pos);
      if (end == 0) return FILES_BADADDRESSRANGE;
      end = std::min(end, c.end());
      auto first = c.data.begin() + std::ptrdiff_t(pos - c.address);
      auto last = c.data.begin() + std::ptrdiff_t(end - c.address);
      if (!(optimize && std::all_of(first, last, [](uint8_t b) { return b == 0xFF; }))) {
        if (out.size() >= FILES_MAX_ELEMENTS) return FILES_SETELEMENTFULL;
        Chunk piece;
        piece.address = uint32_t(pos);
        piece.data.assign(first, last);
        out.push_back(std::move(piece));
      }
      pos = end;
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const Chunk& a, const Chunk& b) { return a.address < b.address; });
  image.elements.swap(out);
  return FILES_NOERROR;
}

}  // namespace libfiles
