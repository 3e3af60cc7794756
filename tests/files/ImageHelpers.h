// Small helpers for tests of the image-file library.
#ifndef KVTEST_IMAGEHELPERS_H
#define KVTEST_IMAGEHELPERS_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Files.h"

struct Elem {
  unsigned long address;
  std::vector<uint8_t> data;
  bool operator==(const Elem& o) const { return address == o.address && data == o.data; }
};

// Every element of an image, through the two-call protocol of the library.
inline std::vector<Elem> Elements(FILES_HIMAGE image) {
  std::vector<Elem> out;
  unsigned long n = 0;
  if (FILES_GetImageNbElement(image, &n) != libfiles::FILES_NOERROR) return out;
  for (unsigned long i = 0; i < n; ++i) {
    IMAGEELEMENT e{0, 0, nullptr};
    if (FILES_GetImageElement(image, i, &e) != libfiles::FILES_NOERROR) break;
    Elem x{e.dwAddress, std::vector<uint8_t>(e.dwDataLength)};
    e.Data = x.data.data();
    if (FILES_GetImageElement(image, i, &e) != libfiles::FILES_NOERROR) break;
    out.push_back(std::move(x));
  }
  return out;
}

inline FILES_HIMAGE MakeImage(const std::vector<Elem>& elems) {
  FILES_HIMAGE image = nullptr;
  FILES_CreateImage(&image, 1);
  unsigned long i = 0;
  for (const Elem& e : elems) {
    IMAGEELEMENT ie{e.address, e.data.size(), const_cast<uint8_t*>(e.data.data())};
    FILES_SetImageElement(image, i++, true, &ie);
  }
  return image;
}

inline std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    v[i] = uint8_t(seed >> 16);
  }
  return v;
}

// A mapping of count sectors of size bytes from 0x08000000.
struct TestMapping {
  std::vector<MAPPINGSECTOR> sectors;
  MAPPING mapping{};
  TestMapping(unsigned count, unsigned size) : sectors(count) {
    for (unsigned i = 0; i < count; ++i) {
      sectors[i] = MAPPINGSECTOR{};
      sectors[i].dwStartAddress = 0x08000000u + i * size;
      sectors[i].dwSectorSize = size;
      sectors[i].dwSectorIndex = i;
    }
    mapping.NbSectors = count;
    mapping.pSectors = sectors.data();
  }
};

#endif
