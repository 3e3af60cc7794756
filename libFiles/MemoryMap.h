// Device-map files: a small INI reader and the sector table built from it.
#ifndef LIBFILES_MEMORYMAP_H
#define LIBFILES_MEMORYMAP_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace libfiles {

class IniFile {
 public:
  // [Section] lines, key=value lines and comment lines, whose first
  // non-blank character is ';' or '#'. Nothing else is a comment: a value
  // runs to the end of its line (outer blanks trimmed, one pair of
  // surrounding double quotes removed), ';' and '#' inside it included.
  // Section and key names are case-sensitive; the first value of a key wins.
  // Any other line makes the whole text FILES_BADFORMAT.
  unsigned int parse(const std::string& text);
  // Value of section/key; false when absent.
  bool value(const std::string& section, const std::string& key, std::string& out) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> m_sections;
};

struct SectorRun {
  uint32_t address;
  uint32_t size;
  uint32_t count;
};

struct MemoryMap {
  std::string name;
  unsigned int packetSize = 0;
  unsigned int sectorsPerSector = 1;
  std::vector<SectorRun> runs;
  unsigned long sectorCount = 0;

  // Parses and checks a map file's text (see docs/device-map.md).
  unsigned int parse(const std::string& text);
};

// Strict number parsing: decimal, or hexadecimal with or without 0x.
bool parseNumber(const std::string& text, bool hex, uint64_t& out);

}  // namespace libfiles

#endif
