// The library's exported calls: argument checks, and no exception ever
// leaves through them.
#include "Files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "FileIO.h"
#include "Elf.h"
#include "Filter.h"
#include "Image.h"
#include "IntelHex.h"
#include "LastError.h"
#include "MemoryMap.h"
#include "SRecord.h"

using namespace libfiles;

namespace {

const unsigned long kMaxMapBytes = 1024 * 1024;

// Words for a failure that said nothing more.
const char* codeText(unsigned int code) {
  switch (code) {
    case FILES_BADSUFFIX: return "the file name has no known kind (.bin, .hex, .s19, .srec, .elf)";
    case FILES_UNABLETOOPENFILE: return "cannot open the file";
    case FILES_UNABLETOOPENTEMPFILE: return "cannot make a temporary file";
    case FILES_BADFORMAT: return "the file's format is wrong";
    case FILES_BADADDRESSRANGE: return "data outside the address ranges it may have";
    case FILES_BADPARAMETER: return "bad parameter";
    case FILES_FILEGENERALERROR: return "the file could not be written";
    default: return "unexpected error";
  }
}

template <typename Fn>
unsigned int guarded(Fn fn) {
  clearError();
  unsigned int r;
  try {
    r = fn();
  } catch (...) {  // allocation failure or anything unforeseen
    r = FILES_UNEXPECTEDERROR;
  }
  if (r != FILES_NOERROR && r != 0 && lastError().empty()) setError(codeText(r));
  return r;
}

// Elements in address order; overlapping elements cannot be written.
unsigned int sortedForWriting(const FilesImage& image, std::vector<Chunk>& out) {
  out = image.elements;
  std::stable_sort(out.begin(), out.end(), [](const Chunk& a, const Chunk& b) { return a.address < b.address; });
  for (size_t i = 1; i < out.size(); ++i)
    if (out[i].address < out[i - 1].end()) return FILES_BADPARAMETER;
  return FILES_NOERROR;
}

unsigned int binaryText(const std::vector<Chunk>& elements, std::string& out) {
  out.clear();
  uint64_t first = UINT64_MAX, last = 0;
  for (const Chunk& c : elements) {
    if (c.data.empty()) continue;
    first = std::min<uint64_t>(first, c.address);
    last = std::max(last, c.end());
  }
  if (first == UINT64_MAX) return FILES_NOERROR;
  if (last - first > FILES_MAX_IMAGE_BYTES) return FILES_BADADDRESSRANGE;
  out.assign(size_t(last - first), '\xFF');  // gaps hold the erased value
  for (const Chunk& c : elements)
    if (!c.data.empty()) std::memcpy(&out[size_t(c.address - first)], c.data.data(), c.data.size());
  return FILES_NOERROR;
}

}  // namespace

FILES_KIND FILES_GetFileKind(const char* path) {
  if (!path) return FILES_KIND_UNKNOWN;
  std::string name(path);
  size_t slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
  static const struct {
    const char* suffix;
    FILES_KIND kind;
  } kinds[] = {{".bin", FILES_KIND_BIN}, {".hex", FILES_KIND_HEX}, {".s19", FILES_KIND_SREC}, {".srec", FILES_KIND_SREC},
                {".elf", FILES_KIND_ELF}};
  for (const auto& k : kinds)
    if (name.find(k.suffix) != std::string::npos) return k.kind;
  return FILES_KIND_UNKNOWN;
}

unsigned int FILES_GetMemoryMapping(const char* path, short* count, char* name, short* packetSize,
                                    MAPPING* mapping, unsigned char* sectorsPerSector) {
  return guarded([&]() -> unsigned int {
    if (!path) return FILES_BADPARAMETER;
    std::string text;
    unsigned int r = FileIO::readAll(path, text, kMaxMapBytes);
    if (r != FILES_NOERROR) return r;
    MemoryMap map;
    if ((r = map.parse(text)) != FILES_NOERROR) return r;
    if (mapping) {
      if (!count || !mapping->pSectors || *count < 0 || static_cast<unsigned long>(*count) < map.sectorCount)
        return FILES_BADPARAMETER;
      mapping->nAlternate = 0;
      std::snprintf(mapping->Name, sizeof mapping->Name, "%s", map.name.c_str());
      unsigned long index = 0;
      for (const SectorRun& run : map.runs) {
        for (uint32_t k = 0; k < run.count; ++k, ++index) {
          MAPPINGSECTOR& s = mapping->pSectors[index];
          std::memset(&s, 0, sizeof s);
          std::snprintf(s.Name, sizeof s.Name, "Sector %lu", index);
          s.dwStartAddress = run.address + uint64_t(k) * run.size;
          s.dwAliasedAddress = s.dwStartAddress;
          s.dwSectorIndex = index;
          s.dwSectorSize = run.size;
        }
      }
      mapping->NbSectors = map.sectorCount;
    }
    if (count) *count = short(map.sectorCount);
    if (packetSize) *packetSize = short(map.packetSize);
    if (sectorsPerSector) *sectorsPerSector = static_cast<unsigned char>(map.sectorsPerSector);
    if (name) std::snprintf(name, 128, "%s", map.name.c_str());
    return 0;
  });
}

unsigned int FILES_GetMapValue(const char* path, const char* section, const char* key, char* value,
                               unsigned long size, unsigned long* length) {
  return guarded([&]() -> unsigned int {
    if (!path || !section || !key || !length || (size && !value)) return FILES_BADPARAMETER;
    std::string text;
    unsigned int r = FileIO::readAll(path, text, kMaxMapBytes);
    if (r != FILES_NOERROR) return r;
    IniFile ini;
    if ((r = ini.parse(text)) != FILES_NOERROR) return r;
    std::string found;
    ini.value(section, key, found);
    *length = found.size();
    if (size) {
      const size_t n = std::min<size_t>(found.size(), size - 1);
      std::memcpy(value, found.data(), n);
      value[n] = '\0';
    }
    return FILES_NOERROR;
  });
}

unsigned int FILES_CreateImage(FILES_HIMAGE* image, int) {
  return guarded([&]() -> unsigned int {
    if (!image) return FILES_BADPARAMETER;
    *image = new FilesImage;
    return FILES_NOERROR;
  });
}

unsigned int FILES_CreateImageFromMapping(FILES_HIMAGE* image, const MAPPING* mapping, int bank3SizeKB) {
  return guarded([&]() -> unsigned int {
    if (!image) return FILES_BADPARAMETER;
    *image = nullptr;
    if (!mapping || (mapping->NbSectors && !mapping->pSectors) || mapping->NbSectors > FILES_MAX_SECTORS ||
        bank3SizeKB < 0 || uint64_t(bank3SizeKB) * 1024 > FILES_SPIM_MAX_SIZE)
      return FILES_BADPARAMETER;
    std::unique_ptr<FilesImage> made(new FilesImage);
    uint64_t total = 0;
    auto add = [&](uint64_t address, uint64_t size) {
      total += size;
      if (size == 0 || address + size > (uint64_t(1) << 32) || total > FILES_MAX_IMAGE_BYTES) return false;
      Chunk c;
      c.address = uint32_t(address);
      c.data.assign(size_t(size), 0xFF);
      made->elements.push_back(std::move(c));
      return true;
    };
    for (unsigned long i = 0; i < mapping->NbSectors; ++i)
      if (!add(uint32_t(mapping->pSectors[i].dwStartAddress), mapping->pSectors[i].dwSectorSize))
        return FILES_BADPARAMETER;
    const uint64_t bankSectors = uint64_t(bank3SizeKB) * 1024 / FILES_SPIM_SECTOR_SIZE;
    for (uint64_t k = 0; k < bankSectors; ++k)
      if (!add(FILES_SPIM_BASE + k * FILES_SPIM_SECTOR_SIZE, FILES_SPIM_SECTOR_SIZE)) return FILES_BADPARAMETER;
    *image = made.release();
    return FILES_NOERROR;
  });
}

unsigned int FILES_ImageFromFile(const char* path, FILES_HIMAGE* image, int flag) {
  return guarded([&]() -> unsigned int {
    if (!image) return FILES_BADPARAMETER;
    *image = nullptr;
    if (!path) return FILES_BADPARAMETER;
    const FILES_KIND kind = FILES_GetFileKind(path);
    if (kind == FILES_KIND_UNKNOWN) return FILES_BADSUFFIX;
    std::string text;
    unsigned int r =
        FileIO::readAll(path, text, kind == FILES_KIND_BIN ? FILES_MAX_IMAGE_BYTES : FILES_MAX_FILE_BYTES);
    if (r != FILES_NOERROR) return r;
    std::unique_ptr<FilesImage> made(new FilesImage);
    made->name = path;
    if (kind == FILES_KIND_BIN) {
      made->fromBinary = flag != 0;
      if (!text.empty()) {
        Chunk c;
        c.address = flag != 0 ? FILES_FLASH_BASE : 0;
        c.data.assign(text.begin(), text.end());
        made->elements.push_back(std::move(c));
      }
    } else {
      r = kind == FILES_KIND_HEX    ? IntelHex::read(text, made->elements)
          : kind == FILES_KIND_SREC ? SRecord::read(text, made->elements)
                                    : Elf::read(text, made->elements);
      if (r != FILES_NOERROR) return r;
    }
    *image = made.release();
    return FILES_NOERROR;
  });
}

unsigned int FILES_SetImageName(FILES_HIMAGE image, const char* path) {
  return guarded([&]() -> unsigned int {
    if (!image || !path) return FILES_BADPARAMETER;
    image->name = path;
    return FILES_NOERROR;
  });
}

unsigned int FILES_GetImageName(FILES_HIMAGE image, char* name, unsigned long size) {
  if (!image || !name || size == 0) return FILES_BADPARAMETER;
  std::snprintf(name, size, "%s", image->name.c_str());
  return FILES_NOERROR;
}

unsigned int FILES_FilterImageForOperation(FILES_HIMAGE image, const MAPPING* mapping, int, bool optimize) {
  return guarded([&]() -> unsigned int {
    if (!image || !mapping) return FILES_BADPARAMETER;
    return Filter::apply(*image, *mapping, optimize);
  });
}

unsigned int FILES_GetImageNbElement(FILES_HIMAGE image, unsigned long* count) {
  if (!image || !count) return FILES_BADPARAMETER;
  *count = image->elements.size();
  return FILES_NOERROR;
}

unsigned int FILES_GetImageElement(FILES_HIMAGE image, unsigned long index, IMAGEELEMENT* element) {
  if (!image || !element || index >= image->elements.size()) return FILES_BADPARAMETER;
  const Chunk& c = image->elements[index];
  if (element->Data) {
    if (element->dwDataLength < c.data.size()) return FILES_BADPARAMETER;
    if (!c.data.empty()) std::memcpy(element->Data, c.data.data(), c.data.size());
  }
  element->dwAddress = c.address;
  element->dwDataLength = c.data.size();
  return FILES_NOERROR;
}

unsigned int FILES_SetImageElement(FILES_HIMAGE image, unsigned long index, bool insert, const IMAGEELEMENT* element) {
  return guarded([&]() -> unsigned int {
    if (!image || !element) return FILES_BADPARAMETER;
    const unsigned long count = image->elements.size();
    if (index > count || (!insert && index == count)) return FILES_BADPARAMETER;
    if (element->dwDataLength > FILES_MAX_IMAGE_BYTES || (element->dwDataLength && !element->Data))
      return FILES_BADPARAMETER;
    if (uint64_t(element->dwAddress) + element->dwDataLength > (uint64_t(1) << 32)) return FILES_BADADDRESSRANGE;
    if (insert && count >= FILES_MAX_ELEMENTS) return FILES_SETELEMENTFULL;
    Chunk c;
    c.address = uint32_t(element->dwAddress);
    c.data.assign(element->Data, element->Data + element->dwDataLength);
    if (insert) image->elements.insert(image->elements.begin() + long(index), std::move(c));
    else image->elements[index] = std::move(c);
    return FILES_NOERROR;
  });
}

unsigned int FILES_ImageToFile(const char* path, FILES_HIMAGE image) {
  return guarded([&]() -> unsigned int {
    if (!path || !image) return FILES_BADPARAMETER;
    const FILES_KIND kind = FILES_GetFileKind(path);
    if (kind == FILES_KIND_UNKNOWN || kind == FILES_KIND_ELF) return FILES_BADSUFFIX;
    std::vector<Chunk> elements;
    unsigned int r = sortedForWriting(*image, elements);
    if (r != FILES_NOERROR) return r;
    std::string text;
    if (kind == FILES_KIND_BIN) r = binaryText(elements, text);
    else text = kind == FILES_KIND_HEX ? IntelHex::write(elements) : SRecord::write(elements);
    if (r != FILES_NOERROR) return r;
    return FileIO::writeAll(path, text);
  });
}

unsigned int FILES_DestroyImage(FILES_HIMAGE* image) {
  if (!image) return FILES_BADPARAMETER;
  delete *image;
  *image = nullptr;
  return FILES_NOERROR;
}

unsigned int FILES_GetLastErrorText(char* text, unsigned long size) {
  if (!text || size == 0) return FILES_BADPARAMETER;
  std::snprintf(text, size, "%s", lastError().c_str());
  return FILES_NOERROR;
}
